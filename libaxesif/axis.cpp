// Axis: one axis of an axes manager seen from its client.

#include <cmath>
#include <cstdio>
#include <limits>
#include <sstream>
#include <stdexcept>

#include "axes_manager_interface.h"
#include "framework_input.h"
#include "framework_output.h"
#include "global_define.h"
#include "raw_units.h"
#include "xelo_framework_shm_manager.h"
#include "xelo_log.h"

namespace {
const std::string HEAD = "[Axes_Manager_Interface][Axis] :: ";

// Doubles as the default stream prints them (six significant digits).
std::string text_of(double value)
{
    std::ostringstream out;
    out << value;
    return out.str();
}

bool has_output_with_prefix(Framework_Shared_Memory_Manager* fw, const std::string& prefix)
{
    const int count = static_cast<int>(fw->get_output_total_number());
    for (int index = 0; index < count; ++index) {
        const std::string label =
            fw->get_output_label_ex(Framework_Shared_Memory_Manager::OUTPUT_ID_OFFSET + index, false);
        if (label.compare(0, prefix.size(), prefix) == 0)
            return true;
    }
    return false;
}
}  // namespace

int32_t user_to_raw_signed(double value, double raw_per_unit)
{
    const double raw = value * raw_per_unit;
    if (std::isnan(raw))
        return 0;
    if (raw <= static_cast<double>(std::numeric_limits<int32_t>::min()))
        return std::numeric_limits<int32_t>::min();
    if (raw >= static_cast<double>(std::numeric_limits<int32_t>::max()))
        return std::numeric_limits<int32_t>::max();
    return static_cast<int32_t>(raw);  // truncates toward zero
}

uint32_t user_to_raw_unsigned(double value, double raw_per_unit)
{
    const double raw = value * raw_per_unit;
    if (std::isnan(raw) || raw <= 0.0)
        return 0;
    if (raw >= static_cast<double>(std::numeric_limits<uint32_t>::max()))
        return std::numeric_limits<uint32_t>::max();
    return static_cast<uint32_t>(raw);
}

Axis::Axis(int axes_manager_id, int axis_id, Framework_Shared_Memory_Manager* fw_ptr,
           Framework_Cmd_Client* fw_cmd_client_pntr)
    : m_id(axis_id), m_axes_manager_id(axes_manager_id),
      m_name(AXES_MANAGER_PREFIX + std::to_string(axes_manager_id) + "_ax_" + std::to_string(axis_id)),
      m_inputs_group(m_name + "_"), m_outputs_group(m_name + "_iface_")
{
    log_inf("[Axes_Manager_Interface][Axis] :: calling setup for " + m_name);
    m_inputs_group.setup_ex(fw_ptr);
    m_actual_pos = m_inputs_group.get_group_input_ptr("actual_pos");
    m_actual_vel = m_inputs_group.get_group_input_ptr("actual_vel");
    m_status_word = m_inputs_group.get_group_input_ptr("status_word");
    m_position_raw_per_unit = m_inputs_group.get_group_input_ptr("pos_raw_per_unit");
    m_velocity_raw_per_unit = m_inputs_group.get_group_input_ptr("vel_raw_per_unit");
    m_acceleration_raw_per_unit = m_inputs_group.get_group_input_ptr("acc_raw_per_unit");
    m_error_code = m_inputs_group.get_group_input_ptr("error_code");
    m_axis_status = m_inputs_group.get_group_input_ptr("status");

    // An axis whose drive needs no output of ours has no output group.
    m_has_outputs = has_output_with_prefix(fw_ptr, m_outputs_group.prefix);
    if (m_has_outputs) {
        m_outputs_group.setup_ex(fw_ptr);
        if (!m_outputs_group.try_acquire_control_ex())
            log_war("[Axes_Manager_Interface][Axis][" + std::to_string(m_id) +
                    "] :: the axis outputs are owned by another application");
    }

    const std::string tag = "[Axes_Manager_Interface][Axis][" + std::to_string(m_id) + "] :: ";
    log_inf(tag + "position raw per unit is = " + text_of(m_position_raw_per_unit->get_value_ex<double>()));
    log_inf(tag + "velocity raw per unit is = " + text_of(m_velocity_raw_per_unit->get_value_ex<double>()));
    log_inf(tag + "acceleration raw per unit is = " + text_of(m_acceleration_raw_per_unit->get_value_ex<double>()));
    m_fw_cmd_client_pntr = fw_cmd_client_pntr;
}

