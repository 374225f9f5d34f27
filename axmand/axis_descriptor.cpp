// Axis descriptor: binding of the axis's framework variables and the
// per-cycle exchange.

#include "axis_descriptor.h"

#include <cstdio>
#include <stdexcept>

#include "axmand_log.h"
#include "xelo_framework_shm_manager.h"
#include "xelo_string_functions.h"

using XELO_String_Functions::num2str;

namespace {
constexpr int FM_MAX_ASYNC = 10000;

std::string axis_text(uint32_t number)
{
    char text[16];
    std::snprintf(text, sizeof text, "%u", number);
    return text;
}

int bit(uint16_t word, int n)
{
    return (word >> n) & 1;
}
}  // namespace

const StatesNamesMap Axis_Descriptor::__states_names_map = {
    {STATE_FAULT, "STATE_FAULT"},
    {RESET_FAULT, "RESET_FAULT"},
    {STATE_DISABLE_TORQUE, "STATE_DISABLE_TORQUE"},
    {STATE_INIT, "STATE_INIT"},
    {STATE_WAIT_READ_INFO, "STATE_WAIT_READ_INFO"},
    {STATE_SEND_CFG_DATA, "STATE_SEND_CFG_DATA"},
    {STATE_SWITCH_ON_DISABLED, "STATE_SWITCH_ON_DISABLED"},
    {STATE_READY_TO_SWITCH_ON, "STATE_READY_TO_SWITCH_ON"},
    {STATE_SWITCH_ON, "STATE_SWITCH_ON"},
    {STATE_WAIT_OPERATION_ENABLED, "STATE_WAIT_OPERATION_ENABLED"},
    {STATE_OPERATION_MODE_IDLE, "STATE_OPERATION_MODE_IDLE"},
    {STATE_WAIT_HALT_REACHED, "STATE_WAIT_HALT_REACHED"},
    {SETTING_OP_MODE, "SETTING_OP_MODE"},
    {CHANGING_OP_MODE, "CHANGING_OP_MODE"},
    {START_REFRESH_ASYNC_BASED_OP_MODE, "START_REFRESH_ASYNC_BASED_OP_MODE"},
    {REFRESHING_ASYNC_BASED_OP_MODE, "REFRESHING_ASYNC_BASED_OP_MODE"},
    {STATE_QUICK_STOP_ACTIVE, "STATE_QUICK_STOP_ACTIVE"},
    {STATE_WAIT_FAULT_RESET, "STATE_WAIT_FAULT_RESET"},
    {STATE_RESTORE_FROM_QSA, "STATE_RESTORE_FROM_QSA"},
    {STATE_GOING_TO_OP_ENABLE_FROM_QSA, "STATE_GOING_TO_OP_ENABLE_FROM_QSA"},
    {STATE_WORKING, "STATE_WORKING"},
    {STATE_PRE_RUNNING, "STATE_PRE_RUNNING"},
    {STATE_IS_RUNNING, "STATE_IS_RUNNING"},
    {STATE_WAIT_SETPOINT_RESET, "STATE_WAIT_SETPOINT_RESET"},
    {STATE_GOING_TO_SW_ON_DIS_FROM_QSA, "STATE_GOING_TO_SW_ON_DIS_FROM_QSA"},
};

Axis_Descriptor::Axis_Descriptor(Framework_Shared_Memory_Manager* _framework, uint32_t _axis_number,
                                 const std::string& _axmngr_prefix, uint32_t _axmngr_cmd_channel_id,
                                 const Cmd_Protocol_S* __command_protocol, int32_t _cycle_time_us)
    : m_axis_number(_axis_number), m_axes_manager_cmd_channel_id(_axmngr_cmd_channel_id),
      m_axes_manager_prefix_str(_axmngr_prefix),
      m_axes_manager_prefix_str_and_axis_prefix_str(_axmngr_prefix + "_ax_" + axis_text(_axis_number)),
      m_cmds_protocol(__command_protocol), m_framework(_framework), m_axis_cycle_time_us(_cycle_time_us)
{
}

std::string Axis_Descriptor::state_name(int32_t state) const
{
    const auto found = __states_names_map.find(state);
    return found == __states_names_map.end() ? num2str(state) : found->second;
}

OpMode_Base* Axis_Descriptor::mode_by_label(const std::string& label) const
{
    const auto found = m_op_modes.find(label);
    return found == m_op_modes.end() ? nullptr : found->second.get();
}

