#pragma once

#include <pthread.h>
#include <sys/time.h>

#include <cstdint>
#include <string>

#include "robust_mutex.h"
#include "xelo_ethercat_system_types.h"

// Writes the lines of Robust_Mutex (a recovered mutex, failures) as
// busmaster log lines.
Lock_Log_Sink& ecm_lock_log();

// The EtherCAT master: the state of the one master of the process, the
// pointers to the three shared memories (created by the command server), the
// cyclic figures read by the queries, the last error, and the mutex helpers
// through which every mutex of the master is initialised, locked and
// unlocked. Failures of the helpers are logged as ERR lines and thrown as
// std::runtime_error naming the mutex.
class ECM_Master {
public:
    ECM_Master();
    ~ECM_Master();
    ECM_Master(const ECM_Master&) = delete;
    ECM_Master& operator=(const ECM_Master&) = delete;

    // Called once, after the shared memories exist: stores them, creates the
    // master's mutexes and clears both process-data images.
    void init_ex(const std::string& net_interface_name, Shared_Pdo_Mem_Region* pdo,
                 Shared_Slave_Info_Mem_Region* info, Shared_Tick_Mem_Region* tick);

    // Back to the state without configuration; only when one is held.
    void clear_system();

    // ---- mutex helpers ---------------------------------------------------
    // A process-shared mutex is also made robust: a client that dies holding
    // it cannot freeze the master; the next lock recovers it (Robust_Mutex)
    // with a WAR line.
    void set_pthread_mutex_attr_ex(pthread_mutexattr_t* attr, bool pshared, bool prio_inherit, bool error_check);
    void init_pthread_mutex_ex(pthread_mutex_t* mutex, bool pshared, bool prio_inherit, bool error_check);
    void mutex_lock_ex(pthread_mutex_t* mutex, const std::string& mutex_name);
    // With unlock false: only a WAR line, the mutex stays as it is.
    void mutex_unlock_ex(pthread_mutex_t* mutex, const std::string& mutex_name, bool unlock);

    // ---- settings and figures ---------------------------------------------
    void set_gap_minimo_ns(uint32_t gap_min_ns) { m_gap_time_ns = gap_min_ns; }
    uint32_t get_gap_minimo_ns() const { return m_gap_time_ns; }
    void soft_realtime_activate(uint32_t max_cycle_jitter);
    bool get_soft_realtime_request() const { return m_soft_realtime_request; }
    uint32_t get_soft_realtime_max_cycle_jitter() const { return m_soft_realtime_max_cycle_jitter; }
    void set_max_consecutive_frame_faults(uint32_t max_faults);
    int32_t get_max_consecutive_frame_faults() const { return m_max_consecutive_frame_faults; }
    int32_t get_cycle_op_time() const { return m_cycle_frame_time_ns; }
    uint32_t get_frame_resend_num() const { return m_frame_faults; }
    uint32_t get_consecutive_frame_resend_max() const { return m_max_consecutive_frame_resend; }
    State_Enum get_master_ethercat_state() const { return m_actual_ethercat_state; }
    bool get_xml_data_status_flag() const { return m_is_xml_data_ok; }
    // Timing figures of the cyclic thread, in ns: the time slot of the
    // master's own work per cycle, the frame jitter and the gap behind the
    // previous SYNC0, and the distributed-clock values of the first frame.
    int32_t get_master_time_slot_actual_ns() const
    {
        return 1000 * static_cast<int32_t>(m_master_time_slot_actual.tv_usec);
    }
    int32_t get_master_time_slot_max_ns() const { return 1000 * static_cast<int32_t>(m_master_time_slot_max.tv_usec); }
    int32_t get_master_time_slot_min_ns() const { return 1000 * static_cast<int32_t>(m_master_time_slot_min.tv_usec); }
    int32_t get_master_time_slot_resend_max_ns() const
    {
        return 1000 * static_cast<int32_t>(m_master_time_slot_resend_max.tv_usec);
    }
    int32_t get_jitter_frame_ns() const { return m_jitter_frame; }
    int32_t get_jitter_frame_max_ns() const { return m_jitter_frame_max; }
    int32_t get_jitter_frame_min_ns() const { return m_jitter_frame_min; }
    int32_t get_gap_frame_to_prev_sync0_ns() const { return m_time_gap_frame_to_prev_sync0; }
    int32_t get_gap_frame_to_prev_sync0_max_ns() const { return m_time_gap_frame_to_prev_sync0_max; }
    int32_t get_gap_frame_to_prev_sync0_min_ns() const { return m_time_gap_frame_to_prev_sync0_min; }
    uint32_t get_first_frame_dc_slave_ref_clock_ns() const { return m_first_frame_dc_slave_ref_clock; }
    uint32_t get_first_frame_dc_next_sync_time_ns() const { return m_first_frame_dc_next_sync_time; }
    uint32_t get_first_frame_dc_frame_send_time_ns() const { return m_first_frame_dc_frame_send_time; }
    uint32_t get_first_frame_dc_resto_ns() const { return m_first_frame_dc_resto; }
    // Asks the cyclic thread to reset its timing figures.
    void request_timer_info_reset() { m_request_timer_info_reset = true; }
    bool is_timer_info_reset_requested() const { return m_request_timer_info_reset; }

