#pragma once

// The socket bridge of rtframe: joins the local framework as one more client
// application, connects to the peer board and mirrors the bridged cyclic
// variables once per bridge period. One manager thread refreshes the images
// and reports "is_bridge_running"; one channel thread per launch-order entry
// owns its socket and runs the channel's init (connect, handshake) and run
// (exchange) functions. stop() ends and joins every thread and closes every
// socket; the destructor calls it.

#include <pthread.h>
#include <semaphore.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "bridge_framework_interface.h"
#include "framework_fatal.h"
#include "framework_thread.h"
#include "stop_flag.h"
#include "xelo_framework_shm_manager.h"
#include "xelo_socket.h"

// A fault of the bridge descriptor: rtframe ends with a failure status and
// does not restart.
class Bridge_Descriptor_Fault : public Framework_Fatal {
public:
    using Framework_Fatal::Framework_Fatal;
};

class Framework_Socket_Bridge {
public:
    enum Descriptor_Type { Sem_Input = 0, Sem_Output = 1, Command_Input = 2, Command_Output = 3, Cyclic = 4 };

    using Channel_Function = std::function<void(void*, int)>;

    struct Thread_Args {
        Framework_Socket_Bridge* fsb = nullptr;
        int instance_id = -1;
        int thread_id = -1;
        int thread_priority = 20;
        int socket_type = 1;  // 0 server, 1 client
        int wait_time_before_starting_ms = -1;
        Channel_Function init_function_pointer;
        Channel_Function running_function_pointer;
        std::string thread_name = "UNASSIGNED";
    };

    struct Thread_Descriptor {
        explicit Thread_Descriptor(Descriptor_Type type) : descriptor_type(type) {}
        Descriptor_Type descriptor_type;
        pthread_t pthread{};
        Thread_Args thread_args;
    };

    // The bridge reports running after running_delay_ms of manager cycles
    // with every channel thread running.
    static constexpr uint32_t DEFAULT_RUNNING_DELAY_MS = 5000;
    Framework_Socket_Bridge(std::string _bridge_description_filepath, bool _is_master,
                            uint32_t running_delay_ms = DEFAULT_RUNNING_DELAY_MS);
    ~Framework_Socket_Bridge();
    Framework_Socket_Bridge(const Framework_Socket_Bridge&) = delete;
    Framework_Socket_Bridge& operator=(const Framework_Socket_Bridge&) = delete;

    // Attaches, loads the descriptor and starts the threads. A descriptor
    // fault throws Bridge_Descriptor_Fault.
    void init_ex();
    // Ends and joins every thread of the bridge; sockets close with them.
    void stop();
    bool get_bridge_running_framework_value() const
    {
        return m_bridge_running_framework_value.load(std::memory_order_acquire) != 0;
    }
    // A fault that ends rtframe, found on a bridge thread: a reload of the
    // descriptor that fails, a thread that cannot go on.
    bool has_fatal_error() const { return m_fatal_error.load(std::memory_order_acquire); }
    std::string fatal_error_text() const;

    // ---- running bits -------------------------------------------------------------
    bool is_bridge_running();
    bool all_threads_stopped();
    void set_thread_running(int thread_id);
    void set_thread_stopped(int thread_id);
    bool get_thread_running(int thread_id);
    void throw_if_thread_manager_is_not_running(const std::string& error_message);
    void set_bridge_running_framweork_output(bool actual_value);

    // ---- descriptor ------------------------------------------------------------------
    void load_bridge_descriptor(bool create_threads_structures);
    void load_bridge_descriptor_and_init_bridge_framework_interface_ex(bool create_threads_structures);

    // ---- threads ------------------------------------------------------------------------
    void start_threads();
    void thread_main_cycle(Thread_Args* args);
    void manager_thread();
    static void* thread_function(void* args);
    static void* thread_bridge_manager(void* bridge);

    // ---- handshake ----------------------------------------------------------------------
    uint32_t send_receive_check_len_to_server(Socket_Client_Tcp* socket, uint32_t own_len);
    uint32_t receive_send_check_len_to_server(Socket_Server_Tcp* socket, uint32_t own_len);
    void send_receive_check_message_to_server(Socket_Client_Tcp* socket, std::vector<std::string> names,
                                              std::vector<Type_Definition> types, uint8_t* answers);
    void receive_send_check_message_to_client(Socket_Server_Tcp* socket, std::vector<std::string> names,
                                              std::vector<Type_Definition> types, uint8_t* answers);

