#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "async_io.h"
#include "bitset_convertor.h"
#include "global_define.h"
#include "op_modes.h"

class Framework_Shared_Memory_Manager;

// The manager's command codes, filled by name from the command table.
struct Cmd_Protocol_S {
    int8_t none = 0;
    int8_t reset = 0;
    int8_t start_procedure = 0;
    int8_t detorque = 0;
    int8_t quick_stop = 0;
    int8_t get_info = 0;
    int8_t send_cfg_data = 0;
};

using StatesNamesMap = std::map<int32_t, std::string>;

// One axis of the manager: binds the axis's framework variables by name,
// exchanges them every cycle (update_ex), and walks the drive through the
// CiA 402 power states, operation-mode changes, procedures, quick stops and
// faults (main_state_machine). Used by the cyclic thread only.
class Axis_Descriptor {
public:
    Axis_Descriptor(Framework_Shared_Memory_Manager* _framework, uint32_t _axis_number,
                    const std::string& _axmngr_prefix, uint32_t _axmngr_cmd_channel_id,
                    const Cmd_Protocol_S* __command_protocol, int32_t _cycle_time_us);
    Axis_Descriptor(const Axis_Descriptor&) = delete;
    Axis_Descriptor& operator=(const Axis_Descriptor&) = delete;

    static const StatesNamesMap __states_names_map;

    void init_ex();
    void update_ex();
    void update_framework();
    int32_t load_input_id_from_framework_ex(const std::string& input_name, bool is_mandatory);
    int32_t load_output_rw_id_from_framework_ex(const std::string& input_name, bool is_mandatory);
    void update_kinematic();
    bool is_last_command_completed() const { return m_is_last_command_completed; }
    // A start_procedure was picked up: the last procedure no longer counts as completed.
    void clear_last_command_completed() { m_is_last_command_completed = false; }
    Axis_Update_State_Machine get_state() const { return m_main_machine_state; }
    void print_sw_bit();
    void print_cw_bit();
    void reinit_op_mode();
    void reset_axis_params();
    void reset_axis_setpoints(bool change_pos, bool change_vel);

    // State machine (one step per cycle).
    void main_state_machine(bool __print_dbg);

    // Requests from the manager.
    void set_new_cmd(int8_t __new_cmd);
    // Only a motion command changes the mode: one the axis lacks faults it.
    void set_new_op_mode();
    void start_procedure();
    void quick_stop_request();
    void detorque_request();
    void go_to_fault_request();
    void control_fault();
    void control_quick_stop_active();
    bool control_pre_running();
    bool is_quick_stop_command_supported() const;

    int32_t m_consecutive_quick_stop = 0;

private:
    // One step of the state machine per cycle: each state's step below.
    void run_state_handler();
    bool reset_requested() const;
    bool start_requested() const;
    void wait_for_reset_in_fault();
    void start_fault_reset();
    void wait_for_enable_request();
    // Power up: switch-on disabled, ready to switch on, switched on,
    // operation enabled, each waited for in the status word.
    void power_up_from_switch_on_disabled();
    void power_up_ready_to_switch_on();
    void power_up_switch_on();
    void power_up_wait_operation_enabled();
    void wait_for_info_read();
    void wait_for_cfg_data_sent();
    void wait_for_halt_reached();
    void wait_for_op_mode_set();
    void check_op_mode_changed();
    void start_op_mode_refresh();
    void wait_for_op_mode_refreshed();
    // Out of quick stop: a fault reset, the last error read, then the
    // drive enabled again (or through switch-on disabled for INGENIA).
    void quick_stop_ask_fault_reset();
    void quick_stop_read_last_error();
    void quick_stop_check_restored();
    void quick_stop_enable_operation();
    void quick_stop_disable_to_switch_on_disabled();
    void running_wait_for_start();
    void running_check_pre_running();
    void running_follow_procedure();
    void handle_setpoint_reset();
    void back_to_working_state_from_running();
    void back_to_idle_state_from_halt();
    bool control_procedure_finished();
    void go_to_working_state();
    bool quick_stop_gate(bool with_confirmation) const;
    bool quick_stop_condition();
    bool fault_gate_skips() const;
    std::string state_name(int32_t state) const;
    bool timed_out() const;
    // The last operation-mode write has reached the drive (always, for a
    // virtual axis): enabling before it would run the old mode's set-point.
    bool operation_mode_taken();
    bool is_virtual() const { return m_axis_type == AXIS_VIRTUAL; }
    // The steps of init_ex: a mode that cannot be made is left out with a
    // warning; the words, modes and set-points are mandatory.
    template <typename Mode>
    void load_op_mode(const std::string& label, const char* name);
    void load_op_modes();
    void load_words_and_modes_ex();
    void load_ingenia_set_points_ex();
    void find_async_info();
    void find_async_cfg_data();
    OpMode_Base* mode_by_label(const std::string& label) const;

    int32_t m_state_machine_wait_counter = 0;
    int32_t m_actual_pos_raw = 0;
    int32_t m_actual_pos_raw_id = -1;
    int32_t m_actual_pos_raw_old = 0;
    int32_t m_actual_vel_raw = 0;
    int32_t m_actual_vel_raw_id = -1;
    int32_t m_async_in_operation_mode_id = -1;
    int32_t m_async_out_operation_mode_id = -1;
    int32_t m_async_in_last_error_id = -1;
    int32_t m_async_profile_pos_target_pos_id = -1;
    int32_t m_async_profile_vel_target_vel_id = -1;
    std::vector<Async_Input> m_async_info_vec;
    std::vector<Async_Output> m_async_cfg_data_vec;
    uint32_t m_axis_number;
    uint32_t m_axes_manager_cmd_channel_id;
    std::string m_axes_manager_prefix_str;
    std::string m_axes_manager_prefix_str_and_axis_prefix_str;
    int32_t m_axis_status_id = -1;
    int8_t m_axis_type = 0;
    int32_t m_axis_type_id = -1;
    int8_t m_cmd_request = -1;
    const Cmd_Protocol_S* m_cmds_protocol;
    bitsetConvertor_cw m_control_word{};
    int32_t m_control_word_id = -1;
    bitsetConvertor_cw m_control_word_old{};
    Framework_Shared_Memory_Manager* m_framework;
    int8_t m_incoming_cmd_opmode_code_request_id = -1;
    Axis_Update_State_Machine m_main_machine_state = STATE_FAULT;
    Axis_Update_State_Machine m_main_machine_state_pre_ext_request = STATE_FAULT;
    Axis_Update_State_Machine m_main_machine_state_old = STATE_FAULT;
    OpMode_Base* m_op_mode_active = nullptr;
    OpMode_Base* m_op_mode_desired = nullptr;
    std::map<std::string, std::unique_ptr<OpMode_Base>> m_op_modes;
    bitsetConvertor_sw m_status_word{};
    int32_t m_status_word_id = -1;
    bitsetConvertor_sw m_status_word_old{};
    int32_t m_target_pos_raw_checked = 0;
    int32_t m_changing_op_mode_wait_counter = 0;
    int32_t m_axis_cycle_time_us;
    int32_t m_quickstop_ack_counter = 0;
    bool m_is_last_command_completed = false;
    bool m_is_setpoint_reset_required = false;
    bool m_words_reported = false;  // the _old words hold a reported pair
};
