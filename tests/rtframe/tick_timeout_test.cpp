#include <gtest/gtest.h>

#include "tick_timeout.h"

namespace {
struct Timeout_Case {
    uint32_t cycle_ns;
    uint32_t watchdog;
    uint32_t expected_ms;
};

void PrintTo(const Timeout_Case& c, std::ostream* os)
{
    *os << c.cycle_ns << " ns, watchdog " << c.watchdog;
}

class Tick_Timeout : public testing::TestWithParam<Timeout_Case> {};

TEST_P(Tick_Timeout, CoversTheWholeWindowInWholeMilliseconds)
{
    EXPECT_EQ(master_tick_timeout_ms(GetParam().cycle_ns, GetParam().watchdog), GetParam().expected_ms);
}

INSTANTIATE_TEST_SUITE_P(Cases, Tick_Timeout,
                         testing::Values(Timeout_Case{1000000, 10, 11},  // whole milliseconds as they are
                                         Timeout_Case{100000, 0, 1},     // 100 us: never 0 ms
                                         Timeout_Case{250000, 3, 1},     // 4 x 250 us = exactly 1 ms
                                         Timeout_Case{250000, 4, 2},     // 1.25 ms rounded up
                                         Timeout_Case{2500000, 4, 13},   // 12.5 ms, not 2 x 5
                                         Timeout_Case{2000000000, 0xFFFFFFFFu, 0xFFFFFFFFu}));  // saturates
}  // namespace
