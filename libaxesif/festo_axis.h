#pragma once

#include "axes_manager_interface.h"

// Festo drives: a 32-bit error code, limit-switch inputs, the interpolation
// output "iprec1" and the information values of the last "get_info".
class AXESIF_API Festo_Axis : public Axis {
public:
    Festo_Axis(int axes_manager_id, int axis_id, Framework_Shared_Memory_Manager* fw_ptr,
               Framework_Cmd_Client* fw_cmd_client_pntr);
    Festo_Axis(const Festo_Axis&) = delete;
    Festo_Axis& operator=(const Festo_Axis&) = delete;

    // Codes made by the library: one limit switch alone under the warning bit.
    static constexpr int NEGATIVE_LIMIT_SWITCH = 1;
    static constexpr int POSITIVE_LIMIT_SWITCH = 2;

    int get_error_code() override;
    double get_info_max_vel() override;
    double get_info_max_acc() override;
    int get_info_homing_method() override;
    double get_info_homing_vel() override;
    double get_info_homing_acc() override;
    double get_info_homing_switch_vel() override;
    std::string get_axis_type_as_string() override;
    int get_info_pos_resolution() override;
    int get_info_vel_resolution() override;
    int get_info_acc_resolution() override;
    int get_info_user_unit() override;
    bool is_limit_switch_detected() override;
    bool is_positive_limit_switch_detected() override;
    bool is_negative_limit_switch_detected() override;
};
