// ENI intake, register init commands and the EtherCAT state machine.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <sstream>
#include <stdexcept>

#include "ecm_log.h"
#include "eni_working_copy.h"
#include "ethercatbase.h"
#include "init_cmd_lists.h"
#include "nicdrv.h"
#include "xelo_ethercat_master_class.h"
#include "xelo_string_functions.h"

namespace {
constexpr int DATAGRAM_TIMEOUT_US = 1000;
constexpr char THROUGH_GATE = 0;
constexpr long RETRY_PAUSE_NS = 10000000;         // 10 ms
constexpr long RETRY_PAUSE_EXTRA_NS = 100000000;  // 100 ms, once the Retries are used up
constexpr uint8_t AL_INIT_WITH_ERROR_ACK = 0x11;
constexpr uint8_t AL_STATE_AND_ERROR_MASK = 0x1F;
constexpr double INIT_RESET_TIMEOUT_MS = 5000;

void sleep_for(const timespec& pause)
{
    timespec rest = pause;
    while (clock_nanosleep(CLOCK_MONOTONIC, 0, &rest, &rest) == EINTR) {
    }
}

timespec monotonic_now()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return now;
}

double milliseconds(const timespec& t)
{
    return static_cast<double>(t.tv_sec) * 1000.0 + static_cast<double>(t.tv_nsec) / 1000000.0;
}

std::string hex_bytes(const std::vector<uint8_t>& bytes)
{
    std::ostringstream text;
    for (uint8_t b : bytes)
        text << ' ' << std::hex << static_cast<int>(b);
    return text.str();
}

}  // namespace

std::vector<uint8_t> bytes_and_ex(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b)
{
    if (a.size() != b.size())
        throw std::runtime_error("Attention: Data have different size");
    std::vector<uint8_t> result(a.size());
    for (std::size_t i = 0; i < a.size(); ++i)
        result[i] = static_cast<uint8_t>(a[i] & b[i]);
    return result;
}

bool bytes_differ_ex(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b)
{
    if (a.size() != b.size())
        throw std::runtime_error("Attention: Data have different data");
    return !std::equal(a.begin(), a.end(), b.begin());
}

// ---- intake ---------------------------------------------------------------------

void ECM_Master::fill_initCmd_structs()
{
    ecm_log_inf("ECM_Master::fill_initCmd_structs( ... )");
    const EtherCATConfig_Config_Master& master = m_xml_system_cfg->master_el;
    std::list<ECatCmdType>* const lists[9] = {&m_initCmd_IP_transition, &m_initCmd_PS_transition,
                                              &m_initCmd_PI_transition, &m_initCmd_SP_transition,
                                              &m_initCmd_SO_transition, &m_initCmd_SI_transition,
                                              &m_initCmd_OS_transition, &m_initCmd_OP_transition,
                                              &m_initCmd_OI_transition};
    if (master.has_init_cmds_o_el && master.init_cmds_o_el.has_init_cmd_o_el)
        for (const ECatCmdType& cmd : master.init_cmds_o_el.init_cmd_o_el)
            if (cmd.has_transition_o_el)
                sort_by_transition(cmd, cmd.transition_o_el, lists);
    log_init_cmd_counts("\t--- Number InitCmd found ---", lists);
}

void ECM_Master::fill_slave_list_ex()
{
    ecm_log_inf("ECM_Master::fill_slave_list( ... )");
    uint16_t position = 0;
    m_slave.reserve(m_slave.size() + m_xml_system_cfg->slaves_el.size());
    for (const EtherCATConfig_Config_Slave& slave : m_xml_system_cfg->slaves_el) {
        m_slave.emplace_back(slave, m_process_data_exchange_shmem, position);
        position = static_cast<uint16_t>(position - 1);
    }
    ecm_log_inf("\t--- Slave found in xml file " + std::to_string(m_slave.size()));
}

