#include "xmlrpc_body_check.h"

#include <string_view>
#include <vector>

namespace {
// The element name of a tag's text (without the angle brackets).
std::string_view name_of(std::string_view tag)
{
    return tag.substr(0, tag.find_first_of(" \t\r\n/"));
}
}  // namespace

std::string xmlrpc_body_refusal(const std::string& body, std::size_t max_depth)
{
    if (body.find('\0') != std::string::npos)
        return "a NUL byte in the body";
    std::vector<std::string_view> open;
    for (std::size_t at = body.find('<'); at != std::string::npos; at = body.find('<', at)) {
        const std::size_t end = body.find('>', at);
        if (end == std::string::npos)
            break;  // no further tag: the parser reports what is left
        const std::string_view tag(body.data() + at + 1, end - at - 1);
        at = end + 1;
        if (tag.find('<') != std::string_view::npos)
            return "a tag inside a tag";
        if (tag.empty() || tag.front() == '?' || tag.front() == '!' || tag.back() == '/')
            continue;  // declaration, comment or empty element
        if (tag.front() == '/') {
            if (open.empty() || open.back() != name_of(tag.substr(1)))
                return "a closing tag </" + std::string(name_of(tag.substr(1)).substr(0, 32)) + "> that matches none";
            open.pop_back();
        } else if (open.size() == max_depth) {
            return "elements nested deeper than " + std::to_string(max_depth);
        } else {
            open.push_back(name_of(tag));
        }
    }
    return "";
}