int32_t Axis_Descriptor::load_input_id_from_framework_ex(const std::string& input_name, bool is_mandatory)
{
    const std::string name = m_axes_manager_prefix_str_and_axis_prefix_str + "_" + input_name;
    if (m_framework->has_input_ex(name))
        return m_framework->get_input_id_ex(name);
    if (is_mandatory)
        throw std::runtime_error("### Error!!! mandatory input not found: " + name + " ###");
    log_war("### input not found: " + name + " ###");
    return -1;
}

int32_t Axis_Descriptor::load_output_rw_id_from_framework_ex(const std::string& input_name, bool is_mandatory)
{
    const std::string name = m_axes_manager_prefix_str_and_axis_prefix_str + "_" + input_name;
    if (m_framework->has_output_ex(name))
        return m_framework->get_output_rw_id_ex(name, false);
    if (is_mandatory)
        throw std::runtime_error("### Error!!! mandatory output not found: " + name + " ###");
    log_war("### output not found: " + name + " ###");
    return -1;
}

void Axis_Descriptor::init_ex()
{
    log_inf("[axis descriptor][init_ex()] axis initializing ... number :: " + num2str(m_axis_number));
    m_axis_type_id = load_input_id_from_framework_ex("type", true);
    m_axis_type = m_framework->get_input_ex<signed char>(m_axis_type_id, false);

    if (m_axis_type == AXIS_VIRTUAL) {
        log_inf("[axes_descriptor][init_ex()] virtual axis");
        reinit_op_mode();
        return;
    }

    m_incoming_cmd_opmode_code_request_id =
        static_cast<int8_t>(m_framework->get_cmd_data_id_to_recv_ex(static_cast<int>(m_axes_manager_cmd_channel_id),
                                                                    "ax_" + axis_text(m_axis_number) + "_op_mode"));
    log_inf("[axis descriptor] loading standard op modes, axis type = " + axis_types_map.at(m_axis_type));
    load_op_modes();
    load_words_and_modes_ex();
    if (m_axis_type == AXIS_INGENIA)
        load_ingenia_set_points_ex();
    log_inf("[axis descriptor][init_ex()] -> search for info async");
    find_async_info();
    log_inf("[axis descriptor][init_ex()] -> search for cfg_data async");
    find_async_cfg_data();
    reinit_op_mode();
}

template <typename Mode>
void Axis_Descriptor::load_op_mode(const std::string& label, const char* name)
{
    try {
        m_op_modes[label] = std::make_unique<Mode>(m_framework, m_axes_manager_prefix_str,
                                                   static_cast<int>(m_axes_manager_cmd_channel_id),
                                                   m_axes_manager_prefix_str_and_axis_prefix_str);
    } catch (const std::exception&) {
        log_war(std::string("[axis descriptor] op mode ") + name + " not available!");
    }
}

void Axis_Descriptor::load_op_modes()
{
    load_op_mode<OpMode_Homing>("homing", "Homing");
    load_op_mode<OpMode_Profile_Pos>("profile_pos", "Profile Position");
    load_op_mode<OpMode_Profile_Vel>("profile_vel", "Profile Velocity");
    load_op_mode<OpMode_Interpolated>("interpolated", "Interpolated");
}

void Axis_Descriptor::load_words_and_modes_ex()
{
    const std::string& axis_prefix = m_axes_manager_prefix_str_and_axis_prefix_str;
    m_status_word_id = load_input_id_from_framework_ex("status_word", true);
    m_actual_pos_raw_id = load_input_id_from_framework_ex("actual_pos", true);
    m_actual_vel_raw_id = load_input_id_from_framework_ex("actual_vel", false);
    if (m_actual_vel_raw_id != -1)
        log_inf("[axis descriptor][init_ex()] actual vel raw found ");

    m_control_word_id = load_output_rw_id_from_framework_ex("control_word", true);
    m_axis_status_id = load_output_rw_id_from_framework_ex("status", true);

    m_async_out_operation_mode_id = m_framework->get_async_output_id_ex(axis_prefix + "_operation_mode");
    m_async_in_operation_mode_id = m_framework->get_async_input_id_ex(axis_prefix + "_operation_mode");
    m_async_in_last_error_id = m_framework->get_async_input_id_ex(axis_prefix + "_info_err_canopen_std");
}

