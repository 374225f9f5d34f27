#pragma once

#include <pthread.h>
#include <semaphore.h>
#include <sys/time.h>

#include <atomic>
#include <cstdint>
#include <list>
#include <memory>
#include <string>
#include <vector>

#include "ethercatmain.h"
#include "framework_thread.h"
#include "robust_mutex.h"
#include "stop_flag.h"
#include "xelo_ethercat_cfg.h"
#include "xelo_ethercat_sdo_types.h"
#include "xelo_ethercat_slave_class.h"
#include "xelo_ethercat_system_types.h"

// Writes the lines of Robust_Mutex (a recovered mutex, failures) as
// busmaster log lines.
Lock_Log_Sink& ecm_lock_log();

// A handle on one of the master's mutexes, for std::lock_guard and
// std::unique_lock, whose lines go through ecm_lock_log(). The name is kept,
// not copied.
inline Robust_Mutex ecm_mutex(pthread_mutex_t* mutex, const char* name)
{
    return Robust_Mutex(mutex, name, nullptr, &ecm_lock_log());
}

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
    void init_ex(const std::string& net_interface_name, Shared_Pdo_Mem_Region* pdo, Shared_Slave_Info_Mem_Region* info,
                 Shared_Tick_Mem_Region* tick);

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
    // Whatever state the active slaves are in (OP with a watchdog error left
    // by a master that died), requests INIT with the error acknowledge from
    // all of them and waits until every one reports INIT without error.
    // Throws std::runtime_error when they do not within the time-out.
    void reset_slaves_to_init_ex(int active);
    // Station address 0 for every slave, so that the init commands that give
    // the addresses never meet one left by an earlier walk or master.
    void clear_station_addresses_ex(int active);
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
    // Number of slaves answering a broadcast read of AL status, sent again
    // after a lost reply; -1 when no reply came back.
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
    // The 32 bits from one word address; throws when three reads in a row go unacknowledged.
    uint32_t read_slave_data_from_eeprom_ex(int slave_incr_num, uint16_t eeprom_addr, bool is_config_addr);
    void set_slave_fisrt_seven_eeprom_words(uint16_t salve_addr_from_xml, uint16_t slave_incr_num, bool is_config_addr,
                                            bool check);
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

    // ---- link walk, port functions and EEPROM writing ---------------------------
    // Slave numbers of the port functions are 1-based positions in the slave
    // list; a position outside it throws std::out_of_range.
    // The next free port of slave parent for a child (order 3, 1, 2, 0);
    // 0 when none is left.
    uint8_t ec_parentport(uint16_t parent);
    // Receive time latched on port (0-3) of slave; 0 for any other port.
    int32_t ec_porttime(uint16_t slave, uint8_t port);
    // The active port that precedes port in the slave's processing order;
    // port itself when none does.
    uint8_t ec_prevport(uint16_t slave, uint8_t port);
    // Walks the segment slave by slave through the DL control loop settings,
    // giving every slave reached a temporary station address from 0x1001
    // (the ENI addresses come back at the end when every slave was found),
    // and publishes the number reached. Throws std::runtime_error when it
    // differs from the ENI, after reading the identities and recording
    // (ECAT_XML_FILE, SLAVE_NUM_NOT_AGREE, reached + 1001).
    void check_slave_link_consistency_ex();
    // Every slave of the ENI, by its ring position, gets its ENI address back
    // after the walk's temporary ones.
    void restore_configured_addresses();
    // The walk, only with slaves from a valid ENI and never while the cycle
    // runs (std::runtime_error).
    void start_check_slaves_link_ex();
    // Writes one SII word by configured address; throws on any failure,
    // also when the EEPROM never acknowledges the write.
    void ec_writeeeprom_ex(int slave, uint16_t eeproma, uint16_t data, bool is_config_addr, long timeout_wait_us);
    // Word 7: the CRC-8 of the first seven words stored for the slave.
    void ec_eeprom_write_checksum_ex(int slave);
    // A new station alias into word 4 and the checksum after it; on failure
    // the old alias goes back into word 4.
    void write_slave_alias_into_eeprom_ex(int slave, uint16_t data);
    void save_slave_config_alias_change(int conf_addr, int conf_alias);
    void save_slave_serial_number_change(int conf_addr, int ser_num);

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

    // ---- cyclic operation: thread, frame, tick, watchdog, timing, clocks ----
    // Starts the cyclic thread (SCHED_FIFO, highest priority minus 3) and
    // waits 1.2 s. Throws std::runtime_error when it cannot be created.
    void start_cyclic_frame_thread_ex(ECM_Master* obj_threaded);
    // Refused with "Attention: m_thread_is_running " while the cycle runs.
    void set_op_cycle_time_ex(int time_desired);
    void set_watchdog_on_ex(int watchdog_desired);
    void set_watchdog_off_ex();
    bool get_master_watchdog_is_active() const { return m_master_watchdog_is_active; }
    int32_t get_watchdog_num_cycles() const { return m_watchdog_num_cycles; }
    bool is_cyclic_thread_running() const { return m_thread_is_running; }
    void set_wait_shutdown_thread(bool value) { m_wait_shutdown_thread = value; }
    int32_t get_counter_cycle() const { return m_counter_cycle.load(std::memory_order_relaxed); }
    int32_t get_wait_frame_time_out_us() const { return m_wait_frame_time_out_us; }
    // One tick: tick_count + 1 (or -1 on a fault), and the semaphore posted
    // in OP or when has_todo_post, never above 1.
    void manage_process_tick_exchange_shmem(bool has_todo_post, bool has_to_set_tick_error);
    void check_and_post_sem_ex(sem_t* sem);
    void reset_info_timer(bool reset_first_frame_info);
    void update_dc_time_statistics();
    void print_save_record_time_array();
    // Distributed clocks: set-up at PRE-OP to SAFE-OP, SYNC start and the
    // first frame's timing in the cyclic thread.
    void config_dc_slave_option();
    void calc_master_frame_offset_time_ex();
    void read_SM_dc_parameters(std::vector<ECM_Slave>::iterator slave_iterator);
    void find_Ref_Clock_cycle_cmd();
    bool set_dc0_start_ex(uint16_t slave_addr, uint32_t cycle_time_sync0, int32_t shift_time, bool use_shifttime);
    bool set_dc01_start_ex(uint16_t slave_addr, uint32_t cycle_time_sync0, uint32_t cycle_time_sync1,
                           int32_t shift_time, bool use_shifttime);
    // Times the next frame from the reference clock's next SYNC0 (0x0990)
    // and system time (0x0910). False, with nothing changed, when a read was
    // not answered or the wait would exceed longest_wait_ns (a stale read).
    bool calc_and_set_dc_times(uint32_t longest_wait_ns = UINT32_MAX);
    bool has_DC() const { return m_system_has_DC; }
    int32_t get_time_offset_master_frame() const { return m_time_offset_master_frame; }
    // Byte of the input image where the reference clock's time lands; -1 without one.
    int get_ref_clock_image_pos() const { return m_ref_clock_image_pos; }
    // Byte of the input image of the AL status word; -1 without the command.
    int get_ctrl_status_image_pos() const { return m_ctrl_status_image_pos; }
    // Per-cycle records of the last CYCLE_RECORDS cycles, oldest first: the
    // cyclic frame's send-to-reply time (ns) and, with distributed clocks,
    // the frame jitter (m_dc_resto, ns). For measurements; copied without a lock.
    static constexpr std::size_t CYCLE_RECORDS = 1u << 16;
    std::vector<int32_t> cycle_round_trips() const;
    std::vector<int32_t> cycle_jitters() const;

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
    // Clears the record of lost replies that the done command recovered from.
    void forget_recovered_lost_frames();
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
    // 64 bits: an ENI's Retries may be the largest 32-bit number.
    int64_t m_retries = 0;
    int64_t m_lost_frames = 0;
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
    std::atomic<bool> m_thread_is_running{false};
    uint32_t m_frame_faults = 0;
    uint32_t m_max_consecutive_frame_resend = 0;
    std::atomic<bool> m_request_timer_info_reset{false};

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

    // ---- cyclic operation ------------------------------------------------------
    static void* CyclicFrameThreadStartup(void* _tgtObject);
    int run_cyclic_frame_manager_ex();
    void possible_resend_ex();
    void update_consecutive_faults_ex();
    // The set-up of the loop: tick drained, figures cleared, the period
    // timer armed or DC started.
    void prepare_cyclic_loop_ex();
    void reset_cycle_figures();
    // The frame's command copy pointing into the output image, which starts
    // from the clients' outputs when the lock is free.
    void prepare_cycle_frame();
    void start_period_timer();
    // SYNC0/SYNC1 started on every DC slave (up to 20 tries), checked, and
    // the first frame's time computed.
    void start_distributed_clocks();
    bool start_dc_on_every_slave();
    void check_dc_started(uint16_t address);

    // The steps of one cycle, in the loop's order; Cycle_State holds the
    // loop's variables.
    struct Cycle_State;
    // false when a non-DC cycle is skipped (sent too soon after the last).
    bool wait_for_cycle_slot(Cycle_State& cycle);
    void check_missed_periods(const Cycle_State& cycle, long expirations);
    void wait_for_dc_deadline(Cycle_State& cycle);
    void begin_cycle_slot(Cycle_State& cycle);
    void take_client_outputs(Cycle_State& cycle);
    void exchange_with_resend(Cycle_State& cycle);
    // One send and receive; false when no frame came back.
    bool exchange_frame(Cycle_State& cycle);
    void publish_inputs(const Cycle_State& cycle);
    void check_al_status(const Cycle_State& cycle);
    // OP broadcast again, then the slaves' states read one per cycle, then
    // the cycle ends with ACTUAL_STATE_NO_CORRECT.
    void recover_operational_state();
    void count_frame_faults(const Cycle_State& cycle);
    // false when a late frame re-timed the schedule and the cycle ends there.
    bool correct_dc_deadline(Cycle_State& cycle);
    void take_reference_clock_from_frame(const Cycle_State& cycle);
    void retime_after_late_frame(Cycle_State& cycle);
    void schedule_next_dc_wake(Cycle_State& cycle);
    void record_time_slot(const Cycle_State& cycle);
    void learn_frame_time_out(Cycle_State& cycle);
    void tick_and_watch_client(const Cycle_State& cycle);
    // Reads AL status and code of slave i into the state arrays (no gate:
    // the cyclic thread must not wait for its own frame).
    void read_slave_state_in_cycle(std::size_t i);
    // The thread's request for INIT after a fault: the state-change mutex
    // is waited for only while nobody is stopping this thread.
    void cyclic_thread_request_init();
    void go_to_next_state_locked_ex(State_Enum requested);
    // After a failed step: SAFE-OP or OP without a running cycle is no
    // state the slaves can be in. They are asked for INIT (a lost request
    // changes nothing) and the master reports INIT.
    void fall_back_to_init_without_cycle();
    // Releases the process-data mutex when the loop holds it.
    void release_process_data_mutex();
    // Records the error unless a type 1 or 30 error is kept.
    void record_cyclic_error(Ec_Master_Error_Type type, EC_Master_Error_Code code, int slave);
    void reset_cyclic_configuration();

    int32_t m_thread_rc_operational_state = 0;
    unsigned long m_thread_overruns_return = 0;
    std::atomic<bool> m_wait_shutdown_thread{false};
    int32_t m_consecutive_faults = 0;
    bool m_resend_frame = false;
    bool m_first_resend = false;
    bool m_single_send_receive = true;
    bool m_prev_sync_fault = false;
    int32_t m_wait_frame_time_out_us = 500;
    std::atomic<int32_t> m_counter_cycle{0};
    bool m_process_data_exchange_shmem_shm_mutex_unlock_todo = false;
    int m_periodic_timer_fd = -1;
    uint64_t m_wakeups_missed = 0;
    std::size_t m_slave_state_read_index = 0;
    int m_al_repeat_counter = 0;
    // The frame's commands with the output data re-pointed into
    // m_cycle_out_image, which is refreshed from shm_buf_out only under the
    // lock: a cycle whose try-lock fails sends the last outputs taken whole.
    std::vector<Cycle_Command_Struct> m_cycle_frame_cmds;
    uint8_t m_cycle_out_image[ecm_shm::PROCESS_DATA_BYTES] = {};
    // The exchange's receive image: the last frame received.
    uint8_t tmp_in_out[ecm_shm::PROCESS_DATA_BYTES] = {};
    int m_cycle_image_bytes = 0;
    int m_ctrl_status_image_pos = -1;
    std::unique_ptr<std::atomic<int32_t>[]> m_round_trip_records { new std::atomic<int32_t>[ CYCLE_RECORDS ]() };
    std::unique_ptr<std::atomic<int32_t>[]> m_jitter_records { new std::atomic<int32_t>[ CYCLE_RECORDS ]() };
    std::atomic<uint32_t> m_round_trip_count{0};
    std::atomic<uint32_t> m_jitter_count{0};

    // Distributed clocks.
    bool m_system_has_DC = false;
    uint16_t m_ref_clock_address = 0;
    uint32_t* m_ref_clock_cycle_ptr = nullptr;
    int m_ref_clock_image_pos = -1;
    int32_t m_slave_ref_clock_from_frame = 0;
    int32_t m_slave_ref_clock_from_frame_old = 0;
    int32_t m_dc_next_sync_time_ref = 0;
    int32_t m_dc_next_frame_send_time = 0;
    int32_t m_dc_resto = 0;
    timespec m_dc_sync_wait_time{};
    uint64_t m_t_sync0_ref_clock = 0;
    uint64_t m_t_actual_ref_clock = 0;
    int64_t m_dc_reference_read_ns = 0;  // monotonic time at which m_t_actual_ref_clock was read
    int32_t m_time_offset_master_frame = 0;

    // ---- SDO services and the SDO manager thread --------------------------------
