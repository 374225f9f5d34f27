#pragma once

#include <map>

#include "axes_manager_interface.h"

// Infranor drives: a text for each error code.
class AXESIF_API Infranor_Axis : public Axis {
public:
    Infranor_Axis(int axes_manager_id, int axis_id, Framework_Shared_Memory_Manager* fw_ptr,
                  Framework_Cmd_Client* fw_cmd_client_pntr);
    Infranor_Axis(const Infranor_Axis&) = delete;
    Infranor_Axis& operator=(const Infranor_Axis&) = delete;

    std::string get_error_string() override;

private:
    const std::map<int32_t, std::string> m_error_code_to_string_map;
};
