#include "festo_axis.h"

#include "framework_input.h"
#include "framework_output.h"
#include "xelo_log.h"

Festo_Axis::Festo_Axis(int axes_manager_id, int axis_id, Framework_Shared_Memory_Manager* fw_ptr,
                       Framework_Cmd_Client* fw_cmd_client_pntr)
    : Axis(axes_manager_id, axis_id, fw_ptr, fw_cmd_client_pntr)
{
    m_iprec1 = m_outputs_group.get_group_output_ptr("iprec1");
    m_positive_limit_switch_detected = m_inputs_group.get_group_input_ptr("positive_limit_switch_detected");
    m_negative_limit_switch_detected = m_inputs_group.get_group_input_ptr("negative_limit_switch_detected");
    log_inf("[Festo_Axis] :: configuring " + m_name + " as Festo axis");
}

int Festo_Axis::get_error_code()
{
    const uint16_t status_word = m_status_word->get_value_ex<uint16_t>();
    if ((status_word & 0x0008) != 0) {
        const uint32_t code = m_error_code->get_value_ex<uint32_t>();
        log_inf("[Festo_axis][get_error_code] :: fault bit active: " + std::to_string(code));
        return static_cast<int>(code);
    }
    if ((status_word & 0x0080) != 0) {
        const bool positive = m_positive_limit_switch_detected->get_value_ex<uint8_t>() != 0;
        const bool negative = m_negative_limit_switch_detected->get_value_ex<uint8_t>() != 0;
        const bool limit = (status_word & 0x0800) != 0;
        log_inf(std::string("[Festo_axis][get_error_code] :: warning bit active: pls = ") + (positive ? "1" : "0") +
                "; nls = " + (negative ? "1" : "0") + "; limit_switch_bit = " + (limit ? "1" : "0"));
        if (positive && !negative)
            return POSITIVE_LIMIT_SWITCH;
        if (negative && !positive)
            return NEGATIVE_LIMIT_SWITCH;
        return static_cast<int>(m_error_code->get_value_ex<uint32_t>());
    }
    log_inf("[Festo_axis][get_error_code] :: all is good!");
    return 0;
}

double Festo_Axis::get_info_max_vel()
{
    return m_fw_cmd_client_pntr->get_answ_data_ex<float>(datum_label("_info_max_vel_1"));
}

double Festo_Axis::get_info_max_acc()
{
    return m_fw_cmd_client_pntr->get_answ_data_ex<uint32_t>(datum_label("_info_max_acc_2"));
}

int Festo_Axis::get_info_homing_method()
{
    return m_fw_cmd_client_pntr->get_answ_data_ex<int8_t>(datum_label("_info_preferred_homing_method"));
}

double Festo_Axis::get_info_homing_vel()
{
    return m_fw_cmd_client_pntr->get_answ_data_ex<uint32_t>(datum_label("_info_preferred_homing_vel"));
}

double Festo_Axis::get_info_homing_acc()
{
    return m_fw_cmd_client_pntr->get_answ_data_ex<uint32_t>(datum_label("_info_preferred_homing_acc"));
}

double Festo_Axis::get_info_homing_switch_vel()
{
    return m_fw_cmd_client_pntr->get_answ_data_ex<uint32_t>(datum_label("_info_preferred_homing_switch_vel"));
}

std::string Festo_Axis::get_axis_type_as_string()
{
    return "festo";
}

int Festo_Axis::get_info_pos_resolution()
{
    const int answer = m_fw_cmd_client_pntr->get_answ_data_ex<int8_t>(datum_label("_info_pos_resolution"));
    log_inf("[Festo_axis][get_info_pos_resolution] :: answer = " + std::to_string(answer));
    return answer;
}

int Festo_Axis::get_info_vel_resolution()
{
    const int answer = m_fw_cmd_client_pntr->get_answ_data_ex<int8_t>(datum_label("_info_vel_resolution"));
    log_inf("[Festo_axis][get_info_vel_resolution] :: answer = " + std::to_string(answer));
    return answer;
}

int Festo_Axis::get_info_acc_resolution()
{
    const int answer = m_fw_cmd_client_pntr->get_answ_data_ex<int8_t>(datum_label("_info_acc_resolution"));
    log_inf("[Festo_axis][get_info_acc_resolution] :: answer = " + std::to_string(answer));
    return answer;
}

int Festo_Axis::get_info_user_unit()
{
    const int answer =
        static_cast<int>(m_fw_cmd_client_pntr->get_answ_data_ex<uint32_t>(datum_label("_info_user_unit")));
    log_inf("[Festo_axis][get_info_user_unit] :: answer = " + std::to_string(answer));
    return answer;
}

bool Festo_Axis::is_limit_switch_detected()
{
    const bool any = m_positive_limit_switch_detected->get_value_ex<uint8_t>() != 0 ||
                     m_negative_limit_switch_detected->get_value_ex<uint8_t>() != 0;
    return any && (m_status_word->get_value_ex<uint16_t>() & 0x0800) != 0;
}

bool Festo_Axis::is_positive_limit_switch_detected()
{
    log_inf("[Festo_axis][is_positive_limit_switch_detected] :: check in progress...");
    return m_positive_limit_switch_detected->get_value_ex<uint8_t>() != 0 &&
           (m_status_word->get_value_ex<uint16_t>() & 0x0080) != 0;
}

bool Festo_Axis::is_negative_limit_switch_detected()
{
    log_inf("[Festo_axis][is_negative_limit_switch_detected] ::  check in progress...");
    return m_negative_limit_switch_detected->get_value_ex<uint8_t>() != 0 &&
           (m_status_word->get_value_ex<uint16_t>() & 0x0080) != 0;
}
