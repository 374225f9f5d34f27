#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "channel_descriptor.h"
#include "framework_cmd_channel.h"
#include "group_test.h"
#include "objects_fixture.h"

// Each case runs its own rtframe -o on the channel descriptor, with one
// application ("channels") attached and its input image refreshed once (the
// protocol codes are inputs), and checks that the server ends cleanly.
// Channel objects made in a case body go before the manager.
class Channel_Test : public testing::Test {
protected:
    void SetUp() override
    {
        m_server = std::make_unique<Rtframe_Child>(offline_server_arguments(write_channel_descriptor()));
        m_server->wait_ready_ex();
        m_view = std::make_unique<Framework_View>();
        m_view->wait_ticking_ex();
        manager = attach_application("channels");
        ASSERT_GE(manager->refresh_data_ex(nullptr), 0);
    }

    void TearDown() override
    {
        manager.reset();
        m_view.reset();
        const int status = m_server->stop();
        EXPECT_EQ(status, 0) << "rtframe exit status " << status << "\n" << m_server->log();
    }

    // A channel side bound to the given manager.
    template <typename Side>
    static std::unique_ptr<Side> bound(const std::string& channel, Framework_Shared_Memory_Manager* frmk)
    {
        auto side = std::make_unique<Side>(channel);
        side->setup_ex(frmk);
        return side;
    }

    std::unique_ptr<Framework_Shared_Memory_Manager> manager;

private:
    std::unique_ptr<Rtframe_Child> m_server;
    std::unique_ptr<Framework_View> m_view;
};
