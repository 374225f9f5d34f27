#pragma once

// The accepting side of cellapp's XML-RPC server, in front of the library:
// it listens, holds the client connections, reads each request whole within
// the limits below and hands its body to the library, then writes the
// library's answer back. Calls are served one at a time on the thread that
// runs serve(); a waiting connection costs no time.
//
// Limits:
// - a request (header and body, counted as they arrive) of at most
//   MAX_REQUEST_BYTES; a larger one closes its connection unanswered, as does
//   a header without a Content-length of digits;
// - a body without NUL bytes whose tags pair up and whose elements nest at
//   most MAX_DEPTH deep; another one is answered with a fault;
// - at most MAX_CONNECTIONS connections, none on a descriptor at or above
//   FD_SETSIZE: a connection beyond them is closed as soon as it is taken;
// - a connection whose next request has not come whole within the idle
//   limit (from its opening or its last answer), or whose answer has not
//   been taken within it, is closed.

#include <sys/select.h>

#include <atomic>
#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class Xmlrpc_Gate {
public:
    static constexpr std::size_t MAX_REQUEST_BYTES = 256 * 1024;
    static constexpr std::size_t MAX_DEPTH = 64;
    static constexpr std::size_t MAX_CONNECTIONS = 256;
    static_assert(MAX_CONNECTIONS < FD_SETSIZE / 2, "room for the program's other descriptors");
    static constexpr std::chrono::milliseconds DEFAULT_IDLE_LIMIT{30000};

    // The whole HTTP answer to a request body.
    using Execute = std::function<std::string(const std::string& body)>;
    // The whole HTTP answer of a fault with this text.
    using Fault = std::function<std::string(const std::string& text)>;

    Xmlrpc_Gate(Execute execute, Fault fault);
    // Closes every connection and the listening socket.
    ~Xmlrpc_Gate();
    Xmlrpc_Gate(const Xmlrpc_Gate&) = delete;
    Xmlrpc_Gate& operator=(const Xmlrpc_Gate&) = delete;

    // Listens on every IPv4 address at the port (0: a free one); false when
    // it cannot.
    [[nodiscard]] bool listen(int port, int backlog);
    void set_idle_limit(std::chrono::milliseconds limit) { m_idle_limit = limit; }
    // Serves for that many seconds, for ever when negative, or until stop();
    // returns at once when not listening.
    void serve(double seconds);
    // Ends serve() from another thread (the next serve() when none runs).
    void stop();
    // The port listened on; 0 before listen().
    int port() const { return m_port; }

private:
    using Clock = std::chrono::steady_clock;
    struct Connection;

    // One wait for events and the work they bring; false when stopped.
    bool serve_once(const Clock::time_point* end);
    int poll_timeout_ms(const Clock::time_point* end) const;
    void accept_all();
    void admit(int fd);
    void on_readable(Connection& connection);
    // Answers every whole request held, as long as the answers are taken
    // at once.
    void answer_requests(Connection& connection);
    void answer(Connection& connection, const std::string& body, bool keep_alive);
    // Writes what the socket takes of the answer; once all is written, the
    // connection waits for its next request or ends.
    void write_answer(Connection& connection);
    // Closes the connections that ended and those whose time was up then.
    void close_finished(Clock::time_point late_at);

    Execute m_execute;
    Fault m_fault;
    int m_listen_fd = -1;
    int m_wake_fd = -1;
    int m_port = 0;
    std::atomic<bool> m_stop{false};
    std::chrono::milliseconds m_idle_limit = DEFAULT_IDLE_LIMIT;
    // After a failed accept (out of descriptors) new connections wait until then.
    Clock::time_point m_accept_paused_until{};
    bool m_full_reported = false;
    std::vector<std::unique_ptr<Connection>> m_connections;
    std::vector<char> m_read_buffer;
};
