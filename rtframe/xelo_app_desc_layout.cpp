#include "xelo_app_desc_layout.h"

#include <algorithm>
#include <limits>
#include <stdexcept>

#include "fab_value_types.h"

namespace {

const std::string OFFLINE = "[Application_Descriptor_Manager][manage_master_offline] ";
const std::string OFFSETS = "[Application_Descriptor_Manager][compute_offsets_and_build_io_vectors_ex] ";

// A byte array keeps its declared size; any other type takes its type's size.
uint32_t size_in_area(Type_Definition type, uint32_t& byte_dim)
{
    if (type != BYTE_ARRAY_FSM)
        byte_dim = type_dimension(type);
    return byte_dim;
}

void advance_ex(int32_t& offset, uint32_t size)
{
    if (size > static_cast<uint32_t>(std::numeric_limits<int32_t>::max() - offset))
        throw std::runtime_error(OFFSETS + "virtual area exceeds " +
                                 std::to_string(std::numeric_limits<int32_t>::max()) + " bytes");
    offset += static_cast<int32_t>(size);
}

// The next free bytes of the virtual area; a variable of size 0 is refused
// with error_text followed by its name.
void place_ex(IO_Descriptor& io, int32_t& offset, const std::string& error_text)
{
    io.m_slave_addr = 0;
    io.m_byte_offs = static_cast<uint32_t>(offset);
    const uint32_t size = size_in_area(io.m_type, io.m_byte_dim);
    if (size == 0)
        throw std::runtime_error(error_text + io.m_name_virtual_id);
    advance_ex(offset, size);
}

void append_alias(IO_Descriptor* alias, IO_Descriptor_List& inputs, IO_Descriptor_List& outputs)
{
    switch (alias->m_pointed_type) {
    case IO_Descriptor::INPUT: inputs.push_back(alias); break;
    case IO_Descriptor::OUTPUT: outputs.push_back(alias); break;
    case IO_Descriptor::VIRTUAL:
        inputs.push_back(alias);
        outputs.push_back(alias);
        break;
    }
}

}  // namespace

void move_slave_variables_to_virtual_area_ex(IO_Descriptor_List& inputs, IO_Descriptor_List& outputs, int32_t& offset,
                                             int32_t& xml_inputs_num)
{
    for (auto it = inputs.rbegin(); it != inputs.rend(); ++it)
        place_ex(**it, offset, OFFLINE + "virtual input dimension error :: ");
    xml_inputs_num = static_cast<int32_t>(inputs.size());

    IO_Descriptor_List all(inputs);
    all.insert(all.end(), outputs.begin(), outputs.end());
    for (IO_Descriptor* output : outputs) {
        place_ex(*output, offset, OFFLINE + "Virtual output dimension error :: ");
        inputs.push_back(output);
    }
    outputs = std::move(all);
}

void lay_out_virtual_area_ex(IO_Descriptor_List& virtuals, IO_Descriptor_List& inputs, IO_Descriptor_List& outputs,
                             int32_t& offset, bool master_offline)
{
    std::stable_partition(virtuals.begin(), virtuals.end(), [](const IO_Descriptor* io) { return !io->m_is_ro; });
    std::stable_partition(virtuals.begin(), virtuals.end(), [](const IO_Descriptor* io) { return !io->m_is_alias; });
    for (IO_Descriptor* io : virtuals) {
        io->m_byte_offs = static_cast<uint32_t>(offset);
        if (io->m_is_alias && !master_offline) {
            append_alias(io, inputs, outputs);
            continue;
        }
        if (!io->m_is_alias) {
            const uint32_t size = size_in_area(io->m_type, io->m_byte_dim);
            if (size == 0)
                throw std::runtime_error(OFFSETS + "VirtualIO dimension error :: " + io->m_name_virtual_id);
            advance_ex(offset, size);
        }
        if (!io->m_is_ro)
            outputs.push_back(io);
        inputs.push_back(io);
    }
}

void lay_out_sem_data_groups_ex(const Data_Semaphore_Group_List& groups)
{
    for (Data_Semaphore_Group* group : groups) {
        uint32_t offset = 0;
        for (Data_Semaphore& member : group->data) {
            member.byte_offs = offset;
            const uint32_t size = size_in_area(member.type, member.byte_dim);
            if (size == 0)
                throw std::runtime_error(OFFSETS + "SemDataGroup data dimension error :: " + member.name);
            if (size > std::numeric_limits<uint32_t>::max() - offset)
                throw std::runtime_error(OFFSETS + "SemDataGroup data block too large :: " + group->sem_name);
            offset += size;
        }
    }
}
