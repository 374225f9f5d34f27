// Distributed clocks: the master frame offset, propagation delays and system
// time offsets at PRE-OP to SAFE-OP, the reference clock's place in the
// cyclic frame, and the SYNC start and first frame timing of the cyclic
// thread.
#include <cstdlib>
#include <cstring>
#include <stdexcept>

#include "cyclic_log.h"
#include "ecm_log.h"
#include "ethercatbase.h"
#include "xelo_ethercat_master_class.h"

namespace {
constexpr int DATAGRAM_TIMEOUT_US = 1000;
constexpr int32_t FRAME_JITTER_NS = 50000;
constexpr int64_t SYNC_START_AHEAD_NS = 500000000;
constexpr int64_t SYNC01_START_LIMIT_NS = 2147483640;

// The cyclic thread's datagrams skip the gate: only its own frames open it.
char gate_flag()
{
    return ecm_in_cyclic_thread() ? 1 : 0;
}

int64_t monotonic_ns()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<int64_t>(now.tv_sec) * 1000000000 + now.tv_nsec;
}

// Ports in the order a frame passes them.
constexpr int PORT_ORDER[4] = {0, 3, 1, 2};
}  // namespace

void ECM_Master::reset_cyclic_configuration()
{
    m_cycle_ctrl_status = nullptr;
    m_wrk_cycle_ctrl_status = nullptr;
    m_wrk_cycle_ctrl_status_is_active = false;
    m_wrk_cycle_ctrl_status_expected = 0;
    m_ctrl_status_image_pos = -1;
    m_ref_clock_cycle_ptr = nullptr;
    m_ref_clock_image_pos = -1;
    // Each configuration starts without clocks; the DC set-up of its
    // PRE-OP to SAFE-OP step finds them again.
    m_system_has_DC = false;
    m_time_offset_master_frame = 0;
}

void ECM_Master::find_Ref_Clock_cycle_cmd()
{
    ecm_log_inf("ECM_Master::find_Ref_Clock_cycle_cmd ( ... )");
    for (const Cycle_Command_Struct& cmd : m_cycle_cmd_array) {
        // The read-multiple-write of the system time: ARMW (13) or FRMW (14).
        if ((cmd.com != 13 && cmd.com != 14) || cmd.ADO != 0x0910 || cmd.length != 4)
            continue;
        const int pos = get_data_frame_pos(cmd.in_or_out_offset);
        if (pos < 0 || pos + 4 > ecm_shm::PROCESS_DATA_BYTES)
            continue;
        m_ref_clock_image_pos = pos;
        m_ref_clock_cycle_ptr = reinterpret_cast<uint32_t*>(&m_process_data_exchange_shmem->shm_buf_in[pos]);
        ecm_log_inf(" get_data_frame_pos ( m_cycle_cmd_array[i].in_or_out_offset ) " + std::to_string(pos));
    }
}

void ECM_Master::read_SM_dc_parameters(std::vector<ECM_Slave>::iterator slave_iterator)
{
    const uint16_t address = slave_iterator->get_config_address();
    ecm_log_inf("\tread_SM_dc_parameters: " + std::to_string(address));
    // 0x1C33 (sync-manager input parameters); the values not read keep what they held.
    try {
        ecm_log_inf("\t\t SHIFT_TIME subindex: 3");
        slave_iterator->set_dc_in_shift_cycle_time(read_reg_with_mbx_ex<unsigned int>(address, 0x1C33, 3));
        ecm_log_inf("\t\t\t= " + std::to_string(slave_iterator->get_dc_in_shift_cycle_time()));
        ecm_log_inf("\t\t MIN_CYCLE_TIME subindex: 5");
        slave_iterator->set_min_dc_cycle_time(read_reg_with_mbx_ex<unsigned int>(address, 0x1C33, 5));
        ecm_log_inf("\t\t\t= " + std::to_string(slave_iterator->get_min_dc_cycle_time()));
        ecm_log_inf("\t\t CALC_COPY_TIME subindex: 6");
        slave_iterator->set_dc_in_calc_copy_time(read_reg_with_mbx_ex<unsigned int>(address, 0x1C33, 6));
        ecm_log_inf("\t\t\t= " + std::to_string(slave_iterator->get_dc_in_calc_copy_time()));
    } catch (const std::exception&) {
        ecm_log_inf("\t\t NOT VALID VALUE");
    }
}

