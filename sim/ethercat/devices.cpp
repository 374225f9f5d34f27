#include "devices.h"

#include <stdexcept>

#include "drive_device.h"

namespace ecat_sim {

uint64_t extract_bits(const uint8_t* buffer, uint32_t bit_offset, uint8_t bits)
{
    uint64_t value = 0;
    for (uint8_t i = 0; i < bits; ++i) {
        const uint32_t b = bit_offset + i;
        if ((buffer[b / 8] >> (b % 8)) & 1) {
            value |= uint64_t{1} << i;
        }
    }
    return value;
}

void insert_bits(uint8_t* buffer, uint32_t bit_offset, uint8_t bits, uint64_t value)
{
    for (uint8_t i = 0; i < bits; ++i) {
        const uint32_t b = bit_offset + i;
        const uint8_t mask = static_cast<uint8_t>(1u << (b % 8));
        buffer[b / 8] = static_cast<uint8_t>(((value >> i) & 1) ? buffer[b / 8] | mask : buffer[b / 8] & ~mask);
    }
}

void add_standard_objects(Table_Dictionary& d, const Slave_Config& config, uint32_t device_type)
{
    d.add(0x1000, 0, 32, Access::RO, device_type);
    d.add_string(0x1008, 0, Access::RO, config.name.substr(0, Table_Dictionary::MAX_VALUE));
    d.add_array(0x1018, 32, Access::RO,
                {config.vendor, config.product, config.revision, config.serial});  // dio: the file's
    if (config.has_mailbox()) {
        d.add_array(0x1C00, 8, Access::RO, {1, 2, 3, 4});
    } else {
        d.add_array(0x1C00, 8, Access::RO, {3, 4});
    }
    for (uint16_t index : {uint16_t{0x1C32}, uint16_t{0x1C33}}) {
        d.add(index, 0, 8, Access::RO, 6);
        d.add(index, 1, 16, Access::RW_PREOP, 0);        // sync mode: free run
        d.add(index, 2, 32, Access::RW_PREOP, 1000000);  // cycle time ns
        d.add(index, 3, 32, Access::RO, 0);              // shift time ns
        d.add(index, 4, 16, Access::RO, 0x0007);         // free run, SM event, DC SYNC0
        d.add(index, 5, 32, Access::RO, 125000);         // minimum cycle time ns
        d.add(index, 6, 32, Access::RO, 20000);          // calc and copy time ns
    }
}

void add_mapping(Table_Dictionary& d, uint16_t index, std::vector<uint64_t> entries, uint8_t capacity)
{
    uint32_t bits = 0;
    for (uint64_t entry : entries) {
        bits += static_cast<uint32_t>(entry & 0xFF);
    }
    if (bits % 8 != 0) {
        entries.push_back(8 - bits % 8);  // padding to a whole byte
    }
    d.add_array(index, 32, Access::RW_PREOP, entries, capacity, Access::RW_PREOP);
}

void add_assignment(Table_Dictionary& d, uint16_t index, const std::vector<uint64_t>& mappings, uint8_t capacity)
{
    d.add_array(index, 16, Access::RW_PREOP, mappings, capacity, Access::RW_PREOP);
}

void Table_Device::cycle(const Pdo_Layout& rx, const uint8_t* outputs, bool outputs_valid, const Pdo_Layout& tx,
                         uint8_t* inputs, int64_t now_ns)
{
    if (outputs_valid) {
        for (size_t i = 0; i < rx.count; ++i) {
            const Pdo_Entry& entry = rx.entries[i];
            if (entry.index != 0 && m_dictionary.has(entry.index, entry.sub)) {
                m_dictionary.set(entry.index, entry.sub, extract_bits(outputs, entry.bit_offset, entry.bits));
            }
        }
    }
    update(outputs_valid, now_ns);
    for (size_t i = 0; i < tx.count; ++i) {
        const Pdo_Entry& entry = tx.entries[i];
        const uint64_t value =
            entry.index != 0 && m_dictionary.has(entry.index, entry.sub) ? m_dictionary.get(entry.index, entry.sub) : 0;
        insert_bits(inputs, entry.bit_offset, entry.bits, value);
    }
}

bool Table_Device::set_value(uint16_t index, uint8_t sub, int64_t value)
{
    if (!m_dictionary.has(index, sub)) {
        return false;
    }
    m_dictionary.set(index, sub, static_cast<uint64_t>(value));
    return true;
}

bool Table_Device::get_value(uint16_t index, uint8_t sub, int64_t& value)
{
    if (!m_dictionary.has(index, sub)) {
        return false;
    }
    value = static_cast<int64_t>(m_dictionary.get(index, sub));
    return true;
}

Digital_Io::Digital_Io(const Slave_Config& config) : m_outputs(config.dio_outputs)
{
    add_standard_objects(m_dictionary, config, 0x00001389);
    std::vector<uint64_t> rx, tx;
    for (int i = 1; i <= config.dio_outputs; ++i) {
        m_dictionary.add(0x7000, static_cast<uint8_t>(i), 1, Access::RW, 0);
        rx.push_back((uint64_t{0x7000} << 16) | (static_cast<uint64_t>(i) << 8) | 1);
    }
    for (int i = 1; i <= config.dio_inputs; ++i) {
        m_dictionary.add(0x6000, static_cast<uint8_t>(i), 1, Access::RO, 0);
        tx.push_back((uint64_t{0x6000} << 16) | (static_cast<uint64_t>(i) << 8) | 1);
    }
    if (config.dio_outputs > 0) {
        m_dictionary.add(0x7000, 0, 8, Access::RO, static_cast<uint64_t>(config.dio_outputs));
    }
    if (config.dio_inputs > 0) {
        m_dictionary.add(0x6000, 0, 8, Access::RO, static_cast<uint64_t>(config.dio_inputs));
    }
    add_mapping(m_dictionary, 0x1600, rx, 64);
    add_mapping(m_dictionary, 0x1A00, tx, 64);
    add_assignment(m_dictionary, 0x1C12, rx.empty() ? std::vector<uint64_t>{} : std::vector<uint64_t>{0x1600}, 1);
    add_assignment(m_dictionary, 0x1C13, tx.empty() ? std::vector<uint64_t>{} : std::vector<uint64_t>{0x1A00}, 1);
}

void Digital_Io::update(bool outputs_valid, int64_t now_ns)
{
    (void)now_ns;
    if (!outputs_valid) {
        for (int i = 1; i <= m_outputs; ++i) {
            m_dictionary.set(0x7000, static_cast<uint8_t>(i), 0);
        }
    }
}

std::unique_ptr<Device> make_device(const Slave_Config& config)
{
    switch (config.device) {
    case Device_Kind::NONE: return nullptr;
    case Device_Kind::DIO: return std::make_unique<Digital_Io>(config);
    case Device_Kind::CIA402: return std::make_unique<Drive_Device>(config);
    }
    return nullptr;
}

}  // namespace ecat_sim
