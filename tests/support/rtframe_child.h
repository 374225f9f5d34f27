#pragma once

#include <sys/types.h>

#include <chrono>
#include <string>
#include <vector>

// rtframe started as a child process of the test with the given arguments,
// its standard output and error in a log file that the test can search while
// it runs. The child gets SIGTERM when the test process ends, also when that
// one crashes: a server left behind keeps its logging queue, which counts
// against the per-user queue memory of every later run.
class Rtframe_Child {
public:
    explicit Rtframe_Child(const std::vector<std::string>& arguments, const std::string& log_path = "/tmp/rtframe.log");
    ~Rtframe_Child();  // kills a child still running
    Rtframe_Child(const Rtframe_Child&) = delete;
    Rtframe_Child& operator=(const Rtframe_Child&) = delete;

    pid_t pid() const { return m_pid; }
    // The log with the colour escapes removed.
    std::string log() const;
    // Waits until the log holds text (count times); false on time-out.
    bool wait_for_log(const std::string& text, std::chrono::milliseconds timeout, int count = 1) const;
    // Waits until the info segment says ready_to_start; false when the child
    // ends first or on time-out.
    bool wait_until_ready(std::chrono::milliseconds timeout = std::chrono::seconds(20)) const;
    // The same, but throws (with the log) when the child is not ready.
    void wait_ready_ex(std::chrono::milliseconds timeout = std::chrono::seconds(30)) const;
    // Waits for the child to end by itself; its exit status (128 + the signal
    // when a signal ended it), or -1 on time-out.
    int wait_exit(std::chrono::milliseconds timeout = std::chrono::seconds(20));
    // SIGTERM, then the exit status as wait_exit gives it; -1 when the child
    // was already reaped or did not end in time.
    int stop(std::chrono::milliseconds timeout = std::chrono::seconds(20));

private:
    enum class Readiness { READY, ENDED, TIMED_OUT };
    Readiness wait_readiness(std::chrono::milliseconds timeout) const;

    pid_t m_pid = -1;
    std::string m_log_path;
};

// rtframe -o -s -c <descriptor>: the server in master-offline mode.
std::vector<std::string> offline_server_arguments(const std::string& descriptor_path);

// Number of times text occurs in haystack.
int count_of(const std::string& haystack, const std::string& text);

// ERR lines of a log, but for failures to open the logging queue: every
// queue counts against one per-user budget (RLIMIT_MSGQUEUE, about seven
// queues of 1000 messages), shared by all tests that run at the same time,
// and rtframe retries them every second.
int error_lines(const std::string& log);

std::string read_file(const std::string& path);
void write_file(const std::string& path, const std::string& text);
