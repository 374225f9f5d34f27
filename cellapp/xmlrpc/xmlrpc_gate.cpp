#include "xmlrpc_gate.h"

#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <stdexcept>

#include "xelo_log.h"
#include "xmlrpc_body_check.h"
#include "xmlrpc_request.h"

namespace {
constexpr std::size_t READ_CHUNK = 64 * 1024;
constexpr auto ACCEPT_PAUSE = std::chrono::milliseconds(100);
}  // namespace

struct Xmlrpc_Gate::Connection {
    Connection(int descriptor, Clock::time_point until) : fd(descriptor), deadline(until) {}
    ~Connection() { ::close(fd); }
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    int fd;
    Xmlrpc_Request_Reader reader{MAX_REQUEST_BYTES};
    // The answer being written; empty while a request is read.
    std::string answer;
    std::size_t written = 0;
    bool keep_alive = true;
    bool finished = false;
    Clock::time_point deadline;
};

Xmlrpc_Gate::Xmlrpc_Gate(Execute execute, Fault fault)
    : m_execute(std::move(execute)), m_fault(std::move(fault)), m_read_buffer(READ_CHUNK)
{
    m_wake_fd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (m_wake_fd < 0)
        throw std::runtime_error(std::string("[Xmlrpc_Gate][Xmlrpc_Gate] eventfd: ") + std::strerror(errno));
}

Xmlrpc_Gate::~Xmlrpc_Gate()
{
    m_connections.clear();
    if (m_listen_fd >= 0)
        ::close(m_listen_fd);
    ::close(m_wake_fd);
}

bool Xmlrpc_Gate::listen(int port, int backlog)
{
    if (m_listen_fd >= 0)
        return false;
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    const int one = 1;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_ANY);
    address.sin_port = htons(static_cast<uint16_t>(port));
    socklen_t length = sizeof(address);
    if (fd >= static_cast<int>(FD_SETSIZE) || setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof(one)) != 0 ||
        bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0 || ::listen(fd, backlog) != 0 ||
        getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        ::close(fd);
        return false;
    }
    m_listen_fd = fd;
    m_port = ntohs(address.sin_port);
    return true;
}

void Xmlrpc_Gate::stop()
{
    m_stop = true;
    const uint64_t one = 1;
    (void)!::write(m_wake_fd, &one, sizeof(one));
}

void Xmlrpc_Gate::serve(double seconds)
{
    if (m_listen_fd < 0)
        return;  // nothing to serve
    const Clock::time_point end =
        Clock::now() + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
    while (serve_once(seconds < 0 ? nullptr : &end) && (seconds < 0 || Clock::now() < end)) {
    }
    m_stop = false;
}

int Xmlrpc_Gate::poll_timeout_ms(const Clock::time_point* end) const
{
    Clock::time_point next = Clock::time_point::max();
    if (end != nullptr)
        next = *end;
    for (const auto& connection : m_connections)
        next = std::min(next, connection->deadline);
    if (m_accept_paused_until > Clock::now())
        next = std::min(next, m_accept_paused_until);
    if (next == Clock::time_point::max())
        return -1;
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(next - Clock::now()).count();
    return static_cast<int>(std::clamp<decltype(left)>(left, 0, 60000));
}

bool Xmlrpc_Gate::serve_once(const Clock::time_point* end)
{
    if (m_stop)
        return false;
    std::vector<pollfd> watched;
    watched.reserve(m_connections.size() + 2);
    watched.push_back({m_wake_fd, POLLIN, 0});
    const bool accepting = m_listen_fd >= 0 && Clock::now() >= m_accept_paused_until;
    watched.push_back({accepting ? m_listen_fd : -1, POLLIN, 0});
    for (const auto& connection : m_connections)
        watched.push_back({connection->fd, static_cast<short>(connection->answer.empty() ? POLLIN : POLLOUT), 0});
    const int ready = ::poll(watched.data(), watched.size(), poll_timeout_ms(end));
    if (ready < 0 && errno != EINTR)
        throw std::runtime_error(std::string("[Xmlrpc_Gate][serve] poll: ") + std::strerror(errno));
    // A connection is late when its time was up before the poll saw bytes
    // of it: the calls served below do not count against the others.
    const Clock::time_point polled_at = Clock::now();
    const std::size_t polled = m_connections.size();
    for (std::size_t i = 0; ready > 0 && i < polled; ++i) {
        Connection& connection = *m_connections[i];
        if (watched[i + 2].revents == 0 || connection.finished)
            continue;
        if (connection.answer.empty()) {
            on_readable(connection);
        } else {
            write_answer(connection);
            answer_requests(connection);  // a request sent behind the last one
        }
    }
    if (ready > 0 && watched[0].revents != 0) {
        uint64_t count = 0;
        (void)!::read(m_wake_fd, &count, sizeof(count));
    }
    if (ready > 0 && watched[1].revents != 0)
        accept_all();
    close_finished(polled_at);
    return !m_stop;
}

