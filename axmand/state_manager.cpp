#include "state_manager.h"

#include <stdexcept>

#include "axmand_log.h"
#include "xelo_string_functions.h"

using XELO_String_Functions::num2str;

namespace {
// Enabled: powered up, out of every quick-stop recovery and of a set-point
// reset (which may lead back to a quick stop).
bool axis_enabled(Axis_Update_State_Machine state)
{
    switch (state) {
    case STATE_QUICK_STOP_ACTIVE:
    case STATE_WAIT_FAULT_RESET:
    case STATE_RESTORE_FROM_QSA:
    case STATE_GOING_TO_OP_ENABLE_FROM_QSA:
    case STATE_GOING_TO_SW_ON_DIS_FROM_QSA:
    case STATE_WAIT_SETPOINT_RESET: return false;
    default: return state >= STATE_OPERATION_MODE_IDLE;
    }
}

std::string blue(const std::string& tag)
{
    return coloured(axmand_colour::BLUE, tag);
}
std::string light_blue(const std::string& tag)
{
    return coloured(axmand_colour::LIGHT_BLUE, tag);
}
}  // namespace

State_Manager::State_Manager(int8_t id, const std::string& name, States_Table& states,
                             Framework_Shared_Memory_Manager* framework, Axes_List& axes,
                             const Cmd_Protocol_S* protocol)
    : m_id(id), m_name(name), m_states(states), m_framework(framework), m_axes(axes), m_protocol(protocol)
{
    if (id > STATE_MANAGER_NUM)
        throw std::runtime_error("[state manager virtual][constructor] state id > STATE_MANAGER_NUM");
    m_states.at(static_cast<size_t>(id)) = this;
    log_inf("[axes manager] State_Manager::State_Manager\t m_id: " + num2str(static_cast<int>(id)) +
            "\t m_name: " + name);
}

void State_Manager::set_new_cmd(int8_t cmd)
{
    m_request_cmd = cmd;
    m_new_cmd_arrived = true;
    log_inf("[axes manager][state virtual] new command arrived :: " + num2str(static_cast<int>(cmd)));
}

bool State_Manager::any_axis_in(Axis_Update_State_Machine axis_state) const
{
    for (const auto& axis : m_axes)
        if (axis->get_state() == axis_state)
            return true;
    return false;
}

State_Manager* State_Manager::state_execute()
{
    log_inf("State_Manager::state_execute( ... )");
    return nullptr;
}

State_Manager* State_Manager::base_state_execute()
{
    if (m_new_cmd_arrived && m_request_cmd == m_protocol->get_info) {
        m_new_cmd_arrived = false;
        log_inf(light_blue("[state manager virtual][base_state_execute] ") +
                " get_info command arrived --> go to wait_read_info state");
        for (size_t i = 0; i < m_axes.size(); ++i) {
            m_axes[i]->set_new_cmd(m_protocol->get_info);
            log_inf(blue("[state manager virtual][base_state_execute] ") + " --> go to wait_read_info state ax_" +
                    num2str(i));
        }
        state(WAIT_READ_INFO)->m_previous_state = this;
        return state(WAIT_READ_INFO);
    }
    if (m_new_cmd_arrived && m_request_cmd == m_protocol->send_cfg_data) {
        m_new_cmd_arrived = false;
        log_inf(light_blue("[state manager virtual][base_state_execute] ") +
                " send_cfg_data command arrived --> go to send_cfg_data state");
        for (size_t i = 0; i < m_axes.size(); ++i) {
            m_axes[i]->set_new_cmd(m_protocol->send_cfg_data);
            log_inf(blue("[state manager virtual][base_state_execute] ") + " --> go to send_cfg_data state ax_" +
                    num2str(i));
        }
        state(SEND_CFG_DATA)->m_previous_state = this;
        return state(SEND_CFG_DATA);
    }
    return state_execute();
}

bool State_Manager::all_axes_enabled() const
{
    for (const auto& axis : m_axes)
        if (!axis_enabled(axis->get_state()))
            return false;
    return true;
}

State_Manager* State_Manager::start_change_op_mode()
{
    for (auto& axis : m_axes)
        axis->set_new_op_mode();
    state(WAIT_CHANGE_MODE)->m_request_cmd = m_request_cmd;
    return state(WAIT_CHANGE_MODE);
}

State_Manager* State_Not_Operational::state_execute()
{
    if (!m_new_cmd_arrived)
        return this;
    log_inf("[axes manager][state not operational] new command arrived");
    m_new_cmd_arrived = false;
    if (m_request_cmd != m_protocol->reset)
        return this;
    log_inf(light_blue("[state not operational] ") + " reset command arrived --> go to reset state");
    for (size_t i = 0; i < m_axes.size(); ++i) {
        log_inf(blue("[state not operational] ") + " reset cmd sent to all axes --> go to init state " + num2str(i));
        m_axes[i]->set_new_cmd(m_protocol->reset);
    }
    return state(RESET);
}

