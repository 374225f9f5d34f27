#include <gtest/gtest.h>
#include <pthread.h>
#include <signal.h>

#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdint>
#include <fstream>
#include <string>

#include "framework_thread.h"
#include "memory_lock.h"
#include "stop_flag.h"

namespace {
// Restores the calling thread's signal mask and leaves no stop signal pending.
class Stop_Signal_Mask : public testing::Test {
protected:
    void SetUp() override { block_stop_signals(&m_previous); }
    void TearDown() override
    {
        while (wait_for_stop_signal(0) != 0) {
        }
        pthread_sigmask(SIG_SETMASK, &m_previous, nullptr);
    }

private:
    sigset_t m_previous;
};

// What a thread made with default attributes gets.
size_t default_stack_size()
{
    pthread_attr_t attr;
    size_t size = 0;
    pthread_attr_init(&attr);
    pthread_attr_getstacksize(&attr, &size);
    pthread_attr_destroy(&attr);
    return size;
}

// What a body saw of its own thread.
struct Seen {
    char name[32] = {};
    size_t stack_size = 0;
    bool stop_signals_blocked = false;
};

void* look_at_own_thread(void* raw)
{
    auto* seen = static_cast<Seen*>(raw);
    pthread_getname_np(pthread_self(), seen->name, sizeof(seen->name));
    pthread_attr_t attributes;
    pthread_getattr_np(pthread_self(), &attributes);
    pthread_attr_getstacksize(&attributes, &seen->stack_size);
    pthread_attr_destroy(&attributes);
    sigset_t mask;
    pthread_sigmask(SIG_SETMASK, nullptr, &mask);
    seen->stop_signals_blocked = sigismember(&mask, SIGINT) == 1 && sigismember(&mask, SIGTERM) == 1;
    return nullptr;
}

void* raise_sigint_at_main(void* main_thread)
{
    pthread_kill(*static_cast<pthread_t*>(main_thread), SIGINT);
    return nullptr;
}
}  // namespace

TEST_F(Stop_Signal_Mask, WaitEndsOnTimeOutOrWithTheSignalTaken)
{
    EXPECT_EQ(wait_for_stop_signal(0), 0);
    EXPECT_EQ(wait_for_stop_signal(20), 0);

    pthread_kill(pthread_self(), SIGTERM);
    EXPECT_EQ(wait_for_stop_signal(0), SIGTERM);
    EXPECT_EQ(wait_for_stop_signal(0), 0) << "a taken signal is no longer pending";

    Stop_Flag stop;
    Framework_Thread sender(stop);
    pthread_t self = pthread_self();
    sender.start_ex(raise_sigint_at_main, &self, "stop_sender");
    EXPECT_EQ(wait_for_stop_signal(-1), SIGINT);
    sender.join_ex();
}

TEST(Framework_Thread_Start, ThreadIsNamedSizedAndStartsWithStopSignalsBlocked)
{
    const struct {
        const char* name;
        size_t stack_size;
        const char* kept_name;
    } cases[] = {
        {"axmngr_cmd_th", 0, "axmngr_cmd_th"},
        {"xelo_sdo_manager", 0x78000, "xelo_sdo_manage"},  // the kernel keeps 15 characters
    };
    for (const auto& c : cases) {
        Seen seen;
        Stop_Flag stop;
        Framework_Thread thread(stop);
        thread.start_ex(look_at_own_thread, &seen, c.name, c.stack_size);
        EXPECT_TRUE(thread.is_started());
        thread.join_ex();
        EXPECT_FALSE(thread.is_started());
        EXPECT_STREQ(seen.name, c.kept_name);
        if (c.stack_size != 0) {
            // The asked size, not the default one (a sanitizer's runtime may
            // add room of its own).
            EXPECT_GE(seen.stack_size, c.stack_size) << c.name;
            EXPECT_LT(seen.stack_size, default_stack_size()) << c.name;
        }
        EXPECT_TRUE(seen.stop_signals_blocked) << c.name;
    }
    sigset_t mask;
    pthread_sigmask(SIG_SETMASK, nullptr, &mask);
    EXPECT_EQ(sigismember(&mask, SIGTERM), 0) << "the creator's mask is left as it was";
}

TEST(Framework_Thread_Start, DestructorWakesTheBodyThroughItsStopFlag)
{
    struct Watch {
        Stop_Flag stop;
        bool woken = false;
    } watch;
    {
        Framework_Thread thread(watch.stop);
        thread.start_ex(
            [](void* raw) -> void* {
                auto* w = static_cast<Watch*>(raw);
                w->woken = w->stop.sleep_for(30000);
                return nullptr;
            },
            &watch, "stop_watcher");
    }
    EXPECT_TRUE(watch.woken);
}

TEST(Fifo_Priority, RefusalIsReturnedAsTheErrorNumber)
{
    EXPECT_EQ(set_fifo_priority(1000), EINVAL);
}

namespace {
// Bytes of memory the process holds locked (VmLck).
uint64_t locked_bytes()
{
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmLck:", 0) == 0)
            return std::stoull(line.substr(6)) * 1024;
    return 0;
}

// Bytes of the executable mappings of the test program's own file.
uint64_t own_code_bytes()
{
    char exe[PATH_MAX] = {};
    if (readlink("/proc/self/exe", exe, sizeof(exe) - 1) <= 0)
        return 0;
    uint64_t bytes = 0;
    for (const Code_Mapping& code : code_mappings())
        if (code.path == exe)
            bytes += code.end - code.start;
    return bytes;
}
}  // namespace

// The program's code stays in memory in every build, the sanitizer builds
// (whose mlockall does nothing) included.
TEST(Memory_Lock, TheProgramsCodeIsLocked)
{
    const uint64_t code = own_code_bytes();
    ASSERT_GT(code, 0u);
    ASSERT_EQ(lock_process_memory(), 0) << errno;
    EXPECT_GE(locked_bytes(), code);
}
