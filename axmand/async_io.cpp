#include "async_io.h"

#include <stdexcept>

#include "axmand_log.h"
#include "xelo_framework_shm_manager.h"
#include "xelo_string_functions.h"

using XELO_String_Functions::num2str;

Async_Base::Async_Base(Framework_Shared_Memory_Manager* framework, const std::string& label,
                       const std::string& axmngr_prefix, uint32_t cmd_channel_id)
    : m_async_label(label), m_axmgr_cmd_channel_id(static_cast<int32_t>(cmd_channel_id)), m_framework(framework),
      m_value_from_cmd_label(label.substr(axmngr_prefix.size() + 1))  // a shorter label: std::out_of_range
{
}

void Async_Base::set_update_todo()
{
    if (!m_async_being_updated)
        m_async_must_be_updated = true;
}

void Async_Base::clear_update_flags()
{
    m_async_must_be_updated = false;
    m_async_being_updated = false;
}

bool Async_Base::is_update_completed() const
{
    return !m_async_must_be_updated && !m_async_being_updated;
}

std::ostream& operator<<(std::ostream& stream, const Async_Base& object)
{
    return stream << " m_async_id: " << object.m_async_id << " m_async_label: " << object.m_async_label
                  << " m_value_from_cmd_label: " << object.m_value_from_cmd_label
                  << " m_value_from_cmd_id_: " << object.m_value_from_cmd_id << "\n";
}

// ---- inputs -----------------------------------------------------------------------------

Async_Input::Async_Input(Framework_Shared_Memory_Manager* framework, const std::string& label,
                         const std::string& axmngr_prefix, uint32_t cmd_channel_id, const std::string& axis_prefix)
    : Async_Base(framework, label, axmngr_prefix, cmd_channel_id)
{
    (void)axis_prefix;
    m_async_id = m_framework->get_async_input_id_ex(m_async_label);
    m_value_type = m_framework->get_async_input_type_ex(m_async_id);
    m_value_from_cmd_id = m_framework->get_cmd_data_id_to_send_ex(m_axmgr_cmd_channel_id, m_value_from_cmd_label);
}

void Async_Input::update_ex()
{
    if (m_async_must_be_updated && m_async_being_updated)
        throw std::runtime_error("Async_Input not valid state: " + num2str(m_async_id));
    if (m_async_must_be_updated) {
        m_framework->refresh_async_input_ex(m_async_id);
        m_async_must_be_updated = false;
        m_async_being_updated = true;
    } else if (m_async_being_updated) {
        if (m_framework->is_async_input_refresh_ex(m_async_id, nullptr) != 0) {
            get_async_input_base_value();
            clear_update_flags();
        }
    }
}

Value* Async_Input::get_async_input_base_value()
{
    const int32_t channel = m_axmgr_cmd_channel_id;
    switch (m_value_type) {
    case INT8_FSM:
        m_value.i8 = m_framework->get_async_input_ex<signed char>(m_async_id);
        m_framework->set_answ_data_ex<signed char>(channel, m_value_from_cmd_id, m_value.i8);
        break;
    case UINT8_FSM:
        m_value.ui8 = m_framework->get_async_input_ex<unsigned char>(m_async_id);
        m_framework->set_answ_data_ex<unsigned char>(channel, m_value_from_cmd_id, m_value.ui8);
        break;
    case INT16_FSM:
        m_value.i16 = m_framework->get_async_input_ex<short>(m_async_id);
        m_framework->set_answ_data_ex<short>(channel, m_value_from_cmd_id, m_value.i16);
        break;
    case UINT16_FSM:
        m_value.ui16 = m_framework->get_async_input_ex<unsigned short>(m_async_id);
        m_framework->set_answ_data_ex<unsigned short>(channel, m_value_from_cmd_id, m_value.ui16);
        break;
    case INT32_FSM:
        m_value.i32 = m_framework->get_async_input_ex<int>(m_async_id);
        m_framework->set_answ_data_ex<int>(channel, m_value_from_cmd_id, m_value.i32);
        break;
    case UINT32_FSM:
        m_value.ui32 = m_framework->get_async_input_ex<unsigned int>(m_async_id);
        m_framework->set_answ_data_ex<unsigned int>(channel, m_value_from_cmd_id, m_value.ui32);
        break;
    case FLOAT_FSM:
        m_value.flt32 = m_framework->get_async_input_ex<float>(m_async_id);
        m_framework->set_answ_data_ex<float>(channel, m_value_from_cmd_id, m_value.flt32);
        break;
    default: log_err("[async input manager] Error type on param :: " + m_async_label + " m_value "); break;
    }
    return &m_value;
}

