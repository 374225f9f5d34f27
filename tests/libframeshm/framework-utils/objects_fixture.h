#pragma once

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "framework_view.h"
#include "objects_descriptor.h"
#include "rtframe_child.h"
#include "test_helpers.h"
#include "xelo_framework_shm_manager.h"

// Each case runs its own rtframe -o on the objects descriptor, with one
// application ("objects", number 100) attached, and checks that the server
// ends cleanly. Objects made in a case body go before the manager.
class Objects_Test : public testing::Test {
protected:
    void SetUp() override
    {
        m_server = std::make_unique<Rtframe_Child>(offline_server_arguments(write_objects_descriptor()));
        m_server->wait_ready_ex();
        view = std::make_unique<Framework_View>();
        view->wait_ticking_ex();
        manager = attach("objects");
    }

    void TearDown() override
    {
        manager.reset();
        view.reset();
        const int status = m_server->stop();
        EXPECT_EQ(status, 0) << "rtframe exit status " << status << "\n" << m_server->log();
    }

    static std::unique_ptr<Framework_Shared_Memory_Manager> attach(const std::string& name)
    {
        auto attached = std::make_unique<Framework_Shared_Memory_Manager>();
        attached->init_with_h_compatibility_check_ex(name, XELO_FRAMEWORK_SHM_MANAGER_VERSION_MAJOR,
                                                     XELO_FRAMEWORK_SHM_MANAGER_VERSION_MINOR);
        return attached;
    }

    // One period of an application: the manager's refresh, then its objects'.
    template <typename... Objects>
    static void cycle(Framework_Shared_Memory_Manager& frmk, Objects&... objects)
    {
        ASSERT_GE(frmk.refresh_data_ex(nullptr), 0);
        (objects.refresh_ex(), ...);
    }

    // Cycles until arrived() holds; a written virtual output shows on its
    // input a few periods after the writer's refresh.
    template <typename Arrived, typename... Objects>
    static void cycle_until(Arrived arrived, Framework_Shared_Memory_Manager& frmk, Objects&... objects)
    {
        for (int i = 0; i < 200 && !arrived(); ++i) {
            cycle(frmk, objects...);
            if (HasFatalFailure())
                return;
        }
        ASSERT_TRUE(arrived());
    }

    uint8_t output_byte(const std::string& label, int at = 0)
    {
        return view->output_image()[view->output_record(label)->byte_offs + at];
    }
    int owner(const std::string& label) { return view->output_record(label)->application_number_take_rw; }

    std::unique_ptr<Framework_View> view;
    std::unique_ptr<Framework_Shared_Memory_Manager> manager;

private:
    std::unique_ptr<Rtframe_Child> m_server;
};

// The texts of the log lines in captured standard output (what follows the
// level's "] ").
inline std::vector<std::string> log_texts(const std::string& captured)
{
    const std::string end_of_level = "\033[0m] ";
    std::vector<std::string> texts;
    std::istringstream lines(captured);
    for (std::string line; std::getline(lines, line);) {
        const std::size_t at = line.find(end_of_level);
        if (at != std::string::npos)
            texts.push_back(line.substr(at + end_of_level.size()));
    }
    return texts;
}
