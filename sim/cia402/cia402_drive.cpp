#include "cia402_drive.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <stdexcept>

namespace sim {

namespace {

constexpr uint16_t CW = 0x6040;
constexpr uint16_t SW = 0x6041;
constexpr uint16_t ERROR_CODE = 0x603F;
constexpr uint16_t QUICK_STOP_OPTION = 0x605A;
constexpr uint16_t ABORT_CONNECTION_OPTION = 0x6007;
constexpr uint16_t MODE = 0x6060;
constexpr uint16_t MODE_DISPLAY = 0x6061;
constexpr uint16_t POSITION_ACTUAL = 0x6064;
constexpr uint16_t POSITION_WINDOW = 0x6067;
constexpr uint16_t POSITION_WINDOW_TIME = 0x6068;
constexpr uint16_t VELOCITY_ACTUAL = 0x606C;
constexpr uint16_t TORQUE_ACTUAL = 0x6077;
constexpr uint16_t TARGET_POSITION = 0x607A;
constexpr uint16_t HOME_OFFSET = 0x607C;
constexpr uint16_t SOFTWARE_LIMITS = 0x607D;
constexpr uint16_t MAX_PROFILE_VELOCITY = 0x607F;
constexpr uint16_t PROFILE_VELOCITY = 0x6081;
constexpr uint16_t PROFILE_ACCELERATION = 0x6083;
constexpr uint16_t PROFILE_DECELERATION = 0x6084;
constexpr uint16_t QUICK_STOP_DECELERATION = 0x6085;
constexpr uint16_t HOMING_METHOD = 0x6098;
constexpr uint16_t HOMING_SPEEDS = 0x6099;
constexpr uint16_t HOMING_ACCELERATION = 0x609A;
constexpr uint16_t DIGITAL_INPUTS = 0x60FD;
constexpr uint16_t TARGET_VELOCITY = 0x60FF;
constexpr uint16_t SUPPORTED_MODES = 0x6502;
constexpr uint16_t INTERPOLATION_DATA = 0x60C1;
constexpr uint16_t FESTO_ERROR = 0x2FF1;
constexpr uint16_t FESTO_LIMIT_SWITCHES = 0x2FF2;
constexpr uint16_t INGENIA_ERROR = 0x2E00;

constexpr int8_t MODE_PP = 1, MODE_PV = 3, MODE_HM = 6, MODE_IP = 7, MODE_CSP = 8;

constexpr uint16_t SW_TARGET_REACHED = 0x0400;
constexpr uint16_t SW_BIT12 = 0x1000;
constexpr uint16_t SW_BIT13 = 0x2000;

const uint8_t PREOP = STATE_PRE_OP;

struct Identity {
    uint32_t vendor, product;
    const char* name;
};

Identity identity_of(Drive_Vendor vendor)
{
    switch (vendor) {
    case Drive_Vendor::SCHNEIDER: return {0x0800005A, 91200, "Schneider servo drive (simulated)"};
    case Drive_Vendor::OMRON: return {0x00000083, 0x00000001, "Omron servo drive (simulated)"};
    case Drive_Vendor::INFRANOR: return {130, 768, "Infranor servo drive (simulated)"};
    case Drive_Vendor::YASKAWA: return {1337, 35652609, "Yaskawa servo drive (simulated)"};
    case Drive_Vendor::FESTO: return {29, 8067733, "Festo servo drive (simulated)"};
    case Drive_Vendor::INGENIA: return {0x0000029C, 0x00000001, "Ingenia servo drive (simulated)"};
    case Drive_Vendor::GENERIC: break;
    }
    return {0x00000000, 0x00000402, "CiA 402 servo drive (simulated)"};
}

bool halts_for_quick_stop(Drive_Vendor vendor)
{
    return vendor == Drive_Vendor::OMRON || vendor == Drive_Vendor::YASKAWA;
}

// Values of 0x6007; any other (vendor) value reacts as a fault signal.
constexpr int16_t ABORT_NO_ACTION = 0;
constexpr int16_t ABORT_DISABLE_VOLTAGE = 2;
constexpr int16_t ABORT_QUICK_STOP = 3;

int16_t abort_connection_option(Leaving_Op leaving_op)
{
    switch (leaving_op) {
    case Leaving_Op::IGNORE: return ABORT_NO_ACTION;
    case Leaving_Op::SWITCH_ON_DISABLED: return ABORT_DISABLE_VOLTAGE;
    case Leaving_Op::FAULT: break;
    }
    return 1;  // fault signal
}

uint32_t mapping(uint16_t index, uint8_t sub, uint8_t bits)
{
    return (static_cast<uint32_t>(index) << 16) | (static_cast<uint32_t>(sub) << 8) | bits;
}

}  // namespace

const char* vendor_name(Drive_Vendor vendor)
{
    switch (vendor) {
    case Drive_Vendor::GENERIC: return "generic";
    case Drive_Vendor::SCHNEIDER: return "schneider";
    case Drive_Vendor::OMRON: return "omron";
    case Drive_Vendor::INFRANOR: return "infranor";
    case Drive_Vendor::YASKAWA: return "yaskawa";
    case Drive_Vendor::FESTO: return "festo";
    case Drive_Vendor::INGENIA: return "ingenia";
    }
    return "generic";
}

Drive_Vendor vendor_from_name(const std::string& name)
{
    for (Drive_Vendor vendor :
         {Drive_Vendor::GENERIC, Drive_Vendor::SCHNEIDER, Drive_Vendor::OMRON, Drive_Vendor::INFRANOR,
          Drive_Vendor::YASKAWA, Drive_Vendor::FESTO, Drive_Vendor::INGENIA})
        if (name == vendor_name(vendor))
            return vendor;
    throw std::invalid_argument("[Cia402_Drive][vendor_from_name] unknown drive family: " + name);
}

const char* power_state_name(Power_State state)
{
    switch (state) {
    case Power_State::NOT_READY_TO_SWITCH_ON: return "not ready to switch on";
    case Power_State::SWITCH_ON_DISABLED: return "switch on disabled";
    case Power_State::READY_TO_SWITCH_ON: return "ready to switch on";
    case Power_State::SWITCHED_ON: return "switched on";
    case Power_State::OPERATION_ENABLED: return "operation enabled";
    case Power_State::QUICK_STOP_ACTIVE: return "quick stop active";
    case Power_State::FAULT_REACTION_ACTIVE: return "fault reaction active";
    case Power_State::FAULT: return "fault";
    }
    return "?";
}

Cia402_Drive::Cia402_Drive(const Drive_Options& options) : m_options(options)
{
    build_dictionary();
    m_position = options.initial_position;
    m_pp_target = m_position;
    m_ip_target = m_position;
    if (options.instant_homing)
        m_homing = Homing::ATTAINED;
    if (options.fault_at_power_up != 0) {
        m_fault_cause = true;
        m_fault_code = options.fault_at_power_up;
    }
    m_od.set<int32_t>(POSITION_ACTUAL, static_cast<int32_t>(m_position));
    m_od.set<int32_t>(TARGET_POSITION, static_cast<int32_t>(m_position));
}

uint16_t Cia402_Drive::error_object() const
{
    switch (m_options.vendor) {
    case Drive_Vendor::FESTO: return FESTO_ERROR;
    case Drive_Vendor::INGENIA: return INGENIA_ERROR;
    default: return ERROR_CODE;
    }
}

void Cia402_Drive::build_dictionary()
{
    const Identity id = identity_of(m_options.vendor);
    m_od.add_var<uint32_t>(0x1000, "device type", Data_Type::UNSIGNED32, Access::ro, 0x00020192);
    m_od.add_var<uint8_t>(0x1001, "error register", Data_Type::UNSIGNED8, Access::ro, 0, true);
    m_od.add_string(0x1008, "manufacturer device name", id.name);
    m_od.add_object(0x1018, Object_Code::RECORD, "identity");
    m_od.add_sub<uint32_t>(0x1018, 1, "vendor id", Data_Type::UNSIGNED32, Access::ro, id.vendor);
    m_od.add_sub<uint32_t>(0x1018, 2, "product code", Data_Type::UNSIGNED32, Access::ro, id.product);
    m_od.add_sub<uint32_t>(0x1018, 3, "revision", Data_Type::UNSIGNED32, Access::ro, 0x00010000);
    m_od.add_sub<uint32_t>(0x1018, 4, "serial number", Data_Type::UNSIGNED32, Access::ro, 0x00000001);

    m_od.add_var<uint16_t>(ERROR_CODE, "error code", Data_Type::UNSIGNED16, Access::ro, 0, true);
    m_od.add_var<uint16_t>(CW, "controlword", Data_Type::UNSIGNED16, Access::rw, 0, true);
    m_od.add_var<uint16_t>(SW, "statusword", Data_Type::UNSIGNED16, Access::ro, 0, true);
    m_od.add_var<int16_t>(QUICK_STOP_OPTION, "quick stop option code", Data_Type::INTEGER16, Access::rw, 6);
    m_od.add_var<int16_t>(ABORT_CONNECTION_OPTION, "abort connection option code", Data_Type::INTEGER16, Access::rw,
                          abort_connection_option(m_options.leaving_op));
    m_od.add_var<int8_t>(MODE, "modes of operation", Data_Type::INTEGER8, Access::rw, 0, true);
    m_od.add_var<int8_t>(MODE_DISPLAY, "modes of operation display", Data_Type::INTEGER8, Access::ro, 0, true);
    m_od.add_var<int32_t>(POSITION_ACTUAL, "position actual value", Data_Type::INTEGER32, Access::ro, 0, true);
    m_od.add_var<uint32_t>(0x6065, "following error window", Data_Type::UNSIGNED32, Access::rw, 10000);
    m_od.add_var<uint16_t>(0x6066, "following error time out", Data_Type::UNSIGNED16, Access::rw, 100);
    m_od.add_var<uint32_t>(POSITION_WINDOW, "position window", Data_Type::UNSIGNED32, Access::rw, 10);
    m_od.add_var<uint16_t>(POSITION_WINDOW_TIME, "position window time", Data_Type::UNSIGNED16, Access::rw, 0);
    m_od.add_var<int32_t>(VELOCITY_ACTUAL, "velocity actual value", Data_Type::INTEGER32, Access::ro, 0, true);
    m_od.add_var<int16_t>(0x6071, "target torque", Data_Type::INTEGER16, Access::rw, 0, true);
    m_od.add_var<int16_t>(TORQUE_ACTUAL, "torque actual value", Data_Type::INTEGER16, Access::ro, 0, true);
    m_od.add_var<int32_t>(TARGET_POSITION, "target position", Data_Type::INTEGER32, Access::rw, 0, true);
    m_od.add_var<int32_t>(HOME_OFFSET, "home offset", Data_Type::INTEGER32, Access::rw, 0);
    m_od.add_object(SOFTWARE_LIMITS, Object_Code::ARRAY, "software position limit");
    m_od.add_sub<int32_t>(SOFTWARE_LIMITS, 1, "min position limit", Data_Type::INTEGER32, Access::rw,
                          std::numeric_limits<int32_t>::min());
    m_od.add_sub<int32_t>(SOFTWARE_LIMITS, 2, "max position limit", Data_Type::INTEGER32, Access::rw,
                          std::numeric_limits<int32_t>::max());
    m_od.add_var<uint32_t>(MAX_PROFILE_VELOCITY, "max profile velocity", Data_Type::UNSIGNED32, Access::rw, 10000000);
    m_od.add_var<uint32_t>(PROFILE_VELOCITY, "profile velocity", Data_Type::UNSIGNED32, Access::rw, 100000, true);
    m_od.add_var<uint32_t>(PROFILE_ACCELERATION, "profile acceleration", Data_Type::UNSIGNED32, Access::rw, 1000000,
                           true);
    m_od.add_var<uint32_t>(PROFILE_DECELERATION, "profile deceleration", Data_Type::UNSIGNED32, Access::rw, 1000000,
                           true);
    m_od.add_var<uint32_t>(QUICK_STOP_DECELERATION, "quick stop deceleration", Data_Type::UNSIGNED32, Access::rw,
                           10000000);
    m_od.add_var<int8_t>(HOMING_METHOD, "homing method", Data_Type::INTEGER8, Access::rw, 37, true);
    m_od.add_object(HOMING_SPEEDS, Object_Code::ARRAY, "homing speeds");
    m_od.add_sub<uint32_t>(HOMING_SPEEDS, 1, "speed during search for switch", Data_Type::UNSIGNED32, Access::rw, 50000,
                           true);
    m_od.add_sub<uint32_t>(HOMING_SPEEDS, 2, "speed during search for zero", Data_Type::UNSIGNED32, Access::rw, 10000,
                           true);
    m_od.add_var<uint32_t>(HOMING_ACCELERATION, "homing acceleration", Data_Type::UNSIGNED32, Access::rw, 1000000,
                           true);
    m_od.add_object(INTERPOLATION_DATA, Object_Code::ARRAY, "interpolation data record");
    m_od.add_sub<int32_t>(INTERPOLATION_DATA, 1, "interpolation position", Data_Type::INTEGER32, Access::rw, 0, true);
    m_od.add_object(0x60C2, Object_Code::RECORD, "interpolation time period");
    m_od.add_sub<uint8_t>(0x60C2, 1, "interpolation time period value", Data_Type::UNSIGNED8, Access::rw, 1);
    m_od.add_sub<int8_t>(0x60C2, 2, "interpolation time index", Data_Type::INTEGER8, Access::rw, -3);
    m_od.add_var<uint32_t>(DIGITAL_INPUTS, "digital inputs", Data_Type::UNSIGNED32, Access::ro, 0, true);
    m_od.add_var<int32_t>(TARGET_VELOCITY, "target velocity", Data_Type::INTEGER32, Access::rw, 0, true);
    m_od.add_var<uint32_t>(0x60C5, "max acceleration", Data_Type::UNSIGNED32, Access::rw, 10000000);
    m_od.add_var<uint32_t>(SUPPORTED_MODES, "supported drive modes", Data_Type::UNSIGNED32, Access::ro,
                           (1u << 0) | (1u << 2) | (1u << 5) | (1u << 6) | (1u << 7));

    m_od.set_write_check(MODE, [this](uint8_t, const std::vector<uint8_t>& value) -> uint32_t {
        const int8_t mode = static_cast<int8_t>(value[0]);
        if (mode == 0)
            return abort_code::NONE;
        if (mode < 1 || mode > 10)
            return abort_code::VALUE_RANGE;
        const uint32_t supported = m_od.get<uint32_t>(SUPPORTED_MODES);
        return (supported >> (mode - 1)) & 1u ? abort_code::NONE : abort_code::VALUE_RANGE;
    });

    add_vendor_objects();
    add_pdo_objects();
}

void Cia402_Drive::add_vendor_objects()
{
    switch (m_options.vendor) {
    case Drive_Vendor::FESTO:
        m_od.add_var<uint32_t>(FESTO_ERROR, "diagnosis error code", Data_Type::UNSIGNED32, Access::ro, 0, true);
        m_od.add_var<float>(0x2FF3, "maximum velocity", Data_Type::REAL32, Access::ro, 10000000.0f);
        m_od.add_object(0x2FF4, Object_Code::RECORD, "user units");
        m_od.add_sub<int8_t>(0x2FF4, 1, "position resolution", Data_Type::INTEGER8, Access::ro, -3);
        m_od.add_sub<int8_t>(0x2FF4, 2, "velocity resolution", Data_Type::INTEGER8, Access::ro, -3);
        m_od.add_sub<int8_t>(0x2FF4, 3, "acceleration resolution", Data_Type::INTEGER8, Access::ro, -3);
        m_od.add_sub<uint32_t>(0x2FF4, 4, "user unit", Data_Type::UNSIGNED32, Access::ro, 1);
        m_od.add_object(FESTO_LIMIT_SWITCHES, Object_Code::RECORD, "limit switches");
        m_od.add_sub<uint8_t>(FESTO_LIMIT_SWITCHES, 1, "positive limit switch", Data_Type::UNSIGNED8, Access::ro, 0,
                              true);
        m_od.add_sub<uint8_t>(FESTO_LIMIT_SWITCHES, 2, "negative limit switch", Data_Type::UNSIGNED8, Access::ro, 0,
                              true);
        break;
    case Drive_Vendor::INGENIA:
        m_od.add_var<int32_t>(INGENIA_ERROR, "last error", Data_Type::INTEGER32, Access::ro, 0, true);
        m_od.add_object(0x60FE, Object_Code::ARRAY, "digital outputs");
        m_od.add_sub<uint32_t>(0x60FE, 1, "physical outputs", Data_Type::UNSIGNED32, Access::rw, 0, true);
        m_od.add_sub<uint32_t>(0x60FE, 2, "bit mask", Data_Type::UNSIGNED32, Access::rw, 0xFFFFFFFF);
        m_od.add_var<uint16_t>(0x6073, "max current", Data_Type::UNSIGNED16, Access::rw, 2000);
        m_od.add_var<uint32_t>(0x6075, "motor rated current", Data_Type::UNSIGNED32, Access::rw, 3000);
        m_od.add_var<int16_t>(0x6078, "current actual value", Data_Type::INTEGER16, Access::ro, 0, true);
        m_od.add_var<float>(0x2110, "maximum current", Data_Type::REAL32, Access::rw, 6.5f);
        break;
    default: break;
    }
}

void Cia402_Drive::add_pdo_objects()
{
    m_od.add_object(0x1C00, Object_Code::ARRAY, "sync manager communication type");
    for (uint8_t sm = 1; sm <= 4; ++sm)
        m_od.add_sub<uint8_t>(0x1C00, sm, "communication type sm" + std::to_string(sm - 1), Data_Type::UNSIGNED8,
                              Access::ro, sm);

    std::vector<uint32_t> rx = {mapping(CW, 0, 16), mapping(TARGET_POSITION, 0, 32), mapping(TARGET_VELOCITY, 0, 32),
                                mapping(0x6071, 0, 16), mapping(MODE, 0, 8)};
    std::vector<uint32_t> tx = {mapping(SW, 0, 16), mapping(POSITION_ACTUAL, 0, 32), mapping(VELOCITY_ACTUAL, 0, 32),
                                mapping(TORQUE_ACTUAL, 0, 16), mapping(MODE_DISPLAY, 0, 8)};
    const uint16_t error = error_object();
    tx.push_back(mapping(error, 0, error == ERROR_CODE ? 16 : 32));
    if (m_options.vendor == Drive_Vendor::FESTO) {
        rx.push_back(mapping(INTERPOLATION_DATA, 1, 32));
        tx.push_back(mapping(FESTO_LIMIT_SWITCHES, 1, 8));
        tx.push_back(mapping(FESTO_LIMIT_SWITCHES, 2, 8));
    }
    if (m_options.vendor == Drive_Vendor::INGENIA) {
        rx.push_back(mapping(0x60FE, 1, 32));
        tx.push_back(mapping(0x6078, 0, 16));
        tx.push_back(mapping(0x60FE, 1, 32));
    }

    auto add_mapping = [this](uint16_t index, const char* name, const std::vector<uint32_t>& entries) {
        m_od.add_object(index, Object_Code::RECORD, name, Access::rw, PREOP);
        for (uint8_t sub = 1; sub <= 8; ++sub)
            m_od.add_sub<uint32_t>(index, sub, "mapping entry " + std::to_string(sub), Data_Type::UNSIGNED32,
                                   Access::rw, sub <= entries.size() ? entries[sub - 1] : 0, false, PREOP);
        m_od.set<uint8_t>(index, 0, static_cast<uint8_t>(entries.size()));
    };
    add_mapping(0x1600, "rxpdo 1 mapping", rx);
    add_mapping(0x1601, "rxpdo 2 mapping", {});
    add_mapping(0x1A00, "txpdo 1 mapping", tx);
    add_mapping(0x1A01, "txpdo 2 mapping", {});

    auto add_assignment = [this](uint16_t index, const char* name, uint16_t first) {
        m_od.add_object(index, Object_Code::ARRAY, name, Access::rw, PREOP);
        m_od.add_sub<uint16_t>(index, 1, "pdo 1", Data_Type::UNSIGNED16, Access::rw, first, false, PREOP);
        m_od.add_sub<uint16_t>(index, 2, "pdo 2", Data_Type::UNSIGNED16, Access::rw, 0, false, PREOP);
        m_od.set<uint8_t>(index, 0, 1);
    };
    add_assignment(0x1C12, "rxpdo assign", 0x1600);
    add_assignment(0x1C13, "txpdo assign", 0x1A00);

    for (uint16_t index : {uint16_t(0x1C32), uint16_t(0x1C33)}) {
        m_od.add_object(index, Object_Code::RECORD, index == 0x1C32 ? "sm output parameter" : "sm input parameter");
        m_od.add_sub<uint16_t>(index, 1, "synchronization type", Data_Type::UNSIGNED16, Access::rw, 2, false,
                               PREOP | STATE_SAFE_OP);
        m_od.add_sub<uint32_t>(index, 2, "cycle time", Data_Type::UNSIGNED32, Access::rw, 1000000, false,
                               PREOP | STATE_SAFE_OP);
        m_od.add_sub<uint32_t>(index, 3, "shift time", Data_Type::UNSIGNED32, Access::ro, 0);
        m_od.add_sub<uint16_t>(index, 4, "synchronization types supported", Data_Type::UNSIGNED16, Access::ro, 0x0007);
        m_od.add_sub<uint32_t>(index, 5, "minimum cycle time", Data_Type::UNSIGNED32, Access::ro, 125000);
        m_od.add_sub<uint32_t>(index, 6, "calc and copy time", Data_Type::UNSIGNED32, Access::ro, 50000);
    }
}

void Cia402_Drive::set_control_word(uint16_t word)
{
    m_od.set<uint16_t>(CW, word);
}
uint16_t Cia402_Drive::control_word() const
{
    return m_od.get<uint16_t>(CW);
}
uint16_t Cia402_Drive::status_word() const
{
    return m_od.get<uint16_t>(SW);
}
int8_t Cia402_Drive::mode_display() const
{
    return m_od.get<int8_t>(MODE_DISPLAY);
}
int32_t Cia402_Drive::position() const
{
    return m_od.get<int32_t>(POSITION_ACTUAL);
}
int32_t Cia402_Drive::velocity() const
{
    return m_od.get<int32_t>(VELOCITY_ACTUAL);
}

uint32_t Cia402_Drive::error_code() const
{
    const uint16_t index = error_object();
    if (index == ERROR_CODE)
        return m_od.get<uint16_t>(index);
    return m_od.get<uint32_t>(index);
}

void Cia402_Drive::set_error(uint16_t code)
{
    m_od.set<uint16_t>(ERROR_CODE, code);
    if (m_options.vendor == Drive_Vendor::FESTO)
        m_od.set<uint32_t>(FESTO_ERROR, code);
    if (m_options.vendor == Drive_Vendor::INGENIA)
        m_od.set<int32_t>(INGENIA_ERROR, code);
    m_od.set<uint8_t>(0x1001, code != 0 ? 0x01 : 0x00);
    Emergency emergency;
    emergency.code = code;
    emergency.error_register = m_od.get<uint8_t>(0x1001);
    m_emergencies.push_back(emergency);
}

std::vector<Emergency> Cia402_Drive::take_emergencies()
{
    std::vector<Emergency> taken;
    taken.swap(m_emergencies);
    return taken;
}

void Cia402_Drive::inject_fault(uint16_t code)
{
    m_fault_cause = true;
    m_fault_code = code;
}

void Cia402_Drive::clear_fault_cause()
{
    m_fault_cause = false;
}

void Cia402_Drive::set_warning_limit(bool active)
{
    m_warning_limit = active;
}

void Cia402_Drive::set_warning(bool active)
{
    m_warning = active;
}

void Cia402_Drive::set_limit_inputs(bool positive, bool negative)
{
    m_limit_positive = positive;
    m_limit_negative = negative;
    uint32_t inputs = m_od.get<uint32_t>(DIGITAL_INPUTS) & ~0x3u;
    if (negative)
        inputs |= 0x1u;
    if (positive)
        inputs |= 0x2u;
    m_od.set<uint32_t>(DIGITAL_INPUTS, inputs);
    if (m_options.vendor == Drive_Vendor::FESTO) {
        m_od.set<uint8_t>(FESTO_LIMIT_SWITCHES, 1, positive ? 1 : 0);
        m_od.set<uint8_t>(FESTO_LIMIT_SWITCHES, 2, negative ? 1 : 0);
    }
}

void Cia402_Drive::set_safety_active(bool active)
{
    m_safety = active;
}

void Cia402_Drive::set_sdo_behaviour(std::chrono::milliseconds delay, uint32_t abort, bool silent)
{
    m_options.sdo_delay = delay;
    m_options.sdo_abort = abort;
    m_options.sdo_silent = silent;
}

uint32_t Cia402_Drive::sdo_read(uint16_t index, uint8_t subindex, std::vector<uint8_t>& out) const
{
    if (m_options.sdo_abort != 0)
        return m_options.sdo_abort;
    return m_od.read(index, subindex, out);
}

uint32_t Cia402_Drive::sdo_write(uint16_t index, uint8_t subindex, const std::vector<uint8_t>& data)
{
    if (m_options.sdo_abort != 0)
        return m_options.sdo_abort;
    return m_od.write(index, subindex, data);
}

void Cia402_Drive::set_device_state(Device_State state)
{
    m_od.set_state(state);
    if (state == STATE_OP)
        return;
    const bool enabled = m_state == Power_State::OPERATION_ENABLED || m_state == Power_State::QUICK_STOP_ACTIVE;
    if (!enabled)
        return;
    // The communication-loss reaction of 0x6007.
    switch (m_od.get<int16_t>(ABORT_CONNECTION_OPTION)) {
    case ABORT_NO_ACTION: return;
    case ABORT_DISABLE_VOLTAGE: m_state = Power_State::SWITCH_ON_DISABLED; break;
    case ABORT_QUICK_STOP:
        m_state = Power_State::QUICK_STOP_ACTIVE;
        m_lost_connection_stop = true;
        break;
    default: enter_fault(m_options.leaving_op_fault_code); break;
    }
    m_reaction_unpublished = true;
}

bool Cia402_Drive::reacting() const
{
    return m_reaction_unpublished || m_state == Power_State::FAULT_REACTION_ACTIVE || m_lost_connection_stop;
}

void Cia402_Drive::enter_fault(uint16_t code)
{
    m_state = Power_State::FAULT_REACTION_ACTIVE;
    m_fault_code = code;
    set_error(code);
}

double Cia402_Drive::max_velocity() const
{
    const uint32_t max = m_od.get<uint32_t>(MAX_PROFILE_VELOCITY);
    return max == 0 ? std::numeric_limits<double>::max() : static_cast<double>(max);
}

// A zero ramp means as steep as possible.
double Cia402_Drive::profile_acc() const
{
    const uint32_t acc = m_od.get<uint32_t>(PROFILE_ACCELERATION);
    return acc == 0 ? 1e12 : static_cast<double>(acc);
}

double Cia402_Drive::profile_dec() const
{
    const uint32_t dec = m_od.get<uint32_t>(PROFILE_DECELERATION);
    return dec == 0 ? 1e12 : static_cast<double>(dec);
}

double Cia402_Drive::clip_target(double target)
{
    const double lo = m_od.get<int32_t>(SOFTWARE_LIMITS, 1);
    const double hi = m_od.get<int32_t>(SOFTWARE_LIMITS, 2);
    m_limit_clipped = target < lo || target > hi;
    return std::min(std::max(target, lo), hi);
}

void Cia402_Drive::power_transitions(uint16_t cw)
{
    const bool reset_edge = (cw & 0x80) != 0 && (m_cw_prev & 0x80) == 0;
    const bool shutdown = (cw & 0x87) == 0x06;
    const bool switch_on = (cw & 0x8F) == 0x07;
    const bool enable = (cw & 0x8F) == 0x0F;
    const bool disable_voltage = (cw & 0x82) == 0x00;
    const bool quick_stop = (cw & 0x86) == 0x02;
    const bool ignore = m_options.ignore_control_word;

    switch (m_state) {
    case Power_State::NOT_READY_TO_SWITCH_ON: m_state = Power_State::SWITCH_ON_DISABLED; break;
    case Power_State::SWITCH_ON_DISABLED:
        if (!ignore && shutdown && !m_safety)
            m_state = Power_State::READY_TO_SWITCH_ON;
        break;
    case Power_State::READY_TO_SWITCH_ON:
        if (ignore)
            break;
        if (disable_voltage || quick_stop)
            m_state = Power_State::SWITCH_ON_DISABLED;
        else if (switch_on)
            m_state = Power_State::SWITCHED_ON;
        else if (enable)
            m_state = Power_State::OPERATION_ENABLED;  // 3 then 4 at once
        break;
    case Power_State::SWITCHED_ON:
        if (ignore)
            break;
        if (disable_voltage || quick_stop)
            m_state = Power_State::SWITCH_ON_DISABLED;
        else if (shutdown)
            m_state = Power_State::READY_TO_SWITCH_ON;
        else if (enable)
            m_state = Power_State::OPERATION_ENABLED;
        break;
    case Power_State::OPERATION_ENABLED:
        if (ignore)
            break;
        if (disable_voltage)
            m_state = Power_State::SWITCH_ON_DISABLED;
        else if (quick_stop && !halts_for_quick_stop(m_options.vendor))
            m_state = Power_State::QUICK_STOP_ACTIVE;
        else if (shutdown)
            m_state = Power_State::READY_TO_SWITCH_ON;
        else if (switch_on)
            m_state = Power_State::SWITCHED_ON;
        break;
    case Power_State::QUICK_STOP_ACTIVE: {
        if (ignore)
            break;
        const int16_t option = m_od.get<int16_t>(QUICK_STOP_OPTION);
        if (disable_voltage)
            m_state = Power_State::SWITCH_ON_DISABLED;
        else if (enable && option >= 5 && option <= 8 && !m_lost_connection_stop)
            m_state = Power_State::OPERATION_ENABLED;
        break;
    }
    case Power_State::FAULT_REACTION_ACTIVE: m_state = Power_State::FAULT; break;
    case Power_State::FAULT:
        if (reset_edge && !m_fault_cause) {
            m_state = Power_State::SWITCH_ON_DISABLED;
            m_fault_code = 0;
            set_error(0);
        }
        break;
    }
    // The safety input (Yaskawa base block) takes the power stage away.
    if (m_safety && (m_state == Power_State::READY_TO_SWITCH_ON || m_state == Power_State::SWITCHED_ON ||
                     m_state == Power_State::OPERATION_ENABLED || m_state == Power_State::QUICK_STOP_ACTIVE))
        m_state = Power_State::SWITCH_ON_DISABLED;
}

void Cia402_Drive::move_towards(double target, double v_max, double acc, double dec, double dt)
{
    const double distance = target - m_position;
    if (distance == 0 && m_velocity == 0)
        return;
    const double direction = distance > 0 ? 1.0 : (distance < 0 ? -1.0 : (m_velocity > 0 ? -1.0 : 1.0));
    const double braking = std::sqrt(2.0 * dec * std::fabs(distance));
    const double wanted = direction * std::min(v_max, braking);
    if (m_velocity < wanted)
        m_velocity = std::min(wanted, m_velocity + (m_velocity >= 0 ? acc : dec) * dt);
    else
        m_velocity = std::max(wanted, m_velocity - (m_velocity <= 0 ? acc : dec) * dt);
    const double next = m_position + m_velocity * dt;
    if ((target - next) * direction <= 0 || std::fabs(target - next) < 0.5) {
        m_position = target;  // arrived (or would pass it): stand at the target
        m_velocity = 0;
    } else {
        m_position = next;
    }
}

void Cia402_Drive::stop_motion(double dt, double deceleration)
{
    if (m_velocity > 0)
        m_velocity = std::max(0.0, m_velocity - deceleration * dt);
    else if (m_velocity < 0)
        m_velocity = std::min(0.0, m_velocity + deceleration * dt);
    m_position += m_velocity * dt;
}

void Cia402_Drive::profile_position(uint16_t cw, double dt)
{
    const bool new_set_point = (cw & 0x10) != 0 && (m_cw_prev & 0x10) == 0;
    if (new_set_point && !m_pp_ack) {
        const double requested = m_od.get<int32_t>(TARGET_POSITION);
        const double previous = (m_pp_buffered ? m_pp_next : m_pp_target) + m_offset;
        const double target = clip_target((cw & 0x40) ? previous + requested : requested) - m_offset;
        if (!m_pp_moving || (cw & 0x20)) {
            m_pp_target = target;
            m_pp_moving = true;
            m_pp_buffered = false;
        } else {
            m_pp_next = target;
            m_pp_buffered = true;
        }
        m_pp_ack = true;
        m_target_reached = false;
        m_in_window_s = 0;
    }
    if ((cw & 0x10) == 0)
        m_pp_ack = false;

    if (cw & 0x100) {  // halt: decelerate and stand; bit 10 tells standstill
        stop_motion(dt, profile_dec());
        m_target_reached = m_velocity == 0;
        return;
    }
    if (m_pp_moving) {
        const double v = std::min(static_cast<double>(m_od.get<uint32_t>(PROFILE_VELOCITY)), max_velocity());
        move_towards(m_pp_target, v, profile_acc(), profile_dec(), dt);
        if (m_position == m_pp_target && m_velocity == 0) {
            if (m_pp_buffered) {
                m_pp_target = m_pp_next;
                m_pp_buffered = false;
            } else {
                m_pp_moving = false;
            }
        }
    }
    const double window = m_od.get<uint32_t>(POSITION_WINDOW);
    const double window_time = m_od.get<uint16_t>(POSITION_WINDOW_TIME) / 1000.0;
    if (!m_pp_moving && std::fabs(m_position - m_pp_target) <= window) {
        m_in_window_s += dt;
        m_target_reached = m_in_window_s >= window_time;
    } else {
        m_in_window_s = 0;
        m_target_reached = false;
    }
}

void Cia402_Drive::profile_velocity(uint16_t cw, double dt)
{
    double target = (cw & 0x100) ? 0.0 : static_cast<double>(m_od.get<int32_t>(TARGET_VELOCITY));
    target = std::max(-max_velocity(), std::min(max_velocity(), target));
    const bool speeding_up = std::fabs(target) > std::fabs(m_velocity) && target * m_velocity >= 0;
    const double ramp = (speeding_up ? profile_acc() : profile_dec()) * dt;
    if (m_velocity < target)
        m_velocity = std::min(target, m_velocity + ramp);
    else
        m_velocity = std::max(target, m_velocity - ramp);
    m_position += m_velocity * dt;
    m_target_reached = m_velocity == target;
}

void Cia402_Drive::homing(uint16_t cw, double dt)
{
    const bool start = (cw & 0x10) != 0 && (m_cw_prev & 0x10) == 0;
    const double home_offset = m_od.get<int32_t>(HOME_OFFSET);
    if (start) {
        const int8_t method = m_od.get<int8_t>(HOMING_METHOD);
        if (m_options.homing_error) {
            m_homing = Homing::ERROR_STANDSTILL;
        } else if (m_options.instant_homing || method == 35 || method == 37) {
            m_offset = home_offset - m_position;
            m_homing = Homing::ATTAINED;
        } else {
            m_homing = Homing::RUNNING;
        }
    }
    if (m_homing != Homing::RUNNING) {
        stop_motion(dt, profile_dec());
        return;
    }
    const double acc = m_od.get<uint32_t>(HOMING_ACCELERATION) == 0 ? 1e12 : m_od.get<uint32_t>(HOMING_ACCELERATION);
    if ((cw & 0x10) == 0 || (cw & 0x100) != 0) {  // interrupted
        stop_motion(dt, acc);
        if (m_velocity == 0)
            m_homing = Homing::NOT_STARTED;
        return;
    }
    const double speed = std::min(static_cast<double>(m_od.get<uint32_t>(HOMING_SPEEDS, 1)), max_velocity());
    move_towards(m_options.home_switch_position, speed, acc, acc, dt);
    if (m_position == m_options.home_switch_position && m_velocity == 0) {
        m_offset = home_offset - m_position;
        m_homing = Homing::ATTAINED;
    }
}

void Cia402_Drive::follow_target(double dt, double requested)
{
    const double target = clip_target(requested) - m_offset;
    const double step_max = max_velocity() * dt;
    const double before = m_position;
    m_position += std::max(-step_max, std::min(step_max, target - m_position));
    m_velocity = dt > 0 ? (m_position - before) / dt : 0;
    m_target_reached = m_position == target;
}

void Cia402_Drive::run_mode(uint16_t cw, double dt)
{
    switch (m_mode) {
    case MODE_PP: profile_position(cw, dt); break;
    case MODE_PV: profile_velocity(cw, dt); break;
    case MODE_HM: homing(cw, dt); break;
    case MODE_IP:
        if (cw & 0x10)
            follow_target(dt, m_od.get<int32_t>(INTERPOLATION_DATA, 1));
        else
            stop_motion(dt, profile_dec());
        break;
    case MODE_CSP:
        // A Festo drive takes its cyclic set-point from the interpolation
        // record that its RxPDO maps.
        follow_target(dt, m_options.vendor == Drive_Vendor::FESTO ? m_od.get<int32_t>(INTERPOLATION_DATA, 1)
                                                                  : m_od.get<int32_t>(TARGET_POSITION));
        break;
    default: stop_motion(dt, profile_dec()); break;
    }
}

void Cia402_Drive::step(double dt)
{
    const uint16_t cw = control_word();
    if (m_cw_history.empty() || m_cw_history.back() != cw)
        m_cw_history.push_back(cw);

    if (m_fault_cause && m_state != Power_State::FAULT && m_state != Power_State::FAULT_REACTION_ACTIVE)
        enter_fault(m_fault_code);
    else
        power_transitions(cw);

    const int8_t requested = m_od.get<int8_t>(MODE);
    if (requested != m_mode) {
        // A new mode starts from where the axis stands.
        if (m_homing == Homing::RUNNING)
            m_homing = Homing::NOT_STARTED;
        m_pp_moving = m_pp_buffered = m_pp_ack = false;
        m_pp_target = m_position;
        m_target_reached = true;
        m_mode = requested;
    }

    const double before = m_position;
    if (m_state == Power_State::OPERATION_ENABLED) {
        const bool halted = halts_for_quick_stop(m_options.vendor) && (cw & 0x04) == 0;
        run_mode(halted ? static_cast<uint16_t>(cw | 0x100) : cw, dt);
    } else if (m_state == Power_State::QUICK_STOP_ACTIVE) {
        stop_motion(dt, static_cast<double>(m_od.get<uint32_t>(QUICK_STOP_DECELERATION)));
        m_pp_moving = m_pp_buffered = false;
        m_pp_target = m_position;
        const int16_t option = m_od.get<int16_t>(QUICK_STOP_OPTION);
        if (m_velocity == 0 && ((option >= 1 && option <= 4) || m_lost_connection_stop))
            m_state = Power_State::SWITCH_ON_DISABLED;
    } else {
        m_velocity = 0;  // no torque: the simulated axis stands
        m_pp_moving = m_pp_buffered = false;
        m_pp_target = m_position;
    }
    // A limit stops motion towards it.
    const bool blocked =
        m_warning_limit || (m_limit_positive && m_position > before) || (m_limit_negative && m_position < before);
    if (blocked && m_position != before) {
        m_position = before;
        m_velocity = 0;
    }
    if (m_state != Power_State::QUICK_STOP_ACTIVE)
        m_lost_connection_stop = false;
    publish(cw);
    m_reaction_unpublished = false;
    m_cw_prev = cw;
}

void Cia402_Drive::publish(uint16_t cw)
{
    uint16_t sw = 0;
    switch (m_state) {
    case Power_State::NOT_READY_TO_SWITCH_ON: sw = 0x00; break;
    case Power_State::SWITCH_ON_DISABLED: sw = 0x40; break;
    case Power_State::READY_TO_SWITCH_ON: sw = 0x21; break;
    case Power_State::SWITCHED_ON: sw = 0x23; break;
    case Power_State::OPERATION_ENABLED: sw = 0x27; break;
    case Power_State::QUICK_STOP_ACTIVE: sw = 0x07; break;
    case Power_State::FAULT_REACTION_ACTIVE: sw = 0x0F; break;
    case Power_State::FAULT: sw = 0x08; break;
    }
    sw |= 0x10;  // supply on
    if (!m_options.ignore_control_word)
        sw |= 0x200;  // remote
    const bool limit = m_warning_limit || m_limit_positive || m_limit_negative;
    if (limit || m_warning)
        sw |= 0x80;
    if (limit || m_limit_clipped)
        sw |= 0x800;
    if (m_safety && m_options.vendor == Drive_Vendor::YASKAWA)
        sw |= 0x8000;

    const bool enabled = m_state == Power_State::OPERATION_ENABLED;
    switch (m_mode) {
    case MODE_PP:
        if (m_target_reached)
            sw |= SW_TARGET_REACHED;
        if (m_pp_ack)
            sw |= SW_BIT12;
        break;
    case MODE_PV:
        if (m_target_reached)
            sw |= SW_TARGET_REACHED;
        if (std::fabs(m_velocity) < 1.0)
            sw |= SW_BIT12;
        break;
    case MODE_HM:
        switch (m_homing) {
        case Homing::NOT_STARTED: sw |= SW_TARGET_REACHED; break;
        case Homing::RUNNING: break;
        case Homing::ATTAINED: sw |= SW_TARGET_REACHED | SW_BIT12; break;
        case Homing::ERROR_STANDSTILL: sw |= SW_TARGET_REACHED | SW_BIT13; break;
        }
        break;
    case MODE_IP:
        if (enabled && (cw & 0x10))
            sw |= SW_BIT12;
        if (m_target_reached)
            sw |= SW_TARGET_REACHED;
        break;
    case MODE_CSP:
        if (enabled)
            sw |= SW_BIT12;
        if (m_target_reached)
            sw |= SW_TARGET_REACHED;
        break;
    default: break;
    }

    m_od.set<uint16_t>(SW, sw);
    int8_t display = m_mode;
    if (m_options.disagreeing_mode_display)
        display = static_cast<int8_t>(m_mode == 0 ? -1 : 0);
    m_od.set<int8_t>(MODE_DISPLAY, display);
    m_od.set<int32_t>(POSITION_ACTUAL, static_cast<int32_t>(std::lround(m_position + m_offset)));
    m_od.set<int32_t>(VELOCITY_ACTUAL, static_cast<int32_t>(std::lround(m_velocity)));
}

}  // namespace sim
