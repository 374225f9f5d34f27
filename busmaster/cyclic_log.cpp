#include "cyclic_log.h"

#include <pthread.h>
#include <sched.h>
#include <sys/prctl.h>

#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <string>

void Cyclic_Log::push(Ecm_Log_Level level, const char* format, ...) noexcept
{
    const std::size_t head = m_head.load(std::memory_order_relaxed);
    if (head - m_tail.load(std::memory_order_acquire) >= LINES) {
        m_dropped.fetch_add(1, std::memory_order_relaxed);
        return;
    }
    Line& line = m_ring[head % LINES];
    line.level = level;
    va_list args;
    va_start(args, format);
    std::vsnprintf(line.text, ROOM, format, args);
    va_end(args);
    m_head.store(head + 1, std::memory_order_release);
}

void Cyclic_Log::drain()
{
    std::size_t tail = m_tail.load(std::memory_order_relaxed);
    const std::size_t head = m_head.load(std::memory_order_acquire);
    while (tail != head) {
        const Line& line = m_ring[tail % LINES];
        try {
            ecm_log(line.level, line.text);
        } catch (...) {
            // no memory for the line: it is lost, the ring goes on
        }
        ++tail;
        m_tail.store(tail, std::memory_order_release);
    }
    const uint32_t lost = m_dropped.exchange(0, std::memory_order_relaxed);
    if (lost != 0)
        ecm_log_war("cyclic thread: " + std::to_string(lost) + " log lines dropped");
}

void Cyclic_Log::start()
{
    if (m_running.exchange(true))
        return;
    m_thread = std::thread([this] {
        prctl(PR_SET_NAME, "xelo_ecat_cyclog", 0, 0, 0);
        // Started from the cyclic thread: leave its real-time priority.
        sched_param normal{};
        pthread_setschedparam(pthread_self(), SCHED_OTHER, &normal);
        while (m_running.load()) {
            drain();
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    });
}

void Cyclic_Log::stop()
{
    if (m_running.exchange(false) && m_thread.joinable())
        m_thread.join();
    drain();
}
