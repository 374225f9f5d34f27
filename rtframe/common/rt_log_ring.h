#pragma once

#include <pthread.h>
#include <sched.h>
#include <semaphore.h>
#include <sys/prctl.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <mutex>
#include <string>
#include <thread>

#include "framework_thread.h"

// Log lines of real-time threads, written later by a slower thread: a
// producer formats its line into a fixed slot of the ring, stamped with the
// time of the event, without allocating, locking or blocking; drain() writes
// the waiting lines to standard output in the order they were posted, all in
// one flushed write. Any number of producers; a full ring drops the line and
// counts it, and the next drain reports the count. start() runs a drain
// thread that drains every DRAIN_PERIOD and when woken (a producer wakes it
// at the end of its pass, so that the lines are written soon after the pass
// but never compete with it); stop() ends it and writes what is left.
//
// Format makes the lines of a program:
//   using Level = <its level enum>;
//   static constexpr std::size_t TEXT_SIZE;  // a text's room, its end included
//   static std::string line(Level level, const char* text, const timespec& stamp);
//   static std::string dropped_line(uint64_t count, const timespec& now);
// A plain line is written as its text alone.
template <typename Format>
class Rt_Log_Ring {
public:
    using Level = typename Format::Level;
    static constexpr std::size_t CAPACITY = 256;
    static constexpr std::size_t TEXT_SIZE = Format::TEXT_SIZE;
    static constexpr std::chrono::milliseconds DRAIN_PERIOD{20};

    Rt_Log_Ring()
    {
        for (std::size_t i = 0; i < CAPACITY; ++i)
            m_slots[i].sequence.store(i, std::memory_order_relaxed);
        sem_init(&m_wake, 0, 0);
    }
    ~Rt_Log_Ring()
    {
        stop();
        sem_destroy(&m_wake);
    }
    Rt_Log_Ring(const Rt_Log_Ring&) = delete;
    Rt_Log_Ring& operator=(const Rt_Log_Ring&) = delete;

    // printf-formatted, cut at TEXT_SIZE.
    void post(Level level, const char* format, ...) noexcept __attribute__((format(printf, 3, 4)))
    {
        va_list args;
        va_start(args, format);
        post_v(false, level, format, args);
        va_end(args);
    }
    // A line of its own, without the format's stamp or level.
    void post_plain(const char* format, ...) noexcept __attribute__((format(printf, 2, 3)))
    {
        va_list args;
        va_start(args, format);
        post_v(true, Level{}, format, args);
        va_end(args);
    }
    void post_v(bool plain, Level level, const char* format, va_list args) noexcept
    {
        Slot* slot = claim();
        if (slot == nullptr) {
            m_dropped.fetch_add(1, std::memory_order_relaxed);
            return;
        }
        slot->plain = plain;
        slot->level = level;
        clock_gettime(CLOCK_REALTIME, &slot->stamp);
        std::vsnprintf(slot->text, TEXT_SIZE, format, args);
        slot->sequence.store(slot->claimed + 1, std::memory_order_release);
    }
    // Has the drain thread drain now: one sem_post, only while it sleeps and
    // only when there are lines (a cycle that posted none pays one load).
    void wake() noexcept
    {
        if (m_head.load(std::memory_order_acquire) == m_tail.load(std::memory_order_acquire))
            return;
        if (m_drain_sleeps.load() && m_drain_sleeps.exchange(false))
            sem_post(&m_wake);
    }

    // Writes every line posted in full so far; the number written. A line
    // still being posted waits, with the lines behind it, for the next drain.
    std::size_t drain()
    {
        std::lock_guard<std::mutex> guard(m_drain_mutex);
        std::string lines;
        std::size_t written = 0;
        for (Slot* slot = ready(); slot != nullptr; slot = ready(), ++written) {
            append_line(lines, *slot);
            const uint64_t tail = m_tail.load(std::memory_order_relaxed);
            slot->sequence.store(tail + CAPACITY, std::memory_order_release);
            m_tail.store(tail + 1, std::memory_order_relaxed);
        }
        const uint64_t dropped = m_dropped.exchange(0, std::memory_order_relaxed);
        if (dropped != 0)
            append_dropped(lines, dropped);
        if (!lines.empty()) {
            flockfile(stdout);
            std::fwrite(lines.data(), 1, lines.size(), stdout);
            std::fflush(stdout);
            funlockfile(stdout);
        }
        return written;
    }

