// Data groups: the writer and reader roles, publishing the local image with
// the wake-up of the readers, and waiting for a post. A group mutex is held
// only around shared fields and data, never while a semaphore is posted or
// waited on, and never together with another one.

#include <semaphore.h>

#include <cerrno>
#include <cmath>
#include <cstring>
#include <iostream>
#include <stdexcept>

#include "xelo_framework_shm_manager.h"
#include "xelo_framework_shm_manager_clock.h"
#include "xelo_log.h"
#include "xelo_string_functions.h"

using XELO_String_Functions::num2str;

namespace {
constexpr float QUEUE_TIMEOUT_MS = 0.05f;
constexpr long WATCHDOG_RETRY_NS = 2000000;

// Fields that are read or written without the group mutex.
template <typename T>
T shared_load(const T& field)
{
    return __atomic_load_n(&field, __ATOMIC_ACQUIRE);
}
}  // namespace

// ---- roles -----------------------------------------------------------------------------

int Framework_Shared_Memory_Manager::get_sem_data_group_write_id_ex(std::string semaphore_name,
                                                                    bool take_only_shared_id)
{
    const int g = find_sem_data_group(semaphore_name);
    if (g == -1)
        throw std::runtime_error(
            "[Framework_Shared_Memory_Manager][get_sem_data_group_write_id_ex] Error "
            "semaphorized group data not found... " +
            semaphore_name);
    if (take_only_shared_id)
        return g;
    check_not_released_ex("get_sem_data_group_write_id_ex");
    Shared_Sem_Data_Group_Struct& group = group_record(g);
    const int32_t me = my_application_id();
    int32_t writer;
    with_lock(Robust_Mutex(&group.mutex, m_sem_data_group_mutex_names[static_cast<std::size_t>(g)]), [&] {
        writer = group.rw_app_id;
        if (writer == -1) {
            group.rw_app_id = me;
            group.is_posted_from_watchdog = 0;
        }
    });
    if (writer == me)
        log_inf("[Framework_Shared_Memory_Manager][get_sem_data_group_write_id_ex] sema_data_group" + semaphore_name +
                "already taken by application " + num2str(me));
    else if (writer != -1)
        throw std::runtime_error(get_sem_data_additional_info("get_sem_data_group_write_id_ex", SOURCE_FILE, __LINE__,
                                                              "Error semaphorize group data is already taken in "
                                                              "writing",
                                                              g, -1, -1, -1));
    return g;
}

// Posts made before this application read the group are dropped: its first
// wait takes the next post.
int Framework_Shared_Memory_Manager::get_sem_data_group_read_id_ex(std::string sem_data_group_name)
{
    const char* caller = "get_sem_data_group_read_id_ex";
    const int g = find_sem_data_group(sem_data_group_name);
    if (g == -1)
        throw std::runtime_error(
            "[Framework_Shared_Memory_Manager][get_sem_data_group_read_id_ex] Error semaphorize "
            "group data not found... " +
            sem_data_group_name);
    check_not_released_ex(caller);
    Shared_Sem_Data_Group_Sem_Struct& row = own_group_row_ex(g, caller);
    const int32_t me = my_application_id();
    bool claimed;
    with_lock(Robust_Mutex(&group_record(g).mutex, m_sem_data_group_mutex_names[static_cast<std::size_t>(g)]), [&] {
        claimed = row.application_id == -1 || row.application_id == me;
        if (claimed) {
            row.application_id = me;
            row.application_has_been_released = 0;
        }
    });
    if (!claimed)
        throw std::runtime_error(get_sem_data_additional_info(caller, SOURCE_FILE, __LINE__,
                                                              "Error semaphorize group data reading mode already taken",
                                                              g, -1, -1, -1));
    while (sem_trywait(&row.sem) == 0) {
    }
    return g;
}

// The first look is taken without the lock; a writer that appears between
// that look and the lock makes the attempt fail like an owned group.
bool Framework_Shared_Memory_Manager::try_acquire_sem_data_group_ex(int sem_data_group_id)
{
    check_sem_data_input_param_ex("try_acquire_sem_data_group_ex", SOURCE_FILE, __LINE__, sem_data_group_id, false,
                                  false, -1, -1, -1);
    check_not_released_ex("try_acquire_sem_data_group_ex");
    Shared_Sem_Data_Group_Struct& group = group_record(sem_data_group_id);
    const int32_t me = my_application_id();
    const int32_t seen = shared_load(group.rw_app_id);
    if (seen == me)
        return true;
    if (seen != -1)
        return false;
    int32_t writer;
    with_lock(Robust_Mutex(&group.mutex, m_sem_data_group_mutex_names[static_cast<std::size_t>(sem_data_group_id)]),
              [&] {
                  writer = group.rw_app_id;
                  if (writer == -1) {
                      group.is_posted_from_watchdog = 0;
                      group.rw_app_id = me;
                  }
              });
    if (writer == me)
        log_inf("[Framework_Shared_Memory_Manager][acquire_sem_data_group_rw] sem_data_group_id " +
                num2str(sem_data_group_id) + " already taken by application " + num2str(me));
    return writer == -1 || writer == me;
}

