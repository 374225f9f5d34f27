#pragma once

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <memory>

#include "framework_view.h"
#include "rtframe_child.h"
#include "test_descriptor.h"
#include "xelo_framework_shm_manager.h"

// Each case runs its own rtframe -o (in its own namespaces) on the test
// descriptor, and checks that the server ends cleanly.
class Rtframe_Test : public testing::Test {
protected:
    virtual Test_Descriptor descriptor() const { return Test_Descriptor(); }

    void SetUp() override
    {
        m_server = std::make_unique<Rtframe_Child>(offline_server_arguments(descriptor().write()));
        m_server->wait_ready_ex();
        view = std::make_unique<Framework_View>();
        view->wait_ticking_ex();
    }

    void TearDown() override
    {
        view.reset();
        const int status = m_server->stop();
        EXPECT_EQ(status, 0) << "rtframe exit status " << status << "\n" << m_server->log();
    }

    // A manager attached under the given name.
    static std::unique_ptr<Framework_Shared_Memory_Manager> attach(const std::string& name)
    {
        auto manager = std::make_unique<Framework_Shared_Memory_Manager>();
        manager->init_with_h_compatibility_check_ex(name, XELO_FRAMEWORK_SHM_MANAGER_VERSION_MAJOR,
                                                    XELO_FRAMEWORK_SHM_MANAGER_VERSION_MINOR);
        return manager;
    }

    std::string server_log() const { return m_server->log(); }

    // Stops the server (SIGTERM, exit status 0) and starts a new run on the
    // same descriptor.
    void restart_server()
    {
        view.reset();
        const int status = m_server->stop();
        ASSERT_EQ(status, 0) << "rtframe exit status " << status << "\n" << m_server->log();
        m_server = std::make_unique<Rtframe_Child>(offline_server_arguments(descriptor().write()));
        m_server->wait_ready_ex();
        view = std::make_unique<Framework_View>();
        view->wait_ticking_ex();
    }

    std::unique_ptr<Framework_View> view;

private:
    std::unique_ptr<Rtframe_Child> m_server;
};
