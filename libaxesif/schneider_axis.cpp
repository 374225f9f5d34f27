#include "schneider_axis.h"

#include "xelo_log.h"

Schneider_Axis::Schneider_Axis(int axes_manager_id, int axis_id, Framework_Shared_Memory_Manager* fw_ptr,
                               Framework_Cmd_Client* fw_cmd_client_pntr)
    : Axis(axes_manager_id, axis_id, fw_ptr, fw_cmd_client_pntr)
{
    log_inf("[Schneider_Axis] :: configuring " + m_name + " as Schneider axis");
}

double Schneider_Axis::get_info_max_vel()
{
    return m_fw_cmd_client_pntr->get_answ_data_ex<uint32_t>(datum_label("_info_maximum_velocity"));
}

double Schneider_Axis::get_info_max_acc()
{
    return m_fw_cmd_client_pntr->get_answ_data_ex<uint32_t>(datum_label("_info_maximum_acceleration"));
}

int Schneider_Axis::get_info_homing_method()
{
    return m_fw_cmd_client_pntr->get_answ_data_ex<int16_t>(datum_label("_info_preferred_homing_method"));
}

std::string Schneider_Axis::get_axis_type_as_string()
{
    return "schneider";
}
