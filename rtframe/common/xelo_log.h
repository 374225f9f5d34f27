#pragma once

#include <ctime>
#include <string>

#include "terminal_colour.h"

// Log lines on standard output:
// "[" colour timestamp level reset "] " text, the text of WAR and ERR lines
// wrapped once more in the level's colour and the reset sequence.
enum class Log_Level { INF, WAR, ERR };

namespace log_colour = terminal_colour;

// The whole line for the given UTC instant, without the trailing newline.
std::string format_log_line(Log_Level level, const std::string& text, const timespec& utc);

// Writes one line stamped with the current real-time clock and flushes it.
void log_line(Log_Level level, const std::string& text);

// Lines stamped when they are added and written together, by one write,
// when flushed or destroyed: for lines that would otherwise delay the work
// they report. Copying would write the lines twice.
class Log_Batch {
public:
    Log_Batch() = default;
    ~Log_Batch() { flush(); }
    Log_Batch(const Log_Batch&) = delete;
    Log_Batch& operator=(const Log_Batch&) = delete;

    void inf(const std::string& text);
    void flush() noexcept;

private:
    std::string m_lines;
};

inline void log_inf(const std::string& text)
{
    log_line(Log_Level::INF, text);
}
inline void log_war(const std::string& text)
{
    log_line(Log_Level::WAR, text);
}
inline void log_err(const std::string& text)
{
    log_line(Log_Level::ERR, text);
}
