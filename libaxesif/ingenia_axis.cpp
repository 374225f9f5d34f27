#include "ingenia_axis.h"

#include "framework_input.h"
#include "framework_output.h"
#include "pad_hex.h"
#include "xelo_log.h"

namespace {
std::map<int32_t, std::string> ingenia_error_texts()
{
    return {
        {0x0000, "No Error"},
        {0x1001, "Communications watchdog error"},
        {0x2280, "Over-current detected (internal drive limit)"},
        {0x2282, "Current A sensing reached upper saturation limit"},
        {0x2283, "Current A sensing reached lower saturation limit"},
        {0x2284, "Current B sensing reached upper saturation limit"},
        {0x2285, "Current B sensing reached lower saturation limit"},
        {0x2286, "Current C sensing reached upper saturation limit"},
        {0x2287, "Current C sensing reached lower saturation limit"},
        {0x2288, "User I2T limit detected without current control"},
        {0x2289, "Over-current detected (user limit) without current control"},
        {0x228A, "System I2T detected"},
        {0x228B, "Derating without current control"},
        {0x3210, "Over-voltage detected (internal drive limit)"},
        {0x3211, "Over-voltage detected (redundant internal drive limit)"},
        {0x3221, "Under-voltage detected (internal drive limit)"},
        {0x3231, "Over-voltage detected (user limit)"},
        {0x3241, "Under-voltage detected (user limit)"},
        {0x3280, "STO is enabled"},
        {0x3281, "STO supply fault"},
        {0x3282, "STO abnormal fault"},
        {0x3290, "Input stage problem"},
        {0x4300, "Over-Temperature detected (internal drive limit)"},
        {0x4301, "Under-Temperature detected (internal drive limit)"},
        {0x4303, "Over-temperature detected (user limit)"},
        {0x4304, "Under-temperature detected (user limit)"},
        {0x4305, "Wrong ADC measurements detection"},
        {0x4400, "Motor Over Temperature detected"},
        {0x4500, "External fault"},
        {0x7370, "Halls sequence error"},
        {0x7371, "Halls combination error"},
        {0x7372, "Feedback runaway error"},
        {0x7380, "Too many incorrect invalid position flags detected in SSI/BiSS-C readings"},
        {0x7381, "BiSS-C warning bit active"},
        {0x7382, "Too many incorrect CRC checks in SSI/BiSS-C readings"},
        {0x7384, "Absolute encoder error bit active without exceeding error tolerance"},
        {0x7385, "Position out of limits out of position modes"},
        {0x7386, "Velocity out of limits out of velocity or position modes"},
        {0x7387, "In a position mode, following error overcomes the position following error window"},
        {0x7388, "In a velocity mode, following error overcomes the velocity following error window"},
        {0x738B, "Trapezoidal commutation without digital halls not allowed"},
        {0x7390, "Interpolation time is too small when PVT is enabled"},
        {0x7391, "Profiler parameters not valid. They should all have positive values"},
        {0x7400, "Unsupported synchronization method"},
        {0x7500, "Number of active feedbacks is higher than allowed"},
        {0x8100, "Communication\u2013generic or CAN overrun (objects lost)"},
        {0x8120, "CAN in error passive mode"},
        {0x8130, "Life guard error or heartbeat error"},
        {0x8140, "Recovered from bus off"},
        {0x8210, "PDO not processed due to length error"},
        {0x8220, "PDO length exceeded"},
        {0x8240, "Unexpected SYNC data length"},
        {0x8250, "RPDO timeout"},
        {0xFF42, "EtherCAT cable disconnected"},
        {0x05040000, "COMKIT Timeout. CORE device is not properly connected"},
        {0x06010000, "Incorrect access type"},
        {0x06020000, "Object does not exist"},
        {0x06040041, "Object isn't cyclic mappable as requested"},
        {0x06040042, "Cyclic mapping is too large"},
        {0x06070010, "Mapped cyclic register size is wrong"},
        {0x06090011, "Sub-Index does not exist"},
        {0x060A0000, "Unsupported value introduced in register"},
        {0x08000000, "Read / Write operation not executed"},
        {0x08010000, "Cyclic mapping key is wrong"},
        {0x08010010, "Communication state is unreachable"},
        {0x08010020, "Communication setting is not modifiable in the current state"},
        {0x08010030, "Invalid command"},
        {0x08010040, "CRC error"},
        {0x10004500, "External warning"},
    };
}
}  // namespace

Ingenia_Axis::Ingenia_Axis(int axes_manager_id, int axis_id, Framework_Shared_Memory_Manager* fw_ptr,
                           Framework_Cmd_Client* fw_cmd_client_pntr)
    : Axis(axes_manager_id, axis_id, fw_ptr, fw_cmd_client_pntr), m_error_code_to_string_map(ingenia_error_texts())
{
    m_digital_output_read = m_inputs_group.get_group_input_ptr("digital_output_read");
    m_digital_output_write = m_outputs_group.get_group_output_ptr("digital_output_write");
    m_actual_current_std = m_inputs_group.get_group_input_ptr("actual_current_std");
    m_actual_torque_std = m_inputs_group.get_group_input_ptr("actual_torque_std");
    log_inf("[Ingenia_Axis] :: configuring " + m_name + " as Ingenia axis");
}

int Ingenia_Axis::get_error_code()
{
    return m_error_code->get_value_ex<int32_t>();
}

std::string Ingenia_Axis::get_error_string()
{
    const int code = get_error_code();
    const auto found = m_error_code_to_string_map.find(code);
    if (found != m_error_code_to_string_map.end())
        return found->second;
    return "[Ingenia_Axis][get_error_string] :: error string not found for error 0x" +
           pad_hex(static_cast<uint32_t>(code), 8);
}

double Ingenia_Axis::get_info_max_vel()
{
    return m_fw_cmd_client_pntr->get_answ_data_ex<uint32_t>(datum_label("_info_maximum_velocity"));
}

double Ingenia_Axis::get_info_max_acc()
{
    return m_fw_cmd_client_pntr->get_answ_data_ex<uint32_t>(datum_label("_info_maximum_acceleration"));
}

std::string Ingenia_Axis::get_axis_type_as_string()
{
    return "ingenia";
}

int Ingenia_Axis::get_digital_output()
{
    return static_cast<int>(m_digital_output_read->get_value_ex<uint32_t>());
}

int Ingenia_Axis::get_info_rated_current()
{
    return static_cast<int>(m_fw_cmd_client_pntr->get_answ_data_ex<uint32_t>(datum_label("_info_rated_current")));
}

float Ingenia_Axis::get_info_max_current()
{
    return m_fw_cmd_client_pntr->get_answ_data_ex<float>(datum_label("_info_maximum_current"));
}

void Ingenia_Axis::set_digital_output(int value)
{
    m_digital_output_write->set_value_ex<uint32_t>(static_cast<uint32_t>(value));
}

void Ingenia_Axis::set_cfg_max_current(float value)
{
    m_fw_cmd_client_pntr->set_cmd_data_ex<float>(datum_label("_cfg_data_maximum_current"), value);
}

int Ingenia_Axis::get_actual_current_std()
{
    return m_actual_current_std->get_value_ex<int16_t>();
}

int Ingenia_Axis::get_actual_torque_std()
{
    return m_actual_torque_std->get_value_ex<int16_t>();
}
