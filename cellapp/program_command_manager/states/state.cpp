#include "state.h"

#include "terminal_colour.h"
#include "xelo_log.h"

State::State(int state_id, const std::string& state_name, Hardware_Interface* hw_iface)
    : name(state_name), id(state_id), m_hw_iface_ptr(hw_iface)
{
    add_transition_to_next_state(
        {[this] { return is_transition_from_any_to_stopped_active(); }, STOPPED, "from any to stopped"});
    add_transition_to_next_state(
        {[this] { return is_transition_from_any_to_quickstop_active(); }, QUICKSTOP, "from any to quickstop"});
    add_transition_to_next_state(
        {[this] { return is_transition_from_any_to_fault_active(); }, FAULT, "from any to fault"});
}

void State::add_transition_to_next_state(const transition_to_next_state& transition)
{
    m_transitions_to_states_list.push_back(transition);
}

void State::remove_named(const std::string& transition_name)
{
    m_transitions_to_states_list.remove_if(
        [&](const transition_to_next_state& t) { return std::get<2>(t) == transition_name; });
}

void State::remove_transition_from_any_to_stopped_state()
{
    remove_named("from any to stopped");
    m_is_transition_from_any_to_stopped_removed = true;
}

void State::remove_transition_from_any_to_quickstop_state()
{
    remove_named("from any to quickstop");
    m_is_transition_from_any_to_quickstop_removed = true;
}

void State::remove_transition_from_any_to_fault_state()
{
    remove_named("from any to fault");
}

int State::check_transition_to_next_state()
{
    for (const auto& transition : m_transitions_to_states_list) {
        if (std::get<0>(transition)()) {
            log_inf(terminal_colour::coloured(terminal_colour::BOLD_MAGENTA,
                                              "[State][check_transition_to_next_state] state :: " + name +
                                                  ", transition :: '" + std::get<2>(transition) + "' is active"));
            return std::get<1>(transition);
        }
    }
    return id;
}

bool State::is_stopping_or_stopped()
{
    const Robot_Program_Status status = m_hw_iface_ptr->get_robot_program_status();
    return status == ROBOT_STOPPING || status == ROBOT_STOPPED;
}

bool State::is_pausing_or_paused()
{
    const Robot_Program_Status status = m_hw_iface_ptr->get_robot_program_status();
    return status == ROBOT_PAUSING || status == ROBOT_PAUSED;
}

bool State::is_command_pending()
{
    return m_hw_iface_ptr->get_current_command_id() != NULL_PROGRAM_CMD;
}

bool State::is_transition_from_any_to_stopped_active()
{
    return m_hw_iface_ptr->is_last_command_acknowledged() && is_stopping_or_stopped();
}

bool State::is_transition_from_any_to_quickstop_active()
{
    const bool limit_switch = m_hw_iface_ptr->is_limit_switch_active();
    bool warning = m_hw_iface_ptr->is_in_warning();
    if (limit_switch && !warning)
        warning = m_hw_iface_ptr->is_in_warning();
    return warning;
}

bool State::is_transition_from_any_to_fault_active()
{
    return m_hw_iface_ptr->is_in_error() || m_hw_iface_ptr->is_safety_active();
}
