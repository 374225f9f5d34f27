#pragma once

// Client side of the framework segments published by rtframe: attach with
// version checks and an application slot, the cyclic variable directory, the
// cyclic refresh with typed access, output ownership, the application
// watchdog and the save request.
//
// One manager per process, used by one thread. Every operation whose name
// ends in _ex may throw std::runtime_error.

#include <pthread.h>
#include <semaphore.h>

#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

#include "framework_shared_memory.h"
#include "framework_shm_holders.h"
#include "framework_shm_segment.h"
#include "framework_types.h"
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
    int check_output_input_param_and_get_actual_id_ex(const char* caller, const char* file, int line,
                                                      int output_index, bool check_taken, int size,
                                                      int offset) const;
    std::string get_input_additional_info(std::string method, std::string file, int line, std::string message,
                                          int given_id, int actual_id, int size, int offset) const;
    std::string get_output_additional_info(std::string method, std::string file, int line, std::string message,
                                           int given_id, int actual_id, int size, int offset) const;

    // ---- cyclic refresh and typed access -----------------------------------
    // The overflow count (>= 0), -1 once after the framework watchdog has
    // released this application, -2 when the wait timed out.
    int refresh_data_ex(uint32_t* tick);
    int refresh_data_and_get_ec_master_state_ex(uint8_t* is_ethercat_master_online, uint32_t* tick);

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
    int try_acquire_output_group_ex(int group_id);
    void release_output_group_control_ex(int group_id);

    // ---- watchdog, refresh period, save request ----------------------------
    uint32_t get_master_cycle_time_ns_ex() const;
    void set_refresh_time_ns_ex(uint32_t refresh_time_ns);
    void set_watchdog_value_ex(int num_cycle);
    void turn_on_watchdog_ex();
    void turn_off_watchdog_ex();
    void save_cfg_file_ex();

private:
    // Locks through mutex_lock_ex; unlock() reports an unlock failure, the
    // destructor only releases a lock still held when leaving by an exception.
    // The name is one of the mutex names below (kept, not copied).
    class Scoped_Lock {
    public:
        Scoped_Lock(const Framework_Shared_Memory_Manager& manager, pthread_mutex_t* mutex, const std::string& name)
            : m_manager(manager), m_mutex(mutex), m_name(name)
        {
            m_manager.mutex_lock_ex(m_mutex, m_name);
            m_locked = true;
        }
        Scoped_Lock(const Framework_Shared_Memory_Manager&, pthread_mutex_t*, std::string&&) = delete;
        ~Scoped_Lock();
        void unlock()
        {
            m_locked = false;
            m_manager.mutex_unlock_ex(m_mutex, m_name);
        }
        Scoped_Lock(const Scoped_Lock&) = delete;
        Scoped_Lock& operator=(const Scoped_Lock&) = delete;

    private:
        const Framework_Shared_Memory_Manager& m_manager;
        pthread_mutex_t* m_mutex;
        const std::string& m_name;
        bool m_locked = false;
    };

    // Names of the framework mutexes in messages, built once so that locking
    // in the cycle allocates nothing.
    static const std::string INFO_MUTEX;
    static const std::string CYCLIC_MUTEX;
    static const std::string INPUT_MUTEX;
    static const std::string OUTPUT_MUTEX;

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

    // refresh helpers
    Shared_Sem_Struct& my_cyclic_sem_ex(const char* operation);
    void check_not_released_ex(const char* operation) const;
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
    std::vector<uint8_t> m_sem_data_group_ring_buffer_reading_id;
    std::vector<uint8_t> m_sem_data_group_ring_buffer_writing_id;
    std::vector<bool> m_sem_data_group_ring_buffer_fisrt_post;
    std::vector<Pair_Sem_Ids> m_pair_sem_ids;
    uint32_t m_is_ethercat_master_online_id = UINT32_MAX;
    uint32_t m_last_post_tick = 0;
    int32_t m_post_sem_tick = 0;
    uint64_t m_refresh_timeout_ns = DEFAULT_REFRESH_TIMEOUT_NS;
    uint64_t m_requested_refresh_timeout_ns = DEFAULT_REFRESH_TIMEOUT_NS;
    bool m_bypass_ready_to_start = false;
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
    bool m_sem_data_logging_enabled = false;

    // Output indices written since the last refresh, in the order written;
    // capacity reserved at attach so that writes never allocate.
    std::vector<uint32_t> m_output_modified_list;
    // The framework watchdog freed this application's slot: the slot and the
    // shared output image are not touched any more.
    bool m_cyclic_sem_released = false;
    // This application turned its watchdog on: only the framework's expiry
    // turns it off behind its back.
    bool m_watchdog_turned_on = false;
};
