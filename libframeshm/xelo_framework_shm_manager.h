#pragma once

// Client side of the framework segments published by rtframe: attach with
// version checks and an application slot, the cyclic variable directory, the
// cyclic refresh with typed access, output ownership, the application
// watchdog and the save request, asynchronous (SDO) variables, data groups
// with their ring buffers, and command channels between applications.
//
// One manager per process. It is used by one thread, or by several that
// each keep to their own data groups and command channels while one of them
// refreshes (the socket bridge of rtframe). Every operation whose name ends
// in _ex may throw std::runtime_error.

#include <pthread.h>
#include <semaphore.h>

#include <atomic>
#include <cstdint>
#include <ctime>
#include <mutex>
#include <string>
#include <vector>

#include "framework_shared_memory.h"
#include "framework_shm_holders.h"
#include "framework_shm_segment.h"
#include "framework_types.h"
#include "robust_mutex.h"
#include "xelo_queue.h"

// Version of this header; an application passes it to
// init_with_h_compatibility_check_ex.
#define XELO_FRAMEWORK_SHM_MANAGER_VERSION_MAJOR 4
#define XELO_FRAMEWORK_SHM_MANAGER_VERSION_MINOR 1

class Framework_Shared_Memory_Manager {
public:
    // One open command channel of this process.
    struct Pair_Sem_Ids {
        int32_t id_to_send = 0;
        int32_t id_to_recv = 0;
        int32_t app_id_to_reply = 0;
        int32_t ack_on_poster_release = 0;
        bool application_is_server = false;
        bool application_is_client = false;
    };

    static constexpr int OUTPUT_ID_OFFSET = 10000;
    static constexpr uint64_t DEFAULT_REFRESH_TIMEOUT_NS = 2000000000ULL;

    Framework_Shared_Memory_Manager();
    ~Framework_Shared_Memory_Manager();
    Framework_Shared_Memory_Manager(const Framework_Shared_Memory_Manager&) = delete;
    Framework_Shared_Memory_Manager& operator=(const Framework_Shared_Memory_Manager&) = delete;

    // ---- attaching and detaching -------------------------------------------
    void init_with_h_compatibility_check_ex(std::string application_name, int32_t h_major, int32_t h_minor);
    void bypass_ready_to_start_flag();
    void enable_semaphore_trace();
    void disable_semaphore_trace();

    int32_t mutex_lock_ex(pthread_mutex_t* mutex, const std::string& mutex_name) const;
    int32_t mutex_unlock_ex(pthread_mutex_t* mutex, const std::string& mutex_name) const;

    void unlink();
    void unlink_all_shms();
    void unlink_shm(int32_t fd, void* ptr, int32_t byte_size, std::string name);
    void _print_sem_data_group_info();

    int get_application_number() const { return m_my_application_number; }
    const std::string& get_application_name() const { return m_my_application_name; }
    bool is_init_done() const { return m_init_done; }

    // ---- cyclic variable directory -----------------------------------------
    int get_input_id_ex(std::string label);
    int get_output_ro_id_ex(std::string label);
    bool has_input_ex(std::string label) const;
    bool has_output_ex(std::string label) const;
    unsigned get_input_total_number() const { return m_input_app_size; }
    unsigned get_output_total_number() const { return m_output_app_size; }
    int get_pointed_input_id_ex(int current_id, int iteration_number) const;
    int get_pointed_output_id_ex(int current_id, int iteration_number) const;

    std::string get_input_label_ex(int input_id, bool taken_check) const;
    unsigned get_input_dim_ex(int input_id) const;
    int get_input_type_ex(int input_id) const;
    int get_input_group_ex(int input_id) const;
    std::string get_output_label_ex(int output_id, bool taken_check) const;
    unsigned get_output_dim_ex(int output_id, bool taken_check) const;
    int get_output_type_ex(int output_id, bool taken_check) const;
    int get_output_group_ex(int output_id, bool taken_check) const;