void Axis_Descriptor::load_ingenia_set_points_ex()
{
    const std::string& axis_prefix = m_axes_manager_prefix_str_and_axis_prefix_str;
    // The set-point rewrite of these drives needs both profile modes.
    OpMode_Base* position = mode_by_label("profile_pos");
    OpMode_Base* velocity = mode_by_label("profile_vel");
    if (position == nullptr)
        throw std::runtime_error("[axis descriptor][init_ex()] INGENIA axis " + num2str(m_axis_number) +
                                 " needs op mode profile_pos");
    if (velocity == nullptr)
        throw std::runtime_error("[axis descriptor][init_ex()] INGENIA axis " + num2str(m_axis_number) +
                                 " needs op mode profile_vel");
    m_async_profile_pos_target_pos_id = position->get_async_output_id(axis_prefix + "_profile_pos_target_pos");
    m_async_profile_vel_target_vel_id = velocity->get_async_output_id(axis_prefix + "_profile_vel_target_vel");
    if (m_async_profile_pos_target_pos_id == -1 || m_async_profile_vel_target_vel_id == -1)
        throw std::runtime_error("[axis descriptor][init_ex()] INGENIA axis " + num2str(m_axis_number) + " needs " +
                                 axis_prefix + "_profile_pos_target_pos and " + axis_prefix +
                                 "_profile_vel_target_vel");
}

void Axis_Descriptor::find_async_info()
{
    const std::string& axis_prefix = m_axes_manager_prefix_str_and_axis_prefix_str;
    const std::string info_prefix = axis_prefix + "_" + "info_";
    for (int id = 0; id < FM_MAX_ASYNC; ++id) {
        std::string label;
        try {
            label = m_framework->get_async_input_label_ex(id, false);
        } catch (const std::exception&) {
            break;
        }
        if (label.compare(0, info_prefix.size(), info_prefix) == 0) {
            m_async_info_vec.emplace_back(m_framework, label, m_axes_manager_prefix_str, m_axes_manager_cmd_channel_id,
                                          axis_prefix);
            log_inf("[axis descriptor][init_ex()] info async = " + label);
        }
    }
}

void Axis_Descriptor::find_async_cfg_data()
{
    const std::string& axis_prefix = m_axes_manager_prefix_str_and_axis_prefix_str;
    const std::string cfg_prefix = axis_prefix + "_" + "cfg_data_";
    for (int id = 0; id < FM_MAX_ASYNC; ++id) {
        std::string label;
        try {
            label = m_framework->get_async_output_label_ex(id, false);
        } catch (const std::exception&) {
            break;
        }
        if (label.compare(0, cfg_prefix.size(), cfg_prefix) == 0) {
            m_async_cfg_data_vec.emplace_back(m_framework, label, m_axes_manager_prefix_str,
                                              m_axes_manager_cmd_channel_id, axis_prefix);
            log_inf("[axis descriptor][init_ex()] cfg_data async = " + label);
        }
    }
}

void Axis_Descriptor::reinit_op_mode()
{
    if (!is_virtual()) {
        const int8_t code = m_axis_type == AXIS_YASKAWA ? 1 : (m_axis_type == AXIS_FESTO ? 6 : 0);
        m_framework->set_async_output_ex<signed char>(m_async_out_operation_mode_id, code);
    }
    m_op_mode_active = nullptr;
}

void Axis_Descriptor::reset_axis_params()
{
    for (auto& mode : m_op_modes)
        mode.second->clear_all_async_updated_flags();
}

void Axis_Descriptor::reset_axis_setpoints(bool change_pos, bool change_vel)
{
    const std::string& axis_prefix = m_axes_manager_prefix_str_and_axis_prefix_str;
    if (change_pos) {
        const int id = m_framework->get_async_input_id_ex(axis_prefix + "_profile_pos_target_pos");
        const int32_t value = m_framework->get_async_input_ex<int>(id);
        m_framework->set_async_output_ex<int>(m_async_profile_pos_target_pos_id, value + 1);
    }
    if (change_vel) {
        const int id = m_framework->get_async_input_id_ex(axis_prefix + "_profile_vel_target_vel");
        const int32_t value = m_framework->get_async_input_ex<int>(id);
        m_framework->set_async_output_ex<int>(m_async_profile_vel_target_vel_id, value + 1);
    }
    m_is_setpoint_reset_required = true;
}

void Axis_Descriptor::update_kinematic()
{
    if (m_actual_vel_raw_id == -1)
        m_actual_vel_raw = m_actual_pos_raw - m_actual_pos_raw_old;
}