// With is_server_released every reader is woken and told that no post of
// this writer will come.
void Framework_Shared_Memory_Manager::release_sem_data_group_ex(int semaphore_id, bool is_server_released)
{
    check_sem_data_input_param_ex("release_sem_data_group_ex", SOURCE_FILE, __LINE__, semaphore_id, true, false, -1, -1,
                                  -1);
    check_not_released_ex("release_sem_data_group_ex");
    Shared_Sem_Data_Group_Struct& group = group_record(semaphore_id);
    bool still_writer;
    bool flag_raised = false;
    with_lock(Robust_Mutex(&group.mutex, m_sem_data_group_mutex_names[static_cast<std::size_t>(semaphore_id)]), [&] {
        still_writer = group.rw_app_id == my_application_id();
        if (still_writer) {
            group.rw_app_id = -1;
            if (is_server_released) {
                flag_raised = group.is_posted_from_watchdog == 0;
                group.is_posted_from_watchdog = 1;
                group.sem_posted = 1;
            }
        }
    });
    if (!still_writer)
        throw std::runtime_error(get_sem_data_additional_info("release_sem_data_group_ex", SOURCE_FILE, __LINE__,
                                                              "Sem data group not taken by this application",
                                                              semaphore_id, -1, -1, -1));
    if (!is_server_released)
        return;
    if (flag_raised)
        log_war("Going to set warning flag and posting an answer on sem data id " + num2str(semaphore_id));
    post_all_sem_semaphorized_data_group_ex(semaphore_id);
}

// ---- posting -----------------------------------------------------------------------------

// Expects the group mutex held.
void Framework_Shared_Memory_Manager::publish_local_data(int sem_group_id)
{
    const std::size_t g = static_cast<std::size_t>(sem_group_id);
    const std::vector<uint8_t>& source =
        ring_slots(sem_group_id) > 0 ? m_sem_data_group_ring_buffer_data[g] : m_sem_data_group_data_vectors[g];
    if (!source.empty())
        std::memcpy(m_shm_sem_group_data.data[g], source.data(), source.size());
}

// The writer is checked again under the lock: a writer lost in the meantime
// publishes nothing.
void Framework_Shared_Memory_Manager::post_sem_data_group_ex(int sem_group_id, bool is_exclusive_cmd,
                                                             int app_id_to_reply)
{
    check_sem_data_input_param_ex("post_sem_data_group_ex", SOURCE_FILE, __LINE__, sem_group_id, true, false, -1, -1,
                                  -1);
    check_not_released_ex("post_sem_data_group_ex");
    Shared_Sem_Data_Group_Struct& group = group_record(sem_group_id);
    const int32_t me = my_application_id();
    bool still_writer;
    with_lock(Robust_Mutex(&group.mutex, m_sem_data_group_post_mutex_names[static_cast<std::size_t>(sem_group_id)]),
              [&] {
                  still_writer = group.rw_app_id == me;
                  if (still_writer) {
                      group.last_post_cmd_app_id = is_exclusive_cmd ? me : -1;
                      publish_local_data(sem_group_id);
                      group.sem_posted = 1;
                      group.ring_buffer_post_id =
                          ring_slots(sem_group_id) > 0
                              ? m_sem_data_group_ring_buffer_writing_id[static_cast<std::size_t>(sem_group_id)]
                              : 0;
                      if (app_id_to_reply != -1)
                          group.last_post_app_id_to_answ = app_id_to_reply;
                  }
              });
    if (!still_writer)
        throw std::runtime_error(get_sem_data_additional_info("post_sem_data_group_ex", SOURCE_FILE, __LINE__,
                                                              "Sem data group not taken by this application",
                                                              sem_group_id, -1, -1, -1));
    const bool to_all = app_id_to_reply == -1;
    try {
        const int reader = app_id_to_reply - FRAMEWORK_APPLICATION_ID_OFFSET;
        if (to_all)
            post_all_sem_semaphorized_data_group_ex(sem_group_id);
        else if (reader >= 0 && reader < m_rt_app_number)
            post_single_sem_semaphorized_data_group_ex(sem_group_id, reader);
    } catch (const std::exception& e) {
        log_inf(std::string("[Framework_Shared_Memory_Manager][post_sem_data_group_ex] EXCEPTION ") +
                (to_all ? "2" : "1") + " unlocked :: " + sem_data_group_name(sem_group_id));
        throw std::runtime_error(e.what());
    }
    if (m_trace_semaphore)
        trace_semaphore("post_sem_data_group", app_id_to_reply);
}

