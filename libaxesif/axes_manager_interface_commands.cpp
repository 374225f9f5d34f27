// Axes_Manager_Interface: the command protocol and the motion requests.

#include <stdexcept>

#include "axes_manager_interface.h"
#include "framework_input.h"
#include "global_define.h"
#include "xelo_log.h"

namespace {
constexpr int UNTAKEN_ANSWER_WAIT_MS = 2000;

bool ends_with_answer(int code)
{
    return code == cmd_string_to_code_map.at("reset") || code == cmd_string_to_code_map.at("quick_stop") ||
           code == cmd_string_to_code_map.at("detorque") || code == cmd_string_to_code_map.at("get_info") ||
           code == cmd_string_to_code_map.at("cfg_data");
}
}  // namespace

// Called with m_command_mutex held.
void Axes_Manager_Interface::send_command_locked(int code)
{
    try {
        take_untaken_answer_locked();
        m_fw_cmd_client.clear_command_channel_ex();
        m_fw_cmd_client.send_command_ex(static_cast<int8_t>(code), m_cmd_timeout_ms);
    } catch (const std::exception& e) {
        log_err(e.what());
        log_inf("Error with command " + cmd_code_to_string_map.at(code));
        // The command ends here: the previous one's completion must not answer for it.
        m_command_machine_state = STATE_SEND_FAILED;
        m_answer_outstanding = false;
        m_last_send_error = e.what();
        return;
    }
    m_last_send_error.clear();
    m_last_cmd_id = code;
    m_command_machine_state = STATE_WAIT_ANSWER;
    m_answer_outstanding = true;
}

// The manager answers a command before it takes the next one. When nobody
// took the last command's answer, it can still be on its way: clearing the
// channel before it came would let it answer the next command. It is waited
// for and dropped; a manager held up by a stalled framework cycle answers
// late, so the wait is longer than the send time-out.
void Axes_Manager_Interface::take_untaken_answer_locked()
{
    if (!m_answer_outstanding || m_cmd_timeout_ms <= 0)
        return;
    m_answer_outstanding = false;
    if (m_fw_cmd_client.wait_answer_ex(UNTAKEN_ANSWER_WAIT_MS))
        log_inf("[Axes_Manager_Interface][" + std::to_string(m_id) + "][send_command] :: answer of " +
                cmd_code_to_string_map.at(m_last_cmd_id) + " taken before the next command");
    else
        log_war("[Axes_Manager_Interface][" + std::to_string(m_id) + "][send_command] :: no answer to " +
                cmd_code_to_string_map.at(m_last_cmd_id) + " within " + std::to_string(UNTAKEN_ANSWER_WAIT_MS) + " ms");
}

void Axes_Manager_Interface::send_named_command(const char* name)
{
    const int code = cmd_string_to_code_map.at(name);
    std::lock_guard<std::mutex> lock(m_command_mutex);
    send_command_locked(code);
}

void Axes_Manager_Interface::reset_ex()
{
    send_named_command("reset");
}

void Axes_Manager_Interface::perform_quickstop_for_all_axes_ex()
{
    send_named_command("quick_stop");
}

void Axes_Manager_Interface::perform_detorque_for_all_axes_ex()
{
    send_named_command("detorque");
}

void Axes_Manager_Interface::refresh_info()
{
    send_named_command("get_info");
}

void Axes_Manager_Interface::update_cfg()
{
    send_named_command("cfg_data");
}

std::string Axes_Manager_Interface::get_last_send_error()
{
    std::lock_guard<std::mutex> lock(m_command_mutex);
    return m_last_send_error;
}

template <typename Record>
void Axes_Manager_Interface::check_entries_ex(const std::vector<Record>& records, const char* method)
{
    const int n = axes_count_ex();
    if (records.size() < static_cast<size_t>(n))
        throw std::out_of_range(head(method) + std::to_string(records.size()) + " entries for " + std::to_string(n) +
                                " axes");
}

// ---- motion requests ---------------------------------------------------------------------

