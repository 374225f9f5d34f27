#pragma once

// The simulator's own description of a segment: one line per slave, in the
// order in which frames pass their processing units.
//
//   # comment
//   control_port 6011
//   slave <name> [key=value ...]
//
// Keys of a slave (defaults in brackets):
//   device=none|dio|cia402 [none]   the device behind the controller; none is an
//                                   ESC-only device (AL status follows AL control)
//   vendor= product= revision= serial=   identity in the EEPROM and 0x1018
//                     [dio: 0x00000E51, 0x00000D10, 1, position + 1; cia402: the drive profile's]
//   profile=generic|schneider|omron|infranor|yaskawa|festo|ingenia   drive profile [generic]
//   leaving_op=fault|switch_on_disabled|ignore   an enabled drive when the slave leaves OP [fault]
//   alias=            station alias in EEPROM word 4 [0]
//   ports=1..4        implemented ports [2]
//   previous=<name>:<port>  the port of an earlier slave this one hangs on
//                     [the slave before it, port 1]
//   mailbox=<out start>:<size>,<in start>:<size>   mailbox sync managers, 0 sizes = none
//                     [0x1000:128,0x1080:128 for cia402, none otherwise]
//   dc=0|1            distributed clocks [1]
//   drift_ppm=        local clock drift [0]; clock_offset_ns= [random]
//   hop_delay_ns=     delay of a frame from the previous port to this slave [150]
//   watchdog=0|1      sync-manager watchdog drops OP to SAFE-OP+error [1]
//   eeprom_read_bytes=4|8 [4]; eeprom_read_us= [100]; eeprom_write_us= [1000]
//   inputs= outputs=  digital channels of a dio device [8, 8]
//   esc_type= [0x98]
//
// Numbers are decimal or 0x-prefixed hexadecimal.

#include <cstdint>
#include <string>
#include <vector>

namespace ecat_sim {

enum class Device_Kind { NONE, DIO, CIA402 };

struct Slave_Config {
    std::string name;
    Device_Kind device = Device_Kind::NONE;
    uint32_t vendor = 0x00000E51;
    uint32_t product = 0;
    uint32_t revision = 1;
    uint32_t serial = 0;
    bool identity_given[4] = {};  // vendor, product, revision, serial set in the file
    std::string profile = "generic";
    std::string leaving_op = "fault";
    uint16_t alias = 0;
    int ports = 2;
    int previous = -1;  // index of the slave this one hangs on; -1: the master
    int previous_port = 1;
    uint16_t mbx_out_start = 0;
    uint16_t mbx_out_size = 0;
    uint16_t mbx_in_start = 0;
    uint16_t mbx_in_size = 0;
    bool dc = true;
    double drift_ppm = 0.0;
    bool clock_offset_set = false;
    int64_t clock_offset_ns = 0;
    uint32_t hop_delay_ns = 150;
    bool watchdog = true;
    int eeprom_read_bytes = 4;
    uint32_t eeprom_read_us = 100;
    uint32_t eeprom_write_us = 1000;
    int dio_inputs = 8;
    int dio_outputs = 8;
    uint8_t esc_type = 0x98;

    bool has_mailbox() const { return mbx_out_size != 0 && mbx_in_size != 0; }
};

struct Segment_Config {
    std::vector<Slave_Config> slaves;
    uint16_t control_port = 0;  // 0: the default control port
};

// Throws std::runtime_error "[Segment_Config][parse] line N: ..." on a fault.
Segment_Config parse_segment_config(const std::string& text);
Segment_Config load_segment_config(const std::string& path);

// The order in which a frame passes the processing units of a tree of slaves
// (port order after the processing unit: 2 ports 1; 3 ports 1, 2; 4 ports 3, 1, 2).
std::vector<int> processing_order(const Segment_Config& config);

}  // namespace ecat_sim
