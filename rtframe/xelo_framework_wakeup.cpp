// Application wake-up and watchdog, on the real-time thread once per tick.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <stdexcept>

#include "output_default.h"
#include "robust_mutex.h"
#include "xelo_framework.h"

namespace {
const char* const RT_THREAD = "fm_realtimetask";
constexpr float QUEUE_POST_TIMEOUT_MS = 0.05f;

int application_id(int slot)
{
    return slot + FRAMEWORK_APPLICATION_ID_OFFSET;
}
}  // namespace

void XELO_Framework_ex::check_and_post_sems_ex()
{
    Shared_Sem_Struct* slots = m_shm_xeno_cyclic_data.sems_ptr;
    if (slots == nullptr)
        return;
    for (int i = 0; i < appl_desc_mngr.rt_appl_num; ++i) {
        Shared_Sem_Struct& slot = slots[i];
        if (!slot.is_assigned)
            continue;
        // A countdown of 0 (a period of 0 set by a client) wakes every tick
        // instead of wrapping round to 2^32 ticks.
        if (slot.actual_value > 1) {
            --slot.actual_value;
            continue;
        }
        slot.actual_value = slot.start_value;
        slot.framework_absolute_tick_number = m_absolute_tick;
        int value = 0;
        if (sem_getvalue(&slot.sem, &value) == -1) {
            const int err = errno;
            m_rt_log.post(Log_Level::ERR, "check_and_post_sems_ex() -> Failed to sem_getvalue rt_app: %derrno: %s", i,
                          std::strerror(err));
            throw std::runtime_error("Failed to sem getvalue " + std::to_string(i) + std::strerror(err));
        }
        if (value < 1) {
            if (sem_post(&slot.sem) == -1) {
                const int err = errno;
                m_rt_log.post(Log_Level::ERR, "check_and_post_sems_ex() -> Failed to sem_post rt_app: %derrno: %s", i,
                              std::strerror(err));
                throw std::runtime_error("Failed to sem post " + std::to_string(i) + std::strerror(err));
            }
            if (m_enable_refresh_logging) {
                try {
                    m_xeno_logging_queue_writer.send_queue_cyclic_post_ex(i, QUEUE_POST_TIMEOUT_MS);
                } catch (const std::exception&) {
                    // a trace message that cannot be queued changes nothing
                }
            }
        } else {
            ++slot.overflow;
        }
        if (slot.overflow > slot.watchdog_max_value && slot.watchdog_is_active)
            expire_application_ex(i);
    }
}

void XELO_Framework_ex::expire_application_ex(int slot)
{
    char name[FRAMEWORK_APP_NAME_SIZE + 1] = {};
    {
        Robust_Mutex info_guard_mutex(&m_shm_xeno_info.ptr->mutex, "m_shm_xeno_info.ptr->mutex", RT_THREAD, &m_rt_log);
        std::lock_guard<Robust_Mutex> info_guard(info_guard_mutex);
        std::memcpy(name, m_shm_xeno_info.ptr->app_names[slot], FRAMEWORK_APP_NAME_SIZE);
    }
    {
        Robust_Mutex cyclic_guard_mutex(m_shm_xeno_cyclic_data.mutex_ptr, "m_shm_xeno_cyclic_data.mutex_ptr", RT_THREAD,
                                        &m_rt_log);
        std::lock_guard<Robust_Mutex> cyclic_guard(cyclic_guard_mutex);
        Shared_Sem_Struct& entry = m_shm_xeno_cyclic_data.sems_ptr[slot];
        m_rt_log.post(Log_Level::WAR, "Application %d (%s) watchdog (%d cycles) realtime expired!", slot, name,
                      entry.watchdog_max_value);
        entry.actual_value = 1;
        entry.start_value = 1;
        entry.overflow = -1;
        entry.watchdog_max_value = 1000;
        entry.watchdog_is_active = 0;
        entry.is_assigned = 0;
    }
    release_outputs_of(slot);
    release_async_outputs_of(slot);
    release_sem_data_of_ex(slot);
}

// The application's outputs go back to their defaults: ownership under the
// output-table mutex, the image under the cyclic mutex (taken in that order).
void XELO_Framework_ex::release_outputs_of(int slot)
{
    m_rt_log.post(Log_Level::WAR, "\toutputs release");
    Robust_Mutex table_guard_mutex(m_shm_xeno_application_output_data.mutex_ptr,
                                   "m_shm_xeno_application_output_data.mutex_ptr", RT_THREAD, &m_rt_log);
    std::lock_guard<Robust_Mutex> table_guard(table_guard_mutex);
    Robust_Mutex cyclic_guard_mutex(m_shm_xeno_cyclic_data.mutex_ptr, "m_shm_xeno_cyclic_data.mutex_ptr", RT_THREAD,
                                    &m_rt_log);
    std::lock_guard<Robust_Mutex> cyclic_guard(cyclic_guard_mutex);
    Shared_Application_Data_Struct* table = m_shm_xeno_application_output_data.app_data_ptr;
    for (uint32_t k = 0; k < appl_desc_mngr.outputs_num; ++k) {
        Shared_Application_Data_Struct& record = table[k];
        if (record.application_number_take_rw != application_id(slot))
            continue;
        m_rt_log.post(Log_Level::WAR, "\t\t output name: %.*s", FRAMEWORK_NAME_ID_SIZE, record.name_id);
        record.is_already_rw = 0;
        record.has_to_save = 0;
        record.application_number_take_rw = -1;
        write_output_default(record, m_shm_xeno_cyclic_data.outputs_ptr, m_outputs_byte_dim);
    }
}

