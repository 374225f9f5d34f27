#include "rt_log.h"

#include <cstdarg>
#include <cstdio>
#include <string>

void Rt_Log::post(Log_Level level, const char* format, ...)
{
    va_list args;
    va_start(args, format);
    post_entry(false, level, format, args);
    va_end(args);
}

void Rt_Log::post_plain(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    post_entry(true, Log_Level::INF, format, args);
    va_end(args);
}

void Rt_Log::post_entry(bool plain, Log_Level level, const char* format, va_list args)
{
    const uint64_t head = m_head.load(std::memory_order_relaxed);
    if (head - m_tail.load(std::memory_order_acquire) >= CAPACITY) {
        m_dropped.fetch_add(1, std::memory_order_relaxed);
        return;
    }
    Entry& entry = m_entries[head % CAPACITY];
    entry.plain = plain;
    entry.level = level;
    clock_gettime(CLOCK_REALTIME, &entry.ts);
    std::vsnprintf(entry.text, TEXT_SIZE, format, args);
    m_head.store(head + 1, std::memory_order_release);
}

std::size_t Rt_Log::drain()
{
    std::lock_guard<std::mutex> guard(m_drain_mutex);
    std::size_t written = 0;
    uint64_t tail = m_tail.load(std::memory_order_relaxed);
    const uint64_t head = m_head.load(std::memory_order_acquire);
    std::string lines;
    for (; tail != head; ++tail, ++written) {
        const Entry& entry = m_entries[tail % CAPACITY];
        lines += entry.plain ? std::string(entry.text) : format_log_line(entry.level, entry.text, entry.ts);
        lines += '\n';
    }
    m_tail.store(tail, std::memory_order_release);
    const uint64_t dropped = m_dropped.exchange(0, std::memory_order_relaxed);
    if (dropped != 0) {
        timespec now{};
        clock_gettime(CLOCK_REALTIME, &now);
        lines +=
            format_log_line(Log_Level::WAR, std::to_string(dropped) + " real-time log lines dropped (ring full)", now) +
            '\n';
    }
    if (!lines.empty()) {
        flockfile(stdout);
        std::fwrite(lines.data(), 1, lines.size(), stdout);
        std::fflush(stdout);
        funlockfile(stdout);
    }
    return written;
}
