// The cyclic thread: one process-data frame per period from SAFE-OP on,
// resends, consecutive faults, the AL status check, the distributed-clock
// timing of each frame, the tick and the master watchdog.
#include <sched.h>
#include <sys/prctl.h>
#include <sys/timerfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <stdexcept>

#include "cyclic_log.h"
#include "ethercatbase.h"
#include "ethercatmain.h"
#include "nicdrv.h"
#include "os_iface.h"
#include "xelo_ethercat_master_class.h"

namespace {
constexpr int DATAGRAM_TIMEOUT_US = 1000;
constexpr char SKIP_GATE = 1;
constexpr int32_t FRAME_JITTER_NS = 50000;
constexpr int32_t WAIT_FRAME_TIME_OUT_MIN_US = 150;
constexpr int TIMEOUT_LEARNING_CYCLES = 1000;
constexpr int MAX_AL_CONTROL_REPEATS = 54;  // 55 broadcasts of OP
constexpr int DC_START_ATTEMPTS = 20;
constexpr std::size_t THREAD_STACK = 0x78000;
constexpr int64_t NS_PER_S = 1000000000;
constexpr const char* PDO_MUTEX_NAME = "m_process_data_exchange_shmem->shm_mutex";

thread_local bool t_in_cyclic_thread = false;
Cyclic_Log g_cyclic_log;

int64_t to_ns(const timespec& t)
{
    return static_cast<int64_t>(t.tv_sec) * NS_PER_S + t.tv_nsec;
}

timespec from_ns(int64_t ns)
{
    return timespec{static_cast<time_t>(ns / NS_PER_S), static_cast<long>(ns % NS_PER_S)};
}

int64_t monotonic_ns()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return to_ns(now);
}

uint16_t read16(const uint8_t* p)
{
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

uint32_t read32(const uint8_t* p)
{
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
           (static_cast<uint32_t>(p[3]) << 24);
}

void sleep_ns(int64_t ns)
{
    timespec rest = from_ns(ns);
    while (clock_nanosleep(CLOCK_MONOTONIC, 0, &rest, &rest) == EINTR) {
    }
}

// Reads the expirations of the period timer; -1 on a read error.
long wait_period(int timer_fd, uint64_t* wakeups_missed)
{
    uint64_t expirations = 0;
    if (read(timer_fd, &expirations, sizeof(expirations)) != static_cast<ssize_t>(sizeof(expirations)))
        return -1;
    *wakeups_missed += expirations;
    return static_cast<long>(expirations);
}

// The process-data mutex as taken by one cycle: released by the scope,
// and only when it was taken.
class Cycle_Lock {
public:
    Cycle_Lock(pthread_mutex_t* mutex, bool* flag)
        : m_mutex(mutex, PDO_MUTEX_NAME, nullptr, &ecm_lock_log()), m_flag(flag)
    {
        *m_flag = m_mutex.try_lock();
    }
    ~Cycle_Lock() { release(); }
    Cycle_Lock(const Cycle_Lock&) = delete;
    Cycle_Lock& operator=(const Cycle_Lock&) = delete;
    void release() noexcept
    {
        if (*m_flag) {
            m_mutex.unlock();
            *m_flag = false;
        }
    }

private:
    Robust_Mutex m_mutex;
    bool* m_flag;
};
}  // namespace

bool ecm_in_cyclic_thread()
{
    return t_in_cyclic_thread;
}

// ---- thread --------------------------------------------------------------------------

void ECM_Master::start_cyclic_frame_thread_ex(ECM_Master* obj_threaded)
{
    ecm_log_inf("ECM_Master::start_operational_state_thread( ... )");
    // A thread that ended by itself is joined before the next one starts.
    if (m_cyclic_thread_exists)
        shutdown_cyclic_frame_ex();
    pthread_attr_t attr;
    int rc = pthread_attr_init(&attr);
    if (rc != 0)
        throw std::runtime_error(std::string("pthread_attr_init") + std::strerror(rc));
    rc = pthread_attr_setstacksize(&attr, THREAD_STACK);
    if (rc != 0) {
        pthread_attr_destroy(&attr);
        throw std::runtime_error(std::string("pthread_attr_setstacksize") + std::strerror(rc));
    }
    m_thread_is_external_stop = false;
    m_thread_is_running = true;
    rc = pthread_create(&m_thread_id_operational_state, &attr, CyclicFrameThreadStartup, obj_threaded);
    pthread_attr_destroy(&attr);
    m_thread_rc_operational_state = rc;
    if (rc != 0) {
        m_thread_is_running = false;
        throw std::runtime_error(std::string("Failed to create operational ECM_Master Thread") + std::strerror(rc));
    }
    m_cyclic_thread_exists = true;
    sleep_ns(600000000);
    sleep_ns(600000000);
}

void ECM_Master::shutdown_cyclic_frame_ex()
{
    if (!m_cyclic_thread_exists)
        return;
    if (ecm_in_cyclic_thread()) {
        // The thread's own request for INIT: it ends by itself and is
        // joined by the next stop or start.
        m_thread_is_running = false;
        return;
    }
    ecm_log_inf("ECM_Master::shutdown_cyclic_frame_ex ( ... )");
    {
        Robust_Mutex operational_state = ecm_mutex(&m_mutex_operational_state, "m_mutex_operational_state");
        std::lock_guard<Robust_Mutex> guard(operational_state);
        ecm_log_inf("ECM_Master::shutdown_cyclic_frame_ex ( ... ) set m_thread_is_running = false ");
        m_thread_is_running = false;
        m_thread_is_external_stop = true;
    }
    ecm_log_inf(
        "ECM_Master::shutdown_cyclic_frame_ex ( ... ) ... pthread_join ( m_thread_id_operational_state, NULL ); ");
    const int rc = pthread_join(m_thread_id_operational_state, nullptr);
    m_cyclic_thread_exists = false;
    if (rc != 0)
        throw std::runtime_error(std::string(" Warning... return code from pthread_join() is ") + std::strerror(rc));
    ecm_log_inf("ECM_Master::shutdown_cyclic_frame_ex ( ... ) END ");
}

