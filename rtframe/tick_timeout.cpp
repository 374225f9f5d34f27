#include "tick_timeout.h"

#include <limits>

uint32_t master_tick_timeout_ms(uint32_t master_cycle_time_ns, uint32_t watchdog_to_master)
{
    const uint64_t window_ns =
        static_cast<uint64_t>(master_cycle_time_ns) * (static_cast<uint64_t>(watchdog_to_master) + 1);
    const uint64_t milliseconds = (window_ns + 999999u) / 1000000u;
    return milliseconds > std::numeric_limits<uint32_t>::max() ? std::numeric_limits<uint32_t>::max()
                                                               : static_cast<uint32_t>(milliseconds);
}
