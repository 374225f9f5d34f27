#include "group_view.h"

#include <cstring>
#include <stdexcept>

#include "framework_shm_segment.h"

Group_View::Group_View()
{
    open_and_connect_memory_ex(&m_info.shm_info, &m_info.ptr, framework_names::INFO, 1);
    const Shared_Info_Struct& info = *m_info.ptr;
    m_slots = info.cyclic_linux_sem_dim != -1 ? info.cyclic_linux_sem_dim : info.cyclic_xeno_sem_dim;
    m_count = static_cast<int>(info.num_data_sem_group);
    open_and_connect_memory_ex(&m_groups.sem_data_group_struct_shm_info, &m_groups.share_sem_group_struct,
                               framework_names::SEM_DATA_GROUP_STRUCT, m_count);
    const auto count = static_cast<std::size_t>(m_count);
    m_groups.semaphores.assign(count, nullptr);
    m_groups.sem_data_group_struct_sem_shm_info.assign(count, Shared_Memory_Info());
    m_groups.data.assign(count, nullptr);
    m_groups.sem_data_group_struct_data_shm_info.assign(count, Shared_Memory_Info());
    for (int g = 0; g < m_count; ++g) {
        const Shared_Sem_Data_Group_Struct& record = m_groups.share_sem_group_struct[g];
        const std::string name(record.group_name, strnlen(record.group_name, FRAMEWORK_GROUP_NAME_SIZE));
        open_and_connect_memory_ex(&m_groups.sem_data_group_struct_sem_shm_info[g], &m_groups.semaphores[g],
                                   framework_names::SEM_DATA_GROUP_SEM + name, m_slots);
        open_and_connect_memory_ex(&m_groups.sem_data_group_struct_data_shm_info[g], &m_groups.data[g],
                                   framework_names::SEM_DATA_GROUP_DATA + name, static_cast<int>(data_bytes(g)));
    }
}

Group_View::~Group_View()
{
    for (int g = 0; g < m_count; ++g) {
        close_memory(&m_groups.sem_data_group_struct_data_shm_info[g], m_groups.data[g], data_bytes(g));
        close_memory(&m_groups.sem_data_group_struct_sem_shm_info[g], m_groups.semaphores[g],
                     static_cast<std::size_t>(m_slots) * sizeof(Shared_Sem_Data_Group_Sem_Struct));
    }
    close_memory(&m_groups.sem_data_group_struct_shm_info, m_groups.share_sem_group_struct,
                 static_cast<std::size_t>(m_count) * sizeof(Shared_Sem_Data_Group_Struct));
    close_memory(&m_info.shm_info, m_info.ptr, sizeof(Shared_Info_Struct));
}

std::size_t Group_View::data_bytes(int g) const
{
    const Shared_Sem_Data_Group_Struct& record = m_groups.share_sem_group_struct[g];
    const std::size_t slots = record.ring_buffer_slot_number > 0 ? record.ring_buffer_slot_number : 1;
    return slots * record.data_byte;
}

int Group_View::index_of(const std::string& name) const
{
    for (int g = 0; g < m_count; ++g) {
        const char* group_name = m_groups.share_sem_group_struct[g].group_name;
        if (name == std::string(group_name, strnlen(group_name, FRAMEWORK_GROUP_NAME_SIZE)))
            return g;
    }
    throw std::runtime_error("Group_View: no group " + name);
}

Shared_Sem_Data_Group_Struct& Group_View::group(const std::string& name)
{
    return m_groups.share_sem_group_struct[index_of(name)];
}

Shared_Sem_Data_Group_Sem_Struct& Group_View::row(const std::string& name, int application_number)
{
    return m_groups.semaphores[static_cast<std::size_t>(index_of(name))][application_number];
}

int Group_View::semaphore_value(const std::string& name, int application_number)
{
    int value = -1;
    sem_getvalue(&row(name, application_number).sem, &value);
    return value;
}

const uint8_t* Group_View::data(const std::string& name)
{
    return m_groups.data[static_cast<std::size_t>(index_of(name))];
}
