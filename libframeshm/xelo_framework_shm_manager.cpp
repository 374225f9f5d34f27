// Construction, the mutex operations, detaching and the diagnostic dump.

#include "xelo_framework_shm_manager.h"

#include <cerrno>
#include <cstring>
#include <iostream>
#include <stdexcept>

#include "xelo_log.h"
#include "xelo_string_functions.h"

using XELO_String_Functions::num2str;

namespace {
constexpr int MAX_PAIR_SEM_IDS = 1000;

}  // namespace

Framework_Shared_Memory_Manager::Framework_Shared_Memory_Manager() : m_pair_sem_ids(MAX_PAIR_SEM_IDS) {}

Framework_Shared_Memory_Manager::~Framework_Shared_Memory_Manager()
{
    try {
        unlink();
    } catch (const std::exception& e) {
        log_err(std::string("[Framework_Shared_Memory_Manager][~Framework_Shared_Memory_Manager] ") + e.what());
    }
}

void Framework_Shared_Memory_Manager::bypass_ready_to_start_flag()
{
    m_bypass_ready_to_start = true;
}

void Framework_Shared_Memory_Manager::enable_semaphore_trace()
{
    std::cout << "[framework shared memory manager] [enable_semaphore_trace] --> ACTIVATED" << std::endl;
    m_trace_semaphore = true;
}

void Framework_Shared_Memory_Manager::disable_semaphore_trace()
{
    std::cout << "[framework shared memory manager] [enable_semaphore_trace] --> DEACTIVATED" << std::endl;
    m_trace_semaphore = false;
}

const std::string Framework_Shared_Memory_Manager::INFO_MUTEX = "m_shm_info.ptr->mutex";
const std::string Framework_Shared_Memory_Manager::CYCLIC_MUTEX = "m_shm_cyclic_data.mutex_ptr";
const std::string Framework_Shared_Memory_Manager::INPUT_MUTEX = "m_shm_application_input_data.mutex_ptr";
const std::string Framework_Shared_Memory_Manager::OUTPUT_MUTEX = "m_shm_application_output_data.mutex_ptr";

// A mutex of a segment that is not attached is refused like an invalid one.
int32_t Framework_Shared_Memory_Manager::mutex_lock_ex(pthread_mutex_t* mutex, const std::string& mutex_name) const
{
    return Robust_Mutex(mutex, mutex_name).lock(), 0;
}

int32_t Framework_Shared_Memory_Manager::mutex_unlock_ex(pthread_mutex_t* mutex, const std::string& mutex_name) const
{
    return Robust_Mutex(mutex, mutex_name).unlock_ex(), 0;
}

// ---- detaching ----------------------------------------------------------------

// The name row of a slot that the framework watchdog released may already
// belong to the next application: it is left alone then.
void Framework_Shared_Memory_Manager::unlink()
{
    if (!m_my_application_name.empty()) {
        try {
            if (!m_cyclic_sem_released)
                set_application_name_ex("");
        } catch (const std::exception& e) {
            log_err(std::string("[Framework_Shared_Memory_Manager][unlink] ") + e.what());
        }
        m_my_application_name.clear();
    }
    unlink_all_shms();
    m_my_application_number = -1;
    m_logging_queue_writer.close();
}

void Framework_Shared_Memory_Manager::unlink_shm(int32_t fd, void* ptr, int32_t byte_size, std::string /*name*/)
{
    Shared_Memory_Info info;
    info.fd = fd;
    close_memory(&info, ptr, byte_size < 0 ? 0 : static_cast<std::size_t>(byte_size));
}

void Framework_Shared_Memory_Manager::release_segment(Shared_Memory_Info& shm_info, void* ptr, int64_t byte_size,
                                                      const char* name)
{
    if (shm_info.fd == -1)
        return;
    unlink_shm(shm_info.fd, ptr, static_cast<int32_t>(byte_size), name);
    shm_info.fd = -1;
}

int64_t Framework_Shared_Memory_Manager::sem_data_group_data_bytes(const Shared_Sem_Data_Group_Struct& group) const
{
    const int64_t slots = group.ring_buffer_slot_number;
    return slots != 0 ? slots * static_cast<int64_t>(group.data_byte) : static_cast<int64_t>(group.data_byte);
}

std::string Framework_Shared_Memory_Manager::sem_data_group_name(int group_id) const
{
    const char* name = m_shm_sem_group_data.share_sem_group_struct[group_id].group_name;
    return std::string(name, strnlen(name, FRAMEWORK_GROUP_NAME_SIZE));
}

