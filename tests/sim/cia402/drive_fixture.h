#pragma once

#include <gtest/gtest.h>

#include "cia402_drive.h"

// A drive stepped at 1 ms, with helpers to send controlwords the way a master does.
class Drive_Fixture : public ::testing::Test {
protected:
    static constexpr double DT = 0.001;

    explicit Drive_Fixture(sim::Drive_Options options = sim::Drive_Options{}) : drive(options) {}

    void cycle(uint16_t cw, int steps = 1)
    {
        drive.set_control_word(cw);
        for (int i = 0; i < steps; ++i)
            drive.step(DT);
    }
    // 0x00, 0x80, 0x06, 0x07, 0x0F: ends in Operation enabled.
    void power_up()
    {
        for (uint16_t cw : {0x00, 0x80, 0x06, 0x07, 0x0F})
            cycle(static_cast<uint16_t>(cw));
    }
    void set_mode(int8_t mode)
    {
        ASSERT_EQ(drive.sdo_write(0x6060, 0, sim::to_bytes<int8_t>(mode)), 0u);
        cycle(drive.control_word());
    }
    template <typename T>
    void sdo_set(uint16_t index, uint8_t sub, T value)
    {
        ASSERT_EQ(drive.sdo_write(index, sub, sim::to_bytes<T>(value)), 0u) << std::hex << index;
    }
    // Steps with the controlword unchanged until the statusword matches or the limit passes.
    bool step_until(uint16_t mask, uint16_t value, int limit = 100000)
    {
        for (int i = 0; i < limit; ++i) {
            if ((drive.status_word() & mask) == value)
                return true;
            drive.step(DT);
        }
        return (drive.status_word() & mask) == value;
    }
    uint16_t state_bits() const { return drive.status_word() & 0x6F; }

    sim::Cia402_Drive drive;
};
