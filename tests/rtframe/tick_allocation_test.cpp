#include <gtest/gtest.h>

#include <dirent.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <string>

#include "allocation_hooks.h"
#include "descriptor_templates.h"
#include "in_process_framework.h"
#include "thin_client.h"

namespace {
pid_t thread_named(const std::string& name)
{
    DIR* dir = opendir("/proc/self/task");
    pid_t found = 0;
    while (dirent* entry = readdir(dir)) {
        std::string comm;
        std::ifstream(std::string("/proc/self/task/") + entry->d_name + "/comm") >> comm;
        if (comm == name)
            found = static_cast<pid_t>(std::atoi(entry->d_name));
    }
    closedir(dir);
    return found;
}

// The tick loop, with a client woken every tick and the refresh logging on
// (a queue message per post), allocates nothing.
TEST(Rtframe_In_Process, TheTickLoopDoesNotAllocate)
{
    const std::string descriptor = install_descriptor("basic.xml", "/tmp/cell");
    In_Process_Framework framework(descriptor);
    ASSERT_TRUE(Thin_Client::wait_until_ready(std::chrono::seconds(20)));
    Thin_Client client;
    client.take_slot("every_tick");
    client.set_output<uint8_t>("enable_refresh_logging", 1);
    for (int i = 0; i < 5; ++i)
        ASSERT_TRUE(client.wait_wakeup(std::chrono::seconds(5)));
    const pid_t realtime = thread_named("fm_realtimetask");
    ASSERT_NE(realtime, 0);
    watch_thread(realtime);
    for (int i = 0; i < 300; ++i)
        ASSERT_TRUE(client.wait_wakeup(std::chrono::seconds(1)));
    stop_watching_thread();
    EXPECT_EQ(watched_thread_allocations(), 0);
}
}  // namespace
