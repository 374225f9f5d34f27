// The arithmetic of the acyclic window and of the acyclic time-out.
#include <gtest/gtest.h>

#include "nicdrv.h"

namespace {
struct Window_Case {
    timespec start;
    unsigned int period_ns;
    timespec end;
};
}  // namespace

TEST(FrameGateRules, WindowClosesHalfAPeriodRoundedUpAfterTheCyclicFrame)
{
    const Window_Case cases[] = {
        {{10, 0}, 1000000, {10, 500000}},
        {{10, 0}, 1000001, {10, 500001}},
        {{10, 999800000}, 800000, {11, 200000}},
        {{3, 999999999}, 2, {4, 0}},
    };
    for (const Window_Case& c : cases) {
        const timespec end = ec_acyclic_window_end(c.start, c.period_ns);
        EXPECT_EQ(end.tv_sec, c.end.tv_sec) << c.period_ns;
        EXPECT_EQ(end.tv_nsec, c.end.tv_nsec) << c.period_ns;
    }
}

TEST(FrameGateRules, AcyclicTimeOutIsHalfTheCycleButAtLeastFiftyMicroseconds)
{
    struct Case {
        bool running;
        uint32_t cycle_us;
        unsigned int requested;
        unsigned int expected;
    };
    const Case cases[] = {
        {false, 1000, 1000, 1000},  // no cyclic exchange: the caller's own
        {false, 60, 70000, 70000}, {true, 1000, 1000, 500},   {true, 60, 1000, 50},  // 30 is raised to 50
        {true, 0, 1000, 50},       {true, 4000, 70000, 2000},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ec_acyclic_timeout_us(c.running, c.cycle_us, c.requested), c.expected)
            << c.running << " " << c.cycle_us << " " << c.requested;
}
