#include <gtest/gtest.h>

#include <dirent.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <fstream>
#include <new>
#include <string>

#include "in_process_framework.h"
#include "rtframe_child.h"
#include "thin_client.h"

// Counts the allocations made by one watched thread of this process. The
// replaced operators take their memory from malloc, which the sanitizer's
// own operators would otherwise report as mismatched on release.
extern "C" const char* __asan_default_options()
{
    return "alloc_dealloc_mismatch=0";
}

namespace {
std::atomic<pid_t> watched_thread{0};
std::atomic<long> watched_allocations{0};
}  // namespace

void* operator new(std::size_t size)
{
    const pid_t watched = watched_thread.load(std::memory_order_relaxed);
    if (watched != 0 && gettid() == watched)
        watched_allocations.fetch_add(1, std::memory_order_relaxed);
    if (void* memory = std::malloc(size != 0 ? size : 1))
        return memory;
    throw std::bad_alloc();
}

void* operator new[](std::size_t size)
{
    return operator new(size);
}

void operator delete(void* memory) noexcept
{
    std::free(memory);
}

void operator delete[](void* memory) noexcept
{
    std::free(memory);
}

void operator delete[](void* memory, std::size_t) noexcept
{
    std::free(memory);
}

void operator delete(void* memory, std::size_t) noexcept
{
    std::free(memory);
}

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
    watched_allocations = 0;
    watched_thread = realtime;
    for (int i = 0; i < 300; ++i)
        ASSERT_TRUE(client.wait_wakeup(std::chrono::seconds(1)));
    watched_thread = 0;
    EXPECT_EQ(watched_allocations.load(), 0);
}
}  // namespace