void Axis_Descriptor::update_framework()
{
    if (!is_virtual()) {
        m_status_word.dby = m_framework->get_input_ex<unsigned short>(m_status_word_id, false);
        m_actual_pos_raw_old = m_actual_pos_raw;
        m_actual_pos_raw = m_framework->get_input_ex<int>(m_actual_pos_raw_id, false);
        if (m_actual_vel_raw_id != -1)
            m_actual_vel_raw = m_framework->get_input_ex<int>(m_actual_vel_raw_id, false);
        m_framework->set_output_ex<signed char>(m_axis_status_id, static_cast<signed char>(m_main_machine_state));
        m_framework->set_output_ex<unsigned short>(m_control_word_id, m_control_word.dby);
    }
    for (Async_Input& input : m_async_info_vec) {
        input.update_ex();
        if (!input.is_update_completed())
            break;
    }
    for (Async_Output& output : m_async_cfg_data_vec) {
        output.update_ex();
        if (!output.is_update_completed())
            break;
    }
    if (!m_words_reported || m_control_word.dby != m_control_word_old.dby ||
        m_status_word.dby != m_status_word_old.dby) {
        const uint16_t cw = m_control_word.dby;
        const uint16_t sw = m_status_word.dby;
        log_inf("[axis descriptor][debug tool] axis :: " + num2str(m_axis_number) + " cw :: " + hex_text(cw) +
                " sw :: " + hex_text(sw));
        log_inf("[axis descriptor][debug tool] status sod = " + num2str(bit(sw, 6)) + " qs = " + num2str(bit(sw, 5)) +
                " ve = " + num2str(bit(sw, 4)) + " f = " + num2str(bit(sw, 3)) + " oe = " + num2str(bit(sw, 2)) +
                " so = " + num2str(bit(sw, 1)) + " rtso = " + num2str(bit(sw, 0)));
        log_inf("[axis descriptor][debug tool] control fr = " + num2str(bit(cw, 7)) + " eo = " + num2str(bit(cw, 3)) +
                " qs = " + num2str(bit(cw, 2)) + " ev = " + num2str(bit(cw, 1)) + " so = " + num2str(bit(cw, 0)));
        m_control_word_old = m_control_word;
        m_status_word_old = m_status_word;
        m_words_reported = true;
    }
}

void Axis_Descriptor::update_ex()
{
    try {
        update_framework();
        if (m_op_mode_active != nullptr)
            m_op_mode_active->update_ex();
        update_kinematic();
    } catch (const std::exception& e) {
        log_err(e.what());
        log_inf("[axis descriptor][fault on update_ex] axis :: " + num2str(m_axis_number) +
                " fault exception with sw:" + hex_text(m_status_word.dby));
        if (m_main_machine_state == STATE_QUICK_STOP_ACTIVE)
            reset_axis_params();
        else
            go_to_fault_request();
    }
}

void Axis_Descriptor::print_sw_bit()
{
    static const char* const labels[16] = {"ready to switch on ",
                                           "switch on ",
                                           "operation enable ",
                                           "fault ",
                                           "voltage enabled ",
                                           "quick stop ",
                                           "switch on disabled ",
                                           "manufacter_specific_0 ",
                                           "warning ",
                                           "remote ",
                                           "target_reached ",
                                           "internal_limit_active ",
                                           "operation_mode_specific_1 ",
                                           "operation_mode_specific_2 ",
                                           "manufacturer_specific_1 ",
                                           "manufacturer_specific_2 "};
    static const int bits[16] = {0, 1, 2, 3, 4, 5, 6, 8, 7, 9, 10, 11, 12, 13, 14, 15};
    log_inf("Ax :: " + num2str(m_axis_number) + " STATUS WORD---------------------------------------");
    for (int i = 0; i < 16; ++i)
        log_inf(std::string(labels[i]) + num2str(bit(m_status_word.dby, bits[i])));
    log_inf(std::string(67, '-'));
    log_inf("whole :: " + num2str(m_status_word.dby));
}

void Axis_Descriptor::print_cw_bit()
{
    static const char* const labels[16] = {"switch_on ",
                                           "disable_voltage ",
                                           "quick_stop ",
                                           "enable_operation ",
                                           "operation_mode_specific_0 ",
                                           "operation_mode_specific_1 ",
                                           "operation_mode_specific_2 ",
                                           "reset_fault_rising_edge ",
                                           "halt ",
                                           "not_used_0 ",
                                           "not_used_1 ",
                                           "not_used_2 ",
                                           "not_used_3 ",
                                           "not_used_4 ",
                                           "not_used_5 ",
                                           "not_used_6 "};
    log_inf("Ax :: " + num2str(m_axis_number) + " CONTROL WORD---------------------------------------");
    for (int i = 0; i < 16; ++i)
        log_inf(std::string(labels[i]) + num2str(bit(m_control_word.dby, i)));
    log_inf(std::string(67, '-'));
    log_inf("whole :: " + num2str(m_control_word.dby));
}
