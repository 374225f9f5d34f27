#pragma once

#include "axes_manager_interface.h"

// Schneider drives: information values of the last "get_info".
class AXESIF_API Schneider_Axis : public Axis {
public:
    Schneider_Axis(int axes_manager_id, int axis_id, Framework_Shared_Memory_Manager* fw_ptr,
                   Framework_Cmd_Client* fw_cmd_client_pntr);
    Schneider_Axis(const Schneider_Axis&) = delete;
    Schneider_Axis& operator=(const Schneider_Axis&) = delete;

    double get_info_max_vel() override;
    double get_info_max_acc() override;
    int get_info_homing_method() override;
    std::string get_axis_type_as_string() override;
};
