#include "link_walk.h"

#include <cerrno>
#include <ctime>
#include <sstream>
#include <utility>

#include "ecm_log.h"
#include "ethercatbase.h"

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
}  // namespace

Link_Walk::Link_Walk(std::function<int()> active_slaves)
    : m_active_slaves(std::move(active_slaves)), m_conf_addr(START_ADDRESS_SLAVE_CHECK_PORTS),
      m_loop_port_old(LOOP_PORTS_OPEN_ONLY_0), m_steps_left(MAX_CHECK_PORTS_NUM)
{
}

bool Link_Walk::give_address(uint16_t position, uint16_t address)
{
    uint8_t data[2];
    put16(data, address);
    return ec_exchange_with_resends(
               [&] { return ec_APWR(position, REG_STATION_ADDRESS, 2, data, DATAGRAM_TIMEOUT_US, AT_ONCE); }) >= 0;
}

int Link_Walk::run()
{
    ecm_log_inf(" OPEN ONLY PORT 0 FIRST SLAVE");
    write_positional(0, REG_DL_CONTROL, LOOP_PORTS_OPEN_ONLY_0);
    while (visit_next_slave()) {
    }
    // Only a walk back to the first slave has opened every port it closed.
    if (!m_came_back) {
        ecm_log_inf("OPEN ALL PORTS OF THE REACHED SLAVES");
        reopen_every_port();
    }
    return m_found;
}

bool Link_Walk::visit_next_slave()
{
    pause_walk();
    if (m_direction == Direction::FORWARD) {
        if (!address_next_slave()) {
            repair();
            return false;
        }
    } else {
        read_back_previous_slave();
    }
    ecm_log_inf("SLAVE TYPE = " + std::to_string(read_station(m_conf_addr, REG_ESC_TYPE)));
    const uint16_t link_status = read_station(m_conf_addr, REG_DL_STATUS);
    switch (follow_link(link_status)) {
    case Step::UNRECOGNISED: report_unrecognised(link_status); return false;
    case Step::BACK_AT_START: m_came_back = true; return false;
    case Step::GOES_ON: break;
    }
    if (--m_steps_left == 0) {
        ecm_log_war("check_ports_counter > MAX_CHECK_PORTS_NUM");
        return false;
    }
    return true;
}

bool Link_Walk::address_next_slave()
{
    ecm_log_inf("check_direction == FORWARD");
    ecm_log_inf("incr address = ");
    ecm_log_inf("conf tmp address = ");
    write_positional(m_incr_addr, REG_STATION_ADDRESS, m_conf_addr);
    ecm_log_inf("OPEN ONLY PORT 0");
    write_station(m_conf_addr, REG_DL_CONTROL, LOOP_PORTS_OPEN_ONLY_0);
    const int slave_active = m_active_slaves();
    ecm_log_inf("ACTIVE SLAVE = " + std::to_string(slave_active));
    if (slave_active == -1)
        return false;
    if (slave_active > m_found)
        ++m_found;
    ecm_log_inf("FIND SLAVE = " + std::to_string(m_found));
    m_loop_port_old = LOOP_PORTS_OPEN_ONLY_0;
    return true;
}

void Link_Walk::read_back_previous_slave()
{
    ecm_log_inf("check_direction == REVERSE");
    m_conf_addr = read_positional(m_incr_addr, REG_STATION_ADDRESS);
    ecm_log_inf("incr address = ");
    ecm_log_inf("conf tmp address = ");
    ecm_log_inf("FIND SLAVE = " + std::to_string(m_found));
}

Link_Walk::Step Link_Walk::follow_link(uint16_t link_status)
{
    const uint16_t loops = link_status & 0xFF00;
    switch (link_status & 0x00F0) {
    case 0x10: return on_link_port_0(loops);
    case 0x30: return on_link_ports_0_1(loops);
    case 0x50: return on_link_ports_0_2();
    case 0x70: return on_link_ports_0_1_2(loops);
    case 0xF0: ecm_log_war("PHYSICAL_LINK_ON_PORT_0_1_2_3 -> not implemented "); return Step::UNRECOGNISED;
    default: return Step::UNRECOGNISED;
    }
}

Link_Walk::Step Link_Walk::on_link_port_0(uint16_t loops)
{
    ecm_log_inf("PHYSICAL_LINK_ON_PORT_0");
    if (loops != 0x5600)
        return Step::GOES_ON;
    ecm_log_inf("LINK_0_AND_LOOPS_OPEN_0 ");
    return turn_back(AT_ONCE);
}

Link_Walk::Step Link_Walk::on_link_ports_0_1(uint16_t loops)
{
    ecm_log_inf("PHYSICAL_LINK_ON_PORT_0_1");
    if (loops == 0x5A00) {
        ecm_log_inf("LINK_0_1_AND_LOOPS_OPEN_0_1 ");
        return turn_back(AT_ONCE);
    }
    if (loops == 0x5E00) {
        ecm_log_inf("LINK_0_1_AND_LOOPS_OPEN_0 ");
        ecm_log_inf("OPEN PORT 0 - 1  ");
        write_station(m_conf_addr, REG_DL_CONTROL, LOOP_PORTS_OPEN_0_1);
        ecm_log_inf("NEXT SLAVE");
        step_on(LOOP_PORTS_OPEN_0_1);
    }
    return Step::GOES_ON;
}

