// Axis descriptor: requests of the manager and the supervision checks.

#include <cstdlib>
#include <stdexcept>

#include "axis_descriptor.h"
#include "axmand_log.h"
#include "cia402_bits.h"
#include "xelo_framework_shm_manager.h"
#include "xelo_string_functions.h"

using XELO_String_Functions::num2str;

using namespace cia402;

void Axis_Descriptor::set_new_cmd(int8_t __new_cmd)
{
    log_inf("[axis descriptor][set_new_cmd] axis :: " + num2str(m_axis_number) +
            " new command to be managed :: " + cmd_code_to_string_map.at(__new_cmd));
    if (__new_cmd == m_cmds_protocol->start_procedure) {
        log_inf("[axis descriptor][set_new_cmd] :: m_is_last_command_completed = false");
        m_is_last_command_completed = false;
    }
    m_cmd_request = __new_cmd;
}

void Axis_Descriptor::set_new_op_mode()
{
    if (is_virtual())
        return;  // a virtual axis has no drive mode
    if (m_main_machine_state == STATE_QUICK_STOP_ACTIVE || m_main_machine_state == STATE_WAIT_FAULT_RESET ||
        m_main_machine_state == STATE_RESTORE_FROM_QSA) {
        log_inf("avoid set op_mode");
        return;
    }
    const int8_t code = m_framework->get_cmd_data_ex<signed char>(static_cast<int>(m_axes_manager_cmd_channel_id),
                                                                  m_incoming_cmd_opmode_code_request_id);
    OpMode_Base* requested = nullptr;
    for (auto& mode : m_op_modes)
        if (mode.second->get_code() == code)
            requested = mode.second.get();
    const auto name = op_mode_to_string_map.find(code);
    if (requested == nullptr) {
        const std::string text = "[axis descriptor] axis :: " + num2str(m_axis_number) +
                                 " op mode not available :: " + num2str(static_cast<int>(code));
        log_err(text);
        go_to_fault_request();
        return;
    }
    log_inf("[axis descriptor] axis :: " + num2str(m_axis_number) + " new op mode request :: " + name->second);
    if (m_op_mode_active != nullptr && m_op_mode_active->get_code() == code) {
        m_main_machine_state = SETTING_OP_MODE;
        return;
    }
    m_op_mode_desired = requested;
    log_inf("[axis descriptor] axis :: " + num2str(m_axis_number) +
            " new op mode id going to be set :: " + num2str(static_cast<int>(code)));
    m_framework->set_async_output_ex<signed char>(m_async_out_operation_mode_id, code);
    if (m_op_mode_active != nullptr)
        m_op_mode_active->clear_all_async_updated_flags();
    m_main_machine_state = SETTING_OP_MODE;
}

void Axis_Descriptor::start_procedure()
{
    if (is_virtual())
        return;
    if (m_op_mode_active == nullptr) {
        log_war(" m_op_mode_active== NULL ");
        return;
    }
    m_control_word = m_op_mode_active->get_specific_control_word_to_start_procedure(m_control_word, m_status_word);
}

bool Axis_Descriptor::is_quick_stop_command_supported() const
{
    return m_axis_type != AXIS_OMRON && m_axis_type != AXIS_YASKAWA;
}

void Axis_Descriptor::quick_stop_request()
{
    const std::string axis = num2str(m_axis_number);
    if (m_main_machine_state < STATE_WORKING) {
        log_inf("[axis descriptor] ax :: " + axis + " quick_stop_request() ->  nothing to do ");
        return;
    }
    if (is_quick_stop_command_supported()) {
        log_inf("[axis descriptor] ax :: " + axis + " quick_stop_request() ->   go to STATE_QUICK_STOP_ACTIVE");
        m_main_machine_state = STATE_QUICK_STOP_ACTIVE;
        m_control_word.dby = static_cast<uint16_t>(m_control_word.dby & ~CW_QUICK_STOP);
    } else {
        log_inf("[axis descriptor] ax :: " + axis + " quick_stop_request() ->   go to STATE_WAIT_HALT_REACHED");
        m_main_machine_state = STATE_WAIT_HALT_REACHED;
        m_control_word.dby = static_cast<uint16_t>(m_control_word.dby | CW_HALT);
    }
    if (m_axis_type == AXIS_INGENIA)
        reset_axis_setpoints(true, true);
}

