#include "virtual_slave.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>
#include <string>

#include "xelo_string_functions.h"

namespace {
const char* const WHERE = "[Virtual_Slave][map_and_initialize_cyclic_data] ";

bool record_has_name(const Shared_Application_Data_Struct& record, const std::string& name)
{
    const std::size_t length = strnlen(record.name_id, FRAMEWORK_NAME_ID_SIZE);
    return length == name.size() && std::memcmp(record.name_id, name.data(), length) == 0;
}

// Copies the descriptor's default into the image at every table record of
// its name; a variable without default keeps the zero of the new image.
void write_default_at_named_records(const IO_Descriptor& variable, const Shared_Application_Data_Struct* table,
                                    uint32_t table_size, uint8_t* image, uint32_t image_size)
{
    if (!variable.m_has_default_value || image == nullptr)
        return;
    for (uint32_t k = 0; k < table_size; ++k) {
        const Shared_Application_Data_Struct& record = table[k];
        if (!record_has_name(record, variable.m_name_virtual_id))
            continue;
        const std::size_t dim = std::min<std::size_t>(record.byte_dim, variable.m_default_value.size());
        if (record.byte_offs <= image_size && dim <= image_size - record.byte_offs)
            std::memcpy(image + record.byte_offs, variable.m_default_value.data(), dim);
    }
}

int32_t find_offset(const std::string& name, const Shared_Application_Data_Struct* table, uint32_t table_size)
{
    int32_t offset = -1;
    for (uint32_t k = 0; k < table_size; ++k)
        if (record_has_name(table[k], name))
            offset = static_cast<int32_t>(table[k].byte_offs);
    return offset;
}
}  // namespace

void Virtual_Slave::add_input(IO_Descriptor* input_ptr)
{
    m_input_vector.push_back(*input_ptr);
    m_input_byte_dim += input_ptr->m_byte_dim;
}

void Virtual_Slave::add_output(IO_Descriptor* output_ptr)
{
    m_output_vector.push_back(*output_ptr);
    m_output_byte_dim += output_ptr->m_byte_dim;
}

void Virtual_Slave::map_and_initialize_cyclic_data(Shared_Info_Ptr* data_info, Shared_Cyclic_Data_Ptrs* cyclic_data_ptr,
                                                   Shared_Application_Data_Ptrs* application_input_data,
                                                   Shared_Application_Data_Ptrs* application_output_data,
                                                   bool master_offline)
{
    m_data_info = data_info;
    m_cyclic_data_ptr = cyclic_data_ptr;
    m_application_input_data = application_input_data;
    m_application_output_data = application_output_data;
    if (master_offline) {
        m_input_virtual_start_offset = 0;
        m_output_virtual_start_offset = 0;
    }
    check_coupling_ex();
    find_output_start_offset();
    write_input_defaults_and_find_start_offset();
    write_output_defaults();
    check_blocks_fit_images_ex();
}

void Virtual_Slave::check_coupling_ex() const
{
    const auto inputs = std::count_if(m_input_vector.begin(), m_input_vector.end(),
                                      [](const IO_Descriptor& d) { return !d.m_is_ro && !d.m_is_alias; });
    const auto outputs = std::count_if(m_output_vector.begin(), m_output_vector.end(),
                                       [](const IO_Descriptor& d) { return !d.m_is_alias; });
    if (inputs != outputs)
        throw std::runtime_error(std::string(WHERE) + "Output-Input coupling failed: input size (" +
                                 XELO_String_Functions::num2str(static_cast<long long>(inputs)) + ") != output size (" +
                                 XELO_String_Functions::num2str(static_cast<long long>(outputs)) + ")");
    for (long i = 0; i < outputs; ++i) {
        const IO_Descriptor& output = m_output_vector[static_cast<std::size_t>(i)];
        const IO_Descriptor& input = m_input_vector[static_cast<std::size_t>(i)];
        if (output.m_name_virtual_id != input.m_name_virtual_id || output.m_type != input.m_type)
            throw std::runtime_error(std::string(WHERE) + "Output-Input coupling failed: " + output.m_name_virtual_id);
    }
}

void Virtual_Slave::find_output_start_offset()
{
    const uint32_t table_size = m_data_info->ptr->application_data_outputs_num;
    for (const IO_Descriptor& output : m_output_vector) {
        if (m_output_virtual_start_offset != -1 || table_size == 0 || output.m_is_alias)
            break;
        m_output_virtual_start_offset =
            find_offset(output.m_name_virtual_id, m_application_output_data->app_data_ptr, table_size);
    }
}

void Virtual_Slave::write_input_defaults_and_find_start_offset()
{
    const uint32_t table_size = m_data_info->ptr->application_data_inputs_num;
    const Shared_Application_Data_Struct* table = m_application_input_data->app_data_ptr;
    for (const IO_Descriptor& input : m_input_vector) {
        if (input.m_is_ro)
            write_default_at_named_records(input, table, table_size, m_cyclic_data_ptr->inputs_ptr,
                                           m_data_info->ptr->cyclic_input_byte_dim);
        if (m_input_virtual_start_offset == -1 && table_size != 0)
            m_input_virtual_start_offset = find_offset(input.m_name_virtual_id, table, table_size);
    }
}

void Virtual_Slave::write_output_defaults()
{
    for (const IO_Descriptor& output : m_output_vector)
        write_default_at_named_records(output, m_application_output_data->app_data_ptr,
                                       m_data_info->ptr->application_data_outputs_num, m_cyclic_data_ptr->outputs_ptr,
                                       m_data_info->ptr->cyclic_output_byte_dim);
}

void Virtual_Slave::check_blocks_fit_images_ex() const
{
    if (m_output_byte_dim == 0)
        return;
    const auto fits = [this](int32_t start, uint32_t image_size) {
        return start >= 0 && static_cast<uint64_t>(start) + m_output_byte_dim <= image_size;
    };
    if (!fits(m_input_virtual_start_offset, m_data_info->ptr->cyclic_input_byte_dim) ||
        !fits(m_output_virtual_start_offset, m_data_info->ptr->cyclic_output_byte_dim))
        throw std::runtime_error(std::string(WHERE) + "virtual block of " + std::to_string(m_output_byte_dim) +
                                 " bytes does not fit the images (input start " +
                                 std::to_string(m_input_virtual_start_offset) + ", output start " +
                                 std::to_string(m_output_virtual_start_offset) + ")");
}

void Virtual_Slave::update_io()
{
    if (m_output_byte_dim == 0 || m_input_virtual_start_offset < 0 || m_output_virtual_start_offset < 0)
        return;
    std::memcpy(m_cyclic_data_ptr->inputs_ptr + m_input_virtual_start_offset,
                m_cyclic_data_ptr->outputs_ptr + m_output_virtual_start_offset, m_output_byte_dim);
}
