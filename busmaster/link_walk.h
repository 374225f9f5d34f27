#pragma once
// The link walk: opens the segment slave by slave through the DL control
// loop settings, giving every slave reached a temporary station address from
// 0x1001, and counts the slaves it finds.

#include <cstdint>
#include <functional>

class Link_Walk {
public:
    // active_slaves counts the slaves that answer now (-1 when the exchange
    // was lost).
    explicit Link_Walk(std::function<int()> active_slaves);

    // Walks until it comes back to its first slave, meets a link it does not
    // know, loses an exchange or has made 1001 steps; a walk that did not
    // come back opens every port again. Returns the number of slaves found.
    int run();

    // Writes a station address by ring position (sent again after a lost
    // reply); false when no answer came.
    static bool give_address(uint16_t position, uint16_t address);

private:
    enum class Direction { REVERSE, FORWARD };
    enum class Step { GOES_ON, BACK_AT_START, UNRECOGNISED };

    // One slave of the walk; false when the walk ends.
    bool visit_next_slave();
    // The next slave gets its temporary address and only port 0 open;
    // false when the exchange was lost.
    bool address_next_slave();
    void read_back_previous_slave();
    Step follow_link(uint16_t link_status);
    Step on_link_port_0(uint16_t loops);
    Step on_link_ports_0_1(uint16_t loops);
    Step on_link_ports_0_2();
    Step on_link_ports_0_1_2(uint16_t loops);
    void report_unrecognised(uint16_t link_status) const;
    // The slave goes back to its predecessor.
    Step turn_back(char gate_flag);
    void step_on(uint16_t loop);
    void branch_to_port_2();
    // After a lost exchange: one attempt to close again what the last step
    // opened.
    void repair();
    // Every slave from position 0 on gets its ports on auto again.
    static void reopen_every_port();

    std::function<int()> m_active_slaves;
    uint16_t m_conf_addr;
    uint16_t m_incr_addr = 0;
    uint16_t m_incr_addr_2_port_old = 0;
    uint16_t m_loop_port_old;
    Direction m_direction = Direction::FORWARD;
    int m_found = 0;
    int m_steps_left;
    bool m_came_back = false;
};