public:
    // Blocking transfers on the caller's thread; they raise std::runtime_error
    // on failure, on an unknown slave address and on sizes above
    // ecm_sdo::BUFFER_SIZE. The upload resizes *data to the bytes received.
    void get_data_via_sdo_ex(uint16_t conf_addr, int index, int subindex, int size, std::vector<uint8_t>* data);
    void set_data_via_sdo_ex(uint16_t conf_addr, int index, int subindex, unsigned int size, std::vector<uint8_t> data);
    // As above with the reported code: 0x80 on an abort, whose code then is
    // the 4 data bytes (returned, not raised); downloads report 0x60.
    void get_data_via_sdo_and_get_code_ex(uint16_t conf_addr, int index, int subindex, int size,
                                          std::vector<uint8_t>* data, unsigned char* code);
    void set_data_via_sdo_and_get_code_ex(uint16_t conf_addr, int index, int subindex, unsigned int size,
                                          std::vector<uint8_t>* data, unsigned char* code);
    // One read of the slave's mailbox: code 1 when a message was waiting
    // (an emergency is printed and pushed to the error list), else 0.
    void get_emcy_data_via_sdo(uint16_t conf_addr, int index, int subindex, int size, std::vector<uint8_t>* data,
                               unsigned char* code);
    // The object as T (unsigned char, short or int), little-endian; bytes
    // not received stay 0.
    template <typename T>
    T read_reg_with_mbx_ex(uint16_t slave_addr, int index, int subindex);

    // The queue, in OP only: push appends a request for the SDO manager
    // thread; pop hands out the oldest result and returns the number of
    // results waiting before the call.
    void push_sdo_ex(uint16_t conf_addr, int index, int subindex, int size, std::vector<uint8_t> data,
                     unsigned char code);
    int pop_sdo_ex(uint16_t* conf_addr, int* index, int* subindex, int* size, std::vector<uint8_t>* data,
                   unsigned char* code);
    // Starts the one SDO manager thread; later calls find it running.
    void start_extra_sdo_manager_ex();
    // The thread's loop: serves requests until stop_sdo_manager.
    void run_sdo_manager_ex();
    static void* SDOmanagerThreadStartup(void* master);
    // Asks the SDO manager thread to end and joins it.
    void stop_sdo_manager();
    void set_sdo_code_control(bool active) { m_control_sdo_code_is_active = active ? 1 : 0; }
    bool is_sdo_manager_running() const { return m_sdomanager_run; }

