// Axes manager: the cyclic thread and the command thread.

#include <sched.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <stdexcept>

#include "axes_manager.h"
#include "axmand_log.h"
#include "xelo_string_functions.h"

using XELO_String_Functions::num2str;
namespace col = axmand_colour;

namespace {
const std::string CMD_THREAD = "axmngr_cmd_th";
const std::string CYCLIC_THREAD = "axmngr_cycl_th";
constexpr double CMD_WAIT_SLICE_MS = 100.0;     // the command thread looks at its stop flag this often
constexpr long CMD_RETRY_PAUSE_NS = 100000000;  // after a failed command, before the next wait

std::string command_name(int code)
{
    const auto found = cmd_code_to_string_map.find(code);
    return found == cmd_code_to_string_map.end() ? num2str(code) : found->second;
}
}  // namespace

void* Axes_Manager::cyclic_thread(void* argument)
{
    Axes_Manager& manager = *static_cast<Axes_Manager*>(argument);
    log_inf("cyclic_thread");
    if (set_fifo_priority(49) != 0) {
        log_inf("Error on pthread_setschedparam");
        return nullptr;
    }
    log_inf("cyclic_thread sched params");
    try {
        manager.m_cmd_thread.start_ex(&Axes_Manager::cmd_thread, &manager, CMD_THREAD.c_str());
    } catch (const std::exception& e) {
        log_err(coloured(col::RED, e.what()));
    }
    {
        const Realtime_Log_Thread realtime_lines;  // the cycle never waits on standard output
        while (!manager.m_stop.is_set()) {
            manager.cyclic_thread_fun();
            wake_log_drain();  // the cycle's lines are written while it waits for its next tick
        }
    }
    try {
        manager.m_cmd_thread.join_ex();
    } catch (const std::exception& e) {
        log_err(coloured(col::RED, e.what()));
    }
    return nullptr;
}

void* Axes_Manager::cmd_thread(void* argument)
{
    Axes_Manager& manager = *static_cast<Axes_Manager*>(argument);
    log_inf("cmd_thread");
    if (set_fifo_priority(30) != 0) {
        log_inf("Error on pthread_setschedparam");
        return nullptr;
    }
    while (!manager.m_stop.is_set())
        if (!manager.cmd_thread_fun())
            break;
    return nullptr;
}

// ---- cyclic thread ------------------------------------------------------------------------

void Axes_Manager::cyclic_thread_fun()
{
    update_framework_data_ex();
    try {
        pick_up_next_command();
        manage_possible_stop();
        machines_state_update();
        verify_motion_end();
        verify_last_command_completed();
        verify_fault_presence();
        prepare_command_answer();
        print_info();
    } catch (const std::exception& e) {
        // No exception ends the cycle: the next one starts from the state reached.
        log_err(coloured(col::RED, std::string("[axes manager][cyclic thread] ") + e.what()));
    }
}

void Axes_Manager::update_framework_data_ex()
{
    try {
        m_tick = m_framework.refresh_data_ex(&m_absolute_tick);
        if (m_tick == -1) {
            // The framework watchdog freed this application: its outputs are back at their
            // defaults and may belong to a successor by now.
            log_err(
                coloured(col::RED, "[axes manager] framework released this application (watchdog expired) :: exit"));
            flush_log_lines();
            _exit(1);
        }
        if (m_tick == -2)
            exit_if_run_ended();
        if (m_tick != 0)
            log_war(coloured(col::YELLOW, "[axes manager] framework tick lost :: " + num2str(m_tick)));
        if (m_error_code_id != -1)
            m_framework.set_output_ex<signed char>(m_error_code_id, m_error_code);
        m_framework.set_output_ex<bool>(m_is_last_command_completed_id, m_is_last_command_completed.load());
        m_framework.set_output_ex<bool>(m_is_in_error_id, m_is_in_error);
        m_framework.set_output_ex<signed char>(m_first_axis_in_error_id, m_first_axis_in_error);
        m_framework.set_output_ex<signed char>(m_axes_manager_state_id, m_axes_manager_state);
        for (auto& axis : m_axes)
            axis->update_ex();
    } catch (const std::exception& e) {
        log_err(coloured(col::RED, e.what()));
        exit_if_run_ended();
        // A refresh that fails at once must not turn the cycle into a busy loop.
        const timespec pause{m_cycle_time_us / 1000000, (m_cycle_time_us % 1000000) * 1000L};
        clock_nanosleep(CLOCK_MONOTONIC, 0, &pause, nullptr);
    }
}

