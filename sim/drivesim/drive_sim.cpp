#include "drive_sim.h"

#include <pthread.h>
#include <sched.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <stdexcept>

#include "xelo_app_desc_manager.h"
#include "xelo_log.h"

namespace {

std::string hex4(uint32_t value)
{
    char text[16];
    std::snprintf(text, sizeof text, "0x%04x", value);
    return text;
}

void put_bits(std::vector<uint8_t>& image, uint32_t offset, const uint8_t* value, uint32_t bits)
{
    for (uint32_t i = 0; i < bits; ++i) {
        const uint32_t at = offset + i;
        const bool bit = (value[i / 8] >> (i % 8)) & 1u;
        image[at / 8] =
            static_cast<uint8_t>(bit ? image[at / 8] | (1u << (at % 8)) : image[at / 8] & ~(1u << (at % 8)));
    }
}

void take_bits(const std::vector<uint8_t>& image, uint32_t offset, uint8_t* value, uint32_t bits)
{
    std::memset(value, 0, (bits + 7) / 8);
    for (uint32_t i = 0; i < bits; ++i) {
        const uint32_t at = offset + i;
        if ((image[at / 8] >> (at % 8)) & 1u)
            value[i / 8] = static_cast<uint8_t>(value[i / 8] | (1u << (i % 8)));
    }
}

uint32_t bits_of(Type_Definition type, uint32_t byte_dim)
{
    switch (type) {
    case BIT_FSM: return 1;
    case INT8_FSM:
    case UINT8_FSM: return 8;
    case INT16_FSM:
    case UINT16_FSM: return 16;
    case INT32_FSM:
    case UINT32_FSM:
    case FLOAT_FSM: return 32;
    case DOUBLE_FSM:
    case INT64_FSM:
    case UINT64_FSM: return 64;
    default: return byte_dim * 8;
    }
}

template <typename T>
void read_input(Framework_Shared_Memory_Manager& framework, int id, uint8_t* bytes)
{
    const T value = framework.get_input_ex<T>(id, false);
    std::memcpy(bytes, &value, sizeof(T));
}

template <typename T>
void write_output(Framework_Shared_Memory_Manager& framework, int id, const uint8_t* bytes)
{
    T value;
    std::memcpy(&value, bytes, sizeof(T));
    framework.set_output_ex<T>(id, value);
}

void read_typed(Framework_Shared_Memory_Manager& framework, Type_Definition type, int id, uint8_t* bytes)
{
    switch (type) {
    case BIT_FSM: {
        const bool value = framework.get_input_ex<bool>(id, false);
        bytes[0] = value ? 1 : 0;
        break;
    }
    case INT8_FSM: read_input<signed char>(framework, id, bytes); break;
    case UINT8_FSM: read_input<unsigned char>(framework, id, bytes); break;
    case INT16_FSM: read_input<short>(framework, id, bytes); break;
    case UINT16_FSM: read_input<unsigned short>(framework, id, bytes); break;
    case INT32_FSM: read_input<int>(framework, id, bytes); break;
    case UINT32_FSM: read_input<unsigned int>(framework, id, bytes); break;
    case FLOAT_FSM: read_input<float>(framework, id, bytes); break;
    case DOUBLE_FSM: read_input<double>(framework, id, bytes); break;
    case INT64_FSM: read_input<long long>(framework, id, bytes); break;
    case UINT64_FSM: read_input<unsigned long long>(framework, id, bytes); break;
    default: throw std::runtime_error("[Drive_Sim] unsupported variable type " + std::to_string(type));
    }
}

void write_typed(Framework_Shared_Memory_Manager& framework, Type_Definition type, int id, const uint8_t* bytes)
{
    switch (type) {
    case BIT_FSM: framework.set_output_ex<bool>(id, (bytes[0] & 1) != 0); break;
    case INT8_FSM: write_output<signed char>(framework, id, bytes); break;
    case UINT8_FSM: write_output<unsigned char>(framework, id, bytes); break;
    case INT16_FSM: write_output<short>(framework, id, bytes); break;
    case UINT16_FSM: write_output<unsigned short>(framework, id, bytes); break;
    case INT32_FSM: write_output<int>(framework, id, bytes); break;
    case UINT32_FSM: write_output<unsigned int>(framework, id, bytes); break;
    case FLOAT_FSM: write_output<float>(framework, id, bytes); break;
    case DOUBLE_FSM: write_output<double>(framework, id, bytes); break;
    case INT64_FSM: write_output<long long>(framework, id, bytes); break;
    case UINT64_FSM: write_output<unsigned long long>(framework, id, bytes); break;
    default: throw std::runtime_error("[Drive_Sim] unsupported variable type " + std::to_string(type));
    }
}

}  // namespace

