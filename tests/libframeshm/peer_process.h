#pragma once

#include <sys/types.h>

#include <functional>
#include <string>

// A second application for a test: a forked child that runs a function (with
// its own framework attachment) and exchanges text lines with the test over
// two pipes. The child never returns into the test: it ends with _exit and
// the function's result as exit status; an exception sends
// "exception: <text>" and ends with status 2.
class Peer_Process {
public:
    // The child's end of the pipes.
    class Link {
    public:
        Link(int in, int out) : m_in(in), m_out(out) {}
        void send(const std::string& line);
        // The next line from the test; empty when the test closed its end.
        std::string receive();

    private:
        int m_in;
        int m_out;
        std::string m_buffer;
    };

    explicit Peer_Process(const std::function<int(Link&)>& body);
    ~Peer_Process();  // a peer still running is killed
    Peer_Process(const Peer_Process&) = delete;
    Peer_Process& operator=(const Peer_Process&) = delete;

    void send(const std::string& line);
    // The next line of the peer; throws when none comes in time or the peer
    // closed its end.
    std::string receive_ex(int timeout_ms = 10000);
    // true when the peer sent nothing within the time (nor ended).
    [[nodiscard]] bool is_silent_for(int timeout_ms);
    // The wait status once the peer ended; throws (and kills it) when it
    // does not end in time.
    [[nodiscard]] int wait_exit_ex(int timeout_ms = 10000);
    // Sends the signal; the wait status as wait_exit_ex gives it.
    [[nodiscard]] int kill_ex(int signal, int timeout_ms = 10000);

private:
    bool read_line(std::string& line, int timeout_ms);

    pid_t m_pid = -1;
    int m_to_child = -1;
    int m_from_child = -1;
    std::string m_buffer;
};
