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

namespace {
void write_lines(const std::string& lines)
{
    flockfile(stdout);
    std::fwrite(lines.data(), 1, lines.size(), stdout);
    std::fflush(stdout);
    funlockfile(stdout);
}

std::string stamped_line(Log_Level level, const std::string& text)
{
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    return format_log_line(level, text, now) + "\n";
}
}  // namespace

void log_line(Log_Level level, const std::string& text)
{
    write_lines(stamped_line(level, text));
}

void Log_Batch::inf(const std::string& text)
{
    m_lines += stamped_line(Log_Level::INF, text);
}

void Log_Batch::flush() noexcept
{
    if (m_lines.empty())
        return;
    write_lines(m_lines);
    m_lines.clear();
}
