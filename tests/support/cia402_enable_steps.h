#pragma once

// The control words that take a CiA 402 drive from Fault to operation
// enabled, each with the status word it reaches (under the mask), as a client
// writes them one after the other.

#include <array>
#include <cstdint>
#include <vector>

struct Cia402_Enable_Step {
    uint16_t control;
    uint16_t mask;
    uint16_t status;
};

inline constexpr std::array<Cia402_Enable_Step, 4> CIA402_ENABLE_STEPS = {{
    {0x0080, 0x4F, 0x40},  // fault reset: switch on disabled
    {0x0006, 0x6F, 0x21},  // shutdown: ready to switch on
    {0x0007, 0x6F, 0x23},  // switch on: switched on
    {0x000F, 0x6F, 0x27},  // enable operation: operation enabled
}};

// The same without the separate switch on: enable operation from ready to
// switch on passes through switched on by itself.
inline std::vector<Cia402_Enable_Step> cia402_enable_steps_without_switch_on()
{
    return {CIA402_ENABLE_STEPS[0], CIA402_ENABLE_STEPS[1], CIA402_ENABLE_STEPS[3]};
}
