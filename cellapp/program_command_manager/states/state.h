#pragma once

// A state of the program command state machine: its name and id, its ordered
// transitions (the first whose predicate holds is taken) and its entering and
// exiting actions.

#include <functional>
#include <list>
#include <string>
#include <tuple>

#include "hardware_interface.h"

typedef std::tuple<std::function<bool()>, int, std::string> transition_to_next_state;

class State {
public:
    enum State_Id : int {
        STOPPED = 0,
        RESTORE = 1,
        WAITING = 2,
        EXECUTE = 3,
        PAUSED = 4,
        FAULT = 5,
        QUICKSTOP = 6,
        SAFEGUARD = 7
    };

    State(int id, const std::string& name, Hardware_Interface* hw_iface);
    virtual ~State() = default;
    State(const State&) = delete;
    State& operator=(const State&) = delete;

    virtual void exiting() {}
    virtual void entering() {}
    virtual void during() {}

    void add_transition_to_next_state(const transition_to_next_state& transition);
    void remove_transition_from_any_to_stopped_state();
    void remove_transition_from_any_to_quickstop_state();
    void remove_transition_from_any_to_fault_state();
    // The target of the first transition whose predicate holds, else the own id.
    int check_transition_to_next_state();

    bool is_transition_from_any_to_stopped_active();
    bool is_transition_from_any_to_quickstop_active();
    bool is_transition_from_any_to_fault_active();

    const std::string name;
    const int id;

protected:
    bool is_stopping_or_stopped();
    bool is_pausing_or_paused();
    bool is_command_pending();
    void remove_named(const std::string& transition_name);

    std::list<transition_to_next_state> m_transitions_to_states_list;
    bool m_is_transition_from_any_to_stopped_removed = false;
    bool m_is_transition_from_any_to_quickstop_removed = false;
    Hardware_Interface* m_hw_iface_ptr;
};
