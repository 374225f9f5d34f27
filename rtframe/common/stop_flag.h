#pragma once

#include <signal.h>

#include <atomic>

// A request to stop that sleeping threads notice at once: request() is
// async-signal-safe, sleep_for() returns early when the flag (or a second
// flag given to it) is raised.
class Stop_Flag {
public:
    Stop_Flag();
    ~Stop_Flag();
    Stop_Flag(const Stop_Flag&) = delete;
    Stop_Flag& operator=(const Stop_Flag&) = delete;

    void request();
    bool is_set() const { return m_requested.load(std::memory_order_acquire); }
    // Lowers the flag again (the process-wide flag between test passes).
    void clear();

    // Sleeps up to milliseconds; true when a request ended or prevented it.
    bool sleep_for(long milliseconds, const Stop_Flag* also = nullptr) const;

private:
    std::atomic<bool> m_requested{false};
    int m_event_fd;
};

// Raised by SIGINT and SIGTERM once install_stop_signal_handlers() ran.
Stop_Flag& process_stop_flag();
void install_stop_signal_handlers();

// SIGINT and SIGTERM blocked in the calling thread, and so in every thread
// it starts afterwards; the mask before the call into previous when given.
// A program that waits for them calls it before it starts any thread.
void block_stop_signals(sigset_t* previous = nullptr);
// Waits up to timeout_ms (0: only looks, below 0: without bound) for a
// blocked SIGINT or SIGTERM; the signal taken, or 0 on time-out.
int wait_for_stop_signal(long timeout_ms);
