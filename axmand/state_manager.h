#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "axis_descriptor.h"
#include "global_define.h"

class Framework_Shared_Memory_Manager;
class State_Manager;

using Axes_List = std::vector<std::unique_ptr<Axis_Descriptor>>;
using States_Table = std::array<State_Manager*, STATE_MANAGER_NUM + 1>;  // indexed by state id, 0 unused

// One state of the manager machine: its step returns the state of the next
// cycle. Information and configuration commands are taken in every state
// (base_state_execute) and come back to the state they left.
class State_Manager {
public:
    State_Manager(int8_t id, const std::string& name, States_Table& states, Framework_Shared_Memory_Manager* framework,
                  Axes_List& axes, const Cmd_Protocol_S* protocol);
    State_Manager(const State_Manager&) = delete;
    State_Manager& operator=(const State_Manager&) = delete;
    virtual ~State_Manager() = default;

    int8_t get_state_id() const { return m_id; }
    const std::string& name() const { return m_name; }
    void set_new_cmd(int8_t cmd);
    State_Manager* base_state_execute();
    virtual State_Manager* state_execute();

    int8_t m_request_cmd = -1;
    bool m_new_cmd_arrived = false;
    State_Manager* m_previous_state = nullptr;

protected:
    State_Manager* start_change_op_mode();
    bool all_axes_enabled() const;
    State_Manager* state(int8_t id) const { return m_states.at(static_cast<size_t>(id)); }
    bool any_axis_in(Axis_Update_State_Machine state) const;

    int8_t m_id;
    std::string m_name;
    States_Table& m_states;
    Framework_Shared_Memory_Manager* m_framework;
    Axes_List& m_axes;
    const Cmd_Protocol_S* m_protocol;
};

#define AXMAND_STATE(Class)                                                                                 \
    class Class : public State_Manager {                                                                    \
    public:                                                                                                 \
        Class(int8_t id, const std::string& name, States_Table& states, Framework_Shared_Memory_Manager* f, \
              Axes_List& axes, const Cmd_Protocol_S* protocol)                                              \
            : State_Manager(id, name, states, f, axes, protocol)                                            \
        {                                                                                                   \
        }                                                                                                   \
        State_Manager* state_execute() override;                                                            \
    };

AXMAND_STATE(State_Operational)
AXMAND_STATE(State_Not_Operational)
AXMAND_STATE(State_Reset)
AXMAND_STATE(State_Running)
AXMAND_STATE(State_Manage_Possible_stop)
AXMAND_STATE(State_Wait_Ax_Change_Mode)
AXMAND_STATE(State_Wait_Start_Procedure)
AXMAND_STATE(State_Wait_Read_Info)
AXMAND_STATE(State_Send_Cfg_Data)

#undef AXMAND_STATE
