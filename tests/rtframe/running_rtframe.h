#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "descriptor_templates.h"
#include "thin_client.h"

// rtframe -o -s running on a descriptor template installed in /tmp/cell;
// ready (segments built, ready_to_start raised) when the test body starts.
// TearDown stops it with SIGTERM and expects a clean exit.
class Running_Rtframe : public testing::Test {
protected:
    static constexpr const char* DIR = "/tmp/cell";

    void start(const std::string& descriptor_template, const std::vector<std::string>& extra_arguments = {})
    {
        descriptor = install_descriptor(descriptor_template, DIR);
        std::vector<std::string> arguments = offline_server_arguments(descriptor);
        arguments.insert(arguments.end(), extra_arguments.begin(), extra_arguments.end());
        rtframe = std::make_unique<Rtframe_Child>(arguments);
        ASSERT_TRUE(rtframe->wait_until_ready()) << rtframe->log();
    }

    void TearDown() override
    {
        if (!rtframe)
            return;
        EXPECT_EQ(rtframe->stop(), 0) << rtframe->log();
        EXPECT_EQ(error_lines(rtframe->log()), expected_errors) << rtframe->log();
    }

    std::string descriptor;
    std::unique_ptr<Rtframe_Child> rtframe;
    int expected_errors = 0;
};
