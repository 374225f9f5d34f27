#pragma once

#include <pthread.h>
#include <sys/time.h>

#include <atomic>
#include <cstdint>
#include <list>
#include <memory>
#include <string>
#include <vector>

#include "ethercatmain.h"
#include "robust_mutex.h"
#include "xelo_ethercat_cfg.h"
#include "xelo_ethercat_slave_class.h"
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

    // Back to the state without configuration; only when one is held:
    // empties the init-command lists, the slaves and the cyclic command list.
    // Stops no thread: callers first take the network to INIT.
    void clear_system();

    // ---- configuration intake ------------------------------------------------
    // The master's own init commands into the nine transition lists.
    void fill_initCmd_structs();
    // One ECM_Slave per ENI slave, position addresses 0, 0xFFFF, ...
    void fill_slave_list_ex();
    // The cyclic command list of the ENI's (last) cyclic frame, and the
    // broadcast AL status read in it.
    void fill_cycle_frame();
    void find_control_status_cmd();
    static int get_data_frame_pos(int in_out_offset) { return in_out_offset - 6; }
    // Every slave's address and process-data geometry into the slave-info memory.
    void fill_info_slave_shmem();
    // Copies the ENI to the working copy (with "#x" rewritten to "0x"),
    // parses it, builds the tables and starts communication with the slaves.
    // Throws std::exception on any failure; the last error then reads
    // (ECAT_XML_FILE, NOT_FOUND, 0).
    void set_xml_file_and_leave_no_state_ex(std::string path);
    // Reopens the interface, compares the slaves answering with the ENI and
    // takes the network from no state through INIT to PRE-OP.
    void start_slave_comunication_ex();
    // One register init command: true when done, false when it must be sent
    // again. Throws std::runtime_error when it fails for good.
    bool manage_and_send_initCmd_ex(ECatCmdType cmd_to_send);
    // One CoE init command as an SDO transfer; the mailbox counter after it.
    uint8_t manage_and_send_CoE_cmd_ex(const CoE_InitCmd* cmd, uint16_t configadr, uint16_t mbx_l, uint16_t mbx_wo,
                                       uint16_t mbx_ro, uint8_t mbx_cnt);
    // Every slave's CoE and register init commands of one transition.
    void take_slave_into_next_state_ex(TransitionType transition);

    // ---- state machine ---------------------------------------------------------
    // The one entry of every state change, under m_mutex_change_state.
    // Any failure reaches the caller as a plain std::exception; the cause is
    // in the log and in the last error.
    void go_to_next_state_ex(State_Enum requested);
    void leave_no_state_ex(State_Enum requested);
    // Number of slaves answering a broadcast read of AL status; -1 without a reply.
    int check_slave_active();
    int get_slave_state_request_ex(int configadr);
    int get_slave_state_actual_ex(int configadr);
    int get_slave_state_error_code_ex(int configadr);
    // Stops and joins the cyclic thread if one exists.
    void shutdown_cyclic_frame_ex();

    // ---- queries -----------------------------------------------------------------
    int32_t get_slave_address(const std::string& name) const;
    int32_t get_slaves_number();
    // Entry n of the slave with this configured address; throws
    // "Attention: No Slave or Input found" when there is none.
    uint32_t get_slave_input_index_ex(int configadr, int n) const;
    uint32_t get_slave_input_subindex_ex(int configadr, int n) const;
    int32_t get_slave_input_bitlength_ex(int configadr, int n) const;
    uint32_t get_slave_output_index_ex(int configadr, int n) const;
    uint32_t get_slave_output_subindex_ex(int configadr, int n) const;
    int32_t get_slave_output_bitlength_ex(int configadr, int n) const;
    const std::vector<ECM_Slave>& slaves() const { return m_slave; }
    const std::vector<Cycle_Command_Struct>& cycle_commands() const { return m_cycle_cmd_array; }

    // ---- topology --------------------------------------------------------------------
    void get_slaves_network_topology_info();
    int find_first_slave_in_error(uint16_t state_to_check) const;

    // ---- EEPROM ------------------------------------------------------------------------
    void assign_slave_eeprom_to_ecat_ex(int slave_incr_num, bool is_config_addr);
    // 1 when not busy, 0 when still busy at the time-out.
    int eeprom_waitnotbusy_ex(int configadr, uint16_t* estat, bool is_config_addr, long timeout_us);
    uint32_t read_slave_data_from_eeprom_ex(int slave_incr_num, uint16_t eeprom_addr, bool is_config_addr);
    void set_slave_fisrt_seven_eeprom_words(uint16_t salve_addr_from_xml, uint16_t slave_incr_num,
                                            bool is_config_addr, bool check);
    // Vendor id, product code, serial number and alias of every slave; a
    // slave that cannot be read keeps all-ones values.
    void slave_eeprom_information_reading_ex();
    uint32_t get_slave_vendor_id(int conf_addr) const;
    uint32_t get_slave_product_code(int conf_addr) const;
    uint32_t get_slave_serial_number(int conf_addr) const;
    uint16_t get_slave_configured_alias(int conf_addr) const;

    // ---- diagnostics ---------------------------------------------------------------------
    int get_slave_port_in_rx_error_request_ex(int configadr);
    int get_slave_port_out_rx_error_request_ex(int configadr);
    int get_slave_port_in_fw_error_request_ex(int configadr);
    int get_slave_port_out_fw_error_request_ex(int configadr);
    uint16_t incr_read_16_bit_ex(uint16_t slave_pos, uint16_t reg_addr);
    // Error counters and AL registers of every slave as plain lines.
    void print_slaves_error_code();

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
    // Lost replies tolerated per init command beyond its Retries.
    static constexpr int LOST_FRAME_MARGIN = 100;
    // Working copy of the ENI that the intake parses.
    static constexpr const char* ENI_WORKING_COPY = "/tmp/tmp_ethercat_slave_info.xml";

    void leave_init_state_ex(State_Enum requested);
    void leave_preop_state_ex(State_Enum requested);
    void leave_safeop_state_ex(State_Enum requested);
    void leave_op_state_ex(State_Enum requested);
    // The master's commands of a transition, then every slave's.
    void run_transition_step_ex(const char* text, std::list<ECatCmdType>& master_list, TransitionType transition);
    void from_init_state_to_preop_state_ex();
    void from_preop_state_to_init_state_ex();
    void from_preop_state_to_safeop_state_ex();
    void from_safeop_state_to_preop_state_ex();
    void from_safeop_state_to_op_state_ex();
    void from_safeop_state_to_init_state_ex();
    void from_op_state_to_safeop_state_ex();
    void from_op_state_to_preop_state_ex();
    void from_op_state_to_init_state_ex();
    void from_init_state_to_safeop_state_ex();
    void from_init_state_to_op_state_ex();
    void from_preop_state_to_op_state_ex();
    // Resets the per-command counters and stamps the first send.
    void begin_init_cmd();
    // Sends one register init command's datagram; its working counter or -1.
    int send_init_cmd_datagram_ex(ECatCmdType& cmd);
    int read_register_byte_ex(int configadr, uint16_t reg, const char* error_text);
    int read_register_word_ex(int configadr, uint16_t reg, const char* error_text);
    ECM_Slave* find_slave(int conf_addr);
    const ECM_Slave* find_slave(int conf_addr) const;

    std::unique_ptr<EtherCATConfig_Config> m_xml_system_cfg;
    const EtherCATConfig_Config_ProcessImage* m_process_image = nullptr;
    bool m_some_slaves_have_mailbox = false;
    State_Enum m_desired_state = NO_STATE;
    std::vector<uint16_t> m_slaves_state_array;
    std::vector<uint16_t> m_slaves_error_array;
    std::vector<uint8_t> m_last_data_read;
    int32_t m_workcounter = 0;
    int32_t m_retries = 0;
    int32_t m_lost_frames = 0;
    timespec m_initCmd_send_time{};

    std::list<ECatCmdType> m_initCmd_IP_transition;
    std::list<ECatCmdType> m_initCmd_PS_transition;
    std::list<ECatCmdType> m_initCmd_SO_transition;
    std::list<ECatCmdType> m_initCmd_OS_transition;
    std::list<ECatCmdType> m_initCmd_OP_transition;
    std::list<ECatCmdType> m_initCmd_OI_transition;
    std::list<ECatCmdType> m_initCmd_SP_transition;
    std::list<ECatCmdType> m_initCmd_SI_transition;
    std::list<ECatCmdType> m_initCmd_PI_transition;

    std::vector<ECM_Slave> m_slave;

    // The cyclic command list; data pointers of output commands point into
    // the process-data memory.
    std::vector<Cycle_Command_Struct> m_cycle_cmd_array;
    int32_t m_cycle_cmd_list_number = 0;
    bool m_has_cycle_cmd_list = false;
    uint16_t* m_wrk_cycle_ctrl_status = nullptr;
    uint16_t* m_cycle_ctrl_status = nullptr;
    int32_t m_wrk_cycle_ctrl_status_expected = 0;
    bool m_wrk_cycle_ctrl_status_is_active = false;

    // The cyclic thread, while one exists.
    pthread_t m_thread_id_operational_state{};
    bool m_cyclic_thread_exists = false;
    std::atomic<bool> m_thread_is_external_stop{false};

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

// Byte-wise AND of two byte strings of one length; throws
// "Attention: Data have different size" otherwise.
std::vector<uint8_t> bytes_and_ex(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b);
// Whether two byte strings of one length differ; throws
// "Attention: Data have different data" when the lengths differ.
bool bytes_differ_ex(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b);
