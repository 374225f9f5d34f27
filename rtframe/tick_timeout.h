#pragma once

#include <cstdint>

// Time-out of one wait for the master's tick in whole milliseconds: the time
// of (watchdog_to_master + 1) master cycles, rounded up, so that a cycle
// below one millisecond (or a fraction of one) never shortens the window
// and never gives 0 ms.
uint32_t master_tick_timeout_ms(uint32_t master_cycle_time_ns, uint32_t watchdog_to_master);
