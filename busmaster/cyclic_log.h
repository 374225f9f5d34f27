#pragma once

// Log lines of the cyclic thread: formatted into a fixed ring without
// allocation and written out by a drain thread, so that the cycle never
// waits on standard output. One producer (the cyclic thread), one consumer.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <thread>

#include "ecm_log.h"

class Cyclic_Log {
public:
    Cyclic_Log() = default;
    ~Cyclic_Log() { stop(); }
    Cyclic_Log(const Cyclic_Log&) = delete;
    Cyclic_Log& operator=(const Cyclic_Log&) = delete;

    // printf-formatted, cut at the line room; a full ring counts the line as dropped.
    void push(Ecm_Log_Level level, const char* format, ...) noexcept __attribute__((format(printf, 3, 4)));
    // The drain thread (not real-time), until stop(), which writes what is left.
    void start();
    void stop();
    // Writes the waiting lines now (from the consumer side only).
    void drain();
    uint32_t dropped() const { return m_dropped.load(std::memory_order_relaxed); }

private:
    static constexpr std::size_t LINES = 256;
    static constexpr std::size_t ROOM = 240;
    struct Line {
        Ecm_Log_Level level;
        char text[ROOM];
    };
    Line m_ring[LINES]{};
    std::atomic<std::size_t> m_head{0};  // next to write
    std::atomic<std::size_t> m_tail{0};  // next to read
    std::atomic<uint32_t> m_dropped{0};
    std::atomic<bool> m_running{false};
    std::thread m_thread;
};

// True in the cyclic thread: its own acyclic datagrams skip the frame gate,
// which only its own frames open.
bool ecm_in_cyclic_thread();