void ECM_Master::fill_cycle_frame()
{
    ecm_log_inf("ECM_Master::fill_cycle_frame( ... )");
    reset_cyclic_configuration();
    const std::size_t frames = m_xml_system_cfg->cyclic_el.frame_m_el.size();
    if (frames > 1)
        throw std::runtime_error("Attention: the ENI holds " + std::to_string(frames) +
                                 " cyclic frames; the master sends one");
    for (const EtherCATConfig_Config_Cyclic_Frame& frame : m_xml_system_cfg->cyclic_el.frame_m_el) {
        m_cycle_cmd_array.clear();
        m_cycle_cmd_array.reserve(frame.cmd_m_el.size());
        for (const EtherCATConfig_Config_Cyclic_Frame_Cmd& cmd : frame.cmd_m_el) {
            Cycle_Command_Struct record{};
            record.com = static_cast<uint8_t>(cmd.cmd_m_el);
            if (cmd.has_adp_oxor_el) {
                record.ADP = static_cast<uint16_t>(cmd.adp_oxor_el);
                record.ADO = static_cast<uint16_t>(cmd.ado_mxor_el);
            } else {
                const uint32_t address = static_cast<uint32_t>(cmd.addr_mxor_el);
                record.ADP = static_cast<uint16_t>(address & 0xFFFF);
                record.ADO = static_cast<uint16_t>(address >> 16);
            }
            record.in_or_out_offset = cmd.input_offs_m_el;
            const int pos = get_data_frame_pos(cmd.input_offs_m_el);
            if (cmd.has_data_length_mxor_el) {
                if (pos < 0 || pos + cmd.data_length_mxor_el > ecm_shm::PROCESS_DATA_BYTES)
                    throw std::runtime_error("Attention: cyclic command outside the shared image (InputOffs " +
                                             std::to_string(cmd.input_offs_m_el) + ")");
                record.length = static_cast<uint16_t>(cmd.data_length_mxor_el);
                record.ptr_data_use = 1;
                record.data = &m_process_data_exchange_shmem->shm_buf_out[pos];
            } else {
                record.length = 0;
                record.ptr_data_use = 0;
                record.data = const_cast<uint8_t*>(cmd.data_mxor_el.data());
            }
            record.wrk_expected = cmd.cnt_o_el;
            m_cycle_cmd_array.push_back(record);
        }
        m_cycle_cmd_list_number = static_cast<int32_t>(m_cycle_cmd_array.size());
        m_has_cycle_cmd_list = true;
    }
    find_control_status_cmd();
    if (!m_wrk_cycle_ctrl_status_is_active)
        ecm_log_war(
            "ECM_Master::fill_cycle_frame: no AL status read in the cyclic frame: the cycle checks no slave state");
    find_Ref_Clock_cycle_cmd();
}

void ECM_Master::find_control_status_cmd()
{
    ecm_log_inf("ECM_Master::find_control_status_cmd ( ... )");
    for (const Cycle_Command_Struct& record : m_cycle_cmd_array) {
        if (record.ADP != 0 || record.ADO != 0x0130 || record.length != 2)
            continue;
        const int pos = get_data_frame_pos(record.in_or_out_offset);
        if (pos < 0 || pos + 4 > ecm_shm::PROCESS_DATA_BYTES)
            continue;
        m_ctrl_status_image_pos = pos;
        m_cycle_ctrl_status = reinterpret_cast<uint16_t*>(&m_process_data_exchange_shmem->shm_buf_in[pos]);
        m_wrk_cycle_ctrl_status = reinterpret_cast<uint16_t*>(&m_process_data_exchange_shmem->shm_buf_in[pos + 2]);
        m_wrk_cycle_ctrl_status_is_active = true;
        m_wrk_cycle_ctrl_status_expected = record.wrk_expected;
        ecm_log_inf("m_wrk_cycle_ctrl_status_expected " + std::to_string(m_wrk_cycle_ctrl_status_expected));
    }
}

void ECM_Master::fill_info_slave_shmem()
{
    ecm_log_inf("ECM_Master::fill_info_slave_shmem( ... )");
    ecm_log_inf("\t ... try mutex_lock ...");
    Robust_Mutex info_mutex =
        ecm_mutex(&m_process_info_slave_exchange_shmem->shm_mutex, "m_process_info_slave_exchange_shmem->shm_mutex");
    std::lock_guard<Robust_Mutex> guard(info_mutex);
    Shared_Slave_Info_Mem_Region& info = *m_process_info_slave_exchange_shmem;
    info.num_of_xml_slaves = static_cast<int32_t>(m_slave.size());
    for (std::size_t i = 0; i < m_slave.size() && i < static_cast<std::size_t>(ecm_shm::MAX_SLAVES); ++i) {
        const ECM_Slave& s = m_slave[i];
        info.configaddress[i] = s.get_config_address();
        info.has_output[i] = s.has_output() ? 1 : 0;
        if (s.has_output()) {
            info.num_output[i] = s.get_num_output();
            info.out_bytes[i] = s.get_output_byte_dim();
            info.out_bits[i] = s.get_output_bit_dim();
            info.out_shm_start_byte[i] = s.get_output_shm_start_byte();
            info.out_shm_start_offs_bit[i] = s.get_output_shm_start_offs_bit();
        } else {
            info.num_output[i] = 0;
            info.out_bytes[i] = 0;
        }
        info.has_input[i] = s.has_input() ? 1 : 0;
        if (s.has_input()) {
            info.num_input[i] = s.get_num_input();
            info.in_bytes[i] = s.get_input_byte_dim();
            info.in_bits[i] = s.get_input_bit_dim();
            info.in_shm_start_byte[i] = s.get_input_shm_start_byte();
            info.in_shm_start_offs_bit[i] = s.get_input_shm_start_offs_bit();
        } else {
            info.num_input[i] = 0;
            info.in_bytes[i] = 0;
        }
    }
}