void ECM_Master::calc_master_frame_offset_time_ex()
{
    ecm_log_inf("ECM_Master::calc_master_frame_offset_time_ex ");
    for (auto it = m_slave.begin(); it != m_slave.end(); ++it)
        if (it->has_dc() && it->has_mailbox())
            read_SM_dc_parameters(it);
    const uint32_t cycle = static_cast<uint32_t>(m_cycle_frame_time_ns);
    for (const ECM_Slave& slave : m_slave) {
        const uint32_t minimum = slave.get_min_dc_cycle_time();
        const uint32_t shift_calc = slave.get_dc_in_shift_cycle_time() + slave.get_dc_in_calc_copy_time();
        if (cycle < minimum || cycle < shift_calc) {
            ecm_log_war("\t m_cycle_frame_time_ns: " + std::to_string(cycle));
            ecm_log_err("\t slave: " + std::to_string(slave.get_config_address()));
            ecm_log_war("\t min_dc_cycle_time(): " + std::to_string(minimum));
            ecm_log_war("\t get_dc_in_shift_cycle_time(): " + std::to_string(slave.get_dc_in_shift_cycle_time()));
            ecm_log_war("\t get_dc_in_calc_copy_time(): " + std::to_string(slave.get_dc_in_calc_copy_time()));
            ecm_log_err("\t !!! Attention: cycle time < slave min cycle time !!!");
            throw std::runtime_error("Attention: cycle time < slave min cycle time ");
        }
        int64_t candidate = shift_calc > minimum ? shift_calc : minimum;
        if (candidate == 0) {
            if (static_cast<double>(slave.get_dc_shift_time()) < static_cast<double>(cycle) - 80000.0)
                candidate = slave.get_dc_shift_time();
            else
                continue;
        }
        if (m_time_offset_master_frame < candidate)
            m_time_offset_master_frame = static_cast<int32_t>(candidate);
    }
    if (m_time_offset_master_frame < 200000) {
        m_time_offset_master_frame = static_cast<int32_t>(static_cast<double>(cycle) - 80000.0);
        if (m_time_offset_master_frame > 200000)
            m_time_offset_master_frame = 200000;
    }
}

