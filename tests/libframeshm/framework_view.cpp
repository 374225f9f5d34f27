#include "framework_view.h"

#include <chrono>
#include <cstring>
#include <stdexcept>
#include <thread>

#include "framework_shm_segment.h"

Framework_View::Framework_View()
{
    open_and_connect_memory_ex(&m_info.shm_info, &m_info.ptr, framework_names::INFO, 1);
    const Shared_Info_Struct& info = *m_info.ptr;
    m_slots = info.cyclic_linux_sem_dim != -1 ? info.cyclic_linux_sem_dim : info.cyclic_xeno_sem_dim;
    open_and_connect_memory_ex(&m_cyclic.mutex_shm_info, &m_cyclic.mutex_ptr, framework_names::CYCLIC_MUTEX, 1);
    open_and_connect_memory_ex(&m_cyclic.inputs_shm_info, &m_cyclic.inputs_ptr, framework_names::CYCLIC_INPUTS,
                               static_cast<int>(info.cyclic_input_byte_dim));
    open_and_connect_memory_ex(&m_cyclic.outputs_shm_info, &m_cyclic.outputs_ptr, framework_names::CYCLIC_OUTPUTS,
                               static_cast<int>(info.cyclic_output_byte_dim));
    open_and_connect_memory_ex(&m_cyclic.sems_shm_info, &m_cyclic.sems_ptr, framework_names::CYCLIC_SEMS, m_slots);
    open_and_connect_memory_ex(&m_inputs.app_data_shm_info, &m_inputs.app_data_ptr, framework_names::APP_INPUT_DATA,
                               static_cast<int>(info.application_data_inputs_num));
    open_and_connect_memory_ex(&m_outputs.app_data_shm_info, &m_outputs.app_data_ptr, framework_names::APP_OUTPUT_DATA,
                               static_cast<int>(info.application_data_outputs_num));
}

Framework_View::~Framework_View()
{
    const Shared_Info_Struct& info = *m_info.ptr;
    close_memory(&m_outputs.app_data_shm_info, m_outputs.app_data_ptr,
                 info.application_data_outputs_num * sizeof(Shared_Application_Data_Struct));
    close_memory(&m_inputs.app_data_shm_info, m_inputs.app_data_ptr,
                 info.application_data_inputs_num * sizeof(Shared_Application_Data_Struct));
    close_memory(&m_cyclic.sems_shm_info, m_cyclic.sems_ptr, m_slots * sizeof(Shared_Sem_Struct));
    close_memory(&m_cyclic.outputs_shm_info, m_cyclic.outputs_ptr, info.cyclic_output_byte_dim);
    close_memory(&m_cyclic.inputs_shm_info, m_cyclic.inputs_ptr, info.cyclic_input_byte_dim);
    close_memory(&m_cyclic.mutex_shm_info, m_cyclic.mutex_ptr, sizeof(pthread_mutex_t));
    close_memory(&m_info.shm_info, m_info.ptr, sizeof(Shared_Info_Struct));
}

namespace {
Shared_Application_Data_Struct* find(Shared_Application_Data_Struct* table, uint32_t count, const std::string& label)
{
    for (uint32_t i = 0; i < count; ++i)
        if (label == std::string(table[i].name_id, strnlen(table[i].name_id, FRAMEWORK_NAME_ID_SIZE)))
            return &table[i];
    return nullptr;
}
}  // namespace

Shared_Application_Data_Struct* Framework_View::output_record(const std::string& label)
{
    return find(m_outputs.app_data_ptr, m_info.ptr->application_data_outputs_num, label);
}

Shared_Application_Data_Struct* Framework_View::input_record(const std::string& label)
{
    return find(m_inputs.app_data_ptr, m_info.ptr->application_data_inputs_num, label);
}

std::string Framework_View::app_name(int n) const
{
    const char* row = m_info.ptr->app_names[n];
    return std::string(row, strnlen(row, FRAMEWORK_APP_NAME_SIZE));
}

void Framework_View::wait_ticking_ex(int timeout_ms)
{
    const Shared_Application_Data_Struct* online = input_record("is_ethercat_master_online");
    if (online == nullptr)
        throw std::runtime_error("no input is_ethercat_master_online");
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    while (__atomic_load_n(&m_cyclic.inputs_ptr[online->byte_offs], __ATOMIC_ACQUIRE) == 0) {
        if (std::chrono::steady_clock::now() > deadline)
            throw std::runtime_error("the server's tick loop does not run");
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}
