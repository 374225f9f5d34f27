// Write ownership of cyclic outputs and of output groups, recorded in the
// shared output table under its mutex.

#include <stdexcept>

#include "xelo_framework_shm_manager.h"
#include "xelo_log.h"
#include "xelo_string_functions.h"

using XELO_String_Functions::num2str;

void Framework_Shared_Memory_Manager::acquire_output_id(int output_index)
{
    if (output_index < 0 || static_cast<uint32_t>(output_index) >= m_output_app_size ||
        m_shm_application_output_data.app_data_ptr == nullptr)
        throw std::runtime_error("[Framework_Shared_Memory_Manager][acquire_output_id] output index not valid :: " +
                                 num2str(output_index));
    Shared_Application_Data_Struct& record = output_record(output_index);
    record.is_already_rw = 1;
    record.application_number_take_rw = m_my_application_number + FRAMEWORK_APPLICATION_ID_OFFSET;
    m_output_is_rw[output_index] = 1;
    m_output_is_taken[output_index] = 1;
}

void Framework_Shared_Memory_Manager::release_output_id(int output_index)
{
    if (output_index < 0 || static_cast<uint32_t>(output_index) >= m_output_app_size ||
        m_shm_application_output_data.app_data_ptr == nullptr)
        throw std::runtime_error("[Framework_Shared_Memory_Manager][release_output_id] output index not valid :: " +
                                 num2str(output_index));
    Shared_Application_Data_Struct& record = output_record(output_index);
    if (record.application_number_take_rw != m_my_application_number + FRAMEWORK_APPLICATION_ID_OFFSET)
        return;
    record.is_already_rw = 0;
    record.application_number_take_rw = -1;
    m_output_is_rw[output_index] = 0;
    m_output_is_taken[output_index] = 0;
}

int Framework_Shared_Memory_Manager::get_output_rw_id_ex(std::string label, bool take_only_shared_id)
{
    if (!take_only_shared_id)
        check_not_released_ex("get_output_rw_id_ex");
    const int my_id = m_my_application_number + FRAMEWORK_APPLICATION_ID_OFFSET;
    bool owned_by_other = false;
    bool owned_by_me = false;
    int group_id = -1;
    int index;
    with_lock(Robust_Mutex(m_shm_application_output_data.mutex_ptr, OUTPUT_MUTEX), [&] {
        index = find_output_index(label);
        if (index != -1) {
            const int actual = m_actual_output_id[index];
            const Shared_Application_Data_Struct& record = output_record(actual);
            if (record.is_already_rw == 0) {
                if (!take_only_shared_id)
                    acquire_output_id(actual);
                group_id = record.group_id;
            } else if (take_only_shared_id) {
                group_id = record.group_id;
            } else if (record.application_number_take_rw == my_id) {
                owned_by_me = true;
            } else {
                owned_by_other = true;
            }
        }
    });
    const std::string method = "[Framework_Shared_Memory_Manager][get_output_rw_id_ex] ";
    if (owned_by_me)
        log_inf(method + "Output '" + label + "' already taken by application " + num2str(my_id));
    if (index == -1)
        throw std::runtime_error(method + "output name is not valid :: " + label);
    if (owned_by_other)
        throw std::runtime_error(method + "output name is already assigned as rw :: " + label);
    if (take_only_shared_id && group_id == -1)
        throw std::runtime_error(method + "output name is not shareable :: " + label);
    return index + OUTPUT_ID_OFFSET;
}

int Framework_Shared_Memory_Manager::try_acquire_output_group_ex(int group_id)
{
    if (group_id == -1)
        throw std::runtime_error(
            "[Framework_Shared_Memory_Manager][try_acquire_output_group_ex] cannot acquire group id -1");
    check_not_released_ex("try_acquire_output_group_ex");
    const int my_id = m_my_application_number + FRAMEWORK_APPLICATION_ID_OFFSET;
    Robust_Mutex held(m_shm_application_output_data.mutex_ptr, OUTPUT_MUTEX);
    std::unique_lock<Robust_Mutex> lock(held);
    for (uint32_t i = 0; i < m_output_app_size; ++i) {
        const Shared_Application_Data_Struct& record = output_record(static_cast<int>(i));
        if (record.group_id == group_id && record.is_already_rw == 1 && record.application_number_take_rw != my_id) {
            lock.unlock();
            return 0;
        }
    }
    for (uint32_t i = 0; i < m_output_app_size; ++i) {
        const Shared_Application_Data_Struct& record = output_record(static_cast<int>(i));
        if (record.group_id == group_id && record.is_already_rw == 0)
            acquire_output_id(static_cast<int>(i));
    }
    lock.unlock();
    return 1;
}

void Framework_Shared_Memory_Manager::release_output_group_control_ex(int group_id)
{
    if (group_id == -1)
        throw std::runtime_error(
            "[Framework_Shared_Memory_Manager][Framework_Shared_Memory_Manager] cannot release group id -1");
    check_not_released_ex("release_output_group_control_ex");
    Robust_Mutex held(m_shm_application_output_data.mutex_ptr, OUTPUT_MUTEX);
    std::unique_lock<Robust_Mutex> lock(held);
    for (uint32_t i = 0; i < m_output_app_size; ++i) {
        const Shared_Application_Data_Struct& record = output_record(static_cast<int>(i));
        if (record.group_id == group_id && record.is_already_rw == 1)
            release_output_id(static_cast<int>(i));
    }
    lock.unlock();
}
