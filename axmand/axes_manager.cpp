// Axes manager: construction, initialisation and framework binding, and the
// thread, mutex and semaphore helpers.

#include "axes_manager.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <limits>
#include <stdexcept>

#include "axmand_log.h"
#include "xelo_string_functions.h"

using XELO_String_Functions::num2str;
namespace col = axmand_colour;

namespace {
std::string error_text(int code)
{
    return std::strerror(code);
}

// The manager's lines of its locks: a failure in red, "[thread] mutex_lock_ex
// NAMEret_val = code text" ("mutex_unlock_ex" for a release).
class Manager_Lock_Log final : public Lock_Log_Sink {
public:
    void write(Log_Level level, const char* text) noexcept override
    {
        try {
            log_line(level, text);
        } catch (...) {
            // no memory for the line: nothing left to tell it with
        }
    }
    void failed(Lock_Operation operation, const char* name, const char* owner, int code) noexcept override
    {
        try {
            log_err(
                coloured(col::RED, "[" + std::string(owner != nullptr ? owner : "") + "] " +
                                       (operation == Lock_Operation::unlock ? "mutex_unlock_ex " : "mutex_lock_ex ") +
                                       name + "ret_val = " + num2str(code) + " " + error_text(code)));
        } catch (...) {
            // no memory for the line: the exception that follows tells it
        }
    }
};
Manager_Lock_Log g_manager_lock_log;
}  // namespace

Axes_Manager::Axes_Manager(uint32_t manager_number, int32_t cycle_time_us)
    : m_axes_manager_num_id(manager_number), m_cycle_time_us(cycle_time_us),
      m_prefix(AXES_MANAGER_PREFIX + num2str(manager_number))
{
    log_inf("[axes manager] init object ");
}

Axes_Manager::~Axes_Manager()
{
    m_stop.request();
    try {
        m_cyclic_thread.join_ex();  // the cyclic thread joins the command thread
    } catch (const std::exception& e) {
        log_err(coloured(col::RED, std::string("[axes manager] ") + e.what()));
    }
    if (m_sem_ready)
        sem_destroy(&m_answer_ready_sem);
    if (m_mutex_ready)
        pthread_mutex_destroy(&m_incoming_cmd_mutex);
}

bool Axes_Manager::init_ex()
{
    log_inf(coloured(col::GREEN, "[axes manager] :: init_ex  -- configure and start theads"));
    try {
        init_steps_ex();
        return true;
    } catch (const std::exception& e) {
        log_err(std::string(col::RED) + "[axes manager] init_ex  --> NOT_OPERATIONAL :: " + e.what() + col::RESET);
        return false;
    }
}

