#pragma once

// Time arithmetic of the manager's waits and deadlines; internal to the
// library. Nothing here allocates.

#include <time.h>

#include <cerrno>
#include <cstdint>
#include <limits>

namespace shm_manager_clock {

constexpr uint64_t NS_PER_S = 1000000000ULL;

// now + timeout_ns, saturating at the largest time the clock can express.
inline timespec deadline_after(const timespec& now, uint64_t timeout_ns)
{
    const uint64_t total_ns = static_cast<uint64_t>(now.tv_nsec) + timeout_ns % NS_PER_S;
    const uint64_t seconds = timeout_ns / NS_PER_S + total_ns / NS_PER_S;
    constexpr auto max_seconds = std::numeric_limits<time_t>::max();
    timespec deadline{};
    if (now.tv_sec < 0 || seconds > static_cast<uint64_t>(max_seconds - now.tv_sec)) {
        deadline.tv_sec = max_seconds;
        deadline.tv_nsec = static_cast<long>(NS_PER_S - 1);
        return deadline;
    }
    deadline.tv_sec = now.tv_sec + static_cast<time_t>(seconds);
    deadline.tv_nsec = static_cast<long>(total_ns % NS_PER_S);
    return deadline;
}

// A wait of timeout_ms milliseconds in whole nanoseconds (fractions cut),
// saturated instead of wrapping.
inline uint64_t ms_to_ns(double timeout_ms)
{
    const double ns = timeout_ms * 1e6;
    if (!(ns > 0.0))
        return 0;
    if (ns >= 18446744073709549568.0)  // the largest double below 2^64
        return std::numeric_limits<uint64_t>::max();
    return static_cast<uint64_t>(ns);
}

// a strictly later than b: seconds first, then nanoseconds; signed.
inline bool is_later(int64_t a_sec, int64_t a_nsec, int64_t b_sec, int64_t b_nsec)
{
    return a_sec > b_sec || (a_sec == b_sec && a_nsec > b_nsec);
}

inline bool is_later(const timespec& a, const timespec& b)
{
    return is_later(a.tv_sec, a.tv_nsec, b.tv_sec, b.tv_nsec);
}

// A relative sleep on the monotonic clock that signals do not cut short.
inline void sleep_monotonic_ns(long ns)
{
    timespec pause{0, ns};
    while (clock_nanosleep(CLOCK_MONOTONIC, 0, &pause, &pause) == EINTR) {
    }
}

}  // namespace shm_manager_clock
