#pragma once
// CiA 402 control word commands and bits, status word bits and the power
// states as the status word reports them.

#include <cstdint>

namespace cia402 {
// Control word commands (bits 0-3).
constexpr uint16_t CW_CMD_DISABLE_VOLTAGE = 0x00;
constexpr uint16_t CW_CMD_SHUTDOWN = 0x06;
constexpr uint16_t CW_CMD_SWITCH_ON = 0x07;
constexpr uint16_t CW_CMD_ENABLE_OPERATION = 0x0F;

// Control word bits.
constexpr uint16_t CW_DISABLE_VOLTAGE = 0x02;
constexpr uint16_t CW_QUICK_STOP = 0x04;
constexpr uint16_t CW_BIT4 = 0x10;
constexpr uint16_t CW_CHANGE_IMMEDIATELY = 0x20;
constexpr uint16_t CW_RELATIVE = 0x40;
constexpr uint16_t CW_FAULT_RESET = 0x80;
constexpr uint16_t CW_HALT = 0x100;

// Status word bits.
constexpr uint16_t SW_FAULT = 0x08;
constexpr uint16_t SW_QUICK_STOP = 0x20;
constexpr uint16_t SW_SWITCH_ON_DISABLED = 0x40;
constexpr uint16_t SW_TARGET_REACHED = 0x400;
constexpr uint16_t SW_WARNING_AND_LIMIT = 0x880;
constexpr uint16_t SW_BIT12 = 0x1000;
constexpr uint16_t SW_BIT13 = 0x2000;
constexpr uint16_t SW_YASKAWA_ALARM = 0x8000;

// The drive's power states as its status word reports them (state bits under
// their mask): a power-up step waits for the state it asked for, so a status
// word from before a detorque or a fault never passes for the answer.
struct Power_State_Pattern {
    uint16_t mask;
    uint16_t value;
};
constexpr Power_State_Pattern SWITCH_ON_DISABLED{0x4F, 0x40};
constexpr Power_State_Pattern READY_TO_SWITCH_ON{0x6F, 0x21};
constexpr Power_State_Pattern SWITCHED_ON{0x6F, 0x23};
constexpr Power_State_Pattern OPERATION_ENABLED{0x6F, 0x27};

constexpr bool reports(uint16_t sw, Power_State_Pattern state)
{
    return (sw & state.mask) == state.value;
}
}  // namespace cia402
