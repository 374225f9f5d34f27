// Axes_Manager_Interface: binding, status and the per-axis forwarders.

#include <algorithm>
#include <sstream>
#include <stdexcept>

#include "axes_manager_interface.h"
#include "festo_axis.h"
#include "framework_input.h"
#include "global_define.h"
#include "infranor_axis.h"
#include "ingenia_axis.h"
#include "schneider_axis.h"
#include "xelo_framework_shm_manager.h"
#include "xelo_log.h"
#include "yaskawa_axis.h"

namespace {
Axis* make_axis(int8_t type, int manager, int axis, Framework_Shared_Memory_Manager* fw, Framework_Cmd_Client* client)
{
    switch (type) {
    case AXIS_SCHNEIDER: return new Schneider_Axis(manager, axis, fw, client);
    case AXIS_INFRANOR: return new Infranor_Axis(manager, axis, fw, client);
    case AXIS_YASKAWA: return new Yaskawa_Axis(manager, axis, fw, client);
    case AXIS_FESTO: return new Festo_Axis(manager, axis, fw, client);
    case AXIS_INGENIA: return new Ingenia_Axis(manager, axis, fw, client);
    default: return new Axis(manager, axis, fw, client);
    }
}
}  // namespace

Axes_Manager_Interface::Axes_Manager_Interface(int id)
    : m_id(id), m_name(AXES_MANAGER_PREFIX + std::to_string(id)), m_fw_cmd_client(m_name), m_inputs_group(m_name + "_")
{
}

Axes_Manager_Interface::~Axes_Manager_Interface()
{
    for (Axis* axis : m_axes)
        delete axis;
}

std::string Axes_Manager_Interface::head(const char* method) const
{
    return std::string("[Axes_Manager_Interface][") + method + "] ";
}

void Axes_Manager_Interface::setup_ex(Framework_Shared_Memory_Manager* fw)
{
    log_inf("[Axes_Manager_Interface][setup_ex] :: " + m_name);
    m_inputs_group.setup_ex(fw);
    m_axes_number = m_inputs_group.get_group_input_ptr("axes_number");
    m_is_last_command_completed = m_inputs_group.get_group_input_ptr("is_last_command_completed");
    m_is_in_error = m_inputs_group.get_group_input_ptr("is_in_error");
    m_axes_manager_status = m_inputs_group.get_group_input_ptr("status");
    try {
        m_first_axis_in_error = m_inputs_group.get_group_input_ptr("first_axis_in_error");
    } catch (const std::runtime_error&) {
        m_first_axis_in_error = nullptr;  // optional: only the "last error is" line reads it
    }
    m_fw_cmd_client.setup_ex(fw);

    const int n = m_axes_number->get_value_ex<int8_t>();
    log_inf("[Axes_Manager_Interface][setup_ex] :: axes number = " + std::to_string(n));
    for (Axis* axis : m_axes)
        delete axis;
    m_axes.clear();
    for (int a = 0; a < n; ++a) {
        Framework_Input type_input(m_name + "_ax_" + std::to_string(a) + "_type");
        type_input.setup_ex(fw);
        Axis* axis = make_axis(type_input.get_value_ex<int8_t>(), m_id, a, fw, &m_fw_cmd_client);
        m_axes.push_back(axis);
    }
}

void Axes_Manager_Interface::acquire_control_ex()
{
    log_inf("[Axes_Manager_Interface][acquire_control_ex] :: acquiring control as client");
    if (!try_acquire_control_ex())
        log_war("[Axes_Manager_Interface][acquire_control_ex] :: the command channel has another client");
}

bool Axes_Manager_Interface::try_acquire_control_ex()
{
    return m_fw_cmd_client.try_acquire_ex();
}

void Axes_Manager_Interface::release_control_ex()
{
    log_inf("[Axes_Manager_Interface][release_control_ex] :: releasing control as client");
    m_fw_cmd_client.release_ex();
}

void Axes_Manager_Interface::refresh_ex()
{
    m_inputs_group.refresh_ex();
    const int n = axes_count_ex();
    for (int a = 0; a < n; ++a)
        m_axes[static_cast<size_t>(a)]->refresh_ex();
}

void Axes_Manager_Interface::set_command_timeout_ms(int ms)
{
    std::lock_guard<std::mutex> lock(m_command_mutex);
    m_cmd_timeout_ms = ms;
}

int Axes_Manager_Interface::axes_count_ex()
{
    if (m_axes_number == nullptr)
        return 0;  // not set up: no axes
    const int published = m_axes_number->get_value_ex<int8_t>();
    return std::max(0, std::min(published, static_cast<int>(m_axes.size())));
}

Axis& Axes_Manager_Interface::axis_ex(int axis, const char* method)
{
    const int n = axes_count_ex();
    if (axis < 0 || axis >= n)
        throw std::out_of_range(head(method) + "axis " + std::to_string(axis) + " out of range (" + std::to_string(n) +
                                " axes)");
    return *m_axes[static_cast<size_t>(axis)];
}

// ---- status ------------------------------------------------------------------------------

int Axes_Manager_Interface::get_axes_num_ex()
{
    if (m_axes_number == nullptr)
        throw std::runtime_error(head("get_axes_num_ex") + "not set up");
    return m_axes_number->get_value_ex<int8_t>();
}

bool Axes_Manager_Interface::get_is_in_error_ex()
{
    if (m_is_in_error == nullptr)
        throw std::runtime_error(head("get_is_in_error_ex") + "not set up");
    return m_is_in_error->get_value_ex<bool>();
}

