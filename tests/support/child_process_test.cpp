// The child-process fixture with each kind of readiness probe, against small
// programs of the system's shell and Python.
#include "child_process.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <string>

using namespace std::chrono_literals;

namespace {
const std::string LOG = "/tmp/child_process_test.log";

Child_Process shell(const std::string& script)
{
    return Child_Process("/bin/sh", {"-c", script}, LOG);
}
}  // namespace

TEST(Child_Process, LogLineProbeAndExitStatus)
{
    Child_Process child("/bin/sh", {"-c", "printf '\\033[32mready\\033[0m\\n'; echo oops >&2; exit 3"}, LOG);
    EXPECT_EQ(child.wait_ready(probe::log_line(child, "ready"), 5s), Child_Process::Readiness::READY);
    EXPECT_EQ(child.wait_exit(5s), 3);
    EXPECT_TRUE(child.wait_for_log("oops", 1s));
    EXPECT_EQ(child.log(), "ready\noops\n");  // colour escapes removed, both streams
    EXPECT_EQ(child.wait_exit(1s), -1);       // reaped already
}

TEST(Child_Process, AChildThatEndsFirstIsNotReady)
{
    Child_Process child("/bin/sh", {"-c", "echo started; exit 1"}, LOG);
    EXPECT_EQ(child.wait_ready(probe::log_line(child, "never said"), 5s), Child_Process::Readiness::ENDED);
    const std::string text = [&] {
        try {
            child.wait_ready_ex(probe::log_line(child, "never said"), 5s);
        } catch (const std::runtime_error& e) {
            return std::string(e.what());
        }
        return std::string("<nothing thrown>");
    }();
    EXPECT_EQ(text, "/bin/sh ended before it was ready:\nstarted\n");
    EXPECT_EQ(child.wait_exit(5s), 1);
}

TEST(Child_Process, StopSendsTheSignalAndGivesItsStatus)
{
    Child_Process child("/bin/sh", {"-c", "trap 'exit 7' TERM; echo waiting; while :; do sleep 0.01; done"}, LOG);
    ASSERT_TRUE(child.wait_for_log("waiting", 5s));
    EXPECT_EQ(child.wait_ready(probe::log_line(child, "never"), 50ms), Child_Process::Readiness::TIMED_OUT);
    EXPECT_EQ(child.stop(5s), 7);
    Child_Process killed("/bin/sh", {"-c", "echo up; exec sleep 30"}, LOG);
    ASSERT_TRUE(killed.wait_for_log("up", 5s));
    EXPECT_EQ(killed.stop(5s, SIGKILL), 128 + SIGKILL);
}

// The port probes see a bound UDP socket and a listening TCP socket of this
// network namespace, and not before they exist.
TEST(Child_Process, PortProbes)
{
    const char* script =
        "import socket, sys, time\n"
        "sys.stdin.readline()\n"
        "u = socket.socket(socket.AF_INET, socket.SOCK_DGRAM); u.bind(('127.0.0.1', 47123))\n"
        "t = socket.socket(socket.AF_INET, socket.SOCK_STREAM); t.bind(('127.0.0.1', 47124)); t.listen(1)\n"
        "time.sleep(30)\n";
    int input[2];
    ASSERT_EQ(pipe(input), 0);
    const int saved = dup(STDIN_FILENO);
    dup2(input[0], STDIN_FILENO);
    Child_Process child("/usr/bin/python3", {"-c", script}, LOG);
    dup2(saved, STDIN_FILENO);
    close(saved);
    close(input[0]);
    EXPECT_FALSE(probe::udp_port(47123)());
    EXPECT_FALSE(probe::tcp_port(47124)());
    ASSERT_EQ(write(input[1], "go\n", 3), 3);
    EXPECT_EQ(child.wait_ready(probe::udp_port(47123), 10s), Child_Process::Readiness::READY) << child.log();
    EXPECT_EQ(child.wait_ready(probe::tcp_port(47124), 10s), Child_Process::Readiness::READY) << child.log();
    EXPECT_FALSE(probe::tcp_port(47123)());  // the UDP port does not listen for TCP
    close(input[1]);
    EXPECT_EQ(child.stop(5s), 128 + SIGTERM);
}

TEST(Child_Process, SegmentFlagProbe)
{
    const std::string name = "/child_process_test_flag";
    auto flag_is = [](uint8_t value) {
        return [value](const void* bytes) { return static_cast<const uint8_t*>(bytes)[3] == value; };
    };
    EXPECT_FALSE(probe::segment(name, 4, flag_is(0))());  // no segment
    Child_Process child = shell("printf '\\000\\000\\000\\001' > /dev/shm" + name + "; echo written; exec sleep 30");
    ASSERT_TRUE(child.wait_for_log("written", 5s));
    EXPECT_EQ(child.wait_ready(probe::segment(name, 4, flag_is(1)), 5s), Child_Process::Readiness::READY);
    EXPECT_FALSE(probe::segment(name, 4, flag_is(0))());
    EXPECT_FALSE(probe::segment(name, 8, flag_is(1))());  // too small for what is asked
    EXPECT_EQ(child.stop(5s), 128 + SIGTERM);
    shm_unlink(name.c_str());
}
