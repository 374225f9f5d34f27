#include "program_states.h"

#include "xelo_log.h"

State_Stopped::State_Stopped(Hardware_Interface* hw) : State(STOPPED, "stopped", hw)
{
    remove_transition_from_any_to_stopped_state();
    remove_transition_from_any_to_quickstop_state();
    remove_transition_from_any_to_fault_state();
    add_transition_to_next_state(
        {[this] { return is_transition_to_restore_active(); }, RESTORE, "from stopped to restore"});
}

bool State_Stopped::is_transition_to_restore_active()
{
    return m_hw_iface_ptr->get_robot_program_status() == ROBOT_PLAYING && is_command_pending();
}

void State_Stopped::entering()
{
    if (is_transition_from_any_to_stopped_active())
        m_hw_iface_ptr->detorque_axes();
    m_hw_iface_ptr->update_current_cmd_id(NULL_PROGRAM_CMD);
    m_hw_iface_ptr->update_previous_cmd_id(NULL_PROGRAM_CMD);
}

State_Restore::State_Restore(Hardware_Interface* hw) : State(RESTORE, "restore", hw)
{
    remove_transition_from_any_to_stopped_state();
    remove_transition_from_any_to_quickstop_state();
    remove_transition_from_any_to_fault_state();
    add_transition_to_next_state(
        {[this] { return is_transition_to_execute_active(); }, EXECUTE, "from restore to execute"});
    add_transition_to_next_state({[this] { return is_transition_to_fault_active(); }, FAULT, "from restore to fault"});
}

bool State_Restore::is_transition_to_execute_active()
{
    if (m_hw_iface_ptr->is_in_error())
        return false;
    if (m_reset_done)
        return true;
    return m_hw_iface_ptr->is_last_command_completed();
}

// The completion is reported once: when it comes between the execute check
// and this one, a reset without error is kept for the next execute check,
// never answered by another reset.
bool State_Restore::is_transition_to_fault_active()
{
    if (!m_hw_iface_ptr->is_last_command_completed())
        return false;
    const bool in_error = m_hw_iface_ptr->is_in_error();
    if ((in_error || m_hw_iface_ptr->is_safety_active()) && n_attempts > 3)
        return true;
    if (!in_error) {
        m_reset_done = true;
        return false;
    }
    entering();
    return false;
}

void State_Restore::entering()
{
    m_reset_done = false;
    log_inf("[State_Restore][IN] : n_attempts = " + std::to_string(n_attempts));
    ++n_attempts;
    m_hw_iface_ptr->reset_axes();
}

void State_Restore::exiting()
{
    log_inf("[State_Restore][OUT] : n_attempts = " + std::to_string(n_attempts));
    n_attempts = 0;
}

State_Waiting::State_Waiting(Hardware_Interface* hw) : State(WAITING, "waiting", hw)
{
    add_transition_to_next_state({[this] { return is_command_pending(); }, EXECUTE, "from waiting to execute"});
    add_transition_to_next_state({[this] { return is_pausing_or_paused(); }, PAUSED, "from waiting to paused"});
}

State_Execute::State_Execute(Hardware_Interface* hw) : State(EXECUTE, "execute", hw)
{
    remove_transition_from_any_to_quickstop_state();
    add_transition_to_next_state(
        {[this] { return is_transition_to_quickstop_active(); }, QUICKSTOP, "from execute to quickstop"});
    add_transition_to_next_state(
        {[this] { return m_hw_iface_ptr->is_last_command_completed(); }, WAITING, "from execute to waiting"});
    add_transition_to_next_state({[this] { return is_pausing_or_paused(); }, PAUSED, "from execute to paused"});
}

bool State_Execute::is_transition_to_quickstop_active()
{
    if (is_transition_from_any_to_quickstop_active())
        return true;
    return m_hw_iface_ptr->is_last_command_completed() && m_hw_iface_ptr->is_limit_switch_active();
}

void State_Execute::entering()
{
    switch (m_hw_iface_ptr->get_current_command_id()) {
    case MOVE_TO_POSITION: m_hw_iface_ptr->move_to_target_position(); break;
    case MOVE_TO_VELOCITY: m_hw_iface_ptr->move_to_target_velocity(); break;
    case PRG_DO_HOMING: m_hw_iface_ptr->do_homing(); break;
    default: break;
    }
}

void State_Execute::exiting()
{
    if (m_hw_iface_ptr->is_last_command_completed()) {
        m_hw_iface_ptr->update_previous_cmd_id(m_hw_iface_ptr->get_current_command_id());
        m_hw_iface_ptr->update_current_cmd_id(NULL_PROGRAM_CMD);
    }
}