    // The drain thread, named thread_name, at SCHED_FIFO fifo_priority (0:
    // the normal policy, also where SCHED_FIFO is refused); a second start
    // is ignored.
    void start(const char* thread_name, int fifo_priority = 0)
    {
        std::lock_guard<std::mutex> guard(m_thread_mutex);
        if (m_thread.joinable())
            return;
        m_stopping = false;
        m_thread = std::thread([this, thread_name, fifo_priority] { drain_run(thread_name, fifo_priority); });
    }
    // Ends the drain thread, if any, and writes what is left.
    void stop()
    {
        std::lock_guard<std::mutex> guard(m_thread_mutex);
        m_stopping = true;
        if (m_thread.joinable()) {
            sem_post(&m_wake);
            m_thread.join();
        }
        drain();
    }

private:
    struct Slot {
        std::atomic<uint64_t> sequence{0};  // == position: free; == position + 1: posted
        uint64_t claimed = 0;               // the position the slot was claimed for
        bool plain = false;
        Level level{};
        timespec stamp{};
        char text[TEXT_SIZE] = {};
    };

    // The slot of the next position, or nullptr when the ring is full.
    Slot* claim() noexcept
    {
        uint64_t position = m_head.load(std::memory_order_relaxed);
        for (;;) {
            Slot& slot = m_slots[position % CAPACITY];
            const uint64_t sequence = slot.sequence.load(std::memory_order_acquire);
            if (sequence < position)
                return nullptr;  // a lap behind: not drained yet
            if (sequence == position &&
                m_head.compare_exchange_weak(position, position + 1, std::memory_order_relaxed)) {
                slot.claimed = position;
                return &slot;
            }
            if (sequence > position)
                position = m_head.load(std::memory_order_relaxed);
        }
    }

    // The next slot to write when it is posted in full.
    Slot* ready() noexcept
    {
        const uint64_t tail = m_tail.load(std::memory_order_relaxed);
        Slot& slot = m_slots[tail % CAPACITY];
        return slot.sequence.load(std::memory_order_acquire) == tail + 1 ? &slot : nullptr;
    }

    static void append_line(std::string& lines, const Slot& slot)
    {
        try {
            lines += slot.plain ? std::string(slot.text) : Format::line(slot.level, slot.text, slot.stamp);
            lines += '\n';
        } catch (const std::bad_alloc&) {
            // no memory for the line: it is lost, the ring goes on
        }
    }

    static void append_dropped(std::string& lines, uint64_t dropped)
    {
        timespec now{};
        clock_gettime(CLOCK_REALTIME, &now);
        try {
            lines += Format::dropped_line(dropped, now);
            lines += '\n';
        } catch (const std::bad_alloc&) {
            // the count is lost with the line
        }
    }

    void drain_run(const char* thread_name, int fifo_priority)
    {
        prctl(PR_SET_NAME, thread_name, 0, 0, 0);
        // Often started from a real-time thread: never keep its priority.
        if (fifo_priority == 0 || set_fifo_priority(fifo_priority) != 0) {
            const sched_param normal{};
            pthread_setschedparam(pthread_self(), SCHED_OTHER, &normal);
        }
        while (!m_stopping) {
            sleep_until_woken();
            drain();
        }
    }

    // Until a wake, a stop or the end of a drain period. A wake between the
    // mark and the look at the ring finds lines there or posts the semaphore.
    void sleep_until_woken()
    {
        m_drain_sleeps.store(true);
        if (ready() == nullptr && !m_stopping) {
            timespec until{};
            clock_gettime(CLOCK_REALTIME, &until);
            until.tv_nsec += std::chrono::nanoseconds(DRAIN_PERIOD).count();
            if (until.tv_nsec >= 1000000000L) {
                until.tv_sec += 1;
                until.tv_nsec -= 1000000000L;
            }
            while (sem_timedwait(&m_wake, &until) != 0 && errno == EINTR) {
            }
        }
        m_drain_sleeps.store(false);
    }

    std::array<Slot, CAPACITY> m_slots;
    std::atomic<uint64_t> m_head{0};  // next position a producer claims
    std::atomic<uint64_t> m_tail{0};  // next position drain() writes (written under m_drain_mutex)
    std::atomic<uint64_t> m_dropped{0};
    std::mutex m_drain_mutex;

    std::mutex m_thread_mutex;  // start() and stop()
    std::atomic<bool> m_stopping{false};
    std::atomic<bool> m_drain_sleeps{false};
    sem_t m_wake;
    std::thread m_thread;
};