    // ---- cyclic channel -----------------------------------------------------------------
    void cyclic_server_socket_init_ex(void* socket, int instance_id);
    void cyclic_client_socket_init_ex(void* socket, int instance_id);
    void cyclic_server_socket_run_ex(void* socket, int instance_id);
    void cyclic_client_socket_run_ex(void* socket, int instance_id);

    // ---- data-group channels: the output side sends one delivery per post of
    // the local group, the input side writes and posts it on its board --------
    void output_sem_data_group_client_socket_init_ex(void* socket, int instance_id);
    void output_sem_data_group_client_socket_run_ex(void* socket, int instance_id);
    void input_sem_data_group_server_socket_init_ex(void* socket, int instance_id);
    void input_sem_data_group_server_socket_run_ex(void* socket, int instance_id);

    // ---- command channels: the output side serves local clients and
    // forwards their commands, the input side hands them to the local server -----
    void input_cmd_server_socket_init_ex(void* socket, int instance_id);
    void output_cmd_client_socket_init_ex(void* socket, int instance_id);
    void input_cmd_server_socket_run_ex(void* socket, int instance_id);
    void output_cmd_client_socket_run_ex(void* socket, int instance_id);

    // ---- read-only views for tests and the log ------------------------------------------
    uint32_t get_refresh_time_ms() const { return m_refresh_time_ms; }
    const std::string& get_master_socket_address() const { return m_master_socket_address; }
    const std::string& get_slave_socket_address() const { return m_slave_socket_address; }
    const std::vector<Thread_Descriptor>& get_launch_order() const { return m_launch_order; }
    int get_bridge_running_counter_threshold() const { return m_bridge_running_counter_threshold; }
    std::size_t get_running_bit_number();
    Bridge_Framework_Interface& interface() { return m_bridge_framework_interface; }

private:
    // Thrown out of any wait once stop() was asked; ends the thread quietly.
    struct Stopping {};

    void check_stop() const;
    // This board's address (printed by servers) and the peer's (clients connect to it).
    const std::string& own_address() const { return m_is_master ? m_master_socket_address : m_slave_socket_address; }
    const std::string& peer_address() const { return m_is_master ? m_slave_socket_address : m_master_socket_address; }
    // Relative pause on the monotonic clock that stop() cuts short.
    void pause_ms(long milliseconds) const;
    // Waits for a post of semaphore, checking for a stop in between.
    void wait_gate(sem_t* semaphore) const;
    void attach_ex(const std::string& application_name);
    void check_running_index_ex(int thread_id, const char* operation) const;
    void read_descriptor_ex(bool create_threads_structures);
    // The descriptor's sections registered by this board's direction: names
    // holds one list per section, in the descriptor's section order.
    void register_cyclic_vars(const std::vector<std::string>* names);
    void register_groups_and_commands(const std::vector<std::string>* names, bool first_load);
    void apply_entries_ex(const std::vector<std::string>& entries, bool first_load);
    void report_fatal_error(const std::string& text);

    Framework_Shared_Memory_Manager m_frmk_shm;
    Bridge_Framework_Interface m_bridge_framework_interface;
    std::string m_bridge_descriptor_filepath;
    std::string m_master_socket_address;
    std::string m_slave_socket_address;
    bool m_is_master;
    uint32_t m_running_delay_ms;
    sem_t m_sem_cyclics_socket_update;
    bool m_sem_cyclics_socket_update_ready = false;
    std::unique_ptr<sem_t[]> m_sem_thread_start;
    std::size_t m_sem_thread_start_number = 0;
    uint32_t m_refresh_time_ms = 0;
    std::vector<Thread_Descriptor> m_launch_order;
    int m_manager_thread_running_id = 0;
    int m_is_bridge_running_id = 0;
    int m_bridge_running_counter = 0;
    int m_bridge_running_counter_threshold = 0;
    std::atomic<uint8_t> m_bridge_running_framework_value{0};
    std::vector<bool> m_is_thread_running;
    pthread_mutex_t m_running_mutex;
    bool m_running_mutex_ready = false;

    // Entries of the first load (kind and name, in file order): a reload
    // must find the same.
    std::vector<std::string> m_loaded_entries;
    std::atomic<bool> m_fatal_error{false};
    mutable std::mutex m_fault_text_mutex;
    std::string m_fatal_error_text;

    // Declared last: destroyed first, each raising m_stop and joining.
    Stop_Flag m_stop;
    std::unique_ptr<Framework_Thread> m_manager_thread;
    std::vector<std::unique_ptr<Framework_Thread>> m_channel_threads;
};
