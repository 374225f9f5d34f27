// Queries about the slaves: PDO entries, states, topology, EEPROM identity
// and error counters.
#include <cstring>
#include <ctime>
#include <stdexcept>

#include "ecm_log.h"
#include "ethercatbase.h"
#include "os_iface.h"
#include "xelo_ethercat_master_class.h"
#include "xelo_string_functions.h"

namespace {
constexpr int DATAGRAM_TIMEOUT_US = 1000;
constexpr char THROUGH_GATE = 0;

constexpr uint16_t REG_EEPCFG = 0x0500;
constexpr uint16_t REG_EEPCTL = 0x0502;
constexpr uint16_t REG_EEPDAT = 0x0508;
constexpr uint16_t EEPROM_BUSY = 0x8000;
constexpr uint16_t EEPROM_ERROR_MASK = 0x7800;
constexpr uint16_t EEPROM_NACK = 0x2000;
constexpr uint16_t EEPROM_READ_8 = 0x0040;

uint16_t le16(const uint8_t* p)
{
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

void sleep_us(long us)
{
    timespec pause{us / 1000000, (us % 1000000) * 1000};
    while (clock_nanosleep(CLOCK_MONOTONIC, 0, &pause, &pause) == EINTR) {
    }
}

long long now_us()
{
    timeval tv{};
    gettimeofday_xenomai(&tv, nullptr);
    return static_cast<long long>(tv.tv_sec) * 1000000LL + tv.tv_usec;
}

int read_reg(bool configured, uint16_t address, uint16_t reg, uint16_t length, void* data)
{
    return configured ? ec_FPRD(address, reg, length, data, DATAGRAM_TIMEOUT_US, THROUGH_GATE)
                      : ec_APRD(address, reg, length, data, DATAGRAM_TIMEOUT_US, THROUGH_GATE);
}

int write_reg(bool configured, uint16_t address, uint16_t reg, uint16_t length, void* data)
{
    return configured ? ec_FPWR(address, reg, length, data, DATAGRAM_TIMEOUT_US, THROUGH_GATE)
                      : ec_APWR(address, reg, length, data, DATAGRAM_TIMEOUT_US, THROUGH_GATE);
}

// Sent again while the working counter is 0 or negative; the last working
// counter.
template <typename Access>
int with_attempts(Access access)
{
    return ec_exchange_with_resends(access, 1);
}
}  // namespace

void ECM_Master::clear_system()
{
    ecm_log_inf("ECM_Master:: clear_system ( ... )");
    if (m_is_cleaned)
        return;
    ecm_log_inf("ECM_Master:: clear_system ( ... ) !m_is_cleaned");
    // No SDO transfer runs while the slaves go; queued requests go with them.
    Robust_Mutex mailbox_mutex = ecm_mutex(&m_mailbox_mutex, "m_mailbox_mutex");
    std::lock_guard<Robust_Mutex> mailbox(mailbox_mutex);
    clear_sdo_lists();
    m_is_cleaned = true;
    m_is_xml_data_ok = false;
    m_actual_ethercat_state = NO_STATE;
    m_thread_is_running = false;
    m_cycle_cmd_array.clear();
    m_cycle_cmd_list_number = 0;
    m_has_cycle_cmd_list = false;
    m_wrk_cycle_ctrl_status_is_active = false;
    for (std::list<ECatCmdType>* list : {&m_initCmd_IP_transition, &m_initCmd_PS_transition, &m_initCmd_SO_transition,
                                         &m_initCmd_OS_transition, &m_initCmd_OP_transition, &m_initCmd_OI_transition,
                                         &m_initCmd_SP_transition, &m_initCmd_SI_transition, &m_initCmd_PI_transition})
        list->clear();
    for (ECM_Slave& slave : m_slave)
        slave.clear_mem();
    m_slave.clear();
}

// ---- small queries ----------------------------------------------------------------------

ECM_Slave* ECM_Master::find_slave(int conf_addr)
{
    for (ECM_Slave& slave : m_slave)
        if (slave.get_config_address() == conf_addr)
            return &slave;
    return nullptr;
}

const ECM_Slave* ECM_Master::find_slave(int conf_addr) const
{
    for (const ECM_Slave& slave : m_slave)
        if (slave.get_config_address() == conf_addr)
            return &slave;
    return nullptr;
}

int32_t ECM_Master::get_slave_address(const std::string& name) const
{
    for (const ECM_Slave& slave : m_slave)
        if (slave.get_slave_name() == name)
            return slave.get_config_address();
    return -1;
}

int32_t ECM_Master::get_slaves_number()
{
    return check_slave_active();
}

namespace {
// The first slave with the address and at least n entries in the direction.
template <typename Result>
Result pdo_entry_ex(const std::vector<ECM_Slave>& slaves, int configadr, int n, bool input,
                    Result (ECM_Slave::*value)(int) const)
{
    if (n >= 0)
        for (const ECM_Slave& slave : slaves) {
            const int count = input ? slave.get_num_input() : slave.get_num_output();
            if (slave.get_config_address() == configadr && count >= n)
                return (slave.*value)(n);
        }
    throw std::runtime_error("Attention: No Slave or Input found");
}
}  // namespace

uint32_t ECM_Master::get_slave_input_index_ex(int configadr, int n) const
{
    ecm_log_inf("ECM_Master::get_slave_input_index_ex ( ... )");
    return pdo_entry_ex(m_slave, configadr, n, true, &ECM_Slave::get_input_index);
}
uint32_t ECM_Master::get_slave_input_subindex_ex(int configadr, int n) const
{
    ecm_log_inf("ECM_Master::get_slave_input_subindex_ex ( ... )");
    return pdo_entry_ex(m_slave, configadr, n, true, &ECM_Slave::get_input_subindex);
}
int32_t ECM_Master::get_slave_input_bitlength_ex(int configadr, int n) const
{
    ecm_log_inf("ECM_Master::get_slave_input_bitlength_ex ( ... )");
    return pdo_entry_ex(m_slave, configadr, n, true, &ECM_Slave::get_input_bitlength);
}
uint32_t ECM_Master::get_slave_output_index_ex(int configadr, int n) const
{
    ecm_log_inf("ECM_Master::get_slave_output_index_ex ( ... )");
    return pdo_entry_ex(m_slave, configadr, n, false, &ECM_Slave::get_output_index);
}
uint32_t ECM_Master::get_slave_output_subindex_ex(int configadr, int n) const
{
    ecm_log_inf("ECM_Master::get_slave_output_subindex_ex ( ... )");
    return pdo_entry_ex(m_slave, configadr, n, false, &ECM_Slave::get_output_subindex);
}
int32_t ECM_Master::get_slave_output_bitlength_ex(int configadr, int n) const
{
    ecm_log_inf("ECM_Master::get_slave_output_bitlength_ex ( ... )");
    return pdo_entry_ex(m_slave, configadr, n, false, &ECM_Slave::get_output_bitlength);
}

// ---- registers ------------------------------------------------------------------------------

int ECM_Master::read_register_word_ex(int configadr, uint16_t reg, const char* error_text)
{
    uint8_t data[2] = {};
    if (with_attempts([&] {
            return ec_FPRD(static_cast<uint16_t>(configadr), reg, 2, data, DATAGRAM_TIMEOUT_US, THROUGH_GATE);
        }) != 1)
        throw std::runtime_error(error_text + XELO_String_Functions::num2str(configadr));
    return le16(data);
}

int ECM_Master::read_register_byte_ex(int configadr, uint16_t reg, const char* error_text)
{
    uint8_t data = 0;
    if (with_attempts([&] {
            return ec_FPRD(static_cast<uint16_t>(configadr), reg, 1, &data, DATAGRAM_TIMEOUT_US, THROUGH_GATE);
        }) != 1)
        throw std::runtime_error(error_text + XELO_String_Functions::num2str(configadr));
    return data;
}

int ECM_Master::get_slave_state_request_ex(int configadr)
{
    return read_register_word_ex(configadr, 0x0120, "get_slave_state_request_ex with FPRD error on slave: ");
}
int ECM_Master::get_slave_state_actual_ex(int configadr)
{
    return read_register_word_ex(configadr, 0x0130, "get_slave_state_actual_ex error on slave: ");
}
int ECM_Master::get_slave_state_error_code_ex(int configadr)
{
    return read_register_word_ex(configadr, 0x0134, "get_slave_state_error_code_ex with FPRD error on slave: ");
}
int ECM_Master::get_slave_port_in_rx_error_request_ex(int configadr)
{
    return read_register_byte_ex(configadr, 0x0300, "get_slave_port_in_rx_error_request_ex with FPRD error on slave: ");
}
int ECM_Master::get_slave_port_out_rx_error_request_ex(int configadr)
{
    return read_register_byte_ex(configadr, 0x0302,
                                 "get_slave_port_out_rx_error_request_ex with FPRD error on slave: ");
}
int ECM_Master::get_slave_port_in_fw_error_request_ex(int configadr)
{
    return read_register_byte_ex(configadr, 0x0308, "get_slave_port_in_fw_error_request_ex with FPRD error on slave: ");
}
int ECM_Master::get_slave_port_out_fw_error_request_ex(int configadr)
{
    return read_register_byte_ex(configadr, 0x0309,
                                 "get_slave_port_out_fw_error_request_ex with FPRD error on slave: ");
}

uint16_t ECM_Master::incr_read_16_bit_ex(uint16_t slave_pos, uint16_t reg_addr)
{
    uint8_t data[2] = {};
    if (with_attempts([&] {
            return ec_APRD(static_cast<uint16_t>(0 - slave_pos), reg_addr, 2, data, DATAGRAM_TIMEOUT_US, THROUGH_GATE);
        }) != 1)
        throw std::runtime_error("incr_read_16_bit_ex error on slave: " + std::to_string(slave_pos));
    return le16(data);
}

void ECM_Master::print_slaves_error_code()
{
    static const uint16_t words[] = {0x0300, 0x0302, 0x0304, 0x0306};
    static const uint16_t bytes[] = {0x0308, 0x0309, 0x030A, 0x030B, 0x030C, 0x030D, 0x0310, 0x0311, 0x0312, 0x0313};
    for (const ECM_Slave& slave : m_slave) {
        const uint16_t address = slave.get_config_address();
        std::vector<std::string> lines;
        for (uint16_t reg : words) {
            uint8_t data[2] = {};
            if (ec_FPRD(address, reg, 2, data, DATAGRAM_TIMEOUT_US, THROUGH_GATE) > 0) {
                char text[64];
                std::snprintf(text, sizeof(text), "2 byte data_read at 0x%04X: %d %d", reg, data[0], data[1]);
                lines.emplace_back(text);
            }
        }
        for (uint16_t reg : bytes) {
            uint8_t data = 0;
            if (ec_FPRD(address, reg, 1, &data, DATAGRAM_TIMEOUT_US, THROUGH_GATE) > 0) {
                char text[64];
                std::snprintf(text, sizeof(text), "1 byte data_read at 0x%04X: %d", reg, data);
                lines.emplace_back(text);
            }
        }
        ecm_log_plain("---");
        ecm_log_plain(" SLAVE add: " + std::to_string(address));
        for (const std::string& line : lines)
            ecm_log_plain(line);
        ecm_log_plain("---");
        uint8_t al[3][2] = {};
        const uint16_t al_regs[3] = {0x0120, 0x0130, 0x0134};
        for (int i = 0; i < 3; ++i)
            (void)ec_FPRD(address, al_regs[i], 2, al[i], DATAGRAM_TIMEOUT_US, THROUGH_GATE);
        ecm_log_plain("---");
        ecm_log_plain(" SLAVE add: " + std::to_string(address));
        ecm_log_plain("2 byte data_read at 0x120: " + std::to_string(al[0][0]) + " " + std::to_string(al[0][1]));
        ecm_log_plain("2 byte data_read at 0x130: " + std::to_string(al[1][0]) + " " + std::to_string(al[1][1]));
        ecm_log_plain("2 byte data_read at 0x134 " + std::to_string(al[2][0]) + " " + std::to_string(al[2][1]));
        ecm_log_plain("---");
    }
}

// ---- topology ------------------------------------------------------------------------------------

void ECM_Master::get_slaves_network_topology_info()
{
    ecm_log_inf("ECM_Master::get_slaves_network_topology_info ( ... )");
    for (std::size_t i = 1; i <= m_slave.size(); ++i) {
        ECM_Slave& slave = m_slave[i - 1];
        const uint16_t position = static_cast<uint16_t>(1 - static_cast<int>(i));
        uint8_t data[2] = {};
        (void)with_attempts([&] { return ec_APRD(position, 0x0110, 2, data, DATAGRAM_TIMEOUT_US, THROUGH_GATE); });
        const uint16_t status = le16(data);
        uint8_t topology = 0;
        uint8_t active = 0;
        for (int port = 0; port < 4; ++port) {
            const uint16_t bits = static_cast<uint16_t>((status >> (8 + 2 * port)) & 0x3);
            if (bits == 0x2) {
                ++topology;
                active = static_cast<uint8_t>(active | (1 << port));
            }
        }
        slave.set_topology(topology);
        slave.set_activeports(active);
        uint8_t ptype[2] = {};
        (void)with_attempts([&] { return ec_APRD(position, 0x0007, 2, ptype, DATAGRAM_TIMEOUT_US, THROUGH_GATE); });
        slave.set_ptype(ptype[0]);

        slave.set_parent(0);
        if (i > 1) {
            int16_t counter = 0;
            for (std::size_t c = i - 1; c >= 1; --c) {
                const uint8_t t = m_slave[c - 1].get_topology();
                if (t == 1)
                    --counter;
                else if (t == 3)
                    ++counter;
                else if (t == 4)
                    counter = static_cast<int16_t>(counter + 2);
                if ((t > 1 && counter >= 0) || c == 1) {
                    slave.set_parent(static_cast<uint16_t>(c));
                    break;
                }
            }
        }
        ecm_log_inf("### slave ### ");
        ecm_log_inf("get_topology() " + std::to_string(slave.get_topology()));
        ecm_log_inf("get_activeports() " + std::to_string(slave.get_activeports()));
        ecm_log_inf("get_ptype() " + std::to_string(slave.get_ptype()));
        ecm_log_inf("get_parent() " + std::to_string(slave.get_parent()));
    }
}

int ECM_Master::find_first_slave_in_error(uint16_t state_to_check) const
{
    for (std::size_t i = 0; i < m_slaves_state_array.size(); ++i)
        if (m_slaves_state_array[i] != state_to_check)
            return ecm_shm::FIRST_SLAVE_NUMBER + static_cast<int>(i);
    return 0;
}

// ---- EEPROM ------------------------------------------------------------------------------------------

void ECM_Master::assign_slave_eeprom_to_ecat_ex(int slave_incr_num, bool is_config_addr)
{
    const uint16_t address = static_cast<uint16_t>(slave_incr_num);
    const char* errors[2] = {is_config_addr ? "ec_FPWR Assign Error 1" : "ec_APWR Assign Error 1",
                             is_config_addr ? "ec_FPWR Assign Error 2 " : "ec_APWR Assign Error 2"};
    const uint8_t values[2] = {2, 0};
    for (int step = 0; step < 2; ++step) {
        uint8_t value = values[step];
        const int wkc = with_attempts([&] { return write_reg(is_config_addr, address, REG_EEPCFG, 1, &value); });
        if (wkc != 1)
            throw std::runtime_error(errors[step]);
    }
}

int ECM_Master::eeprom_waitnotbusy_ex(int configadr, uint16_t* estat, bool is_config_addr, long timeout_us)
{
    const long long deadline = now_us() + timeout_us;
    for (;;) {
        uint8_t data[2] = {};
        const int wkc = read_reg(is_config_addr, static_cast<uint16_t>(configadr), REG_EEPCTL, 2, data);
        *estat = le16(data);
        if (wkc > 0 && (*estat & EEPROM_BUSY) == 0)
            return 1;
        if (now_us() > deadline)
            break;
        sleep_us(200);
    }
    return (*estat & EEPROM_BUSY) == 0 ? 1 : 0;
}

uint32_t ECM_Master::read_slave_data_from_eeprom_ex(int slave_incr_num, uint16_t eeprom_addr, bool is_config_addr)
{
    const uint16_t address = static_cast<uint16_t>(slave_incr_num);
    uint16_t estat = 0;
    if (eeprom_waitnotbusy_ex(slave_incr_num, &estat, is_config_addr, 100000) == 0)
        throw std::runtime_error("read_slave_data_from_eeprom_ex EEPROM BUSY");
    if (estat & EEPROM_ERROR_MASK) {
        uint8_t clear[2] = {0, 0};
        if (write_reg(is_config_addr, address, REG_EEPCTL, 2, clear) != 1)
            throw std::runtime_error("read_slave_data_from_eeprom_ex error:  ( ECT_REG_EEPCTL, estat )");
    }
    long pause_us = 200;
    for (int pass = 0; pass < 3; ++pass) {
        const int wkc = with_attempts([&] {
            uint8_t command[6] = {
                0x00, 0x01, static_cast<uint8_t>(eeprom_addr & 0xFF), static_cast<uint8_t>(eeprom_addr >> 8), 0, 0};
            return write_reg(is_config_addr, address, REG_EEPCTL, 6, command);
        });
        if (wkc != 1)
            throw std::runtime_error("read_slave_data_from_eeprom_ex error: ( ECT_REG_EEPCTL, ed )");
        sleep_us(pause_us);
        if (eeprom_waitnotbusy_ex(slave_incr_num, &estat, is_config_addr, 100000) == 0)
            throw std::runtime_error("read_slave_data_from_eeprom_ex EEPROM BUSY after");
        if (estat & EEPROM_NACK) {
            sleep_us(1000);
            pause_us = 1000;
            continue;
        }
        const bool eight = (estat & EEPROM_READ_8) != 0;
        uint8_t data[8] = {};
        const int read = with_attempts(
            [&] { return read_reg(is_config_addr, address, REG_EEPDAT, static_cast<uint16_t>(eight ? 8 : 4), data); });
        if (read != 1)
            throw std::runtime_error(eight ? "read_slave_data_from_eeprom_ex error:  ( ECT_REG_EEPDAT, edat64 )"
                                           : "read_slave_data_from_eeprom_ex error:  ( ECT_REG_EEPDAT, edat32 )");
        return static_cast<uint32_t>(data[0]) | (static_cast<uint32_t>(data[1]) << 8) |
               (static_cast<uint32_t>(data[2]) << 16) | (static_cast<uint32_t>(data[3]) << 24);
    }
    // Three reads without acknowledge: the EEPROM gave no data, and 0 would
    // pass for a word it holds.
    throw std::runtime_error("read_slave_data_from_eeprom_ex error: EEPROM read not acknowledged");
}

void ECM_Master::set_slave_fisrt_seven_eeprom_words(uint16_t salve_addr_from_xml, uint16_t slave_incr_num,
                                                    bool is_config_addr, bool check)
{
    uint16_t words[7] = {};
    uint16_t stored[7] = {};
    const ECM_Slave* known = find_slave(salve_addr_from_xml);
    if (known != nullptr)
        known->get_first_seven_eeprom_word(stored);
    for (uint16_t w = 0; w < 7; ++w) {
        words[w] = static_cast<uint16_t>(read_slave_data_from_eeprom_ex(slave_incr_num, w, is_config_addr));
        if (check && w != 4 && words[w] != stored[w])
            throw std::runtime_error("Check eeprom data to checksum FAILED!");
    }
    for (ECM_Slave& slave : m_slave)
        if (slave.get_config_address() == salve_addr_from_xml)
            slave.set_first_seven_eeprom_word(words);
}

void ECM_Master::slave_eeprom_information_reading_ex()
{
    ecm_log_inf("ECM_Master::eeprom_information_reading( ... )");
    uint16_t position = 0;
    for (ECM_Slave& slave : m_slave) {
        ecm_log_inf("----------------");
        try {
            assign_slave_eeprom_to_ecat_ex(position, false);
            slave.set_vendor_id(read_slave_data_from_eeprom_ex(position, 0x0008, false));
            slave.set_product_code(read_slave_data_from_eeprom_ex(position, 0x000A, false));
            slave.set_serial_number(read_slave_data_from_eeprom_ex(position, 0x000E, false));
            slave.set_config_alias(static_cast<uint16_t>(read_slave_data_from_eeprom_ex(position, 0x0004, false)));
            set_slave_fisrt_seven_eeprom_words(slave.get_config_address(), position, false, false);
        } catch (const std::exception&) {
            ecm_log_war(
                "--- Error reading eeprom on slave at pos: " + std::to_string(1 - static_cast<int16_t>(position)) +
                "; incr number: " + std::to_string(position));
            slave.set_vendor_id(0xFFFFFFFF);
            slave.set_product_code(0xFFFFFFFF);
            slave.set_serial_number(0xFFFFFFFF);
            slave.set_config_alias(0xFFFF);
        }
        position = static_cast<uint16_t>(position - 1);
    }
}

uint32_t ECM_Master::get_slave_vendor_id(int conf_addr) const
{
    const ECM_Slave* slave = find_slave(conf_addr);
    if (slave == nullptr)
        throw std::runtime_error("get_slave_vendor_id eeprom data -> slave not found in xml: " +
                                 std::to_string(conf_addr));
    return slave->get_vendor_id();
}

uint32_t ECM_Master::get_slave_product_code(int conf_addr) const
{
    const ECM_Slave* slave = find_slave(conf_addr);
    if (slave == nullptr)
        throw std::runtime_error("ECM_Master::get_slave_product_code -> slave not found:" + std::to_string(conf_addr));
    return slave->get_product_code();
}

uint32_t ECM_Master::get_slave_serial_number(int conf_addr) const
{
    const ECM_Slave* slave = find_slave(conf_addr);
    if (slave == nullptr)
        throw std::runtime_error("ECM_Master::get_slave_serial_number -> slave not found:" + std::to_string(conf_addr));
    return slave->get_serial_number();
}

uint16_t ECM_Master::get_slave_configured_alias(int conf_addr) const
{
    const ECM_Slave* slave = find_slave(conf_addr);
    if (slave == nullptr)
        throw std::runtime_error("ECM_Master::get_slave_configured_alias -> slave not found:" +
                                 std::to_string(conf_addr));
    return slave->get_config_alias();
}
