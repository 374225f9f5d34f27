// Axis descriptor: the CiA 402 state machine, one step per cycle.

#include <cstdint>
#include <stdexcept>

#include "axis_descriptor.h"
#include "axmand_log.h"
#include "cia402_bits.h"
#include "xelo_framework_shm_manager.h"
#include "xelo_string_functions.h"

using XELO_String_Functions::num2str;

using namespace cia402;

bool Axis_Descriptor::timed_out() const
{
    return static_cast<int64_t>(m_axis_cycle_time_us) * m_state_machine_wait_counter > 999999;
}

bool Axis_Descriptor::operation_mode_taken()
{
    return is_virtual() || m_framework->is_async_output_set_ex(m_async_out_operation_mode_id, nullptr) != 0;
}

void Axis_Descriptor::main_state_machine(bool __print_dbg)
{
    try {
        control_fault();
        control_quick_stop_active();
        if (m_cmd_request == m_cmds_protocol->get_info) {
            m_cmd_request = -1;
            m_main_machine_state_pre_ext_request = m_main_machine_state;
            log_inf("[axis descriptor] - get_info request, machine state was " + num2str(m_main_machine_state));
            for (Async_Input& input : m_async_info_vec)
                input.set_update_todo();
            m_main_machine_state = STATE_WAIT_READ_INFO;
        } else if (m_cmd_request == m_cmds_protocol->send_cfg_data) {
            m_main_machine_state_pre_ext_request = m_main_machine_state;
            m_cmd_request = -1;
            log_inf("[axis descriptor] - send_cfg_data request, machine state was " + num2str(m_main_machine_state));
            for (Async_Output& output : m_async_cfg_data_vec)
                output.set_update_todo();
            m_main_machine_state = STATE_SEND_CFG_DATA;
            if (!m_is_setpoint_reset_required)
                run_state_handler();
        } else if (!m_is_setpoint_reset_required) {
            run_state_handler();
        }
        if (m_is_setpoint_reset_required)
            handle_setpoint_reset();
    } catch (const std::exception& e) {
        log_err(e.what());
        log_inf("[axis descriptor][fault update state machine] axis :: " + num2str(m_axis_number) +
                " fault exception with sw:" + hex_text(m_status_word.dby));
        go_to_fault_request();
    }

    if (timed_out()) {
        log_inf("[axis descriptor][m_state_machine_wait_counter] axis :: " + num2str(m_axis_number) +
                " timeout with m_main_machine_state " + num2str(m_main_machine_state) +
                " and sw:" + hex_text(m_status_word.dby));
        go_to_fault_request();
        log_inf("[axis descriptor][m_state_machine_wait_counter] MANDO IN ERRORE L'ASSE ");
        m_state_machine_wait_counter = 0;
    }

    if (quick_stop_gate(false)) {
        if (quick_stop_condition()) {
            ++m_quickstop_ack_counter;
            log_inf("[axis_descriptor][check for quickstop status confirmation] :: increasing quickstop ack counter: " +
                    num2str(m_quickstop_ack_counter) + " (new) ");
        } else {
            m_quickstop_ack_counter = 0;
        }
    }

    if (m_main_machine_state != m_main_machine_state_old) {
        log_inf("[axis descriptor] ax :: " + num2str(m_axis_number) +
                " main machine state :: " + state_name(m_main_machine_state));
        m_main_machine_state_old = m_main_machine_state;
    }
    if (__print_dbg)
        log_inf("[axis descriptor] ax :: " + num2str(m_axis_number) + " main machine state :: " +
                state_name(m_main_machine_state) + " m_actual_pos_raw :: " + num2str(m_actual_pos_raw) +
                " actual_vel_raw :: " + num2str(m_actual_vel_raw));
}

