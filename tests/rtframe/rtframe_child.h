#pragma once

#include <sys/types.h>

#include <chrono>
#include <string>
#include <vector>

// rtframe started as a child process with the given arguments, its standard
// output and error in a log file that the test can search while it runs.
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
    bool wait_until_ready(std::chrono::milliseconds timeout = std::chrono::seconds(20)) const;
    // Waits for the child to end by itself; its exit status, or -1 on time-out.
    int wait_exit(std::chrono::milliseconds timeout = std::chrono::seconds(20));
    // SIGTERM, then the exit status (-1 when it did not end in time).
    int stop(std::chrono::milliseconds timeout = std::chrono::seconds(20));

private:
    pid_t m_pid = -1;
    std::string m_log_path;
};

// Number of times text occurs in haystack.
int count_of(const std::string& haystack, const std::string& text);

// ERR lines of a log, but for failures to open the logging queue: every
// queue counts against one per-user budget (RLIMIT_MSGQUEUE, about seven
// queues of 1000 messages), shared by all tests that run at the same time,
// and rtframe retries them every second.
int error_lines(const std::string& log);

// A descriptor template of tests/rtframe/descriptors copied into dir, with
// every "@DIR@" replaced by dir; the path of the copy.
std::string install_descriptor(const std::string& template_name, const std::string& dir);
std::string read_file(const std::string& path);
void write_file(const std::string& path, const std::string& text);
