#pragma once

#include "axes_manager_interface.h"

// Yaskawa drives: a limit switch without an error code is reported as 0x9A0
// unless the safety input (status word bit 15) is active.
class AXESIF_API Yaskawa_Axis : public Axis {
public:
    Yaskawa_Axis(int axes_manager_id, int axis_id, Framework_Shared_Memory_Manager* fw_ptr,
                 Framework_Cmd_Client* fw_cmd_client_pntr);
    Yaskawa_Axis(const Yaskawa_Axis&) = delete;
    Yaskawa_Axis& operator=(const Yaskawa_Axis&) = delete;

    static constexpr int LIMIT_SWITCH_ERROR = 0x9A0;

    int get_error_code() override;
    bool is_safety_active() override;
};
