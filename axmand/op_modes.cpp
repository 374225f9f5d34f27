#include "op_modes.h"

#include <sstream>
#include <stdexcept>

#include "axmand_log.h"
#include "cia402_bits.h"
#include "global_define.h"
#include "xelo_framework_shm_manager.h"
#include "xelo_string_functions.h"

using XELO_String_Functions::num2str;

using namespace cia402;

namespace {
constexpr int FM_MAX_ASYNC = 10000;

bitsetConvertor_cw word(uint16_t value)
{
    bitsetConvertor_cw cw;
    cw.dby = value;
    return cw;
}

template <typename Object>
std::string printed(const Object& object)
{
    std::ostringstream text;
    text << object;
    return text.str();
}
}  // namespace

OpMode_Base::OpMode_Base(Framework_Shared_Memory_Manager* framework, const std::string& label,
                         const std::string& axmngr_prefix, int32_t cmd_channel_id, const std::string& axis_prefix)
    : m_axmgr_cmd_channel_id(cmd_channel_id), m_code(static_cast<int8_t>(op_mode_map.at(label))),
      m_framework(framework), m_label(label)
{
    log_inf("[OpMode_Base] [OpMode_Base()] m_label :: " + label);
    const std::string prefix = axis_prefix + "_" + label;
    for (int id = 0; id < FM_MAX_ASYNC; ++id) {
        std::string async_label;
        try {
            async_label = m_framework->get_async_output_label_ex(id, false);
        } catch (const std::exception&) {
            break;  // past the last asynchronous output
        }
        if (async_label.compare(0, prefix.size(), prefix) == 0) {
            m_async_output_vec.emplace_back(m_framework, async_label, axmngr_prefix,
                                            static_cast<uint32_t>(cmd_channel_id), axis_prefix);
            log_inf("[OpMode_Base] async_output = " + printed(m_async_output_vec.back()));
        }
    }
    for (int id = 0; id < FM_MAX_ASYNC; ++id) {
        std::string async_label;
        try {
            async_label = m_framework->get_async_input_label_ex(id, false);
        } catch (const std::exception&) {
            break;
        }
        if (async_label.compare(0, prefix.size(), prefix) == 0) {
            m_async_input_vec.emplace_back(m_framework, async_label, axmngr_prefix,
                                           static_cast<uint32_t>(cmd_channel_id), axis_prefix);
            log_inf("[OpMode_Base] async_input = " + printed(m_async_input_vec.back()));
        }
    }
}

int32_t OpMode_Base::get_async_input_id(const std::string& label) const
{
    for (const Async_Input& input : m_async_input_vec)
        if (input.get_async_label() == label)
            return input.get_async_id();
    return -1;
}

int32_t OpMode_Base::get_async_output_id(const std::string& label) const
{
    for (const Async_Output& output : m_async_output_vec)
        if (output.get_async_label() == label)
            return output.get_async_id();
    return -1;
}

void OpMode_Base::refresh_all_async_input()
{
    for (Async_Input& input : m_async_input_vec)
        input.set_update_todo();
}

void OpMode_Base::set_all_async_output()
{
    for (Async_Output& output : m_async_output_vec)
        output.set_update_todo();
}

void OpMode_Base::clear_all_async_updated_flags()
{
    for (Async_Input& input : m_async_input_vec)
        input.clear_update_flags();
    for (Async_Output& output : m_async_output_vec)
        output.clear_update_flags();
}

bool OpMode_Base::is_all_async_vecs_updated() const
{
    for (const Async_Input& input : m_async_input_vec)
        if (!input.is_update_completed())
            return false;
    for (const Async_Output& output : m_async_output_vec)
        if (!output.is_update_completed())
            return false;
    return true;
}

void OpMode_Base::update_async_vecs()
{
    for (Async_Input& input : m_async_input_vec) {
        input.update_ex();
        if (!input.is_update_completed())
            break;
    }
    for (Async_Output& output : m_async_output_vec) {
        output.update_ex();
        if (!output.is_update_completed())
            break;
    }
}

void OpMode_Base::update_ex()
{
    try {
        update_async_vecs();
    } catch (const std::exception& e) {
        log_err(coloured(axmand_colour::RED, e.what()));
        throw std::runtime_error(std::string("OpMode_Base::update_ex() error on update_async_vecs(): ") + e.what());
    }
}

// ---- homing -------------------------------------------------------------------------------

OpMode_Homing::OpMode_Homing(Framework_Shared_Memory_Manager* framework, const std::string& axmngr_prefix,
                             int32_t cmd_channel_id, const std::string& axis_prefix)
    : OpMode_Base(framework, "homing", axmngr_prefix, cmd_channel_id, axis_prefix)
{
}

bitsetConvertor_cw OpMode_Homing::get_specific_control_word_when_procedure_is_ready_to_start(bitsetConvertor_cw cw)
{
    return cw;
}