void ECM_Master::config_dc_slave_option()
{
    ecm_log_inf("ECM_Master::config_dc_slave_option ( ... )");
    calc_master_frame_offset_time_ex();
    uint8_t latch[4] = {};
    ec_BWR(0, 0x0900, 4, latch, DATAGRAM_TIMEOUT_US, gate_flag());
    uint16_t parenthold = 0;
    for (std::size_t i = 1; i <= m_slave.size(); ++i) {
        ECM_Slave& slave = m_slave[i - 1];
        slave.set_consumedports(slave.get_activeports());
        if (!slave.has_dc()) {
            slave.set_DCrtA(0);
            slave.set_DCrtB(0);
            slave.set_DCrtC(0);
            slave.set_DCrtD(0);
            const uint16_t parent = slave.get_parent();
            if (parent != 0 && parent <= m_slave.size() && m_slave[parent - 1].get_topology() > 2)
                parenthold = parent;
            if (parenthold != 0 && slave.get_topology() == 1) {
                ec_parentport(parenthold);
                parenthold = 0;
            }
            continue;
        }
        m_system_has_DC = true;
        const uint16_t address = slave.get_config_address();
        int32_t times[4] = {};
        for (int p = 0; p < 4; ++p)
            ec_FPRD(address, static_cast<uint16_t>(0x0900 + 4 * p), 4, &times[p], DATAGRAM_TIMEOUT_US, gate_flag());
        slave.set_DCrtA(times[0]);
        slave.set_DCrtB(times[1]);
        slave.set_DCrtC(times[2]);
        slave.set_DCrtD(times[3]);
        int entry = -1;
        for (int port : PORT_ORDER) {
            if (!(slave.get_activeports() & (1 << port)))
                continue;
            if (entry < 0 || ec_porttime(static_cast<uint16_t>(i), static_cast<uint8_t>(port)) <
                                 ec_porttime(static_cast<uint16_t>(i), static_cast<uint8_t>(entry)))
                entry = port;
        }
        if (entry < 0)
            entry = 0;
        const uint8_t entry_port = static_cast<uint8_t>(entry);
        slave.set_entryport(entry_port);
        slave.set_consumedports(static_cast<uint8_t>(slave.get_consumedports() & ~(1 << entry)));

        uint16_t child = static_cast<uint16_t>(i);
        uint16_t parent = static_cast<uint16_t>(i);
        do {
            child = parent;
            parent = m_slave[parent - 1].get_parent();
        } while (parent != 0 && parent <= m_slave.size() && !m_slave[parent - 1].has_dc());
        if (parent != 0 && parent <= m_slave.size()) {
            const ECM_Slave& up = m_slave[parent - 1];
            uint8_t parentport = ec_parentport(parent);
            if (up.get_topology() == 1)
                parentport = up.get_entryport();
            slave.set_parentport(parentport);
            const uint16_t self = static_cast<uint16_t>(i);
            const int32_t dt3 = ec_porttime(parent, parentport) - ec_porttime(parent, ec_prevport(parent, parentport));
            int32_t dt1 = 0;
            if (slave.get_topology() > 1)
                dt1 = ec_porttime(self, ec_prevport(self, entry_port)) - ec_porttime(self, entry_port);
            if (dt1 > dt3)
                dt1 = -dt1;
            int32_t dt2 = 0;
            if (child - parent > 1)
                dt2 = std::abs(ec_porttime(parent, ec_prevport(parent, parentport)) -
                               ec_porttime(parent, up.get_entryport()));
            const int32_t delay = (dt3 - dt1) / 2 + dt2 + up.get_pdelay();
            slave.set_pdelay(delay);
            int32_t written = delay;
            ec_FPWR(address, 0x0928, 4, &written, DATAGRAM_TIMEOUT_US, gate_flag());
            ec_FPRD(address, 0x0928, 4, &written, DATAGRAM_TIMEOUT_US, gate_flag());
        }
        parenthold = 0;
    }
    for (ECM_Slave& slave : m_slave) {
        if (!slave.has_dc())
            continue;
        const uint16_t address = slave.get_config_address();
        int64_t receive = 0, system = 0;
        ec_FPRD(address, 0x0918, 8, &receive, DATAGRAM_TIMEOUT_US, gate_flag());
        ec_FPRD(address, 0x0910, 8, &system, DATAGRAM_TIMEOUT_US, gate_flag());
        int64_t offset = static_cast<int64_t>(0 - static_cast<uint64_t>(receive));
        ec_FPWR(address, 0x0920, 8, &offset, DATAGRAM_TIMEOUT_US, gate_flag());
        ec_FPRD(address, 0x0910, 8, &system, DATAGRAM_TIMEOUT_US, gate_flag());
        uint8_t off = 0;
        ec_FPWR(address, 0x0981, 1, &off, DATAGRAM_TIMEOUT_US, gate_flag());
    }
}

bool ECM_Master::set_dc0_start_ex(uint16_t slave_addr, uint32_t cycle_time_sync0, int32_t shift_time,
                                  bool use_shifttime)
{
    ecm_log_inf("ECM_Master::set_dc0_start_ex ( ... )");
    ecm_log_inf("\tslave_addr: " + std::to_string(slave_addr));
    ecm_log_inf("\tcycle_time_sync0: " + std::to_string(cycle_time_sync0));
    ecm_log_inf("\tshift_time: " + std::to_string(shift_time));
    uint8_t zero = 0;
    ec_FPWR(slave_addr, 0x0981, 1, &zero, DATAGRAM_TIMEOUT_US, gate_flag());
    zero = 0;
    ec_FPWR(slave_addr, 0x0980, 1, &zero, DATAGRAM_TIMEOUT_US, gate_flag());
    int64_t t1 = 0;
    ec_FPRD(slave_addr, 0x0910, 8, &t1, DATAGRAM_TIMEOUT_US, gate_flag());
    if (t1 >= (int64_t{1} << 32))
        ecm_log_plain("is_64_bit_time 1");
    const int64_t shift = use_shifttime ? shift_time : 0;
    const int64_t t = t1 + SYNC_START_AHEAD_NS;
    int64_t start = t + shift;
    if (cycle_time_sync0 != 0)
        start = (t / static_cast<int64_t>(cycle_time_sync0) + 1) * static_cast<int64_t>(cycle_time_sync0) + shift;
    ec_FPWR(slave_addr, 0x0990, 8, &start, DATAGRAM_TIMEOUT_US, gate_flag());
    uint32_t cycle = cycle_time_sync0;
    ec_FPWR(slave_addr, 0x09A0, 4, &cycle, DATAGRAM_TIMEOUT_US, gate_flag());
    uint8_t activate = 3;
    ec_FPWR(slave_addr, 0x0981, 1, &activate, DATAGRAM_TIMEOUT_US, gate_flag());
    return true;
}

