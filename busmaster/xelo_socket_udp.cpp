#include "xelo_socket_udp.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <stdexcept>

Socket_Udp::Socket_Udp() = default;

Socket_Udp::~Socket_Udp()
{
    if (m_sock >= 0)
        close(m_sock);
}

void Socket_Udp::create_socket()
{
    m_sock = socket(AF_INET, SOCK_DGRAM, 0);
    if (m_sock < 0) {
        perror(" Socket UDP creation error ");
        throw std::runtime_error(" Socket UDP creation error ");
    }
}

void Socket_Udp::bind_socket(const char* ip, int port)
{
    m_addr = sockaddr_in{};
    m_addr.sin_family = AF_INET;
    m_addr.sin_port = htons(static_cast<uint16_t>(port));
    if (port < 0 || port > 65535 || inet_aton(ip, &m_addr.sin_addr) == 0) {
        errno = EINVAL;
        perror(" bind error ");
        throw std::runtime_error(" bind error ");
    }
    if (bind(m_sock, reinterpret_cast<sockaddr*>(&m_addr), sizeof(m_addr)) != 0) {
        perror(" bind error ");
        throw std::runtime_error(" bind error ");
    }
}

void Socket_Udp::initialize_addr(const char* ip, int port)
{
    m_addr_input = sockaddr_in{};
    m_addr_input.sin_family = AF_INET;
    m_addr_input.sin_port = htons(static_cast<uint16_t>(port));
    if (inet_pton(AF_INET, ip, &m_addr_input.sin_addr) < 1) {
        perror(" Address creation error ");
        throw std::runtime_error(" Address creation error ");
    }
    m_len_input = sizeof(sockaddr_in);
}

void Socket_Udp::time_out_on_receive(long sec, long usec)
{
    m_timeout_struct.tv_sec = sec;
    m_timeout_struct.tv_usec = usec;
    const int result = setsockopt(m_sock, SOL_SOCKET, SO_RCVTIMEO, &m_timeout_struct, sizeof(m_timeout_struct));
    if (result != 0) {
        std::cout << " !!! error set !!!" << result << std::endl;
        throw std::runtime_error("error set time out on receive ");
    }
}

void Socket_Udp::set_non_blocking(bool on)
{
    const int flags = fcntl(m_sock, F_GETFL, 0);
    if (flags < 0)
        return;
    fcntl(m_sock, F_SETFL, on ? (flags | O_NONBLOCK) : (flags & ~O_NONBLOCK));
}

int Socket_Udp::read(void* buffer, int length)
{
    m_len_input = sizeof(m_addr_input);
    const ssize_t n = recvfrom(m_sock, buffer, static_cast<size_t>(length), MSG_TRUNC,
                               reinterpret_cast<sockaddr*>(&m_addr_input), &m_len_input);
    if (n < 0)
        throw std::runtime_error(std::string("Error on receive: ") + std::strerror(errno));
    m_last_read_truncated = n > length;
    return m_last_read_truncated ? length : static_cast<int>(n);
}

std::string Socket_Udp::read_line_ex()
{
    char buffer[LINE_BUFFER];
    const int n = read(buffer, LINE_BUFFER);
    m_last_line_terminated = n > 0 && buffer[n - 1] == m_endl;
    if (n < 2)
        return std::string();
    return std::string(buffer, static_cast<std::size_t>(n - 1));
}

Socket_Udp& Socket_Udp::operator>>(std::string& line)
{
    line = read_line_ex();
    return *this;
}

void Socket_Udp::send_ex(const void* buffer, int length)
{
    const ssize_t n = sendto(m_sock, buffer, static_cast<size_t>(length), 0,
                             reinterpret_cast<const sockaddr*>(&m_addr_input), sizeof(sockaddr_in));
    if (n == -1)
        throw std::runtime_error(std::string("Error writing to socket : ") + std::strerror(errno));
}

void Socket_Udp::send_ex(const std::string& text)
{
    send_ex(text.data(), static_cast<int>(text.size()));
}

void Socket_Udp::send_line_ex(const std::string& text)
{
    send_ex(text + m_endl);
}

Socket_Udp& Socket_Udp::operator<<(const std::string& text)
{
    send_line_ex(text);
    return *this;
}

int Socket_Udp::local_port() const
{
    sockaddr_in bound{};
    socklen_t length = sizeof(bound);
    if (m_sock < 0 || getsockname(m_sock, reinterpret_cast<sockaddr*>(&bound), &length) != 0)
        return 0;
    return ntohs(bound.sin_port);
}