bool Axis_Descriptor::fault_gate_skips() const
{
    return m_main_machine_state < 0;
}

void Axis_Descriptor::detorque_request()
{
    const std::string axis = num2str(m_axis_number);
    if (fault_gate_skips()) {
        log_inf("[axis descriptor] ax :: " + axis + " detorque_request() ->  nothing to do ");
        return;
    }
    if ((m_main_machine_state == STATE_WAIT_READ_INFO || m_main_machine_state == STATE_SEND_CFG_DATA ||
         m_main_machine_state == STATE_WAIT_SETPOINT_RESET) &&
        m_main_machine_state_pre_ext_request == STATE_FAULT) {
        log_inf("[axis descriptor] ax :: " + axis + " detorque_request() ->  machine state " +
                num2str(m_main_machine_state) + " state pre " + num2str(m_main_machine_state_pre_ext_request));
        return;
    }
    log_inf("[axis descriptor] ax :: " + axis + " detorque_request() ->   detorque axis ");
    m_main_machine_state = STATE_INIT;
    m_control_word.dby = static_cast<uint16_t>(m_control_word.dby & ~CW_DISABLE_VOLTAGE);
    reset_axis_params();
    if (m_axis_type == AXIS_INGENIA)
        reset_axis_setpoints(true, true);
}

void Axis_Descriptor::go_to_fault_request()
{
    const std::string axis = num2str(m_axis_number);
    if (fault_gate_skips()) {
        log_inf("[axis descriptor] ax :: " + axis + " go_to_fault_request() ->  nothing to do ");
        return;
    }
    if ((m_main_machine_state == STATE_WAIT_READ_INFO || m_main_machine_state == STATE_SEND_CFG_DATA ||
         m_main_machine_state == STATE_WAIT_SETPOINT_RESET) &&
        m_main_machine_state_pre_ext_request == STATE_FAULT) {
        log_inf("[axis descriptor] ax :: " + axis + " go_to_fault_request() ->  machine state " +
                num2str(m_main_machine_state) + " state pre " + num2str(m_main_machine_state_pre_ext_request));
        return;
    }
    log_inf("[axis descriptor] ax :: " + axis + " go_to_fault_request() ->   detorque axis ");
    if (m_axis_type == AXIS_OMRON) {
        log_inf("[axis descriptor] ax :: " + axis + " OMRON axis -> disable voltage ");
        m_control_word.dby = static_cast<uint16_t>(m_control_word.dby & ~CW_DISABLE_VOLTAGE);
    } else {
        log_inf("[axis descriptor] ax :: " + axis + " go_to_fault_request ");
        m_control_word.dby = 0;
    }
    m_main_machine_state = STATE_FAULT;
    reset_axis_params();
    if (m_axis_type == AXIS_INGENIA)
        reset_axis_setpoints(true, true);
}

void Axis_Descriptor::control_fault()
{
    if (m_main_machine_state < STATE_SWITCH_ON)
        return;
    const uint16_t sw = m_status_word.dby;
    const bool fault = (sw & SW_FAULT) != 0 || (m_axis_type == AXIS_YASKAWA && (sw & SW_YASKAWA_ALARM) != 0);
    if (!fault)
        return;
    if (m_op_mode_active != nullptr) {
        const bool in_error = m_op_mode_active->is_procedure_in_error(m_status_word, m_axis_type);
        const uint16_t start_cw =
            m_op_mode_active->get_specific_control_word_to_start_procedure(m_control_word, m_status_word).dby;
        log_inf("[axis descriptor][control fault] procedure_in_fault:: " + num2str(in_error ? 1 : 0) +
                " cw:: " + hex_text(m_control_word.dby) + " cw_to_start_procedure:: " + hex_text(start_cw));
        log_inf("[axis descriptor][control fault] axis :: " + num2str(m_axis_number) +
                " fault found sw:" + hex_text(sw));
    } else {
        log_inf("[axis descriptor][control fault] procedure_in_fault:: m_op_mode_active uninitialized ");
    }
    go_to_fault_request();
}