void* ECM_Master::CyclicFrameThreadStartup(void* _tgtObject)
{
    auto* master = static_cast<ECM_Master*>(_tgtObject);
    t_in_cyclic_thread = true;
    ecm_log_inf("--- Running ECM_OPERATIONAL_THREAD in a new thread ---");
    try {
        if (set_fifo_priority(sched_get_priority_max(SCHED_FIFO) - 3) != 0)
            ecm_log_err("-- pthread_setschedparam error!!!");
        prctl(PR_SET_NAME, "xelo_ecat_cyclic", 0, 0, 0);
        g_cyclic_log.start();
        master->m_wait_shutdown_thread = true;
        try {
            master->run_cyclic_frame_manager_ex();
        } catch (const std::exception& e) {
            g_cyclic_log.stop();
            ecm_log_err(e.what());
        }
        g_cyclic_log.stop();
        master->m_thread_is_running = false;
        master->m_wait_shutdown_thread = false;
        // Every way out of the loop ends the gating: the requests that follow
        // (and this thread's own) go out ungated.
        ec_stop_cyclic_frame();
        if (master->m_periodic_timer_fd >= 0) {
            close(master->m_periodic_timer_fd);
            master->m_periodic_timer_fd = -1;
        }
        ecm_log_war("... cyclic end ... ");
        if (!master->m_thread_is_external_stop) {
            ecm_log_war("... go into INIT_STATE ");
            try {
                master->cyclic_thread_request_init();
                if (master->m_last_error_type == ECAT_CYCLIC_FRAME && master->m_last_error_code == NO_WATCHDOG_CHECK)
                    master->send_close_connection_to_command_server();
            } catch (const std::exception& e) {
                ecm_log_war(e.what());
                ecm_log_war("... state change failed ");
            }
        }
        ecm_log_war("... cyclic end ... OK ");
    } catch (const std::exception& e) {
        ecm_log_err(e.what());
    }
    ecm_log_inf("--- Delete ECM_OPERATIONAL_THREAD ---");
    return nullptr;
}

void ECM_Master::cyclic_thread_request_init()
{
    // The socket thread may hold the state-change mutex while it stops this
    // thread: then the stop is external and this request is dropped.
    for (;;) {
        if (m_thread_is_external_stop)
            return;
        timespec deadline{};
        clock_gettime(CLOCK_REALTIME, &deadline);
        deadline.tv_nsec += 20000000;
        if (deadline.tv_nsec >= NS_PER_S) {
            deadline.tv_sec += 1;
            deadline.tv_nsec -= NS_PER_S;
        }
        const int rc = pthread_mutex_timedlock(&m_mutex_change_state, &deadline);
        if (rc == 0)
            break;
        if (rc != ETIMEDOUT)
            throw std::runtime_error(std::string("Failed to mutex_lock_ex -> m_mutex_change_state ") +
                                     std::strerror(rc));
    }
    Robust_Mutex change_state = ecm_mutex(&m_mutex_change_state, "m_mutex_change_state");
    std::lock_guard<Robust_Mutex> guard(change_state, std::adopt_lock);
    if (m_thread_is_external_stop)
        return;
    go_to_next_state_locked_ex(INIT_STATE);
}

void ECM_Master::set_op_cycle_time_ex(int time_desired)
{
    Robust_Mutex operational_state = ecm_mutex(&m_mutex_operational_state, "m_mutex_operational_state");
    std::lock_guard<Robust_Mutex> guard(operational_state);
    if (m_thread_is_running)
        throw std::runtime_error("Attention: m_thread_is_running ");
    // A period of 0 or less would leave the timer unarmed and the frame
    // time-out 0: refused.
    if (time_desired <= 0)
        throw std::runtime_error("Attention: cycle time not valid " + std::to_string(time_desired));
    ecm_log_inf("ECM_Master::set_op_cycle_time_ex -> " + std::to_string(time_desired) + " ns");
    m_cycle_frame_time_ns = time_desired;
}

// ---- loop ------------------------------------------------------------------------------

void ECM_Master::record_cyclic_error(Ec_Master_Error_Type type, EC_Master_Error_Code code, int slave)
{
    set_last_master_error(type, code, slave);
}

void ECM_Master::release_process_data_mutex()
{
    if (m_process_data_exchange_shmem_shm_mutex_unlock_todo) {
        Robust_Mutex(&m_process_data_exchange_shmem->shm_mutex, PDO_MUTEX_NAME, nullptr, &ecm_lock_log()).unlock();
        m_process_data_exchange_shmem_shm_mutex_unlock_todo = false;
    }
}

void ECM_Master::read_slave_state_in_cycle(std::size_t i)
{
    const uint16_t address = m_slave[i].get_config_address();
    uint8_t state[2] = {0xFF, 0xFF};
    uint8_t code[2] = {0xFF, 0xFF};
    ec_FPRD(address, 0x0130, 2, state, DATAGRAM_TIMEOUT_US, SKIP_GATE);
    ec_FPRD(address, 0x0134, 2, code, DATAGRAM_TIMEOUT_US, SKIP_GATE);
    m_slaves_state_array[i] = read16(state);
    m_slaves_error_array[i] = read16(code);
    g_cyclic_log.push(Ecm_Log_Level::INF, "slave : %zu", i);
    g_cyclic_log.push(Ecm_Log_Level::INF, "\tm_slaves_state_array : %u", m_slaves_state_array[i]);
    g_cyclic_log.push(Ecm_Log_Level::INF, "\tm_slaves_error_array : %u", m_slaves_error_array[i]);
}