bool ECM_Master::set_dc01_start_ex(uint16_t slave_addr, uint32_t cycle_time_sync0, uint32_t cycle_time_sync1,
                                   int32_t shift_time, bool use_shifttime)
{
    ecm_log_inf("ECM_Master::set_dc01_start_ex ( ... )");
    ecm_log_inf("\tslave_addr: " + std::to_string(slave_addr));
    ecm_log_inf("\tcycle_time_sync0: " + std::to_string(cycle_time_sync0));
    ecm_log_inf("\tcycle_time_sync1: " + std::to_string(cycle_time_sync1));
    ecm_log_inf("\tshift_time: " + std::to_string(shift_time));
    uint8_t value = 0;
    ec_FPWR(slave_addr, 0x0981, 1, &value, DATAGRAM_TIMEOUT_US, gate_flag());
    value = 0x30;
    ec_FPWR(slave_addr, 0x0980, 1, &value, DATAGRAM_TIMEOUT_US, gate_flag());
    int64_t t1 = 0;
    ec_FPRD(slave_addr, 0x0910, 8, &t1, DATAGRAM_TIMEOUT_US, gate_flag());
    const int64_t shift = use_shifttime ? shift_time : 0;
    const int64_t t = t1 + SYNC_START_AHEAD_NS;
    int64_t start = t + shift;
    if (cycle_time_sync0 != 0)
        start = (t / static_cast<int64_t>(cycle_time_sync0) + 1) * static_cast<int64_t>(cycle_time_sync0) + shift;
    if (start > SYNC01_START_LIMIT_NS)
        return false;
    ec_FPWR(slave_addr, 0x0990, 8, &start, DATAGRAM_TIMEOUT_US, gate_flag());
    uint32_t cycle = cycle_time_sync0;
    ec_FPWR(slave_addr, 0x09A0, 4, &cycle, DATAGRAM_TIMEOUT_US, gate_flag());
    cycle = cycle_time_sync1;
    ec_FPWR(slave_addr, 0x09A4, 4, &cycle, DATAGRAM_TIMEOUT_US, gate_flag());
    value = 7;
    ec_FPWR(slave_addr, 0x0981, 1, &value, DATAGRAM_TIMEOUT_US, gate_flag());
    return true;
}

bool ECM_Master::calc_and_set_dc_times(uint32_t longest_wait_ns)
{
    uint64_t sync0 = 0;
    uint64_t system = 0;
    if (ec_FPRD(m_ref_clock_address, 0x0990, 8, &sync0, DATAGRAM_TIMEOUT_US, gate_flag()) != 1 ||
        ec_FPRD(m_ref_clock_address, 0x0910, 8, &system, DATAGRAM_TIMEOUT_US, gate_flag()) != 1)
        return false;
    const int32_t next_sync = static_cast<int32_t>(static_cast<uint32_t>(sync0));
    const int32_t next_send =
        static_cast<int32_t>(static_cast<uint32_t>(next_sync) + static_cast<uint32_t>(m_time_offset_master_frame) +
                             static_cast<uint32_t>(FRAME_JITTER_NS));
    const uint32_t wait = static_cast<uint32_t>(next_send) - static_cast<uint32_t>(system);
    if (wait > longest_wait_ns)
        return false;
    m_t_sync0_ref_clock = sync0;
    m_t_actual_ref_clock = system;
    m_dc_reference_read_ns = monotonic_ns();
    m_dc_next_sync_time_ref = next_sync;
    m_dc_next_frame_send_time = next_send;
    if (!ecm_in_cyclic_thread() || m_counter_cycle == 0)
        ecm_log_war("m_t_sync0_ref_clock = " + std::to_string(m_t_sync0_ref_clock) +
                    " m_t_actual_ref_clock = " + std::to_string(m_t_actual_ref_clock) +
                    " wait_time_offset_master_start_tot = " + std::to_string(wait));
    m_dc_sync_wait_time = timespec{static_cast<time_t>(wait / 1000000000u), static_cast<long>(wait % 1000000000u)};
    return true;
}
