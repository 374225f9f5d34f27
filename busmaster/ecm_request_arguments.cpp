#include "ecm_request_arguments.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <stdexcept>

namespace {
long read_number_ex(std::istream& args, const char* name, long low, long high, const char* function)
{
    std::string word;
    if (!(args >> word))
        throw std::runtime_error(std::string("[ECM_Request_Arguments][") + function + "] argument " + name +
                                 " missing");
    errno = 0;
    char* end = nullptr;
    const long value = std::strtol(word.c_str(), &end, 10);
    if (end == word.c_str() || *end != '\0' || errno == ERANGE || value < low || value > high)
        throw std::runtime_error(std::string("[ECM_Request_Arguments][") + function + "] argument " + name +
                                 " is not a number: " + word);
    return value;
}
}  // namespace

int read_int_argument_ex(std::istream& args, const char* name)
{
    return static_cast<int>(read_number_ex(args, name, INT_MIN, INT_MAX, "read_int_argument_ex"));
}

uint16_t read_uint16_argument_ex(std::istream& args, const char* name)
{
    return static_cast<uint16_t>(read_number_ex(args, name, 0, 0xFFFF, "read_uint16_argument_ex"));
}

std::string read_word_argument_ex(std::istream& args, const char* name)
{
    std::string word;
    if (!(args >> word))
        throw std::runtime_error(std::string("[ECM_Request_Arguments][read_word_argument_ex] argument ") + name +
                                 " missing");
    return word;
}