Axis::~Axis() = default;

void Axis::refresh_ex()
{
    m_inputs_group.refresh_ex();
    if (m_has_outputs)
        m_outputs_group.refresh_ex();
}

double Axis::get_actual_position_ex()
{
    return static_cast<double>(m_actual_pos->get_value_ex<int32_t>()) / m_position_raw_per_unit->get_value_ex<double>();
}

double Axis::get_actual_velocity_ex()
{
    return static_cast<double>(m_actual_vel->get_value_ex<int32_t>()) / m_velocity_raw_per_unit->get_value_ex<double>();
}

int Axis::get_axis_status()
{
    return m_axis_status->get_value_ex<int8_t>();
}

uint16_t Axis::get_status_word_ex()
{
    return m_status_word->get_value_ex<uint16_t>();
}

std::string Axis::datum_label(const std::string& suffix) const
{
    return "ax_" + std::to_string(m_id) + suffix;
}

void Axis::set_op_mode(const std::string& label)
{
    m_fw_cmd_client_pntr->set_cmd_data_ex<int8_t>(datum_label("_op_mode"), static_cast<int8_t>(op_mode_map.at(label)));
}

void Axis::set_profile_pos_parameters(const Axes_Manager_Target_Position& target, bool is_relative)
{
    log_inf(HEAD + "set_profile_pos_parameters for axis_" + std::to_string(m_id));
    log_inf(HEAD + "target_pos = " + text_of(target.position) + " vel = " + text_of(target.velocity) +
            " acc = " + text_of(target.acceleration));
    const double pos_factor = m_position_raw_per_unit->get_value_ex<double>();
    const double vel_factor = m_velocity_raw_per_unit->get_value_ex<double>();
    const double acc_factor = m_acceleration_raw_per_unit->get_value_ex<double>();
    set_op_mode("profile_pos");
    Framework_Cmd_Client& c = *m_fw_cmd_client_pntr;
    const uint32_t acc = user_to_raw_unsigned(target.acceleration, acc_factor);
    c.set_cmd_data_ex<int32_t>(datum_label("_profile_pos_target_pos"), user_to_raw_signed(target.position, pos_factor));
    c.set_cmd_data_ex<int8_t>(datum_label("_profile_pos_is_relative_move"), is_relative ? 1 : 0);
    c.set_cmd_data_ex<int8_t>(datum_label("_profile_pos_change_set_immediately"), 1);
    c.set_cmd_data_ex<uint32_t>(datum_label("_profile_pos_vel"), user_to_raw_unsigned(target.velocity, vel_factor));
    c.set_cmd_data_ex<uint32_t>(datum_label("_profile_pos_acc"), acc);
    c.set_cmd_data_ex<uint32_t>(datum_label("_profile_pos_dec"), acc);
}

void Axis::set_profile_vel_parameters(const Axes_Manager_Target_Velocity& target)
{
    log_inf(HEAD + "set_profile_vel_parameters for axis_" + std::to_string(m_id));
    log_inf(HEAD + "vel = " + text_of(target.velocity) + " acc = " + text_of(target.acceleration));
    const double vel_factor = m_velocity_raw_per_unit->get_value_ex<double>();
    const double acc_factor = m_acceleration_raw_per_unit->get_value_ex<double>();
    set_op_mode("profile_vel");
    Framework_Cmd_Client& c = *m_fw_cmd_client_pntr;
    const uint32_t acc = user_to_raw_unsigned(target.acceleration, acc_factor);
    c.set_cmd_data_ex<int32_t>(datum_label("_profile_vel_target_vel"), user_to_raw_signed(target.velocity, vel_factor));
    c.set_cmd_data_ex<uint32_t>(datum_label("_profile_vel_target_acc"), acc);
    c.set_cmd_data_ex<uint32_t>(datum_label("_profile_vel_target_dec"), acc);
}