// ---- outputs ----------------------------------------------------------------------------

Async_Output::Async_Output(Framework_Shared_Memory_Manager* framework, const std::string& label,
                           const std::string& axmngr_prefix, uint32_t cmd_channel_id, const std::string& axis_prefix)
    : Async_Base(framework, label, axmngr_prefix, cmd_channel_id)
{
    (void)axis_prefix;
    m_previous_value = m_value;
    m_async_id = m_framework->get_async_output_id_ex(m_async_label);
    m_value_type = m_framework->get_async_output_type_ex(m_async_id);
    m_value_from_cmd_id = m_framework->get_cmd_data_id_to_recv_ex(m_axmgr_cmd_channel_id, m_value_from_cmd_label);
}

void Async_Output::clear_update_flags()
{
    Async_Base::clear_update_flags();
    m_is_previous_value_updated = false;
}

void Async_Output::update_ex()
{
    if (m_async_must_be_updated && m_async_being_updated)
        throw std::runtime_error("Async_Output not valid state: " + num2str(m_async_id));
    if (m_async_must_be_updated) {
        m_async_must_be_updated = false;
        m_async_being_updated = true;
        set_async_output_base();
    } else if (m_async_being_updated) {
        if (m_framework->is_async_output_set_ex(m_async_id, nullptr) != 0) {
            Async_Base::clear_update_flags();
            m_previous_value = m_value;
            m_is_previous_value_updated = true;
        }
    }
}

void Async_Output::set_async_output_base()
{
    const std::string param = "[async output manager] param :: " + m_async_label;
    if (m_is_previous_value_updated && m_previous_value.ui32 == m_value.ui32) {
        log_inf(param + " m_value == m_previous_value -> NOTHING TO DO");
        m_async_being_updated = false;
        return;
    }
    m_is_previous_value_updated = false;
    const int32_t channel = m_axmgr_cmd_channel_id;
    switch (m_value_type) {
    case INT8_FSM:
        m_value.i8 = m_framework->get_cmd_data_ex<signed char>(channel, m_value_from_cmd_id);
        m_framework->set_async_output_ex<signed char>(m_async_id, m_value.i8);
        log_inf(param + " m_value INT8_FSM:: " + num2str(static_cast<int>(m_value.i8)));
        break;
    case UINT8_FSM:
        m_value.ui8 = m_framework->get_cmd_data_ex<unsigned char>(channel, m_value_from_cmd_id);
        m_framework->set_async_output_ex<unsigned char>(m_async_id, m_value.ui8);
        log_inf(param + " m_value UINT8_FSM :: " + num2str(static_cast<unsigned>(m_value.ui8)));
        break;
    case INT16_FSM:
        m_value.i16 = m_framework->get_cmd_data_ex<short>(channel, m_value_from_cmd_id);
        m_framework->set_async_output_ex<short>(m_async_id, m_value.i16);
        log_inf(param + " m_value INT16_FSM:: " + num2str(static_cast<int>(m_value.i16)));
        break;
    case UINT16_FSM:
        m_value.ui16 = m_framework->get_cmd_data_ex<unsigned short>(channel, m_value_from_cmd_id);
        m_framework->set_async_output_ex<unsigned short>(m_async_id, m_value.ui16);
        log_inf(param + " m_value UINT16_FSM:: " + num2str(static_cast<unsigned>(m_value.ui16)));
        break;
    case INT32_FSM:
        m_value.i32 = m_framework->get_cmd_data_ex<int>(channel, m_value_from_cmd_id);
        m_framework->set_async_output_ex<int>(m_async_id, m_value.i32);
        log_inf(param + " m_value INT32_FSM:: " + num2str(m_value.i32));
        break;
    case UINT32_FSM:
        m_value.ui32 = m_framework->get_cmd_data_ex<unsigned int>(channel, m_value_from_cmd_id);
        m_framework->set_async_output_ex<unsigned int>(m_async_id, m_value.ui32);
        log_inf(param + " m_value UINT32_FSM:: " + num2str(m_value.ui32));
        break;
    case FLOAT_FSM:
        m_value.flt32 = m_framework->get_cmd_data_ex<float>(channel, m_value_from_cmd_id);
        m_framework->set_async_output_ex<float>(m_async_id, m_value.flt32);
        log_inf(param + " m_value FLOAT_FSM:: " + num2str(m_value.flt32));
        break;
    default:
        // Nothing can be written; the update completes so that its owner is not held forever.
        log_err("[async output manager] Error type on param :: " + m_async_label + " m_value ");
        m_async_being_updated = false;
        break;
    }
}
