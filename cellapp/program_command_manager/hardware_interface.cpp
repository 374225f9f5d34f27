#include "hardware_interface.h"

#include <mutex>
#include <stdexcept>

#include "axes_manager_interface.h"
#include "cell_status.h"
#include "xelo_log.h"
#include "xelo_thread_mtx_wrapper.h"

Hardware_Interface::Hardware_Interface(Axes_Manager_Interface* am, RtdeInterface* rtde) : am_iface(am), rtde_iface(rtde)
{
}

Hardware_Interface::~Hardware_Interface()
{
    if (m_sem_initialised)
        sem_destroy(&sem);
    if (m_mutex_initialised)
        pthread_mutex_destroy(&mutex);
}

void Hardware_Interface::init_mutex()
{
    log_inf("[Hardware_Interface][init_mutex] : mutex initialization");
    init_pthread_mutex_ex(&mutex, true, true, true);
    m_mutex_initialised = true;
}

void Hardware_Interface::init_semaphore()
{
    log_inf("[Hardware_Interface][init_semaphore] : semaphore initialization");
    init_sem_ex(&sem, 0, 0, "semaphore1");
    m_sem_initialised = true;
}

void Hardware_Interface::set_parameters(const Program_Commands_Params& params)
{
    m_cmd_axis_id = params.axis_id;
    m_cmd_position = params.position;
    m_cmd_velocity = params.velocity;
    m_cmd_acceleration = params.acceleration;
    m_current_cmd_id = static_cast<Program_Commands_Id>(params.cmd_id);
    m_cmd_homing_method = params.homing_method;
    m_cmd_homing_zero_search_velocity = params.homing_zero_search_velocity;
    m_cmd_homing_acceleration = params.homing_acceleration;
    m_cmd_homing_switch_search_velocity = params.homing_switch_search_velocity;
}

Program_Commands_Params Hardware_Interface::get_parameters() const
{
    Program_Commands_Params params;
    params.axis_id = m_cmd_axis_id;
    params.position = m_cmd_position;
    params.velocity = m_cmd_velocity;
    params.acceleration = m_cmd_acceleration;
    params.cmd_id = m_current_cmd_id;
    params.homing_method = m_cmd_homing_method;
    params.homing_zero_search_velocity = m_cmd_homing_zero_search_velocity;
    params.homing_acceleration = m_cmd_homing_acceleration;
    params.homing_switch_search_velocity = m_cmd_homing_switch_search_velocity;
    return params;
}

Robot_Program_Status Hardware_Interface::get_robot_program_status()
{
    return rtde_iface->get_robot_program_status();
}

bool Hardware_Interface::is_safeguard_active()
{
    return rtde_iface->is_safeguard_active();
}

bool Hardware_Interface::is_program_running()
{
    return rtde_iface->is_program_running();
}

bool Hardware_Interface::is_last_command_completed()
{
    std::lock_guard<std::mutex> lock(axes_interface_mutex());
    return am_iface->is_last_command_completed();
}

bool Hardware_Interface::is_last_command_acknowledged()
{
    std::lock_guard<std::mutex> lock(axes_interface_mutex());
    return am_iface->is_last_command_acknowledged();
}

bool Hardware_Interface::is_in_error()
{
    std::lock_guard<std::mutex> lock(axes_interface_mutex());
    return am_iface->get_is_in_error_ex();
}

bool Hardware_Interface::is_in_warning()
{
    std::lock_guard<std::mutex> lock(axes_interface_mutex());
    return am_iface->get_is_in_warning_ex();
}

bool Hardware_Interface::is_limit_switch_active()
{
    std::lock_guard<std::mutex> lock(axes_interface_mutex());
    return am_iface->is_any_limit_switch_detected();
}

bool Hardware_Interface::is_safety_active()
{
    std::lock_guard<std::mutex> lock(axes_interface_mutex());
    return am_iface->is_any_safety_active();
}

void Hardware_Interface::reset_axes()
{
    std::lock_guard<std::mutex> lock(axes_interface_mutex());
    am_iface->reset_ex();
}

void Hardware_Interface::send_quickstop_signal()
{
    std::lock_guard<std::mutex> lock(axes_interface_mutex());
    am_iface->perform_quickstop_for_all_axes_ex();
}

void Hardware_Interface::detorque_axes()
{
    std::lock_guard<std::mutex> lock(axes_interface_mutex());
    am_iface->perform_detorque_for_all_axes_ex();
}

void Hardware_Interface::move_to_target_position()
{
    std::lock_guard<std::mutex> lock(axes_interface_mutex());
    am_iface->move_axis_to_absolute_target_position_ex(m_cmd_axis_id,
                                                       {m_cmd_position, m_cmd_velocity, m_cmd_acceleration});
}

void Hardware_Interface::move_to_target_velocity()
{
    std::lock_guard<std::mutex> lock(axes_interface_mutex());
    am_iface->move_axis_to_target_velocity_ex(m_cmd_axis_id, {m_cmd_velocity, m_cmd_acceleration});
}

void Hardware_Interface::do_homing()
{
    std::lock_guard<std::mutex> lock(axes_interface_mutex());
    Axes_Manager_Homing homing{};
    homing.method = static_cast<int8_t>(m_cmd_homing_method);
    homing.zero_search_velocity = m_cmd_homing_zero_search_velocity;
    homing.switch_search_velocity = m_cmd_homing_switch_search_velocity;
    homing.acceleration = m_cmd_homing_acceleration;
    am_iface->do_axis_homing_ex(m_cmd_axis_id, homing);
}