bitsetConvertor_cw OpMode_Homing::get_specific_control_word_to_start_procedure(bitsetConvertor_cw cw,
                                                                               bitsetConvertor_sw sw)
{
    m_status_word_prev = sw;
    pre_running_counter = 0;
    return word(static_cast<uint16_t>(cw.dby | CW_BIT4));
}

bitsetConvertor_cw OpMode_Homing::get_specific_control_word_when_procedure_is_in_progress(bitsetConvertor_cw cw)
{
    return cw;
}

bitsetConvertor_cw OpMode_Homing::get_specific_control_word_when_procedure_is_finished(bitsetConvertor_cw cw)
{
    log_inf("[OpMode_Homing] get_specific_control_word_when_procedure_is_finished");
    return word(static_cast<uint16_t>(cw.dby & ~CW_BIT4));
}

bool OpMode_Homing::is_procedure_started(bitsetConvertor_sw sw)
{
    if ((sw.dby & SW_TARGET_REACHED) == 0)
        return true;  // the drive has left its rest position
    ++pre_running_counter;
    const int32_t elapsed_us =
        static_cast<int32_t>(pre_running_counter * (m_framework->get_master_cycle_time_ns_ex() / 1000u));
    const bool attained = (sw.dby & SW_BIT12) != 0;
    if (elapsed_us > 99999 && attained) {
        log_inf("[OpMode_Homing] procedure_started :: status_word.homing_attained = 1");
        return true;
    }
    log_inf("[OpMode_Homing] is_procedure_started? not yet");
    if (attained && (m_status_word_prev.dby & SW_BIT12) == 0) {
        log_inf(
            "[OpMode_Homing] m_status_word_prev.bs_h.homing_attained == 0 && "
            "_status_word.bs_h.homing_attained == 1 ");
        return true;
    }
    if (attained)
        return false;
    m_status_word_prev = sw;
    log_inf("[OpMode_Homing] m_status_word_prev saved = " + num2str(sw.dby));
    return false;
}

bool OpMode_Homing::is_procedure_finished(bitsetConvertor_sw sw)
{
    if ((sw.dby & (SW_BIT13 | SW_BIT12 | SW_TARGET_REACHED)) != (SW_BIT12 | SW_TARGET_REACHED))
        return false;
    log_inf("[OpMode_Homing] is_procedure_finished? Yes");
    return true;
}

bool OpMode_Homing::is_procedure_in_error(bitsetConvertor_sw sw, int8_t)
{
    return (sw.dby & SW_BIT13) != 0;
}

bool OpMode_Homing::is_axis_moving(bitsetConvertor_sw sw, int8_t)
{
    return !is_procedure_finished(sw);
}

// ---- profile position ---------------------------------------------------------------------

OpMode_Profile_Pos::OpMode_Profile_Pos(Framework_Shared_Memory_Manager* framework, const std::string& axmngr_prefix,
                                       int32_t cmd_channel_id, const std::string& axis_prefix)
    : OpMode_Base(framework, "profile_pos", axmngr_prefix, cmd_channel_id, axis_prefix)
{
    const std::string axis = axis_prefix.substr(axmngr_prefix.size() + 1);  // "ax_<i>"
    m_is_relative_movement_id =
        m_framework->get_cmd_data_id_to_recv_ex(cmd_channel_id, axis + "_" + "profile_pos_is_relative_move");
    m_is_change_target_immediately_id =
        m_framework->get_cmd_data_id_to_recv_ex(cmd_channel_id, axis + "_" + "profile_pos_change_set_immediately");
}

bitsetConvertor_cw OpMode_Profile_Pos::get_specific_control_word_when_procedure_is_ready_to_start(bitsetConvertor_cw cw)
{
    return cw;
}

bitsetConvertor_cw OpMode_Profile_Pos::get_specific_control_word_to_start_procedure(bitsetConvertor_cw cw,
                                                                                    bitsetConvertor_sw sw)
{
    m_status_word_prev = sw;
    uint16_t value = static_cast<uint16_t>((cw.dby | CW_BIT4) & ~(CW_CHANGE_IMMEDIATELY | CW_RELATIVE));
    if (m_framework->get_cmd_data_ex<signed char>(m_axmgr_cmd_channel_id, m_is_change_target_immediately_id) == 1)
        value |= CW_CHANGE_IMMEDIATELY;
    if (m_framework->get_cmd_data_ex<signed char>(m_axmgr_cmd_channel_id, m_is_relative_movement_id) == 1) {
        value |= CW_RELATIVE;
        log_inf("[OpMode_Profile_Pos] _control_word.bs_pp.is_relative = 1");
    }
    return word(value);
}

bitsetConvertor_cw OpMode_Profile_Pos::get_specific_control_word_when_procedure_is_in_progress(bitsetConvertor_cw cw)
{
    return word(static_cast<uint16_t>(cw.dby & ~CW_BIT4));
}

bitsetConvertor_cw OpMode_Profile_Pos::get_specific_control_word_when_procedure_is_finished(bitsetConvertor_cw cw)
{
    log_inf("[OpMode_Profile_Pos] get_specific_control_word_when_procedure_is_finished");
    return word(static_cast<uint16_t>(cw.dby & ~CW_BIT4));
}