protected:
    // Empties both SDO lists; requests taken but not finished are dropped.
    void clear_sdo_lists();
    // Carries out one queued request in place; never throws.
    void execute_sdo_request(SDOTypemanage& request);
    // The slave with this address or a runtime_error naming the caller.
    ECM_Slave& sdo_slave_ex(uint16_t conf_addr, const char* caller);

    std::list<SDOTypemanage> m_list_sdo_out;
    std::list<SDOTypemanage> m_list_sdo_in;
    // Bumped by clear_sdo_lists: a request taken before it is dropped.
    uint64_t m_sdo_list_generation = 0;
    sem_t m_sem_list_no_empty{};
    bool m_sem_list_no_empty_ready = false;
    std::atomic<bool> m_sdomanager_run{false};
    Stop_Flag m_sdo_manager_stop;
    Framework_Thread m_sdo_manager_thread{m_sdo_manager_stop};
    int32_t m_control_sdo_code_is_active = 1;
    // One mailbox transfer at a time, whichever thread runs it; also held
    // while the slave list is cleared.
    pthread_mutex_t m_mailbox_mutex;

    // Declared last, so destroyed first: stops the SDO manager thread
    // before the members it uses go.
    struct Sdo_Manager_Stopper {
        ECM_Master& master;
        ~Sdo_Manager_Stopper() { master.stop_sdo_manager(); }
    } m_sdo_manager_stopper{*this};
};

// Byte-wise AND of two byte strings of one length; throws
// "Attention: Data have different size" otherwise.
std::vector<uint8_t> bytes_and_ex(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b);
// Whether two byte strings of one length differ; throws
// "Attention: Data have different data" when the lengths differ.
bool bytes_differ_ex(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b);