    // Validate an access; size and offset -1 mean "not given". The output
    // check takes the table index (output id - 10000).
    int check_input_input_param_and_get_actual_id_ex(const char* caller, const char* file, int line, int input_id,
                                                     bool check_taken, int size, int offset) const;
    int check_output_input_param_and_get_actual_id_ex(const char* caller, const char* file, int line, int output_index,
                                                      bool check_taken, int size, int offset) const;
    std::string get_input_additional_info(std::string method, std::string file, int line, std::string message,
                                          int given_id, int actual_id, int size, int offset) const;
    std::string get_output_additional_info(std::string method, std::string file, int line, std::string message,
                                           int given_id, int actual_id, int size, int offset) const;

    // ---- cyclic refresh and typed access -----------------------------------
    // The overflow count (>= 0), -1 once after the framework watchdog has
    // released this application, -2 when the wait timed out.
    [[nodiscard]] int refresh_data_ex(uint32_t* tick);
    [[nodiscard]] int refresh_data_and_get_ec_master_state_ex(uint8_t* is_ethercat_master_online, uint32_t* tick);
    // Whether the framework run this process attached to has ended: it
    // stopped, a new run's info segment took the name (or none is left), or
    // no refresh exchanged its images for RUN_SILENCE_LIMIT_NS. A process of
    // an ended run takes no part in the next one.
    static constexpr uint64_t RUN_SILENCE_LIMIT_NS = 5000000000ULL;
    bool attached_run_ended() const;

    // T: bool, signed char, unsigned char, short, unsigned short, int,
    // unsigned int, long long, unsigned long long, float, double.
    template <typename T>
    T get_input_ex(int input_id, bool check_taken) const;
    template <typename T>
    T get_output_ex(int output_id, bool check_taken) const;
    template <typename T>
    T get_output_default_value_ex(int output_id) const;
    template <typename T>
    void set_output_ex(int output_id, T value);

    void get_input_byte_array_ex(int input_id, uint8_t* destination, int size, int offset) const;
    void get_output_byte_array_ex(int output_id, uint8_t* destination, int size, int offset) const;
    void set_output_byte_array_ex(int output_id, const uint8_t* source, int size, int offset);
    void set_current_value_as_default_ex(int output_id);

    // ---- output ownership ----------------------------------------------------
    // Both expect the output-table mutex held by the caller.
    void acquire_output_id(int output_index);
    void release_output_id(int output_index);
    int get_output_rw_id_ex(std::string label, bool take_only_shared_id);
    [[nodiscard]] int try_acquire_output_group_ex(int group_id);
    void release_output_group_control_ex(int group_id);

    // ---- watchdog, refresh period, save request ----------------------------
    uint32_t get_master_cycle_time_ns_ex() const;
    void set_refresh_time_ns_ex(uint32_t refresh_time_ns);
    void set_watchdog_value_ex(int num_cycle);
    void turn_on_watchdog_ex();
    void turn_off_watchdog_ex();
    void save_cfg_file_ex();

    // ---- asynchronous variables ---------------------------------------------
    // Ids are plain indices. A request is posted, then polled once per cycle
    // until it returns 1; a poll throws when the reply carries the error flag
    // or does not come before the deadline.
    unsigned get_async_input_total_number() const { return m_async_input_size; }
    unsigned get_async_output_total_number() const { return m_async_output_size; }
    int get_async_input_id_ex(std::string async_input_name);
    // Claims the output for this application; a claimed output is refused.
    int get_async_output_id_ex(std::string async_output_name);
    std::string get_async_input_label_ex(int async_input_id, bool taken_check) const;
    std::string get_async_output_label_ex(int async_output_id, bool taken_check) const;
    Type_Definition get_async_input_type_ex(int async_input_id) const;
    Type_Definition get_async_output_type_ex(int async_output_id) const;
    uint32_t get_async_input_refresh_error_ex(int async_input_id) const;
    uint32_t get_async_output_set_error_ex(int async_output_id) const;
    void refresh_async_input_ex(int async_input_id);
    // 1 done, 0 pending; the master state of the last refresh goes to the
    // pointer when given, and a master offline answers 1 at once.
    uint8_t is_async_input_refresh_ex(int async_input_id, uint8_t* is_ethercat_master_online);
    uint8_t is_async_output_set_ex(int async_output_id, uint8_t* is_ethercat_master_online);
    // T: signed char, unsigned char, short, unsigned short, int, unsigned int, float.
    template <typename T>
    T get_async_input_ex(int async_input_id) const;
    template <typename T>
    void set_async_output_ex(int async_output_id, T new_value);