bool Axis_Descriptor::quick_stop_gate(bool with_confirmation) const
{
    if (m_op_mode_active == nullptr)
        return false;
    const bool festo_confirmed =
        m_axis_type == AXIS_FESTO && m_op_mode_active->get_code() != op_mode_map.at("profile_vel");
    if (!festo_confirmed)
        return m_main_machine_state >= STATE_WORKING;
    if (m_main_machine_state < STATE_IS_RUNNING)
        return false;
    return !with_confirmation || static_cast<int64_t>(m_axis_cycle_time_us) * m_quickstop_ack_counter >= 20000;
}

bool Axis_Descriptor::quick_stop_condition()
{
    if ((m_status_word.dby & SW_WARNING_AND_LIMIT) == SW_WARNING_AND_LIMIT)
        return true;
    if (!m_op_mode_active->is_procedure_in_error(m_status_word, m_axis_type))
        return false;
    const uint16_t start =
        m_op_mode_active->get_specific_control_word_to_start_procedure(m_control_word, m_status_word).dby;
    const uint16_t progress =
        m_op_mode_active->get_specific_control_word_when_procedure_is_in_progress(m_control_word).dby;
    return start <= m_control_word.dby || progress <= m_control_word.dby;
}

void Axis_Descriptor::control_quick_stop_active()
{
    if (!quick_stop_gate(true))
        return;
    m_quickstop_ack_counter = 0;
    if (!quick_stop_condition())
        return;
    const uint16_t sw = m_status_word.dby;
    const bool in_error = m_op_mode_active->is_procedure_in_error(m_status_word, m_axis_type);
    const uint16_t start_cw =
        m_op_mode_active->get_specific_control_word_to_start_procedure(m_control_word, m_status_word).dby;
    log_inf("[axis descriptor][control_quick_stop_active] :: is_procedure_in_error = " + num2str(in_error ? 1 : 0) +
            " cw = " + hex_text(m_control_word.dby) + " cw_to_start_procedure = " + hex_text(start_cw) +
            " internal_limit_active = " + num2str((sw >> 11) & 1) + " warning = " + num2str((sw >> 7) & 1));
    m_main_machine_state = STATE_QUICK_STOP_ACTIVE;
    m_cmd_request = -1;
    if (m_axis_type == AXIS_YASKAWA)
        m_control_word.dby = static_cast<uint16_t>(m_control_word.dby | CW_HALT);
    if (m_axis_type == AXIS_INGENIA)
        reset_axis_setpoints(true, true);
}

bool Axis_Descriptor::control_pre_running()
{
    log_inf("[axis descriptor] :: sw: " + hex_text(m_status_word.dby) + "; cw: " + hex_text(m_control_word.dby));
    bool started = m_op_mode_active != nullptr && m_op_mode_active->is_procedure_started(m_status_word);
    if (!started && m_axis_type == AXIS_INGENIA && m_op_mode_active != nullptr &&
        m_op_mode_active->get_code() == op_mode_map.at("profile_pos") &&
        std::abs(static_cast<int64_t>(m_actual_pos_raw) - m_actual_pos_raw_old) > 100)
        started = true;
    if (started)
        log_inf("[axis descriptor] pre running axis :: " + num2str(m_axis_number) + "--> is_procedure_started ! ");
    return started;
}
