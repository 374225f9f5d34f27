#include "xelo_log.h"

#include <cstdio>

#include "xelo_macros_ms.h"

namespace {
struct Level_Text {
    const char* colour;
    const char* name;
    bool colours_text;
};

const Level_Text& level_text(Log_Level level)
{
    static const Level_Text table[] = {
        {log_colour::GREEN, " INF", false},
        {log_colour::YELLOW, " WAR", true},
        {log_colour::RED, " ERR", true},
    };
    return table[static_cast<int>(level)];
}
}  // namespace

std::string format_log_line(Log_Level level, const std::string& text, const timespec& utc)
{
    const Level_Text& lt = level_text(level);
    std::string line = "[";
    line += lt.colour;
    line += get_timestamp_from_timespec_no_context_switch(&utc);
    line += lt.name;
    line += log_colour::RESET;
    line += "] ";
    if (lt.colours_text) {
        line += lt.colour;
        line += text;
        line += log_colour::RESET;
    } else {
        line += text;
    }
    return line;
}

void log_line(Log_Level level, const std::string& text)
{
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    const std::string line = format_log_line(level, text, now) + "\n";
    flockfile(stdout);
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fflush(stdout);
    funlockfile(stdout);
}