void Axes_Manager::init_steps_ex()
{
    log_inf(coloured(col::YELLOW, "[axes manager] framework init ... "));
    m_framework.init_with_h_compatibility_check_ex("", 4, 1);
    log_inf(coloured(col::YELLOW, "[axes manager] framework init ---> done "));

    if (m_cycle_time_us < 1) {
        m_cycle_time_us = static_cast<int32_t>(m_framework.get_master_cycle_time_ns_ex() / 1000u);
        log_inf(coloured(col::YELLOW, "[axes manager] cycle time set as framework's one"));
    } else {
        const double ns = static_cast<double>(m_cycle_time_us) * 1000.0;
        const double limited = std::min(ns, static_cast<double>(std::numeric_limits<uint32_t>::max()));
        m_framework.set_refresh_time_ns_ex(static_cast<uint32_t>(limited));
        log_inf(coloured(col::YELLOW, "[axes manager] set my cycle time on framework :: " + num2str(m_cycle_time_us)));
    }

    if (m_framework.has_input_ex(m_prefix + "_error_code"))
        m_error_code_id = m_framework.get_output_rw_id_ex(m_prefix + "_error_code", false);
    m_is_last_command_completed_id = m_framework.get_output_rw_id_ex(m_prefix + "_is_last_command_completed", false);
    m_is_in_error_id = m_framework.get_output_rw_id_ex(m_prefix + "_is_in_error", false);
    m_first_axis_in_error_id = m_framework.get_output_rw_id_ex(m_prefix + "_first_axis_in_error", false);

    m_incoming_cmd_group_id = m_framework.get_cmd_channel_id_as_server_ex(m_prefix);
    if (!m_framework.try_acquire_cmd_as_server_ex(m_incoming_cmd_group_id))
        throw std::runtime_error("[axes manager] init_ex --> ERROR :: command channel " + m_prefix +
                                 " is served by another process");
    m_incoming_cmd_group_cmd_value_id = m_framework.get_cmd_data_id_to_recv_ex(m_incoming_cmd_group_id, "cmd_value");
    m_incoming_cmd_group_answer_id = m_framework.get_cmd_data_id_to_send_ex(m_incoming_cmd_group_id, "resp_value");

    m_axes_manager_state_id = m_framework.get_output_rw_id_ex(m_prefix + "_status", false);
    log_inf(coloured(col::YELLOW, "[axes manager] "));

    init_pthread_mutex_ex(&m_incoming_cmd_mutex, false, true, true);
    m_mutex_ready = true;
    sem_answer_init();
    log_inf("[axes manager] cmd mutex intialized");
    log_inf(coloured(col::YELLOW, "[axes manager] loading command protocol "));

    m_command_protocol.reset = static_cast<int8_t>(cmd_string_to_code_map.at("reset"));
    m_command_protocol.start_procedure = static_cast<int8_t>(cmd_string_to_code_map.at("start_procedure"));
    m_command_protocol.detorque = static_cast<int8_t>(cmd_string_to_code_map.at("detorque"));
    m_command_protocol.quick_stop = static_cast<int8_t>(cmd_string_to_code_map.at("quick_stop"));
    m_command_protocol.get_info = static_cast<int8_t>(cmd_string_to_code_map.at("get_info"));
    m_command_protocol.send_cfg_data = static_cast<int8_t>(cmd_string_to_code_map.at("cfg_data"));

    const int count_id = m_framework.get_input_id_ex(m_prefix + "_axes_number");
    const int8_t count = m_framework.get_input_ex<signed char>(count_id, false);
    // The count is an int8: below 1 no axis can be driven (a negative one would
    // read as billions once unsigned).
    if (count < 1)
        throw std::runtime_error("[axes manager] init_ex --> ERROR :: axes number could not be zero");
    m_axes_number = static_cast<uint32_t>(count);
    log_inf("[axes manager] init_ex -- num of axes configured :: " + num2str(m_axes_number));

    for (uint32_t i = 0; i < m_axes_number; ++i) {
        m_axes.push_back(std::make_unique<Axis_Descriptor>(&m_framework, i, m_prefix,
                                                           static_cast<uint32_t>(m_incoming_cmd_group_id),
                                                           &m_command_protocol, m_cycle_time_us));
        m_axes.back()->init_ex();
    }

    Framework_Shared_Memory_Manager* f = &m_framework;
    const Cmd_Protocol_S* p = &m_command_protocol;
    m_operational = std::make_unique<State_Operational>(OPERATIONAL, "OPERATIONAL_STATE", m_states, f, m_axes, p);
    m_not_operational =
        std::make_unique<State_Not_Operational>(NOT_OPERATIONAL, "NOT_OPERATIONAL_STATE", m_states, f, m_axes, p);
    m_reset = std::make_unique<State_Reset>(States_Manager::RESET, "RESET_STATE", m_states, f, m_axes, p);
    m_running = std::make_unique<State_Running>(RUNNING, "RUNNING", m_states, f, m_axes, p);
    m_manage_possible_stop = std::make_unique<State_Manage_Possible_stop>(MANAGE_POSSIBLE_STOP, "MANAGE_POSSIBLE_STOP",
                                                                          m_states, f, m_axes, p);
    m_wait_change_mode =
        std::make_unique<State_Wait_Ax_Change_Mode>(WAIT_CHANGE_MODE, "WAIT_CHANGE_MODE", m_states, f, m_axes, p);
    m_wait_start_procedure = std::make_unique<State_Wait_Start_Procedure>(WAIT_START_PROCEDURE, "WAIT_START_PROCEDURE",
                                                                          m_states, f, m_axes, p);
    m_wait_read_info =
        std::make_unique<State_Wait_Read_Info>(WAIT_READ_INFO, "WAIT_READ_INFO_STATE", m_states, f, m_axes, p);
    m_send_cfg_data =
        std::make_unique<State_Send_Cfg_Data>(SEND_CFG_DATA, "SEND_CFG_DATA_STATE", m_states, f, m_axes, p);
    m_actual_state = m_states[NOT_OPERATIONAL];
    m_axes_manager_state = m_actual_state->get_state_id();

    arm_watchdog_ex();

    log_inf(coloured(col::YELLOW, "[axes manager] init cyclic thread"));
    m_cyclic_thread.start_ex(&Axes_Manager::cyclic_thread, this, "axmngr_cycl_th");
    log_inf(coloured(col::GREEN, "[axes manager] init cyclic thread --> done"));
}

// A dead or hung manager must not leave a drive enabled: with the watchdog on,
// the framework frees this application's slot after about 100 ms without a
// refresh and returns its outputs (the control words) to their defaults.
void Axes_Manager::arm_watchdog_ex()
{
    const int cycles = std::max(1, 100000 / std::max(1, m_cycle_time_us));
    m_framework.set_watchdog_value_ex(cycles);
    m_framework.turn_on_watchdog_ex();
    log_inf("[axes manager] framework watchdog armed :: " + num2str(cycles) + " cycles of " + num2str(m_cycle_time_us) +
            " us");
}