// The loop's own variables: those kept from cycle to cycle, and those of
// the cycle under way.
struct ECM_Master::Cycle_State {
    bool dc = false;
    int32_t period = 0;
    bool first_frame = true;
    bool first_op_cycle_passed = false;
    bool learning = true;
    int learning_count = 0;
    int32_t measured_max_us = 0;
    bool last_single = true;
    int64_t last_send = 0;
    // With DC the wake-up is an absolute monotonic deadline, corrected by
    // how late the frame passed the reference clock.
    int64_t deadline = 0;

    int number = 0;
    bool in_op = false;
    int64_t late = 0;  // how long after its deadline this cycle woke (DC)
    timeval slot_start{};
    bool held = false;  // the clients' outputs were taken under the lock
    bool got_frame = false;
    int64_t first_send = 0;
    int64_t round_trip_ns = 0;
};

void ECM_Master::prepare_cyclic_loop_ex()
{
    {
        Robust_Mutex operational_state = ecm_mutex(&m_mutex_operational_state, "m_mutex_operational_state");
        std::lock_guard<Robust_Mutex> guard(operational_state);
        m_thread_is_running = true;
        m_thread_is_external_stop = false;
    }
    reset_cycle_figures();
    prepare_cycle_frame();
    if (!m_system_has_DC) {
        start_period_timer();
        return;
    }
    ecm_log_inf("system has DC sync  ");
    start_distributed_clocks();
}

void ECM_Master::reset_cycle_figures()
{
    int value = 0;
    while (sem_getvalue(&m_process_tick_exchange_shmem->shm_sem_tick_ready, &value) == 0 && value >= 1)
        sem_trywait(&m_process_tick_exchange_shmem->shm_sem_tick_ready);
    m_process_tick_exchange_shmem->tick_count = 0;

    m_single_send_receive = true;
    set_last_master_error(NOT_ERROR_PRESENT, NULL_CODE, 0);
    m_slave_ref_clock_from_frame = m_slave_ref_clock_from_frame_old = 0;
    m_dc_next_sync_time_ref = 0;
    m_resend_frame = false;
    m_prev_sync_fault = false;
    m_consecutive_faults = 0;
    m_max_consecutive_frame_resend = 0;
    m_frame_faults = 0;
    m_counter_cycle = 0;
    m_al_repeat_counter = 0;
    m_slave_state_read_index = 0;
    m_round_trip_count = 0;
    m_jitter_count = 0;
    m_slaves_state_array.assign(m_slave.size(), 0);
    m_slaves_error_array.assign(m_slave.size(), 0);
    reset_info_timer(true);

    ecm_log_inf("Master Frame Cycle Time: " + std::to_string(m_cycle_frame_time_ns));
    ecm_log_inf("Master Frame Offset Time: " + std::to_string(m_time_offset_master_frame));
    ecm_log_inf("Master Frame Offset Jitter: " + std::to_string(FRAME_JITTER_NS));
    m_wait_frame_time_out_us = m_cycle_frame_time_ns / 2000;
    ecm_log_inf("start frame with wait_frame_time_out_us = " + std::to_string(m_wait_frame_time_out_us));
}

void ECM_Master::prepare_cycle_frame()
{
    // The frame's own copy of the command list, its outputs taken from the
    // cycle's output image.
    m_cycle_image_bytes = ec_get_ethercat_frame_data_dim(m_cycle_cmd_array.data(), m_cycle_cmd_list_number);
    if (m_cycle_image_bytes + EC_FRAME_HEADER > EC_MAXFRAME)
        throw std::runtime_error("Attention: the cyclic frame does not fit one Ethernet frame");
    int data_bytes = 0;
    m_cycle_frame_cmds = m_cycle_cmd_array;
    for (Cycle_Command_Struct& cmd : m_cycle_frame_cmds) {
        data_bytes += cmd.length;
        if (cmd.ptr_data_use == 1)
            cmd.data = m_cycle_out_image + (cmd.data - m_process_data_exchange_shmem->shm_buf_out);
    }
    if (data_bytes == 0)
        throw std::runtime_error("Attention: the cyclic frame carries no data");
    std::memset(tmp_in_out, 0, sizeof(tmp_in_out));
    bool held = false;
    Cycle_Lock lock(&m_process_data_exchange_shmem->shm_mutex, &held);
    if (held)
        std::memcpy(m_cycle_out_image, m_process_data_exchange_shmem->shm_buf_out, sizeof(m_cycle_out_image));
    else
        std::memset(m_cycle_out_image, 0, sizeof(m_cycle_out_image));
}

void ECM_Master::start_period_timer()
{
    ecm_log_inf("make_periodic ( ... ) ");
    m_periodic_timer_fd = timerfd_create(CLOCK_MONOTONIC, 0);
    m_wakeups_missed = 0;
    itimerspec period{};
    period.it_interval = from_ns(m_cycle_frame_time_ns);
    period.it_value = period.it_interval;
    ecm_log_inf("\tsec: " + std::to_string(period.it_interval.tv_sec) +
                " ns: " + std::to_string(period.it_interval.tv_nsec));
    if (m_periodic_timer_fd < 0 || timerfd_settime(m_periodic_timer_fd, 0, &period, nullptr) != 0) {
        ecm_log_err(" Error on set thread periodic ");
        throw std::runtime_error(" Error on set thread periodic ");
    }
    m_thread_overruns_return = static_cast<unsigned long>(wait_period(m_periodic_timer_fd, &m_wakeups_missed));
}

