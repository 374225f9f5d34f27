// Axis descriptor: the CiA 402 state machine, one step per cycle.

#include <cstdint>
#include <stdexcept>

#include "axis_descriptor.h"
#include "axmand_log.h"
#include "xelo_framework_shm_manager.h"
#include "xelo_string_functions.h"

using XELO_String_Functions::num2str;

namespace {
constexpr uint16_t SW_FAULT = 0x08;
constexpr uint16_t SW_QUICK_STOP = 0x20;
constexpr uint16_t SW_SWITCH_ON_DISABLED = 0x40;
constexpr uint16_t CW_HALT = 0x100;
constexpr uint16_t CW_FAULT_RESET = 0x80;

// The drive's power states as its status word reports them (state bits under
// their mask): a power-up step waits for the state it asked for, so a status
// word from before a detorque or a fault never passes for the answer.
struct Power_State_Pattern {
    uint16_t mask;
    uint16_t value;
};
constexpr Power_State_Pattern SWITCH_ON_DISABLED{0x4F, 0x40};
constexpr Power_State_Pattern READY_TO_SWITCH_ON{0x6F, 0x21};
constexpr Power_State_Pattern SWITCHED_ON{0x6F, 0x23};
constexpr Power_State_Pattern OPERATION_ENABLED{0x6F, 0x27};

bool reports(uint16_t sw, Power_State_Pattern state)
{
    return (sw & state.mask) == state.value;
}
}  // namespace

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
    m_control_word.dby = 0x0F;
    m_main_machine_state = STATE_WORKING;
    if (m_op_mode_active != nullptr)
        m_op_mode_active->clear_all_async_updated_flags();
    m_state_machine_wait_counter = 0;
}