void ECM_Master::set_xml_file_and_leave_no_state_ex(std::string path)
{
    try {
        ecm_log_inf("ECM_Master::set_xml_file_and_leave_no_state_ex: " + path);
        m_process_info_slave_exchange_shmem->num_of_active_slaves = 0;
        m_process_info_slave_exchange_shmem->num_of_xml_slaves = 0;
        ec_closenic();
        if (ec_setupnic(m_net_interface_name.c_str()) != 0) {
            ecm_log_err("Attention: net interface not properly initialized");
            throw std::runtime_error("Attention: net interface not properly initialized");
        }
        m_last_error_type = NOT_ERROR_PRESENT;
        m_last_error_code = NULL_CODE;
        m_last_error_slave = 0;
        ecm_log_inf("EtherCAT Net Interface Successfully Initialized");
        m_xml_system_cfg.reset();
        m_xml_system_cfg = ENI_Working_Copy::load_ex(path, ENI_WORKING_COPY);
        if (m_xml_system_cfg->slaves_el.size() > static_cast<std::size_t>(ecm_shm::MAX_SLAVES))
            throw std::runtime_error("Attention: the ENI lists " + std::to_string(m_xml_system_cfg->slaves_el.size()) +
                                     " slaves, more than " + std::to_string(ecm_shm::MAX_SLAVES));
        // From here on the master holds (part of) a configuration that
        // clear_system must remove, even if the intake fails half-way.
        m_is_cleaned = false;
        fill_initCmd_structs();
        fill_slave_list_ex();
        m_process_image = &m_xml_system_cfg->processimage_el;
        if (m_xml_system_cfg->master_el.has_mailbox_state_o_el)
            m_some_slaves_have_mailbox = true;
        fill_cycle_frame();
        fill_info_slave_shmem();
        m_is_xml_data_ok = true;
        if (!m_sdomanager_run)
            start_extra_sdo_manager_ex();
        start_slave_comunication_ex();
    } catch (const std::exception& e) {
        ecm_log_err(std::string("ECM_Master::set_xml_file_and_leave_no_state_ex: ") + e.what());
        set_last_master_error(ECAT_XML_FILE, NOT_FOUND, 0);
        throw std::exception();
    }
}

void ECM_Master::start_slave_comunication_ex()
{
    ecm_log_inf("\tECM_Master::start_slave_comunication( ... )");
    ec_closenic();
    if (ec_setupnic(m_net_interface_name.c_str()) != 0)
        throw std::runtime_error("Attention: net interface not properly initialized");
    m_last_error_type = NOT_ERROR_PRESENT;
    m_last_error_code = NULL_CODE;
    m_last_error_slave = 0;
    if (m_is_cleaned || !m_has_cycle_cmd_list || m_slave.empty() || !m_is_xml_data_ok) {
        m_last_error_type = ECAT_XML_STRUCT;
        m_last_error_code = DATA_NOT_VALIDATE;
        throw std::runtime_error("Sorry, xml file is to be reloaded :(");
    }
    const int active = check_slave_active();
    m_process_info_slave_exchange_shmem->num_of_active_slaves = active;
    if (active == static_cast<int>(m_slave.size())) {
        reset_slaves_to_init_ex(active);
        clear_station_addresses_ex(active);
        get_slaves_network_topology_info();
        leave_no_state_ex(INIT_STATE);
        go_to_next_state_ex(PREOP_STATE);
        m_process_tick_exchange_shmem->client_started_cyclic_op = 0;
        return;
    }
    const auto log_counts = [&] {
        ecm_log_err("check_slave_active() " + std::to_string(active));
        ecm_log_err("m_slave.size() " + std::to_string(m_slave.size()));
    };
    try {
        check_slave_link_consistency_ex();
    } catch (const std::exception&) {
        // The walk has recorded its count; the answering count goes to the log too.
        log_counts();
        throw;
    }
    slave_eeprom_information_reading_ex();
    set_last_master_error(ECAT_XML_FILE, SLAVE_NUM_NOT_AGREE, 0);
    log_counts();
    throw std::runtime_error("Sorry, xml slave number and real number not agree  :(");
}

void ECM_Master::reset_slaves_to_init_ex(int active)
{
    ecm_log_inf("ECM_Master::reset_slaves_to_init_ex( ... )");
    uint8_t request[2] = {AL_INIT_WITH_ERROR_ACK, 0};
    if (ec_exchange_with_resends([&] { return ec_BWR(0x0000, 0x0120, 2, request, DATAGRAM_TIMEOUT_US, THROUGH_GATE); },
                                 active) != active)
        throw std::runtime_error("Attention: the INIT request did not reach every slave");
    const double deadline = milliseconds(monotonic_now()) + INIT_RESET_TIMEOUT_MS;
    for (;;) {
        // The broadcast read ORs every slave's AL status.
        uint8_t status[2] = {};
        const int wkc = ec_exchange_with_resends(
            [&] { return ec_BRD(0x0000, 0x0130, 2, status, DATAGRAM_TIMEOUT_US, THROUGH_GATE); }, active);
        if (wkc == active && (status[0] & AL_STATE_AND_ERROR_MASK) == INIT_STATE)
            return;
        if (milliseconds(monotonic_now()) > deadline)
            throw std::runtime_error("Attention: slaves not in INIT after the error acknowledge (AL status " +
                                     std::to_string(status[0]) + ")");
        sleep_for(timespec{0, RETRY_PAUSE_NS});
    }
}