void ECM_Master::start_distributed_clocks()
{
    if (m_ref_clock_cycle_ptr == nullptr) {
        ecm_log_err(
            "ERROR: m_ref_clock_cycle_ptr == NULL -> No ref clock found into frame !!! ( Reference Clock "
            "Slave Missing ? ) ");
        throw std::runtime_error("Attention:  No ref clock found into frame");
    }
    bool started = false;
    for (int attempt = 0; attempt < DC_START_ATTEMPTS && !started; ++attempt)
        started = start_dc_on_every_slave();
    if (!started) {
        set_last_master_error(START_DC_FAILED, NULL_CODE, 0);
        throw std::runtime_error(" DC set not correct !!! ");
    }
    for (ECM_Slave& slave : m_slave)
        if (slave.has_dc())
            check_dc_started(slave.get_config_address());
    if (ec_exchange_with_resends([this] { return calc_and_set_dc_times() ? 1 : 0; }, 1) != 1) {
        set_last_master_error(START_DC_FAILED, NO_FRAME_READ, m_ref_clock_address);
        throw std::runtime_error(" DC set not correct !!! ");
    }
    ecm_log_inf("1o m_t_sync0_ref_clock = " + std::to_string(m_t_sync0_ref_clock));
    ecm_log_inf(" m_dc_sync_wait_time.tv_sec = " + std::to_string(m_dc_sync_wait_time.tv_sec));
    ecm_log_inf(" m_dc_sync_wait_time.tv_nsec = " + std::to_string(m_dc_sync_wait_time.tv_nsec));
    ecm_log_inf("1a Frame @ " + std::to_string(m_dc_next_frame_send_time));
}

bool ECM_Master::start_dc_on_every_slave()
{
    bool reference_found = false;
    for (ECM_Slave& slave : m_slave) {
        if (!slave.has_dc())
            continue;
        if (!reference_found) {
            m_ref_clock_address = slave.get_config_address();
            reference_found = true;
        }
        const bool ok =
            slave.get_dc_cycle_time_sync1() == 0
                ? set_dc0_start_ex(slave.get_config_address(), static_cast<uint32_t>(slave.get_dc_cycle_time_sync0()),
                                   slave.get_dc_shift_time(), true)
                : set_dc01_start_ex(slave.get_config_address(), static_cast<uint32_t>(slave.get_dc_cycle_time_sync0()),
                                    static_cast<uint32_t>(slave.get_dc_cycle_time_sync1()), slave.get_dc_shift_time(),
                                    true);
        if (!ok) {
            ecm_log_inf(" .xml DC Shift Time not used !");
            return false;
        }
    }
    return true;
}

void ECM_Master::check_dc_started(uint16_t address)
{
    int64_t start0 = 0, system = 0, start1 = 0;
    ec_FPRD(address, 0x0990, 8, &start0, DATAGRAM_TIMEOUT_US, SKIP_GATE);
    ec_FPRD(address, 0x0910, 8, &system, DATAGRAM_TIMEOUT_US, SKIP_GATE);
    ec_FPRD(address, 0x0998, 8, &start1, DATAGRAM_TIMEOUT_US, SKIP_GATE);
    ecm_log_inf("slave:  " + std::to_string(address));
    ecm_log_inf("\tECT_REG_DCSTART0:  " + std::to_string(start0));
    ecm_log_inf("\tECT_REG_DCSYSTIME:  " + std::to_string(system));
    ecm_log_inf("\tECT_REG_DCSTART1:  " + std::to_string(start1));
    if (system > start0) {
        ecm_log_err("slave:  " + std::to_string(address) + "\tECT_REG_DCSTART0:  " + std::to_string(start0) +
                    "\tECT_REG_DCSYSTIME:  " + std::to_string(system) +
                    "\tECT_REG_DCSTART1:  " + std::to_string(start1));
        set_last_master_error(START_DC_FAILED, DATA_NOT_VALIDATE, address);
        throw std::runtime_error(" ECT_REG_DCSYSTIME > ECT_REG_DCSTART0 -> DC not started !!! ");
    }
}

int ECM_Master::run_cyclic_frame_manager_ex()
{
    prepare_cyclic_loop_ex();
    Cycle_State cycle;
    cycle.dc = m_system_has_DC;
    cycle.period = m_cycle_frame_time_ns;
    cycle.deadline = m_dc_reference_read_ns + to_ns(m_dc_sync_wait_time);
    for (;;) {
        if (!m_thread_is_running) {
            ec_stop_cyclic_frame();
            return 0;
        }
        cycle.number = ++m_counter_cycle;
        cycle.in_op = m_actual_ethercat_state == OP_STATE;
        cycle.late = 0;
        if (!wait_for_cycle_slot(cycle))
            continue;
        begin_cycle_slot(cycle);
        Cycle_Lock lock(&m_process_data_exchange_shmem->shm_mutex,
                        &m_process_data_exchange_shmem_shm_mutex_unlock_todo);
        take_client_outputs(cycle);
        exchange_with_resend(cycle);
        count_frame_faults(cycle);
        if (!cycle.dc)
            set_last_master_error(NOT_ERROR_PRESENT, NULL_CODE, 0);
        else if (!correct_dc_deadline(cycle))
            continue;
        lock.release();
        record_time_slot(cycle);
        learn_frame_time_out(cycle);
        if (cycle.in_op)
            tick_and_watch_client(cycle);
    }
}

// ---- the loop's steps ------------------------------------------------------------------

