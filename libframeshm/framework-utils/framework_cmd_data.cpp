#include "framework_cmd_data.h"

#include <stdexcept>
#include <vector>

#include "xelo_framework_shm_manager.h"

// ---- Framework_Sem_Variable ----------------------------------------------------------------

Framework_Sem_Variable::Framework_Sem_Variable(int32_t parent_id, std::string parent_label, std::string label_text)
    : Framework_Variable(std::move(label_text)), m_parent_id(parent_id), m_parent_label(std::move(parent_label))
{
}

Framework_Sem_Variable::~Framework_Sem_Variable() = default;

void Framework_Sem_Variable::setup_ex(Framework_Shared_Memory_Manager* frmk_ptr)
{
    bind_ex(frmk_ptr);
}

template <typename T>
T Framework_Sem_Variable::read_value_ex(Value_Reader<T> reader, const char* uninitialized_text)
{
    if (!m_initialized)
        throw std::runtime_error(uninitialized_text + object_tag());
    check_type_ok_ex<T>();
    return (m_frmk_ptr->*reader)(m_parent_id, m_id);
}

template <typename T>
T Framework_Sem_Variable::read_slice_ex(Byte_Array_Reader reader, uint32_t dim_given, uint32_t offset)
{
    const uint32_t length = dim_given == 0 ? m_dimension : dim_given;
    check_type_ok_ex<T>(length, offset);
    T value = Container_Traits<T>::create_new(length);
    (m_frmk_ptr->*reader)(m_parent_id, m_id, reinterpret_cast<uint8_t*>(value.data()), static_cast<int>(length),
                          static_cast<int>(offset));
    return value;
}

// ---- Framework_Cmd_Data_To_Recv ----------------------------------------------------------------

Framework_Cmd_Data_To_Recv::Framework_Cmd_Data_To_Recv(bool is_cmd_channel_server, int32_t channel_id,
                                                       std::string channel_label, std::string data_label)
    : Framework_Sem_Variable(channel_id, std::move(channel_label), std::move(data_label)),
      m_is_cmd_channel_server(is_cmd_channel_server), cmd_channel_id(m_parent_id), cmd_channel_label(m_parent_label)
{
}

Framework_Cmd_Data_To_Recv::~Framework_Cmd_Data_To_Recv() = default;

int32_t Framework_Cmd_Data_To_Recv::get_id_ex()
{
    return m_frmk_ptr->get_cmd_data_id_to_recv_ex(m_parent_id, m_label);
}

Type_Definition Framework_Cmd_Data_To_Recv::get_type_ex()
{
    return m_frmk_ptr->get_recv_data_type_ex(m_parent_id, m_id);
}

uint32_t Framework_Cmd_Data_To_Recv::get_dimension_ex()
{
    return m_frmk_ptr->get_recv_data_dim_ex(m_parent_id, m_id);
}

template <typename T>
T Framework_Cmd_Data_To_Recv::get_value_ex()
{
    if constexpr (Framework_Value_Type<T>::is_slice)
        return get_value_ex<T>(0, 0);
    else
        return read_value_ex<T>(m_is_cmd_channel_server ? &Framework_Shared_Memory_Manager::get_cmd_data_ex<T>
                                                        : &Framework_Shared_Memory_Manager::get_answ_data_ex<T>,
                                "[Framework_Cmd_Data_To_Recv][get_value_ex] not initalized");
}

template <typename T>
T Framework_Cmd_Data_To_Recv::get_value_ex(uint32_t dim_given, uint32_t offset)
{
    static_assert(Framework_Value_Type<T>::is_slice, "only byte arrays are read in slices");
    return read_slice_ex<T>(m_is_cmd_channel_server ? &Framework_Shared_Memory_Manager::get_cmd_data_byte_array_ex
                                                    : &Framework_Shared_Memory_Manager::get_answ_data_byte_array_ex,
                            dim_given, offset);
}

// ---- Framework_Cmd_Data_To_Send ----------------------------------------------------------------

Framework_Cmd_Data_To_Send::Framework_Cmd_Data_To_Send(bool is_cmd_channel_server, int32_t channel_id,
                                                       std::string channel_label, std::string data_label)
    : Framework_Sem_Variable(channel_id, std::move(channel_label), std::move(data_label)),
      m_is_cmd_channel_server(is_cmd_channel_server), cmd_channel_id(m_parent_id), cmd_channel_label(m_parent_label)
{
}

Framework_Cmd_Data_To_Send::~Framework_Cmd_Data_To_Send() = default;

int32_t Framework_Cmd_Data_To_Send::get_id_ex()
{
    return m_frmk_ptr->get_cmd_data_id_to_send_ex(m_parent_id, m_label);
}

Type_Definition Framework_Cmd_Data_To_Send::get_type_ex()
{
    return m_frmk_ptr->get_send_data_type_ex(m_parent_id, m_id);
}