void ECM_Master::clear_station_addresses_ex(int active)
{
    ecm_log_inf("ECM_Master::clear_station_addresses_ex( ... )");
    uint8_t address[2] = {0, 0};
    if (ec_exchange_with_resends([&] { return ec_BWR(0x0000, 0x0010, 2, address, DATAGRAM_TIMEOUT_US, THROUGH_GATE); },
                                 active) != active)
        throw std::runtime_error("Attention: the station addresses were not cleared on every slave");
}

// ---- init commands ------------------------------------------------------------------

void ECM_Master::begin_init_cmd()
{
    m_retries = 0;
    m_lost_frames = 0;
    m_timeOut_wait_initcmd_retry = timespec{0, RETRY_PAUSE_NS};
    m_initCmd_send_time = monotonic_now();
}

// A lost reply is recorded while its command is sent again; once that
// command is done, the record of a loss it recovered from goes, as it would
// otherwise stand as a pending error (refusing every SDO push in OP) for a
// bus that works.
void ECM_Master::forget_recovered_lost_frames()
{
    if (m_lost_frames > 0 && m_last_error_type == ECAT_XML_INIT_CMD && m_last_error_code == NO_FRAME_READ)
        set_last_master_error(NOT_ERROR_PRESENT, NULL_CODE, 0);
}

int ECM_Master::send_init_cmd_datagram_ex(ECatCmdType& cmd)
{
    const bool has_length = cmd.has_data_length_oxor_el;
    const bool has_data = cmd.has_data_oxor_el;
    const auto require = [&](bool address, const char* text) {
        if (!address || !(has_length || has_data))
            throw std::runtime_error(text);
    };
    const uint16_t length = has_length ? cmd.data_length_oxor_el : static_cast<uint16_t>(cmd.data_oxor_el.size());
    // Reads: with DataLength a zeroed buffer, else a copy of Data goes out.
    const auto read_buffer = [&]() -> uint8_t* {
        if (has_length)
            m_last_data_read.assign(length, 0);
        else
            m_last_data_read = cmd.data_oxor_el;
        return m_last_data_read.data();
    };
    // Writes: with DataLength zeroes, else Data itself; the buffer is zeroed to the size.
    const auto write_data = [&]() -> uint8_t* {
        m_last_data_read.assign(length, 0);
        return has_length ? m_last_data_read.data() : cmd.data_oxor_el.data();
    };
    const uint16_t adp = cmd.adp_oxor_el;
    const uint16_t ado = cmd.ado_mxor_el;
    switch (cmd.cmd_m_el) {
    case EC_CMD_APRD:
        require(cmd.has_adp_oxor_el, "Attention: EC_CMD_APRD -> xml command bad format");
        return ec_APRD(adp, ado, length, read_buffer(), DATAGRAM_TIMEOUT_US, THROUGH_GATE);
    case EC_CMD_APWR:
        require(cmd.has_adp_oxor_el, "Attention: EC_CMD_APWR -> xml command bad format");
        return ec_APWR(adp, ado, length, write_data(), DATAGRAM_TIMEOUT_US, THROUGH_GATE);
    case EC_CMD_FPRD:
        require(cmd.has_adp_oxor_el, "Attention: EC_CMD_FPRD -> xml command bad format");
        return ec_FPRD(adp, ado, length, read_buffer(), DATAGRAM_TIMEOUT_US, THROUGH_GATE);
    case EC_CMD_FPWR:
        require(cmd.has_adp_oxor_el, "Attention: EC_CMD_FPWR -> xml command bad format");
        return ec_FPWR(adp, ado, length, write_data(), DATAGRAM_TIMEOUT_US, THROUGH_GATE);
    case EC_CMD_BRD:
        require(cmd.has_adp_oxor_el, "Attention: EC_CMD_BRD -> xml command bad format");
        return ec_BRD(adp, ado, length, read_buffer(), DATAGRAM_TIMEOUT_US, THROUGH_GATE);
    case EC_CMD_BWR:
        require(cmd.has_adp_oxor_el, "Attention: EC_CMD_BWR -> xml command bad format");
        return ec_BWR(adp, ado, length, write_data(), DATAGRAM_TIMEOUT_US, THROUGH_GATE);
    case EC_CMD_LRD:
        require(cmd.has_addr_oxor_el, "Attention: EC_CMD_LRD -> xml command bad format");
        return ec_LRD(cmd.addr_oxor_el, length, read_buffer(), DATAGRAM_TIMEOUT_US, THROUGH_GATE);
    case EC_CMD_LWR:
        require(cmd.has_addr_oxor_el, "Attention: EC_CMD_LWR -> xml command bad format");
        return ec_LWR(cmd.addr_oxor_el, length, write_data(), DATAGRAM_TIMEOUT_US, THROUGH_GATE);
    case EC_CMD_LRW:
        require(cmd.has_addr_oxor_el, "Attention: EC_CMD_LRW -> xml command bad format");
        if (has_length)
            return ec_LRW(cmd.addr_oxor_el, length, read_buffer(), DATAGRAM_TIMEOUT_US, THROUGH_GATE);
        m_last_data_read.assign(length, 0);
        return ec_LRW(cmd.addr_oxor_el, length, cmd.data_oxor_el.data(), DATAGRAM_TIMEOUT_US, THROUGH_GATE);
    case EC_CMD_NOP:
    case EC_CMD_FPRW:
    case EC_CMD_BRW: throw std::runtime_error("Attention: No command implemented ");
    case EC_CMD_APRW: throw std::runtime_error("Attention: No command implemented in base layer ");
    case EC_CMD_ARMW:
        throw std::runtime_error("Attention: EC_CMD_ARMW command not implemented yet -> TODO by base layer");
    case EC_CMD_FRMW:
        throw std::runtime_error("Attention: EC_CMD_FRMW command not implemented yet -> TODO by base layer");
    }
    throw std::runtime_error("Attention: No command implemented");
}

