#include "xelo_ethercat_slave_class.h"

#include <pthread.h>

#include <cstring>
#include <stdexcept>

#include "ecm_log.h"
#include "init_cmd_lists.h"
#include "robust_mutex.h"
#include "xelo_ethercat_master_class.h"

namespace {
// Byte count of a window of bits: 1 for 1..7 bits, whole bytes above.
int byte_count(int bits)
{
    if (bits < 1)
        return 0;
    if (bits <= 7)
        return 1;
    return (bits + 7) / 8;
}

// A slave's data must lie inside the shared image, whose byte 0 is byte 16
// of the configuration's process image.
void check_window_ex(const char* direction, int start_bit, int bytes)
{
    const int start_byte = start_bit / 8 - 16;
    if (start_bit < 128 || start_byte + bytes > ecm_shm::PROCESS_DATA_BYTES)
        throw std::runtime_error(std::string("Attention: slave ") + direction +
                                 " process data outside the shared image (BitStart " + std::to_string(start_bit) + ")");
}

// The lines of the process-data mutex as the slave takes it: the master's
// WAR line for a recovered mutex, its own plain line for a failure.
class Process_Data_Lock_Log final : public Lock_Log_Sink {
public:
    void write(Log_Level level, const char* text) noexcept override { ecm_lock_log().write(level, text); }
    void failed(Lock_Operation operation, const char* /*name*/, const char* /*owner*/, int code) noexcept override
    {
        try {
            ecm_log_plain(std::string(" ECM_Slave::get_process_data (... ) -> ") +
                          (operation == Lock_Operation::unlock ? "pthread_mutex_unlock" : "pthread_mutex_lock") +
                          " error" + std::strerror(code));
        } catch (...) {
            // no memory for the line: the exception that follows tells it
        }
    }
};
Process_Data_Lock_Log g_process_data_lock_log;
}  // namespace

ECM_Slave::ECM_Slave(EtherCATConfig_Config_Slave slave, Shared_Pdo_Mem_Region* pdo, uint16_t num)
    : m_slave_info(slave.info_m_el), m_num_order(num)
{
    if (slave.has_init_cmds_o_el)
        get_initcmds(&slave.init_cmds_o_el);
    if (slave.has_mailbox_o_el)
        get_mailbox_info(&slave.mailbox_o_el);
    if (slave.has_process_data_o_el) {
        get_process_data(&slave.process_data_o_el, pdo);
        manage_processdata_info(&slave.process_data_o_el);
    }
    if (slave.has_dc_o_el)
        manage_DC_config_info(&slave.dc_o_el);
}

void ECM_Slave::get_initcmds(const InitCmds* init_cmds)
{
    std::list<ECatCmdType>* const lists[9] = {&m_initCmd_IP_transition, &m_initCmd_PS_transition,
                                              &m_initCmd_PI_transition, &m_initCmd_SP_transition,
                                              &m_initCmd_SO_transition, &m_initCmd_SI_transition,
                                              &m_initCmd_OS_transition, &m_initCmd_OP_transition,
                                              &m_initCmd_OI_transition};
    if (init_cmds->has_init_cmd_o_el) {
        for (const ECatCmdType& cmd : init_cmds->init_cmd_o_el) {
            if (cmd.cmd_m_el == EC_CMD_FPWR && cmd.has_adp_oxor_el && m_configadr == 0xFFFF)
                m_configadr = cmd.adp_oxor_el;
            if (cmd.has_transition_o_el)
                sort_by_transition(cmd, cmd.transition_o_el, lists);
        }
    }
    log_init_cmd_counts("\t--- Single Slave Number InitCmd found ---", lists);
}

void ECM_Slave::get_mailbox_info(const EtherCATConfig_Config_Slave_Mailbox* mailbox)
{
    m_has_mailbox = true;
    if (mailbox->send_m_el.length_m_el != mailbox->recv_m_el.length_m_el)
        throw std::runtime_error("Attention: send and recv mailbox dimension not agree ");
    m_mbx_l = static_cast<uint16_t>(mailbox->send_m_el.length_m_el);
    m_mbx_wo = static_cast<uint16_t>(mailbox->send_m_el.start_m_el);
    m_mbx_ro = static_cast<uint16_t>(mailbox->recv_m_el.start_m_el);
    if (mailbox->has_protocol_o_el && mailbox->has_coe_o_el)
        manage_CoE_mailbox_protocol(&mailbox->coe_o_el);
    ecm_log_inf("\tm_mbx_l " + std::to_string(m_mbx_l));
    ecm_log_inf("\tm_mbx_wo " + std::to_string(m_mbx_wo));
    ecm_log_inf("\tm_mbx_ro " + std::to_string(m_mbx_ro));
}

