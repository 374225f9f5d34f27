#pragma once

#include <map>

#include "axes_manager_interface.h"

// Ingenia drives: a 32-bit signed error code with its text, a digital-output
// word both ways, current and torque, and the information and configuration
// values exchanged with "get_info" and "cfg_data".
class AXESIF_API Ingenia_Axis : public Axis {
public:
    Ingenia_Axis(int axes_manager_id, int axis_id, Framework_Shared_Memory_Manager* fw_ptr,
                 Framework_Cmd_Client* fw_cmd_client_pntr);
    Ingenia_Axis(const Ingenia_Axis&) = delete;
    Ingenia_Axis& operator=(const Ingenia_Axis&) = delete;

    int get_error_code() override;
    std::string get_error_string() override;
    double get_info_max_vel() override;
    double get_info_max_acc() override;
    std::string get_axis_type_as_string() override;
    int get_digital_output() override;
    int get_info_rated_current() override;
    float get_info_max_current() override;
    void set_digital_output(int value) override;
    void set_cfg_max_current(float value) override;
    int get_actual_current_std() override;
    int get_actual_torque_std() override;

private:
    const std::map<int32_t, std::string> m_error_code_to_string_map;
};
