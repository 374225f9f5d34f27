#pragma once

// The application behind a simulated slave controller.

#include <cstddef>
#include <cstdint>

#include "coe_dictionary.h"
#include "ecat_wire.h"

namespace ecat_sim {

struct Emergency {
    uint16_t code = 0;
    uint8_t error_register = 0;
    uint8_t data[5] = {};
};

class Device {
public:
    virtual ~Device() = default;
    // The object dictionary (the PDO assignment and mapping objects give the
    // process data layout); served over CoE when the slave has a mailbox.
    virtual Coe_Dictionary& dictionary() = 0;
    virtual void state_changed(Al_State state) = 0;
    // One application cycle, run after every frame in SAFE-OP and OP:
    // outputs as last received (applied only when outputs_valid, i.e. in OP
    // with a buffer received), inputs to be filled.
    virtual void cycle(const Pdo_Layout& rx, const uint8_t* outputs, bool outputs_valid, const Pdo_Layout& tx,
                       uint8_t* inputs, int64_t now_ns) = 0;
    // Called every millisecond while no cycle has run for IDLE_AFTER_NS (no
    // frames, or below SAFE-OP): a device that reacts to the lost master
    // goes on with it here.
    static constexpr int64_t IDLE_AFTER_NS = 10000000;
    virtual void idle(int64_t now_ns) { (void)now_ns; }
    // An emergency the device wants sent; false when none is waiting.
    virtual bool take_emergency(Emergency& emergency)
    {
        (void)emergency;
        return false;
    }
    // Values set and read from outside (digital inputs, drive inputs); false
    // for an object the device does not have.
    virtual bool set_value(uint16_t index, uint8_t sub, int64_t value) = 0;
    virtual bool get_value(uint16_t index, uint8_t sub, int64_t& value) = 0;
    // The warning bit of a drive set or cleared; false when the device has none.
    virtual bool set_warning(bool active)
    {
        (void)active;
        return false;
    }
    // A fault with its error code; false when the device has no faults.
    virtual bool inject_fault(uint16_t code)
    {
        (void)code;
        return false;
    }
};

// Copies mapped bits between a process-data buffer and 64-bit values.
uint64_t extract_bits(const uint8_t* buffer, uint32_t bit_offset, uint8_t bits);
void insert_bits(uint8_t* buffer, uint32_t bit_offset, uint8_t bits, uint64_t value);

}  // namespace ecat_sim