// A validated command is sent again until its data validate: repeats after
// a lost reply continue the same validation (the caller sends again without
// resetting the count), and a command counts as done only when the data of
// the send that validated carry the expected working counter.
bool ECM_Master::manage_and_send_initCmd_ex(ECatCmdType cmd_to_send)
{
    bool repeated = false;
    for (;;) {
        ++m_retries;
        sleep_for(m_timeOut_wait_initcmd);
        ecm_log_inf("ECM_Master::manage_and_send_initCmd_ex( ... )");
        const int wkc = send_init_cmd_datagram_ex(cmd_to_send);

        if (wkc < 0) {
            const int active = check_slave_active();
            set_last_master_error(ECAT_XML_INIT_CMD, NO_FRAME_READ, active + ecm_shm::FIRST_SLAVE_NUMBER);
            ecm_log_err(" Attention: No Frame read ");
            ++m_lost_frames;
            if (m_lost_frames > int64_t{cmd_to_send.retries_o_el} + LOST_FRAME_MARGIN) {
                ecm_log_err(" Attention: No Frame read after " + std::to_string(m_lost_frames) + " sends");
                throw std::runtime_error(" Attention: No Frame read");
            }
            m_timeOut_wait_initcmd_retry = timespec{0, RETRY_PAUSE_NS};
            sleep_for(m_timeOut_wait_initcmd_retry);
            return false;
        }

        if (cmd_to_send.has_validate_o_el) {
            ecm_log_inf("\t--- Validate --- ");
            const ECatCmdType_Validate& validate = cmd_to_send.validate_o_el;
            std::vector<uint8_t> masked = m_last_data_read;
            if (validate.has_data_mask_o_olement)
                masked = bytes_and_ex(m_last_data_read, validate.data_mask_o_olement);
            if (bytes_differ_ex(masked, validate.data_m_el)) {
                const double diff = milliseconds(monotonic_now()) - milliseconds(m_initCmd_send_time);
                const int64_t elapsed = diff > 0 ? static_cast<int64_t>(diff) : 0;
                ecm_log_inf("\ttime_compare ms->  " + std::to_string(elapsed));
                bool repeat = m_retries <= cmd_to_send.retries_o_el;
                if (!repeat) {
                    ecm_log_inf(
                        "m_retries > cmd_to_send.retries_o_el -> m_timeOut_wait_initcmd_retry.tv_nsec = "
                        "INITCMD_WAIT_TIME_RETRY_EXTRA");
                    m_timeOut_wait_initcmd_retry = timespec{0, RETRY_PAUSE_EXTRA_NS};
                    repeat = elapsed <= 3 * int64_t{validate.timeout_m_el};
                }
                if (repeat) {
                    sleep_for(m_timeOut_wait_initcmd_retry);
                    repeated = true;
                    continue;
                }
                ecm_log_inf("\ttmp_data_read-> ");
                ecm_log_inf("\t\t");
                ecm_log_plain(hex_bytes(masked));
                ecm_log_inf("\tcmd_to_send.validate_o_el->data_m_el-> ");
                ecm_log_inf("\t\t");
                ecm_log_plain(hex_bytes(validate.data_m_el));
                ecm_log_inf("time_compare " + std::to_string(elapsed));
                ecm_log_inf("( uint ) cmd_to_send.validate_o_el.timeout_m_el " + std::to_string(validate.timeout_m_el));
                ecm_log_inf("m_retries " + std::to_string(m_retries));
                ecm_log_inf("cmd_to_send.retries_o_el " + std::to_string(cmd_to_send.retries_o_el));
                set_last_master_error(ECAT_XML_INIT_CMD, DATA_NOT_VALIDATE, 0);
                ecm_log_err(" Attention: Frame read data no validate ");
                throw std::runtime_error(" Attention: Frame read data no validate");
            }
            if (repeated)
                ecm_log_inf("\t ...ok ");
        }

        m_workcounter = wkc;
        if (!cmd_to_send.has_cnt_o_el || wkc == cmd_to_send.cnt_o_el) {
            forget_recovered_lost_frames();
            return true;
        }
        if (m_retries <= int64_t{cmd_to_send.retries_o_el} + 100) {
            m_timeOut_wait_initcmd_retry = timespec{0, RETRY_PAUSE_NS};
            sleep_for(m_timeOut_wait_initcmd_retry);
            return false;
        }
        set_last_master_error(ECAT_XML_INIT_CMD, WORKCOUNTER_NOT_AGREE, 0);
        ecm_log_err(" Attention: Frame read workcounter no correct ");
        print_slaves_error_code();
        throw std::runtime_error(" Attention: Frame read workcounter no correct");
    }
}

