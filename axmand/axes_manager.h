#pragma once

#include <pthread.h>
#include <semaphore.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "axis_descriptor.h"
#include "framework_thread.h"
#include "state_manager.h"
#include "stop_flag.h"
#include "xelo_framework_shm_manager.h"

// The axes manager: a framework client that binds its outputs and its command
// channel "axmngr_<n>", builds one Axis_Descriptor per axis and runs two
// threads: the cyclic thread ("axmngr_cycl_th", FIFO 49), paced by the
// framework refresh, runs the manager and axis state machines and decides the
// answers; the command thread ("axmngr_cmd_th", FIFO 30) receives one command
// at a time, hands it over and sends the answer back.
class Axes_Manager {
public:
    struct Incoming_Axmngr_Cmd {
        int32_t command_value = 0;
    };

    Axes_Manager(uint32_t manager_number, int32_t cycle_time_us);
    ~Axes_Manager();  // stops and joins the threads
    Axes_Manager(const Axes_Manager&) = delete;
    Axes_Manager& operator=(const Axes_Manager&) = delete;

    // Attaches, binds and starts the cyclic thread; a failure is logged
    // (ERR "[axes manager] init_ex  --> NOT_OPERATIONAL :: ...") and leaves the
    // manager without threads. Returns whether the threads run.
    bool init_ex();

    // Helpers with the failure texts of the manager.
    void init_pthread_mutex_ex(pthread_mutex_t* mutex, bool pshared, bool prio_inherit, bool error_check);
    void set_pthread_mutex_attr_ex(pthread_mutexattr_t* attr, bool pshared, bool prio_inherit, bool error_check);
    void sem_answer_init();
    void mutex_lock_ex(pthread_mutex_t* mutex, const std::string& mutex_name, const std::string& pthread_name);
    void mutex_unlock_ex(pthread_mutex_t* mutex, const std::string& mutex_name, const std::string& pthread_name);
    // The command hand-off mutex as thread (kept, not copied) takes it, with
    // the texts of mutex_lock_ex and mutex_unlock_ex.
    Robust_Mutex incoming_cmd_mutex(const std::string& thread);

    // One cycle and one command (the thread bodies loop over them).
    void cyclic_thread_fun();
    // One command; false once the framework run has ended (the thread ends).
    bool cmd_thread_fun();

private:
    static void* cyclic_thread(void* manager);
    static void* cmd_thread(void* manager);

    void init_steps_ex();
    void arm_watchdog_ex();
    void update_framework_data_ex();
    // Ends the process with status 1 when the framework run has ended.
    void exit_if_run_ended();
    void pick_up_next_command();
    void manage_possible_stop();
    void send_axes_quick_stop_request(int8_t code);
    void send_axes_detorque_request(int8_t code);
    void machines_state_update();
    void verify_motion_end();
    void verify_last_command_completed();
    void verify_fault_presence();
    void send_axes_in_fault_state();
    void prepare_command_answer();
    void print_info();
    bool resting_not_operational() const;
    bool at_rest() const;

    bool get_new_cmd_ex(Incoming_Axmngr_Cmd& command);
    void set_cmd_to_be_managed_ex(const Incoming_Axmngr_Cmd& command);
    bool wait_cmd_response_ex(int8_t& answer);
    void send_cmd_response_ex(int8_t answer);

    Axes_List m_axes;
    uint32_t m_absolute_tick = 0;
    uint32_t m_axes_manager_num_id;
    int8_t m_axes_manager_state = 0;
    int32_t m_axes_manager_state_id = -1;
    uint32_t m_axes_number = 0;
    int32_t m_first_axis_in_error_id = -1;
    int8_t m_first_axis_in_error = 0;
    int32_t m_is_in_error_id = -1;
    bool m_is_in_error = false;
    int32_t m_is_last_command_completed_id = -1;
    std::atomic<bool> m_is_last_command_completed{false};
    int32_t m_incoming_cmd_group_answer_id = -1;
    int32_t m_incoming_cmd_group_cmd_value_id = -1;
    int32_t m_incoming_cmd_group_id = -1;
    Cmd_Protocol_S m_command_protocol;
    int32_t m_cycle_time_us;
    int32_t m_error_code_id = -1;
    int8_t m_error_code = AXESMNGR_NO_ERROR;
    int8_t m_cmd_request_from_cmd_thread = 0;
    int8_t m_cmd_answer_to_cmd_thread = 0;
    int8_t m_cmd_in_progress = 0;
    // A motion command taken to run and not yet ended; the axis at which the
    // last one ended short of its target (-1: none), until the next command.
    bool m_motion_in_progress = false;
    int8_t m_motion_ended_short_axis = -1;
    int32_t m_print_state_tick_progress = 0;
    bool m_print_axis_desc_state = false;
    int32_t m_tick = 0;
    std::string m_prefix;
    Framework_Shared_Memory_Manager m_framework;
    States_Table m_states{};
    State_Manager* m_actual_state = nullptr;
    std::unique_ptr<State_Manager> m_operational, m_not_operational, m_reset, m_running, m_wait_change_mode,
        m_manage_possible_stop, m_wait_start_procedure, m_wait_read_info, m_send_cfg_data;
    pthread_mutex_t m_incoming_cmd_mutex{};
    bool m_mutex_ready = false;
    sem_t m_answer_ready_sem{};
    bool m_sem_ready = false;
    Stop_Flag m_stop;
    // The cyclic thread starts the command thread and joins it before it ends.
    Framework_Thread m_cyclic_thread{m_stop};
    Framework_Thread m_cmd_thread{m_stop};
};
