#pragma once

#include <sys/types.h>

#include <chrono>
#include <string>
#include <vector>

#include "child_process.h"

// rtframe as a child process of the test (see Child_Process), ready when its
// info segment says ready_to_start.
class Rtframe_Child {
public:
    explicit Rtframe_Child(const std::vector<std::string>& arguments, const std::string& log_path = "/tmp/rtframe.log");

    pid_t pid() const { return m_child.pid(); }
    // The log with the colour escapes removed.
    std::string log() const { return m_child.log(); }
    // Waits until the log holds text (count times); false on time-out.
    [[nodiscard]] bool wait_for_log(const std::string& text, std::chrono::milliseconds timeout, int count = 1) const
    {
        return m_child.wait_for_log(text, timeout, count);
    }
    // Waits until the info segment says ready_to_start; false when the child
    // ends first or on time-out.
    [[nodiscard]] bool wait_until_ready(std::chrono::milliseconds timeout = std::chrono::seconds(20)) const;
    // The same, but throws (with the log) when the child is not ready.
    void wait_ready_ex(std::chrono::milliseconds timeout = std::chrono::seconds(30)) const;
    // Waits for the child to end by itself; its exit status (128 + the signal
    // when a signal ended it), or -1 on time-out.
    [[nodiscard]] int wait_exit(std::chrono::milliseconds timeout = std::chrono::seconds(20))
    {
        return m_child.wait_exit(timeout);
    }
    // SIGTERM, then the exit status as wait_exit gives it; -1 when the child
    // was already reaped or did not end in time.
    [[nodiscard]] int stop(std::chrono::milliseconds timeout = std::chrono::seconds(20))
    {
        return m_child.stop(timeout);
    }

private:
    Child_Process m_child;
};

// The path of the rtframe program under test.
const char* rtframe_binary();

// rtframe -o -s -c <descriptor>: the server in master-offline mode.
std::vector<std::string> offline_server_arguments(const std::string& descriptor_path);

// ERR lines of a log, but for failures to open the logging queue: every
// queue counts against one per-user budget (RLIMIT_MSGQUEUE, about seven
// queues of 1000 messages), shared by all tests that run at the same time,
// and rtframe retries them every second.
int error_lines(const std::string& log);
