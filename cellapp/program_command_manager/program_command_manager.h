#pragma once

// Hands program commands from the XML-RPC thread to the program state
// machine, which runs on the RTDE thread once per RTDE package.

#include <memory>

#include "hardware_interface.h"
#include "state_machine.h"

class Program_Command_Manager {
public:
    // How long a command waits for a package to take it.
    static constexpr int HAND_OVER_TIMEOUT_MS = 1000;

    Program_Command_Manager(Axes_Manager_Interface* am_iface, RtdeInterface* rtde_iface);
    // Runs the machine on another hardware interface (owned).
    explicit Program_Command_Manager(std::unique_ptr<Hardware_Interface> hw_iface);
    Program_Command_Manager(const Program_Command_Manager&) = delete;
    Program_Command_Manager& operator=(const Program_Command_Manager&) = delete;

    void init_hw_iface_mutex();
    void init_hw_iface_semaphore();
    // Hands a command over (cmd_id 1 to 3) and waits for the next package to
    // take it, or registers a state request (cmd_id 0); returns the program
    // state id. A command that no package took within the hand-over time is
    // withdrawn and reported by a runtime error.
    int new_command(Program_Commands_Params params);
    // One step of the machine; releases a waiting new_command.
    void machine_refresh();

    Hardware_Interface& hardware_interface() { return *m_hardware_interface; }
    State_Machine& state_machine() { return m_state_machine; }

private:
    std::unique_ptr<Hardware_Interface> m_hardware_interface;
    State_Machine m_state_machine;
};
