#include "framework_output.h"

#include <algorithm>
#include <stdexcept>

#include "xelo_framework_shm_manager.h"
#include "xelo_log.h"

// ---- Framework_Output --------------------------------------------------------------------

Framework_Output::Framework_Output(std::string label_text) : Framework_Output(std::move(label_text), false) {}

Framework_Output::Framework_Output(std::string label_text, bool is_sharable)
    : Framework_Cyclic_Variable(std::move(label_text)), m_is_sharable(is_sharable)
{
}

Framework_Output::~Framework_Output() = default;

int32_t Framework_Output::get_id_ex()
{
    return m_frmk_ptr->get_output_rw_id_ex(m_label, m_is_sharable);
}

Type_Definition Framework_Output::get_type_ex()
{
    return static_cast<Type_Definition>(m_frmk_ptr->get_output_type_ex(m_id, false));
}

uint32_t Framework_Output::get_dimension_ex()
{
    return m_frmk_ptr->get_output_dim_ex(m_id, false);
}

void Framework_Output::setup_ex(Framework_Shared_Memory_Manager* frmk_ptr)
{
    m_acquired = false;
    setup_common_ex(frmk_ptr);
    try {
        m_value_to_set.assign(m_dimension, 0);
        read_value_from_shm_ex();
        m_value_to_set = m_actual_shm_value;
        m_acquired = !m_is_sharable;
        refresh_ex();
    } catch (...) {
        m_initialized = false;
        m_acquired = false;
        throw;
    }
    const std::string tag = "[Framework_Output][setup_ex] ";
    const std::string indent = m_is_sharable ? "\t\t\t" : "";
    log_setup(tag, indent, "Framework_Output info");
    log_inf(tag + indent + "\tacquired   :: " + (m_acquired ? "1" : "0"));
}

void Framework_Output::refresh_ex()
{
    if (!m_initialized)
        throw std::runtime_error("[Framework_Output][refresh_ex] not initalized" + object_tag());
    move_actual_to_previous();
    read_value_from_shm_ex();
    if (m_acquired)
        write_value_to_shm_ex();
}

void Framework_Output::set_current_value_as_default_ex()
{
    if (!m_initialized)
        throw std::runtime_error("[Framework_Output][set_current_value_as_default_ex] not initalized" + object_tag());
    check_acquired_ex("set_current_value_as_default_ex");
    write_value_to_shm_ex();
    m_frmk_ptr->set_current_value_as_default_ex(m_id);
}

void Framework_Output::set_acquired(bool acquired)
{
    m_acquired = acquired;
}

void Framework_Output::check_acquired_ex(const char* method) const
{
    if (!m_acquired)
        throw std::runtime_error(std::string("[Framework_Output][") + method + "] not acquired!" + object_tag());
}

void Framework_Output::read_value_from_shm_ex()
{
    const bool scalar = visit_scalar_type(m_type, [this](auto tag) {
        using T = typename decltype(tag)::type;
        store_scalar(m_actual_shm_value, m_frmk_ptr->get_output_ex<T>(m_id, false));
    });
    if (scalar)
        return;
    if (m_type != BYTE_ARRAY_FSM)
        throw std::runtime_error("[Framework_Output][read_value_from_shm_ex] type not recognized" + object_tag());
    m_frmk_ptr->get_output_byte_array_ex(m_id, m_actual_shm_value.data(), static_cast<int>(m_dimension), 0);
}

void Framework_Output::write_value_to_shm_ex()
{
    const bool scalar = visit_scalar_type(m_type, [this](auto tag) {
        using T = typename decltype(tag)::type;
        m_frmk_ptr->set_output_ex<T>(m_id, load_scalar<T>(m_value_to_set));
    });
    if (scalar)
        return;
    if (m_type != BYTE_ARRAY_FSM)
        throw std::runtime_error("[Framework_Output][write_value_to_shm_ex] type not recognized" + object_tag());
    m_frmk_ptr->set_output_byte_array_ex(m_id, m_value_to_set.data(), static_cast<int>(m_dimension), 0);
}

template <typename T>
void Framework_Output::set_value_ex(T value)
{
    if constexpr (Framework_Value_Type<T>::is_slice) {
        set_value_ex<T>(value, true, 0);
    } else {
        check_type_ok_ex<T>();
        check_acquired_ex("set_value_ex");
        store_scalar(m_value_to_set, value);
    }
}

