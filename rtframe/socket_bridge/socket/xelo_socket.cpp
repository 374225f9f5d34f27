#include "xelo_socket.h"

#include <arpa/inet.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <stdexcept>
#include <utility>

#include "robust_mutex.h"
#include "xelo_log.h"
#include "xelo_thread_mtx_wrapper.h"

namespace {
const char* const MUTEX_NAME = "m_mutex";
const char* const MUTEX_OWNER = "socket";

[[noreturn]] void throw_with_errno(const std::string& text, int error)
{
    throw std::runtime_error(text + std::to_string(error));
}

// Every message goes out at once: a channel that carries data one way
// only (a data group, a command without answer data) would otherwise hold
// each small message until the peer's delayed acknowledgement of the
// previous one.
void send_at_once_ex(int fd)
{
    const int on = 1;
    if (setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof(on)) != 0)
        throw_with_errno("setsockopt(TCP_NODELAY) failed", errno);
}

std::string errno_text(int error)
{
    return std::to_string(error) + " strerror :: " + std::strerror(error);
}

// An IPv4 address text, refused when it does not parse.
in_addr_t parse_address_ex(const std::string& address)
{
    in_addr parsed{};
    if (inet_pton(AF_INET, address.c_str(), &parsed) != 1)
        throw std::runtime_error("It is not possible to parse socket address '" + address + "'");
    return parsed.s_addr;
}
}  // namespace

// ---- Socket ------------------------------------------------------------------

Socket::Socket()
{
    init_pthread_mutex_ex(&m_mutex, true, true, true);
}

Socket::~Socket()
{
    try {
        close_socket();
    } catch (const std::exception& error) {
        log_err(error.what());
    }
    pthread_mutex_destroy(&m_mutex);
}

void Socket::add_connection(int fd)
{
    Robust_Mutex held(&m_mutex, MUTEX_NAME, MUTEX_OWNER);
    std::lock_guard<Robust_Mutex> lock(held);
    m_connections.push_back(fd);
}

bool Socket::connection_exists(int fd)
{
    Robust_Mutex held(&m_mutex, MUTEX_NAME, MUTEX_OWNER);
    std::lock_guard<Robust_Mutex> lock(held);
    return std::find(m_connections.begin(), m_connections.end(), fd) != m_connections.end();
}

unsigned Socket::get_current_connection_number()
{
    Robust_Mutex held(&m_mutex, MUTEX_NAME, MUTEX_OWNER);
    std::lock_guard<Robust_Mutex> lock(held);
    return static_cast<unsigned>(m_connections.size());
}

int Socket::get_default_connection()
{
    {
        Robust_Mutex held(&m_mutex, MUTEX_NAME, MUTEX_OWNER);
        std::lock_guard<Robust_Mutex> lock(held);
        if (!m_connections.empty())
            return m_connections.back();
    }
    throw std::runtime_error("get_default_connection -- no connection available!");
}

void Socket::safe_close(int fd)
{
    if (fd == 0)
        return;
    if (close(fd) != 0) {
        const int error = errno;
        log_err("error on socket fd " + std::to_string(fd) + " close .. errno :: " + std::to_string(error) +
                ", strerrno :: " + std::strerror(error));
    }
}

void Socket::close_connection(int fd)
{
    {
        Robust_Mutex held(&m_mutex, MUTEX_NAME, MUTEX_OWNER);
        std::lock_guard<Robust_Mutex> lock(held);
        const auto found = std::find(m_connections.begin(), m_connections.end(), fd);
        if (found != m_connections.end()) {
            safe_close(fd);
            if (fd == m_root_connection_fd)
                m_root_connection_fd = 0;
            m_connections.erase(found);
            return;
        }
    }
    throw std::runtime_error("Trying to close connection of file descriptor not open in this socket.");
}