    // ---- data groups: directory and typed data -------------------------------
    // Group and data ids are plain indices. Setters write and getters read this
    // process's local image of a group, sized and zero-filled at attach.
    int get_sem_data_group_read_id_ex(std::string sem_data_group_name);
    int get_sem_data_group_write_id_ex(std::string semaphore_name, bool take_only_shared_id);
    int get_sem_data_group_data_id_ex(int sem_group_id, std::string data_label) const;
    std::string get_sem_data_group_name_from_id_ex(int sem_group_id) const;
    std::string get_label_sem_data_group_data_from_id_ex(std::string sem_data_group_name, int data_id) const;
    std::vector<std::string> get_list_sem_data_group_name() const;
    std::vector<std::string> get_list_sem_data_group_data_name_ex(std::string sem_data_group_name) const;
    std::vector<std::string> get_list_sem_data_group_data_name_from_id_ex(int sem_group_id) const;
    unsigned get_sem_data_group_data_dim_ex(int sem_group_id, int data_id) const;
    unsigned get_sem_data_group_data_byte_array_dim_ex(int sem_group_id, int data_id) const;
    Type_Definition get_sem_data_group_data_type_ex(int sem_group_id, int data_id) const;
    int get_sem_data_group_ring_buffer_slot_number_ex(int sem_group_id) const;

    // T: signed char, unsigned char, short, unsigned short, int, unsigned int,
    // long long, unsigned long long, float, double.
    template <typename T>
    void set_sem_data_group_data_ex(int sem_group_id, int data_id, T value);
    template <typename T>
    T get_sem_data_group_data_ex(int sem_group_id, int data_id) const;
    void set_sem_data_group_data_byte_array_ex(int sem_group_id, int data_id, const uint8_t* source, int byte_dim,
                                               int byte_offset);
    // Only for a reader of the group.
    void get_sem_data_group_data_byte_array_ex(int sem_group_id, int data_id, uint8_t* destination, int byte_dim,
                                               int byte_offset) const;
    // The whole image behind the slot's 4-byte tick.
    void set_sem_data_group_data_byte_whole_slot_ex(int sem_group_id, const uint8_t* source, int byte_dim);

    // Validate an access; data id, size and offset -1 mean "not given".
    void check_sem_data_input_param_ex(const char* caller, const char* file, int line, int sem_group_id,
                                       bool check_is_mine, bool check_free, int data_id, int size, int offset) const;
    void check_sem_datum_param_ex(const char* caller, const char* file, int line, int sem_group_id, bool check_is_mine,
                                  bool check_free, int data_id, int size, int offset) const;
    std::string get_sem_data_additional_info(std::string caller, std::string file, int line, std::string message,
                                             int sem_group_id, int data_id, int size, int offset) const;

    // ---- data groups: roles, posting and waiting ----------------------------
    [[nodiscard]] bool try_acquire_sem_data_group_ex(int sem_data_group_id);
    // For the group's writer: its local image (for a ring: the ring and the
    // write position) becomes what was published last, so that a writer
    // taking the group over posts the published values, not zeros.
    void load_published_sem_data_group_ex(int sem_group_id);
    void release_sem_data_group_ex(int semaphore_id, bool is_server_released);
    // app_id_to_reply -1 wakes every reader, else only that reader (number + 100).
    void post_sem_data_group_ex(int sem_group_id, bool is_exclusive_cmd, int app_id_to_reply);
    // timeout_ms > 0 bounds the wait, 0 or less waits without limit; false on
    // time-out. app_id_to_reply, when given, receives the exclusive poster.
    [[nodiscard]] bool wait_sem_data_group_ex(int sem_group_id, double timeout_ms, int ack_on_poster_release,
                                              int* app_id_to_reply);
    bool post_single_sem_semaphorized_data_group_ex(int sem_id, int app_id_no_offset);
    bool post_all_sem_semaphorized_data_group_ex(int sem_id);

    // ---- data groups: ring buffer --------------------------------------------
    void insert_ring_buffer_slot_ex(int sem_group_id);
    // overlap (may be null) receives 1 when the writer lapped the reader, else 0.
    bool get_ring_buffer_next_slot_ex(int sem_id, int8_t* overlap);
    void clear_ring_buffer_ex(int sem_data_group_id);