void Axis_Descriptor::handle_setpoint_reset()
{
    if (m_main_machine_state != STATE_WAIT_SETPOINT_RESET) {
        m_main_machine_state_pre_ext_request = m_main_machine_state;
        log_inf("[axis descriptor] - setpoint reset required, machine state was " + num2str(m_main_machine_state));
        m_main_machine_state = STATE_WAIT_SETPOINT_RESET;
        return;
    }
    const bool position_set = m_framework->is_async_output_set_ex(m_async_profile_pos_target_pos_id, nullptr) != 0;
    const bool velocity_set = m_framework->is_async_output_set_ex(m_async_profile_vel_target_vel_id, nullptr) != 0;
    if (position_set && velocity_set) {
        const std::string& axis_prefix = m_axes_manager_prefix_str_and_axis_prefix_str;
        log_inf("[axis descriptor]  - ... RESET completed - state[STATE_WAIT_SETPOINT_RESET -> " +
                state_name(m_main_machine_state_pre_ext_request) + "]");
        const int position = m_framework->get_async_input_id_ex(axis_prefix + "_profile_pos_target_pos");
        const int velocity = m_framework->get_async_input_id_ex(axis_prefix + "_profile_vel_target_vel");
        log_inf("[axis descriptor] :: new position setpoint is " +
                num2str(m_framework->get_async_input_ex<int>(position)));
        log_inf("[axis descriptor] :: new velocity setpoint is " +
                num2str(m_framework->get_async_input_ex<int>(velocity)));
        m_is_setpoint_reset_required = false;
        m_main_machine_state = m_main_machine_state_pre_ext_request;
    } else {
        log_inf("[axis descriptor]  - ... RESETTING position and velocity setpoint ...");
    }
}

void Axis_Descriptor::go_to_working_state()
{
    m_control_word.dby = CW_CMD_ENABLE_OPERATION;
    m_main_machine_state = STATE_WORKING;
    if (m_op_mode_active != nullptr)
        m_op_mode_active->clear_all_async_updated_flags();
    m_state_machine_wait_counter = 0;
}

void Axis_Descriptor::run_state_handler()
{
    switch (m_main_machine_state) {
    case STATE_FAULT: wait_for_reset_in_fault(); break;
    case RESET_FAULT: start_fault_reset(); break;
    case STATE_INIT: wait_for_enable_request(); break;
    case STATE_WAIT_READ_INFO: wait_for_info_read(); break;
    case STATE_SEND_CFG_DATA: wait_for_cfg_data_sent(); break;
    case STATE_SWITCH_ON_DISABLED: power_up_from_switch_on_disabled(); break;
    case STATE_READY_TO_SWITCH_ON: power_up_ready_to_switch_on(); break;
    case STATE_SWITCH_ON: power_up_switch_on(); break;
    case STATE_WAIT_OPERATION_ENABLED: power_up_wait_operation_enabled(); break;
    case STATE_WAIT_HALT_REACHED: wait_for_halt_reached(); break;
    case SETTING_OP_MODE: wait_for_op_mode_set(); break;
    case CHANGING_OP_MODE: check_op_mode_changed(); break;
    case START_REFRESH_ASYNC_BASED_OP_MODE: start_op_mode_refresh(); break;
    case REFRESHING_ASYNC_BASED_OP_MODE: wait_for_op_mode_refreshed(); break;
    case STATE_QUICK_STOP_ACTIVE: quick_stop_ask_fault_reset(); break;
    case STATE_WAIT_FAULT_RESET: quick_stop_read_last_error(); break;
    case STATE_RESTORE_FROM_QSA: quick_stop_check_restored(); break;
    case STATE_GOING_TO_OP_ENABLE_FROM_QSA: quick_stop_enable_operation(); break;
    case STATE_GOING_TO_SW_ON_DIS_FROM_QSA: quick_stop_disable_to_switch_on_disabled(); break;
    case STATE_WORKING: running_wait_for_start(); break;
    case STATE_PRE_RUNNING: running_check_pre_running(); break;
    case STATE_IS_RUNNING: running_follow_procedure(); break;
    default: break;
    }
}

bool Axis_Descriptor::reset_requested() const
{
    return m_cmd_request == m_cmds_protocol->reset;
}

bool Axis_Descriptor::start_requested() const
{
    return m_cmd_request == m_cmds_protocol->start_procedure;
}

// ---- fault and reset ---------------------------------------------------------------

void Axis_Descriptor::wait_for_reset_in_fault()
{
    m_state_machine_wait_counter = 0;
    if (!reset_requested())
        return;
    m_cmd_request = -1;
    log_inf("[axis descriptor]  - reset from fault required ...");
    reinit_op_mode();
    m_main_machine_state = RESET_FAULT;
}

void Axis_Descriptor::start_fault_reset()
{
    if (is_virtual()) {
        m_main_machine_state = STATE_IS_RUNNING;
        return;
    }
    log_inf("[axes descriptor] ax :: " + num2str(m_axis_number) + " reset fault start");
    m_control_word.dby = CW_FAULT_RESET;
    m_state_machine_wait_counter = 0;
    m_main_machine_state = STATE_SWITCH_ON_DISABLED;
}