// The listening socket goes first: a peer that connects while the
// connections close is refused, never queued on a socket about to close
// (which would reset it after its connect succeeded).
void Socket::close_socket()
{
    std::vector<int> listed;
    {
        Robust_Mutex held(&m_mutex, MUTEX_NAME, MUTEX_OWNER);
        std::lock_guard<Robust_Mutex> lock(held);
        listed = m_connections;
    }
    // A client's root descriptor is its connection, closed with the others.
    const bool listening = std::find(listed.begin(), listed.end(), m_root_connection_fd) == listed.end();
    if (m_root_connection_fd != 0 && listening) {
        safe_close(m_root_connection_fd);
        m_root_connection_fd = 0;
    }
    for (int fd : listed)
        close_connection(fd);
}

void Socket::close_socket_at_once()
{
    std::vector<int> listed;
    {
        Robust_Mutex held(&m_mutex, MUTEX_NAME, MUTEX_OWNER);
        std::lock_guard<Robust_Mutex> lock(held);
        listed = m_connections;
    }
    listed.push_back(m_root_connection_fd);
    const linger at_once{1, 0};
    for (int fd : listed)
        if (fd != 0)
            setsockopt(fd, SOL_SOCKET, SO_LINGER, &at_once, sizeof(at_once));
    close_socket();
}

// ---- Socket_Tcp ----------------------------------------------------------------

Socket_Tcp::~Socket_Tcp() = default;

void Socket_Tcp::close_all_connections()
{
    if (!m_is_server) {
        close_socket();
        return;
    }
    std::vector<int> listed;
    {
        Robust_Mutex held(&m_mutex, MUTEX_NAME, MUTEX_OWNER);
        std::lock_guard<Robust_Mutex> lock(held);
        listed = m_connections;
    }
    for (int fd : listed)
        close_connection(fd);
}

// Address reuse (a restarted server binds at once), a 2 s linger and no
// delay of small messages. The port is not shared: a second server on it
// gets a bind error.
void Socket_Tcp::set_options_ex(int fd, int timeout_ms)
{
    const int on = 1;
    if (setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof(on)) != 0)
        throw_with_errno("setsockopt(SO_REUSEADDR) failed", errno);
    const linger lingering{1, 2};
    if (setsockopt(fd, SOL_SOCKET, SO_LINGER, &lingering, sizeof(lingering)) != 0)
        throw_with_errno("setsockopt(SO_LINGER) failed", errno);
    send_at_once_ex(fd);
    if (timeout_ms > 0) {
        timeval timeout{};
        timeout.tv_sec = timeout_ms / 1000;
        timeout.tv_usec = (timeout_ms % 1000) * 1000;
        if (setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof(timeout)) != 0)
            throw_with_errno("It is not possible to setup receive socket timeout", errno);
        if (setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof(timeout)) != 0)
            throw_with_errno("It is not possible to setup send socket timeout", errno);
    }
}

void Socket_Tcp::set_up_socket_as_server_ex(std::string address, int port, int timeout_ms, int max_connections,
                                            bool bind_any, bool pack_inside)
{
    m_is_server = true;
    m_max_connection_number = static_cast<uint32_t>(max_connections);
    m_pack_inside = pack_inside;
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd == -1)
        throw_with_errno("It is not possible to open new socket", errno);
    try {
        m_address = sockaddr_in{};
        m_address.sin_family = AF_INET;
        m_address.sin_addr.s_addr = bind_any ? htonl(INADDR_ANY) : parse_address_ex(address);
        m_address.sin_port = htons(static_cast<uint16_t>(port));
        set_options_ex(fd, timeout_ms);
        get_socket_buffer_len_ex(fd);
        if (bind(fd, reinterpret_cast<const sockaddr*>(&m_address), sizeof(m_address)) != 0)
            throw_with_errno("It is not possible to bind socket", errno);
        if (listen(fd, max_connections) != 0)
            throw_with_errno("It is not possible to listen socket", errno);
    } catch (const std::exception&) {
        safe_close(fd);
        throw;
    }
    m_root_connection_fd = fd;
}

