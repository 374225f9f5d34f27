#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "terminal_colour.h"
#include "xelo_log.h"

// Colours of the manager's log texts, always closed by RESET.
namespace axmand_colour = terminal_colour;
using terminal_colour::coloured;

// Lower-case hexadecimal without prefix.
inline std::string hex_text(uint32_t value)
{
    char text[16];
    std::snprintf(text, sizeof text, "%x", value);
    return text;
}
