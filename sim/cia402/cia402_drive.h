#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "object_dictionary.h"

// A CiA 402 servo drive over a CoE object dictionary, for simulators.
//
// Use: construct with `Drive_Options`; the master side writes the
// controlword 0x6040, the targets and 0x6060 into `dictionary()` (by SDO
// through `sdo_read` / `sdo_write` or by process data through the
// dictionary's `unpack_pdo`), calls `step(dt)` once per cycle, and reads the
// statusword 0x6041, 0x6061, 0x6064, 0x606C, 0x603F ... back (or `pack_pdo`).
// Every input takes effect in the next `step`; every output is up to date
// after it.
//
// Power state machine: Not ready -> Switch on disabled at the first step,
// then the transitions of the controlword (0x06 shutdown, 0x07 switch on,
// 0x0F enable operation, 0x00 disable voltage, bit 2 clear = quick stop,
// rising edge of bit 7 = fault reset). Quick stop active ramps to standstill
// with 0x6085; with 0x605A 1..4 it then falls to Switch on disabled, with
// 5..8 (default 6) it stays and 0x0F re-enables. A fault (injected, or the
// device leaving OP while enabled) shows Fault reaction active for one step,
// then Fault; 0x603F (and the vendor's wide error object) hold the code,
// 0x1001 bit 0 is set and an emergency is queued. A reset edge clears it only
// when the cause is gone. Leaving OP while enabled is a loss of the master:
// 0x6007 (abort connection option code, its default from
// `Drive_Options::leaving_op`) chooses the reaction: 0 none, 1 fault, 2
// disable voltage (Switch on disabled), 3 quick stop, then Switch on
// disabled at standstill whatever 0x605A says. `reacting()` tells the
// transport that the reaction needs steps even without frames.
//
// Modes (0x6060 -> 0x6061 after one step): 1 profile position (bit 4 new
// set-point with the bit 12 acknowledge handshake, bit 5 change set
// immediately, bit 6 relative, bit 8 halt; a set-point that comes during a
// move without bit 5 is buffered and run after it; bit 10 target reached
// inside 0x6067 for 0x6068 ms), 3 profile velocity (0x60FF, bit 10 reached,
// bit 12 speed 0), 6 homing (rising bit 4 runs method 0x6098: 35/37 set the
// position at once, others search a home switch at `home_switch_position`
// with 0x6099/0x609A; bits 13 12 10 as CiA 402-2; afterwards the position
// is 0x607C), 7 interpolated position (bit 4 enables, follows 0x60C1:1), 8
// cyclic synchronous position (follows 0x607A; a Festo drive 0x60C1:1). Speeds are limited by
// 0x607F, targets clipped to 0x607D (bit 11 while clipped). Profile moves
// are trapezoidal from 0x6081/0x6083/0x6084.
//
// Vendor profiles (`Drive_Vendor`) change: identity, the wide error-code
// object (Festo 0x2FF1 UINT32, Ingenia 0x2E00 INTEGER32, mapped in the
// TxPDO in place of 0x603F), quick stop by halt (Omron, Yaskawa: bit 2 clear
// in Operation enabled halts the motion and stays enabled), Yaskawa status
// bit 15 (safety / base block: power stage off), Festo limit inputs (0x60FD
// bits 0/1 and 0x2FF2:1/2 in the TxPDO, with warning and internal limit
// bits; 0x60C1:1 in the RxPDO; maximum velocity 0x2FF3 REAL32, resolutions
// and user unit 0x2FF4:1..4), Ingenia extra objects (digital outputs 0x60FE:1
// in both PDOs, currents 0x6075/0x6073/0x6078 and maximum current 0x2110
// REAL32, torque 0x6077).
//
// Switches for tests (`Drive_Options` and the setters below): a fault at
// power-up, a warning (bit 7 only; the drive runs on in its state), a
// warning with internal limit active, an ignored controlword, a
// mode display that never agrees, instant homing, homing error, and SDO
// delay / error / silence (applied by `sdo_read` / `sdo_write` and by the
// transport through `sdo_delay` / `sdo_silent`).
namespace sim {

enum class Drive_Vendor { GENERIC, SCHNEIDER, OMRON, INFRANOR, YASKAWA, FESTO, INGENIA };

const char* vendor_name(Drive_Vendor vendor);
// Accepts "generic", "schneider", "omron", "infranor", "yaskawa", "festo",
// "ingenia"; throws std::invalid_argument otherwise.
Drive_Vendor vendor_from_name(const std::string& name);

enum class Power_State {
    NOT_READY_TO_SWITCH_ON,
    SWITCH_ON_DISABLED,
    READY_TO_SWITCH_ON,
    SWITCHED_ON,
    OPERATION_ENABLED,
    QUICK_STOP_ACTIVE,
    FAULT_REACTION_ACTIVE,
    FAULT,
};
const char* power_state_name(Power_State state);

// What happens when the device leaves OP while enabled: the default of 0x6007.
enum class Leaving_Op { FAULT, SWITCH_ON_DISABLED, IGNORE };

struct Drive_Options {
    Drive_Vendor vendor = Drive_Vendor::GENERIC;
    int32_t initial_position = 0;
    int32_t home_switch_position = 0;  // where a search homing finds its switch
    uint16_t fault_at_power_up = 0;    // non-zero: starts faulted with this code, cause present
    bool ignore_control_word = false;  // never leaves Switch on disabled
    bool disagreeing_mode_display = false;
    bool instant_homing = false;  // homed from power-up; a homing ends in the step it starts
    bool homing_error = false;    // every homing ends in homing error at standstill
    Leaving_Op leaving_op = Leaving_Op::FAULT;
    uint16_t leaving_op_fault_code = 0xA000;
    // SDO service
    std::chrono::milliseconds sdo_delay{0};
    uint32_t sdo_abort = 0;   // non-zero: every SDO is refused with this code
    bool sdo_silent = false;  // SDOs are taken but never answered
};

struct Emergency {
    uint16_t code = 0;
    uint8_t error_register = 0;
    uint8_t manufacturer[5] = {0, 0, 0, 0, 0};
};

class Cia402_Drive {
public:
    explicit Cia402_Drive(const Drive_Options& options = Drive_Options{});
    Cia402_Drive(const Cia402_Drive&) = delete;
    Cia402_Drive& operator=(const Cia402_Drive&) = delete;

