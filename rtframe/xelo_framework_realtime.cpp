// The real-time thread: start-up, the tick loop on the offline timer and the
// exit path that lets every client go and releases the segments.
#include <cerrno>
#include <cstring>
#include <mutex>
#include <stdexcept>

#include "framework_fatal.h"
#include "framework_stopped.h"
#include "robust_mutex.h"
#include "xelo_framework.h"
#include "xelo_log.h"
#include "xelo_thread_mtx_wrapper.h"

namespace {
constexpr long OFFLINE_START_PAUSE_MS = 2000;
}

void* FrameworkThreadStartup(void* framework)
{
    auto* self = static_cast<XELO_Framework_ex*>(framework);
    set_own_fifo_priority_or_exit(95, "Failed to set Framework Thread Priority");
    try {
        self->start_up_ex();
        self->run_ex();
    } catch (const Framework_Stopped& stop) {
        self->exit_path(stop.what(), false);
    } catch (const Framework_Fatal& fatal) {
        self->m_fatal_text = fatal.what();
        self->exit_path(fatal.what(), true);
    } catch (const std::exception& error) {
        self->exit_path(error.what(), true);
    }
    self->m_realtime_ready.store(true, std::memory_order_release);
    return nullptr;
}

void XELO_Framework_ex::start_up_ex()
{
    extract_memory_info_ex();
    open_shared_memories_ex();
    find_reserved_variables_ex();
    if (sem_post(m_sem_start_queue_reading.get()) != 0) {
        log_err("FrameworkThreadStartup() -> Failed to sem_post m_sem_start_queue_reading");
        throw std::runtime_error("Failed to sem post m_sem_start_queue_reading");
    }
    set_outputs_default_value();
    update_slave_ex();
    m_rt_log.drain();
    // With a bridge, ready_to_start waits for the bridge to run (run_ex).
    if (m_is_bridge_enabled)
        m_framework_socket_bridge.init_ex();
    else
        set_ready_to_start(1, "framework->m_shm_xeno_info.ptr->mutex");
    m_realtime_ready.store(true, std::memory_order_release);
}

void XELO_Framework_ex::set_ready_to_start(uint32_t value, const char* mutex_label)
{
    Robust_Mutex guard_mutex(&m_shm_xeno_info.ptr->mutex, mutex_label, "fm_realtimetask");
    std::lock_guard<Robust_Mutex> guard(guard_mutex);
    m_shm_xeno_info.ptr->ready_to_start = value;
}

void XELO_Framework_ex::run_ex()
{
    log_inf("[framework] [run_ex] in progress ... ");
    m_is_running = true;
    if (m_master_simulation) {
        // The pause comes before the timer is armed: expirations piled up
        // during it would be counted as ticks and reported as lost.
        if (m_stop.sleep_for(OFFLINE_START_PAUSE_MS, &process_stop_flag()))
            throw Framework_Stopped();
        m_periodic_timer.make_periodic_ex(appl_desc_mngr.master_cycle_time_ns);
    }

    m_absolute_tick = 0;
    bool ready_pending = m_is_bridge_enabled;
    const int64_t first = wait_syncro_tick();
    if (first >= 0)
        m_absolute_tick += static_cast<uint32_t>(first);
    if (first != 1)
        m_rt_log.post(Log_Level::WAR, "[framework] [run_ex] master tick lost at the start = %lld",
                      static_cast<long long>(first));
    for (;;) {
        if (stop_requested())
            throw Framework_Stopped();
        const int64_t ticks = wait_syncro_tick();
        if (ticks < 0 && m_master_simulation) {
            const int err = errno;
            throw std::runtime_error("make periodic error :: -1 errno :: " + std::to_string(err) +
                                     " strerror :: " + std::strerror(err));
        }
        if (ticks >= 0)
            m_absolute_tick += static_cast<uint32_t>(ticks);
        if (ticks != 1)
            m_rt_log.post(Log_Level::WAR, "[framework] [run_ex] master tick lost = %lld",
                          static_cast<long long>(ticks));
        master_tick_lost(ticks);
        run_tick_work();
        if (m_is_bridge_enabled) {
            if (m_framework_socket_bridge.has_fatal_error())
                throw Framework_Fatal(m_framework_socket_bridge.fatal_error_text());
            if (ready_pending && m_framework_socket_bridge.get_bridge_running_framework_value()) {
                set_ready_to_start(1, "m_shm_xeno_info.ptr->mutex");
                ready_pending = false;
            }
        }
    }
}

// Master-offline mode: the timer is the master, always online.
int64_t XELO_Framework_ex::wait_syncro_tick()
{
    if (!m_master_simulation)
        return wait_master_syncro_tick();
    m_master_connect_is_open.store(true, std::memory_order_relaxed);
    return m_periodic_timer.wait_period();
}

void XELO_Framework_ex::run_tick_work()
{
    try {
        update_slave_ex();
        manage_async_data_ex();
        check_and_post_sems_ex();
    } catch (const std::exception& error) {
        m_rt_log.post(Log_Level::ERR, "%s", error.what());
    }
}

void XELO_Framework_ex::exit_path(const char* reason, bool is_error)
{
    m_rt_log.drain();
    if (is_error)
        log_err(reason);
    else
        log_war(reason);
    if (m_shm_xeno_info.ptr != nullptr) {
        try {
            set_ready_to_start(0, "framework->m_shm_xeno_info.ptr->mutex");
        } catch (const std::exception& error) {
            log_err(error.what());
        }
    }
    m_is_running = false;
    if (m_shared_memories_is_opened)
        release_all_sems();
    // The bridge is a client of these segments: its threads end before they go.
    m_framework_socket_bridge.stop();
    std::unique_lock<std::mutex> save_gate(m_save_gate, std::try_to_lock);
    if (!save_gate.owns_lock()) {
        log_inf("XELO_Framework_ex:: wait to save thread stopping ...");
        save_gate.lock();
    }
    if (!m_segments.empty())
        release_all_shms();
    close_master_on_exit();
}
