#pragma once

#include <signal.h>
#include <sys/types.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// A program started as a child process of the test, its standard output and
// error in a log file that the test can search while it runs. The child gets
// SIGTERM when the test process ends, also when that one crashes, so that
// nothing a program holds (queues, ports, segments) outlives the test. The
// destructor kills and reaps a child still running.
class Child_Process {
public:
    // Says whether the child is ready; polled until it is.
    using Probe = std::function<bool()>;
    enum class Readiness { READY, ENDED, TIMED_OUT };

    // program: a path; arguments without the program's name; environment:
    // "NAME=value" entries added to this process's environment.
    Child_Process(const std::string& program, const std::vector<std::string>& arguments, const std::string& log_path,
                  const std::vector<std::string>& environment = {});
    ~Child_Process();
    Child_Process(const Child_Process&) = delete;
    Child_Process& operator=(const Child_Process&) = delete;

    pid_t pid() const { return m_pid; }
    const std::string& program() const { return m_program; }
    const std::string& log_path() const { return m_log_path; }
    // The log with the colour escapes removed.
    std::string log() const;
    // Waits until the log holds text (count times); false on time-out.
    [[nodiscard]] bool wait_for_log(const std::string& text, std::chrono::milliseconds timeout, int count = 1) const;
    // Whether the child has ended (not yet reaped by wait_exit or stop).
    bool has_ended() const;
    // Polls ready until it holds, the child ends or the time is up.
    [[nodiscard]] Readiness wait_ready(const Probe& ready, std::chrono::milliseconds timeout) const;
    // The same, but throws (with the log) when the child is not ready.
    void wait_ready_ex(const Probe& ready, std::chrono::milliseconds timeout) const;
    // Waits for the child to end by itself; its exit status (128 + the signal
    // when a signal ended it), or -1 on time-out or when already reaped.
    [[nodiscard]] int wait_exit(std::chrono::milliseconds timeout = std::chrono::seconds(20));
    // Sends signal, then the exit status as wait_exit gives it.
    [[nodiscard]] int stop(std::chrono::milliseconds timeout = std::chrono::seconds(20), int signal = SIGTERM);

private:
    pid_t m_pid = -1;
    std::string m_program;
    std::string m_log_path;
};

// Readiness probes.
namespace probe {
// The child's log holds text.
Child_Process::Probe log_line(const Child_Process& child, const std::string& text);
// A socket of this network namespace is bound to the port: UDP, or TCP in
// the listening state (IPv4 or IPv6).
Child_Process::Probe udp_port(uint16_t port);
Child_Process::Probe tcp_port(uint16_t port);
// The shared-memory segment exists with at least size bytes and ready says
// so of its mapped bytes.
Child_Process::Probe segment(const std::string& name, std::size_t size, std::function<bool(const void*)> ready);
}  // namespace probe

// Number of times text occurs in haystack.
int count_of(const std::string& haystack, const std::string& text);

std::string read_file(const std::string& path);
void write_file(const std::string& path, const std::string& text);
