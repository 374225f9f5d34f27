#pragma once

#include <chrono>
#include <string>
#include <vector>

// busmaster started as a child process of the test, its standard output and
// error in a log file.
class Busmaster_Process {
public:
    explicit Busmaster_Process(const std::vector<std::string>& arguments,
                               const std::string& log_path = "/tmp/busmaster.log");
    ~Busmaster_Process();  // kills a child still running
    Busmaster_Process(const Busmaster_Process&) = delete;
    Busmaster_Process& operator=(const Busmaster_Process&) = delete;

    int pid() const { return m_pid; }
    // The log as written, colours included.
    std::string raw_log() const;
    // The log with the colour escapes removed.
    std::string log() const;
    bool wait_for_log(const std::string& text, std::chrono::milliseconds timeout = std::chrono::seconds(10)) const;
    // Waits until the command server serves; false when the child ended first.
    bool wait_serving(std::chrono::milliseconds timeout = std::chrono::seconds(10)) const;
    // Exit status (128 + signal when a signal ended it), -1 on time-out.
    int wait_exit(std::chrono::milliseconds timeout = std::chrono::seconds(10));
    int stop();

private:
    int m_pid = -1;
    std::string m_log_path;
};
