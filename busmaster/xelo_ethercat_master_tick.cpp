// The tick of the clients, the master watchdog's settings and the timing
// statistics of the cyclic thread.
#include <cerrno>
#include <cstring>
#include <mutex>
#include <stdexcept>

#include "ecm_log.h"
#include "xelo_ethercat_master_class.h"

namespace {
constexpr const char* TICK_MUTEX_NAME = "m_process_tick_exchange_shmem->shm_mutex";
}

void ECM_Master::manage_process_tick_exchange_shmem(bool has_todo_post, bool has_to_set_tick_error)
{
    // Every OP cycle: the lock allocates nothing (a fixed name, no string).
    Robust_Mutex mutex(&m_process_tick_exchange_shmem->shm_mutex, TICK_MUTEX_NAME, nullptr, &ecm_lock_log());
    std::lock_guard<Robust_Mutex> guard(mutex);
    Shared_Tick_Mem_Region& tick = *m_process_tick_exchange_shmem;
    tick.tick_count += 1;
    if (has_to_set_tick_error) {
        ecm_log_war("ECM_Master::manage_process_tick_exchange_shmem() -> tick_count = -1 ");
        tick.tick_count = -1;
    }
    if (m_actual_ethercat_state == OP_STATE || has_todo_post) {
        if (tick.tick_count == 0)
            ecm_log_war("m_process_tick_exchange_shmem->tick_count == 0 -> NON DOVREBBE MAI SUCCEDERE!!!");
        check_and_post_sem_ex(&tick.shm_sem_tick_ready);
    }
}

void ECM_Master::check_and_post_sem_ex(sem_t* sem)
{
    int value = 0;
    if (sem_getvalue(sem, &value) != 0)
        throw std::runtime_error(std::string("Failed to sem getvalue") + std::strerror(errno));
    if (value > 0)
        return;
    if (sem_post(sem) != 0)
        throw std::runtime_error(std::string("Failed to sem post") + std::strerror(errno));
}

void ECM_Master::set_watchdog_on_ex(int watchdog_desired)
{
    Robust_Mutex operational_state = ecm_mutex(&m_mutex_operational_state, "m_mutex_operational_state");
    std::lock_guard<Robust_Mutex> guard(operational_state);
    if (m_thread_is_running)
        throw std::runtime_error("Attention: m_thread_is_running ");
    ecm_log_inf("ECM_Master::set_watchdog_on_ex -> " + std::to_string(watchdog_desired));
    m_watchdog_num_cycles = watchdog_desired;
    m_master_watchdog_is_active = true;
}

void ECM_Master::set_watchdog_off_ex()
{
    Robust_Mutex operational_state = ecm_mutex(&m_mutex_operational_state, "m_mutex_operational_state");
    std::lock_guard<Robust_Mutex> guard(operational_state);
    if (m_thread_is_running)
        throw std::runtime_error("Attention: m_thread_is_running ");
    ecm_log_inf("ECM_Master::set_watchdog_off_ex ");
    m_master_watchdog_is_active = false;
}

// ---- timing statistics ------------------------------------------------------------

void ECM_Master::reset_info_timer(bool reset_first_frame_info)
{
    ecm_log_inf("reset_info_timer");
    m_request_timer_info_reset = false;
    m_master_time_slot_actual = timeval{0, 0};
    m_master_time_slot_max = timeval{0, 0};
    m_master_time_slot_resend_max = timeval{0, 0};
    m_master_time_slot_min = timeval{0, static_cast<suseconds_t>(m_cycle_frame_time_ns / 1000)};
    m_jitter_frame = 0;
    m_jitter_frame_max = 0;
    m_jitter_frame_min = m_cycle_frame_time_ns;
    m_time_gap_frame_to_prev_sync0 = 0;
    m_time_gap_frame_to_prev_sync0_max = 0;
    m_time_gap_frame_to_prev_sync0_min = m_cycle_frame_time_ns;
    if (reset_first_frame_info) {
        m_first_frame_dc_frame_send_time = 0;
        m_first_frame_dc_next_sync_time = 0;
        m_first_frame_dc_resto = 0;
        m_first_frame_dc_slave_ref_clock = 0;
    }
}

void ECM_Master::update_dc_time_statistics()
{
    m_jitter_frame = m_dc_resto;
    if (m_jitter_frame > m_jitter_frame_max)
        m_jitter_frame_max = m_jitter_frame;
    if (m_jitter_frame < m_jitter_frame_min)
        m_jitter_frame_min = m_jitter_frame;
    const uint32_t previous_sync0 =
        static_cast<uint32_t>(m_dc_next_sync_time_ref) - static_cast<uint32_t>(m_cycle_frame_time_ns);
    m_time_gap_frame_to_prev_sync0 =
        static_cast<int32_t>(static_cast<uint32_t>(m_slave_ref_clock_from_frame) - previous_sync0);
    if (m_time_gap_frame_to_prev_sync0 > m_time_gap_frame_to_prev_sync0_max)
        m_time_gap_frame_to_prev_sync0_max = m_time_gap_frame_to_prev_sync0;
    if (m_time_gap_frame_to_prev_sync0 < m_time_gap_frame_to_prev_sync0_min)
        m_time_gap_frame_to_prev_sync0_min = m_time_gap_frame_to_prev_sync0;
}

void ECM_Master::print_save_record_time_array()
{
    ecm_log_war("ECM_Master::print_save_record_time_array()");
}