void Xmlrpc_Gate::accept_all()
{
    for (;;) {
        const int fd = accept4(m_listen_fd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd >= 0) {
            admit(fd);
            continue;
        }
        if (errno == EINTR || errno == ECONNABORTED)
            continue;
        if (errno != EAGAIN && errno != EWOULDBLOCK) {
            // Out of descriptors or memory: the waiting connections stay
            // queued for a moment instead of waking every poll.
            log_war(std::string("[Xmlrpc_Gate][accept_all] accept: ") + std::strerror(errno));
            m_accept_paused_until = Clock::now() + ACCEPT_PAUSE;
        }
        return;
    }
}

void Xmlrpc_Gate::admit(int fd)
{
    if (fd >= static_cast<int>(FD_SETSIZE) || m_connections.size() >= MAX_CONNECTIONS) {
        ::close(fd);
        if (!m_full_reported)
            log_war("[Xmlrpc_Gate][admit] " + std::to_string(m_connections.size()) +
                    " connections held: new connections are closed");
        m_full_reported = true;
        return;
    }
    m_connections.push_back(std::make_unique<Connection>(fd, Clock::now() + m_idle_limit));
}

void Xmlrpc_Gate::on_readable(Connection& connection)
{
    const std::size_t wanted = std::min(m_read_buffer.size(), connection.reader.room());
    const ssize_t n = ::recv(connection.fd, m_read_buffer.data(), wanted, 0);
    if (n < 0) {
        connection.finished = errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR;
        return;
    }
    if (n == 0) {  // the client closed: a request begun stays unanswered
        connection.finished = true;
        return;
    }
    connection.reader.append(m_read_buffer.data(), static_cast<std::size_t>(n));
    answer_requests(connection);
}

void Xmlrpc_Gate::answer_requests(Connection& connection)
{
    Xmlrpc_Request request;
    std::string reason;
    while (!connection.finished && connection.answer.empty()) {
        switch (connection.reader.next(request, reason)) {
        case Xmlrpc_Request_Reader::Status::INCOMPLETE: return;
        case Xmlrpc_Request_Reader::Status::REFUSED:
            log_war("[Xmlrpc_Gate][answer_requests] request refused, connection closed: " + reason);
            connection.finished = true;
            return;
        case Xmlrpc_Request_Reader::Status::WHOLE: answer(connection, request.body, request.keep_alive); break;
        }
    }
}

void Xmlrpc_Gate::answer(Connection& connection, const std::string& body, bool keep_alive)
{
    const std::string refusal = xmlrpc_body_refusal(body, MAX_DEPTH);
    if (refusal.empty()) {
        connection.answer = m_execute(body);
    } else {
        log_war("[Xmlrpc_Gate][answer] request refused: " + refusal);
        connection.answer = m_fault("request refused: " + refusal);
    }
    connection.written = 0;
    connection.keep_alive = keep_alive;
    connection.deadline = Clock::now() + m_idle_limit;
    write_answer(connection);
}

void Xmlrpc_Gate::write_answer(Connection& connection)
{
    while (connection.written < connection.answer.size()) {
        const ssize_t n = ::send(connection.fd, connection.answer.data() + connection.written,
                                 connection.answer.size() - connection.written, MSG_NOSIGNAL);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            connection.finished = errno != EAGAIN && errno != EWOULDBLOCK;
            return;
        }
        connection.written += static_cast<std::size_t>(n);
    }
    connection.answer.clear();
    if (!connection.keep_alive) {
        connection.finished = true;
        return;
    }
    connection.deadline = Clock::now() + m_idle_limit;
}

void Xmlrpc_Gate::close_finished(Clock::time_point late_at)
{
    const auto done = [late_at](const std::unique_ptr<Connection>& c) { return c->finished || c->deadline <= late_at; };
    m_connections.erase(std::remove_if(m_connections.begin(), m_connections.end(), done), m_connections.end());
    if (m_connections.size() < MAX_CONNECTIONS)
        m_full_reported = false;
}