void Axes_Manager_Interface::move_axis_to_absolute_target_position_ex(int axis,
                                                                      const Axes_Manager_Target_Position& target)
{
    std::lock_guard<std::mutex> lock(m_command_mutex);
    axis_ex(axis, "move_axis_to_absolute_target_position_ex").set_profile_pos_parameters(target, false);
    send_command_locked(cmd_string_to_code_map.at("start_procedure"));
}

void Axes_Manager_Interface::move_axis_to_relative_target_position_ex(int axis,
                                                                      const Axes_Manager_Target_Position& target)
{
    std::lock_guard<std::mutex> lock(m_command_mutex);
    axis_ex(axis, "move_axis_to_relative_target_position_ex").set_profile_pos_parameters(target, true);
    send_command_locked(cmd_string_to_code_map.at("start_procedure"));
}

void Axes_Manager_Interface::move_axes_to_absolute_target_position_ex(
    const std::vector<Axes_Manager_Target_Position>& targets)
{
    std::lock_guard<std::mutex> lock(m_command_mutex);
    check_entries_ex(targets, "move_axes_to_absolute_target_position_ex");
    const int n = axes_count_ex();
    for (int a = 0; a < n; ++a)
        m_axes[static_cast<size_t>(a)]->set_profile_pos_parameters(targets[static_cast<size_t>(a)], false);
    send_command_locked(cmd_string_to_code_map.at("start_procedure"));
}

void Axes_Manager_Interface::move_axes_to_relative_target_position_ex(
    const std::vector<Axes_Manager_Target_Position>& targets)
{
    std::lock_guard<std::mutex> lock(m_command_mutex);
    check_entries_ex(targets, "move_axes_to_relative_target_position_ex");
    const int n = axes_count_ex();
    for (int a = 0; a < n; ++a)
        m_axes[static_cast<size_t>(a)]->set_profile_pos_parameters(targets[static_cast<size_t>(a)], true);
    send_command_locked(cmd_string_to_code_map.at("start_procedure"));
}

void Axes_Manager_Interface::move_axis_to_target_velocity_ex(int axis, const Axes_Manager_Target_Velocity& target)
{
    std::lock_guard<std::mutex> lock(m_command_mutex);
    axis_ex(axis, "move_axis_to_target_velocity_ex").set_profile_vel_parameters(target);
    send_command_locked(cmd_string_to_code_map.at("start_procedure"));
}

void Axes_Manager_Interface::move_axes_to_target_velocity_ex(const std::vector<Axes_Manager_Target_Velocity>& targets)
{
    std::lock_guard<std::mutex> lock(m_command_mutex);
    check_entries_ex(targets, "move_axes_to_target_velocity_ex");
    const int n = axes_count_ex();
    for (int a = 0; a < n; ++a)
        m_axes[static_cast<size_t>(a)]->set_profile_vel_parameters(targets[static_cast<size_t>(a)]);
    send_command_locked(cmd_string_to_code_map.at("start_procedure"));
}

void Axes_Manager_Interface::do_axis_homing_ex(int axis, const Axes_Manager_Homing& homing)
{
    std::lock_guard<std::mutex> lock(m_command_mutex);
    axis_ex(axis, "do_axis_homing_ex").set_homing_parameters(homing);
    send_command_locked(cmd_string_to_code_map.at("start_procedure"));
}

void Axes_Manager_Interface::do_axes_homing_ex(const std::vector<Axes_Manager_Homing>& homings)
{
    std::lock_guard<std::mutex> lock(m_command_mutex);
    check_entries_ex(homings, "do_axes_homing_ex");
    const int n = axes_count_ex();
    for (int a = 0; a < n; ++a)
        m_axes[static_cast<size_t>(a)]->set_homing_parameters(homings[static_cast<size_t>(a)]);
    send_command_locked(cmd_string_to_code_map.at("start_procedure"));
}

