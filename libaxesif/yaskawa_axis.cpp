#include "yaskawa_axis.h"

#include "framework_input.h"
#include "xelo_log.h"

Yaskawa_Axis::Yaskawa_Axis(int axes_manager_id, int axis_id, Framework_Shared_Memory_Manager* fw_ptr,
                           Framework_Cmd_Client* fw_cmd_client_pntr)
    : Axis(axes_manager_id, axis_id, fw_ptr, fw_cmd_client_pntr)
{
    log_inf("[Yaskawa_Axis] :: configuring " + m_name + " as Yaskawa axis");
}

int Yaskawa_Axis::get_error_code()
{
    const int code = m_error_code->get_value_ex<uint16_t>();
    if (code == 0 && is_limit_switch_detected() && !is_safety_active())
        return LIMIT_SWITCH_ERROR;
    return code;
}

bool Yaskawa_Axis::is_safety_active()
{
    const uint16_t status_word = m_status_word->get_value_ex<uint16_t>();
    log_inf("[Yaskawa_Axis][is_safety_active] : status_word: " + std::to_string(status_word));
    return (status_word & 0x8000) != 0;
}