void Framework_Shared_Memory_Manager::unlink_all_shms()
{
    log_inf("Framework_Shared_Memory_Manager::unlink_all_shms ( ... )");
    auto& info = m_shm_info;
    release_segment(info.shm_info, info.ptr, sizeof(Shared_Info_Struct), framework_names::INFO);
    info.ptr = nullptr;

    auto& cyclic = m_shm_cyclic_data;
    release_segment(cyclic.mutex_shm_info, cyclic.mutex_ptr, sizeof(pthread_mutex_t), framework_names::CYCLIC_MUTEX);
    release_segment(cyclic.inputs_shm_info, cyclic.inputs_ptr, m_input_cycle_size, framework_names::CYCLIC_INPUTS);
    release_segment(cyclic.outputs_shm_info, cyclic.outputs_ptr, m_output_cycle_size, framework_names::CYCLIC_OUTPUTS);
    release_segment(cyclic.sems_shm_info, cyclic.sems_ptr, int64_t{m_sems_size} * sizeof(Shared_Sem_Struct),
                    framework_names::CYCLIC_SEMS);
    cyclic = Shared_Cyclic_Data_Ptrs();

    const int64_t record = sizeof(Shared_Application_Data_Struct);
    auto& in = m_shm_application_input_data;
    release_segment(in.mutex_shm_info, in.mutex_ptr, sizeof(pthread_mutex_t), framework_names::APP_INPUT_MUTEX);
    release_segment(in.app_data_shm_info, in.app_data_ptr, m_input_app_size * record, framework_names::APP_INPUT_DATA);
    in = Shared_Application_Data_Ptrs();
    auto& out = m_shm_application_output_data;
    release_segment(out.mutex_shm_info, out.mutex_ptr, sizeof(pthread_mutex_t), framework_names::APP_OUTPUT_MUTEX);
    release_segment(out.app_data_shm_info, out.app_data_ptr, m_output_app_size * record,
                    framework_names::APP_OUTPUT_DATA);
    out = Shared_Application_Data_Ptrs();

    auto& async = m_shm_async_data;
    release_segment(async.mutex_shm_info, async.mutex_ptr, sizeof(pthread_mutex_t), framework_names::ASYNC_MUTEX);
    release_segment(async.input_data_from_framework_shm_info, async.input_data_from_framework_ptr,
                    int64_t{m_async_input_size} * sizeof(Shared_Async_Input_Data_From_Framework),
                    framework_names::ASYNC_INPUT_FROM_FRAMEWORK);
    release_segment(async.input_data_to_framework_shm_info, async.input_data_to_framework_ptr,
                    int64_t{m_async_input_size} * sizeof(Shared_Async_Input_Data_To_Framework),
                    framework_names::ASYNC_INPUT_TO_FRAMEWORK);
    release_segment(async.output_data_from_framework_shm_info, async.output_data_from_framework_ptr,
                    int64_t{m_async_output_size} * sizeof(Shared_Async_Output_Data_From_Framework),
                    framework_names::ASYNC_OUTPUT_FROM_FRAMEWORK);
    release_segment(async.output_data_to_framework_shm_info, async.output_data_to_framework_ptr,
                    int64_t{m_async_output_size} * sizeof(Shared_Async_Output_Data_To_Framework),
                    framework_names::ASYNC_OUTPUT_TO_FRAMEWORK);
    async = Shared_Async_Data_Ptrs();

    auto& groups = m_shm_sem_group_data;
    if (groups.sem_data_group_struct_shm_info.fd != -1) {
        for (std::size_t g = 0; g < groups.semaphores.size(); ++g) {
            const Shared_Sem_Data_Group_Struct& group = groups.share_sem_group_struct[g];
            release_segment(groups.sem_data_group_struct_sem_shm_info[g], groups.semaphores[g],
                            int64_t{m_rt_app_number} * sizeof(Shared_Sem_Data_Group_Sem_Struct),
                            framework_names::SEM_DATA_GROUP_SEM);
            release_segment(groups.sem_data_group_struct_data_info_shm_info[g], groups.data_info[g],
                            int64_t{group.data_num} * sizeof(Shared_Sem_Data_Group_Data_Info),
                            framework_names::SEM_DATA_GROUP_DATA_INFO);
            release_segment(groups.sem_data_group_struct_data_shm_info[g], groups.data[g],
                            group.ring_buffer_slot_number > 0 ? sem_data_group_data_bytes(group) : group.data_byte,
                            framework_names::SEM_DATA_GROUP_DATA);
            groups.semaphores[g] = nullptr;
            groups.data_info[g] = nullptr;
            groups.data[g] = nullptr;
        }
        release_segment(groups.sem_data_group_struct_shm_info, groups.share_sem_group_struct,
                        int64_t{m_sem_data_group_number} * sizeof(Shared_Sem_Data_Group_Struct),
                        framework_names::SEM_DATA_GROUP_STRUCT);
        groups.share_sem_group_struct = nullptr;
    }
    log_inf("[Framework_Shared_Memory_Manager::unlink_all_shms() ] completed ");
}

// ---- diagnostics -----------------------------------------------------------------

void Framework_Shared_Memory_Manager::_print_sem_data_group_info()
{
    const auto& groups = m_shm_sem_group_data;
    if (groups.share_sem_group_struct == nullptr)
        return;
    for (uint32_t g = 0; g < m_sem_data_group_number && g < groups.data.size(); ++g) {
        const Shared_Sem_Data_Group_Struct& group = groups.share_sem_group_struct[g];
        log_inf("--- sem_data_group " + num2str(g) + " --------");
        log_inf("name: " + std::string(group.group_name, FRAMEWORK_GROUP_NAME_SIZE));
        log_inf("data_num: " + num2str(group.data_num));
        log_inf("data_byte: " + num2str(group.data_byte));
        log_inf("rw_app_id: " + num2str(group.rw_app_id));
        std::string bytes = "byte:";
        for (uint32_t b = 0; groups.data[g] != nullptr && b < group.data_byte; ++b) {
            bytes += ' ';
            bytes += static_cast<char>(groups.data[g][b]);
        }
        log_inf(bytes);
        for (uint32_t d = 0; groups.data_info[g] != nullptr && d < group.data_num; ++d) {
            const Shared_Sem_Data_Group_Data_Info& datum = groups.data_info[g][d];
            log_inf("\t --- data " + num2str(d) + " --------");
            log_inf("name: " + std::string(datum.name_id, FRAMEWORK_NAME_ID_SIZE));
            log_inf("byte_dim: " + num2str(datum.byte_dim));
            log_inf("byte_offs: " + num2str(datum.byte_offs));
            log_inf("bit_offs: " + num2str(datum.bit_offs));
            log_inf("type :: " + num2str(static_cast<int>(datum.type)));
        }
    }
}
