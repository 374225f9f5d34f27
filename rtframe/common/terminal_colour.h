#pragma once

#include <string>

// The colour sequences of the programs' log texts, always closed by RESET.
namespace terminal_colour {
constexpr const char* GREEN = "\033[32m";
constexpr const char* YELLOW = "\033[33m";
constexpr const char* RED = "\033[31m";
constexpr const char* BLUE = "\033[34m";
constexpr const char* MAGENTA = "\033[35m";
constexpr const char* LIGHT_BLUE = "\033[1;34m";
constexpr const char* BOLD_GREEN = "\033[1;32m";
constexpr const char* BOLD_RED = "\033[1;31m";
constexpr const char* BOLD_MAGENTA = "\033[1;35m";
constexpr const char* BOLD_CYAN = "\033[1;36m";
constexpr const char* BOLD_WHITE = "\033[1;37m";
constexpr const char* RESET = "\033[0m";

// The text in the colour, closed by RESET.
inline std::string coloured(const char* colour, const std::string& text)
{
    return std::string(colour) + text + RESET;
}
}  // namespace terminal_colour