void Axes_Manager::set_pthread_mutex_attr_ex(pthread_mutexattr_t* attr, bool pshared, bool prio_inherit,
                                             bool error_check)
{
    auto fail = [](const std::string& logged, const std::string& thrown, int code) {
        log_err(coloured(col::RED, logged + num2str(code) + " " + error_text(code)));
        throw std::runtime_error(thrown + error_text(code));
    };
    int code = pthread_mutexattr_init(attr);
    if (code != 0)
        fail("pthread_mutexattr_init error = ", "Failed to pthread_mutexattr_init ->", code);
    if (pshared && (code = pthread_mutexattr_setpshared(attr, PTHREAD_PROCESS_SHARED)) != 0)
        fail("pthread_mutexattr_setpshared error = ", "Failed to pthread_mutexattr_setpshared ->", code);
    if (prio_inherit && (code = pthread_mutexattr_setprotocol(attr, PTHREAD_PRIO_INHERIT)) != 0)
        fail("pthread_mutexattr_setprotocol error = ", "Failed to pthread_mutexattr_setprotocol ->", code);
    if (error_check && (code = pthread_mutexattr_settype(attr, PTHREAD_MUTEX_ERRORCHECK)) != 0)
        fail("pthread_mutexattr_settype error = ", "Failed pthread_mutexattr_settype error ", code);
}

void Axes_Manager::init_pthread_mutex_ex(pthread_mutex_t* mutex, bool pshared, bool prio_inherit, bool error_check)
{
    pthread_mutexattr_t attr;
    set_pthread_mutex_attr_ex(&attr, pshared, prio_inherit, error_check);
    int code = pthread_mutex_init(mutex, &attr);
    if (code != 0) {
        log_war(coloured(col::YELLOW,
                         "pthread_mutex_init error = " + num2str(code) + " " + error_text(code) + " retry ..."));
        code = pthread_mutex_destroy(mutex);
        if (code != 0) {
            pthread_mutexattr_destroy(&attr);
            log_err("pthread_mutex_destroy error = " + num2str(code) + " " + error_text(code));
            throw std::runtime_error("Failed to pthread_mutex_destroy " + error_text(code));
        }
        code = pthread_mutex_init(mutex, &attr);
        if (code != 0) {
            pthread_mutexattr_destroy(&attr);
            log_err("pthread_mutex_init error = " + num2str(code) + " " + error_text(code));
            throw std::runtime_error("Failed to pthread_mutex_init again... " + error_text(code));
        }
    }
    pthread_mutexattr_destroy(&attr);
}

void Axes_Manager::sem_answer_init()
{
    log_inf("\t\t\t sem init... ");
    if (sem_init(&m_answer_ready_sem, 0, 0) != 0) {
        log_inf("\t\t\t Failed to m_answer_ready_sem...try to destroy and re-init ");
        if (sem_destroy(&m_answer_ready_sem) != 0)
            throw std::runtime_error("Failed to sem_destroy " + error_text(errno));
        if (sem_init(&m_answer_ready_sem, 0, 0) != 0)
            throw std::runtime_error("Failed to sem_init again... " + error_text(errno));
    }
    m_sem_ready = true;
    int value = 0;
    if (sem_getvalue(&m_answer_ready_sem, &value) != 0)
        throw std::runtime_error("Failed to sem_getvalue... " + error_text(errno));
    while (value > 0) {
        if (sem_wait(&m_answer_ready_sem) != 0)
            throw std::runtime_error("Failed to sem_wait... " + error_text(errno));
        if (sem_getvalue(&m_answer_ready_sem, &value) != 0)
            throw std::runtime_error("Failed to sem_getvalue... " + error_text(errno));
    }
}

void Axes_Manager::mutex_lock_ex(pthread_mutex_t* mutex, const std::string& mutex_name, const std::string& pthread_name)
{
    Robust_Mutex(mutex, mutex_name, pthread_name.c_str(), &g_manager_lock_log).lock();
}

void Axes_Manager::mutex_unlock_ex(pthread_mutex_t* mutex, const std::string& mutex_name,
                                   const std::string& pthread_name)
{
    Robust_Mutex(mutex, mutex_name, pthread_name.c_str(), &g_manager_lock_log).unlock_ex();
}

Robust_Mutex Axes_Manager::incoming_cmd_mutex(const std::string& thread)
{
    return Robust_Mutex(&m_incoming_cmd_mutex, "m_incoming_cmd_mutex", thread.c_str(), &g_manager_lock_log);
}