uint32_t Framework_Cmd_Data_To_Send::get_dimension_ex()
{
    return m_frmk_ptr->get_send_data_dim_ex(m_parent_id, m_id);
}

template <typename T>
T Framework_Cmd_Data_To_Send::get_value_ex()
{
    if constexpr (Framework_Value_Type<T>::is_slice)
        return get_value_ex<T>(0, 0);
    else
        return read_value_ex<T>(m_is_cmd_channel_server ? &Framework_Shared_Memory_Manager::get_answ_data_to_send_ex<T>
                                                        : &Framework_Shared_Memory_Manager::get_cmd_data_to_send_ex<T>,
                                "[Framework_Cmd_Data_To_Send][get_value_ex] not initalized");
}

template <typename T>
T Framework_Cmd_Data_To_Send::get_value_ex(uint32_t dim_given, uint32_t offset)
{
    static_assert(Framework_Value_Type<T>::is_slice, "only byte arrays are read in slices");
    return read_slice_ex<T>(m_is_cmd_channel_server
                                ? &Framework_Shared_Memory_Manager::get_answ_data_byte_array_to_send_ex
                                : &Framework_Shared_Memory_Manager::get_cmd_data_byte_array_to_send_ex,
                            dim_given, offset);
}

template <typename T>
void Framework_Cmd_Data_To_Send::set_value_ex(T value)
{
    if constexpr (Framework_Value_Type<T>::is_slice) {
        set_value_ex<T>(value, true, 0);
    } else {
        check_type_ok_ex<T>();
        if (m_is_cmd_channel_server)
            m_frmk_ptr->set_answ_data_ex<T>(m_parent_id, m_id, value);
        else
            m_frmk_ptr->set_cmd_data_ex<T>(m_parent_id, m_id, value);
    }
}

template <typename T>
void Framework_Cmd_Data_To_Send::set_value_ex(const T& value, bool write_whole, uint32_t offset)
{
    static_assert(Framework_Value_Type<T>::is_slice, "only byte arrays are written in slices");
    const uint32_t count = Container_Traits<T>::dim(value);
    check_type_ok_ex<T>(count, offset);
    if (write_whole && offset != 0)
        write_zeros_ex(offset, 0);
    write_bytes_ex(Container_Traits<T>::data(value), count, offset);
    // the slice check keeps offset + count within the item
    const uint32_t end = offset + count;
    if (write_whole && end < m_dimension)
        write_zeros_ex(m_dimension - end, end);
}

void Framework_Cmd_Data_To_Send::write_bytes_ex(const uint8_t* bytes, uint32_t count, uint32_t offset)
{
    if (m_is_cmd_channel_server)
        m_frmk_ptr->set_answ_data_byte_array_ex(m_parent_id, m_id, bytes, static_cast<int>(count),
                                                static_cast<int>(offset));
    else
        m_frmk_ptr->set_cmd_data_byte_array_ex(m_parent_id, m_id, bytes, static_cast<int>(count),
                                               static_cast<int>(offset));
}

void Framework_Cmd_Data_To_Send::write_zeros_ex(uint32_t count, uint32_t offset)
{
    const std::vector<uint8_t> zeros(count, 0);
    write_bytes_ex(zeros.data(), count, offset);
}

// ---- template instances --------------------------------------------------------------------------

#define FRAMEWORK_CMD_DATA_VALUE(T)                           \
    template T Framework_Cmd_Data_To_Recv::get_value_ex<T>(); \
    template T Framework_Cmd_Data_To_Send::get_value_ex<T>(); \
    template void Framework_Cmd_Data_To_Send::set_value_ex<T>(T);

#define FRAMEWORK_CMD_DATA_SLICE(T)                                             \
    FRAMEWORK_CMD_DATA_VALUE(T)                                                 \
    template T Framework_Cmd_Data_To_Recv::get_value_ex<T>(uint32_t, uint32_t); \
    template T Framework_Cmd_Data_To_Send::get_value_ex<T>(uint32_t, uint32_t); \
    template void Framework_Cmd_Data_To_Send::set_value_ex<T>(const T&, bool, uint32_t);

#define FRAMEWORK_CMD_DATA_VALUE_ROW(manager_type, fixed_type, ...) FRAMEWORK_CMD_DATA_VALUE(manager_type)
FRAMEWORK_DATA_VALUE_TYPES(FRAMEWORK_CMD_DATA_VALUE_ROW)
#undef FRAMEWORK_CMD_DATA_VALUE_ROW
FRAMEWORK_CMD_DATA_SLICE(std::vector<uint8_t>)
FRAMEWORK_CMD_DATA_SLICE(std::string)
#undef FRAMEWORK_CMD_DATA_SLICE
#undef FRAMEWORK_CMD_DATA_VALUE