bool OpMode_Profile_Pos::is_procedure_started(bitsetConvertor_sw sw)
{
    if (sw.dby & SW_BIT12)
        return true;
    log_inf("[OpMode_Profile_Pos] is_procedure_started? not yet");
    return false;
}

bool OpMode_Profile_Pos::is_procedure_finished(bitsetConvertor_sw sw)
{
    if ((sw.dby & SW_TARGET_REACHED) == 0)
        return false;
    log_inf("[OpMode_Profile_Pos] is_procedure_finished? Yes");
    return true;
}

bool OpMode_Profile_Pos::is_procedure_in_error(bitsetConvertor_sw sw, int8_t)
{
    return (sw.dby & SW_BIT13) != 0;
}

bool OpMode_Profile_Pos::is_axis_moving(bitsetConvertor_sw sw, int8_t)
{
    return !is_procedure_finished(sw);
}

// ---- profile velocity ---------------------------------------------------------------------

OpMode_Profile_Vel::OpMode_Profile_Vel(Framework_Shared_Memory_Manager* framework, const std::string& axmngr_prefix,
                                       int32_t cmd_channel_id, const std::string& axis_prefix)
    : OpMode_Base(framework, "profile_vel", axmngr_prefix, cmd_channel_id, axis_prefix)
{
}

bitsetConvertor_cw OpMode_Profile_Vel::get_specific_control_word_when_procedure_is_ready_to_start(bitsetConvertor_cw cw)
{
    return cw;
}

bitsetConvertor_cw OpMode_Profile_Vel::get_specific_control_word_to_start_procedure(bitsetConvertor_cw cw,
                                                                                    bitsetConvertor_sw sw)
{
    m_status_word_prev = sw;
    return word(static_cast<uint16_t>(cw.dby & ~CW_HALT));
}

bitsetConvertor_cw OpMode_Profile_Vel::get_specific_control_word_when_procedure_is_in_progress(bitsetConvertor_cw cw)
{
    return cw;
}

bitsetConvertor_cw OpMode_Profile_Vel::get_specific_control_word_when_procedure_is_finished(bitsetConvertor_cw cw)
{
    log_inf("[OpMode_Profile_Vel] get_specific_control_word_when_procedure_is_finished");
    return cw;
}

bool OpMode_Profile_Vel::is_procedure_started(bitsetConvertor_sw)
{
    return true;
}

bool OpMode_Profile_Vel::is_procedure_finished(bitsetConvertor_sw sw)
{
    if ((sw.dby & SW_TARGET_REACHED) == 0)
        return false;
    log_inf("[OpMode_Profile_Vel] is_procedure_finished? Yes");
    return true;
}

bool OpMode_Profile_Vel::is_procedure_in_error(bitsetConvertor_sw sw, int8_t axis_type)
{
    return axis_type == AXIS_SCHNEIDER && (sw.dby & SW_BIT13) != 0;
}

bool OpMode_Profile_Vel::is_axis_moving(bitsetConvertor_sw sw, int8_t axis_type)
{
    if (axis_type == AXIS_YASKAWA)
        return (sw.dby & (SW_TARGET_REACHED | SW_BIT12)) != (SW_TARGET_REACHED | SW_BIT12);
    return (sw.dby & SW_BIT12) == 0;
}

// ---- interpolated -------------------------------------------------------------------------

OpMode_Interpolated::OpMode_Interpolated(Framework_Shared_Memory_Manager* framework, const std::string& axmngr_prefix,
                                         int32_t cmd_channel_id, const std::string& axis_prefix)
    : OpMode_Base(framework, "interpolated", axmngr_prefix, cmd_channel_id, axis_prefix)
{
}

bitsetConvertor_cw OpMode_Interpolated::get_specific_control_word_when_procedure_is_ready_to_start(
    bitsetConvertor_cw cw)
{
    return cw;
}

bitsetConvertor_cw OpMode_Interpolated::get_specific_control_word_to_start_procedure(bitsetConvertor_cw cw,
                                                                                     bitsetConvertor_sw)
{
    return word(static_cast<uint16_t>(cw.dby | CW_BIT4));
}

bitsetConvertor_cw OpMode_Interpolated::get_specific_control_word_when_procedure_is_in_progress(bitsetConvertor_cw cw)
{
    return cw;
}

bitsetConvertor_cw OpMode_Interpolated::get_specific_control_word_when_procedure_is_finished(bitsetConvertor_cw cw)
{
    return cw;
}

bool OpMode_Interpolated::is_procedure_started(bitsetConvertor_sw)
{
    return true;
}
bool OpMode_Interpolated::is_procedure_finished(bitsetConvertor_sw)
{
    return false;
}
bool OpMode_Interpolated::is_procedure_in_error(bitsetConvertor_sw, int8_t)
{
    return false;
}
bool OpMode_Interpolated::is_axis_moving(bitsetConvertor_sw, int8_t)
{
    return true;
}