// A manager of an ended run cannot take part in the next one: it ends, and
// whoever supervises the cell starts it again on the new run.
void Axes_Manager::exit_if_run_ended()
{
    if (!m_framework.attached_run_ended())
        return;
    log_err(coloured(col::RED, "[axes manager] the framework run this manager attached to has ended :: exit"));
    flush_log_lines();
    _exit(1);
}

void Axes_Manager::pick_up_next_command()
{
    Robust_Mutex cmd_mutex = incoming_cmd_mutex(CYCLIC_THREAD);
    std::lock_guard<Robust_Mutex> lock(cmd_mutex);
    if (m_cmd_request_from_cmd_thread == 0)
        return;
    log_inf("[axes manager][cyclic thread] pick_up_next_command()  m_cmd_request_from_cmd_thread = " +
            command_name(m_cmd_request_from_cmd_thread) + " | m_axes_manager_state = " + m_actual_state->name());
    m_cmd_in_progress = m_cmd_request_from_cmd_thread;
    m_actual_state->set_new_cmd(m_cmd_request_from_cmd_thread);
    m_cmd_request_from_cmd_thread = 0;
    m_motion_ended_short_axis = -1;
    const Cmd_Protocol_S& p = m_command_protocol;
    // A procedure that will run hides the completion of the last one until it ends itself.
    const int8_t state = m_actual_state->get_state_id();
    if (m_cmd_in_progress == p.start_procedure && (state == OPERATIONAL || state == RUNNING)) {
        for (auto& axis : m_axes)
            axis->clear_last_command_completed();
        m_is_last_command_completed = false;
        m_motion_in_progress = true;
    } else if (m_cmd_in_progress == p.reset || m_cmd_in_progress == p.quick_stop || m_cmd_in_progress == p.detorque) {
        m_motion_in_progress = false;  // ended on purpose
    }
}

bool Axes_Manager::at_rest() const
{
    const int8_t id = m_actual_state->get_state_id();
    return id == OPERATIONAL || id == NOT_OPERATIONAL;
}

bool Axes_Manager::resting_not_operational() const
{
    const int8_t id = m_actual_state->get_state_id();
    return id == NOT_OPERATIONAL || id == MANAGE_POSSIBLE_STOP;
}

void Axes_Manager::manage_possible_stop()
{
    if (resting_not_operational())
        return;
    if (m_cmd_in_progress == m_command_protocol.quick_stop)
        send_axes_quick_stop_request(m_cmd_in_progress);
    else if (m_cmd_in_progress == m_command_protocol.detorque)
        send_axes_detorque_request(m_cmd_in_progress);
}

void Axes_Manager::send_axes_quick_stop_request(int8_t code)
{
    log_inf(std::string(col::BOLD_RED) + "[axes manager][cyclic thread] Quick stop request" + col::RESET);
    m_actual_state = m_states[MANAGE_POSSIBLE_STOP];
    m_actual_state->set_new_cmd(code);
    for (auto& axis : m_axes)
        axis->quick_stop_request();
}

void Axes_Manager::send_axes_detorque_request(int8_t code)
{
    log_inf(std::string(col::BOLD_RED) + "[axes manager][cyclic thread] Detorque request" + col::RESET);
    m_actual_state = m_states[MANAGE_POSSIBLE_STOP];
    m_actual_state->set_new_cmd(code);
    for (auto& axis : m_axes)
        axis->detorque_request();
}

void Axes_Manager::machines_state_update()
{
    State_Manager* next = m_actual_state->base_state_execute();
    if (next != nullptr)
        m_actual_state = next;
    m_axes_manager_state = m_actual_state->get_state_id();
    for (auto& axis : m_axes)
        axis->main_state_machine(m_print_axis_desc_state);
}