bool Axes_Manager_Interface::get_is_in_warning_ex()
{
    const int n = axes_count_ex();
    for (int a = 0; a < n; ++a)
        if ((m_axes[static_cast<size_t>(a)]->get_status_word_ex() & 0x0080) != 0)
            return true;
    return false;
}

int Axes_Manager_Interface::get_axes_manager_status_ex()
{
    if (m_axes_manager_status == nullptr)
        throw std::runtime_error(head("get_axes_manager_status_ex") + "not set up");
    return m_axes_manager_status->get_value_ex<int8_t>();
}

int Axes_Manager_Interface::get_axis_status_ex(int axis)
{
    return axis_ex(axis, "get_axis_status_ex").get_axis_status();
}

std::vector<int> Axes_Manager_Interface::get_axes_status_ex()
{
    std::vector<int> states;
    const int n = axes_count_ex();
    for (int a = 0; a < n; ++a)
        states.push_back(m_axes[static_cast<size_t>(a)]->get_axis_status());
    return states;
}

double Axes_Manager_Interface::get_axis_actual_position_ex(int axis)
{
    return axis_ex(axis, "get_axis_actual_position_ex").get_actual_position_ex();
}

std::vector<double> Axes_Manager_Interface::get_axes_actual_position_ex()
{
    std::vector<double> positions;
    const int n = axes_count_ex();
    for (int a = 0; a < n; ++a)
        positions.push_back(m_axes[static_cast<size_t>(a)]->get_actual_position_ex());
    return positions;
}

double Axes_Manager_Interface::get_axis_actual_velocity_ex(int axis)
{
    return axis_ex(axis, "get_axis_actual_velocity_ex").get_actual_velocity_ex();
}

std::vector<double> Axes_Manager_Interface::get_axes_actual_velocity_ex()
{
    std::vector<double> velocities;
    const int n = axes_count_ex();
    for (int a = 0; a < n; ++a)
        velocities.push_back(m_axes[static_cast<size_t>(a)]->get_actual_velocity_ex());
    return velocities;
}

int Axes_Manager_Interface::get_axis_error_code_ex(int axis)
{
    return axis_ex(axis, "get_axis_error_code_ex").get_error_code();
}

std::string Axes_Manager_Interface::get_axis_error_code_as_hex_string_ex(int axis)
{
    const int code = axis_ex(axis, "get_axis_error_code_as_hex_string_ex").get_error_code();
    std::ostringstream out;
    out << "0x" << std::hex << static_cast<uint32_t>(code);
    return out.str();
}

std::string Axes_Manager_Interface::get_axis_error_string_ex(int axis)
{
    return axis_ex(axis, "get_axis_error_string_ex").get_error_string();
}

bool Axes_Manager_Interface::is_any_limit_switch_detected()
{
    const int n = axes_count_ex();
    for (int a = 0; a < n; ++a)
        if (m_axes[static_cast<size_t>(a)]->is_limit_switch_detected())
            return true;
    return false;
}

bool Axes_Manager_Interface::is_any_safety_active()
{
    const int n = axes_count_ex();
    for (int a = 0; a < n; ++a)
        if (m_axes[static_cast<size_t>(a)]->is_safety_active())
            return true;
    return false;
}

// ---- forwarders to one axis --------------------------------------------------------------

#define AXESIF_FORWARD(result, name, call)        \
    result Axes_Manager_Interface::name(int axis) \
    {                                             \
        return axis_ex(axis, #name).call();       \
    }

AXESIF_FORWARD(double, get_info_max_vel, get_info_max_vel)
AXESIF_FORWARD(double, get_info_max_acc, get_info_max_acc)
AXESIF_FORWARD(double, get_info_homing_vel, get_info_homing_vel)
AXESIF_FORWARD(double, get_info_homing_acc, get_info_homing_acc)
AXESIF_FORWARD(double, get_info_homing_switch_vel, get_info_homing_switch_vel)
AXESIF_FORWARD(int, get_info_homing_method, get_info_homing_method)
AXESIF_FORWARD(int, get_info_pos_resolution, get_info_pos_resolution)
AXESIF_FORWARD(int, get_info_vel_resolution, get_info_vel_resolution)
AXESIF_FORWARD(int, get_info_acc_resolution, get_info_acc_resolution)
AXESIF_FORWARD(int, get_info_user_unit, get_info_user_unit)
AXESIF_FORWARD(int, get_digital_output, get_digital_output)
AXESIF_FORWARD(int, get_info_rated_current, get_info_rated_current)
AXESIF_FORWARD(int, get_actual_current_std, get_actual_current_std)
AXESIF_FORWARD(int, get_actual_torque_std, get_actual_torque_std)
AXESIF_FORWARD(float, get_info_max_current, get_info_max_current)
AXESIF_FORWARD(bool, is_axis_positive_limit_switch_detected, is_positive_limit_switch_detected)
AXESIF_FORWARD(bool, is_axis_negative_limit_switch_detected, is_negative_limit_switch_detected)
AXESIF_FORWARD(std::string, get_axis_type_as_string, get_axis_type_as_string)

#undef AXESIF_FORWARD

void Axes_Manager_Interface::set_digital_output(int axis, int value)
{
    axis_ex(axis, "set_digital_output").set_digital_output(value);
}

void Axes_Manager_Interface::set_cfg_max_current(int axis, float value)
{
    axis_ex(axis, "set_cfg_max_current").set_cfg_max_current(value);
}
