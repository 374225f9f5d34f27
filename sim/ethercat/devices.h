#pragma once

// The devices a simulated slave can carry, and the standard objects they share.

#include <memory>

#include "coe_dictionary.h"
#include "device.h"
#include "segment_config.h"

namespace ecat_sim {

// Null for an ESC-only slave (device none).
std::unique_ptr<Device> make_device(const Slave_Config& config);

// 0x1000, 0x1008, 0x1018, 0x1C00, 0x1C32 and 0x1C33 of a slave.
void add_standard_objects(Table_Dictionary& dictionary, const Slave_Config& config, uint32_t device_type);
// A mapping object (0x1600.. or 0x1A00..) with entries (index << 16 | sub << 8 | bits),
// padded to whole bytes, writable in PRE-OP, with room for capacity entries.
void add_mapping(Table_Dictionary& dictionary, uint16_t index, std::vector<uint64_t> entries, uint8_t capacity);
// An assignment object (0x1C12 / 0x1C13) naming the given mapping objects.
void add_assignment(Table_Dictionary& dictionary, uint16_t index, const std::vector<uint64_t>& mappings,
                    uint8_t capacity);

// A device whose objects live in a Table_Dictionary: the cycle copies the
// mapped outputs into the objects, runs update and copies the objects into
// the mapped inputs.
class Table_Device : public Device {
public:
    Coe_Dictionary& dictionary() override { return m_dictionary; }
    void state_changed(Al_State state) override { (void)state; }
    void cycle(const Pdo_Layout& rx, const uint8_t* outputs, bool outputs_valid, const Pdo_Layout& tx, uint8_t* inputs,
               int64_t now_ns) override;
    bool set_value(uint16_t index, uint8_t sub, int64_t value) override;
    bool get_value(uint16_t index, uint8_t sub, int64_t& value) override;

protected:
    // The application between outputs and inputs.
    virtual void update(bool outputs_valid, int64_t now_ns) = 0;
    Table_Dictionary m_dictionary;
};

// Digital I/O: outputs 0x7000:n and inputs 0x6000:n, one bit each. Outputs
// read 0 outside OP (safe state); inputs are set from outside.
class Digital_Io : public Table_Device {
public:
    explicit Digital_Io(const Slave_Config& config);

protected:
    void update(bool outputs_valid, int64_t now_ns) override;

private:
    int m_outputs;
};

}  // namespace ecat_sim