void Axis::set_homing_parameters(const Axes_Manager_Homing& homing)
{
    log_inf(HEAD + "set_homing_parameters for axis_" + std::to_string(m_id));
    log_inf(HEAD + "method = " + std::to_string(static_cast<int>(homing.method)) +
            " switch_vel = " + text_of(homing.switch_search_velocity));
    log_inf(HEAD + "zero_vel = " + text_of(homing.zero_search_velocity) + " acc = " + text_of(homing.acceleration));
    const double vel_factor = m_velocity_raw_per_unit->get_value_ex<double>();
    const double acc_factor = m_acceleration_raw_per_unit->get_value_ex<double>();
    set_op_mode("homing");
    Framework_Cmd_Client& c = *m_fw_cmd_client_pntr;
    const uint32_t acc = user_to_raw_unsigned(homing.acceleration, acc_factor);
    c.set_cmd_data_ex<int8_t>(datum_label("_homing_method"), homing.method);
    c.set_cmd_data_ex<uint32_t>(datum_label("_homing_switch_vel"),
                                user_to_raw_unsigned(homing.switch_search_velocity, vel_factor));
    c.set_cmd_data_ex<uint32_t>(datum_label("_homing_zero_vel"),
                                user_to_raw_unsigned(homing.zero_search_velocity, vel_factor));
    c.set_cmd_data_ex<uint32_t>(datum_label("_homing_acc"), acc);
    c.set_cmd_data_ex<uint32_t>(datum_label("_homing_dec"), acc);
}

void Axis::set_axis_interpolated_mode()
{
    log_inf(HEAD + "set_interpolated_mode_for_axis_" + std::to_string(m_id));
    set_op_mode("interpolated");
}

void Axis::set_axis_next_interp_position(double position)
{
    if (m_iprec1 == nullptr)
        throw std::runtime_error(
            "[Axis][set_axis_next_interp_position] set_axis_next_interp_position not supported "
            "for this axis type (" +
            m_name + ")");
    const int32_t value = user_to_raw_signed(position, 1.0);
    std::printf("Posizione di riferimento passata alla slitta: %d\n", value);
    std::fflush(stdout);
    m_iprec1->set_value_ex<int32_t>(value);
}

void Axis::not_supported(const char* name)
{
    log_inf(std::string("[Axis][") + name + "] " + name + " not supported for this axis type");
}

int Axis::get_error_code()
{
    return m_error_code->get_value_ex<uint16_t>();
}

std::string Axis::get_error_string()
{
    not_supported("get_error_string");
    return "";
}

double Axis::get_info_max_vel()
{
    not_supported("get_info_max_vel");
    return 0.0;
}

double Axis::get_info_max_acc()
{
    not_supported("get_info_max_acc");
    return 0.0;
}

int Axis::get_info_homing_method()
{
    not_supported("get_info_homing_method");
    return 0;
}

double Axis::get_info_homing_vel()
{
    not_supported("get_info_homing_vel");
    return 0.0;
}

double Axis::get_info_homing_acc()
{
    not_supported("get_info_homing_acc");
    return 0.0;
}

double Axis::get_info_homing_switch_vel()
{
    not_supported("get_info_homing_switch_vel");
    return 0.0;
}

std::string Axis::get_axis_type_as_string()
{
    not_supported("get_axis_type_as_string");
    return "";
}

int Axis::get_info_pos_resolution()
{
    not_supported("get_info_pos_resolution");
    return 0;
}

int Axis::get_info_vel_resolution()
{
    not_supported("get_info_vel_resolution");
    return 0;
}

int Axis::get_info_acc_resolution()
{
    not_supported("get_info_acc_resolution");
    return 0;
}

int Axis::get_info_user_unit()
{
    not_supported("get_info_user_unit");
    return 0;
}

int Axis::get_digital_output()
{
    not_supported("get_digital_output");
    return 0;
}

int Axis::get_info_rated_current()
{
    not_supported("get_info_rated_current");
    return 0;
}

float Axis::get_info_max_current()
{
    not_supported("get_info_max_current");
    return 0.0f;
}

void Axis::set_digital_output(int /*value*/)
{
    not_supported("set_digital_output");
}

void Axis::set_cfg_max_current(float /*value*/)
{
    not_supported("set_cfg_max_current");
}

bool Axis::is_limit_switch_detected()
{
    return (m_status_word->get_value_ex<uint16_t>() & 0x0800) != 0;
}

bool Axis::is_safety_active()
{
    not_supported("is_safety_active");
    return false;
}

bool Axis::is_positive_limit_switch_detected()
{
    not_supported("is_positive_limit_switch_detected");
    return false;
}

bool Axis::is_negative_limit_switch_detected()
{
    not_supported("is_negative_limit_switch_detected");
    return false;
}

int Axis::get_actual_current_std()
{
    not_supported("get_actual_current_std");
    return 0;
}

int Axis::get_actual_torque_std()
{
    not_supported("get_actual_torque_std");
    return 0;
}