void ECM_Slave::manage_CoE_mailbox_protocol(const EtherCATConfig_Config_Slave_Mailbox_CoE* coe)
{
    m_has_CoE = true;
    if (!coe->has_init_cmds_o_el)
        return;
    CoE_InitCmds_Struct& c = m_CoE_initCmds;
    std::list<CoE_InitCmd>* const lists[9] = {&c.m_CoE_initCmd_IP_transition, &c.m_CoE_initCmd_PS_transition,
                                              &c.m_CoE_initCmd_PI_transition, &c.m_CoE_initCmd_SP_transition,
                                              &c.m_CoE_initCmd_SO_transition, &c.m_CoE_initCmd_SI_transition,
                                              &c.m_CoE_initCmd_OS_transition, &c.m_CoE_initCmd_OP_transition,
                                              &c.m_CoE_initCmd_OI_transition};
    for (const CoE_InitCmd& cmd : coe->init_cmds_o_el.init_cmd_o_el)
        sort_by_transition(cmd, cmd.transition_m_el, lists);
    ecm_log_inf("\t--- number and type CoE SDO commands --- ");
    ecm_log_inf("\t m_CoE_initCmd_IP_transition.size = " + std::to_string(c.m_CoE_initCmd_IP_transition.size()));
    ecm_log_inf("\t m_CoE_initCmd_PS_transition.size =  " + std::to_string(c.m_CoE_initCmd_PS_transition.size()));
    ecm_log_inf("\t m_CoE_initCmd_SO_transition.size =  " + std::to_string(c.m_CoE_initCmd_SO_transition.size()));
    ecm_log_inf("\t m_CoE_initCmd_OS_transition.size =  " + std::to_string(c.m_CoE_initCmd_OS_transition.size()));
    ecm_log_inf("\t m_CoE_initCmd_OP_transition.size =  " + std::to_string(c.m_CoE_initCmd_OP_transition.size()));
    ecm_log_inf("\t m_CoE_initCmd_OI_transition.size =  " + std::to_string(c.m_CoE_initCmd_OI_transition.size()));
    ecm_log_inf("\t m_CoE_initCmd_SP_transition.size =  " + std::to_string(c.m_CoE_initCmd_SP_transition.size()));
    ecm_log_inf("\t m_CoE_initCmd_SI_transition.size =  " + std::to_string(c.m_CoE_initCmd_SI_transition.size()));
    ecm_log_inf("\t m_CoE_initCmd_PI_transition.size =  " + std::to_string(c.m_CoE_initCmd_PI_transition.size()));
}

void ECM_Slave::manage_DC_config_info(const EtherCATConfig_Config_Slave_DC* dc)
{
    m_has_DC = true;
    m_dc_reference_clock = dc->reference_clock_m_el;
    m_dc_cycle_time_sync0 = dc->cycle_time_0_m_el;
    m_dc_cycle_time_sync1 = dc->cycle_time_1_m_el;
    m_dc_shift_time_m_el = dc->shift_time_m_el;
    ecm_log_inf("ECM_Slave::manage_DC_config_info ( ... )");
    ecm_log_inf("\treference_clock " + std::to_string(m_dc_reference_clock));
    ecm_log_inf("\tcycle_time_sync0 " + std::to_string(m_dc_cycle_time_sync0));
    ecm_log_inf("\tcycle_time_sync1 " + std::to_string(m_dc_cycle_time_sync1));
    ecm_log_inf("\tshift_time_m_el " + std::to_string(m_dc_shift_time_m_el));
}