Drive_Sim::Drive_Sim(const std::string& descriptor_path, bool develop, const std::vector<Drive_Config>& drives)
{
    for (const Drive_Config& config : drives) {
        auto drive = std::make_unique<Drive>(config.options);
        drive->address = config.slave_address;
        drive->model.set_device_state(sim::STATE_OP);
        m_drives.push_back(std::move(drive));
    }
    load_descriptor_ex(descriptor_path, develop);
}

Drive_Sim::~Drive_Sim()
{
    stop();
}

void Drive_Sim::stop()
{
    m_stop = true;
    if (m_thread.joinable())
        m_thread.join();
    m_responder.reset();
}

Drive_Sim::Drive& Drive_Sim::drive_ex(uint16_t slave_address)
{
    for (auto& drive : m_drives)
        if (drive->address == slave_address)
            return *drive;
    throw std::invalid_argument("[Drive_Sim] no simulated drive at slave address " + std::to_string(slave_address));
}

std::vector<uint16_t> Drive_Sim::slave_addresses() const
{
    std::vector<uint16_t> addresses;
    for (const auto& drive : m_drives)
        addresses.push_back(drive->address);
    return addresses;
}

std::string Drive_Sim::failure() const
{
    std::lock_guard<std::mutex> guard(m_lock);
    return m_failure;
}

void Drive_Sim::load_descriptor_ex(const std::string& path, bool develop)
{
    IO_Descriptor_List outputs, inputs;
    Async_IO_Descriptor_List async_outputs, async_inputs;
    Data_Semaphore_Group_List groups;
    Application_Descriptor_Manager descriptor(path, develop, false, false, &outputs, &inputs, &async_outputs,
                                              &async_inputs, &groups);
    descriptor.load_data_ex();

    for (auto& drive : m_drives) {
        const sim::Object_Dictionary& od = drive->model.dictionary();
        drive->tx_layout = od.pdo_layout(0x1C13);
        const std::vector<sim::Pdo_Entry> rx_layout = od.pdo_layout(0x1C12);
        uint32_t rx_bits = sim::Object_Dictionary::image_bytes(rx_layout) * 8;
        uint32_t tx_bits = sim::Object_Dictionary::image_bytes(drive->tx_layout) * 8;

        auto binding = [](const IO_Descriptor& io) {
            Cyclic_Binding b;
            b.label = io.m_name_virtual_id;
            b.type = io.m_type;
            b.byte_dim = io.m_byte_dim;
            b.bit_offset = io.m_byte_offs * 8 + io.m_bit_offs;
            return b;
        };
        for (const IO_Descriptor* io : outputs) {
            if (io->m_slave_addr != drive->address)
                continue;
            drive->from_master.push_back(binding(*io));
            const Cyclic_Binding& b = drive->from_master.back();
            rx_bits = std::max(rx_bits, b.bit_offset + bits_of(b.type, b.byte_dim));
        }
        for (const IO_Descriptor* io : inputs) {
            if (io->m_slave_addr != drive->address)
                continue;
            drive->to_master.push_back(binding(*io));
            const Cyclic_Binding& b = drive->to_master.back();
            tx_bits = std::max(tx_bits, b.bit_offset + bits_of(b.type, b.byte_dim));
        }
        for (const Async_IO_Descriptor* io : async_inputs)
            if (io->m_slave_addr == drive->address)
                drive->async.push_back({io->m_name_virtual_id, true, static_cast<uint16_t>(io->m_index_el),
                                        static_cast<uint8_t>(io->m_sub_index_el),
                                        static_cast<uint32_t>(io->m_dim_data_el)});
        for (const Async_IO_Descriptor* io : async_outputs)
            if (io->m_slave_addr == drive->address)
                drive->async.push_back({io->m_name_virtual_id, false, static_cast<uint16_t>(io->m_index_el),
                                        static_cast<uint8_t>(io->m_sub_index_el),
                                        static_cast<uint32_t>(io->m_dim_data_el)});
        if (drive->from_master.empty() && drive->to_master.empty())
            throw std::runtime_error("[Drive_Sim] the descriptor has no variable of slave " +
                                     std::to_string(drive->address));

        // Only the RxPDO entries that the descriptor covers come from the master:
        // the others keep what SDOs wrote into them.
        for (const sim::Pdo_Entry& entry : rx_layout) {
            for (const Cyclic_Binding& b : drive->from_master) {
                const uint32_t end = b.bit_offset + bits_of(b.type, b.byte_dim);
                if (entry.index != 0 && b.bit_offset < entry.bit_offset + entry.bit_size && entry.bit_offset < end) {
                    drive->rx_used.push_back(entry);
                    break;
                }
            }
        }
        drive->rx_image.assign((rx_bits + 7) / 8, 0);
        drive->tx_image.assign((tx_bits + 7) / 8, 0);
    }
}

