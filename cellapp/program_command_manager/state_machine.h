#pragma once

#include <memory>
#include <vector>

#include "hardware_interface.h"
#include "states/state.h"

// The program command state machine: eight states in id order, one step per
// refresh.
class State_Machine {
public:
    explicit State_Machine(Hardware_Interface* hw_iface);
    State_Machine(const State_Machine&) = delete;
    State_Machine& operator=(const State_Machine&) = delete;

    void init_machine_state();
    // One step; the id of the new actual state.
    int refresh();
    int get_actual_state() const;
    State& state(int id) { return *m_states.at(static_cast<size_t>(id)); }

private:
    Hardware_Interface* m_hw_iface_ptr;
    std::vector<std::unique_ptr<State>> m_states;
    size_t m_actual_state = 0;
    size_t m_last_state = 0;
    size_t m_next_state = 0;
};
