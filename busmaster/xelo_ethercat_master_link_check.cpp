// The port functions over the topology fields and the link walk, which
// opens the segment slave by slave through the DL control loop settings.
#include <cerrno>
#include <ctime>
#include <sstream>
#include <stdexcept>

#include "ecm_log.h"
#include "ethercatbase.h"
#include "xelo_ethercat_master_class.h"

namespace {
constexpr int DATAGRAM_TIMEOUT_US = 1000;
constexpr char AT_ONCE = 1;
constexpr char THROUGH_GATE = 0;

constexpr uint16_t REG_ESC_TYPE = 0x0000;
constexpr uint16_t REG_STATION_ADDRESS = 0x0010;
constexpr uint16_t REG_DL_CONTROL = 0x0100;
constexpr uint16_t REG_DL_STATUS = 0x0110;

// Loop settings of DL control (ports 0-3, two bits each in the high byte).
constexpr uint16_t LOOP_PORTS_OPEN_ONLY_0 = 0xFC00;
constexpr uint16_t LOOP_PORTS_OPEN_0_1 = 0xF000;
constexpr uint16_t LOOP_PORTS_OPEN_ALLS = 0x0000;

constexpr uint16_t START_ADDRESS_SLAVE_CHECK_PORTS = 0x1001;
constexpr int MAX_CHECK_PORTS_NUM = 1001;
constexpr long WALK_PAUSE_NS = 100000000;  // 100 ms

enum Check_Direction { REVERSE = 0, FORWARD = 1 };

void pause_walk()
{
    timespec rest{0, WALK_PAUSE_NS};
    while (clock_nanosleep(CLOCK_MONOTONIC, 0, &rest, &rest) == EINTR) {
    }
}

void put16(uint8_t* p, uint16_t value)
{
    p[0] = static_cast<uint8_t>(value & 0xFF);
    p[1] = static_cast<uint8_t>(value >> 8);
}

uint16_t get16(const uint8_t* p)
{
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

// 2-byte register accesses of the walk, sent again after a lost reply; their
// working counters are not looked at, a read that got no answer leaves 0.
void write_positional(uint16_t position, uint16_t reg, uint16_t value)
{
    uint8_t data[2];
    put16(data, value);
    (void)ec_exchange_with_resends([&] { return ec_APWR(position, reg, 2, data, DATAGRAM_TIMEOUT_US, AT_ONCE); });
}

void write_station(uint16_t station, uint16_t reg, uint16_t value, char gate_flag = AT_ONCE)
{
    uint8_t data[2];
    put16(data, value);
    (void)ec_exchange_with_resends([&] { return ec_FPWR(station, reg, 2, data, DATAGRAM_TIMEOUT_US, gate_flag); });
}

uint16_t read_positional(uint16_t position, uint16_t reg)
{
    uint8_t data[2] = {};
    (void)ec_exchange_with_resends([&] { return ec_APRD(position, reg, 2, data, DATAGRAM_TIMEOUT_US, AT_ONCE); });
    return get16(data);
}

uint16_t read_station(uint16_t station, uint16_t reg)
{
    uint8_t data[2] = {};
    (void)ec_exchange_with_resends([&] { return ec_FPRD(station, reg, 2, data, DATAGRAM_TIMEOUT_US, AT_ONCE); });
    return get16(data);
}

// After a walk that did not come back to its first slave: every slave from
// position 0 on gets its ports on auto again, each one opening the way to the
// next, so that no port stays closed and hides the slaves behind it. A lost
// frame is sent again; the first position nobody answers ends it.
void reopen_every_port()
{
    for (uint32_t position = 0; position <= 0xFFFF; ++position) {
        uint8_t data[2] = {};
        const int wkc = ec_exchange_with_resends([&] {
            return ec_APWR(static_cast<uint16_t>(0 - position), REG_DL_CONTROL, 2, data, DATAGRAM_TIMEOUT_US, AT_ONCE);
        });
        if (wkc <= 0)
            break;
    }
}
}  // namespace

// ---- port functions --------------------------------------------------------------

uint8_t ECM_Master::ec_parentport(uint16_t parent)
{
    ECM_Slave& slave = m_slave.at(static_cast<std::size_t>(parent) - 1);
    const uint8_t consumed = slave.get_consumedports();
    for (uint8_t port : {3, 1, 2, 0}) {
        const uint8_t bit = static_cast<uint8_t>(1u << port);
        if (consumed & bit) {
            slave.set_consumedports(static_cast<uint8_t>(consumed & ~bit));
            return port;
        }
    }
    return 0;
}

int32_t ECM_Master::ec_porttime(uint16_t slave, uint8_t port)
{
    const ECM_Slave& s = m_slave.at(static_cast<std::size_t>(slave) - 1);
    switch (port) {
    case 0: return s.get_DCrtA();
    case 1: return s.get_DCrtB();
    case 2: return s.get_DCrtC();
    case 3: return s.get_DCrtD();
    default: return 0;
    }
}

uint8_t ECM_Master::ec_prevport(uint16_t slave, uint8_t port)
{
    const uint8_t active = m_slave.at(static_cast<std::size_t>(slave) - 1).get_activeports();
    static const uint8_t candidates[4][3] = {{2, 1, 0xFF}, {3, 0, 2}, {1, 3, 0}, {0, 2, 1}};
    if (port > 3)
        return port;
    for (uint8_t candidate : candidates[port])
        if (candidate != 0xFF && (active & (1u << candidate)))
            return candidate;
    return port;
}

// ---- link walk ------------------------------------------------------------------------

void ECM_Master::start_check_slaves_link_ex()
{
    // The walk's datagrams skip the gate and close ports: not beside the cycle.
    if (m_thread_is_running)
        throw std::runtime_error("Attention: the link check is refused while the cycle runs");
    if (!m_slave.empty() && m_is_xml_data_ok)
        check_slave_link_consistency_ex();
}

void ECM_Master::restore_configured_addresses()
{
    ecm_log_inf("ECM_Master::restore_configured_addresses( ... )");
    uint16_t position = 0;
    for (const ECM_Slave& slave : m_slave) {
        uint8_t data[2];
        put16(data, slave.get_config_address());
        if (ec_exchange_with_resends(
                [&] { return ec_APWR(position, REG_STATION_ADDRESS, 2, data, DATAGRAM_TIMEOUT_US, AT_ONCE); }) < 0)
            ecm_log_war("the address of the slave at position " + std::to_string(position) + " was not written back");
        position = static_cast<uint16_t>(position - 1);
    }
}

void ECM_Master::check_slave_link_consistency_ex()
{
    ecm_log_inf("ECM_Master::check_slave_link_consistency( ... )");
    ecm_log_inf(" OPEN ONLY PORT 0 FIRST SLAVE");
    write_positional(0, REG_DL_CONTROL, LOOP_PORTS_OPEN_ONLY_0);

    uint16_t conf_addr_tmp = START_ADDRESS_SLAVE_CHECK_PORTS;
    uint16_t incr_addr_tmp = 0;
    uint16_t incr_addr_tmp_2_port_old = 0;
    uint16_t conf_loop_port_old = LOOP_PORTS_OPEN_ONLY_0;
    Check_Direction check_direction = FORWARD;
    int find_slave_counter = 0;
    int check_ports_counter = MAX_CHECK_PORTS_NUM;
    bool came_back = false;

    // The slave goes back to its predecessor; true when the walk has come
    // back to its first slave and ends.
    const auto turn_back = [&](char gate_flag) {
        if (conf_addr_tmp == START_ADDRESS_SLAVE_CHECK_PORTS) {
            ecm_log_inf("conf_addr_tmp == START_ADDRESS_SLAVE_CHECK_PORTS");
            check_direction = FORWARD;
        } else {
            check_direction = REVERSE;
        }
        ecm_log_inf("OPEN ALL PORTS AND GO TO PREVIOUS_SLAVE");
        write_station(conf_addr_tmp, REG_DL_CONTROL, LOOP_PORTS_OPEN_ALLS, gate_flag);
        incr_addr_tmp = static_cast<uint16_t>(incr_addr_tmp + 1);
        conf_loop_port_old = LOOP_PORTS_OPEN_ALLS;
        return check_direction == FORWARD;
    };
    const auto step_on = [&](uint16_t loop) {
        incr_addr_tmp = static_cast<uint16_t>(incr_addr_tmp - 1);
        conf_addr_tmp = static_cast<uint16_t>(conf_addr_tmp + 1);
        conf_loop_port_old = loop;
        check_direction = FORWARD;
    };
    // After a lost exchange: one attempt to close again what the last step
    // opened, then the walk ends.
    const auto repair = [&]() {
        uint16_t position = 0;
        uint16_t loop = 0;
        const char* warning = nullptr;
        if (conf_loop_port_old == LOOP_PORTS_OPEN_0_1) {
            pause_walk();
            position = static_cast<uint16_t>(incr_addr_tmp + 1);
            ecm_log_inf(" conf_loop_port_old == LOOP_PORTS_OPEN_0_1 => open LOOP_PORTS_OPEN_ONLY_0 on slave " +
                        std::to_string(position));
            loop = LOOP_PORTS_OPEN_ONLY_0;
            warning = "REOPEN LOOP_PORTS_OPEN_ONLY_0 NOT CORRECT -> EEPROM read could not work";
        } else if (conf_loop_port_old == LOOP_PORTS_OPEN_ALLS) {
            pause_walk();
            position = incr_addr_tmp_2_port_old;
            ecm_log_inf(" conf_loop_port_old == LOOP_PORTS_OPEN_0_1_2 => open LOOP_PORTS_OPEN_0_1 on slave " +
                        std::to_string(position));
            loop = LOOP_PORTS_OPEN_0_1;
            warning = "REOPEN LOOP_PORTS_OPEN_0_1 NOT CORRECT -> EEPROM read could not work";
        } else {
            return;
        }
        write_positional(position, REG_DL_CONTROL, loop);
        if (check_slave_active() != find_slave_counter)
            ecm_log_war(warning);
    };

    for (;;) {
        pause_walk();
        if (check_direction == FORWARD) {
            ecm_log_inf("check_direction == FORWARD");
            ecm_log_inf("incr address = ");
            ecm_log_inf("conf tmp address = ");
            write_positional(incr_addr_tmp, REG_STATION_ADDRESS, conf_addr_tmp);
            ecm_log_inf("OPEN ONLY PORT 0");
            write_station(conf_addr_tmp, REG_DL_CONTROL, LOOP_PORTS_OPEN_ONLY_0);
            const int slave_active = check_slave_active();
            ecm_log_inf("ACTIVE SLAVE = " + std::to_string(slave_active));
            if (slave_active == -1) {
                repair();
                break;
            }
            if (slave_active > find_slave_counter)
                ++find_slave_counter;
            ecm_log_inf("FIND SLAVE = " + std::to_string(find_slave_counter));
            conf_loop_port_old = LOOP_PORTS_OPEN_ONLY_0;
        } else {
            ecm_log_inf("check_direction == REVERSE");
            conf_addr_tmp = read_positional(incr_addr_tmp, REG_STATION_ADDRESS);
            ecm_log_inf("incr address = ");
            ecm_log_inf("conf tmp address = ");
            ecm_log_inf("FIND SLAVE = " + std::to_string(find_slave_counter));
        }

        ecm_log_inf("SLAVE TYPE = " + std::to_string(read_station(conf_addr_tmp, REG_ESC_TYPE)));
        const uint16_t link_status = read_station(conf_addr_tmp, REG_DL_STATUS);
        const uint16_t loops = link_status & 0xFF00;
        bool walk_ends = false;
        bool recognised = true;
        switch (link_status & 0x00F0) {
        case 0x10:
            ecm_log_inf("PHYSICAL_LINK_ON_PORT_0");
            if (loops == 0x5600) {
                ecm_log_inf("LINK_0_AND_LOOPS_OPEN_0 ");
                walk_ends = turn_back(AT_ONCE);
            }
            break;
        case 0x30:
            ecm_log_inf("PHYSICAL_LINK_ON_PORT_0_1");
            if (loops == 0x5A00) {
                ecm_log_inf("LINK_0_1_AND_LOOPS_OPEN_0_1 ");
                walk_ends = turn_back(AT_ONCE);
            } else if (loops == 0x5E00) {
                ecm_log_inf("LINK_0_1_AND_LOOPS_OPEN_0 ");
                ecm_log_inf("OPEN PORT 0 - 1  ");
                write_station(conf_addr_tmp, REG_DL_CONTROL, LOOP_PORTS_OPEN_0_1);
                ecm_log_inf("NEXT SLAVE");
                step_on(LOOP_PORTS_OPEN_0_1);
            }
            break;
        case 0x50:
            ecm_log_inf("PHYSICAL_LINK_ON_PORT_0_2 NOT TYPICAL MODE -> prob EK1100 without modules connected");
            if (check_direction == REVERSE) {
                ecm_log_inf("check_direction == REVERSE");
                walk_ends = turn_back(THROUGH_GATE);
            } else {
                ecm_log_inf("check_direction == FORWARD ");
                ecm_log_inf("LOOP_PORTS_OPEN_ALLS  ");
                write_station(conf_addr_tmp, REG_DL_CONTROL, LOOP_PORTS_OPEN_ALLS, THROUGH_GATE);
                ecm_log_inf("NEXT SLAVE");
                step_on(LOOP_PORTS_OPEN_ALLS);
            }
            break;
        case 0x70:
            ecm_log_inf("PHYSICAL_LINK_ON_PORT_0_1_2");
            if (loops == 0x7A00) {
                // Port 1's branch is done: open port 2 and go on with the
                // slave behind it, the next one not yet found.
                ecm_log_inf("LINK_0_1_2_AND_LOOPS_OPEN_0_1");
                ecm_log_inf("OPEN PORT 0 - 1 - 2 ");
                write_station(conf_addr_tmp, REG_DL_CONTROL, LOOP_PORTS_OPEN_ALLS);
                ecm_log_inf("NEXT SLAVE");
                incr_addr_tmp_2_port_old = incr_addr_tmp;
                incr_addr_tmp = static_cast<uint16_t>(conf_addr_tmp + incr_addr_tmp - START_ADDRESS_SLAVE_CHECK_PORTS -
                                                      find_slave_counter);
                conf_addr_tmp = static_cast<uint16_t>(START_ADDRESS_SLAVE_CHECK_PORTS + find_slave_counter);
                conf_loop_port_old = LOOP_PORTS_OPEN_ALLS;
                check_direction = FORWARD;
            } else if (loops == 0x7E00) {
                ecm_log_inf("LINK_0_1_2_AND_LOOPS_OPEN_0");
                ecm_log_inf("OPEN PORT 0 - 1  ");
                write_station(conf_addr_tmp, REG_DL_CONTROL, LOOP_PORTS_OPEN_0_1);
                ecm_log_inf("NEXT SLAVE");
                step_on(LOOP_PORTS_OPEN_0_1);
            } else if (loops == 0x6A00) {
                ecm_log_inf("LINK_0_1_2_AND_LOOPS_OPEN_0_1_2");
                walk_ends = turn_back(AT_ONCE);
            }
            break;
        case 0xF0:
            ecm_log_war("PHYSICAL_LINK_ON_PORT_0_1_2_3 -> not implemented ");
            recognised = false;
            break;
        default: recognised = false; break;
        }
        if (!recognised) {
            ecm_log_err("ON SLAVE " + std::to_string(find_slave_counter));
            std::ostringstream hex;
            hex << "link_status " << std::hex << link_status;
            ecm_log_plain(hex.str());
            ecm_log_err("PHYSICAL_LINK_NOT_RECOGNISED " + std::to_string(link_status));
            break;
        }
        if (walk_ends) {
            came_back = true;
            break;
        }
        if (--check_ports_counter == 0) {
            ecm_log_war("check_ports_counter > MAX_CHECK_PORTS_NUM");
            break;
        }
    }
    // Only a walk back to the first slave has opened every port it closed.
    if (!came_back) {
        ecm_log_inf("OPEN ALL PORTS OF THE REACHED SLAVES");
        reopen_every_port();
    }
    // With every slave found, ring positions follow the ENI; else the
    // temporary addresses stay (they meet no ENI address), and the next
    // start clears them.
    if (find_slave_counter == static_cast<int>(m_slave.size()))
        restore_configured_addresses();

    m_process_info_slave_exchange_shmem->num_of_active_slaves = find_slave_counter;
    if (find_slave_counter == static_cast<int>(m_slave.size()))
        return;
    slave_eeprom_information_reading_ex();
    // A cyclic-timing or cyclic-frame error stays (set_last_master_error).
    set_last_master_error(ECAT_XML_FILE, SLAVE_NUM_NOT_AGREE, find_slave_counter + ecm_shm::FIRST_SLAVE_NUMBER);
    ecm_log_err("find_slave_counter " + std::to_string(find_slave_counter));
    ecm_log_err("m_slave.size() " + std::to_string(m_slave.size()));
    throw std::runtime_error("Sorry, xml slave number and real number not agree  :(");
}