bool ECM_Master::wait_for_cycle_slot(Cycle_State& cycle)
{
    if (cycle.dc) {
        wait_for_dc_deadline(cycle);
        return true;
    }
    const long expirations = wait_period(m_periodic_timer_fd, &m_wakeups_missed);
    m_thread_overruns_return = static_cast<unsigned long>(expirations);
    if (cycle.last_send != 0) {
        const int64_t gap = monotonic_ns() - cycle.last_send;
        if (gap < static_cast<int64_t>(m_gap_time_ns) && cycle.last_single && expirations == 1) {
            g_cyclic_log.push(Ecm_Log_Level::INF, "# m_counter_cycle %d gap %lld ns # -> salto", cycle.number,
                              static_cast<long long>(gap));
            return false;
        }
    }
    if (expirations != 1)
        check_missed_periods(cycle, expirations);
    return true;
}

void ECM_Master::check_missed_periods(const Cycle_State& cycle, long expirations)
{
    if (!cycle.in_op || (m_soft_realtime_request && expirations >= 0 &&
                         static_cast<unsigned long>(expirations) <= m_soft_realtime_max_cycle_jitter)) {
        g_cyclic_log.push(Ecm_Log_Level::WAR, "m_counter_cycle %d Period missed: %ld", cycle.number, expirations);
    } else if (cycle.first_op_cycle_passed) {
        g_cyclic_log.push(Ecm_Log_Level::ERR, "Period missed: %ld Error on wait period ", expirations);
        ec_stop_cyclic_frame();
        record_cyclic_error(XENOMAI_WAIT_PERIOD_TIMEOUT_EXCEEDED, NULL_CODE,
                            check_slave_active() + ecm_shm::FIRST_SLAVE_NUMBER);
        manage_process_tick_exchange_shmem(true, true);
        m_thread_is_running = false;
        throw std::runtime_error(" Error on wait period ");
    } else {
        g_cyclic_log.push(Ecm_Log_Level::WAR, "Period missed in first operational state cycle: %ld", expirations);
    }
}

void ECM_Master::wait_for_dc_deadline(Cycle_State& cycle)
{
    const timespec wake = from_ns(cycle.deadline);
    const int rc = clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &wake, nullptr);
    cycle.late = monotonic_ns() - cycle.deadline;
    if (rc != 0)
        g_cyclic_log.push(Ecm_Log_Level::ERR, "######## clock_nanosleep ERROR %d ######## counter_cycle = %d", rc,
                          cycle.number);
    else if (cycle.late > FRAME_JITTER_NS && !m_soft_realtime_request)
        g_cyclic_log.push(Ecm_Log_Level::WAR,
                          "######## clock_nanosleep ERROR ######## woke %lld ns after the deadline, cycle %d",
                          static_cast<long long>(cycle.late), cycle.number);
}

void ECM_Master::begin_cycle_slot(Cycle_State& cycle)
{
    if (!cycle.first_op_cycle_passed && cycle.in_op) {
        g_cyclic_log.push(Ecm_Log_Level::INF, "######## Operational State @ cycle = %d ############# ", cycle.number);
        reset_info_timer(false);
        cycle.first_op_cycle_passed = true;
    }
    if (m_request_timer_info_reset)
        reset_info_timer(false);
    gettimeofday_xenomai(&cycle.slot_start, nullptr);
}

void ECM_Master::take_client_outputs(Cycle_State& cycle)
{
    cycle.held = m_process_data_exchange_shmem_shm_mutex_unlock_todo;
    if (cycle.held) {
        std::memcpy(m_cycle_out_image, m_process_data_exchange_shmem->shm_buf_out,
                    static_cast<std::size_t>(m_cycle_image_bytes));
        m_process_tick_exchange_shmem->previus_tick_alert = NULL_ALERT;
    } else if (cycle.in_op) {
        g_cyclic_log.push(Ecm_Log_Level::WAR, "Trylock mutex error ret_value %d errno %s", EBUSY, std::strerror(EBUSY));
        m_process_tick_exchange_shmem->previus_tick_alert = SHM_OUT_NOT_USED;
    } else {
        m_process_tick_exchange_shmem->previus_tick_alert = NULL_ALERT;
    }
}

void ECM_Master::exchange_with_resend(Cycle_State& cycle)
{
    // One immediate resend per cycle (DC).
    m_first_resend = true;
    m_single_send_receive = true;
    cycle.got_frame = false;
    cycle.first_send = 0;
    cycle.round_trip_ns = 0;
    do {
        m_resend_frame = false;
        if (!exchange_frame(cycle))
            continue;
        cycle.got_frame = true;
        publish_inputs(cycle);
        if (m_wrk_cycle_ctrl_status_is_active)
            check_al_status(cycle);
    } while (m_resend_frame);
    cycle.last_single = m_single_send_receive;
}

bool ECM_Master::exchange_frame(Cycle_State& cycle)
{
    const int64_t send = monotonic_ns();
    const bool resent = cycle.first_send != 0;
    if (!resent)
        cycle.first_send = send;
    cycle.last_send = send;
    const int result =
        ec_send_receive_cycle_processdata(m_cycle_frame_cmds.data(), m_cycle_cmd_list_number, tmp_in_out,
                                          m_cycle_frame_time_ns, static_cast<unsigned>(m_wait_frame_time_out_us));
    const int64_t after = monotonic_ns();
    cycle.round_trip_ns = after - send;
    if (resent)
        g_cyclic_log.push(Ecm_Log_Level::INF, " time_nanosleep_gap_send_receive_after_resend %lld ns (result %d)",
                          static_cast<long long>(after - cycle.first_send), result);
    if (result > 0)
        return true;
    // No frame, or the last datagram unanswered: the inputs stay as they were.
    g_cyclic_log.push(Ecm_Log_Level::WAR, "time_nanosleep_gap_error_send_receive %lld ns, result %d @ cycle %d",
                      static_cast<long long>(after - send), result, cycle.number);
    possible_resend_ex();
    return false;
}