void Socket_Tcp::set_up_socket_as_client_ex(std::string address, int port, int timeout_ms, bool pack_inside)
{
    m_is_server = false;
    m_pack_inside = pack_inside;
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd == -1)
        throw_with_errno("It is not possible to open new socket", errno);
    try {
        m_address = sockaddr_in{};
        m_address.sin_family = AF_INET;
        m_address.sin_addr.s_addr = parse_address_ex(address);
        m_address.sin_port = htons(static_cast<uint16_t>(port));
        get_socket_buffer_len_ex(fd);
        set_options_ex(fd, timeout_ms);
        if (connect(fd, reinterpret_cast<const sockaddr*>(&m_address), sizeof(m_address)) != 0)
            throw_with_errno("It is not possible to connect to socket: errno = ", errno);
        // A port of the ephemeral range on this host's own address, with no
        // listener, can be reached from itself (a simultaneous open): that
        // is no peer.
        sockaddr_in local{};
        socklen_t length = sizeof(local);
        if (getsockname(fd, reinterpret_cast<sockaddr*>(&local), &length) == 0 &&
            local.sin_port == m_address.sin_port && local.sin_addr.s_addr == m_address.sin_addr.s_addr)
            throw_with_errno("It is not possible to connect to socket: errno = ", ECONNREFUSED);
    } catch (const std::exception&) {
        safe_close(fd);
        throw;
    }
    add_connection(fd);
    m_root_connection_fd = fd;
}

void Socket_Tcp::get_socket_buffer_len_ex(int fd)
{
    int size = 0;
    socklen_t length = sizeof(size);
    if (getsockopt(fd, SOL_SOCKET, SO_SNDBUF, &size, &length) != 0)
        throw_with_errno("getsockopt(SOL_SOCKET - SO_SNDBUF) failed", errno);
    m_sendbuff_len = static_cast<uint32_t>(size) / 2;
    length = sizeof(size);
    if (getsockopt(fd, SOL_SOCKET, SO_RCVBUF, &size, &length) != 0)
        throw_with_errno("getsockopt(SOL_SOCKET - SO_RCVBUF) failed", errno);
    m_recvbuff_len = static_cast<uint32_t>(size) / 2;
}

int Socket_Tcp::wait_connection_ex(sockaddr_in* peer, socklen_t* peer_len)
{
    if (!m_is_server)
        throw_with_errno("Trying to wait connection on a client. This is not a socket server!!!!!", errno);
    if (get_current_connection_number() > m_max_connection_number + 1)
        throw std::runtime_error(
            "Reached maximum number of open connections: " + std::to_string(m_max_connection_number) +
            ". Increase max connecction number in setup socket or remeber to close connections "
            "when no more active.");
    const bool with_peer = peer != nullptr && peer_len != nullptr;
    const int fd = accept4(m_root_connection_fd, with_peer ? reinterpret_cast<sockaddr*>(peer) : nullptr,
                           with_peer ? peer_len : nullptr, SOCK_CLOEXEC);
    if (fd == -1)
        throw_with_errno("It is not possible to accept socket: errno = ", errno);
    try {
        send_at_once_ex(fd);
    } catch (const std::exception&) {
        safe_close(fd);
        throw;
    }
    add_connection(fd);
    return fd;
}

int Socket_Tcp::connection_for(int connection, const char* missing_text)
{
    if (connection < 1)
        return get_default_connection();
    if (!connection_exists(connection))
        throw std::runtime_error(missing_text);
    return connection;
}

namespace {
// Moves length bytes in packs of at most pack bytes; the bytes on the wire
// are the same whatever the pack size.
template <typename Move>
unsigned move_in_packs(char* bytes, unsigned length, uint32_t pack, bool pack_inside, Move move)
{
    if (length <= pack)
        return static_cast<unsigned>(move(bytes, static_cast<int>(length)));
    if (!pack_inside || pack == 0)
        throw std::runtime_error("message length is bigger than the maximum allowed byt he system");
    unsigned moved = 0;
    const unsigned whole = length / pack;
    for (unsigned i = 0; i < whole; ++i)
        moved += static_cast<unsigned>(move(bytes + moved, static_cast<int>(pack)));
    const unsigned rest = length % pack;
    if (rest != 0)
        moved += static_cast<unsigned>(move(bytes + moved, static_cast<int>(rest)));
    return moved;
}
}  // namespace

