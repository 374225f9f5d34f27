#pragma once

#include <cstdint>
#include <iomanip>
#include <sstream>
#include <string>

// A code in lower-case hexadecimal, zero-filled to a width.
inline std::string pad_hex(uint32_t code, int width)
{
    std::ostringstream out;
    out << std::hex << std::setw(width) << std::setfill('0') << code;
    return out.str();
}
