#pragma once

#include <semaphore.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "fab_descriptors.h"
#include "framework_shm_holders.h"
#include "framework_socket_bridge.h"
#include "framework_thread.h"
#include "periodic_timer.h"
#include "rt_log.h"
#include "shm_segment.h"
#include "stop_flag.h"
#include "virtual_slave.h"
#include "xelo_app_desc_manager.h"
#include "xelo_ethercat_user_interface.h"
#include "xelo_queue.h"

constexpr uint32_t FRAMEWORK_VERSION_MAJOR = 4;
constexpr uint32_t FRAMEWORK_VERSION_MINOR = 0;
constexpr uint32_t FRAMEWORK_VERSION_PATCH = 0;

// A process-local semaphore, initialised to 0 and destroyed with its owner.
class Local_Semaphore {
public:
    explicit Local_Semaphore(const char* name);
    ~Local_Semaphore();
    Local_Semaphore(const Local_Semaphore&) = delete;
    Local_Semaphore& operator=(const Local_Semaphore&) = delete;
    sem_t* get() { return &m_sem; }

private:
    sem_t m_sem;
};

// The framework server: one object per pass of rtframe's restart loop. The
// constructor runs the whole pass: it loads the application descriptor,
// starts the logger, master-manager, real-time and save threads and returns
// when the real-time thread has ended (its exit path has released the
// segments). The destructor stops and joins the other threads.
//
// With a master, the master-manager thread brings busmaster to OP and back
// after a loss, and the tick loop follows the master's tick; in
// master-offline mode a periodic timer stands in for it. A pass also ends
// when process_stop_flag() is raised (SIGINT, SIGTERM). With a bridge
// descriptor, the socket bridge raises ready_to_start once it runs; a fault
// of its descriptor ends the pass with Framework_Fatal.
class XELO_Framework_ex {
public:
    XELO_Framework_ex(std::string application_descriptor_file, bool master_simulation, bool single_connection,
                      bool xml_split_local_root, bool is_bridge_enabled, bool is_bridge_master,
                      std::string bridge_descriptor_file,
                      uint32_t bridge_running_delay_ms = Framework_Socket_Bridge::DEFAULT_RUNNING_DELAY_MS);
    ~XELO_Framework_ex();
    XELO_Framework_ex(const XELO_Framework_ex&) = delete;
    XELO_Framework_ex& operator=(const XELO_Framework_ex&) = delete;

    friend void* QueueReaderThreadStartup(void* framework);
    friend void* MasterManagerThreadStartup(void* framework);
    friend void* FrameworkThreadStartup(void* framework);
    friend void* FrameworkThreadSave(void* framework);

private:
    // ---- start-up sequence (main thread) -----------------------------------
    void log_version();
    void open_logging_queue_writer();
    [[nodiscard]] bool wait_until_ready(const std::atomic<bool>& ready, long timeout_ms) const;
    bool stop_requested() const { return m_stop.is_set() || process_stop_flag().is_set(); }

    // ---- segments: creation and release ------------------------------------
    template <typename T>
    void open_connect_and_shared_rt_memory_ex(Shared_Memory_Info* shm_info, T** shm_ptr, std::string name, int count,
                                              bool unlink_on_release = true);
    void open_shared_memories_ex();
    void open_info_memory_ex();
    void open_cyclic_memory_ex();
    void open_application_data_memory_ex();
    void fill_application_data_table_ex(Shared_Application_Data_Struct* table, const IO_Descriptor_List& variables,
                                        const std::vector<Slave_Ethercat>& slaves, uint32_t image_size);
    void open_async_data_memory_ex();
    void open_data_sem_group_ex();
    void release_all_sems();
    void release_all_shms();

    // ---- process image (real-time thread) ----------------------------------
    void extract_memory_info_ex();
    void set_outputs_default_value();
    void update_slave_ex();
    void find_reserved_variables_ex();
    void exchange_with_master_ex();
    void write_status_variables();
    void read_logging_switches();

