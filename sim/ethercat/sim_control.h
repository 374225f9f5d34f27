#pragma once

// The simulator's control socket: one text command per UDP datagram on the
// loopback address, one text reply ("OK ..." or "ERR ...").
//
//   drop <n> [<register>]             leave the next n frames unanswered (only those whose
//                                     first datagram addresses register)
//   drop_fraction <f>                 leave a fraction 0..1 of frames unanswered
//   delay <us>                        answer every frame that much later
//   corrupt_wkc <n>                   next n answered frames: every working counter + 1
//   state <pos> <state> <code>        force a slave into a state (code != 0 sets the error bit)
//   refuse <pos> <state> <code>       refuse transitions into state with code (0 clears)
//   link <pos> <port> up|down         break or mend the link on a slave's port
//   sdo_abort <pos> <index> <sub|*> <code>   abort every SDO access to an object
//   sdo_abort_clear <pos>
//   emergency <pos> <code> [<register> [<b0> .. <b4>]]
//   eeprom_busy <pos> <us>            keep the EEPROM busy for that long
//   eeprom_nack <pos> <n>             next n EEPROM commands end without acknowledge
//   eeprom_word <pos> <word> <value>  change one word of the EEPROM image (seen at the next load)
//   clock_jump <pos> <ns>             clock_drift <pos> <ppm>
//   error_counter <pos> <register> <value>
//   set <pos> <index> <sub> <value>   get <pos> <index> <sub>   device objects (inputs, drive values)
//   fault <pos> <code>                inject a device fault
//   warning <pos> on|off              a drive's warning (statusword bit 7; its state stays)
//   restart <pos>                     power cycle a slave
//   read <pos> <address> <length>     register/memory dump, hex bytes
//   eeprom <pos> <word> <count>       EEPROM dump, hex words
//   outputs <pos>                     the outputs the device works with, hex bytes
//   sdo_log <pos>                     the slave's SDO accesses, one per line
//   phase                             phase of cyclic frames after SYNC0 at the reference clock
//   log datagrams|transitions|all|off
//   stats                             frames received, answered, dropped, invalid
//
// Numbers are decimal or 0x-prefixed hexadecimal; <pos> counts slaves from 0
// in processing order.

#include <chrono>
#include <cstdint>
#include <string>

namespace ecat_sim {

constexpr uint16_t DEFAULT_CONTROL_PORT = 6011;

// A blocking client of the control socket.
class Sim_Control_Client {
public:
    explicit Sim_Control_Client(uint16_t port = DEFAULT_CONTROL_PORT);
    ~Sim_Control_Client();
    Sim_Control_Client(const Sim_Control_Client&) = delete;
    Sim_Control_Client& operator=(const Sim_Control_Client&) = delete;
    // The reply; throws on a time-out or a socket error.
    std::string request(const std::string& command,
                        std::chrono::milliseconds timeout = std::chrono::milliseconds(2000));

private:
    int m_fd = -1;
    uint16_t m_port;
};

}  // namespace ecat_sim
