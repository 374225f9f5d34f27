#include "xelo_log.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>

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
// Room of the process ring's texts: long exception texts included.
using Process_Ring = Rt_Log_Ring<Xelo_Line_Format<4096>>;
// Above every thread of the normal policy, below every cycle: the lines
// reach the output before a reader who saw the event can look for them.
constexpr int DRAIN_PRIORITY = 1;

thread_local bool t_realtime = false;
std::atomic<Process_Ring*> g_process_ring{nullptr};

// Made and started by the first real-time log thread and never destroyed,
// as threads may log until the process ends; at exit its drain thread ends
// and writes what is left.
Process_Ring& process_ring()
{
    static Process_Ring* const ring = [] {
        auto* made = new Process_Ring;
        made->start("xelo_rt_log", DRAIN_PRIORITY);
        g_process_ring.store(made, std::memory_order_release);
        std::atexit([] { g_process_ring.load(std::memory_order_acquire)->stop(); });
        return made;
    }();
    return *ring;
}

void drain_process_ring()
{
    if (Process_Ring* ring = g_process_ring.load(std::memory_order_acquire))
        ring->drain();
}

void write_lines(const std::string& lines)
{
    drain_process_ring();
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

Realtime_Log_Thread::Realtime_Log_Thread() : m_was_realtime(t_realtime)
{
    process_ring();
    t_realtime = true;
}

Realtime_Log_Thread::~Realtime_Log_Thread()
{
    t_realtime = m_was_realtime;
}

void wake_log_drain() noexcept
{
    if (Process_Ring* ring = g_process_ring.load(std::memory_order_acquire))
        ring->wake();
}

void flush_log_lines()
{
    drain_process_ring();
    std::fflush(stdout);
}

void log_line(Log_Level level, const std::string& text)
{
    if (t_realtime) {
        process_ring().post(level, "%s", text.c_str());
        return;
    }
    write_lines(stamped_line(level, text));
}

void Log_Batch::inf(const std::string& text)
{
    if (t_realtime) {
        process_ring().post(Log_Level::INF, "%s", text.c_str());
        return;
    }
    m_lines += stamped_line(Log_Level::INF, text);
}

void Log_Batch::flush() noexcept
{
    if (m_lines.empty())
        return;
    write_lines(m_lines);
    m_lines.clear();
}