void ECM_Master::publish_inputs(const Cycle_State& cycle)
{
    const uint32_t n = m_round_trip_count.load(std::memory_order_relaxed);
    m_round_trip_records[n % CYCLE_RECORDS].store(static_cast<int32_t>(cycle.round_trip_ns), std::memory_order_relaxed);
    m_round_trip_count.store(n + 1, std::memory_order_release);
    if (cycle.held)
        std::memcpy(m_process_data_exchange_shmem->shm_buf_in, tmp_in_out,
                    static_cast<std::size_t>(m_cycle_image_bytes));
}

void ECM_Master::check_al_status(const Cycle_State& cycle)
{
    const uint16_t status = read16(tmp_in_out + m_ctrl_status_image_pos);
    if (status == OP_STATE || !cycle.in_op || m_desired_state == SAFEOP_STATE) {
        m_al_repeat_counter = 0;
        m_slave_state_read_index = 0;
    } else {
        g_cyclic_log.push(Ecm_Log_Level::WAR,
                          " ( ( int ) *m_cycle_ctrl_status != OP_STATE && m_actual_ethercat_state == OP_STATE "
                          "&& m_desired_state != SAFEOP_STATE ) status 0x%x",
                          status);
        recover_operational_state();
    }
    const uint16_t wkc = read16(tmp_in_out + m_ctrl_status_image_pos + 2);
    if (wkc != m_wrk_cycle_ctrl_status_expected) {
        g_cyclic_log.push(Ecm_Log_Level::WAR,
                          "( int ) * ( m_wrk_cycle_ctrl_status ) %u m_wrk_cycle_ctrl_status_expected %d", wkc,
                          m_wrk_cycle_ctrl_status_expected);
        possible_resend_ex();
    }
}

void ECM_Master::recover_operational_state()
{
    if (m_al_repeat_counter <= MAX_AL_CONTROL_REPEATS) {
        ++m_al_repeat_counter;
        uint8_t op[2] = {OP_STATE, 0};
        ec_BWR(0, 0x0120, 2, op, DATAGRAM_TIMEOUT_US, SKIP_GATE);
        return;
    }
    if (m_slave_state_read_index < m_slave.size()) {
        read_slave_state_in_cycle(m_slave_state_read_index++);
        return;
    }
    int slave = 0;
    for (std::size_t i = 0; i < m_slave.size(); ++i)
        if (m_slaves_state_array[i] != OP_STATE) {
            slave = static_cast<int>(i) + ecm_shm::FIRST_SLAVE_NUMBER;
            break;
        }
    record_cyclic_error(ECAT_CYCLIC_FRAME, ACTUAL_STATE_NO_CORRECT, slave);
    manage_process_tick_exchange_shmem(false, true);
    ec_stop_cyclic_frame();
    m_thread_is_running = false;
    throw std::runtime_error("Error on cycle frame: slave state no check !!!");
}

void ECM_Master::count_frame_faults(const Cycle_State& cycle)
{
    if (!m_single_send_receive) {
        g_cyclic_log.push(Ecm_Log_Level::WAR, "m_resend_frame @ cycle : %d m_consecutive_faults %d", cycle.number,
                          m_consecutive_faults);
        return;
    }
    if (static_cast<uint32_t>(m_consecutive_faults) > m_max_consecutive_frame_resend)
        m_max_consecutive_frame_resend = static_cast<uint32_t>(m_consecutive_faults);
    m_consecutive_faults = 0;
    m_prev_sync_fault = false;
}

bool ECM_Master::correct_dc_deadline(Cycle_State& cycle)
{
    if (!cycle.got_frame)
        g_cyclic_log.push(Ecm_Log_Level::WAR,
                          " ret_frame_value <= EC_NOFRAME ma cerco lo stesso il tempo dalla frame @ cycle %d",
                          cycle.number);
    take_reference_clock_from_frame(cycle);
    const int32_t ahead = static_cast<int32_t>(static_cast<uint32_t>(m_dc_next_sync_time_ref) -
                                               static_cast<uint32_t>(m_slave_ref_clock_from_frame));
    if (cycle.got_frame && ahead < 0) {
        g_cyclic_log.push(Ecm_Log_Level::WAR,
                          "SAREI DOVUTO GIA' USCIRE DA OP_STATE: m_dc_next_sync_time_ref\t:  %d frame %d "
                          "send %d",
                          m_dc_next_sync_time_ref, m_slave_ref_clock_from_frame, m_dc_next_frame_send_time);
        if (m_single_send_receive && cycle.in_op) {
            retime_after_late_frame(cycle);
            return false;
        }
    }
    schedule_next_dc_wake(cycle);
    cycle.first_frame = false;
    update_dc_time_statistics();
    if (cycle.got_frame) {
        const uint32_t n = m_jitter_count.load(std::memory_order_relaxed);
        m_jitter_records[n % CYCLE_RECORDS].store(m_dc_resto, std::memory_order_relaxed);
        m_jitter_count.store(n + 1, std::memory_order_release);
    }
    return true;
}

