#include "ecm_log.h"

#include <cstdio>
#include <cstring>

#include "terminal_colour.h"

namespace {
using terminal_colour::RESET;

struct Level_Text {
    const char* colour;
    const char* name;
    bool colours_text;
};

const Level_Text& level_text(Ecm_Log_Level level)
{
    static const Level_Text table[] = {
        {terminal_colour::GREEN, " INF:", false},
        {terminal_colour::YELLOW, " WAR:", true},
        {terminal_colour::RED, " ERR:", true},
    };
    return table[static_cast<int>(level)];
}

void write_line(const std::string& line)
{
    flockfile(stdout);
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fflush(stdout);
    funlockfile(stdout);
}
}  // namespace

std::string ecm_format_log_line(Ecm_Log_Level level, const std::string& text, time_t when)
{
    char calendar[64] = {};
    if (ctime_r(&when, calendar) == nullptr)
        std::strcpy(calendar, "?");
    const std::size_t length = std::strlen(calendar);
    if (length > 0 && calendar[length - 1] == '\n')
        calendar[length - 1] = '\0';

    const Level_Text& lt = level_text(level);
    std::string line = "[";
    line += lt.colour;
    line += calendar;
    line += lt.name;
    line += RESET;
    line += "] ";
    if (lt.colours_text) {
        line += lt.colour;
        line += text;
        line += RESET;
    } else {
        line += text;
    }
    return line;
}

void ecm_log(Ecm_Log_Level level, const std::string& text)
{
    write_line(ecm_format_log_line(level, text, time(nullptr)) + "\n");
}

void ecm_log_plain(const std::string& text)
{
    write_line(text + "\n");
}