void Axis_Descriptor::run_state_handler()
{
    const uint16_t sw = m_status_word.dby;
    const bool reset = m_cmd_request == m_cmds_protocol->reset;
    const bool start = m_cmd_request == m_cmds_protocol->start_procedure;
    const std::string axis = num2str(m_axis_number);

    switch (m_main_machine_state) {
    case STATE_FAULT:
        m_state_machine_wait_counter = 0;
        if (reset) {
            m_cmd_request = -1;
            log_inf("[axis descriptor]  - reset from fault required ...");
            reinit_op_mode();
            m_main_machine_state = RESET_FAULT;
        }
        break;
    case RESET_FAULT:
        if (is_virtual()) {
            m_main_machine_state = STATE_IS_RUNNING;
            break;
        }
        log_inf("[axes descriptor] ax :: " + axis + " reset fault start");
        m_control_word.dby = CW_FAULT_RESET;
        m_state_machine_wait_counter = 0;
        m_main_machine_state = STATE_SWITCH_ON_DISABLED;
        break;
    case STATE_INIT:
        if (reset) {
            reinit_op_mode();
            m_cmd_request = -1;
            log_inf("[axis descriptor] ax :: " + axis + " - enable drive requested ");
            m_main_machine_state = RESET_FAULT;
        }
        break;
    case STATE_WAIT_READ_INFO: {
        bool done = true;
        for (const Async_Input& input : m_async_info_vec)
            done = done && input.is_update_completed();
        if (done) {
            m_main_machine_state = m_main_machine_state_pre_ext_request;
            log_inf("\t\t STATE_WAIT_READ_INFO completed, return to machine state " + num2str(m_main_machine_state));
        }
        break;
    }
    case STATE_SEND_CFG_DATA: {
        bool done = true;
        for (const Async_Output& output : m_async_cfg_data_vec)
            done = done && output.is_update_completed();
        if (done) {
            m_main_machine_state = m_main_machine_state_pre_ext_request;
            log_inf("\t\t STATE_SEND_CFG_DATA completed, return to machine state " + num2str(m_main_machine_state));
        }
        break;
    }
    case STATE_SWITCH_ON_DISABLED:
        ++m_state_machine_wait_counter;
        if (reports(sw, SWITCH_ON_DISABLED)) {
            log_inf("\t[axis descriptor] ax :: " + axis + " switch on disable reached");
            m_control_word.dby = 0x06;
            m_state_machine_wait_counter = 0;
            m_main_machine_state = STATE_READY_TO_SWITCH_ON;
        } else if (reports(sw, READY_TO_SWITCH_ON)) {
            m_state_machine_wait_counter = 0;
            m_main_machine_state = STATE_READY_TO_SWITCH_ON;
        }
        break;
    case STATE_READY_TO_SWITCH_ON:
        m_control_word.dby = 0x06;
        ++m_state_machine_wait_counter;
        if (reports(sw, READY_TO_SWITCH_ON)) {
            log_inf("\t[axis descriptor] ax :: " + axis + " ready to switch on reached");
            m_control_word.dby = 0x07;
            m_state_machine_wait_counter = 0;
            m_main_machine_state = STATE_SWITCH_ON;
        }
        break;
    case STATE_SWITCH_ON:
        m_control_word.dby = 0x07;
        ++m_state_machine_wait_counter;
        if (reports(sw, SWITCHED_ON) && operation_mode_taken()) {
            log_inf("\t[axis descriptor] ax :: " + axis + " switch on");
            m_control_word.dby = 0x0F;
            m_state_machine_wait_counter = 0;
            m_main_machine_state = STATE_WAIT_OPERATION_ENABLED;
            reinit_op_mode();
        }
        break;
    case STATE_WAIT_OPERATION_ENABLED:
        ++m_state_machine_wait_counter;
        if (reports(sw, OPERATION_ENABLED)) {
            m_main_machine_state = STATE_OPERATION_MODE_IDLE;
            log_inf(coloured(axmand_colour::BOLD_GREEN, "[axis descriptor] drive enabled "));
            m_state_machine_wait_counter = 0;
        }
        break;
    case STATE_WAIT_HALT_REACHED:
        if (m_op_mode_active == nullptr || !m_op_mode_active->is_axis_moving(m_status_word, m_axis_type))
            back_to_idle_state_from_halt();
        break;
    case SETTING_OP_MODE:
        log_inf("\t\t[axis descriptor] state setting_op_mode");
        if (m_framework->is_async_output_set_ex(m_async_out_operation_mode_id, nullptr) != 0) {
            m_framework->refresh_async_input_ex(m_async_in_operation_mode_id);
            m_main_machine_state = CHANGING_OP_MODE;
        }
        break;
    case CHANGING_OP_MODE: {
        const int desired = m_op_mode_desired != nullptr ? m_op_mode_desired->get_code() : 0;
        log_inf("[axis descriptor] changing op mode :: m_async_in_operation_mode  --> m_op_mode_desired :: " +
                num2str(desired));
        if (m_framework->is_async_input_refresh_ex(m_async_in_operation_mode_id, nullptr) == 0)
            break;
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
        break;
    }
    case START_REFRESH_ASYNC_BASED_OP_MODE:
        m_op_mode_active->set_all_async_output();
        m_op_mode_active->refresh_all_async_input();
        log_inf("[axis descriptor] start async output refresh " + num2str(m_op_mode_active->get_code()));
        m_main_machine_state = REFRESHING_ASYNC_BASED_OP_MODE;
        break;
    case REFRESHING_ASYNC_BASED_OP_MODE:
        if (m_op_mode_active->is_all_async_vecs_updated()) {
            log_inf("[axis descriptor] is_all_async_vecs_updated " + num2str(m_op_mode_active->get_code()));
            go_to_working_state();
        }
        break;
    case STATE_QUICK_STOP_ACTIVE:
        if ((start || reset) && (m_axis_type == AXIS_YASKAWA || m_op_mode_active == nullptr ||
                                 m_op_mode_active->is_all_async_vecs_updated())) {
            if (m_axis_type == AXIS_YASKAWA)
                m_control_word.dby = static_cast<uint16_t>(m_control_word.dby & ~CW_HALT);
            if (start)
                m_cmd_request = -1;
            m_control_word.dby = static_cast<uint16_t>(m_control_word.dby | CW_FAULT_RESET);
            log_inf("[axis descriptor]  - ... fault RESET required ... state[STATE_QUICK_STOP_ACTIVE]");
            m_main_machine_state = STATE_WAIT_FAULT_RESET;
        }
        break;
    case STATE_WAIT_FAULT_RESET:
        m_framework->refresh_async_input_ex(m_async_in_last_error_id);
        log_inf("[axis descriptor]  - ... fault RESET required ... state[STATE_WAIT_FAULT_RESET]");
        m_state_machine_wait_counter = 0;
        m_main_machine_state = STATE_RESTORE_FROM_QSA;
        break;
    case STATE_RESTORE_FROM_QSA: {
        ++m_state_machine_wait_counter;
        if (m_framework->is_async_input_refresh_ex(m_async_in_last_error_id, nullptr) == 0)
            break;
        const int32_t err = m_framework->get_async_input_ex<int>(m_async_in_last_error_id);
        if (m_axis_type == AXIS_INGENIA && (sw & SW_FAULT) == 0) {
            log_inf("[axis descriptor]  - ... fault RESET completed (" + num2str(err) +
                    ")... INGENIA axis: state[STATE_RESTORE_FROM_QSA --> STATE_GOING_TO_SW_ON_DIS_FROM_QSA]");
            m_main_machine_state = STATE_GOING_TO_SW_ON_DIS_FROM_QSA;
        } else if (m_axis_type != AXIS_INGENIA && err == 0) {
            log_inf("[axis descriptor]  - ... fault RESET completed (" + num2str(err) +
                    ")... state[STATE_RESTORE_FROM_QSA --> STATE_GOING_TO_OP_ENABLE_FROM_QSA]");
            if (reset)
                reinit_op_mode();
            m_state_machine_wait_counter = 0;
            m_main_machine_state = STATE_GOING_TO_OP_ENABLE_FROM_QSA;
        } else {
            log_inf("[axis descriptor]  - ... fault RESET NOT completed (" + num2str(err) +
                    ")... state[STATE_RESTORE_FROM_QSA --> STATE_RESTORE_FROM_QSA]");
            m_framework->refresh_async_input_ex(m_async_in_last_error_id);
        }
        break;
    }
    case STATE_GOING_TO_OP_ENABLE_FROM_QSA:
        // A reset enables the drive only once its mode is cleared: the old
        // mode's set-point (a target velocity) would set it moving again.
        if (reset && !operation_mode_taken()) {
            ++m_state_machine_wait_counter;
            break;
        }
        m_control_word.dby = 0x0F;
        if (sw & SW_QUICK_STOP) {
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
        break;
    case STATE_WORKING:
        if (start) {
            m_cmd_request = -1;
            log_inf("[axis descriptor] - start procedure required --> process activated ;)");
            start_procedure();
            m_main_machine_state = STATE_PRE_RUNNING;
        }
        break;
    case STATE_PRE_RUNNING:
        ++m_state_machine_wait_counter;
        if (control_pre_running())
            m_main_machine_state = STATE_IS_RUNNING;
        break;
    case STATE_IS_RUNNING:
        if (is_virtual())
            break;
        if (m_op_mode_active != nullptr)
            m_control_word = m_op_mode_active->get_specific_control_word_when_procedure_is_in_progress(m_control_word);
        if (control_procedure_finished()) {
            log_inf("[axis descriptor: " + axis + " ] - procedure is finished --> back to working state");
            back_to_working_state_from_running();
        }
        break;
    case STATE_GOING_TO_SW_ON_DIS_FROM_QSA:
        m_control_word.dby = 0x00;
        if ((sw & SW_SWITCH_ON_DISABLED) && reset) {
            log_inf(
                "[axis descriptor]  - ... QUICK STOP restored ... reinit_op_mode and go to "
                "STATE_SWITCH_ON_DISABLED]");
            m_cmd_request = -1;
            reinit_op_mode();
            m_main_machine_state = STATE_SWITCH_ON_DISABLED;
        }
        break;
    default: break;
    }
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