void Drive_Sim::apply_sdo_behaviour_ex(uint16_t slave_address)
{
    if (!m_responder)
        return;
    Async_Responder::Behaviour behaviour;
    std::vector<std::string> labels;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        Drive& drive = drive_ex(slave_address);
        behaviour.delay = drive.model.sdo_delay();
        behaviour.never_answer = drive.model.sdo_silent();
        for (const Async_Binding& b : drive.async)
            labels.push_back(b.label);
    }
    for (const std::string& label : labels)
        m_responder->set_behaviour(label, behaviour);
}

void Drive_Sim::bind_ex()
{
    for (auto& drive : m_drives) {
        for (Cyclic_Binding& b : drive->from_master)
            b.id = m_framework.get_input_id_ex(b.label);
        for (Cyclic_Binding& b : drive->to_master)
            b.id = m_framework.get_output_rw_id_ex(b.label, false);
    }
    bool any_async = false;
    for (auto& drive : m_drives)
        any_async = any_async || !drive->async.empty();
    if (!any_async)
        return;
    m_responder = std::make_unique<Async_Responder>();
    for (auto& drive : m_drives) {
        Drive* d = drive.get();
        for (const Async_Binding& b : drive->async) {
            if (b.input) {
                m_responder->set_input_source(b.label, [this, d, b] {
                    std::lock_guard<std::mutex> guard(m_lock);
                    Async_Responder::Read_Result result;
                    result.abort_code = d->model.sdo_read(b.index, b.subindex, result.bytes);
                    return result;
                });
            } else {
                m_responder->set_output_sink(b.label, [this, d, b](const std::vector<uint8_t>& value) {
                    std::lock_guard<std::mutex> guard(m_lock);
                    std::vector<uint8_t> bytes = value;
                    bytes.resize(b.dimension, 0);  // the expedited transfer's size
                    return d->model.sdo_write(b.index, b.subindex, bytes);
                });
            }
        }
        apply_sdo_behaviour_ex(drive->address);
    }
}

void Drive_Sim::start_ex()
{
    m_framework.init_with_h_compatibility_check_ex("drivesim", 4, 1);
    bind_ex();
    m_thread = std::thread([this] { run(); });
}

void Drive_Sim::run()
{
    // Above the client threads of the programs it plays the drives for
    // (axmand's cyclic thread runs at 49), below busmaster's cyclic and SDO
    // threads: a simulator kept waiting by those clients misses control
    // words that last a few cycles, a reset's falling edge among them. Best
    // effort: a slower simulator still works.
    sched_param param{};
    param.sched_priority = 80;
    pthread_setschedparam(pthread_self(), SCHED_FIFO, &param);
    try {
        const double dt = m_framework.get_master_cycle_time_ns_ex() / 1e9;
        while (!m_stop) {
            uint32_t tick = 0;
            const int result = m_framework.refresh_data_ex(&tick);
            if (result < 0)
                continue;  // time-out: nothing new from the master side
            cycle_ex(dt);
        }
    } catch (const std::exception& e) {
        log_err(std::string("[drivesim] cycle stopped :: ") + e.what());
        std::lock_guard<std::mutex> guard(m_lock);
        m_failure = e.what();
    }
}

void Drive_Sim::cycle_ex(double dt)
{
    std::lock_guard<std::mutex> guard(m_lock);
    for (auto& drive : m_drives) {
        read_from_master_ex(*drive);
        drive->model.step(dt);
        write_to_master_ex(*drive);
        report(*drive);
    }
}

void Drive_Sim::read_from_master_ex(Drive& drive)
{
    uint8_t bytes[8];
    for (const Cyclic_Binding& b : drive.from_master) {
        read_typed(m_framework, b.type, b.id, bytes);
        put_bits(drive.rx_image, b.bit_offset, bytes, bits_of(b.type, b.byte_dim));
    }
    drive.model.dictionary().unpack_pdo(drive.rx_used, drive.rx_image.data(), drive.rx_image.size());
}

void Drive_Sim::write_to_master_ex(Drive& drive)
{
    drive.model.dictionary().pack_pdo(drive.tx_layout, drive.tx_image.data(), drive.tx_image.size());
    uint8_t bytes[8];
    for (const Cyclic_Binding& b : drive.to_master) {
        take_bits(drive.tx_image, b.bit_offset, bytes, bits_of(b.type, b.byte_dim));
        write_typed(m_framework, b.type, b.id, bytes);
    }
}

void Drive_Sim::report(Drive& drive)
{
    const uint16_t cw = drive.model.control_word();
    if (!drive.reported || cw != drive.last_cw)
        log_inf("[drivesim] slave " + std::to_string(drive.address) + " cw " + hex4(cw));
    const sim::Power_State state = drive.model.power_state();
    if (!drive.reported || state != drive.last_state)
        log_inf("[drivesim] slave " + std::to_string(drive.address) + " state " + sim::power_state_name(state) +
                " sw " + hex4(drive.model.status_word()));
    drive.last_cw = cw;
    drive.last_state = state;
    drive.reported = true;
}