    // ---- last error ---------------------------------------------------------
    // An error of type XENOMAI_WAIT_PERIOD_TIMEOUT_EXCEEDED or
    // ECAT_CYCLIC_FRAME stays until the record is cleared with NOT_ERROR_PRESENT.
    void set_last_master_error(Ec_Master_Error_Type new_error_type, EC_Master_Error_Code new_error_code,
                               int slave_in_error);
    void get_last_error(Ec_Master_Error_Type* new_error_type, EC_Master_Error_Code* new_error_code,
                        int* slave_in_error) const;

    // ---- the master's own command server ------------------------------------
    // Where the command server is bound; "close_connection" that the master
    // sends itself goes there.
    void set_command_server_endpoint(const std::string& address, int port);
    void send_close_connection_to_command_server() const;

protected:
    std::string m_net_interface_name;
    bool m_is_xml_data_ok = false;
    bool m_is_cleaned = true;
    int32_t m_cycle_frame_time_ns = 1000000;
    uint32_t m_gap_time_ns = 0;
    bool m_soft_realtime_request = false;
    uint32_t m_soft_realtime_max_cycle_jitter = 0;
    int32_t m_max_consecutive_frame_faults = 20;
    bool m_master_watchdog_is_active = true;
    int32_t m_watchdog_num_cycles = 10;

    State_Enum m_actual_ethercat_state = NO_STATE;
    bool m_thread_is_running = false;
    uint32_t m_frame_faults = 0;
    uint32_t m_max_consecutive_frame_resend = 0;
    bool m_request_timer_info_reset = false;

    // Written by the cyclic thread, read by the queries without a lock.
    timeval m_master_time_slot_actual{};
    timeval m_master_time_slot_min{};
    timeval m_master_time_slot_max{};
    timeval m_master_time_slot_resend_max{};
    int32_t m_jitter_frame = 0;
    int32_t m_jitter_frame_max = 0;
    int32_t m_jitter_frame_min = 0;
    int32_t m_time_gap_frame_to_prev_sync0 = 0;
    int32_t m_time_gap_frame_to_prev_sync0_max = 0;
    int32_t m_time_gap_frame_to_prev_sync0_min = 0;
    uint32_t m_first_frame_dc_frame_send_time = 0;
    uint32_t m_first_frame_dc_next_sync_time = 0;
    uint32_t m_first_frame_dc_resto = 0;
    uint32_t m_first_frame_dc_slave_ref_clock = 0;

    Shared_Pdo_Mem_Region* m_process_data_exchange_shmem = nullptr;
    Shared_Slave_Info_Mem_Region* m_process_info_slave_exchange_shmem = nullptr;
    Shared_Tick_Mem_Region* m_process_tick_exchange_shmem = nullptr;

    pthread_mutex_t m_mutex_operational_state;
    pthread_mutex_t m_mutex_change_state;
    pthread_mutex_t m_sdo_list_mutex;

    Ec_Master_Error_Type m_last_error_type = NOT_ERROR_PRESENT;
    EC_Master_Error_Code m_last_error_code = NULL_CODE;
    int32_t m_last_error_slave = 0;

    timespec m_timeOut_wait_initcmd{};
    timespec m_timeOut_wait_initcmd_retry{};

    std::string m_command_server_address;
    int m_command_server_port = ecm_protocol::PORT;
};

// Scope guard over ECM_Master::mutex_lock_ex / mutex_unlock_ex. An unlock
// failure in the destructor is logged by mutex_unlock_ex and not thrown further.
class ECM_Mutex_Guard {
public:
    ECM_Mutex_Guard(ECM_Master& master, pthread_mutex_t* mutex, std::string mutex_name);
    ~ECM_Mutex_Guard();
    ECM_Mutex_Guard(const ECM_Mutex_Guard&) = delete;
    ECM_Mutex_Guard& operator=(const ECM_Mutex_Guard&) = delete;

private:
    ECM_Master& m_master;
    pthread_mutex_t* m_mutex;
    std::string m_mutex_name;
};
