#pragma once

#include <sys/types.h>

#include <string>

// rtframe -o -s -c <descriptor> as a child process of the test, its output
// in a log file. Ready once its info segment says ready_to_start.
class Rtframe_Process {
public:
    explicit Rtframe_Process(const std::string& descriptor_path);
    ~Rtframe_Process();
    Rtframe_Process(const Rtframe_Process&) = delete;
    Rtframe_Process& operator=(const Rtframe_Process&) = delete;

    // Throws when the server ends or is not ready within the time-out.
    void wait_ready_ex(int timeout_ms = 30000);
    // SIGTERM, then the wait status of the process.
    int stop();
    std::string log() const;

private:
    pid_t m_pid = -1;
    std::string m_log_path;
};
