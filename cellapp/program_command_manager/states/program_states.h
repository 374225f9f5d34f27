#pragma once

// The eight states of the program command state machine.

#include "state.h"

class State_Stopped : public State {
public:
    explicit State_Stopped(Hardware_Interface* hw);
    void entering() override;
    bool is_transition_to_restore_active();
};

class State_Restore : public State {
public:
    explicit State_Restore(Hardware_Interface* hw);
    void entering() override;
    void exiting() override;
    bool is_transition_to_execute_active();
    bool is_transition_to_fault_active();
    int get_n_attempts() const { return n_attempts; }

private:
    int32_t n_attempts = 0;
    // The reset's completion, reported once, was taken by the fault check
    // without an error: the next execute check goes on with it.
    bool m_reset_done = false;
};

class State_Waiting : public State {
public:
    explicit State_Waiting(Hardware_Interface* hw);
};

class State_Execute : public State {
public:
    explicit State_Execute(Hardware_Interface* hw);
    void entering() override;
    void exiting() override;
    bool is_transition_to_quickstop_active();
};

class State_Paused : public State {
public:
    explicit State_Paused(Hardware_Interface* hw);
    void entering() override;
    void exiting() override;
};

class State_Fault : public State {
public:
    explicit State_Fault(Hardware_Interface* hw);
    void entering() override;
};

class State_Quickstop : public State {
public:
    explicit State_Quickstop(Hardware_Interface* hw);
    void entering() override;
    void exiting() override;
    bool is_transition_to_stopped_active();
};

class State_Safeguard : public State {
public:
    explicit State_Safeguard(Hardware_Interface* hw);
    void entering() override;
};