    // ---- command channels ------------------------------------------------------
    // A channel is the pair of groups "<name>_sender" (commands) and
    // "<name>_receiver" (answers); its id indexes this process's channel table.
    int get_cmd_channel_id_as_client_ex(std::string cmd_channel_name);
    int get_cmd_channel_id_as_server_ex(std::string cmd_channel_name);
    [[nodiscard]] bool try_acquire_cmd_as_client_ex(int cmd_id);
    [[nodiscard]] bool try_acquire_cmd_as_server_ex(int cmd_id);
    void release_cmd_as_client_ex(int cmd_id);
    void release_cmd_as_server_ex(int cmd_id);
    bool is_server_waiting_for_command_ex(int cmd_id);
    void send_cmd_ex(int cmd_id);
    [[nodiscard]] bool wait_answer_ex(int cmd_id, double timeout_ms);
    [[nodiscard]] bool send_cmd_and_wait_answer_ex(int cmd_id, double timeout_ms);
    [[nodiscard]] bool wait_cmd_ex(int cmd_id, double timeout_ms);
    void send_answer_ex(int cmd_id);
    void clear_cmd_from_client_ex(int cmd_id);

    int get_cmd_data_id_to_send_ex(int cmd_id, std::string data_label);
    int get_cmd_data_id_to_recv_ex(int cmd_id, std::string data_label);
    Type_Definition get_send_data_type_ex(int cmd_id, int data_id);
    Type_Definition get_recv_data_type_ex(int cmd_id, int data_id);
    unsigned get_send_data_dim_ex(int cmd_id, int data_id);
    unsigned get_recv_data_dim_ex(int cmd_id, int data_id);
    unsigned get_cmd_data_dim_ex(int cmd_id, int data_id);
    unsigned get_answ_data_dim_ex(int cmd_id, int data_id);
    Type_Definition get_cmd_data_type_ex(int cmd_id, int data_id);
    Type_Definition get_answ_data_type_ex(int cmd_id, int data_id);
    unsigned get_cmd_data_byte_array_dim_ex(int cmd_id, int data_id, bool as_client);
    unsigned get_answ_data_byte_array_dim_ex(int cmd_id, int data_id, bool as_client);
    std::vector<std::string> get_list_cmd_send_data_args_ex(int cmd_id);
    std::vector<std::string> get_list_cmd_recv_data_args_ex(int cmd_id);

    // T: signed char, unsigned char, short, unsigned short, int, unsigned int,
    // long long, unsigned long long, float, double.
    template <typename T>
    void set_cmd_data_ex(int cmd_id, int data_id, T data_value);
    template <typename T>
    void set_answ_data_ex(int cmd_id, int data_id, T data_value);
    template <typename T>
    T get_cmd_data_ex(int cmd_id, int data_id);
    template <typename T>
    T get_answ_data_ex(int cmd_id, int data_id);
    template <typename T>
    T get_cmd_data_to_send_ex(int cmd_id, int data_id);
    template <typename T>
    T get_answ_data_to_send_ex(int cmd_id, int data_id);
    void set_cmd_data_byte_array_ex(int cmd_id, int data_id, const uint8_t* array_out, int byte_dim, int byte_offset);
    void set_answ_data_byte_array_ex(int cmd_id, int data_id, const uint8_t* array_out, int byte_dim, int byte_offset);
    void get_cmd_data_byte_array_ex(int cmd_id, int data_id, uint8_t* array_in, int byte_dim, int byte_offset);
    void get_answ_data_byte_array_ex(int cmd_id, int data_id, uint8_t* array_in, int byte_dim, int byte_offset);
    void get_cmd_data_byte_array_to_send_ex(int cmd_id, int data_id, uint8_t* array_in, int byte_dim, int byte_offset);
    void get_answ_data_byte_array_to_send_ex(int cmd_id, int data_id, uint8_t* array_in, int byte_dim, int byte_offset);

private:
    // Names of the framework mutexes in messages, built once so that locking
    // in the cycle allocates nothing.
    static const std::string INFO_MUTEX;
    static const std::string CYCLIC_MUTEX;
    static const std::string INPUT_MUTEX;
    static const std::string OUTPUT_MUTEX;
    static const std::string ASYNC_MUTEX;