// Every quick-stopped axis is reset, also one that comes back to its quick
// stop from an excursion once the reset has started.
State_Manager* State_Reset::state_execute()
{
    for (size_t i = 0; i < m_axes.size(); ++i) {
        if (m_axes[i]->get_state() != STATE_QUICK_STOP_ACTIVE)
            continue;
        log_inf(blue("[State_Reset] ") + " reset cmd sent to quick-stopped axis " + num2str(i));
        m_axes[i]->set_new_cmd(m_protocol->reset);
    }
    if (!all_axes_enabled())
        return this;
    log_inf(blue("[State_Reset] ") + " reset completed, go to idle state");
    return state(OPERATIONAL);
}

State_Manager* State_Operational::state_execute()
{
    if (!m_new_cmd_arrived)
        return this;
    log_inf("[state idle] new command arrived::" + num2str(static_cast<int>(m_request_cmd)));
    m_new_cmd_arrived = false;
    if (m_request_cmd == m_protocol->start_procedure)
        return start_change_op_mode();
    // A reset writes no operation mode and no target: RESET recovers the
    // quick-stopped axes and the others keep their mode.
    if (m_request_cmd == m_protocol->reset)
        return state(RESET);
    return this;
}

State_Manager* State_Wait_Ax_Change_Mode::state_execute()
{
    Axis_Descriptor* first = nullptr;
    for (const auto& axis : m_axes) {
        if (axis->get_state() < STATE_WORKING) {
            first = axis.get();
            break;
        }
    }
    if (first == nullptr) {
        if (m_request_cmd == m_protocol->start_procedure) {
            log_inf(blue("[state wait change mode] ") +
                    "-->  all the axes are in correct op mode...send start procedure cmd");
            for (auto& axis : m_axes) {
                axis->m_consecutive_quick_stop = 0;
                axis->set_new_cmd(m_protocol->start_procedure);
            }
            log_inf(blue("[state wait change mode] ") + "--> ... go to wait start procedure");
            return state(WAIT_START_PROCEDURE);
        }
        log_err(coloured(axmand_colour::RED, "[state wait change mode] --> ERRORE stato non previsto " +
                                                 num2str(static_cast<int>(m_request_cmd))));
        return state(NOT_OPERATIONAL);
    }
    if (m_request_cmd == m_protocol->start_procedure) {
        if (first->get_state() == STATE_QUICK_STOP_ACTIVE && first->m_consecutive_quick_stop == 0) {
            first->m_consecutive_quick_stop = 1;
            log_inf("[state wait change mode] -->  prima richiesta di quick stop active --> mando start_procedure");
            first->set_new_cmd(m_protocol->start_procedure);
            return this;
        }
        if (first->get_state() == STATE_QUICK_STOP_ACTIVE && first->m_consecutive_quick_stop == 1) {
            log_inf("[state wait change mode] -->  seconda richiesta di quick stop active --> ritorno in operational");
            first->m_consecutive_quick_stop = 0;
            return state(OPERATIONAL);
        }
        return this;
    }
    return this;
}

State_Manager* State_Wait_Start_Procedure::state_execute()
{
    if (any_axis_in(STATE_PRE_RUNNING))
        return this;
    log_inf(blue("[state init] ") + " start procedure completed, go to running state");
    return state(RUNNING);
}

State_Manager* State_Running::state_execute()
{
    if (m_new_cmd_arrived) {
        log_inf("[State_Running] new command arrived::" + num2str(static_cast<int>(m_request_cmd)));
        m_new_cmd_arrived = false;
        if (m_request_cmd == m_protocol->start_procedure)
            return start_change_op_mode();
    }
    for (const auto& axis : m_axes)
        if (axis->get_state() > STATE_PRE_RUNNING)
            return this;
    log_inf(blue("[State_Running] ") + " procedure completed, go to OPERATIONAL state");
    return state(OPERATIONAL);
}

State_Manager* State_Manage_Possible_stop::state_execute()
{
    if (m_axes.empty())
        return this;
    if (m_request_cmd == m_protocol->quick_stop) {
        log_inf("[stat manage possible stop] --> quick_stop cmd :: go to OPERATIONAL state");
        return state(OPERATIONAL);
    }
    if (m_request_cmd == m_protocol->detorque) {
        log_inf("[stat manage possible stop] -->  detorque cmd :: go to NOT_OPERATIONAL state");
        return state(NOT_OPERATIONAL);
    }
    return this;
}

State_Manager* State_Wait_Read_Info::state_execute()
{
    if (any_axis_in(STATE_WAIT_READ_INFO))
        return this;
    log_inf(blue("[state state_wait_read_info] ") + " info acquired for all axes");
    return m_previous_state;
}

State_Manager* State_Send_Cfg_Data::state_execute()
{
    if (any_axis_in(STATE_SEND_CFG_DATA))
        return this;
    log_inf(blue("[state state_send_cfg_data] ") + " cfg data sent for all axes");
    return m_previous_state;
}