// Posts only a reader of the group whose wake-up is not already pending.
bool Framework_Shared_Memory_Manager::post_single_sem_semaphorized_data_group_ex(int sem_id, int app_id_no_offset)
{
    if (!sem_data_group_valid(sem_id))
        throw std::runtime_error(get_sem_data_additional_info("post_single_sem_semaphorized_data_group_ex", SOURCE_FILE,
                                                              __LINE__, "Sorry, sem group_id not valid!", sem_id, -1,
                                                              -1, -1));
    Shared_Sem_Data_Group_Sem_Struct* rows = m_shm_sem_group_data.semaphores[static_cast<std::size_t>(sem_id)];
    if (rows == nullptr || app_id_no_offset < 0 || app_id_no_offset >= m_rt_app_number)
        return false;
    Shared_Sem_Data_Group_Sem_Struct& row = rows[app_id_no_offset];
    if (shared_load(row.application_id) == -1)
        return false;
    auto failure = [&](const char* what) {
        const int err = errno;
        return std::runtime_error(std::string(what) + num2str(sem_id) + ", app_id_no_offset :: " +
                                  num2str(app_id_no_offset) + " -- erno :: " + std::strerror(err));
    };
    int value = 0;
    if (sem_getvalue(&row.sem, &value) != 0)
        throw failure("Failed to sem getvalue, sem id :: ");
    if (value > 0)
        return false;
    if (sem_post(&row.sem) != 0)
        throw failure("Failed to sem post, sem id :: ");
    if (m_sem_data_logging_enabled &&
        !m_logging_queue_writer.send_queue_sem_post_ex(my_application_id(), sem_id, QUEUE_TIMEOUT_MS))
        log_war("[Framework_Shared_Memory_Manager][post_single_sem_semaphorized_data_group_ex] send_queue_timeout!");
    return true;
}

bool Framework_Shared_Memory_Manager::post_all_sem_semaphorized_data_group_ex(int sem_id)
{
    bool posted = false;
    for (int32_t app = 0; app < m_rt_app_number; ++app)
        posted = post_single_sem_semaphorized_data_group_ex(sem_id, app) || posted;
    return posted;
}

// ---- waiting ------------------------------------------------------------------------------

bool Framework_Shared_Memory_Manager::wait_sem_data_group_ex(int sem_group_id, double timeout_ms,
                                                             int ack_on_poster_release, int* app_id_to_reply)
{
    const char* caller = "wait_sem_data_group_ex";
    const char* method = "[Framework_Shared_Memory_Manager][wait_sem_data_group_ex] ";
    if (std::isnan(timeout_ms))
        throw std::runtime_error(std::string(method) + "time-out is not a number: " + std::strerror(EINVAL));
    check_sem_data_input_param_ex(caller, SOURCE_FILE, __LINE__, sem_group_id, false, false, -1, -1, -1);
    Shared_Sem_Data_Group_Sem_Struct& row = own_group_row_ex(sem_group_id, caller);
    if (m_cyclic_sem_released || shared_load(row.application_id) != my_application_id()) {
        if (m_cyclic_sem_released || shared_load(row.application_has_been_released) == 1)
            throw std::runtime_error(std::string(method) + "this application has been released from framework!!");
        throw std::runtime_error("Error semaphore taken by wrong application ... ");
    }
    for (;;) {
        const bool posted = wait_own_group_semaphore_ex(sem_group_id, row, timeout_ms);
        check_attached_run_ex(caller);
        if (!posted) {
            if (m_trace_semaphore)
                trace_semaphore("wait_sem_data_group", -1);
            return false;
        }
        if (m_sem_data_logging_enabled &&
            !m_logging_queue_writer.send_queue_sem_wait_ex(my_application_id(), sem_group_id, QUEUE_TIMEOUT_MS))
            log_war(std::string(method) + "send_queue_timeout!");
        if (shared_load(row.application_has_been_released) == 1)
            throw std::runtime_error(std::string(method) +
                                     "semaphore posted because this application has been released from framework!!");
        if (!take_posted_from_watchdog_flag_ex(sem_group_id))
            break;
        log_war("[Framework_Shared_Memory_Manager][wait_sem_data_group] semdata group " + num2str(sem_group_id) +
                " is is posted from watchdog");
        if (ack_on_poster_release != 0)
            throw std::runtime_error(get_sem_data_additional_info(caller, SOURCE_FILE, __LINE__,
                                                                  "application supposed to post has been released",
                                                                  sem_group_id, -1, -1, -1));
        shm_manager_clock::sleep_monotonic_ns(WATCHDOG_RETRY_NS);
        log_war(std::string(method) + "sem_data_group " + num2str(sem_group_id) + " unexpected behaviour!!");
    }
    take_published_data_ex(sem_group_id, app_id_to_reply);
    if (m_trace_semaphore && timeout_ms > 0)
        trace_semaphore("wait_sem_data_group", app_id_to_reply != nullptr ? *app_id_to_reply : -1);
    return true;
}

