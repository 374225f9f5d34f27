#pragma once

// Tables shared by the axes manager and its client library: command names
// and codes of the channel "axmngr_<n>", drive families, operation modes,
// the per-axis and manager state codes they publish, and the manager's error
// codes. Lookups are strict (std::map::at): an unknown name or code is the
// caller's error, never a default.

#include <cstdint>
#include <map>
#include <string>

// Prefix of every framework name of a manager: "axmngr_" + manager number.
inline const std::string AXES_MANAGER_PREFIX = "axmngr_";

// Command codes on the channel (datum "cmd_value", int8).
enum Axes_Manager_Command : int8_t {
    CMD_RESET = 1,
    CMD_GET_INFO = 2,
    CMD_HALT = 3,
    CMD_QUICK_STOP = 4,
    CMD_START_PROCEDURE = 5,
    CMD_DETORQUE = 6,
    CMD_CFG_DATA = 7,
};

// Answers (datum "resp_value", int8).
constexpr int8_t ANSWER_DONE = 1;
constexpr int8_t ANSWER_REFUSED = -1;

inline const std::map<std::string, int32_t> cmd_string_to_code_map = {
    {"reset", CMD_RESET},
    {"get_info", CMD_GET_INFO},
    {"halt", CMD_HALT},
    {"quick_stop", CMD_QUICK_STOP},
    {"start_procedure", CMD_START_PROCEDURE},
    {"detorque", CMD_DETORQUE},
    {"cfg_data", CMD_CFG_DATA},
};

inline const std::map<int32_t, std::string> cmd_code_to_string_map = [] {
    std::map<int32_t, std::string> reverse;
    for (const auto& entry : cmd_string_to_code_map)
        reverse[entry.second] = entry.first;
    return reverse;
}();

// Drive families (the axis's "type" input).
enum Axis_Type : int8_t {
    AXIS_VIRTUAL = 0,
    AXIS_SCHNEIDER = 1,
    AXIS_OMRON = 2,
    AXIS_INFRANOR = 3,
    AXIS_YASKAWA = 4,
    AXIS_FESTO = 5,
    AXIS_INGENIA = 6,
};

inline const std::map<int32_t, std::string> axis_types_map = {
    {AXIS_VIRTUAL, "VIRTUAL"}, {AXIS_SCHNEIDER, "SCHNEIDER"}, {AXIS_OMRON, "OMRON"},     {AXIS_INFRANOR, "INFRANOR"},
    {AXIS_YASKAWA, "YASKAWA"}, {AXIS_FESTO, "FESTO"},         {AXIS_INGENIA, "INGENIA"},
};

// Operation modes: label to CiA 402 mode code.
inline const std::map<std::string, int32_t> op_mode_map = {
    {"profile_pos", 1},
    {"profile_vel", 3},
    {"homing", 6},
    {"interpolated", 8},
};

inline const std::map<int32_t, std::string> op_mode_to_string_map = [] {
    std::map<int32_t, std::string> reverse;
    for (const auto& entry : op_mode_map)
        reverse[entry.second] = entry.first;
    return reverse;
}();

// Per-axis states, published on "axmngr_<n>_ax_<i>_status" (int8).
enum Axis_Update_State_Machine : int32_t {
    STATE_FAULT = -4,
    RESET_FAULT = -3,
    STATE_DISABLE_TORQUE = -2,
    STATE_INIT = 0,
    STATE_WAIT_READ_INFO = 1,
    STATE_SEND_CFG_DATA = 2,
    STATE_SWITCH_ON_DISABLED = 4,
    STATE_READY_TO_SWITCH_ON = 5,
    STATE_SWITCH_ON = 6,
    STATE_WAIT_OPERATION_ENABLED = 7,
    STATE_OPERATION_MODE_IDLE = 8,
    STATE_WAIT_HALT_REACHED = 11,
    SETTING_OP_MODE = 12,
    CHANGING_OP_MODE = 13,
    START_REFRESH_ASYNC_BASED_OP_MODE = 15,
    REFRESHING_ASYNC_BASED_OP_MODE = 16,
    STATE_QUICK_STOP_ACTIVE = 23,
    STATE_WAIT_FAULT_RESET = 24,
    STATE_RESTORE_FROM_QSA = 25,
    STATE_GOING_TO_OP_ENABLE_FROM_QSA = 26,
    STATE_WORKING = 27,
    STATE_PRE_RUNNING = 28,
    STATE_IS_RUNNING = 29,
    STATE_WAIT_SETPOINT_RESET = 35,
    STATE_GOING_TO_SW_ON_DIS_FROM_QSA = 36,
};

// Manager states, published on "axmngr_<n>_status" (int8).
enum States_Manager : int8_t {
    OPERATIONAL = 1,
    RUNNING = 2,
    NOT_OPERATIONAL = 3,
    WAIT_CHANGE_MODE = 4,
    RESET = 5,
    MANAGE_POSSIBLE_STOP = 6,
    WAIT_START_PROCEDURE = 7,
    WAIT_READ_INFO = 8,
    SEND_CFG_DATA = 9,
};
constexpr int STATE_MANAGER_NUM = 9;

// The manager's error code, published on the optional "axmngr_<n>_error_code".
enum Axes_Mngr_Error_Code : int32_t {
    AXESMNGR_NO_ERROR = 0,
    AXESMNGR_COMMAND_NOT_VALID = 1,
    AXESMNGR_AXIS_IN_ERROR = 2,
    AXESMNGR_NO_AXES_CONFIGURED = 3,
    AXESMNGR_PARAMETERS_NOT_VALID = 4,
};

// Largest number of axes one manager drives (the count is an int8 input).
constexpr int AXES_MAX = 127;