void Axis_Descriptor::wait_for_enable_request()
{
    if (!reset_requested())
        return;
    reinit_op_mode();
    m_cmd_request = -1;
    log_inf("[axis descriptor] ax :: " + num2str(m_axis_number) + " - enable drive requested ");
    m_main_machine_state = RESET_FAULT;
}

// ---- power up ----------------------------------------------------------------------

void Axis_Descriptor::power_up_from_switch_on_disabled()
{
    const uint16_t sw = m_status_word.dby;
    ++m_state_machine_wait_counter;
    if (reports(sw, SWITCH_ON_DISABLED)) {
        log_inf("\t[axis descriptor] ax :: " + num2str(m_axis_number) + " switch on disable reached");
        m_control_word.dby = CW_CMD_SHUTDOWN;
        m_state_machine_wait_counter = 0;
        m_main_machine_state = STATE_READY_TO_SWITCH_ON;
    } else if (reports(sw, READY_TO_SWITCH_ON)) {
        m_state_machine_wait_counter = 0;
        m_main_machine_state = STATE_READY_TO_SWITCH_ON;
    }
}

void Axis_Descriptor::power_up_ready_to_switch_on()
{
    m_control_word.dby = CW_CMD_SHUTDOWN;
    ++m_state_machine_wait_counter;
    if (!reports(m_status_word.dby, READY_TO_SWITCH_ON))
        return;
    log_inf("\t[axis descriptor] ax :: " + num2str(m_axis_number) + " ready to switch on reached");
    m_control_word.dby = CW_CMD_SWITCH_ON;
    m_state_machine_wait_counter = 0;
    m_main_machine_state = STATE_SWITCH_ON;
}

void Axis_Descriptor::power_up_switch_on()
{
    m_control_word.dby = CW_CMD_SWITCH_ON;
    ++m_state_machine_wait_counter;
    if (!reports(m_status_word.dby, SWITCHED_ON) || !operation_mode_taken())
        return;
    log_inf("\t[axis descriptor] ax :: " + num2str(m_axis_number) + " switch on");
    m_control_word.dby = CW_CMD_ENABLE_OPERATION;
    m_state_machine_wait_counter = 0;
    m_main_machine_state = STATE_WAIT_OPERATION_ENABLED;
    reinit_op_mode();
}

void Axis_Descriptor::power_up_wait_operation_enabled()
{
    ++m_state_machine_wait_counter;
    if (!reports(m_status_word.dby, OPERATION_ENABLED))
        return;
    m_main_machine_state = STATE_OPERATION_MODE_IDLE;
    log_inf(coloured(axmand_colour::BOLD_GREEN, "[axis descriptor] drive enabled "));
    m_state_machine_wait_counter = 0;
}

// ---- asynchronous waits ------------------------------------------------------------

void Axis_Descriptor::wait_for_info_read()
{
    bool done = true;
    for (const Async_Input& input : m_async_info_vec)
        done = done && input.is_update_completed();
    if (!done)
        return;
    m_main_machine_state = m_main_machine_state_pre_ext_request;
    log_inf("\t\t STATE_WAIT_READ_INFO completed, return to machine state " + num2str(m_main_machine_state));
}

void Axis_Descriptor::wait_for_cfg_data_sent()
{
    bool done = true;
    for (const Async_Output& output : m_async_cfg_data_vec)
        done = done && output.is_update_completed();
    if (!done)
        return;
    m_main_machine_state = m_main_machine_state_pre_ext_request;
    log_inf("\t\t STATE_SEND_CFG_DATA completed, return to machine state " + num2str(m_main_machine_state));
}

void Axis_Descriptor::wait_for_halt_reached()
{
    if (m_op_mode_active == nullptr || !m_op_mode_active->is_axis_moving(m_status_word, m_axis_type))
        back_to_idle_state_from_halt();
}

void Axis_Descriptor::wait_for_op_mode_set()
{
    log_inf("\t\t[axis descriptor] state setting_op_mode");
    if (m_framework->is_async_output_set_ex(m_async_out_operation_mode_id, nullptr) == 0)
        return;
    m_framework->refresh_async_input_ex(m_async_in_operation_mode_id);
    m_main_machine_state = CHANGING_OP_MODE;
}

