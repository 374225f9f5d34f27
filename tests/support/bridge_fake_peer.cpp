#include "bridge_fake_peer.h"

#include "bridge_wire.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <thread>

namespace {
void set_timeouts(int fd, std::chrono::milliseconds io_timeout)
{
    timeval limit{};
    limit.tv_sec = static_cast<time_t>(io_timeout.count() / 1000);
    limit.tv_usec = static_cast<suseconds_t>((io_timeout.count() % 1000) * 1000);
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof(limit));
    setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof(limit));
}
}  // namespace

Bridge_Fake_Peer::~Bridge_Fake_Peer()
{
    close();
    if (m_listen_fd != -1)
        ::close(m_listen_fd);
}

void Bridge_Fake_Peer::listen(const std::string& address, int port)
{
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = htons(static_cast<uint16_t>(port));
    if (inet_pton(AF_INET, address.c_str(), &local.sin_addr) != 1)
        throw std::runtime_error("[Bridge_Fake_Peer] bad address " + address);
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd == -1)
        throw std::runtime_error(std::string("[Bridge_Fake_Peer] socket: ") + std::strerror(errno));
    const int on = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof(on));
    if (bind(fd, reinterpret_cast<const sockaddr*>(&local), sizeof(local)) != 0 || ::listen(fd, 4) != 0) {
        const int error = errno;
        ::close(fd);
        throw std::runtime_error("[Bridge_Fake_Peer] listen on " + address + ":" + std::to_string(port) + ": " +
                                 std::strerror(error));
    }
    if (m_listen_fd != -1)
        ::close(m_listen_fd);
    m_listen_fd = fd;
}

bool Bridge_Fake_Peer::accept(std::chrono::milliseconds timeout, std::chrono::milliseconds io_timeout)
{
    if (m_listen_fd == -1)
        throw std::runtime_error("[Bridge_Fake_Peer] accept without listen");
    close();
    pollfd waiting{m_listen_fd, POLLIN, 0};
    const int ready = poll(&waiting, 1, static_cast<int>(timeout.count()));
    if (ready < 0)
        throw std::runtime_error(std::string("[Bridge_Fake_Peer] poll: ") + std::strerror(errno));
    if (ready == 0)
        return false;
    const int fd = accept4(m_listen_fd, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd == -1)
        throw std::runtime_error(std::string("[Bridge_Fake_Peer] accept: ") + std::strerror(errno));
    set_timeouts(fd, io_timeout);
    m_fd = fd;
    return true;
}

