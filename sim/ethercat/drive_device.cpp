#include "drive_device.h"

#include <algorithm>
#include <cstring>

namespace ecat_sim {

namespace {

sim::Device_State device_state(Al_State state)
{
    switch (state) {
    case AL_PREOP: return sim::STATE_PRE_OP;
    case AL_SAFEOP: return sim::STATE_SAFE_OP;
    case AL_OP: return sim::STATE_OP;
    default: return sim::STATE_INIT;
    }
}

bool is_signed(sim::Data_Type type)
{
    return type == sim::Data_Type::INTEGER8 || type == sim::Data_Type::INTEGER16 || type == sim::Data_Type::INTEGER32 ||
           type == sim::Data_Type::INTEGER64;
}

}  // namespace

uint32_t Drive_Dictionary::upload(uint16_t index, uint8_t sub, bool complete, uint8_t* out, size_t room, size_t& size)
{
    size = 0;
    m_buffer.clear();
    const uint32_t abort =
        complete ? m_drive.dictionary().read_complete(index, sub, m_buffer) : m_drive.sdo_read(index, sub, m_buffer);
    if (abort != 0) {
        return abort;
    }
    if (m_buffer.size() > room) {
        return abort_code::TOO_LONG;
    }
    std::memcpy(out, m_buffer.data(), m_buffer.size());
    size = m_buffer.size();
    return 0;
}

uint32_t Drive_Dictionary::download(uint16_t index, uint8_t sub, bool complete, const uint8_t* data, size_t size)
{
    m_buffer.assign(data, data + size);
    return complete ? m_drive.dictionary().write_complete(index, sub, m_buffer)
                    : m_drive.sdo_write(index, sub, m_buffer);
}

void Drive_Dictionary::set_al_state(Al_State state)
{
    m_drive.dictionary().set_state(device_state(state));
}

Drive_Device::Drive_Device(const Slave_Config& config)
    : m_drive([&config] {
          sim::Drive_Options options;
          options.vendor = sim::vendor_from_name(config.profile);
          options.leaving_op = config.leaving_op == "ignore"               ? sim::Leaving_Op::IGNORE
                               : config.leaving_op == "switch_on_disabled" ? sim::Leaving_Op::SWITCH_ON_DISABLED
                                                                           : sim::Leaving_Op::FAULT;
          return std::make_unique<sim::Cia402_Drive>(options);
      }()),
      m_dictionary(*m_drive)
{
    for (size_t size = 0; size < 9; ++size) {
        m_value[size].assign(size, 0);
    }
    const uint32_t identity[4] = {config.vendor, config.product, config.revision, config.serial};
    for (uint8_t sub = 1; sub <= 4; ++sub) {
        if (config.identity_given[sub - 1]) {
            m_drive->dictionary().set<uint32_t>(0x1018, sub, identity[sub - 1]);
        }
    }
    m_drive->dictionary().set_state(sim::STATE_INIT);
}

void Drive_Device::state_changed(Al_State state)
{
    m_drive->set_device_state(device_state(state));
}

void Drive_Device::cycle(const Pdo_Layout& rx, const uint8_t* outputs, bool outputs_valid, const Pdo_Layout& tx,
                         uint8_t* inputs, int64_t now_ns)
{
    sim::Object_Dictionary& od = m_drive->dictionary();
    if (outputs_valid) {
        for (size_t i = 0; i < rx.count; ++i) {
            const Pdo_Entry& entry = rx.entries[i];
            const sim::Entry* object = entry.index != 0 ? od.find(entry.index, entry.sub) : nullptr;
            if (object == nullptr || object->value.size() > 8) {
                continue;
            }
            uint8_t bytes[8];
            put64(bytes, extract_bits(outputs, entry.bit_offset, entry.bits));
            std::vector<uint8_t>& value = m_value[object->value.size()];
            std::copy(bytes, bytes + value.size(), value.begin());
            od.set_bytes(entry.index, entry.sub, value);
        }
    }
    const double dt = m_last_step == 0 ? 0.001 : static_cast<double>(now_ns - m_last_step) / 1e9;
    m_last_step = now_ns;
    m_drive->step(dt);
    for (size_t i = 0; i < tx.count; ++i) {
        const Pdo_Entry& entry = tx.entries[i];
        const sim::Entry* object = entry.index != 0 ? od.find(entry.index, entry.sub) : nullptr;
        uint8_t bytes[8] = {};
        if (object != nullptr) {
            std::memcpy(bytes, object->value.data(), std::min<size_t>(object->value.size(), 8));
        }
        insert_bits(inputs, entry.bit_offset, entry.bits, get64(bytes));
    }
}

void Drive_Device::idle(int64_t now_ns)
{
    if (!m_drive->reacting()) {
        return;
    }
    const double dt = m_last_step == 0 ? 0.001 : static_cast<double>(now_ns - m_last_step) / 1e9;
    m_last_step = now_ns;
    m_drive->step(dt);
}

bool Drive_Device::take_emergency(Emergency& emergency)
{
    if (m_next_emergency == m_emergencies.size()) {
        m_emergencies = m_drive->take_emergencies();
        m_next_emergency = 0;
        if (m_emergencies.empty()) {
            return false;
        }
    }
    const sim::Emergency& next = m_emergencies[m_next_emergency++];
    emergency.code = next.code;
    emergency.error_register = next.error_register;
    std::memcpy(emergency.data, next.manufacturer, sizeof emergency.data);
    return true;
}

bool Drive_Device::set_value(uint16_t index, uint8_t sub, int64_t value)
{
    const sim::Entry* object = m_drive->dictionary().find(index, sub);
    if (object == nullptr || object->value.size() > 8) {
        return false;
    }
    uint8_t bytes[8];
    put64(bytes, static_cast<uint64_t>(value));
    m_drive->dictionary().set_bytes(index, sub, std::vector<uint8_t>(bytes, bytes + object->value.size()));
    return true;
}

bool Drive_Device::get_value(uint16_t index, uint8_t sub, int64_t& value)
{
    const sim::Entry* object = m_drive->dictionary().find(index, sub);
    if (object == nullptr || object->value.size() > 8 || object->value.empty()) {
        return false;
    }
    uint8_t bytes[8] = {};
    std::memcpy(bytes, object->value.data(), object->value.size());
    uint64_t raw = get64(bytes);
    const size_t bits = object->value.size() * 8;
    if (is_signed(object->type) && bits < 64 && ((raw >> (bits - 1)) & 1)) {
        raw |= ~uint64_t{0} << bits;
    }
    value = static_cast<int64_t>(raw);
    return true;
}

bool Drive_Device::inject_fault(uint16_t code)
{
    if (code == 0) {
        m_drive->clear_fault_cause();
    } else {
        m_drive->inject_fault(code);
    }
    return true;
}

bool Drive_Device::set_warning(bool active)
{
    m_drive->set_warning(active);
    return true;
}

}  // namespace ecat_sim