    // ---- real-time thread ---------------------------------------------------
    void start_up_ex();
    void set_ready_to_start(uint32_t value, const char* mutex_label);
    void run_ex();
    int64_t wait_syncro_tick();
    void run_tick_work();
    void exit_path(const char* reason, bool is_error);

    // ---- application wake-up and watchdog ----------------------------------
    void check_and_post_sems_ex();
    void expire_application_ex(int slot);
    void release_outputs_of(int slot);
    void release_async_outputs_of(int slot);
    void release_sem_data_of_ex(int slot);
    bool post_sem_data_semaphore_ex(bool is_post_rt, int sem_id, int app_id, bool is_from_watchdog,
                                    bool bypass_app_id_check);

    // ---- master manager (xelo_framework_master.cpp) ------------------------
    void open_master_comunication_ex();
    void hook_master_ex();
    // The connection's passes on a hooked master, until it is lost.
    void run_master_connection_ex();
    // Raises Master_Lost when the master does not answer.
    static void check_master_answers_ex();
    // One pass of the master-manager loop: true when the next pass begins
    // at once, false after a pause.
    bool master_pass_ex(ECM_Error_Struct& tmp_error);
    void wait_master_manager_wake_up_ex();
    void master_pause(long milliseconds);
    void reactivate_master_manager_thread();
    // Tick loop, master mode: the wait for the master's tick, a lost tick
    // handed to the master-manager thread, the unhook of the exit path.
    int64_t wait_master_syncro_tick();
    void master_tick_lost(int64_t ticks);
    void close_master_on_exit();
    void clear_last_ethercat_master_error();
    void get_last_ethercat_master_error(void* ecm_error);
    // The same, its ERR lines written through sink (the real-time thread's
    // queue) when one is given.
    // false when the master gave no answer.
    bool fetch_last_ethercat_master_error(ECM_Error_Struct* ecm_error, Lock_Log_Sink* sink);
    // The master's last error; Master_Lost when the master does not answer.
    void fetch_error_or_lost_ex(ECM_Error_Struct& ecm_error);

    // ---- asynchronous SDO variables (xelo_framework_async.cpp) ---------------
    void manage_async_data_ex();
    void push_async_requests(bool inputs);
    void collect_async_reply();

public:
    // Texts of the master's error type and code; both throw for a value
    // outside their tables.
    static std::string master_errortype2string(int error_type);
    static std::string master_errorcode2string(int error_code);
    // The display text of an error pair, at most 100 characters; a pair
    // outside the table gets a text composed of the two texts (ERR lines
    // through sink, or at once without one).
    static std::string get_master_error_message(int error_type, int error_code, Lock_Log_Sink* sink = nullptr);

private:
    // ---- save thread --------------------------------------------------------
    void save_run_ex();

    // ---- logger thread (xelo_framework_shadows_logger.cpp) -----------------
    void start_logging_queue_reader_thread();
    void open_logging_queue_reader_ex();
    void queue_read_run_ex();

    // Segments, filled by the real-time thread; every mapping is owned by m_segments.
    Shared_Application_Data_Ptrs m_shm_xeno_application_input_data;
    Shared_Application_Data_Ptrs m_shm_xeno_application_output_data;
    Shared_Async_Data_Ptrs m_shm_xeno_async_data;
    Shared_Cyclic_Data_Ptrs m_shm_xeno_cyclic_data;
    Shared_Info_Ptr m_shm_xeno_info;
    Shared_Sem_Data_Group m_shm_sem_group_data;
    struct Owned_Segment {
        std::unique_ptr<Shm_Segment> segment;
        bool unlink_on_release;
    };
    std::vector<Owned_Segment> m_segments;

