#include "framework_variable.h"

#include <algorithm>
#include <sstream>
#include <stdexcept>

#include "xelo_log.h"
#include "xelo_string_functions.h"

using XELO_String_Functions::num2str;

std::ostream& operator<<(std::ostream& os, Type_Definition type)
{
    switch (type) {
    case BIT_FSM: return os << "bool";
    case INT8_FSM: return os << "int8";
    case UINT8_FSM: return os << "uint8";
    case INT16_FSM: return os << "int16";
    case UINT16_FSM: return os << "uint16";
    case INT32_FSM: return os << "int32";
    case UINT32_FSM: return os << "uint32";
    case DOUBLE_FSM: return os << "double";
    case BYTE_ARRAY_FSM: return os << "byte_array (std::vector<uint8_t> / std::string)";
    case INT64_FSM: return os << "int64";
    case UINT64_FSM: return os << "uint64";
    case FLOAT_FSM: return os << "float";
    default: return os << "type_not_recognized";
    }
}

namespace {
std::string type_text(Type_Definition type)
{
    std::ostringstream text;
    text << type;
    return text.str();
}
}  // namespace

// ---- Framework_Variable ----------------------------------------------------------------

Framework_Variable::Framework_Variable(std::string label_text)
    : m_label(std::move(label_text)), label(m_label), id(m_id), type(m_type), dimension(m_dimension)
{
}

void Framework_Variable::bind_ex(Framework_Shared_Memory_Manager* frmk_ptr)
{
    m_frmk_ptr = frmk_ptr;
    m_initialized = false;
    m_id = get_id_ex();
    m_type = get_type_ex();
    m_dimension = get_dimension_ex();
    m_initialized = true;
}

std::string Framework_Variable::object_tag() const
{
    return " (label :: " + m_label + ", id :: " + num2str(m_id) + ")";
}

void Framework_Variable::check_type_id_ex(Type_Definition accepted) const
{
    if (!m_initialized)
        throw std::runtime_error("[Framework_Variable][check_type_internal_ex] not initalized" + object_tag());
    if (m_type != accepted)
        throw std::runtime_error("[Framework_Variable][check_type_internal_ex] invalid given type! " + m_label +
                                 " need type :: " + type_text(m_type));
}

void Framework_Variable::check_dim_internal_ex(uint32_t dim_given, uint32_t offset) const
{
    const std::string method = "[Framework_Variable][check_dim_internal_ex] " + m_label;
    if (dim_given == 0 || dim_given > m_dimension)
        throw std::runtime_error(method + " byte array invalid dimension! given :: " + num2str(dim_given) +
                                 ", required >= 1 && <= " + num2str(m_dimension));
    if (offset > m_dimension - 1)
        throw std::runtime_error(method + " byte array invalid offset! given :: " + num2str(offset) +
                                 ", required >= 0 && <= " + num2str(m_dimension - 1));
    // dimension <= m_dimension and offset < m_dimension: the sum cannot wrap
    if (dim_given + offset > m_dimension)
        throw std::runtime_error(
            method + " byte array invalid dimension & offset combination! given dim :: " + num2str(dim_given) +
            ", given offset :: " + num2str(offset) + ". required dim + offset <= " + num2str(m_dimension));
}

// ---- Framework_Cyclic_Variable -----------------------------------------------------------

Framework_Cyclic_Variable::Framework_Cyclic_Variable(std::string label_text) : Framework_Variable(std::move(label_text))
{
}

Framework_Cyclic_Variable::~Framework_Cyclic_Variable() = default;

void Framework_Cyclic_Variable::setup_common_ex(Framework_Shared_Memory_Manager* frmk_ptr)
{
    bind_ex(frmk_ptr);
    try {
        m_actual_shm_value.assign(m_dimension, 0);
        m_previous_shm_value.assign(m_dimension, 0);
        refresh_ex();
    } catch (...) {
        m_initialized = false;
        throw;
    }
}

