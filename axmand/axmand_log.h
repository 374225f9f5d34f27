#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "xelo_log.h"

// Colours of the manager's log texts, always closed by RESET.
namespace axmand_colour {
constexpr const char* YELLOW = "\033[33m";
constexpr const char* GREEN = "\033[32m";
constexpr const char* RED = "\033[31m";
constexpr const char* BLUE = "\033[34m";
constexpr const char* LIGHT_BLUE = "\033[1;34m";
constexpr const char* MAGENTA = "\033[35m";
constexpr const char* BOLD_WHITE = "\033[1;37m";
constexpr const char* BOLD_RED = "\033[1;31m";
constexpr const char* BOLD_GREEN = "\033[1;32m";
constexpr const char* RESET = "\033[0m";
}  // namespace axmand_colour

inline std::string coloured(const char* colour, const std::string& text)
{
    return std::string(colour) + text + axmand_colour::RESET;
}

// Lower-case hexadecimal without prefix.
inline std::string hex_text(uint32_t value)
{
    char text[16];
    std::snprintf(text, sizeof text, "%x", value);
    return text;
}