void ECM_Slave::get_process_data(const EtherCATConfig_Config_Slave_ProcessData* process_data,
                                 Shared_Pdo_Mem_Region* pdo)
{
    m_pdo_map = pdo;
    if (process_data->has_recv_o_el) {
        m_Ibits = process_data->recv_o_el.bit_length_m_el;
        m_Istartbit = process_data->recv_o_el.bit_start_m_el;
        m_Ibytes = byte_count(m_Ibits);
        if (m_Ibytes > 0)
            check_window_ex("input", m_Istartbit, m_Ibytes);
        m_inputs_shm_start_byte = m_Istartbit / 8 - 16;
        m_inputs_shm_start_offs_bit = m_Istartbit % 8;
    }
    if (process_data->has_send_o_el) {
        m_Obits = process_data->send_o_el.bit_length_m_el;
        m_Ostartbit = process_data->send_o_el.bit_start_m_el;
        m_Obytes = byte_count(m_Obits);
        if (m_Obytes > 0)
            check_window_ex("output", m_Ostartbit, m_Obytes);
        m_outputs_shm_start_byte = m_Ostartbit / 8 - 16;
        m_outputs_shm_start_offs_bit = m_Ostartbit % 8;
    }

    Nothrow_Lock lock(Robust_Mutex(&m_pdo_map->shm_mutex, "m_pdo_map->shm_mutex", nullptr, &g_process_data_lock_log));
    if (!lock.owns_lock())
        throw std::runtime_error(std::string("Failed to pthread_mutex_lock ... m_pdo_map->shm_mutex ") +
                                 std::strerror(lock.error()));
    if (process_data->has_recv_o_el && m_Ibytes > 0) {
        m_inputs = &m_pdo_map->shm_buf_in[m_inputs_shm_start_byte];
        std::memset(m_inputs, 0, static_cast<size_t>(m_Ibytes));
    }
    if (process_data->has_send_o_el && m_Obytes > 0) {
        m_outputs = &m_pdo_map->shm_buf_out[m_outputs_shm_start_byte];
        std::memset(m_outputs, 0, static_cast<size_t>(m_Obytes));
    }
    const int rc = lock.unlock();
    if (rc != 0)
        throw std::runtime_error(std::string("Failed to pthread_mutex_unlock ... m_pdo_map->shm_mutex ") +
                                 std::strerror(rc));
}

void ECM_Slave::manage_processdata_info(const EtherCATConfig_Config_Slave_ProcessData* process_data)
{
    const auto fill = [](const std::list<PdoType>& pdos, std::vector<Info_Pdo_Struct>* rows) {
        for (const PdoType& pdo : pdos) {
            if (!pdo.has_entry_o_el || !pdo.has_sm_o_att)
                continue;
            for (const EntryType& entry : pdo.entry_o_el)
                rows->push_back(
                    {entry.index_m_el, entry.has_subindex_o_el ? entry.subindex_o_el : 0u, entry.bit_len_m_el});
        }
        return static_cast<int>(rows->size());
    };
    if (process_data->has_rxpdo_mxor_el) {
        m_has_rxpdo = true;
        m_outputs_number = fill(process_data->rxpdo_mxor_el, &m_rx_pdo_info);
    }
    if (process_data->has_txpdo_mxor_el) {
        m_has_txpdo = true;
        m_inputs_number = fill(process_data->txpdo_mxor_el, &m_tx_pdo_info);
    }
}

std::list<ECatCmdType>* ECM_Slave::get_initCmd_list(TransitionType transition)
{
    switch (transition) {
    case IP: return &m_initCmd_IP_transition;
    case PS: return &m_initCmd_PS_transition;
    case PI: return &m_initCmd_PI_transition;
    case SP: return &m_initCmd_SP_transition;
    case SO: return &m_initCmd_SO_transition;
    case SI: return &m_initCmd_SI_transition;
    case OS: return &m_initCmd_OS_transition;
    case OP: return &m_initCmd_OP_transition;
    case OI: return &m_initCmd_OI_transition;
    default: ecm_log_err("ECM_Slave::get_initCmd_list ( ... ) Transition type TODO"); return nullptr;
    }
}

