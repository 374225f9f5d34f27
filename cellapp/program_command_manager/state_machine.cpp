#include "state_machine.h"

#include "states/program_states.h"
#include "xelo_log.h"

State_Machine::State_Machine(Hardware_Interface* hw_iface) : m_hw_iface_ptr(hw_iface)
{
    init_machine_state();
    log_inf("[State_Machine] initialization done");
    log_inf("[program_command_manager][State_Machine] Actual state :: " + m_states[m_actual_state]->name);
}

void State_Machine::init_machine_state()
{
    m_states.clear();
    m_states.push_back(std::make_unique<State_Stopped>(m_hw_iface_ptr));
    m_states.push_back(std::make_unique<State_Restore>(m_hw_iface_ptr));
    m_states.push_back(std::make_unique<State_Waiting>(m_hw_iface_ptr));
    m_states.push_back(std::make_unique<State_Execute>(m_hw_iface_ptr));
    m_states.push_back(std::make_unique<State_Paused>(m_hw_iface_ptr));
    m_states.push_back(std::make_unique<State_Fault>(m_hw_iface_ptr));
    m_states.push_back(std::make_unique<State_Quickstop>(m_hw_iface_ptr));
    m_states.push_back(std::make_unique<State_Safeguard>(m_hw_iface_ptr));
    m_actual_state = m_last_state = m_next_state = 0;
    log_inf("[program_command_manager] states created");
}

int State_Machine::refresh()
{
    State& actual = *m_states[m_actual_state];
    m_next_state = static_cast<size_t>(actual.check_transition_to_next_state());
    State& next = *m_states.at(m_next_state);
    if (&next == &actual) {
        actual.during();
    } else {
        log_inf("[program_command_manager][State_Machine] Executing  transition :: " + actual.name + " --> " +
                next.name);
        actual.exiting();
        next.entering();
    }
    m_last_state = m_actual_state;
    m_actual_state = m_next_state;
    return next.id;
}

int State_Machine::get_actual_state() const
{
    return m_states[m_actual_state]->id;
}