void Axes_Manager_Interface::set_axes_interpolated_mode()
{
    std::lock_guard<std::mutex> lock(m_command_mutex);
    const int n = axes_count_ex();
    for (int a = 0; a < n; ++a)
        m_axes[static_cast<size_t>(a)]->set_axis_interpolated_mode();
    send_command_locked(cmd_string_to_code_map.at("start_procedure"));
}

void Axes_Manager_Interface::set_axes_next_interp_position(const std::vector<double>& positions)
{
    check_entries_ex(positions, "set_axes_next_interp_position");
    const int n = axes_count_ex();
    for (int a = 0; a < n; ++a)
        m_axes[static_cast<size_t>(a)]->set_axis_next_interp_position(positions[static_cast<size_t>(a)]);
}

// ---- completion --------------------------------------------------------------------------

bool Axes_Manager_Interface::is_last_command_completed()
{
    std::lock_guard<std::mutex> lock(m_command_mutex);
    const std::string tag = "[Axes_Manager_Interface][" + std::to_string(m_id) + "][is_last_command_completed] :: ";
    switch (m_command_machine_state) {
    case STATE_WAIT_ANSWER: {
        log_inf(tag + "STATE_WAIT_ANSWER");
        if (!m_fw_cmd_client.wait_answer_ex(DEFAULT_WAIT_ANSWER_TIMEOUT_MS))
            return false;
        m_answer_outstanding = false;
        log_inf(tag + "STATE_WAIT_ANSWER, answer received");
        if (m_fw_cmd_client.get_last_received_answer_ex() != ANSWER_DONE) {
            log_inf(tag + "STATE_WAIT_ANSWER, negative answer, go to STATE_WAIT_IS_IN_ERROR");
            m_command_machine_state = STATE_WAIT_IS_IN_ERROR;
            return false;
        }
        log_inf(tag + "STATE_WAIT_ANSWER, positive answer");
        if (ends_with_answer(m_last_cmd_id)) {
            log_inf(tag + "STATE_WAIT_ANSWER, return true");
            return true;
        }
        log_inf(tag + "STATE_WAIT_ANSWER, going to STATE_WAIT_LAST_COMMAND_COMPLETED");
        m_command_machine_state = STATE_WAIT_LAST_COMMAND_COMPLETED;
        return false;
    }
    case STATE_WAIT_LAST_COMMAND_COMPLETED: {
        const bool completed = m_is_last_command_completed->get_value_ex<bool>();
        log_inf(tag + "STATE_WAIT_LAST_COMMAND_COMPLETED, m_is_last_command_completed = " + (completed ? "1" : "0"));
        return completed;
    }
    case STATE_WAIT_IS_IN_ERROR: {
        if (!m_is_in_error->get_value_ex<bool>())
            return false;
        log_inf(tag + "STATE_WAIT_IS_IN_ERROR, error reached");
        // The axis the manager names, when it is one of ours; the line is informative only.
        int axis = m_first_axis_in_error != nullptr ? m_first_axis_in_error->get_value_ex<int8_t>() : 0;
        if (axis < 0 || axis >= axes_count_ex())
            axis = 0;
        if (axes_count_ex() > 0) {
            try {
                log_inf(tag + "last error is " + std::to_string(m_axes[static_cast<size_t>(axis)]->get_error_code()));
            } catch (const std::exception& e) {
                log_err(tag + "last error unknown :: " + e.what());
            }
        }
        return true;
    }
    case STATE_SEND_FAILED:
        log_inf(tag + "STATE_SEND_FAILED, the command was not sent");
        m_command_machine_state = STATE_SEND_FAILED_REPORTED;
        return true;
    default: return false;
    }
}

bool Axes_Manager_Interface::is_last_command_acknowledged()
{
    std::lock_guard<std::mutex> lock(m_command_mutex);
    return m_command_machine_state == STATE_WAIT_LAST_COMMAND_COMPLETED ||
           m_command_machine_state == STATE_WAIT_IS_IN_ERROR;
}

bool Axes_Manager_Interface::is_last_command_refused()
{
    std::lock_guard<std::mutex> lock(m_command_mutex);
    return m_command_machine_state == STATE_WAIT_IS_IN_ERROR;
}