    template <typename T>
    void open_and_connect_memory_ex(Shared_Memory_Info* shm_info, T** shm_ptr, std::string rt_name,
                                    int memory_mult_size)
    {
        ::open_and_connect_memory_ex(shm_info, shm_ptr, rt_name, memory_mult_size);
    }

    // attach steps
    void attach_steps_ex(const std::string& application_name, int32_t h_major, int32_t h_minor);
    void memories_connect_and_check_compatibility_ex(int32_t h_major, int32_t h_minor);
    void connect_info_memory_ex();
    void check_framework_version_ex();
    void check_h_compatibility_version_ex(int32_t h_major, int32_t h_minor);
    void connect_cyclic_memory_ex();
    void connect_application_data_memory_ex();
    void connect_async_data_memory_ex();
    void connect_sem_data_group_memory();
    void build_alias_map_ex();
    void check_application_data_layout_ex() const;
    void wait_ready_to_start();
    void acquire_cyclic_sem_ex();
    void set_application_name_ex(const std::string& application_name);
    void take_first_images_ex();
    void init_logging_switches_ex();
    void give_back_cyclic_sem();
    void size_process_vectors();
    void prepare_sem_data_group(int group_id);
    void check_sem_data_group_layout_ex(int group_id) const;

    // detach helpers
    void release_segment(Shared_Memory_Info& shm_info, void* ptr, int64_t byte_size, const char* name);
    int64_t sem_data_group_data_bytes(const Shared_Sem_Data_Group_Struct& group) const;
    std::string sem_data_group_name(int group_id) const;

    // directory helpers
    static constexpr const char* SOURCE_FILE = "xelo_framework_shm_manager";
    static std::string label_of(const char (&name_id)[FRAMEWORK_NAME_ID_SIZE]);
    static bool label_equals(const char (&name_id)[FRAMEWORK_NAME_ID_SIZE], const std::string& label);
    const Shared_Application_Data_Struct& input_record(int index) const
    {
        return m_shm_application_input_data.app_data_ptr[index];
    }
    const Shared_Application_Data_Struct& output_record(int index) const
    {
        return m_shm_application_output_data.app_data_ptr[index];
    }
    Shared_Application_Data_Struct& output_record(int index)
    {
        return m_shm_application_output_data.app_data_ptr[index];
    }
    int find_input_index(const std::string& label) const;
    int find_output_index(const std::string& label) const;
    static int output_index_of(int output_id);
    // The input and output directories share their lookups, checks and texts;
    // a side names one directory's tables and the texts that differ.
    struct Directory_Side;
    Directory_Side input_side() const;
    Directory_Side output_side() const;
    static int find_index(const Directory_Side& side, const std::string& label);
    static int pointed_id_ex(const Directory_Side& side, int current_id, int iteration_number);
    static int check_param_and_get_actual_id_ex(const Directory_Side& side, const char* caller, const char* file,
                                                int line, int index, bool check_taken, int size, int offset);
    static std::string additional_info(const Directory_Side& side, const std::string& method, const std::string& file,
                                       int line, const std::string& message, int given_id, int actual_id, int size,
                                       int offset, bool offset_given = false);
    // "Sorry, offset is not correct!!" of an output byte array, the offset
    // shown after the size even when it is -1.
    std::string output_offset_refusal(const std::string& method, const std::string& file, int line, int given_id,
                                      int actual_id, int size, int offset) const;

    // refresh helpers
    Shared_Sem_Struct& my_cyclic_sem_ex(const char* operation);
    void check_not_released_ex(const char* operation) const;
    // Whether the framework run this process attached to has stopped; data
    // groups and channels outlive runs, and a process of an earlier run must
    // not take part in the next one.
    bool attached_run_stopped() const;
    void check_attached_run_ex(const char* caller) const;
    pthread_mutex_t* info_mutex() const { return m_shm_info.ptr == nullptr ? nullptr : &m_shm_info.ptr->mutex; }
    int refresh_after_slot_release(const timespec& deadline);
    void update_logging_switches();
    void exchange_images(Shared_Sem_Struct& slot, uint32_t* tick);
    void write_modified_outputs();
    void mark_output_modified(int actual_index);