    Object_Dictionary& dictionary() { return m_od; }
    const Object_Dictionary& dictionary() const { return m_od; }
    const Drive_Options& options() const { return m_options; }

    // One cycle of dt seconds: takes the controlword and targets, moves,
    // publishes status, actual values and the mode display.
    void step(double dt_s);

    // Process data shortcuts over the dictionary.
    void set_control_word(uint16_t word);
    uint16_t control_word() const;
    uint16_t status_word() const;
    int8_t mode_display() const;
    int32_t position() const;
    int32_t velocity() const;
    uint32_t error_code() const;  // the vendor's width, zero-extended
    Power_State power_state() const { return m_state; }

    // Distinct controlwords in the order the steps took them.
    const std::vector<uint16_t>& control_word_history() const { return m_cw_history; }
    void clear_control_word_history() { m_cw_history.clear(); }

    // Faults and inputs of the simulated machine.
    void inject_fault(uint16_t code);  // cause stays until clear_fault_cause
    void clear_fault_cause();
    void set_warning_limit(bool active);                  // status bits 7 and 11, motion halted
    void set_warning(bool active);                        // status bit 7 alone: state and motion unchanged
    void set_limit_inputs(bool positive, bool negative);  // Festo: 0x60FD, bits 7 and 11
    void set_safety_active(bool active);                  // Yaskawa: bit 15, power stage off
    void set_ignore_control_word(bool ignore) { m_options.ignore_control_word = ignore; }
    void set_disagreeing_mode_display(bool on) { m_options.disagreeing_mode_display = on; }
    void set_homing_error(bool on) { m_options.homing_error = on; }

    // The EtherCAT state of the device; leaving OP while enabled starts the
    // reaction of 0x6007.
    void set_device_state(Device_State state);
    // A communication-loss reaction not yet run to its end or not yet shown
    // in the statusword: the drive wants steps without process data.
    bool reacting() const;

    // SDO service with the switches applied (abort code, 0 = done).
    uint32_t sdo_read(uint16_t index, uint8_t subindex, std::vector<uint8_t>& out) const;
    uint32_t sdo_write(uint16_t index, uint8_t subindex, const std::vector<uint8_t>& data);
    std::chrono::milliseconds sdo_delay() const { return m_options.sdo_delay; }
    bool sdo_silent() const { return m_options.sdo_silent; }
    void set_sdo_behaviour(std::chrono::milliseconds delay, uint32_t abort, bool silent);

    // Emergencies queued since the last call.
    std::vector<Emergency> take_emergencies();

    // Index of the error object of the vendor (0x603F, 0x2FF1 or 0x2E00).
    uint16_t error_object() const;

private:
    void build_dictionary();
    void add_pdo_objects();
    void add_vendor_objects();
    void power_transitions(uint16_t cw);
    void enter_fault(uint16_t code);
    void run_mode(uint16_t cw, double dt);
    void profile_position(uint16_t cw, double dt);
    void profile_velocity(uint16_t cw, double dt);
    void homing(uint16_t cw, double dt);
    void follow_target(double dt, double requested);
    void stop_motion(double dt, double deceleration);
    void move_towards(double target, double v_max, double acc, double dec, double dt);
    double clip_target(double target);
    void publish(uint16_t cw);
    void set_error(uint16_t code);
    double max_velocity() const;
    double profile_acc() const;
    double profile_dec() const;

    Drive_Options m_options;
    Object_Dictionary m_od;
    Power_State m_state = Power_State::NOT_READY_TO_SWITCH_ON;

    double m_position = 0;  // motor position, increments
    double m_velocity = 0;  // increments / s
    double m_offset = 0;    // actual position = motor position + offset
    uint16_t m_cw_prev = 0;
    std::vector<uint16_t> m_cw_history;
    int8_t m_mode = 0;

    bool m_lost_connection_stop = false;  // quick stop of 0x6007: ends in Switch on disabled
    bool m_reaction_unpublished = false;
    bool m_fault_cause = false;
    uint16_t m_fault_code = 0;
    bool m_warning_limit = false;
    bool m_warning = false;
    bool m_limit_positive = false, m_limit_negative = false;
    bool m_safety = false;
    bool m_limit_clipped = false;

    // profile position
    bool m_pp_moving = false;
    double m_pp_target = 0;
    bool m_pp_buffered = false;
    double m_pp_next = 0;
    bool m_pp_ack = false;
    double m_in_window_s = 0;
    bool m_target_reached = true;
    // homing: bits 13 12 10
    enum class Homing { NOT_STARTED, RUNNING, ATTAINED, ERROR_STANDSTILL } m_homing = Homing::NOT_STARTED;
    double m_ip_target = 0;

    std::vector<Emergency> m_emergencies;
};

}  // namespace sim