void ECM_Master::take_reference_clock_from_frame(const Cycle_State& cycle)
{
    m_slave_ref_clock_from_frame_old = m_slave_ref_clock_from_frame;
    m_slave_ref_clock_from_frame = static_cast<int32_t>(read32(tmp_in_out + m_ref_clock_image_pos));
    m_dc_resto = static_cast<int32_t>(static_cast<uint32_t>(m_slave_ref_clock_from_frame) -
                                      static_cast<uint32_t>(m_dc_next_frame_send_time));
    if (cycle.first_frame) {
        g_cyclic_log.push(Ecm_Log_Level::INF,
                          "1a Frame -> m_dc_resto %d m_slave_ref_clock_from_frame %d m_dc_next_sync_time_ref %d",
                          m_dc_resto, m_slave_ref_clock_from_frame, m_dc_next_sync_time_ref);
        m_first_frame_dc_resto = static_cast<uint32_t>(m_dc_resto);
        m_first_frame_dc_slave_ref_clock = static_cast<uint32_t>(m_slave_ref_clock_from_frame);
        m_first_frame_dc_frame_send_time = static_cast<uint32_t>(m_dc_next_frame_send_time);
        m_first_frame_dc_next_sync_time = static_cast<uint32_t>(m_dc_next_sync_time_ref);
    }
    m_dc_next_sync_time_ref =
        static_cast<int32_t>(static_cast<uint32_t>(m_dc_next_sync_time_ref) + static_cast<uint32_t>(cycle.period));
    m_dc_next_frame_send_time =
        static_cast<int32_t>(static_cast<uint32_t>(m_dc_next_sync_time_ref) +
                             static_cast<uint32_t>(m_time_offset_master_frame) + FRAME_JITTER_NS);
}

void ECM_Master::retime_after_late_frame(Cycle_State& cycle)
{
    if (!m_soft_realtime_request) {
        ec_stop_cyclic_frame();
        record_cyclic_error(XENOMAI_WAIT_PERIOD_TIMEOUT_EXCEEDED, NULL_CODE,
                            check_slave_active() + ecm_shm::FIRST_SLAVE_NUMBER);
        manage_process_tick_exchange_shmem(true, true);
        m_thread_is_running = false;
        release_process_data_mutex();
        print_save_record_time_array();
        g_cyclic_log.push(Ecm_Log_Level::ERR, "Error on DC wait period !!!");
        throw std::runtime_error("Error on DC wait period !!!");
    }
    g_cyclic_log.push(Ecm_Log_Level::WAR, "Error on DC wait period !!! -> soft_realtime_request ... Continue");
    release_process_data_mutex();
    // Re-timed only from reads that were answered, and never to a wait
    // beyond one period; else this cycle keeps the schedule.
    if (calc_and_set_dc_times(static_cast<uint32_t>(cycle.period)))
        cycle.deadline = m_dc_reference_read_ns + to_ns(m_dc_sync_wait_time);
    else
        cycle.deadline += cycle.period;
    cycle.first_frame = false;
}

void ECM_Master::schedule_next_dc_wake(Cycle_State& cycle)
{
    if (!cycle.got_frame) {
        // No time from this cycle: keep the schedule.
        cycle.deadline += cycle.period;
        return;
    }
    const int32_t period = cycle.period;
    if (m_dc_resto >= period) {
        g_cyclic_log.push(Ecm_Log_Level::WAR,
                          " non applied WARNING -> m_dc_resto >= m_cycle_frame_time_ns -> nanosleep "
                          "rischio NEGATIVO nuovo m_dc_resto %d",
                          period - FRAME_JITTER_NS);
        m_dc_resto = period - FRAME_JITTER_NS;
    }
    // The deadline is absolute: a cycle that woke late has not moved the
    // schedule, so only the rest of the frame's delay (drift, offset)
    // corrects it.
    const int64_t correction = static_cast<int64_t>(m_dc_resto) - cycle.late;
    if (correction > -10000 && correction < 10000) {
        m_dc_sync_wait_time = from_ns(period);
    } else {
        m_dc_sync_wait_time = timespec{0, static_cast<long>(period - correction)};
        if (m_dc_sync_wait_time.tv_nsec < 0)
            m_dc_sync_wait_time.tv_nsec = 0;
        if (m_dc_sync_wait_time.tv_nsec >= 2 * period)
            m_dc_sync_wait_time.tv_nsec = 2 * period - 1;
    }
    cycle.deadline += to_ns(m_dc_sync_wait_time);
}

void ECM_Master::record_time_slot(const Cycle_State& cycle)
{
    timeval slot_end{};
    gettimeofday_xenomai(&slot_end, nullptr);
    long slot = slot_end.tv_usec - cycle.slot_start.tv_usec;
    if (slot < 0)
        slot += 1000000;
    if (!m_single_send_receive) {
        if (slot > m_master_time_slot_resend_max.tv_usec)
            m_master_time_slot_resend_max.tv_usec = slot;
        return;
    }
    m_master_time_slot_actual.tv_usec = slot;
    if (slot > m_master_time_slot_max.tv_usec)
        m_master_time_slot_max.tv_usec = slot;
    if (slot < m_master_time_slot_min.tv_usec)
        m_master_time_slot_min.tv_usec = slot;
}

void ECM_Master::learn_frame_time_out(Cycle_State& cycle)
{
    if (!cycle.learning || !m_single_send_receive || !cycle.got_frame)
        return;
    ++cycle.learning_count;
    const int32_t rtt_us = static_cast<int32_t>(cycle.round_trip_ns / 1000);
    if (rtt_us > cycle.measured_max_us && rtt_us < m_wait_frame_time_out_us) {
        cycle.measured_max_us = rtt_us;
        g_cyclic_log.push(Ecm_Log_Level::INF, " UPDATE wait_frame_time_out_us_measured  %d", cycle.measured_max_us);
    }
    if (cycle.learning_count < TIMEOUT_LEARNING_CYCLES)
        return;
    m_wait_frame_time_out_us = 2 * cycle.measured_max_us;
    g_cyclic_log.push(Ecm_Log_Level::INF, "UPDATE wait_frame_time_out end -> new wait_frame_time_out = %d",
                      m_wait_frame_time_out_us);
    if (m_wait_frame_time_out_us < WAIT_FRAME_TIME_OUT_MIN_US) {
        g_cyclic_log.push(Ecm_Log_Level::INF,
                          "UPDATE wait_frame_time_out end -> m_wait_frame_time_out_us %d < "
                          "WAIT_FRAME_TIME_OUT_MIN_US %d",
                          m_wait_frame_time_out_us, WAIT_FRAME_TIME_OUT_MIN_US);
        m_wait_frame_time_out_us = WAIT_FRAME_TIME_OUT_MIN_US;
    }
    cycle.learning = false;
}

