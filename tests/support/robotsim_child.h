#pragma once

#include <sys/types.h>

#include <chrono>
#include <string>
#include <vector>

// robotsim started as a child process of the test, its output in a log
// file. The child gets SIGTERM when the test process ends. Arguments are
// appended to "--address 127.0.0.1 --port <port> --control-port <control>".
class Robotsim_Child {
public:
    Robotsim_Child(int port, int control_port, const std::vector<std::string>& arguments = {},
                   const std::string& log_path = "/tmp/robotsim.log");
    ~Robotsim_Child();  // kills a child still running
    Robotsim_Child(const Robotsim_Child&) = delete;
    Robotsim_Child& operator=(const Robotsim_Child&) = delete;

    pid_t pid() const { return m_pid; }
    // The log with the colour escapes removed.
    std::string log() const;
    // Waits for the ready line; throws with the log when the child ends first
    // or is not ready in time.
    void wait_ready_ex(std::chrono::milliseconds timeout = std::chrono::seconds(20)) const;
    // One control command over a fresh connection; the reply line without
    // its line end. Throws when the control socket cannot be reached.
    std::string control(const std::string& line) const;
    // The same, but throws unless the reply begins with "OK".
    std::string control_ok_ex(const std::string& line) const;
    // SIGTERM, then the exit status (128 + the signal when a signal ended it;
    // -1 when it did not end in time).
    int stop(std::chrono::milliseconds timeout = std::chrono::seconds(20));
    // Waits for the child to end by itself, as stop.
    int wait_exit(std::chrono::milliseconds timeout = std::chrono::seconds(20));

private:
    pid_t m_pid = -1;
    int m_control_port;
    std::string m_log_path;
};