void Axis_Descriptor::check_op_mode_changed()
{
    const int desired = m_op_mode_desired != nullptr ? m_op_mode_desired->get_code() : 0;
    log_inf("[axis descriptor] changing op mode :: m_async_in_operation_mode  --> m_op_mode_desired :: " +
            num2str(desired));
    if (m_framework->is_async_input_refresh_ex(m_async_in_operation_mode_id, nullptr) == 0)
        return;
    const int mode = m_framework->get_async_input_ex<signed char>(m_async_in_operation_mode_id);
    if (m_op_mode_desired != nullptr && mode == desired) {
        log_inf("[axis descriptor] desired op mode reached :: " + op_mode_to_string_map.at(desired));
        m_op_mode_active = m_op_mode_desired;
        m_changing_op_mode_wait_counter = 0;
        m_main_machine_state = START_REFRESH_ASYNC_BASED_OP_MODE;
    } else if (static_cast<int64_t>(m_axis_cycle_time_us) * m_changing_op_mode_wait_counter <= 400000) {
        ++m_changing_op_mode_wait_counter;
        log_inf("[axis descriptor] m_changing_op_mode_wait_counter is " + num2str(m_changing_op_mode_wait_counter) +
                " try again SETTING_OP_MODE");
        m_main_machine_state = SETTING_OP_MODE;
    } else {
        log_inf("[axis descriptor] desired op mode not reached after " + num2str(m_changing_op_mode_wait_counter) +
                " cycles");
        m_changing_op_mode_wait_counter = 0;
        // Disabled like any other fault: never left enabled while reported faulted.
        go_to_fault_request();
    }
}

void Axis_Descriptor::start_op_mode_refresh()
{
    m_op_mode_active->set_all_async_output();
    m_op_mode_active->refresh_all_async_input();
    log_inf("[axis descriptor] start async output refresh " + num2str(m_op_mode_active->get_code()));
    m_main_machine_state = REFRESHING_ASYNC_BASED_OP_MODE;
}

void Axis_Descriptor::wait_for_op_mode_refreshed()
{
    if (!m_op_mode_active->is_all_async_vecs_updated())
        return;
    log_inf("[axis descriptor] is_all_async_vecs_updated " + num2str(m_op_mode_active->get_code()));
    go_to_working_state();
}

// ---- quick stop --------------------------------------------------------------------

void Axis_Descriptor::quick_stop_ask_fault_reset()
{
    const bool start = start_requested();
    if (!(start || reset_requested()) ||
        !(m_axis_type == AXIS_YASKAWA || m_op_mode_active == nullptr || m_op_mode_active->is_all_async_vecs_updated()))
        return;
    if (m_axis_type == AXIS_YASKAWA)
        m_control_word.dby = static_cast<uint16_t>(m_control_word.dby & ~CW_HALT);
    if (start)
        m_cmd_request = -1;
    m_control_word.dby = static_cast<uint16_t>(m_control_word.dby | CW_FAULT_RESET);
    log_inf("[axis descriptor]  - ... fault RESET required ... state[STATE_QUICK_STOP_ACTIVE]");
    m_main_machine_state = STATE_WAIT_FAULT_RESET;
}

void Axis_Descriptor::quick_stop_read_last_error()
{
    m_framework->refresh_async_input_ex(m_async_in_last_error_id);
    log_inf("[axis descriptor]  - ... fault RESET required ... state[STATE_WAIT_FAULT_RESET]");
    m_state_machine_wait_counter = 0;
    m_main_machine_state = STATE_RESTORE_FROM_QSA;
}

void Axis_Descriptor::quick_stop_check_restored()
{
    ++m_state_machine_wait_counter;
    if (m_framework->is_async_input_refresh_ex(m_async_in_last_error_id, nullptr) == 0)
        return;
    const int32_t err = m_framework->get_async_input_ex<int>(m_async_in_last_error_id);
    if (m_axis_type == AXIS_INGENIA && (m_status_word.dby & SW_FAULT) == 0) {
        log_inf("[axis descriptor]  - ... fault RESET completed (" + num2str(err) +
                ")... INGENIA axis: state[STATE_RESTORE_FROM_QSA --> STATE_GOING_TO_SW_ON_DIS_FROM_QSA]");
        m_main_machine_state = STATE_GOING_TO_SW_ON_DIS_FROM_QSA;
    } else if (m_axis_type != AXIS_INGENIA && err == 0) {
        log_inf("[axis descriptor]  - ... fault RESET completed (" + num2str(err) +
                ")... state[STATE_RESTORE_FROM_QSA --> STATE_GOING_TO_OP_ENABLE_FROM_QSA]");
        if (reset_requested())
            reinit_op_mode();
        m_state_machine_wait_counter = 0;
        m_main_machine_state = STATE_GOING_TO_OP_ENABLE_FROM_QSA;
    } else {
        log_inf("[axis descriptor]  - ... fault RESET NOT completed (" + num2str(err) +
                ")... state[STATE_RESTORE_FROM_QSA --> STATE_RESTORE_FROM_QSA]");
        m_framework->refresh_async_input_ex(m_async_in_last_error_id);
    }
}