void ECM_Master::tick_and_watch_client(const Cycle_State& cycle)
{
    const int32_t ticks = m_process_tick_exchange_shmem->tick_count;
    const bool client_started = m_process_tick_exchange_shmem->client_started_cyclic_op == 1;
    if (m_master_watchdog_is_active && client_started && ticks > m_watchdog_num_cycles) {
        g_cyclic_log.push(Ecm_Log_Level::WAR, " Attention: Watchdog error !!!");
        record_cyclic_error(ECAT_CYCLIC_FRAME, NO_WATCHDOG_CHECK, 0);
        manage_process_tick_exchange_shmem(false, true);
        m_thread_is_running = false;
        throw std::runtime_error(" Attention: Watchdog error !!!");
    }
    if (client_started && ticks > 0)
        g_cyclic_log.push(Ecm_Log_Level::WAR, "m_master_watchdog_is_active -> user lost %d ticks @ %d", ticks,
                          cycle.number);
    manage_process_tick_exchange_shmem(false, false);
}

namespace {
std::vector<int32_t> copy_records(const std::atomic<int32_t>* records, uint32_t count)
{
    const uint32_t n = count < ECM_Master::CYCLE_RECORDS ? count : static_cast<uint32_t>(ECM_Master::CYCLE_RECORDS);
    std::vector<int32_t> values;
    values.reserve(n);
    for (uint32_t i = count - n; i != count; ++i)
        values.push_back(records[i % ECM_Master::CYCLE_RECORDS].load(std::memory_order_relaxed));
    return values;
}
}  // namespace

std::vector<int32_t> ECM_Master::cycle_round_trips() const
{
    return copy_records(m_round_trip_records.get(), m_round_trip_count.load(std::memory_order_acquire));
}

std::vector<int32_t> ECM_Master::cycle_jitters() const
{
    return copy_records(m_jitter_records.get(), m_jitter_count.load(std::memory_order_acquire));
}

void ECM_Master::possible_resend_ex()
{
    g_cyclic_log.push(Ecm_Log_Level::INF, "ECM_Master::possible_resend_ex()");
    m_single_send_receive = false;
    ++m_frame_faults;
    if (!m_system_has_DC) {
        if (m_soft_realtime_request)
            sleep_ns(m_cycle_frame_time_ns);
        update_consecutive_faults_ex();
        return;
    }
    if (m_first_resend) {
        m_first_resend = false;
        m_resend_frame = true;
        return;
    }
    update_consecutive_faults_ex();
    if (m_soft_realtime_request) {
        m_resend_frame = true;
        sleep_ns(m_cycle_frame_time_ns);
        return;
    }
    // The time left is known only from reads that were answered.
    uint64_t sync0 = 0;
    uint64_t system = 0;
    if (ec_FPRD(m_ref_clock_address, 0x0990, 8, &sync0, DATAGRAM_TIMEOUT_US, SKIP_GATE) != 1 ||
        ec_FPRD(m_ref_clock_address, 0x0910, 8, &system, DATAGRAM_TIMEOUT_US, SKIP_GATE) != 1) {
        g_cyclic_log.push(Ecm_Log_Level::WAR, "ECM_Master::possible_resend_ex() -> reference clock not read");
        return;
    }
    m_t_sync0_ref_clock = sync0;
    m_t_actual_ref_clock = system;
    const int64_t left = static_cast<int64_t>(m_t_sync0_ref_clock - m_t_actual_ref_clock);
    if (left >= INT32_MIN && left <= INT32_MAX && left <= 2LL * m_wait_frame_time_out_us) {
        g_cyclic_log.push(Ecm_Log_Level::INF,
                          "ECM_Master::possible_resend_ex() -> non posso più inviare !!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!! "
                          "TODO capire che fare ");
        return;
    }
    g_cyclic_log.push(Ecm_Log_Level::WAR,
                      "ECM_Master::possible_resend_ex() @ cycle %d actual SLAVE time %llu (int32_t %d) next SLAVE "
                      "m_t_sync0_ref_clock %llu (int32_t %d) prev m_dc_resto %d my m_dc_next_sync_time_ref %d "
                      "m_dc_next_frame_send_time %d",
                      m_counter_cycle.load(), static_cast<unsigned long long>(m_t_actual_ref_clock),
                      static_cast<int32_t>(m_t_actual_ref_clock), static_cast<unsigned long long>(m_t_sync0_ref_clock),
                      static_cast<int32_t>(m_t_sync0_ref_clock), m_dc_resto, m_dc_next_sync_time_ref,
                      m_dc_next_frame_send_time);
    m_resend_frame = true;
}

void ECM_Master::update_consecutive_faults_ex()
{
    ++m_consecutive_faults;
    if (m_consecutive_faults <= m_max_consecutive_frame_faults)
        return;
    manage_process_tick_exchange_shmem(false, true);
    m_thread_is_running = false;
    ec_stop_cyclic_frame();
    record_cyclic_error(ECAT_CYCLIC_FRAME, NO_FRAME_READ, check_slave_active() + ecm_shm::FIRST_SLAVE_NUMBER);
    release_process_data_mutex();
    throw std::runtime_error(" Attention: No Cyclic frame read !!! -> consecutive_faults > MAX_CONSECUTIVE_DC_FAULTS ");
}