void XELO_Framework_ex::release_async_outputs_of(int slot)
{
    m_rt_log.post(Log_Level::WAR, "\t output async release");
    const uint32_t outputs = appl_desc_mngr.async_outputs_num;
    if (outputs == 0)
        return;
    Robust_Mutex guard_mutex(m_shm_xeno_async_data.mutex_ptr, "m_shm_xeno_async_data.mutex_ptr", RT_THREAD, &m_rt_log);
    std::lock_guard<Robust_Mutex> guard(guard_mutex);
    for (uint32_t k = 0; k < outputs; ++k) {
        Shared_Async_Output_Data_To_Framework& to = m_shm_xeno_async_data.output_data_to_framework_ptr[k];
        if (to.application_number_take_rw != application_id(slot))
            continue;
        m_rt_log.post_plain("%.*s", FRAMEWORK_NAME_ID_SIZE,
                            m_shm_xeno_async_data.output_data_from_framework_ptr[k].name_id);
        to.application_number_take_rw = -1;
    }
}

void XELO_Framework_ex::release_sem_data_of_ex(int slot)
{
    m_rt_log.post(Log_Level::WAR, "\t semaphorized data release");
    const int slots = appl_desc_mngr.rt_appl_num;
    for (std::size_t g = 0; g < m_sem_group_data_vector.size(); ++g) {
        Shared_Sem_Data_Group_Struct& group = m_shm_sem_group_data.share_sem_group_struct[g];
        char mutex_name[96];
        std::snprintf(mutex_name, sizeof(mutex_name), "&(m_shm_sem_group_data.share_sem_group_struct[%zu].mutex)", g);
        Robust_Mutex guard_mutex(&group.mutex, mutex_name, RT_THREAD, &m_rt_log);
        std::lock_guard<Robust_Mutex> guard(guard_mutex);
        Shared_Sem_Data_Group_Sem_Struct* rows = m_shm_sem_group_data.semaphores[g];
        if (rows == nullptr)
            continue;
        Shared_Sem_Data_Group_Sem_Struct& row = rows[slot];
        if (row.application_id == application_id(slot)) {
            row.application_id = -1;
            row.application_has_been_released = 1;
            post_sem_data_semaphore_ex(true, static_cast<int>(g), slot, false, true);
        } else if (row.application_id != -1) {
            m_rt_log.post(Log_Level::ERR,
                          "ERROR! m_shm_sem_group_data.semaphores[%zu][%d].application_id :: %d --> should be %d or %d",
                          g, slot, row.application_id, slot, -1);
            throw std::runtime_error("Unexpected application id");
        }
        if (__atomic_load_n(&group.is_server_waiting_cmd_setter, __ATOMIC_ACQUIRE) == application_id(slot))
            __atomic_store_n(&group.is_server_waiting_cmd_setter, -1, __ATOMIC_RELEASE);
        if (group.rw_app_id == application_id(slot)) {
            group.rw_app_id = -1;
            for (int k = 0; k < slots; ++k)
                post_sem_data_semaphore_ex(true, static_cast<int>(g), k, true, false);
            group.sem_posted = 1;
        }
    }
}

bool XELO_Framework_ex::post_sem_data_semaphore_ex(bool /*is_post_rt*/, int sem_id, int app_id, bool is_from_watchdog,
                                                   bool bypass_app_id_check)
{
    Shared_Sem_Data_Group_Struct& group = m_shm_sem_group_data.share_sem_group_struct[sem_id];
    if (is_from_watchdog && group.is_posted_from_watchdog == 0) {
        m_rt_log.post(Log_Level::WAR, "Going to set warning flag and posting an answer on sem data id %d", sem_id);
        group.is_posted_from_watchdog = 1;
    }
    Shared_Sem_Data_Group_Sem_Struct& row = m_shm_sem_group_data.semaphores[static_cast<std::size_t>(sem_id)][app_id];
    if (!bypass_app_id_check && row.application_id == -1)
        return false;
    int value = 0;
    if (sem_getvalue(&row.sem, &value) == -1)
        throw std::runtime_error("Failed to sem getvalue, sem id :: " + std::to_string(sem_id) +
                                 ", app id :: " + std::to_string(app_id) + " -- erno :: " + std::strerror(errno));
    if (value >= 1)
        return false;
    m_rt_log.post(Log_Level::INF,
                  "[XELO_Framework_ex][post_sem_data_semaphore] actually posting on sem_data_group[%d][%d]", sem_id,
                  app_id);
    if (sem_post(&row.sem) == -1)
        throw std::runtime_error("Failed to sem post, sem id :: " + std::to_string(sem_id) +
                                 ", app id :: " + std::to_string(app_id) + " -- erno :: " + std::strerror(errno));
    if (m_enable_sem_data_logging) {
        try {
            m_xeno_logging_queue_writer.send_queue_sem_post_ex(QUEUE_SERVER_APPLICATION_ID, sem_id,
                                                               QUEUE_POST_TIMEOUT_MS);
        } catch (const std::exception&) {
            // a trace message that cannot be queued changes nothing
        }
    }
    return true;
}