void Framework_Cyclic_Variable::log_setup(const std::string& tag, const std::string& indent,
                                          const std::string& title) const
{
    const std::string head = tag + indent;
    log_inf(head + title);
    log_inf(head + "\tlabel      :: " + m_label);
    log_inf(head + "\tid         :: " + num2str(m_id));
    log_inf(head + "\ttype       :: " + type_text(m_type));
    log_inf(head + "\tdimension  :: " + num2str(m_dimension));
}

void Framework_Cyclic_Variable::move_actual_to_previous()
{
    std::copy(m_actual_shm_value.begin(), m_actual_shm_value.end(), m_previous_shm_value.begin());
}

bool Framework_Cyclic_Variable::is_changed() const
{
    if (!m_initialized)
        throw std::runtime_error("[Framework_Variable][is_changed] not initalized" + object_tag());
    return m_actual_shm_value != m_previous_shm_value;
}

template <typename T>
T Framework_Cyclic_Variable::read_slice_ex(const std::vector<uint8_t>& bytes, uint32_t dim_given, uint32_t offset) const
{
    const uint32_t length = dim_given == 0 ? m_dimension : dim_given;
    check_type_ok_ex<T>(length, offset);
    return Container_Traits<T>::build(bytes.data() + offset, length);
}

template <typename T>
T Framework_Cyclic_Variable::get_value_ex() const
{
    if constexpr (Framework_Value_Type<T>::is_slice)
        return read_slice_ex<T>(m_actual_shm_value, 0, 0);
    else
        return read_scalar_ex<T>(m_actual_shm_value);
}

template <typename T>
T Framework_Cyclic_Variable::get_previous_value_ex() const
{
    if constexpr (Framework_Value_Type<T>::is_slice)
        return read_slice_ex<T>(m_previous_shm_value, 0, 0);
    else
        return read_scalar_ex<T>(m_previous_shm_value);
}

template <typename T>
T Framework_Cyclic_Variable::get_value_ex(uint32_t dim_given, uint32_t offset) const
{
    return read_slice_ex<T>(m_actual_shm_value, dim_given, offset);
}

template <typename T>
T Framework_Cyclic_Variable::get_previous_value_ex(uint32_t dim_given, uint32_t offset) const
{
    return read_slice_ex<T>(m_previous_shm_value, dim_given, offset);
}

#define FRAMEWORK_CYCLIC_READ(T)                                   \
    template T Framework_Cyclic_Variable::get_value_ex<T>() const; \
    template T Framework_Cyclic_Variable::get_previous_value_ex<T>() const;

#define FRAMEWORK_CYCLIC_READ_ROW(manager_type, fixed_type, ...) FRAMEWORK_CYCLIC_READ(fixed_type)
FRAMEWORK_VALUE_TYPES(FRAMEWORK_CYCLIC_READ_ROW)
#undef FRAMEWORK_CYCLIC_READ_ROW
FRAMEWORK_CYCLIC_READ(std::vector<uint8_t>)
FRAMEWORK_CYCLIC_READ(std::string)
#undef FRAMEWORK_CYCLIC_READ

template std::vector<uint8_t> Framework_Cyclic_Variable::read_slice_ex<std::vector<uint8_t>>(
    const std::vector<uint8_t>&, uint32_t, uint32_t) const;
template std::string Framework_Cyclic_Variable::read_slice_ex<std::string>(const std::vector<uint8_t>&, uint32_t,
                                                                           uint32_t) const;
template std::vector<uint8_t> Framework_Cyclic_Variable::get_value_ex<std::vector<uint8_t>>(uint32_t, uint32_t) const;
template std::string Framework_Cyclic_Variable::get_value_ex<std::string>(uint32_t, uint32_t) const;
template std::vector<uint8_t> Framework_Cyclic_Variable::get_previous_value_ex<std::vector<uint8_t>>(uint32_t,
                                                                                                     uint32_t) const;
template std::string Framework_Cyclic_Variable::get_previous_value_ex<std::string>(uint32_t, uint32_t) const;