// A motion that the manager comes to rest from without every axis at the end
// of its procedure (the drive stopped by itself, the mode change was given
// up) ended short: it ends complete with the error flag up, the axis named.
void Axes_Manager::verify_motion_end()
{
    if (!m_motion_in_progress || !at_rest())
        return;
    m_motion_in_progress = false;
    for (size_t i = 0; i < m_axes.size(); ++i) {
        if (m_axes[i]->is_last_command_completed())
            continue;
        log_inf(std::string(col::BOLD_RED) +
                "[axes manager][cyclic thread] motion ended short - axis :: " + num2str(i) + col::RESET);
        m_motion_ended_short_axis = static_cast<int8_t>(i);
        return;
    }
}

// Complete only with the manager at rest: every axis at the end of its
// procedure, or the motion ended short.
void Axes_Manager::verify_last_command_completed()
{
    if (m_motion_ended_short_axis != -1) {
        m_is_last_command_completed = true;
        return;
    }
    bool completed = at_rest();
    for (const auto& axis : m_axes) {
        if (!completed)
            break;
        completed = axis->is_last_command_completed();
    }
    m_is_last_command_completed = completed;
}

void Axes_Manager::verify_fault_presence()
{
    if (resting_not_operational())
        return;
    for (size_t i = 0; i < m_axes.size(); ++i) {
        if (m_axes[i]->get_state() != STATE_FAULT)
            continue;
        m_is_last_command_completed = true;
        m_is_in_error = true;
        log_inf(std::string(col::BOLD_RED) + "[axes manager][cyclic thread] fault found - axis :: " + num2str(i) +
                col::RESET);
        send_axes_in_fault_state();
        m_first_axis_in_error = static_cast<int8_t>(i);
        m_actual_state = m_states[NOT_OPERATIONAL];
        m_axes_manager_state = NOT_OPERATIONAL;
        if (m_motion_in_progress) {
            m_motion_in_progress = false;
            m_motion_ended_short_axis = static_cast<int8_t>(i);
        }
        return;
    }
    m_is_in_error = m_motion_ended_short_axis != -1;
    if (m_is_in_error)
        m_first_axis_in_error = m_motion_ended_short_axis;
}

void Axes_Manager::send_axes_in_fault_state()
{
    log_inf(std::string(col::BOLD_RED) + "[axes manager][cyclic thread] send_axes_in_fault_state" + col::RESET);
    for (auto& axis : m_axes)
        axis->go_to_fault_request();
}

void Axes_Manager::prepare_command_answer()
{
    if (m_cmd_in_progress == 0)
        return;
    const int8_t state = m_actual_state->get_state_id();
    if (state != OPERATIONAL && state != RUNNING && state != NOT_OPERATIONAL && state != MANAGE_POSSIBLE_STOP)
        return;
    log_inf("[axes manager][cyclic thread] prepare_command_answer()  m_cmd_in_progress = " +
            num2str(static_cast<int>(m_cmd_in_progress)) +
            " m_axes_manager_state = " + num2str(static_cast<int>(state)));
    int8_t answer = ANSWER_DONE;
    {
        Robust_Mutex cmd_mutex = incoming_cmd_mutex(CMD_THREAD);
        std::lock_guard<Robust_Mutex> lock(cmd_mutex);
        const int8_t code = m_cmd_in_progress;
        const Cmd_Protocol_S& p = m_command_protocol;
        if (state == NOT_OPERATIONAL && !(code == p.send_cfg_data || code == p.get_info || code == p.detorque)) {
            answer = ANSWER_REFUSED;
            m_is_in_error = true;
        } else if (state == MANAGE_POSSIBLE_STOP &&
                   !(code == p.send_cfg_data || code == p.get_info || code == p.detorque || code == p.quick_stop)) {
            answer = ANSWER_REFUSED;
            m_is_in_error = true;
        }
        m_cmd_answer_to_cmd_thread = answer;
    }
    m_cmd_in_progress = 0;
    if (sem_post(&m_answer_ready_sem) != 0)
        throw std::runtime_error(std::string("[axes manager][prepare_command_answer] sem_post ") +
                                 std::strerror(errno));
    log_inf("[axes manager][cyclic thread] prepare_command_answer()  post ok, answer is " +
            num2str(static_cast<int>(answer)));
}

void Axes_Manager::print_info()
{
    if (m_print_axis_desc_state)
        m_print_axis_desc_state = false;
    if (m_print_state_tick_progress <= 500) {
        ++m_print_state_tick_progress;
        return;
    }
    m_print_axis_desc_state = true;
    log_inf("[axes manager] actual state :: " + m_actual_state->name());
    m_print_state_tick_progress = 0;
}

