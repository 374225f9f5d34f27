#include "xmlrpc_request.h"

#include <algorithm>
#include <string_view>

namespace {
std::string_view trimmed(std::string_view text)
{
    const std::size_t first = text.find_first_not_of(" \t\r");
    if (first == std::string_view::npos)
        return {};
    return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

char lower(char c)
{
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// Case-insensitive: text begins with prefix (a lower-case literal).
bool begins_with(std::string_view text, std::string_view prefix)
{
    if (text.size() < prefix.size())
        return false;
    for (std::size_t i = 0; i < prefix.size(); ++i)
        if (lower(text[i]) != prefix[i])
            return false;
    return true;
}

bool is_named(std::string_view name, std::string_view lower_case_name)
{
    return name.size() == lower_case_name.size() && begins_with(name, lower_case_name);
}

// The value of a header field as the request shows it, shortened for a message.
std::string quoted(std::string_view value)
{
    return "\"" + std::string(value.substr(0, 32)) + (value.size() > 32 ? "...\"" : "\"");
}
}  // namespace

void Xmlrpc_Request_Reader::append(const char* data, std::size_t size)
{
    // Grown by doubling, but never beyond the limit.
    if (m_bytes.size() + size > m_bytes.capacity())
        m_bytes.reserve(std::min(std::max(2 * m_bytes.capacity(), m_bytes.size() + size), m_max_bytes + 1));
    m_bytes.append(data, size);
}

Xmlrpc_Request_Reader::Status Xmlrpc_Request_Reader::next(Xmlrpc_Request& request, std::string& reason)
{
    if (m_body_at == NONE) {
        if (m_searched == 0)  // line ends a client sends after a body
            m_bytes.erase(0, m_bytes.find_first_not_of("\r\n"));
        if (!find_header_end()) {
            if (m_bytes.size() <= m_max_bytes)
                return Status::INCOMPLETE;
            reason = "header without its end in " + std::to_string(m_max_bytes) + " bytes";
            return Status::REFUSED;
        }
        reason = read_header();
        if (!reason.empty())
            return Status::REFUSED;
    }
    if (m_bytes.size() - m_body_at < m_content_length)
        return Status::INCOMPLETE;
    request.body.assign(m_bytes, m_body_at, m_content_length);
    request.keep_alive = m_keep_alive;
    m_bytes.erase(0, m_body_at + m_content_length);
    m_searched = 0;
    m_body_at = NONE;
    m_content_length = 0;
    return Status::WHOLE;
}

bool Xmlrpc_Request_Reader::find_header_end()
{
    // The last byte of "\n\n" or "\r\n\r\n" is one not searched before.
    for (std::size_t at = m_bytes.find('\n', m_searched); at != std::string::npos; at = m_bytes.find('\n', at + 1)) {
        if ((at >= 1 && m_bytes[at - 1] == '\n') || (at >= 3 && m_bytes.compare(at - 3, 3, "\r\n\r") == 0)) {
            m_body_at = at + 1;
            return true;
        }
    }
    m_searched = m_bytes.size();
    return false;
}

std::string Xmlrpc_Request_Reader::read_header()
{
    const std::string_view header(m_bytes.data(), m_body_at);
    const std::size_t request_line_end = header.find('\n');
    const bool http_1_0 = header.substr(0, request_line_end).find("HTTP/1.0") != std::string_view::npos;
    std::string_view length;
    std::string_view connection;
    int lengths = 0;
    for (std::size_t at = request_line_end + 1; at < header.size();) {
        const std::size_t end = std::min(header.find('\n', at), header.size());
        const std::string_view line = header.substr(at, end - at);
        at = end + 1;
        const std::size_t colon = line.find(':');
        if (colon == std::string_view::npos)
            continue;
        const std::string_view name = trimmed(line.substr(0, colon));
        if (is_named(name, "content-length")) {
            length = trimmed(line.substr(colon + 1));
            ++lengths;
        } else if (is_named(name, "connection")) {
            connection = trimmed(line.substr(colon + 1));
        }
    }
    m_keep_alive = http_1_0 ? begins_with(connection, "keep-alive") : !begins_with(connection, "close");
    if (lengths != 1)
        return lengths == 0 ? "no Content-length" : "more than one Content-length";
    if (length.empty() || length.find_first_not_of("0123456789") != std::string_view::npos)
        return "Content-length " + quoted(length) + " is not a number";
    const std::size_t body_room = m_max_bytes > m_body_at ? m_max_bytes - m_body_at : 0;
    if (length.size() > 9 || std::stoul(std::string(length)) > body_room)
        return "Content-length " + quoted(length) + " makes the request larger than " + std::to_string(m_max_bytes) +
               " bytes";
    m_content_length = std::stoul(std::string(length));
    if (m_content_length == 0)
        return "Content-length 0";
    return "";
}
