#pragma once

// The requests of one XML-RPC connection as their bytes arrive: an HTTP
// header up to its blank line, then a body of its Content-length. The bytes
// held are bounded: a request larger than the limit, counted as it arrives,
// is refused before it is whole. Bytes after a whole request are kept for
// the next one.

#include <cstddef>
#include <string>

struct Xmlrpc_Request {
    std::string body;
    // HTTP/1.1 unless "Connection: close"; HTTP/1.0 only with "Connection: keep-alive".
    bool keep_alive = true;
};

class Xmlrpc_Request_Reader {
public:
    enum class Status { INCOMPLETE, WHOLE, REFUSED };

    explicit Xmlrpc_Request_Reader(std::size_t max_bytes) : m_max_bytes(max_bytes) {}

    // Appends bytes read from the connection: at most room() of them.
    void append(const char* data, std::size_t size);
    // Bytes that may still be appended before the request is refused for
    // its size: reads of no more keep the bytes held within the limit.
    std::size_t room() const { return m_bytes.size() > m_max_bytes ? 0 : m_max_bytes + 1 - m_bytes.size(); }
    // WHOLE: the next request was taken into request. INCOMPLETE: more bytes
    // are needed. REFUSED: the request cannot be read (reason says why); the
    // connection has to be closed.
    Status next(Xmlrpc_Request& request, std::string& reason);
    // Bytes of a request not yet whole.
    bool holds_bytes() const { return !m_bytes.empty(); }

private:
    static constexpr std::size_t NONE = static_cast<std::size_t>(-1);

    // Searches the bytes not searched yet for the blank line.
    bool find_header_end();
    // Content-length and the connection's persistence; "" or why not.
    std::string read_header();

    std::size_t m_max_bytes;
    std::string m_bytes;
    std::size_t m_searched = 0;
    std::size_t m_body_at = NONE;
    std::size_t m_content_length = 0;
    bool m_keep_alive = true;
};
