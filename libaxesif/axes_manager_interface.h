#pragma once

// The client side of an axes manager (axmand): Axes_Manager_Interface binds
// to one manager through the framework, reads the manager's and the axes'
// status and sends commands on the manager's command channel "axmngr_<m>";
// Axis is its view of one axis, with one derived class per drive family.

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "axesif_export.h"
#include "framework_cmd_channel.h"
#include "framework_group.h"

class Framework_Shared_Memory_Manager;

// Motion requests in user units (raw = value x the axis's raw-per-unit factor).
// Plain records: the script interface passes them by value and in arrays.
struct Axes_Manager_Target_Position {
    double position;
    double velocity;
    double acceleration;
};

struct Axes_Manager_Target_Velocity {
    double velocity;
    double acceleration;
};

struct Axes_Manager_Homing {
    int8_t method;  // CiA 402 homing method
    double zero_search_velocity;
    double switch_search_velocity;
    double acceleration;
};

static_assert(offsetof(Axes_Manager_Target_Position, acceleration) == 2 * sizeof(double), "record layout");
static_assert(offsetof(Axes_Manager_Target_Velocity, acceleration) == sizeof(double), "record layout");
static_assert(offsetof(Axes_Manager_Homing, zero_search_velocity) == alignof(double), "record layout");

class AXESIF_API Axis {
public:
    Axis(int axes_manager_id, int axis_id, Framework_Shared_Memory_Manager* fw_ptr,
         Framework_Cmd_Client* fw_cmd_client_pntr);
    virtual ~Axis();
    Axis(const Axis&) = delete;
    Axis& operator=(const Axis&) = delete;

    void refresh_ex();
    double get_actual_position_ex();
    double get_actual_velocity_ex();
    int get_axis_status();
    uint16_t get_status_word_ex();

    // Command data of the next "start_procedure"; nothing is sent.
    void set_op_mode(const std::string& label);
    void set_profile_pos_parameters(const Axes_Manager_Target_Position& target, bool is_relative);
    void set_profile_vel_parameters(const Axes_Manager_Target_Velocity& target);
    void set_homing_parameters(const Axes_Manager_Homing& homing);
    void set_axis_interpolated_mode();
    // Writes the position (truncated, no scaling) to the output "iprec1";
    // throws on an axis whose drive class has no such output.
    void set_axis_next_interp_position(double position);

    virtual int get_error_code();
    virtual std::string get_error_string();
    virtual double get_info_max_vel();
    virtual double get_info_max_acc();
    virtual int get_info_homing_method();
    virtual double get_info_homing_vel();
    virtual double get_info_homing_acc();
    virtual double get_info_homing_switch_vel();
    virtual std::string get_axis_type_as_string();
    virtual int get_info_pos_resolution();
    virtual int get_info_vel_resolution();
    virtual int get_info_acc_resolution();
    virtual int get_info_user_unit();
    virtual int get_digital_output();
    virtual int get_info_rated_current();
    virtual float get_info_max_current();
    virtual void set_digital_output(int value);
    virtual void set_cfg_max_current(float value);
    virtual bool is_limit_switch_detected();
    virtual bool is_safety_active();
    virtual bool is_positive_limit_switch_detected();
    virtual bool is_negative_limit_switch_detected();
    virtual int get_actual_current_std();
    virtual int get_actual_torque_std();

protected:
    // "ax_<n>" + suffix: a datum of the manager's command channel.
    std::string datum_label(const std::string& suffix) const;
    // Logs "[Axis][<name>] <name> not supported for this axis type".
    static void not_supported(const char* name);

    int32_t m_id;
    int32_t m_axes_manager_id;
    std::string m_name;
    Framework_Input_Group m_inputs_group;
    Framework_Input* m_actual_pos = nullptr;
    Framework_Input* m_actual_vel = nullptr;
    Framework_Input* m_status_word = nullptr;
    Framework_Input* m_position_raw_per_unit = nullptr;
    Framework_Input* m_velocity_raw_per_unit = nullptr;
    Framework_Input* m_acceleration_raw_per_unit = nullptr;
    Framework_Input* m_error_code = nullptr;
    Framework_Input* m_positive_limit_switch_detected = nullptr;
    Framework_Input* m_negative_limit_switch_detected = nullptr;
    Framework_Input* m_digital_output_read = nullptr;
    Framework_Input* m_actual_current_std = nullptr;
    Framework_Input* m_actual_torque_std = nullptr;
    Framework_Input* m_axis_status = nullptr;
    Framework_Cmd_Client* m_fw_cmd_client_pntr = nullptr;
    Framework_Output_Group m_outputs_group;
    // False when the framework declares no "<name>_iface_" output for this axis.
    bool m_has_outputs = false;
    Framework_Output* m_iprec1 = nullptr;
    Framework_Output* m_digital_output_write = nullptr;
};

class AXESIF_API Axes_Manager_Interface {
public:
    // States of the command state machine.
    static constexpr int32_t STATE_WAIT_ANSWER = 0;
    static constexpr int32_t STATE_WAIT_LAST_COMMAND_COMPLETED = 1;
    static constexpr int32_t STATE_WAIT_IS_IN_ERROR = 2;
    // A command that could not be sent: its completion is reported once ...
    static constexpr int32_t STATE_SEND_FAILED = 3;
    // ... and then no more.
    static constexpr int32_t STATE_SEND_FAILED_REPORTED = 4;
    static constexpr double DEFAULT_WAIT_ANSWER_TIMEOUT_MS = 0.1;