void Axis_Descriptor::quick_stop_enable_operation()
{
    const bool reset = reset_requested();
    // A reset enables the drive only once its mode is cleared: the old
    // mode's set-point (a target velocity) would set it moving again.
    if (reset && !operation_mode_taken()) {
        ++m_state_machine_wait_counter;
        return;
    }
    m_control_word.dby = CW_CMD_ENABLE_OPERATION;
    if ((m_status_word.dby & SW_QUICK_STOP) == 0)
        return;
    if (reset) {
        log_inf(
            "[axis descriptor]  - ... QUICK STOP restored ... reinit_op_mode and go to "
            "STATE_WAIT_OPERATION_ENABLED]");
        // The reset ends here: kept pending it would re-enable a later fault unasked.
        // Its mode was cleared before the enable (STATE_RESTORE_FROM_QSA).
        m_cmd_request = -1;
        m_main_machine_state = STATE_WAIT_OPERATION_ENABLED;
    } else {
        set_new_op_mode();
        m_cmd_request = m_cmds_protocol->start_procedure;
        log_inf(
            "[axis descriptor]  - ... QUICK STOP restored ... state[STATE_GOING_TO_OP_ENABLE_FROM_QSA "
            "--> SETTING_OP_MODE]");
    }
}

void Axis_Descriptor::quick_stop_disable_to_switch_on_disabled()
{
    m_control_word.dby = CW_CMD_DISABLE_VOLTAGE;
    if ((m_status_word.dby & SW_SWITCH_ON_DISABLED) == 0 || !reset_requested())
        return;
    log_inf(
        "[axis descriptor]  - ... QUICK STOP restored ... reinit_op_mode and go to "
        "STATE_SWITCH_ON_DISABLED]");
    m_cmd_request = -1;
    reinit_op_mode();
    m_main_machine_state = STATE_SWITCH_ON_DISABLED;
}

// ---- running -----------------------------------------------------------------------

void Axis_Descriptor::running_wait_for_start()
{
    if (!start_requested())
        return;
    m_cmd_request = -1;
    log_inf("[axis descriptor] - start procedure required --> process activated ;)");
    start_procedure();
    m_main_machine_state = STATE_PRE_RUNNING;
}

void Axis_Descriptor::running_check_pre_running()
{
    ++m_state_machine_wait_counter;
    if (control_pre_running())
        m_main_machine_state = STATE_IS_RUNNING;
}

void Axis_Descriptor::running_follow_procedure()
{
    if (is_virtual())
        return;
    if (m_op_mode_active != nullptr)
        m_control_word = m_op_mode_active->get_specific_control_word_when_procedure_is_in_progress(m_control_word);
    if (!control_procedure_finished())
        return;
    log_inf("[axis descriptor: " + num2str(m_axis_number) + " ] - procedure is finished --> back to working state");
    back_to_working_state_from_running();
}

void Axis_Descriptor::back_to_working_state_from_running()
{
    m_is_last_command_completed = true;
    m_main_machine_state = STATE_WORKING;
    if (m_op_mode_active == nullptr)
        return;
    m_control_word = m_op_mode_active->get_specific_control_word_when_procedure_is_finished(m_control_word);
    if (m_axis_type == AXIS_INGENIA) {
        const std::string label = m_op_mode_active->get_label();
        if (label == "homing" || label == "profile_pos")
            reset_axis_setpoints(true, true);
        else if (label == "profile_vel")
            reset_axis_setpoints(true, false);
    }
}

void Axis_Descriptor::back_to_idle_state_from_halt()
{
    log_inf("[axis descriptor :: " + num2str(m_axis_number) +
            "][back_to_idle_state_from_halt] :: go to STATE_OPERATION_MODE_IDLE state");
    reinit_op_mode();
    m_main_machine_state = STATE_OPERATION_MODE_IDLE;
    m_state_machine_wait_counter = 0;
}

bool Axis_Descriptor::control_procedure_finished()
{
    if (m_op_mode_active == nullptr || !m_op_mode_active->is_procedure_finished(m_status_word))
        return false;
    log_inf("[axis descriptor][control_procedure_finished] ax :: " + num2str(m_axis_number) + " procedure is finished");
    return true;
}