template <typename T>
void Framework_Output::set_value_ex(const T& value, bool write_whole, uint32_t byte_offset)
{
    const uint32_t length = Container_Traits<T>::dim(value);
    check_type_ok_ex<T>(length, byte_offset);
    check_acquired_ex("set_value_ex");
    const uint8_t* bytes = Container_Traits<T>::data(value);
    const auto first = m_value_to_set.begin() + byte_offset;
    std::copy(bytes, bytes + length, first);
    if (write_whole) {
        std::fill(m_value_to_set.begin(), first, 0);
        std::fill(first + length, m_value_to_set.end(), 0);
    }
}

template <typename T>
T Framework_Output::get_value_to_set_ex() const
{
    if constexpr (Framework_Value_Type<T>::is_slice)
        return read_slice_ex<T>(m_value_to_set, 0, 0);
    else
        return read_scalar_ex<T>(m_value_to_set);
}

template <typename T>
T Framework_Output::get_value_to_set_ex(uint32_t dim_given, uint32_t offset) const
{
    return read_slice_ex<T>(m_value_to_set, dim_given, offset);
}

#define FRAMEWORK_OUTPUT_VALUE(T)                       \
    template void Framework_Output::set_value_ex<T>(T); \
    template T Framework_Output::get_value_to_set_ex<T>() const;

#define FRAMEWORK_OUTPUT_VALUE_ROW(manager_type, fixed_type, ...) FRAMEWORK_OUTPUT_VALUE(fixed_type)
FRAMEWORK_VALUE_TYPES(FRAMEWORK_OUTPUT_VALUE_ROW)
#undef FRAMEWORK_OUTPUT_VALUE_ROW
FRAMEWORK_OUTPUT_VALUE(std::vector<uint8_t>)
FRAMEWORK_OUTPUT_VALUE(std::string)
#undef FRAMEWORK_OUTPUT_VALUE

#define FRAMEWORK_OUTPUT_SLICE(T)                                              \
    template void Framework_Output::set_value_ex<T>(const T&, bool, uint32_t); \
    template T Framework_Output::get_value_to_set_ex<T>(uint32_t, uint32_t) const;

FRAMEWORK_OUTPUT_SLICE(std::vector<uint8_t>)
FRAMEWORK_OUTPUT_SLICE(std::string)
#undef FRAMEWORK_OUTPUT_SLICE

// ---- Framework_Output_Read_Only -------------------------------------------------------------

Framework_Output_Read_Only::Framework_Output_Read_Only(std::string label_text)
    : Framework_Cyclic_Variable(std::move(label_text))
{
}

Framework_Output_Read_Only::~Framework_Output_Read_Only() = default;

int32_t Framework_Output_Read_Only::get_id_ex()
{
    return m_frmk_ptr->get_output_ro_id_ex(m_label);
}

Type_Definition Framework_Output_Read_Only::get_type_ex()
{
    return static_cast<Type_Definition>(m_frmk_ptr->get_output_type_ex(m_id, false));
}

uint32_t Framework_Output_Read_Only::get_dimension_ex()
{
    return m_frmk_ptr->get_output_dim_ex(m_id, false);
}

void Framework_Output_Read_Only::setup_ex(Framework_Shared_Memory_Manager* frmk_ptr)
{
    setup_common_ex(frmk_ptr);
    log_setup("[Framework_Output_Read_Only][setup_ex] ", "", "Framework_Output_Read_Only info");
}

void Framework_Output_Read_Only::refresh_ex()
{
    if (!m_initialized)
        throw std::runtime_error("[Framework_Output_Read_Only][refresh_ex] not initalized" + object_tag());
    move_actual_to_previous();
    read_value_from_shm_ex();
}

void Framework_Output_Read_Only::read_value_from_shm_ex()
{
    const bool scalar = visit_scalar_type(m_type, [this](auto tag) {
        using T = typename decltype(tag)::type;
        store_scalar(m_actual_shm_value, m_frmk_ptr->get_output_ex<T>(m_id, false));
    });
    if (scalar)
        return;
    if (m_type != BYTE_ARRAY_FSM)
        throw std::runtime_error("[Framework_Output_Read_Only][read_value_from_shm_ex] type not recognized" +
                                 object_tag());
    m_frmk_ptr->get_output_byte_array_ex(m_id, m_actual_shm_value.data(), static_cast<int>(m_dimension), 0);
}