    // Descriptor lists, filled by the descriptor manager.
    std::vector<Data_Semaphore_Group*> m_sem_group_data_vector;
    std::vector<IO_Descriptor*> m_inputs_vector;
    std::vector<IO_Descriptor*> m_outputs_vector;
    std::vector<Async_IO_Descriptor*> m_async_inputs_vector;
    std::vector<Async_IO_Descriptor*> m_async_outputs_vector;

    Virtual_Slave m_virtual_slave;
    Application_Descriptor_Manager appl_desc_mngr;
    Framework_Socket_Bridge m_framework_socket_bridge;

    std::atomic<bool> m_is_running{false};
    std::atomic<bool> m_master_connect_is_open{false};
    const bool m_master_simulation;
    const bool m_single_connection;
    std::atomic<bool> m_shared_memories_is_opened{false};
    const bool m_is_bridge_enabled;
    // Set by the real-time thread when a fault ends the pass for good
    // (Framework_Fatal); the constructor throws it once the thread has ended.
    std::string m_fatal_text;

    // Reserved status variables: byte position in the input image and the
    // width written or read (the smaller of declared and natural width).
    struct Reserved_Variable {
        const char* name;
        const char* label;  // of the line that reports where it was found
        uint32_t natural_width;
        int byte_offset;
        uint32_t width;
    };
    enum Reserved_Index {
        ONLINE,
        ERROR_TYPE,
        ERROR_CODE,
        ERROR_MSG,
        REFRESH_LOGGING,
        SEM_DATA_LOGGING,
        RESERVED_COUNT
    };
    Reserved_Variable m_reserved[RESERVED_COUNT];

    uint32_t m_inputs_byte_dim = 0;
    uint32_t m_outputs_byte_dim = 0;
    std::vector<Slave_Ethercat> m_input_slaves;
    std::vector<Slave_Ethercat> m_output_slaves;
    uint32_t m_input_slaves_size = 0;
    uint32_t m_output_slaves_size = 0;

    // Written by the master-manager thread, copied by the real-time thread
    // into the status variables (which skips a tick's copy while it is busy).
    std::mutex m_last_error_mutex;
    int16_t m_last_ethercat_master_error_type = 0;
    int16_t m_last_ethercat_master_error_code = 0;
    char m_last_ethercat_master_error_msg[100] = {};

    // Master connection (master mode).
    std::atomic<bool> m_master_hook_ok{false};
    unsigned m_master_connection_error = 0;
    Local_Semaphore m_sem_master_manager{"m_sem_master_manager"};
    // Requests queued with the master whose reply is not collected yet; reset
    // when the connection opens again (the real-time thread sees it closed).
    int m_sdo_counter = 0;
    bool m_async_connection_seen_open = false;

    uint32_t m_absolute_tick = 0;
    bool m_enable_refresh_logging = false;
    bool m_enable_sem_data_logging = false;

    Posix_Queue_Message_Writer m_xeno_logging_queue_writer;
    Posix_Queue_Message_Reader m_xeno_logging_queue_reader;

    Rt_Log m_rt_log;
    Periodic_Timer m_periodic_timer;

    // A save pass holds m_save_gate; the real-time thread's exit path takes it
    // after clearing m_is_running, so no pass runs on released segments.
    std::mutex m_save_gate;

    // Hand-overs between the threads of a pass.
    Local_Semaphore m_sem_start_queue_reading{"m_sem_start_queue_reading"};
    std::atomic<bool> m_logging_queue_created{false};
    std::atomic<bool> m_master_manager_done{false};
    std::atomic<bool> m_realtime_ready{false};

    // Declared last: destroyed first, each raising m_stop and joining.
    Stop_Flag m_stop;
    Framework_Thread m_logging_thread{m_stop};
    Framework_Thread m_master_manager_thread{m_stop};
    Framework_Thread m_realtime_thread{m_stop};
    Framework_Thread m_save_thread{m_stop};
};

void* QueueReaderThreadStartup(void* framework);
void* MasterManagerThreadStartup(void* framework);
void* FrameworkThreadStartup(void* framework);
void* FrameworkThreadSave(void* framework);
