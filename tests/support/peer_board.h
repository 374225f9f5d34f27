#pragma once

#include <sys/types.h>

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

// Board B of a test run under tests/isolate_pair: its own IPC, network and
// /dev/shm, the same /tmp as board A (the test's own), joined to board A by
// a veth pair. Programs run there through nsenter, code of the test through
// a child process that enters B's namespaces.
class Peer_Board {
public:
    // Throws when the test does not run under tests/isolate_pair.
    Peer_Board();

    pid_t holder() const { return m_holder; }
    const std::string& own_address() const { return m_address_a; }
    const std::string& peer_address() const { return m_address_b; }

    // Program path and arguments for Child_Process that run program on B.
    std::string launcher() const;
    std::vector<std::string> launcher_arguments(const std::string& program,
                                                const std::vector<std::string>& arguments) const;

    // Runs body in a child process inside B's namespaces and returns at
    // once; wait() gives its exit status (body's result).
    class Task {
    public:
        explicit Task(pid_t pid) : m_pid(pid) {}
        ~Task();
        Task(const Task&) = delete;
        Task& operator=(const Task&) = delete;
        // The status, or -1 when it did not end in time (it is then killed).
        [[nodiscard]] int wait(std::chrono::milliseconds timeout);
        bool has_ended();

    private:
        pid_t m_pid;
        int m_status = -1;
        bool m_reaped = false;
    };
    [[nodiscard]] std::unique_ptr<Task> start(const std::function<int()>& body) const;
    // Runs body in this process, on a thread that has joined B's network
    // namespace: the sockets it makes are B's and serve from any thread.
    // An exception of body is thrown here.
    void in_network(const std::function<void()>& body) const;
    // start and wait in one.
    [[nodiscard]] int run(const std::function<int()>& body, std::chrono::milliseconds timeout) const;

private:
    pid_t m_holder = -1;
    std::string m_address_a;
    std::string m_address_b;
};
