#pragma once

#include <cstdint>
#include <mutex>
#include <type_traits>
#include <vector>

namespace rtde_client {

// Every output variable of the robot controller, in one record: a getter
// that copies the value under update_state_mutex_ and a setter that stores
// it without the lock. A writer brackets the setters of one package with
// lockUpdateStateMutex and unlockUpdateStateMutex, so that every getter sees
// either the old or the new package.
class RobotState {
public:
    RobotState() = default;
    virtual ~RobotState() = default;
    RobotState(const RobotState&) = delete;
    RobotState& operator=(const RobotState&) = delete;

    bool lockUpdateStateMutex();
    bool unlockUpdateStateMutex();

private:
    template <typename T>
    using Setter_Argument = std::conditional_t<std::is_scalar_v<T>, T, const T&>;

    // type, field name without the trailing underscore, accessor suffix
#define ROBOT_STATE_FIELDS(ROBOT_STATE_FIELD)                                                    \
    ROBOT_STATE_FIELD(double, timestamp, Timestamp)                                              \
    ROBOT_STATE_FIELD(std::vector<double>, target_q, Target_q)                                   \
    ROBOT_STATE_FIELD(std::vector<double>, target_qd, Target_qd)                                 \
    ROBOT_STATE_FIELD(std::vector<double>, target_qdd, Target_qdd)                               \
    ROBOT_STATE_FIELD(std::vector<double>, target_current, Target_current)                       \
    ROBOT_STATE_FIELD(std::vector<double>, target_moment, Target_moment)                         \
    ROBOT_STATE_FIELD(std::vector<double>, actual_q, Actual_q)                                   \
    ROBOT_STATE_FIELD(std::vector<double>, actual_qd, Actual_qd)                                 \
    ROBOT_STATE_FIELD(std::vector<double>, actual_current, Actual_current)                       \
    ROBOT_STATE_FIELD(std::vector<double>, joint_control_output, Joint_control_output)           \
    ROBOT_STATE_FIELD(std::vector<double>, actual_TCP_pose, Actual_TCP_pose)                     \
    ROBOT_STATE_FIELD(std::vector<double>, actual_TCP_speed, Actual_TCP_speed)                   \
    ROBOT_STATE_FIELD(std::vector<double>, actual_TCP_force, Actual_TCP_force)                   \
    ROBOT_STATE_FIELD(std::vector<double>, target_TCP_pose, Target_TCP_pose)                     \
    ROBOT_STATE_FIELD(std::vector<double>, target_TCP_speed, Target_TCP_speed)                   \
    ROBOT_STATE_FIELD(uint64_t, actual_digital_input_bits, Actual_digital_input_bits)            \
    ROBOT_STATE_FIELD(std::vector<double>, joint_temperatures, Joint_temperatures)               \
    ROBOT_STATE_FIELD(double, actual_execution_time, Actual_execution_time)                      \
    ROBOT_STATE_FIELD(int32_t, robot_mode, Robot_mode)                                           \
    ROBOT_STATE_FIELD(uint32_t, robot_status, Robot_status)                                      \
    ROBOT_STATE_FIELD(uint32_t, safety_status_bits, Safety_status_bits)                          \
    ROBOT_STATE_FIELD(std::vector<int32_t>, joint_mode, Joint_mode)                              \
    ROBOT_STATE_FIELD(int32_t, safety_mode, Safety_mode)                                         \
    ROBOT_STATE_FIELD(std::vector<double>, actual_tool_accelerometer, Actual_tool_accelerometer) \
    ROBOT_STATE_FIELD(double, speed_scaling, Speed_scaling)                                      \
    ROBOT_STATE_FIELD(double, target_speed_fraction, Target_speed_fraction)                      \
    ROBOT_STATE_FIELD(double, actual_momentum, Actual_momentum)                                  \
    ROBOT_STATE_FIELD(double, actual_main_voltage, Actual_main_voltage)                          \
    ROBOT_STATE_FIELD(double, actual_robot_voltage, Actual_robot_voltage)                        \
    ROBOT_STATE_FIELD(double, actual_robot_current, Actual_robot_current)                        \
    ROBOT_STATE_FIELD(std::vector<double>, actual_joint_voltage, Actual_joint_voltage)           \
    ROBOT_STATE_FIELD(uint64_t, actual_digital_output_bits, Actual_digital_output_bits)          \
    ROBOT_STATE_FIELD(uint32_t, runtime_state, Runtime_state)                                    \
    ROBOT_STATE_FIELD(double, standard_analog_input_0, Standard_analog_input_0)                  \
    ROBOT_STATE_FIELD(double, standard_analog_input_1, Standard_analog_input_1)                  \
    ROBOT_STATE_FIELD(double, standard_analog_output_0, Standard_analog_output_0)                \
    ROBOT_STATE_FIELD(double, standard_analog_output_1, Standard_analog_output_1)                \
    ROBOT_STATE_FIELD(uint32_t, output_bit_registers0_to_31, Output_bit_registers0_to_31)        \
    ROBOT_STATE_FIELD(uint32_t, output_bit_registers32_to_63, Output_bit_registers32_to_63)      \
    ROBOT_STATE_FIELD(int32_t, output_int_register_0, Output_int_register_0)                     \
    ROBOT_STATE_FIELD(int32_t, output_int_register_1, Output_int_register_1)                     \
    ROBOT_STATE_FIELD(int32_t, output_int_register_2, Output_int_register_2)                     \
    ROBOT_STATE_FIELD(int32_t, output_int_register_3, Output_int_register_3)                     \
    ROBOT_STATE_FIELD(int32_t, output_int_register_4, Output_int_register_4)                     \
    ROBOT_STATE_FIELD(int32_t, output_int_register_5, Output_int_register_5)                     \
    ROBOT_STATE_FIELD(int32_t, output_int_register_6, Output_int_register_6)                     \
    ROBOT_STATE_FIELD(int32_t, output_int_register_7, Output_int_register_7)                     \
    ROBOT_STATE_FIELD(int32_t, output_int_register_8, Output_int_register_8)                     \
    ROBOT_STATE_FIELD(int32_t, output_int_register_9, Output_int_register_9)                     \
    ROBOT_STATE_FIELD(int32_t, output_int_register_10, Output_int_register_10)                   \
    ROBOT_STATE_FIELD(int32_t, output_int_register_11, Output_int_register_11)                   \
    ROBOT_STATE_FIELD(int32_t, output_int_register_12, Output_int_register_12)                   \
    ROBOT_STATE_FIELD(int32_t, output_int_register_13, Output_int_register_13)                   \
    ROBOT_STATE_FIELD(int32_t, output_int_register_14, Output_int_register_14)                   \
    ROBOT_STATE_FIELD(int32_t, output_int_register_15, Output_int_register_15)                   \
    ROBOT_STATE_FIELD(int32_t, output_int_register_16, Output_int_register_16)                   \
    ROBOT_STATE_FIELD(int32_t, output_int_register_17, Output_int_register_17)                   \
    ROBOT_STATE_FIELD(int32_t, output_int_register_18, Output_int_register_18)                   \
    ROBOT_STATE_FIELD(int32_t, output_int_register_19, Output_int_register_19)                   \
    ROBOT_STATE_FIELD(int32_t, output_int_register_20, Output_int_register_20)                   \
    ROBOT_STATE_FIELD(int32_t, output_int_register_21, Output_int_register_21)                   \
    ROBOT_STATE_FIELD(int32_t, output_int_register_22, Output_int_register_22)                   \
    ROBOT_STATE_FIELD(int32_t, output_int_register_23, Output_int_register_23)                   \
    ROBOT_STATE_FIELD(int32_t, output_int_register_24, Output_int_register_24)                   \
    ROBOT_STATE_FIELD(int32_t, output_int_register_25, Output_int_register_25)                   \
    ROBOT_STATE_FIELD(int32_t, output_int_register_26, Output_int_register_26)                   \
    ROBOT_STATE_FIELD(int32_t, output_int_register_27, Output_int_register_27)                   \
    ROBOT_STATE_FIELD(int32_t, output_int_register_28, Output_int_register_28)                   \
    ROBOT_STATE_FIELD(int32_t, output_int_register_29, Output_int_register_29)                   \
    ROBOT_STATE_FIELD(int32_t, output_int_register_30, Output_int_register_30)                   \
    ROBOT_STATE_FIELD(int32_t, output_int_register_31, Output_int_register_31)                   \
    ROBOT_STATE_FIELD(int32_t, output_int_register_32, Output_int_register_32)                   \
    ROBOT_STATE_FIELD(int32_t, output_int_register_33, Output_int_register_33)                   \
    ROBOT_STATE_FIELD(int32_t, output_int_register_34, Output_int_register_34)                   \
    ROBOT_STATE_FIELD(int32_t, output_int_register_35, Output_int_register_35)                   \
    ROBOT_STATE_FIELD(int32_t, output_int_register_36, Output_int_register_36)                   \
    ROBOT_STATE_FIELD(int32_t, output_int_register_37, Output_int_register_37)                   \
    ROBOT_STATE_FIELD(int32_t, output_int_register_38, Output_int_register_38)                   \
    ROBOT_STATE_FIELD(int32_t, output_int_register_39, Output_int_register_39)                   \
    ROBOT_STATE_FIELD(int32_t, output_int_register_40, Output_int_register_40)                   \
    ROBOT_STATE_FIELD(int32_t, output_int_register_41, Output_int_register_41)                   \
    ROBOT_STATE_FIELD(int32_t, output_int_register_42, Output_int_register_42)                   \
    ROBOT_STATE_FIELD(int32_t, output_int_register_43, Output_int_register_43)                   \
    ROBOT_STATE_FIELD(int32_t, output_int_register_44, Output_int_register_44)                   \
    ROBOT_STATE_FIELD(int32_t, output_int_register_45, Output_int_register_45)                   \
    ROBOT_STATE_FIELD(int32_t, output_int_register_46, Output_int_register_46)                   \
    ROBOT_STATE_FIELD(int32_t, output_int_register_47, Output_int_register_47)                   \
    ROBOT_STATE_FIELD(double, output_double_register_0, Output_double_register_0)                \
    ROBOT_STATE_FIELD(double, output_double_register_1, Output_double_register_1)                \
    ROBOT_STATE_FIELD(double, output_double_register_2, Output_double_register_2)                \
    ROBOT_STATE_FIELD(double, output_double_register_3, Output_double_register_3)                \
    ROBOT_STATE_FIELD(double, output_double_register_4, Output_double_register_4)                \
    ROBOT_STATE_FIELD(double, output_double_register_5, Output_double_register_5)                \
    ROBOT_STATE_FIELD(double, output_double_register_6, Output_double_register_6)                \
    ROBOT_STATE_FIELD(double, output_double_register_7, Output_double_register_7)                \
    ROBOT_STATE_FIELD(double, output_double_register_8, Output_double_register_8)                \
    ROBOT_STATE_FIELD(double, output_double_register_9, Output_double_register_9)                \
    ROBOT_STATE_FIELD(double, output_double_register_10, Output_double_register_10)              \
    ROBOT_STATE_FIELD(double, output_double_register_11, Output_double_register_11)              \
    ROBOT_STATE_FIELD(double, output_double_register_12, Output_double_register_12)              \
    ROBOT_STATE_FIELD(double, output_double_register_13, Output_double_register_13)              \
    ROBOT_STATE_FIELD(double, output_double_register_14, Output_double_register_14)              \
    ROBOT_STATE_FIELD(double, output_double_register_15, Output_double_register_15)              \
    ROBOT_STATE_FIELD(double, output_double_register_16, Output_double_register_16)              \
    ROBOT_STATE_FIELD(double, output_double_register_17, Output_double_register_17)              \
    ROBOT_STATE_FIELD(double, output_double_register_18, Output_double_register_18)              \
    ROBOT_STATE_FIELD(double, output_double_register_19, Output_double_register_19)              \
    ROBOT_STATE_FIELD(double, output_double_register_20, Output_double_register_20)              \
    ROBOT_STATE_FIELD(double, output_double_register_21, Output_double_register_21)              \
    ROBOT_STATE_FIELD(double, output_double_register_22, Output_double_register_22)              \
    ROBOT_STATE_FIELD(double, output_double_register_23, Output_double_register_23)              \
    ROBOT_STATE_FIELD(double, output_double_register_24, Output_double_register_24)              \
    ROBOT_STATE_FIELD(double, output_double_register_25, Output_double_register_25)              \
    ROBOT_STATE_FIELD(double, output_double_register_26, Output_double_register_26)              \
    ROBOT_STATE_FIELD(double, output_double_register_27, Output_double_register_27)              \
    ROBOT_STATE_FIELD(double, output_double_register_28, Output_double_register_28)              \
    ROBOT_STATE_FIELD(double, output_double_register_29, Output_double_register_29)              \
    ROBOT_STATE_FIELD(double, output_double_register_30, Output_double_register_30)              \
    ROBOT_STATE_FIELD(double, output_double_register_31, Output_double_register_31)              \
    ROBOT_STATE_FIELD(double, output_double_register_32, Output_double_register_32)              \
    ROBOT_STATE_FIELD(double, output_double_register_33, Output_double_register_33)              \
    ROBOT_STATE_FIELD(double, output_double_register_34, Output_double_register_34)              \
    ROBOT_STATE_FIELD(double, output_double_register_35, Output_double_register_35)              \
    ROBOT_STATE_FIELD(double, output_double_register_36, Output_double_register_36)              \
    ROBOT_STATE_FIELD(double, output_double_register_37, Output_double_register_37)              \
    ROBOT_STATE_FIELD(double, output_double_register_38, Output_double_register_38)              \
    ROBOT_STATE_FIELD(double, output_double_register_39, Output_double_register_39)              \
    ROBOT_STATE_FIELD(double, output_double_register_40, Output_double_register_40)              \
    ROBOT_STATE_FIELD(double, output_double_register_41, Output_double_register_41)              \
    ROBOT_STATE_FIELD(double, output_double_register_42, Output_double_register_42)              \
    ROBOT_STATE_FIELD(double, output_double_register_43, Output_double_register_43)              \
    ROBOT_STATE_FIELD(double, output_double_register_44, Output_double_register_44)              \
    ROBOT_STATE_FIELD(double, output_double_register_45, Output_double_register_45)              \
    ROBOT_STATE_FIELD(double, output_double_register_46, Output_double_register_46)              \
    ROBOT_STATE_FIELD(double, output_double_register_47, Output_double_register_47)

#define ROBOT_STATE_DECLARE(type, name, Name)                  \
public:                                                        \
    type get##Name() const                                     \
    {                                                          \
        std::lock_guard<std::mutex> lock(update_state_mutex_); \
        return name##_;                                        \
    }                                                          \
    void set##Name(Setter_Argument<type> value)                \
    {                                                          \
        name##_ = value;                                       \
    }                                                          \
                                                               \
private:                                                       \
    type name##_{};

    ROBOT_STATE_FIELDS(ROBOT_STATE_DECLARE)
#undef ROBOT_STATE_DECLARE

    mutable std::mutex update_state_mutex_;
};

}  // namespace rtde_client