    // save helpers
    bool raise_save_request_ex();
    void wait_save_cleared_ex(uint64_t& waited_ns, bool log_wait);
    uint32_t read_has_to_save_ex();

    // asynchronous helpers
    void check_async_input_input_param_ex(const char* caller, const char* file, int line, int given_async_input_id,
                                          bool check_taken, int given_async_input_size,
                                          int given_async_input_offset) const;
    void check_async_output_input_param_ex(const char* caller, const char* file, int line, int given_async_output_id,
                                           bool check_taken, int given_async_output_size,
                                           int given_async_output_offset) const;
    std::string get_async_input_additional_info(std::string caller, std::string file, int line, std::string msg,
                                                int async_input_id, int async_input_size, int async_input_offset) const;
    std::string get_async_output_additional_info(std::string caller, std::string file, int line, std::string msg,
                                                 int async_output_id, int async_output_size,
                                                 int async_output_offset) const;
    // The asynchronous inputs and outputs share their checks and texts; a
    // side (see the asynchronous file) names one kind's records and texts.
    template <typename Side>
    static void check_async_param_ex(const Side& side, const char* caller, const char* file, int line, int id,
                                     bool check_taken, int size, int offset);
    template <typename Side>
    static std::string async_additional_info(const Side& side, const std::string& caller, const std::string& file,
                                             int line, const std::string& msg, int id, int size, int offset);
    bool async_inputs_mapped() const { return m_shm_async_data.input_data_from_framework_ptr != nullptr; }
    bool async_outputs_mapped() const { return m_shm_async_data.output_data_from_framework_ptr != nullptr; }
    uint8_t ethercat_master_state() const;

    // data-group helpers
    bool sem_data_group_valid(int group_id) const;
    Shared_Sem_Data_Group_Struct& group_record(int group_id) const
    {
        return m_shm_sem_group_data.share_sem_group_struct[group_id];
    }
    const Shared_Sem_Data_Group_Data_Info& datum_record(int group_id, int data_id) const
    {
        return m_shm_sem_group_data.data_info[group_id][data_id];
    }
    Shared_Sem_Data_Group_Sem_Struct& own_group_row_ex(int group_id, const char* caller) const;
    int find_sem_data_group(const std::string& name) const;
    int my_application_id() const { return m_my_application_number + FRAMEWORK_APPLICATION_ID_OFFSET; }
    uint32_t ring_slots(int group_id) const;
    uint32_t ring_position(int group_id, uint32_t post_id) const;
    uint32_t own_absolute_tick() const;
    void take_ring_slot(int sem_id);
    void read_sem_data_group_byte_array_ex(const char* caller, int sem_group_id, int data_id, uint8_t* destination,
                                           int byte_dim, int byte_offset, bool check_reader) const;
    void check_group_reader_ex(const char* caller, int sem_group_id, int data_id) const;
    [[nodiscard]] bool wait_own_group_semaphore_ex(int sem_group_id, Shared_Sem_Data_Group_Sem_Struct& row,
                                                   double timeout_ms);
    bool take_posted_from_watchdog_flag_ex(int sem_group_id);
    void take_published_data_ex(int sem_group_id, int* app_id_to_reply);
    void publish_local_data(int sem_group_id);
    void trace_semaphore(const char* operation, int answer_id) const;

    // command-channel helpers
    void check_channel_data_input_param_ex(const char* caller, const char* file, int line, int channel_id,
                                           bool check_client, bool check_server) const;
    int open_cmd_channel_ex(const std::string& cmd_channel_name, bool as_server);
    void set_server_waiting_mark_ex(int sem_group_id, int32_t value);
    void clear_server_waiting_mark(int sem_group_id);
    void drain_own_group_semaphore_ex(int sem_group_id, const char* getvalue_error);
    int cmd_group(int cmd_id) const;
    int answ_group(int cmd_id) const;