void ECM_Master::take_slave_into_next_state_ex(TransitionType transition)
{
    ecm_log_inf("ECM_Master::take_slave_into_next_state_ex( ... )");
    for (ECM_Slave& slave : m_slave) {
        const std::string address = std::to_string(slave.get_config_address());
        ecm_log_inf("ECM_Master::Slave addr -> " + address);
        const CoE_InitCmd* coe_cmd = nullptr;
        const ECatCmdType* reg_cmd = nullptr;
        try {
            if (slave.has_mailbox() && slave.has_CoE()) {
                std::list<CoE_InitCmd>* coe = slave.get_CoE_cmd(transition);
                const std::size_t count = coe ? coe->size() : 0;
                ecm_log_inf("ECM_Master::Slave addr -> " + address + " start send SDO size: " + std::to_string(count));
                if (coe)
                    for (const CoE_InitCmd& cmd : *coe) {
                        coe_cmd = &cmd;
                        slave.set_mailbox_counter(
                            manage_and_send_CoE_cmd_ex(&cmd, slave.get_config_address(), slave.get_mailbox_length(),
                                                       slave.get_mailbox_writeoffset(), slave.get_mailbox_readoffset(),
                                                       slave.get_mailbox_counter()));
                    }
                coe_cmd = nullptr;
                ecm_log_inf("ECM_Master::Slave addr -> " + address + " END send SDO ");
            }
            std::list<ECatCmdType>* list = slave.get_initCmd_list(transition);
            const std::size_t count = list ? list->size() : 0;
            ecm_log_inf("ECM_Master::Slave addr -> " + address + " start send init_cmd size: " + std::to_string(count));
            if (list)
                for (const ECatCmdType& cmd : *list) {
                    reg_cmd = &cmd;
                    begin_init_cmd();
                    while (!manage_and_send_initCmd_ex(cmd)) {
                    }
                }
            ecm_log_inf("ECM_Master::Slave addr -> " + address + " end send init_cmd ");
        } catch (const std::exception& e) {
            set_last_master_error(m_last_error_type, m_last_error_code, slave.get_config_address());
            ecm_log_err("ECM_Master::Slave addr -> " + address);
            ecm_log_err(std::string("\t ") + e.what());
            if (coe_cmd != nullptr) {
                ecm_log_err("\t manage_and_send_CoE_cmd_ex: ");
                ecm_log_err("\t cmd_CoE_iterator->comment_o_el = " + coe_cmd->comment_o_el);
                ecm_log_err("\t cmd_CoE_iterator->index_m_el = " + std::to_string(coe_cmd->index_m_el));
                ecm_log_err("\t cmd_CoE_iterator->sub_index_m_el = " + std::to_string(coe_cmd->sub_index_m_el));
            } else if (reg_cmd != nullptr) {
                ecm_log_err("\t manage_and_send_initCmd_ex: ");
                ecm_log_err("\t slave_initCmd_iterator->comment_o_el = " + reg_cmd->comment_o_el);
                ecm_log_err("\t slave_initCmd_iterator->adp_oxor_el = " + std::to_string(reg_cmd->adp_oxor_el));
                ecm_log_err("\t slave_initCmd_iterator->ado_mxor_el = " + std::to_string(reg_cmd->ado_mxor_el));
            }
            throw std::exception();
        }
    }
}

// ---- state machine ------------------------------------------------------------------

namespace {
bool is_state(int value)
{
    return value == INIT_STATE || value == PREOP_STATE || value == SAFEOP_STATE || value == OP_STATE;
}
}  // namespace

void ECM_Master::go_to_next_state_ex(State_Enum requested)
{
    Robust_Mutex change_state = ecm_mutex(&m_mutex_change_state, "m_mutex_change_state");
    std::lock_guard<Robust_Mutex> guard(change_state);
    go_to_next_state_locked_ex(requested);
}

