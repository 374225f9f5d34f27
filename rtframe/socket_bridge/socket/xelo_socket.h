#pragma once

// IPv4 TCP sockets of the socket bridge: a server that listens and accepts
// its peer, a client that connects to it. Messages are fixed-length runs of
// raw bytes moved whole; every failure throws std::runtime_error with a
// text, and no transfer raises SIGPIPE. Descriptor 0 means "none".

#include <netinet/in.h>
#include <pthread.h>
#include <sys/socket.h>

#include <cstdint>
#include <string>
#include <vector>

class Socket {
public:
    Socket();
    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;

    virtual void close_all_connections() = 0;

    void add_connection(int fd);
    bool connection_exists(int fd);
    unsigned get_current_connection_number();
    // The connection added last.
    int get_default_connection();
    // Closes fd unless it is 0; a failing close is an ERR line.
    static void safe_close(int fd);
    void close_connection(int fd);
    void close_socket();
    // close_socket without the linger: for a connection that already failed,
    // whose unsent bytes nobody will read.
    void close_socket_at_once();

    int get_root_connection_fd() const { return m_root_connection_fd; }

protected:
    // Not virtual here: objects are deleted through Socket_Tcp.
    ~Socket();

    sockaddr_in m_address{};
    int m_root_connection_fd = 0;
    uint32_t m_max_connection_number = 0;
    std::vector<int> m_connections;
    pthread_mutex_t m_mutex;
};

class Socket_Tcp : public Socket {
public:
    Socket_Tcp() = default;
    void close_all_connections() override;
    virtual ~Socket_Tcp();

    void set_up_socket_as_server_ex(std::string address, int port, int timeout_ms, int max_connections, bool bind_any,
                                    bool pack_inside);
    void set_up_socket_as_client_ex(std::string address, int port, int timeout_ms, bool pack_inside);
    int wait_connection_ex(sockaddr_in* peer, socklen_t* peer_len);
    // connection < 1: the default connection.
    unsigned send_message_ex(void* buffer, unsigned int length, int connection);
    unsigned receive_message_ex(void* buffer, unsigned int length, int connection);
    // receive_message_ex, except that a receive time-out before the first
    // byte returns false (an idle peer); a time-out after it, or the peer
    // closing, throws as receive_message_ex does.
    [[nodiscard]] bool try_receive_message_ex(void* buffer, unsigned int length, int connection);
    int send_single_pack_ex(int fd, char* buffer, int length);
    int receive_single_pack_ex(int fd, char* buffer, int length);
    void get_socket_buffer_len_ex(int fd);

    bool is_server() const { return m_is_server; }
    uint32_t get_send_pack_len() const { return m_sendbuff_len; }
    uint32_t get_receive_pack_len() const { return m_recvbuff_len; }

protected:
    bool m_is_server = false;
    bool m_pack_inside = false;
    uint32_t m_sendbuff_len = 0;
    uint32_t m_recvbuff_len = 0;

private:
    int connection_for(int connection, const char* missing_text);
    void set_options_ex(int fd, int timeout_ms);
};

class Socket_Client_Tcp : public Socket_Tcp {
public:
    ~Socket_Client_Tcp() override = default;
    void set_up_socket(std::string address, int port, int timeout_ms);
    void set_up_socket(std::string address, int port, int timeout_ms, bool pack_inside);
};

class Socket_Server_Tcp : public Socket_Tcp {
public:
    ~Socket_Server_Tcp() override = default;
    void set_up_socket(std::string address, int port, bool bind_any, int timeout_ms, int max_connections,
                       bool pack_inside);
};