bool Bridge_Fake_Peer::connect(const std::string& address, int port, std::chrono::milliseconds timeout,
                               std::chrono::milliseconds io_timeout)
{
    close();
    sockaddr_in server{};
    server.sin_family = AF_INET;
    server.sin_port = htons(static_cast<uint16_t>(port));
    if (inet_pton(AF_INET, address.c_str(), &server.sin_addr) != 1)
        throw std::runtime_error("[Bridge_Fake_Peer] bad address " + address);
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (fd == -1)
            throw std::runtime_error(std::string("[Bridge_Fake_Peer] socket: ") + std::strerror(errno));
        set_timeouts(fd, io_timeout);
        // A connect to a port of the ephemeral range on this host's own
        // address, with no listener yet, may reach the socket itself (a
        // simultaneous open). From another loopback address it cannot.
        const uint32_t destination = ntohl(server.sin_addr.s_addr);
        if ((destination >> 24) == 127) {
            sockaddr_in source{};
            source.sin_family = AF_INET;
            source.sin_addr.s_addr = htonl(destination == 0x7f000002 ? 0x7f000003 : 0x7f000002);
            if (bind(fd, reinterpret_cast<const sockaddr*>(&source), sizeof(source)) != 0) {
                const int error = errno;
                ::close(fd);
                throw std::runtime_error(std::string("[Bridge_Fake_Peer] bind: ") + std::strerror(error));
            }
        }
        if (::connect(fd, reinterpret_cast<const sockaddr*>(&server), sizeof(server)) == 0) {
            m_fd = fd;
            return true;
        }
        ::close(fd);
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

void Bridge_Fake_Peer::send(const Bytes& bytes)
{
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        const ssize_t result = ::send(m_fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (result <= 0)
            throw std::runtime_error(std::string("[Bridge_Fake_Peer] send: ") + std::strerror(errno));
        sent += static_cast<std::size_t>(result);
    }
}

Bridge_Fake_Peer::Bytes Bridge_Fake_Peer::receive(std::size_t count)
{
    Bytes bytes(count);
    std::size_t received = 0;
    while (received < count) {
        const ssize_t result = ::recv(m_fd, bytes.data() + received, count - received, 0);
        if (result == 0)
            throw std::runtime_error("[Bridge_Fake_Peer] receive: closed by the server");
        if (result < 0)
            throw std::runtime_error(std::string("[Bridge_Fake_Peer] receive: ") + std::strerror(errno));
        received += static_cast<std::size_t>(result);
    }
    return bytes;
}

bool Bridge_Fake_Peer::wait_closed()
{
    uint8_t byte = 0;
    for (;;) {
        const ssize_t result = ::recv(m_fd, &byte, 1, 0);
        if (result == 0)
            return true;
        if (result < 0)
            return errno == ECONNRESET;
    }
}

void Bridge_Fake_Peer::close()
{
    if (m_fd != -1)
        ::close(m_fd);
    m_fd = -1;
}

Bridge_Fake_Peer::Bytes Bridge_Fake_Peer::length_message(uint32_t length)
{
    return {static_cast<uint8_t>(length), static_cast<uint8_t>(length >> 8), static_cast<uint8_t>(length >> 16),
            static_cast<uint8_t>(length >> 24)};
}

uint32_t Bridge_Fake_Peer::length_of(const Bytes& message)
{
    return static_cast<uint32_t>(message.at(0)) | static_cast<uint32_t>(message.at(1)) << 8 |
           static_cast<uint32_t>(message.at(2)) << 16 | static_cast<uint32_t>(message.at(3)) << 24;
}

Bridge_Fake_Peer::Bytes Bridge_Fake_Peer::items_message(const std::vector<Item>& items)
{
    Bytes message;
    for (const Item& item : items) {
        message.insert(message.end(), item.first.begin(), item.first.end());
        const Bytes code = length_message(static_cast<uint32_t>(item.second));
        message.insert(message.end(), code.begin(), code.end());
    }
    return message;
}

std::pair<Bridge_Fake_Peer::Bytes, Bridge_Fake_Peer::Bytes> Bridge_Fake_Peer::cyclic_handshake(
    const std::vector<Item>& input_items, uint32_t input_len, const std::vector<Item>& output_items,
    uint32_t output_len)
{
    send(length_message(input_len));
    const uint32_t server_output = length_of(receive(4));
    if (server_output != input_len)
        throw std::runtime_error("[Bridge_Fake_Peer] the server's output image has " + std::to_string(server_output) +
                                 " bytes, not " + std::to_string(input_len));
    send(items_message(input_items));
    Bytes first = receive(input_items.size());
    send(length_message(output_len));
    const uint32_t server_input = length_of(receive(4));
    if (server_input != output_len)
        throw std::runtime_error("[Bridge_Fake_Peer] the server's input image has " + std::to_string(server_input) +
                                 " bytes, not " + std::to_string(output_len));
    send(items_message(output_items));
    return {first, receive(output_items.size())};
}

Bridge_Fake_Peer::Bytes Bridge_Fake_Peer::handshake_pair(const std::vector<Item>& items, uint32_t length)
{
    send(length_message(length));
    const uint32_t server = length_of(receive(4));
    if (server != length)
        throw std::runtime_error("[Bridge_Fake_Peer] the server's image has " + std::to_string(server) +
                                 " bytes, not " + std::to_string(length));
    send(items_message(items));
    return receive(items.size());
}

Bridge_Fake_Peer::Bytes Bridge_Fake_Peer::answer_handshake_pair(const std::vector<Item>& items, uint32_t length)
{
    const uint32_t client = length_of(receive(4));
    send(length_message(length));
    if (client != length)
        throw std::runtime_error("[Bridge_Fake_Peer] the client's image has " + std::to_string(client) +
                                 " bytes, not " + std::to_string(length));
    const Bytes message = receive(items_message(items).size());
    Bytes verdicts;
    std::size_t at = 0;
    for (const Item& item : items) {
        const Bytes own = items_message({item});
        verdicts.push_back(std::equal(own.begin(), own.end(), message.begin() + static_cast<std::ptrdiff_t>(at)) ? 1
                                                                                                                 : 0);
        at += own.size();
    }
    send(verdicts);
    return verdicts;
}

Empty_Cyclic_Driver::Empty_Cyclic_Driver(Bridge_Fake_Peer& cyclic) : m_cyclic(cyclic)
{
    m_thread = std::thread([this] {
        try {
            m_cyclic.send({bridge_wire::FIRST_TOKEN});
            m_cyclic.receive(1);
            // The master's image is empty too: it answers nothing more.
            while (m_driving) {
                m_cyclic.send({bridge_wire::NEXT_TOKEN});
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            }
        } catch (const std::exception&) {
            // The master stopped its bridge.
        }
    });
}

void Empty_Cyclic_Driver::stop()
{
    m_driving = false;
    if (m_thread.joinable()) {
        m_cyclic.close();
        m_thread.join();
    }
}