void ECM_Master::go_to_next_state_locked_ex(State_Enum requested)
{
    ecm_log_inf("ECM_Master::go_to_next_state( " + std::to_string(static_cast<int>(requested)) + " )");
    try {
        // Refused before anything is stopped or sent.
        if (m_actual_ethercat_state == NO_STATE && requested != INIT_STATE)
            throw std::runtime_error("Sorry, INIT_STATE is the only next state permitted :(");
        if (m_actual_ethercat_state != NO_STATE &&
            (!is_state(requested) || (requested == m_actual_ethercat_state && requested != INIT_STATE)))
            throw std::runtime_error("Sorry, next state is not valid :(");
        switch (m_actual_ethercat_state) {
        case NO_STATE: leave_no_state_ex(requested); break;
        case INIT_STATE: leave_init_state_ex(requested); break;
        case PREOP_STATE: leave_preop_state_ex(requested); break;
        case SAFEOP_STATE:
            if (static_cast<int>(requested) < SAFEOP_STATE)
                shutdown_cyclic_frame_ex();
            leave_safeop_state_ex(requested);
            break;
        case OP_STATE:
            if (static_cast<int>(requested) < SAFEOP_STATE)
                shutdown_cyclic_frame_ex();
            leave_op_state_ex(requested);
            break;
        default:
            set_last_master_error(ECAT_STATE, ACTUAL_STATE_NO_CORRECT, 0);
            throw std::runtime_error("Sorry, actual ecm state is not valid :(");
        }
    } catch (const std::exception& e) {
        ecm_log_err(std::string("ECM_Master::go_to_next_state: ") + e.what());
        fall_back_to_init_without_cycle();
        throw std::exception();
    }
}

void ECM_Master::fall_back_to_init_without_cycle()
{
    if ((m_actual_ethercat_state != SAFEOP_STATE && m_actual_ethercat_state != OP_STATE) || m_thread_is_running)
        return;
    ecm_log_war("ECM_Master::go_to_next_state: no cycle runs in state " +
                std::to_string(static_cast<int>(m_actual_ethercat_state)) + ": the slaves are asked for INIT");
    try {
        shutdown_cyclic_frame_ex();
    } catch (const std::exception& e) {
        ecm_log_err(std::string("ECM_Master::go_to_next_state: ") + e.what());
    }
    uint8_t request[2] = {static_cast<uint8_t>(INIT_STATE), 0};
    if (ec_exchange_with_resends(
            [&] { return ec_BWR(0x0000, 0x0120, 2, request, DATAGRAM_TIMEOUT_US, THROUGH_GATE); }) < 1)
        ecm_log_err("ECM_Master::go_to_next_state: the INIT request got no answer");
    m_actual_ethercat_state = INIT_STATE;
}

void ECM_Master::leave_no_state_ex(State_Enum requested)
{
    ecm_log_inf("ECM_Master::leave_no_state( ... )");
    m_desired_state = requested;
    shutdown_cyclic_frame_ex();
    if (requested != INIT_STATE)
        throw std::runtime_error("Sorry, INIT_STATE is the only next state permitted :(");
    m_actual_ethercat_state = INIT_STATE;
}

void ECM_Master::leave_init_state_ex(State_Enum requested)
{
    ecm_log_inf("\tECM_Master::leave_init_state( ... )");
    m_desired_state = requested;
    switch (requested) {
    case INIT_STATE: ecm_log_war("\tdesired state == actual state"); break;
    case PREOP_STATE: from_init_state_to_preop_state_ex(); break;
    case SAFEOP_STATE: from_init_state_to_safeop_state_ex(); break;
    case OP_STATE: from_init_state_to_op_state_ex(); break;
    default: throw std::runtime_error("Sorry, next state is not valid :(");
    }
    m_actual_ethercat_state = requested;
}

void ECM_Master::leave_preop_state_ex(State_Enum requested)
{
    ecm_log_inf("ECM_Master::leave_preop_state_ex( ... )");
    m_desired_state = requested;
    switch (requested) {
    case INIT_STATE: from_preop_state_to_init_state_ex(); break;
    case SAFEOP_STATE: from_preop_state_to_safeop_state_ex(); break;
    case OP_STATE: from_preop_state_to_op_state_ex(); break;
    default: throw std::runtime_error("Sorry, next state is not valid :(");
    }
    m_actual_ethercat_state = requested;
}

void ECM_Master::leave_safeop_state_ex(State_Enum requested)
{
    ecm_log_inf("ECM_Master::leave_safeop_state_ex( ... )");
    m_desired_state = requested;
    switch (requested) {
    case INIT_STATE: from_safeop_state_to_init_state_ex(); break;
    case PREOP_STATE: from_safeop_state_to_preop_state_ex(); break;
    case OP_STATE: from_safeop_state_to_op_state_ex(); break;
    default: throw std::runtime_error("Sorry, next state is not valid :(");
    }
    m_actual_ethercat_state = requested;
}