// ---- command thread -----------------------------------------------------------------------

bool Axes_Manager::cmd_thread_fun()
{
    log_inf(std::string(col::BOLD_WHITE) + "[axes manager] cmd thread --> waiting new command ..." + col::RESET);
    try {
        Incoming_Axmngr_Cmd command;
        if (!get_new_cmd_ex(command))
            return true;  // stopping
        if (cmd_code_to_string_map.count(command.command_value) == 0) {
            // Not handed on: the cyclic thread only gets codes of the table.
            log_err(coloured(col::RED, "[axes manager][cmd thread] unknown command code :: " +
                                           num2str(command.command_value) + " --> answer -1"));
            send_cmd_response_ex(ANSWER_REFUSED);
            return true;
        }
        set_cmd_to_be_managed_ex(command);
        int8_t answer = 0;
        if (!wait_cmd_response_ex(answer))
            return true;  // stopping
        send_cmd_response_ex(answer);
    } catch (const std::exception& e) {
        log_err(coloured(col::RED, e.what()));
        if (m_framework.attached_run_ended()) {
            log_err(coloured(col::RED, "[axes manager] cmd thread :: the framework run has ended, no more commands"));
            return false;
        }
        // A wait that fails at once must not spin at real-time priority.
        const timespec pause{0, CMD_RETRY_PAUSE_NS};
        clock_nanosleep(CLOCK_MONOTONIC, 0, &pause, nullptr);
    }
    return true;
}

bool Axes_Manager::get_new_cmd_ex(Incoming_Axmngr_Cmd& command)
{
    while (!m_framework.wait_cmd_ex(m_incoming_cmd_group_id, CMD_WAIT_SLICE_MS))
        if (m_stop.is_set())
            return false;
    command.command_value =
        m_framework.get_cmd_data_ex<signed char>(m_incoming_cmd_group_id, m_incoming_cmd_group_cmd_value_id);
    log_inf(std::string(col::MAGENTA) + "[axes manager][cmd thread] new command receive :: " + col::RESET +
            command_name(command.command_value));
    m_is_last_command_completed = false;
    return true;
}

void Axes_Manager::set_cmd_to_be_managed_ex(const Incoming_Axmngr_Cmd& command)
{
    Robust_Mutex cmd_mutex = incoming_cmd_mutex(CMD_THREAD);
    std::lock_guard<Robust_Mutex> lock(cmd_mutex);
    m_cmd_request_from_cmd_thread = static_cast<int8_t>(command.command_value);
}

bool Axes_Manager::wait_cmd_response_ex(int8_t& answer)
{
    log_inf(std::string(col::MAGENTA) + "[axes manager][cmd thread] wait_cmd_response_ex ... wait to read answer " +
            col::RESET);
    for (;;) {
        timespec deadline{};
        clock_gettime(CLOCK_REALTIME, &deadline);
        deadline.tv_nsec += static_cast<long>(CMD_WAIT_SLICE_MS * 1000000.0);
        if (deadline.tv_nsec >= 1000000000L) {
            deadline.tv_nsec -= 1000000000L;
            ++deadline.tv_sec;
        }
        if (sem_timedwait(&m_answer_ready_sem, &deadline) == 0)
            break;
        if (errno != ETIMEDOUT && errno != EINTR)
            throw std::runtime_error(std::string("[axes manager][wait_cmd_response_ex] sem_timedwait ") +
                                     std::strerror(errno));
        if (m_stop.is_set())
            return false;
    }
    log_inf(std::string(col::MAGENTA) + "[axes manager][cmd thread] wait_cmd_response_ex ... read answer " +
            col::RESET);
    Robust_Mutex cmd_mutex = incoming_cmd_mutex(CMD_THREAD);
    std::lock_guard<Robust_Mutex> lock(cmd_mutex);
    answer = m_cmd_answer_to_cmd_thread;
    return true;
}

void Axes_Manager::send_cmd_response_ex(int8_t answer)
{
    m_framework.set_answ_data_ex<signed char>(m_incoming_cmd_group_id, m_incoming_cmd_group_answer_id, answer);
    m_framework.send_answer_ex(m_incoming_cmd_group_id);
}