// false on time-out. A signal does not end the wait: a timed one goes on
// towards the same deadline.
bool Framework_Shared_Memory_Manager::wait_own_group_semaphore_ex(int sem_group_id,
                                                                  Shared_Sem_Data_Group_Sem_Struct& row,
                                                                  double timeout_ms)
{
    const bool timed = timeout_ms > 0;
    timespec deadline{};
    if (timed) {
        timespec now{};
        if (clock_gettime(CLOCK_REALTIME, &now) != 0)
            throw std::runtime_error("clock_gettime error");
        deadline = shm_manager_clock::deadline_after(now, shm_manager_clock::ms_to_ns(timeout_ms));
    }
    for (;;) {
        if ((timed ? sem_timedwait(&row.sem, &deadline) : sem_wait(&row.sem)) == 0)
            return true;
        const int err = errno;
        if (err == EINTR)
            continue;
        if (timed && err == ETIMEDOUT)
            return false;
        log_inf("errno :: " + num2str(err) + ", strerrno :: " + std::strerror(err));
        if (timed)
            throw std::runtime_error(get_sem_data_additional_info("wait_sem_data_group_ex", SOURCE_FILE, __LINE__,
                                                                  "wait_sem_data_group(): Failed to wait sem ... ",
                                                                  sem_group_id, -1, -1, -1));
        throw std::runtime_error(std::string("wait_sem_data_group(): Failed to wait sem ... ") + std::strerror(err));
    }
}

// The flag of a lost writer is seen and cleared by exactly one reader.
bool Framework_Shared_Memory_Manager::take_posted_from_watchdog_flag_ex(int sem_group_id)
{
    Shared_Sem_Data_Group_Struct& group = group_record(sem_group_id);
    if (shared_load(group.is_posted_from_watchdog) == 0)
        return false;
    Robust_Mutex held(&group.mutex, m_sem_data_group_mutex_names[static_cast<std::size_t>(sem_group_id)]);
    std::unique_lock<Robust_Mutex> lock(held);
    const bool raised = group.is_posted_from_watchdog != 0;
    group.is_posted_from_watchdog = 0;
    lock.unlock();
    return raised;
}

void Framework_Shared_Memory_Manager::load_published_sem_data_group_ex(int sem_group_id)
{
    check_sem_data_input_param_ex("load_published_sem_data_group_ex", SOURCE_FILE, __LINE__, sem_group_id, true, false,
                                  -1, -1, -1);
    take_published_data_ex(sem_group_id, nullptr);
}

void Framework_Shared_Memory_Manager::take_published_data_ex(int sem_group_id, int* app_id_to_reply)
{
    const std::size_t g = static_cast<std::size_t>(sem_group_id);
    Shared_Sem_Data_Group_Struct& group = group_record(sem_group_id);
    const bool ring = ring_slots(sem_group_id) > 0;
    std::vector<uint8_t>& target = ring ? m_sem_data_group_ring_buffer_data[g] : m_sem_data_group_data_vectors[g];
    Robust_Mutex held(&group.mutex, m_sem_data_group_mutex_names[g]);
    std::unique_lock<Robust_Mutex> lock(held);
    if (!target.empty())
        std::memcpy(target.data(), m_shm_sem_group_data.data[g], target.size());
    if (ring)
        m_sem_data_group_ring_buffer_writing_id[g] = ring_position(sem_group_id, group.ring_buffer_post_id);
    if (app_id_to_reply != nullptr)
        *app_id_to_reply = group.last_post_cmd_app_id;
    lock.unlock();
}

// ---- traces ---------------------------------------------------------------------------------

uint32_t Framework_Shared_Memory_Manager::own_absolute_tick() const
{
    const int32_t n = m_my_application_number;
    if (n < 0 || n >= m_sems_size || m_shm_cyclic_data.sems_ptr == nullptr)
        return 0;
    return shared_load(m_shm_cyclic_data.sems_ptr[n].framework_absolute_tick_number);
}

void Framework_Shared_Memory_Manager::trace_semaphore(const char* operation, int answer_id) const
{
    std::cout << "[framework share memory manager] [" << operation << "] [trace semaphore] --> app id ---> "
              << m_my_application_number << " answer id :: " << answer_id << " absolute tick :: " << own_absolute_tick()
              << std::endl;
}