void ECM_Master::leave_op_state_ex(State_Enum requested)
{
    ecm_log_inf("ECM_Master::leave_op_state_ex( ... )");
    m_desired_state = requested;
    switch (requested) {
    case INIT_STATE: from_op_state_to_init_state_ex(); break;
    case PREOP_STATE: from_op_state_to_preop_state_ex(); break;
    case SAFEOP_STATE: from_op_state_to_safeop_state_ex(); break;
    default: throw std::runtime_error("Sorry, next state is not valid :(");
    }
    m_actual_ethercat_state = requested;
}

void ECM_Master::run_transition_step_ex(const char* text, std::list<ECatCmdType>& master_list,
                                        TransitionType transition)
{
    ecm_log_inf(text);
    for (const ECatCmdType& cmd : master_list) {
        begin_init_cmd();
        while (!manage_and_send_initCmd_ex(cmd)) {
        }
    }
    if (transition == IP)
        slave_eeprom_information_reading_ex();
    take_slave_into_next_state_ex(transition);
}

void ECM_Master::from_init_state_to_preop_state_ex()
{
    run_transition_step_ex("\tECM_Master::from_init_state_to_preop_state_ex( ... )", m_initCmd_IP_transition, IP);
}

void ECM_Master::from_preop_state_to_safeop_state_ex()
{
    run_transition_step_ex("\tECM_Master::from_preop_state_to_safeop_state_ex( ... )", m_initCmd_PS_transition, PS);
    config_dc_slave_option();
    start_cyclic_frame_thread_ex(this);
    sleep_for(timespec{2, 0});
    // A cycle that could not start (distributed clocks, frame) leaves the
    // slaves without process data: not SAFE-OP.
    if (!m_thread_is_running)
        throw std::runtime_error("Attention: the cyclic thread has stopped: SAFEOP refused");
}

void ECM_Master::from_preop_state_to_init_state_ex()
{
    run_transition_step_ex("\tECM_Master::from_preop_state_to_init_state( ... )", m_initCmd_PI_transition, PI);
}

void ECM_Master::from_safeop_state_to_preop_state_ex()
{
    run_transition_step_ex("ECM_Master::from_safeop_state_to_preop_state( ... )", m_initCmd_SP_transition, SP);
}

void ECM_Master::from_safeop_state_to_op_state_ex()
{
    // OP needs the cycle that SAFE-OP started.
    if (!m_thread_is_running)
        throw std::runtime_error("Attention: the cyclic thread has stopped: OP refused");
    run_transition_step_ex("\tECM_Master::from_safeop_state_to_op_state_ex( ... )", m_initCmd_SO_transition, SO);
    ecm_log_inf("ECM_Master::master is in OPERATIONAL STATE ");
}

void ECM_Master::from_safeop_state_to_init_state_ex()
{
    run_transition_step_ex("\tECM_Master::from_safeop_state_to_init_state( ... )", m_initCmd_SI_transition, SI);
}

void ECM_Master::from_op_state_to_safeop_state_ex()
{
    run_transition_step_ex("\tECM_Master::op_state_to_safeop_state( ... )", m_initCmd_OS_transition, OS);
}

void ECM_Master::from_op_state_to_preop_state_ex()
{
    run_transition_step_ex("\tECM_Master::from_op_state_to_preop_state( ... )", m_initCmd_OP_transition, OP);
}

void ECM_Master::from_op_state_to_init_state_ex()
{
    if (m_initCmd_OI_transition.empty())
        throw std::runtime_error(" Error to change state [m_initCmd_OI_transition.size() == 0 ]");
    run_transition_step_ex("\tECM_Master::from_op_state_to_init_state( ... )", m_initCmd_OI_transition, OI);
}

void ECM_Master::from_init_state_to_safeop_state_ex()
{
    ecm_log_inf("ECM_Master::from_init_state_to_safeop_state( ... )");
    // The state follows each finished single step, so that it always
    // names where the slaves are.
    from_init_state_to_preop_state_ex();
    m_actual_ethercat_state = PREOP_STATE;
    from_preop_state_to_safeop_state_ex();
}

void ECM_Master::from_init_state_to_op_state_ex()
{
    ecm_log_inf("ECM_Master::from_init_state_to_op_state( ... )");
    from_init_state_to_preop_state_ex();
    m_actual_ethercat_state = PREOP_STATE;
    from_preop_state_to_safeop_state_ex();
    m_actual_ethercat_state = SAFEOP_STATE;
    from_safeop_state_to_op_state_ex();
}

void ECM_Master::from_preop_state_to_op_state_ex()
{
    ecm_log_inf("ECM_Master::preop_state_to_op_state( ... )");
    from_preop_state_to_safeop_state_ex();
    m_actual_ethercat_state = SAFEOP_STATE;
    from_safeop_state_to_op_state_ex();
}

int ECM_Master::check_slave_active()
{
    ecm_log_inf("ECM_Master::check_slave_active ( ... )");
    m_last_data_read.assign(2, 0);
    const int wkc = ec_exchange_with_resends(
        [this] { return ec_BRD(0x0000, 0x0130, 2, m_last_data_read.data(), DATAGRAM_TIMEOUT_US, THROUGH_GATE); });
    return wkc < 0 ? -1 : wkc;
}