std::list<CoE_InitCmd>* ECM_Slave::get_CoE_cmd(TransitionType transition)
{
    CoE_InitCmds_Struct& c = m_CoE_initCmds;
    switch (transition) {
    case IP: return &c.m_CoE_initCmd_IP_transition;
    case PS: return &c.m_CoE_initCmd_PS_transition;
    case PI: return &c.m_CoE_initCmd_PI_transition;
    case SP: return &c.m_CoE_initCmd_SP_transition;
    case SO: return &c.m_CoE_initCmd_SO_transition;
    case SI: return &c.m_CoE_initCmd_SI_transition;
    case OS: return &c.m_CoE_initCmd_OS_transition;
    case OP: return &c.m_CoE_initCmd_OP_transition;
    case OI: return &c.m_CoE_initCmd_OI_transition;
    case IB: throw std::runtime_error("Attention: CoE IB command not implemented");
    case BI: throw std::runtime_error("Attention: CoE BI command not implemented");
    case II: throw std::runtime_error("Attention: CoE II command not implemented");
    case PP: throw std::runtime_error("Attention: CoE PP command not implemented");
    case SS: throw std::runtime_error("Attention: CoE SS command not implemented");
    }
    return nullptr;
}

void ECM_Slave::clear_mem()
{
    m_CoE_initCmds = CoE_InitCmds_Struct{};
    m_rx_pdo_info.clear();
    m_tx_pdo_info.clear();
    m_outputs_number = 0;
    m_inputs_number = 0;
}

void ECM_Slave::set_vendor_id(uint32_t value)
{
    vendor_id = value;
    ecm_log_inf("Slave " + std::to_string(m_configadr) + " vendor_id = " + std::to_string(value));
}

void ECM_Slave::set_product_code(uint32_t value)
{
    product_code = value;
    ecm_log_inf("Slave " + std::to_string(m_configadr) + " product_code = " + std::to_string(value));
}

void ECM_Slave::set_serial_number(uint32_t value)
{
    serial_number = value;
    ecm_log_inf("Slave " + std::to_string(m_configadr) + " serial_number = " + std::to_string(value));
}

void ECM_Slave::set_config_alias(uint16_t value)
{
    config_alias = value;
    ecm_log_inf("Slave " + std::to_string(m_configadr) + " config_alias = " + std::to_string(value));
}

uint32_t ECM_Slave::get_vendor_id() const
{
    if (vendor_id == 0xFFFFFFFF)
        throw std::runtime_error("get_vendor_id: eeprom data is not valid on slave: " + std::to_string(m_configadr));
    return vendor_id;
}

uint32_t ECM_Slave::get_product_code() const
{
    if (product_code == 0xFFFFFFFF)
        throw std::runtime_error("get_product_code: data is not valid ");
    return product_code;
}

uint32_t ECM_Slave::get_serial_number() const
{
    if (serial_number == 0xFFFFFFFF)
        throw std::runtime_error("get_serial_number: data is not valid ");
    return serial_number;
}

void ECM_Slave::set_first_seven_eeprom_word(const uint16_t* words)
{
    std::memcpy(m_eeprom_data, words, sizeof(m_eeprom_data));
}

void ECM_Slave::get_first_seven_eeprom_word(uint16_t* words) const
{
    std::memcpy(words, m_eeprom_data, sizeof(m_eeprom_data));
}

namespace {
template <typename T, typename Field>
T entry_value(const std::vector<Info_Pdo_Struct>& rows, int count, int n, Field field)
{
    if (n < 0 || n >= count || static_cast<size_t>(n) >= rows.size())
        return static_cast<T>(-1);
    return static_cast<T>(rows[static_cast<size_t>(n)].*field);
}
}  // namespace

uint32_t ECM_Slave::get_input_index(int n) const
{
    return entry_value<uint32_t>(m_tx_pdo_info, m_inputs_number, n, &Info_Pdo_Struct::index);
}
uint32_t ECM_Slave::get_input_subindex(int n) const
{
    return entry_value<uint32_t>(m_tx_pdo_info, m_inputs_number, n, &Info_Pdo_Struct::subindex);
}
int ECM_Slave::get_input_bitlength(int n) const
{
    return entry_value<int>(m_tx_pdo_info, m_inputs_number, n, &Info_Pdo_Struct::bitlength);
}
uint32_t ECM_Slave::get_output_index(int n) const
{
    return entry_value<uint32_t>(m_rx_pdo_info, m_outputs_number, n, &Info_Pdo_Struct::index);
}
uint32_t ECM_Slave::get_output_subindex(int n) const
{
    return entry_value<uint32_t>(m_rx_pdo_info, m_outputs_number, n, &Info_Pdo_Struct::subindex);
}
int ECM_Slave::get_output_bitlength(int n) const
{
    return entry_value<int>(m_rx_pdo_info, m_outputs_number, n, &Info_Pdo_Struct::bitlength);
}
