#pragma once

#include <cstdint>

// The master-offline tick: a periodic CLOCK_MONOTONIC timerfd, owned and
// closed by this object.
class Periodic_Timer {
public:
    Periodic_Timer() = default;
    ~Periodic_Timer();
    Periodic_Timer(const Periodic_Timer&) = delete;
    Periodic_Timer& operator=(const Periodic_Timer&) = delete;

    // Creates and arms the timer; throws " Error on set thread periodic err :: ...".
    void make_periodic_ex(uint32_t period_ns);
    // Blocks until the next expiration; the expirations since the last call
    // (1 normally, more after missed periods), or -1 when the read failed.
    int64_t wait_period();

private:
    int m_timer_fd = -1;
};
