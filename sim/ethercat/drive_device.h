#pragma once

// The CiA 402 drive model bound to a slave controller: SDOs reach its object
// dictionary, process data move through its PDO mapping objects, one drive
// step per frame in SAFE-OP and OP.

#include <memory>
#include <vector>

#include "cia402_drive.h"
#include "device.h"
#include "segment_config.h"

namespace ecat_sim {

// What the CoE server needs, over the drive's object dictionary.
class Drive_Dictionary : public Coe_Dictionary {
public:
    explicit Drive_Dictionary(sim::Cia402_Drive& drive) : m_drive(drive) {}
    uint32_t upload(uint16_t index, uint8_t sub, bool complete, uint8_t* out, size_t room, size_t& size) override;
    uint32_t download(uint16_t index, uint8_t sub, bool complete, const uint8_t* data, size_t size) override;
    void set_al_state(Al_State state) override;

private:
    sim::Cia402_Drive& m_drive;
    std::vector<uint8_t> m_buffer;
};

class Drive_Device : public Device {
public:
    explicit Drive_Device(const Slave_Config& config);
    Coe_Dictionary& dictionary() override { return m_dictionary; }
    void state_changed(Al_State state) override;
    void cycle(const Pdo_Layout& rx, const uint8_t* outputs, bool outputs_valid, const Pdo_Layout& tx, uint8_t* inputs,
               int64_t now_ns) override;
    // Steps the drive while its communication-loss reaction runs.
    void idle(int64_t now_ns) override;
    bool take_emergency(Emergency& emergency) override;
    bool set_value(uint16_t index, uint8_t sub, int64_t value) override;
    bool get_value(uint16_t index, uint8_t sub, int64_t& value) override;
    // Code 0 removes the cause of an injected fault (a reset edge then clears it).
    bool inject_fault(uint16_t code) override;
    bool set_warning(bool active) override;
    sim::Cia402_Drive& drive() { return *m_drive; }

private:
    std::unique_ptr<sim::Cia402_Drive> m_drive;
    Drive_Dictionary m_dictionary;
    int64_t m_last_step = 0;
    std::vector<sim::Emergency> m_emergencies;
    size_t m_next_emergency = 0;
    std::vector<uint8_t> m_value[9];  // values of 0..8 bytes, sized once: the cycle does not allocate
};

}  // namespace ecat_sim