    // ---- data members ---------------------------------------------------------
    int32_t m_my_application_number = -1;
    std::string m_my_application_name;
    int32_t m_overflow = 0;
    uint32_t m_input_app_size = 0;
    uint32_t m_output_app_size = 0;
    int32_t m_sems_size = 0;
    int32_t m_rt_app_number = 0;
    uint32_t m_input_cycle_size = 0;
    uint32_t m_output_cycle_size = 0;
    uint32_t m_async_input_size = 0;
    uint32_t m_async_output_size = 0;
    uint32_t m_master_cycle_time_ns = 0;
    uint32_t m_async_data_timeout_ns = 0;
    bool m_init_done = false;
    uint32_t m_previuos_absolute_tick = 0;
    bool m_trace_semaphore = false;
    uint32_t m_sem_data_group_number = 0;
    int32_t m_pair_sem_last_idx = 0;
    std::vector<uint8_t> m_input;
    std::vector<uint8_t> m_input_is_taken;
    std::vector<uint8_t> m_output;
    std::vector<uint8_t> m_output_is_modify;
    std::vector<uint8_t> m_output_is_taken;
    std::vector<uint8_t> m_output_has_to_save;
    std::vector<uint8_t> m_output_is_rw;
    std::vector<int32_t> m_actual_input_id;
    std::vector<int32_t> m_actual_output_id;
    std::vector<timespec> m_async_input_clock_value;
    std::vector<timespec> m_async_output_clock_value;
    std::vector<timespec> m_async_input_max_clock_value;
    std::vector<timespec> m_async_output_max_clock_value;
    std::vector<uint8_t> m_async_input_is_taken;
    std::vector<uint8_t> m_async_output_is_taken;
    std::vector<std::vector<uint8_t>> m_sem_data_group_data_vectors;
    std::vector<std::vector<uint8_t>> m_sem_data_group_ring_buffer_data;
    std::vector<uint32_t> m_sem_data_group_ring_buffer_reading_id;
    std::vector<uint32_t> m_sem_data_group_ring_buffer_writing_id;
    std::vector<bool> m_sem_data_group_ring_buffer_fisrt_post;
    std::vector<Pair_Sem_Ids> m_pair_sem_ids;
    uint32_t m_is_ethercat_master_online_id = UINT32_MAX;
    uint32_t m_last_post_tick = 0;
    int32_t m_post_sem_tick = 0;
    uint64_t m_refresh_timeout_ns = DEFAULT_REFRESH_TIMEOUT_NS;
    uint64_t m_requested_refresh_timeout_ns = DEFAULT_REFRESH_TIMEOUT_NS;
    bool m_bypass_ready_to_start = false;
    // The run attached to said ready: once its info segment (a new object
    // each run) says not ready, that run has stopped.
    bool m_attached_run_was_ready = false;
    // Monotonic time of the last exchange of the images (or of the attach).
    std::atomic<uint64_t> m_last_exchange_ns{0};
    bool info_segment_replaced() const;
    void note_exchange();
    Shared_Info_Ptr m_shm_info;
    Shared_Cyclic_Data_Ptrs m_shm_cyclic_data;
    Shared_Application_Data_Ptrs m_shm_application_input_data;
    Shared_Application_Data_Ptrs m_shm_application_output_data;
    Shared_Async_Data_Ptrs m_shm_async_data;
    Shared_Sem_Data_Group m_shm_sem_group_data;
    Posix_Queue_Message_Writer m_logging_queue_writer;
    int32_t m_refresh_logging_offset = 0;
    int32_t m_sem_data_logging_offset = 0;
    bool m_refresh_logging_enabled = false;
    // Read by threads that use groups and channels while another refreshes.
    std::atomic<bool> m_sem_data_logging_enabled{false};

    // Output indices written since the last refresh, in the order written;
    // capacity reserved at attach so that writes never allocate.
    std::vector<uint32_t> m_output_modified_list;
    // The framework watchdog freed this application's slot: the slot and the
    // shared output image are not touched any more.
    std::atomic<bool> m_cyclic_sem_released{false};
    // This application turned its watchdog on: only the framework's expiry
    // turns it off behind its back.
    bool m_watchdog_turned_on = false;
    // Names of the group mutexes in messages, built at attach: the common one
    // and the one the post names.
    std::vector<std::string> m_sem_data_group_mutex_names;
    std::vector<std::string> m_sem_data_group_post_mutex_names;
    // Per ring: the tick of the slot taken last (or, after a clear, of the
    // slot before the read position), against which an overrun is detected.
    std::vector<uint32_t> m_sem_data_group_ring_buffer_last_tick;
};
