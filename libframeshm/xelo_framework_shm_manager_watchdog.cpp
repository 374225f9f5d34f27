// The application's period and watchdog in its cyclic slot, and the request
// by which the server saves changed output defaults.

#include <time.h>

#include <limits>
#include <stdexcept>

#include "xelo_framework_shm_manager.h"
#include "xelo_log.h"
#include "xelo_string_functions.h"

using XELO_String_Functions::num2str;

namespace {
constexpr uint64_t SAVE_POLL_NS = 10000000ULL;
constexpr uint64_t SAVE_LIMIT_NS = 30000000000ULL;

uint64_t saturating_product(uint64_t a, uint64_t b)
{
    uint64_t product = 0;
    return __builtin_mul_overflow(a, b, &product) ? std::numeric_limits<uint64_t>::max() : product;
}

void sleep_save_poll()
{
    timespec pause{0, static_cast<long>(SAVE_POLL_NS)};
    while (clock_nanosleep(CLOCK_MONOTONIC, 0, &pause, &pause) == EINTR) {
    }
}
}  // namespace

uint32_t Framework_Shared_Memory_Manager::get_master_cycle_time_ns_ex() const
{
    if (!m_init_done)
        throw std::runtime_error(
            "[Framework_Shared_Memory_Manager][get_framework_cycle_time_ns_ex] Sorry, init must be done!!");
    return m_master_cycle_time_ns;
}

void Framework_Shared_Memory_Manager::set_refresh_time_ns_ex(uint32_t refresh_time_ns)
{
    log_inf("Framework_Shared_Memory_Manager::set_refresh_time ( refresh_time_ns: " + num2str(refresh_time_ns) + " )");
    check_not_released_ex("set_refresh_time_ns_ex");
    Shared_Sem_Struct& slot = my_cyclic_sem_ex("set_refresh_time_ns_ex");
    Robust_Mutex held(m_shm_cyclic_data.mutex_ptr, CYCLIC_MUTEX);
    std::unique_lock<Robust_Mutex> lock(held);
    log_inf("\t m_master_cycle_time_ns: " + num2str(m_master_cycle_time_ns));
    const uint32_t cycles = m_master_cycle_time_ns != 0 ? refresh_time_ns / m_master_cycle_time_ns : 0;
    if (cycles == 0) {
        lock.unlock();
        throw std::runtime_error(
            "[Framework_Shared_Memory_Manager][set_refresh_time_ns_ex] Failed to set refresh "
            "value -> refresh_time < master_cycle_time");
    }
    slot.start_value = cycles;
    log_inf("\t refresh_time_master_tick: " + num2str(slot.start_value));
    lock.unlock();
}

// The refresh waits twice the watchdog window: cycle x 2 x num_cycle x period,
// computed in 64 bits and saturated.
void Framework_Shared_Memory_Manager::set_watchdog_value_ex(int num_cycle)
{
    if (num_cycle < 0)
        throw std::runtime_error("[Framework_Shared_Memory_Manager][set_watchdog_value_ex] num_cycle :: " +
                                 num2str(num_cycle) + " < 0, it should not be!");
    check_not_released_ex("set_watchdog_value_ex");
    Shared_Sem_Struct& slot = my_cyclic_sem_ex("set_watchdog_value_ex");
    uint32_t period;
    with_lock(Robust_Mutex(m_shm_cyclic_data.mutex_ptr, CYCLIC_MUTEX), [&] {
        slot.overflow = 0;
        slot.watchdog_max_value = num_cycle;
        period = slot.start_value;
    });
    const uint64_t window = saturating_product(m_master_cycle_time_ns, 2ULL * static_cast<uint64_t>(num_cycle));
    const uint64_t timeout = saturating_product(window, period);
    m_requested_refresh_timeout_ns = timeout;
    m_refresh_timeout_ns = timeout;
}

void Framework_Shared_Memory_Manager::turn_on_watchdog_ex()
{
    check_not_released_ex("turn_on_watchdog_ex");
    Shared_Sem_Struct& slot = my_cyclic_sem_ex("turn_on_watchdog_ex");
    with_lock(Robust_Mutex(m_shm_cyclic_data.mutex_ptr, CYCLIC_MUTEX), [&] {
        slot.watchdog_is_active = 1;
        slot.overflow = 0;
        m_watchdog_turned_on = true;
    });
    m_refresh_timeout_ns = m_requested_refresh_timeout_ns;
    log_inf("\t watchdog activated");
}

void Framework_Shared_Memory_Manager::turn_off_watchdog_ex()
{
    check_not_released_ex("turn_off_watchdog_ex");
    Shared_Sem_Struct& slot = my_cyclic_sem_ex("turn_off_watchdog_ex");
    with_lock(Robust_Mutex(m_shm_cyclic_data.mutex_ptr, CYCLIC_MUTEX), [&] {
        slot.watchdog_is_active = 0;
        m_watchdog_turned_on = false;
    });
    m_refresh_timeout_ns = DEFAULT_REFRESH_TIMEOUT_NS;
    log_inf("\t watchdog deactivated");
}

// ---- save request ----------------------------------------------------------------

// A save that another application asked for is waited for first, then this
// application asks for its own: its defaults are never left unsaved.
void Framework_Shared_Memory_Manager::save_cfg_file_ex()
{
    uint64_t waited_ns = 0;
    bool logged = false;
    while (!raise_save_request_ex()) {
        wait_save_cleared_ex(waited_ns, !logged);
        logged = true;
    }
    waited_ns = 0;
    wait_save_cleared_ex(waited_ns, false);
    for (auto& flag : m_output_has_to_save)
        flag = 0;
}

// true when the request was raised, false when a save is already under way.
bool Framework_Shared_Memory_Manager::raise_save_request_ex()
{
    Robust_Mutex held(info_mutex(), INFO_MUTEX);
    std::unique_lock<Robust_Mutex> lock(held);
    Shared_Info_Struct* info = m_shm_info.ptr;
    if (info->has_to_save != 0) {
        lock.unlock();
        return false;
    }
    for (uint32_t i = 0; i < m_output_app_size; ++i)
        if (m_output_has_to_save[i] != 0)
            output_record(static_cast<int>(i)).has_to_save = 1;
    info->has_to_save = 1;
    lock.unlock();
    return true;
}

void Framework_Shared_Memory_Manager::wait_save_cleared_ex(uint64_t& waited_ns, bool log_wait)
{
    if (log_wait)
        log_war(
            "[Framework_Shared_Memory_Manager][save_cfg_file_ex] aleady saving .. going to wait for it before "
            "asking for save");
    do {
        sleep_save_poll();
        waited_ns += SAVE_POLL_NS;
        if (waited_ns > SAVE_LIMIT_NS)
            throw std::runtime_error(
                "[Framework_Shared_Memory_Manager][save_cfg_file_ex] Save config file time exceeded");
    } while (read_has_to_save_ex() != 0);
}

uint32_t Framework_Shared_Memory_Manager::read_has_to_save_ex()
{
    return with_lock(Robust_Mutex(info_mutex(), INFO_MUTEX), [&] { return m_shm_info.ptr->has_to_save; });
}
