#pragma once

#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>

#include <string>

#include "xelo_ethercat_system_types.h"

// A UDP socket that carries one text line per datagram. Every receive
// remembers its sender as the peer, and every send goes to the peer; a
// client socket is aimed at its server at construction. Failures are
// printed with perror and thrown as std::runtime_error.
class Socket_Udp {
public:
    enum Stream_Mode { RAW_CHARS = 0, TERMINATOR_CHAR = 1 };

    static constexpr int LINE_BUFFER = ecm_protocol::DATAGRAM_BYTES;  // longest datagram read as a line

    Socket_Udp();
    virtual ~Socket_Udp();
    Socket_Udp(const Socket_Udp&) = delete;
    Socket_Udp& operator=(const Socket_Udp&) = delete;

    void create_socket();
    // Binds exactly the given IPv4 address (dotted text); text that is no
    // address is refused as " bind error ".
    void bind_socket(const char* ip, int port);
    void initialize_addr(const char* ip, int port);
    void time_out_on_receive(long sec, long usec);
    void set_non_blocking(bool on);

    // One datagram of at most length bytes; the sender becomes the peer.
    // Returns the bytes stored; a longer datagram is marked truncated.
    int read(void* buffer, int length);
    // The datagram without its last byte (the sender's line end); a datagram
    // of 0 or 1 byte gives an empty line.
    std::string read_line_ex();
    Socket_Udp& operator>>(std::string& line);
    // Whether the last datagram read was longer than the buffer it was read into.
    bool last_read_was_truncated() const { return m_last_read_truncated; }
    // Whether the byte read_line_ex dropped last was the line end.
    bool last_line_was_terminated() const { return m_last_line_terminated; }

    void send_ex(const void* buffer, int length);
    void send_ex(const std::string& text);
    // The text and the line end as one datagram.
    void send_line_ex(const std::string& text);
    Socket_Udp& operator<<(const std::string& text);

    int descriptor() const { return m_sock; }
    // The port the socket is bound to (host order), 0 when unbound.
    int local_port() const;

protected:
    Stream_Mode m_stream_mode = TERMINATOR_CHAR;
    int m_sock = -1;
    char m_endl = '\n';
    sockaddr_in m_addr{};
    sockaddr_in m_addr_input{};
    timeval m_timeout_struct{};
    socklen_t m_len = 0;
    socklen_t m_len_input = sizeof(sockaddr_in);
    bool m_last_read_truncated = false;
    bool m_last_line_terminated = false;
};