State_Paused::State_Paused(Hardware_Interface* hw) : State(PAUSED, "paused", hw)
{
    remove_transition_from_any_to_fault_state();
    add_transition_to_next_state(
        {[this] { return m_hw_iface_ptr->get_robot_program_status() == ROBOT_PLAYING && !is_command_pending(); },
         WAITING, "from paused to waiting"});
    add_transition_to_next_state(
        {[this] { return m_hw_iface_ptr->get_robot_program_status() == ROBOT_PLAYING && is_command_pending(); },
         EXECUTE, "from paused to execute"});
    add_transition_to_next_state({[this] {
                                      return (m_hw_iface_ptr->is_in_error() || m_hw_iface_ptr->is_safety_active()) &&
                                             !m_hw_iface_ptr->is_safeguard_active();
                                  },
                                  FAULT, "from paused to fault"});
    add_transition_to_next_state(
        {[this] { return m_hw_iface_ptr->is_safety_active() && m_hw_iface_ptr->is_safeguard_active(); }, SAFEGUARD,
         "from paused to safeguard"});
}

void State_Paused::entering()
{
    m_hw_iface_ptr->send_quickstop_signal();
}

void State_Paused::exiting()
{
    if (!is_command_pending() && m_hw_iface_ptr->get_previous_command_id() == MOVE_TO_VELOCITY)
        m_hw_iface_ptr->update_current_cmd_id(MOVE_TO_VELOCITY);
}

State_Fault::State_Fault(Hardware_Interface* hw) : State(FAULT, "fault", hw)
{
    remove_transition_from_any_to_stopped_state();
    remove_transition_from_any_to_quickstop_state();
    remove_transition_from_any_to_fault_state();
    add_transition_to_next_state(
        {[this] { return m_hw_iface_ptr->is_program_state_request_acknowledged() || is_stopping_or_stopped(); },
         STOPPED, "from fault to stopped"});
}

void State_Fault::entering()
{
    log_inf("[State_Fault][entering] : Fault detected!");
    m_hw_iface_ptr->set_program_state_request(false);
}

State_Quickstop::State_Quickstop(Hardware_Interface* hw) : State(QUICKSTOP, "quickstop", hw)
{
    remove_transition_from_any_to_stopped_state();
    remove_transition_from_any_to_quickstop_state();
    remove_transition_from_any_to_fault_state();
    add_transition_to_next_state(
        {[this] { return is_transition_to_stopped_active(); }, STOPPED, "from quickstop to stopped"});
    add_transition_to_next_state({[this] {
                                      return m_hw_iface_ptr->is_program_state_request_acknowledged() &&
                                             m_hw_iface_ptr->get_robot_program_status() == ROBOT_PLAYING &&
                                             is_command_pending();
                                  },
                                  RESTORE, "from quickstop to restore"});
}

bool State_Quickstop::is_transition_to_stopped_active()
{
    return m_hw_iface_ptr->is_program_state_request_acknowledged() && is_stopping_or_stopped();
}

void State_Quickstop::entering()
{
    log_inf("[State_Quickstop][entering] : Quickstop");
    if (m_hw_iface_ptr->is_in_warning() && !m_hw_iface_ptr->is_limit_switch_active() &&
        !m_hw_iface_ptr->is_safety_active())
        m_hw_iface_ptr->send_quickstop_signal();
    m_hw_iface_ptr->update_current_cmd_id(NULL_PROGRAM_CMD);
    m_hw_iface_ptr->update_previous_cmd_id(NULL_PROGRAM_CMD);
    m_hw_iface_ptr->set_program_state_request(false);
}

void State_Quickstop::exiting()
{
    if (is_transition_to_stopped_active())
        m_hw_iface_ptr->detorque_axes();
}

State_Safeguard::State_Safeguard(Hardware_Interface* hw) : State(SAFEGUARD, "safeguard", hw)
{
    remove_transition_from_any_to_quickstop_state();
    remove_transition_from_any_to_fault_state();
    add_transition_to_next_state({[this] {
                                      return !m_hw_iface_ptr->is_safeguard_active() &&
                                             !m_hw_iface_ptr->is_safety_active() && is_command_pending();
                                  },
                                  RESTORE, "from safeguard to restore"});
}

void State_Safeguard::entering()
{
    log_inf("[State_Safeguard][entering] : safeguard stop");
}
