#pragma once

#include <array>
#include <atomic>
#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <ctime>
#include <mutex>

#include "robust_mutex.h"
#include "xelo_log.h"

// Log lines of the real-time thread, written later by a slower thread: the
// cycle formats a line into a fixed ring, stamped with the time of the
// event, without allocating, locking or blocking; drain() writes the lines
// in the log-line format. One producer (the real-time thread); a full ring
// drops the line and counts it.
class Rt_Log final : public Lock_Log_Sink {
public:
    static constexpr std::size_t CAPACITY = 256;
    static constexpr std::size_t TEXT_SIZE = 640;

    void post(Log_Level level, const char* format, ...) __attribute__((format(printf, 3, 4)));
    // A line of its own, without timestamp or level.
    void post_plain(const char* format, ...) __attribute__((format(printf, 2, 3)));
    // Writes every pending line to standard output; the number written.
    std::size_t drain();
    // A lock's line, queued like any other.
    void write(Log_Level level, const char* text) noexcept override { post(level, "%s", text); }

private:
    struct Entry {
        bool plain = false;
        Log_Level level = Log_Level::INF;
        timespec ts{};
        char text[TEXT_SIZE] = {};
    };

    void post_entry(bool plain, Log_Level level, const char* format, va_list args);

    std::array<Entry, CAPACITY> m_entries;
    std::atomic<uint64_t> m_head{0};  // next entry the producer writes
    std::atomic<uint64_t> m_tail{0};  // next entry drain() writes
    std::atomic<uint64_t> m_dropped{0};
    std::mutex m_drain_mutex;
};
