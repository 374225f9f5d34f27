#pragma once

#include <ctime>
#include <string>

// Log lines of busmaster on standard output, one per message, flushed:
// "[" colour <local time as ctime writes it> level reset "] " text, with
// levels " INF:" (green), " WAR:" (yellow) and " ERR:" (red); the text of WAR
// and ERR lines is wrapped once more in the level's colour and the reset.
enum class Ecm_Log_Level { INF, WAR, ERR };

// The line for the given time, without the line feed.
std::string ecm_format_log_line(Ecm_Log_Level level, const std::string& text, time_t when);

void ecm_log(Ecm_Log_Level level, const std::string& text);

inline void ecm_log_inf(const std::string& text)
{
    ecm_log(Ecm_Log_Level::INF, text);
}
inline void ecm_log_war(const std::string& text)
{
    ecm_log(Ecm_Log_Level::WAR, text);
}
inline void ecm_log_err(const std::string& text)
{
    ecm_log(Ecm_Log_Level::ERR, text);
}

// A plain line (no time stamp, no colour), flushed.
void ecm_log_plain(const std::string& text);
