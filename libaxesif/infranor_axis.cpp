#include "infranor_axis.h"

#include "pad_hex.h"
#include "xelo_log.h"

namespace {
std::map<int32_t, std::string> infranor_error_texts()
{
    return {
        {0x0000, "No Error"},
        {0x2230, "IGBT module"},
        {0x2310, "Overcurrent"},
        {0x2350, "I2t error"},
        {0x3210, "Overvoltage"},
        {0x3220, "Undervolt"},
        {0x4210, "Power Module over-temperature"},
        {0x4290, "Motor Temperature error"},
        {0x5080, "Hardware System 2 Error"},
        {0x5090, "Fan failure"},
        {0x50A0, "System error"},
        {0x50A1, "Manufacturer parameters error"},
        {0x50B2, "Extension Error or Fieldbus hardware error"},
        {0x50B3, "Extension Error or Fieldbus hardware error"},
        {0x5112, "24 Volt Error"},
        {0x5210, "Current measurement offset"},
        {0x5220, "Watchdog error"},
        {0x6181, "Internal Communication 1 error"},
        {0x6182, "Internal Communication 2 Error"},
        {0x6190, "System Parameters Error"},
        {0x6280, "User Software"},
        {0x6282, "User Code Error"},
        {0x6320, "Configuration error"},
        {0x7110, "Braking system error"},
        {0x7120, "Motor Brake Error"},
        {0x7303, "Resolver tracking error"},
        {0x7305, "Encoder counting error"},
        {0x7580, "CAN Extension Module communication lost or not found"},
        {0x7600, "SD card error"},
        {0x8130, "Fieldbus guarding error"},
        {0x8181, "Extension Error or Fieldbus watchdog error"},
        {0x8300, "reserved"},
        {0x8400, "Velocity Speed following error"},
        {0x8611, "Position following error"},
        {0x8680, "Software Position Limit"},
        {0x8780, "Fieldbus SYNC cycle error"},
        {0x8782, "Fieldbus IP reference underflow/overflow"},
        {0x9081, "Safety channel 1 (STO) Error"},
        {0x9082, "Safety channel 2 Error"},
        {0xFF10, "Stop Operation failed or speed/position monitoring failed"},
        {0xFF80, "Power Stage Controller Error"},
        {0xFFA0, "Busy"},
        {0xFFA2, "Procedure error (Auto-tuning, auto-phasing...)"},
    };
}
}  // namespace

Infranor_Axis::Infranor_Axis(int axes_manager_id, int axis_id, Framework_Shared_Memory_Manager* fw_ptr,
                             Framework_Cmd_Client* fw_cmd_client_pntr)
    : Axis(axes_manager_id, axis_id, fw_ptr, fw_cmd_client_pntr), m_error_code_to_string_map(infranor_error_texts())
{
    log_inf("[Infranor_Axis] :: configuring " + m_name + " as Infranor axis");
}

std::string Infranor_Axis::get_error_string()
{
    const int code = get_error_code();
    const auto found = m_error_code_to_string_map.find(code);
    if (found != m_error_code_to_string_map.end())
        return found->second;
    return "[Infranor_Axis][get_error_string] :: error string not found for error 0x" +
           pad_hex(static_cast<uint32_t>(code), 4);
}