unsigned Socket_Tcp::send_message_ex(void* buffer, unsigned int length, int connection)
{
    const int fd = connection_for(connection, "Trying to send message on socket connection which does not exists");
    return move_in_packs(static_cast<char*>(buffer), length, m_sendbuff_len, m_pack_inside,
                         [this, fd](char* bytes, int count) { return send_single_pack_ex(fd, bytes, count); });
}

unsigned Socket_Tcp::receive_message_ex(void* buffer, unsigned int length, int connection)
{
    const int fd = connection_for(connection, "Trying to recive message on socket connection which does not exists");
    return move_in_packs(static_cast<char*>(buffer), length, m_recvbuff_len, m_pack_inside,
                         [this, fd](char* bytes, int count) { return receive_single_pack_ex(fd, bytes, count); });
}

bool Socket_Tcp::try_receive_message_ex(void* buffer, unsigned int length, int connection)
{
    const int fd = connection_for(connection, "Trying to recive message on socket connection which does not exists");
    if (length == 0)
        return true;
    if (length > m_recvbuff_len && (!m_pack_inside || m_recvbuff_len == 0))
        throw std::runtime_error("message length is bigger than the maximum allowed byt he system");
    // The wait itself takes the first bytes: no separate look ahead.
    char* bytes = static_cast<char*>(buffer);
    ssize_t result;
    do {
        result = recv(fd, bytes, std::min(length, m_recvbuff_len), 0);
    } while (result < 0 && errno == EINTR);
    if (result < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
        return false;
    if (result <= 0)
        throw std::runtime_error("error while receiving socket message: " +
                                 errno_text(result == 0 ? ECONNRESET : errno));
    const unsigned received = static_cast<unsigned>(result);
    if (received < length)
        receive_message_ex(bytes + received, length - received, connection);
    return true;
}

int Socket_Tcp::send_single_pack_ex(int fd, char* buffer, int length)
{
    if (length < 1)
        return 0;
    int sent = 0;
    while (sent < length) {
        const ssize_t result = send(fd, buffer + sent, static_cast<size_t>(length - sent), MSG_NOSIGNAL);
        if (result <= 0) {
            if (result < 0 && errno == EINTR)
                continue;
            const int error = result == 0 ? EPIPE : errno;
            throw std::runtime_error("error while sending socket message: " + errno_text(error));
        }
        sent += static_cast<int>(result);
    }
    return sent;
}

int Socket_Tcp::receive_single_pack_ex(int fd, char* buffer, int length)
{
    if (length < 1)
        return 0;
    int received = 0;
    while (received < length) {
        const ssize_t result = recv(fd, buffer + received, static_cast<size_t>(length - received), 0);
        if (result <= 0) {
            if (result < 0 && errno == EINTR)
                continue;
            // 0: the peer closed its side.
            const int error = result == 0 ? ECONNRESET : errno;
            throw std::runtime_error("error while receiving socket message: " + errno_text(error));
        }
        received += static_cast<int>(result);
    }
    return received;
}

// ---- set-ups in each class's own argument order ----------------------------------

void Socket_Client_Tcp::set_up_socket(std::string address, int port, int timeout_ms)
{
    set_up_socket_as_client_ex(std::move(address), port, timeout_ms, false);
}

void Socket_Client_Tcp::set_up_socket(std::string address, int port, int timeout_ms, bool pack_inside)
{
    set_up_socket_as_client_ex(std::move(address), port, timeout_ms, pack_inside);
}

void Socket_Server_Tcp::set_up_socket(std::string address, int port, bool bind_any, int timeout_ms, int max_connections,
                                      bool pack_inside)
{
    set_up_socket_as_server_ex(std::move(address), port, timeout_ms, max_connections, bind_any, pack_inside);
}
