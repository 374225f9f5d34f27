#include "framework_input.h"

#include <stdexcept>

#include "xelo_framework_shm_manager.h"

Framework_Input::Framework_Input(std::string label_text) : Framework_Cyclic_Variable(std::move(label_text)) {}

Framework_Input::~Framework_Input() = default;

int32_t Framework_Input::get_id_ex()
{
    return m_frmk_ptr->get_input_id_ex(m_label);
}

Type_Definition Framework_Input::get_type_ex()
{
    return static_cast<Type_Definition>(m_frmk_ptr->get_input_type_ex(m_id));
}

uint32_t Framework_Input::get_dimension_ex()
{
    return m_frmk_ptr->get_input_dim_ex(m_id);
}

void Framework_Input::setup_ex(Framework_Shared_Memory_Manager* frmk_ptr)
{
    setup_common_ex(frmk_ptr);
    log_setup("[Framework_Input][setup_ex] ", m_from_group ? "\t\t\t" : "", "Framework_Input info");
}

void Framework_Input::refresh_ex()
{
    if (!m_initialized)
        throw std::runtime_error("[Framework_Output][Framework_Input] not initalized" + object_tag());
    move_actual_to_previous();
    read_value_from_shm_ex();
}

void Framework_Input::read_value_from_shm_ex()
{
    const bool scalar = visit_scalar_type(m_type, [this](auto tag) {
        using T = typename decltype(tag)::type;
        store_scalar(m_actual_shm_value, m_frmk_ptr->get_input_ex<T>(m_id, false));
    });
    if (scalar)
        return;
    if (m_type != BYTE_ARRAY_FSM)
        throw std::runtime_error("[Framework_Input][read_value_from_shm_ex] type not recognized" + object_tag());
    m_frmk_ptr->get_input_byte_array_ex(m_id, m_actual_shm_value.data(), static_cast<int>(m_dimension), 0);
}