Link_Walk::Step Link_Walk::on_link_ports_0_2()
{
    ecm_log_inf("PHYSICAL_LINK_ON_PORT_0_2 NOT TYPICAL MODE -> prob EK1100 without modules connected");
    if (m_direction == Direction::REVERSE) {
        ecm_log_inf("check_direction == REVERSE");
        return turn_back(THROUGH_GATE);
    }
    ecm_log_inf("check_direction == FORWARD ");
    ecm_log_inf("LOOP_PORTS_OPEN_ALLS  ");
    write_station(m_conf_addr, REG_DL_CONTROL, LOOP_PORTS_OPEN_ALLS, THROUGH_GATE);
    ecm_log_inf("NEXT SLAVE");
    step_on(LOOP_PORTS_OPEN_ALLS);
    return Step::GOES_ON;
}

Link_Walk::Step Link_Walk::on_link_ports_0_1_2(uint16_t loops)
{
    ecm_log_inf("PHYSICAL_LINK_ON_PORT_0_1_2");
    if (loops == 0x7A00) {
        branch_to_port_2();
    } else if (loops == 0x7E00) {
        ecm_log_inf("LINK_0_1_2_AND_LOOPS_OPEN_0");
        ecm_log_inf("OPEN PORT 0 - 1  ");
        write_station(m_conf_addr, REG_DL_CONTROL, LOOP_PORTS_OPEN_0_1);
        ecm_log_inf("NEXT SLAVE");
        step_on(LOOP_PORTS_OPEN_0_1);
    } else if (loops == 0x6A00) {
        ecm_log_inf("LINK_0_1_2_AND_LOOPS_OPEN_0_1_2");
        return turn_back(AT_ONCE);
    }
    return Step::GOES_ON;
}

void Link_Walk::report_unrecognised(uint16_t link_status) const
{
    ecm_log_err("ON SLAVE " + std::to_string(m_found));
    std::ostringstream hex;
    hex << "link_status " << std::hex << link_status;
    ecm_log_plain(hex.str());
    ecm_log_err("PHYSICAL_LINK_NOT_RECOGNISED " + std::to_string(link_status));
}

Link_Walk::Step Link_Walk::turn_back(char gate_flag)
{
    if (m_conf_addr == START_ADDRESS_SLAVE_CHECK_PORTS) {
        ecm_log_inf("conf_addr_tmp == START_ADDRESS_SLAVE_CHECK_PORTS");
        m_direction = Direction::FORWARD;
    } else {
        m_direction = Direction::REVERSE;
    }
    ecm_log_inf("OPEN ALL PORTS AND GO TO PREVIOUS_SLAVE");
    write_station(m_conf_addr, REG_DL_CONTROL, LOOP_PORTS_OPEN_ALLS, gate_flag);
    m_incr_addr = static_cast<uint16_t>(m_incr_addr + 1);
    m_loop_port_old = LOOP_PORTS_OPEN_ALLS;
    return m_direction == Direction::FORWARD ? Step::BACK_AT_START : Step::GOES_ON;
}

void Link_Walk::step_on(uint16_t loop)
{
    m_incr_addr = static_cast<uint16_t>(m_incr_addr - 1);
    m_conf_addr = static_cast<uint16_t>(m_conf_addr + 1);
    m_loop_port_old = loop;
    m_direction = Direction::FORWARD;
}

void Link_Walk::branch_to_port_2()
{
    // Port 1's branch is done: open port 2 and go on with the slave behind
    // it, the next one not yet found.
    ecm_log_inf("LINK_0_1_2_AND_LOOPS_OPEN_0_1");
    ecm_log_inf("OPEN PORT 0 - 1 - 2 ");
    write_station(m_conf_addr, REG_DL_CONTROL, LOOP_PORTS_OPEN_ALLS);
    ecm_log_inf("NEXT SLAVE");
    m_incr_addr_2_port_old = m_incr_addr;
    m_incr_addr = static_cast<uint16_t>(m_conf_addr + m_incr_addr - START_ADDRESS_SLAVE_CHECK_PORTS - m_found);
    m_conf_addr = static_cast<uint16_t>(START_ADDRESS_SLAVE_CHECK_PORTS + m_found);
    m_loop_port_old = LOOP_PORTS_OPEN_ALLS;
    m_direction = Direction::FORWARD;
}

void Link_Walk::repair()
{
    uint16_t position = 0;
    uint16_t loop = 0;
    const char* warning = nullptr;
    if (m_loop_port_old == LOOP_PORTS_OPEN_0_1) {
        pause_walk();
        position = static_cast<uint16_t>(m_incr_addr + 1);
        ecm_log_inf(" conf_loop_port_old == LOOP_PORTS_OPEN_0_1 => open LOOP_PORTS_OPEN_ONLY_0 on slave " +
                    std::to_string(position));
        loop = LOOP_PORTS_OPEN_ONLY_0;
        warning = "REOPEN LOOP_PORTS_OPEN_ONLY_0 NOT CORRECT -> EEPROM read could not work";
    } else if (m_loop_port_old == LOOP_PORTS_OPEN_ALLS) {
        pause_walk();
        position = m_incr_addr_2_port_old;
        ecm_log_inf(" conf_loop_port_old == LOOP_PORTS_OPEN_0_1_2 => open LOOP_PORTS_OPEN_0_1 on slave " +
                    std::to_string(position));
        loop = LOOP_PORTS_OPEN_0_1;
        warning = "REOPEN LOOP_PORTS_OPEN_0_1 NOT CORRECT -> EEPROM read could not work";
    } else {
        return;
    }
    write_positional(position, REG_DL_CONTROL, loop);
    if (m_active_slaves() != m_found)
        ecm_log_war(warning);
}

// After a walk that did not come back to its first slave: every slave from
// position 0 on gets its ports on auto again, each one opening the way to the
// next, so that no port stays closed and hides the slaves behind it. A lost
// frame is sent again; the first position nobody answers ends it.
void Link_Walk::reopen_every_port()
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