    explicit Axes_Manager_Interface(int id);
    ~Axes_Manager_Interface();
    Axes_Manager_Interface(const Axes_Manager_Interface&) = delete;
    Axes_Manager_Interface& operator=(const Axes_Manager_Interface&) = delete;

    void setup_ex(Framework_Shared_Memory_Manager* fw);
    void acquire_control_ex();
    // Takes the command channel as its client: false while another holds it.
    [[nodiscard]] bool try_acquire_control_ex();
    void release_control_ex();
    void refresh_ex();
    void set_command_timeout_ms(int ms);

    // Status of the last refresh. Axis numbers outside 0 .. axes - 1 throw
    // std::out_of_range.
    int get_axes_num_ex();
    bool get_is_in_error_ex();
    bool get_is_in_warning_ex();
    int get_axes_manager_status_ex();
    int get_axis_status_ex(int axis);
    std::vector<int> get_axes_status_ex();
    double get_axis_actual_position_ex(int axis);
    std::vector<double> get_axes_actual_position_ex();
    double get_axis_actual_velocity_ex(int axis);
    std::vector<double> get_axes_actual_velocity_ex();
    int get_axis_error_code_ex(int axis);
    std::string get_axis_error_code_as_hex_string_ex(int axis);
    std::string get_axis_error_string_ex(int axis);
    bool is_any_limit_switch_detected();
    bool is_any_safety_active();

    double get_info_max_vel(int axis);
    double get_info_max_acc(int axis);
    double get_info_homing_vel(int axis);
    double get_info_homing_acc(int axis);
    double get_info_homing_switch_vel(int axis);
    int get_info_homing_method(int axis);
    int get_info_pos_resolution(int axis);
    int get_info_vel_resolution(int axis);
    int get_info_acc_resolution(int axis);
    int get_info_user_unit(int axis);
    int get_digital_output(int axis);
    int get_info_rated_current(int axis);
    int get_actual_current_std(int axis);
    int get_actual_torque_std(int axis);
    float get_info_max_current(int axis);
    bool is_axis_positive_limit_switch_detected(int axis);
    bool is_axis_negative_limit_switch_detected(int axis);
    std::string get_axis_type_as_string(int axis);
    void set_digital_output(int axis, int value);
    void set_cfg_max_current(int axis, float value);

    // Commands. A command that cannot be sent is logged, ends at once as
    // failed (see is_last_command_completed) and leaves its error in
    // get_last_send_error.
    void reset_ex();
    void perform_quickstop_for_all_axes_ex();
    void perform_detorque_for_all_axes_ex();
    void refresh_info();
    void update_cfg();
    void move_axis_to_absolute_target_position_ex(int axis, const Axes_Manager_Target_Position& target);
    void move_axis_to_relative_target_position_ex(int axis, const Axes_Manager_Target_Position& target);
    void move_axes_to_absolute_target_position_ex(const std::vector<Axes_Manager_Target_Position>& targets);
    void move_axes_to_relative_target_position_ex(const std::vector<Axes_Manager_Target_Position>& targets);
    void move_axis_to_target_velocity_ex(int axis, const Axes_Manager_Target_Velocity& target);
    void move_axes_to_target_velocity_ex(const std::vector<Axes_Manager_Target_Velocity>& targets);
    void do_axis_homing_ex(int axis, const Axes_Manager_Homing& homing);
    void do_axes_homing_ex(const std::vector<Axes_Manager_Homing>& homings);
    void set_axes_interpolated_mode();
    void set_axes_next_interp_position(const std::vector<double>& positions);

    // One step of the command state machine: true once when the last command
    // has ended (answered, completed, refused with the error flag set, or not
    // sent at all).
    bool is_last_command_completed();
    // True once the manager has answered the last command (positively for a
    // command that continues, or with a refusal).
    bool is_last_command_acknowledged();
    // True when the manager refused the last command (until the next one).
    bool is_last_command_refused();
    // The error of the last send, empty when it was sent.
    std::string get_last_send_error();

    // Axes that loops and checks cover: the smaller of "axes_number" and the
    // axes built (0 before setup_ex).
    int axes_count_ex();

private:
    Axis& axis_ex(int axis, const char* method);
    template <typename Record>
    void check_entries_ex(const std::vector<Record>& records, const char* method);
    void take_untaken_answer_locked();
    void send_command_locked(int code);
    void send_named_command(const char* name);
    std::string head(const char* method) const;

    int32_t m_id;
    std::string m_name;
    Framework_Cmd_Client m_fw_cmd_client;
    Framework_Input_Group m_inputs_group;
    Framework_Input* m_axes_number = nullptr;
    Framework_Input* m_is_last_command_completed = nullptr;
    Framework_Input* m_is_in_error = nullptr;
    Framework_Input* m_axes_manager_status = nullptr;
    Framework_Input* m_first_axis_in_error = nullptr;  // optional
    std::vector<Axis*> m_axes;
    int32_t m_command_machine_state = STATE_WAIT_ANSWER;
    int32_t m_last_cmd_id = 0;
    bool m_answer_outstanding = false;  // the last command was sent and its answer not taken
    int32_t m_cmd_timeout_ms = 0;
    std::string m_last_send_error;
    std::mutex m_command_mutex;  // the command state and the channel's command data
};
