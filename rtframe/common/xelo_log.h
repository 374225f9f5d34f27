#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <string>

#include "rt_log_ring.h"
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
// they report. On a real-time log thread each line goes into the ring when
// it is added. Copying would write the lines twice.
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

// Log lines of a real-time ring, cut at TEXT_SIZE.
template <std::size_t TEXT>
struct Xelo_Line_Format {
    using Level = Log_Level;
    static constexpr std::size_t TEXT_SIZE = TEXT;
    static std::string line(Log_Level level, const char* text, const timespec& stamp)
    {
        return format_log_line(level, text, stamp);
    }
    static std::string dropped_line(uint64_t count, const timespec& now)
    {
        return format_log_line(Log_Level::WAR, std::to_string(count) + " real-time log lines dropped (ring full)", now);
    }
};

// While it lives, what its thread writes through log_line and Log_Batch goes
// into the process's real-time ring instead of standard output, so that the
// thread never waits on the output: a drain thread writes the lines within
// a drain period, a line written directly by any other thread first writes
// the waiting ones (the log keeps the order of the events), and what is
// left is written when the process exits.
class Realtime_Log_Thread {
public:
    Realtime_Log_Thread();
    ~Realtime_Log_Thread();
    Realtime_Log_Thread(const Realtime_Log_Thread&) = delete;
    Realtime_Log_Thread& operator=(const Realtime_Log_Thread&) = delete;

private:
    bool m_was_realtime;
};

// Has the drain thread write the real-time lines posted so far: at the end
// of a real-time thread's pass (a cycle, an exchange), so that they follow
// it closely without competing with it. Otherwise they wait for the next
// drain period.
void wake_log_drain() noexcept;

// Writes the waiting real-time lines and flushes standard output: before a
// thread ends the process with _exit.
void flush_log_lines();

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
