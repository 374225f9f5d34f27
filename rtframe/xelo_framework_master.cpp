// The master-manager thread: hooks to busmaster, brings the bus to OP with
// the descriptor's cycle time and watchdog, and brings it back after the
// real-time thread reports a lost tick; the master's last error and its
// display texts.
#include <semaphore.h>
#include <time.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <mutex>
#include <stdexcept>
#include <string>

#include "framework_stopped.h"
#include "master_lost.h"
#include "tick_timeout.h"
#include "xelo_framework.h"
#include "xelo_log.h"

namespace {
constexpr int MASTER_SYSTEM_PORT = 1081;
constexpr long OPEN_RETRY_PAUSE_MS = 1000;
constexpr long HOOK_RETRY_PAUSE_MS = 1000;
constexpr long OP_REQUEST_PAUSE_MS = 1000;
constexpr long RESTART_PAUSE_MS = 1000;
constexpr long PASS_PAUSE_MS = 2000;
constexpr long SEMAPHORE_POLL_MS = 100;
constexpr std::size_t MESSAGE_SIZE = 100;

// An ERR line at once, or queued through the real-time thread's sink.
void err_line(Lock_Log_Sink* sink, const std::string& text)
{
    if (sink != nullptr)
        sink->write(Log_Level::ERR, text.c_str());
    else
        log_err(text);
}

std::string type_text_or(int error_type, const char* fallback)
{
    try {
        return XELO_Framework_ex::master_errortype2string(error_type);
    } catch (const std::runtime_error&) {
        return fallback;
    }
}

std::string code_text_or(int error_code, const char* fallback)
{
    try {
        return XELO_Framework_ex::master_errorcode2string(error_code);
    } catch (const std::runtime_error&) {
        return fallback;
    }
}
}  // namespace

// ==== error texts =========================================================================

std::string XELO_Framework_ex::master_errortype2string(int error_type)
{
    switch (error_type) {
    case NOT_ERROR_PRESENT: return "no error";
    case XENOMAI_WAIT_PERIOD_TIMEOUT_EXCEEDED: return "master synchro tick loss";
    case NET_INTERFACE_NOT_INITIALIZED: return "RT Network interface not initialized";
    case NO_SET_VALID_CYCLE_TIME: return "No valid cycle time is set";
    case ECAT_STATE: return "Error on master state change";
    case ECAT_XML_FILE: return "Error on xml slave configuration";
    case ECAT_XML_INIT_CMD: return "Error on slave initialization commands";
    case ECAT_XML_SDO: return "Error on slave SDO configuration";
    case ECAT_XML_STRUCT: return "Error on slave xml struct";
    case ECAT_CYCLIC_FRAME: return "Error on cycle frame send/read while in operational state";
    case PUSH_SDO_FAILED: return "Error on SDO push";
    case START_DC_FAILED: return "Error while setting distributed clock";
    default: break;
    }
    throw std::runtime_error(
        "[XELO_Framework_ex][master_errortype2string] Master error type not recognized! (value :: " +
        std::to_string(error_type) + ")");
}

std::string XELO_Framework_ex::master_errorcode2string(int error_code)
{
    switch (error_code) {
    case NULL_CODE: return "null code";
    case NOT_FOUND: return "not found";
    case ACTUAL_STATE_NO_CORRECT: return "invalid current state";
    case SLAVE_NUM_NOT_AGREE: return "slave number does not agree";
    case NO_FRAME_READ: return "no frame read";
    case DATA_NOT_VALIDATE: return "data is not valid";
    case WORKCOUNTER_NOT_AGREE: return "frame read workcounter error";
    case DIM_NOT_CORRECT: return "dimension is not correct";
    case NO_WATCHDOG_CHECK: return "master application watchdog error";
    default: break;
    }
    throw std::runtime_error(
        "[XELO_Framework_ex][master_errorcode2string] Master error code not recognized! (value :: " +
        std::to_string(error_code) + ")");
}

std::string XELO_Framework_ex::get_master_error_message(int error_type, int error_code, Lock_Log_Sink* sink)
{
    struct Pair_Message {
        int type;
        int code;
        const char* message;
    };
    static const Pair_Message PAIRS[] = {
        {ECAT_XML_FILE, NOT_FOUND, "Ethercat xml file not found"},
        {ECAT_STATE, ACTUAL_STATE_NO_CORRECT, "Actual ethercat master state is not valid"},
        {ECAT_CYCLIC_FRAME, ACTUAL_STATE_NO_CORRECT, "Ethercat slave state not correctly checked"},
        {PUSH_SDO_FAILED, ACTUAL_STATE_NO_CORRECT, "Push SDO not allowed in current ethercat master state"},
        {ECAT_XML_FILE, SLAVE_NUM_NOT_AGREE, "Xml slaves number and actual slaves number does not agree"},
        {ECAT_CYCLIC_FRAME, NO_FRAME_READ, "No cyclic frame read! too many DC consecutive faults"},
        {ECAT_XML_INIT_CMD, NO_FRAME_READ, "No frame read during slave InitCmd"},
        {ECAT_XML_SDO, NO_FRAME_READ, "No read SDO in xml mailbox"},
        {ECAT_XML_SDO, DATA_NOT_VALIDATE, "Unexpected read SDO"},
        {ECAT_XML_INIT_CMD, DATA_NOT_VALIDATE, "Frame read data not validated"},
        {START_DC_FAILED, DATA_NOT_VALIDATE, "DC not started"},
        {ECAT_XML_STRUCT, DATA_NOT_VALIDATE, "Xml file has to be reloaded"},
        {ECAT_XML_INIT_CMD, WORKCOUNTER_NOT_AGREE, "Frame read workcounter error"},
        {PUSH_SDO_FAILED, DIM_NOT_CORRECT, "Push sdo code or dimension not correct"},
        {PUSH_SDO_FAILED, NO_WATCHDOG_CHECK, "Ethercat master watchdog error"},
    };
    if (error_code == NULL_CODE) {
        try {
            return master_errortype2string(error_type);
        } catch (const std::runtime_error&) {
            // composed below
        }
    }
    for (const Pair_Message& pair : PAIRS)
        if (pair.type == error_type && pair.code == error_code)
            return pair.message;

    // A pair outside the table: a text composed of both texts, so that the
    // status variable still says what the master reported.
    const std::string type_text = type_text_or(error_type, "error_type not recognized");
    const std::string code_text = code_text_or(error_code, "error_code not recognized");
    err_line(sink, "[XELO_Framework_ex][get_master_error_message] error code and error type combination not regnized");
    err_line(sink, "[XELO_Framework_ex][get_master_error_message] error type :: " + std::to_string(error_type) +
                       " --> " + type_text);
    err_line(sink, "[XELO_Framework_ex][get_master_error_message] error code :: " + std::to_string(error_code) +
                       " --> " + code_text);
    std::string message =
        type_text + " (" + std::to_string(error_type) + ") / " + code_text + " (" + std::to_string(error_code) + ")";
    if (message.size() > MESSAGE_SIZE)
        message.resize(MESSAGE_SIZE);
    return message;
}

// ==== last error ==========================================================================

void XELO_Framework_ex::clear_last_ethercat_master_error()
{
    std::lock_guard<std::mutex> guard(m_last_error_mutex);
    m_last_ethercat_master_error_type = 0;
    m_last_ethercat_master_error_code = 0;
    std::fill(std::begin(m_last_ethercat_master_error_msg), std::end(m_last_ethercat_master_error_msg), '\0');
    if (m_master_simulation) {
        static const char SIMULATION[] = "Ethercat master simulation";
        std::copy(std::begin(SIMULATION), std::end(SIMULATION), m_last_ethercat_master_error_msg);
    }
}

void XELO_Framework_ex::get_last_ethercat_master_error(void* ecm_error)
{
    fetch_last_ethercat_master_error(static_cast<ECM_Error_Struct*>(ecm_error), nullptr);
}

bool XELO_Framework_ex::fetch_last_ethercat_master_error(ECM_Error_Struct* ecm_error, Lock_Log_Sink* sink)
{
    clear_last_ethercat_master_error();
    if (m_master_simulation)
        return true;
    // A failed request leaves the record as it was: start from no error.
    *ecm_error = ECM_Error_Struct{NOT_ERROR_PRESENT, NULL_CODE, 0};
    const bool answered = get_last_system_error(ecm_error) != -1;
    const int type = ecm_error->error_type;
    const int code = ecm_error->error_code;
    const std::string message = get_master_error_message(type, code, sink);
    {
        std::lock_guard<std::mutex> guard(m_last_error_mutex);
        m_last_ethercat_master_error_type = static_cast<int16_t>(type);
        m_last_ethercat_master_error_code = static_cast<int16_t>(code);
        std::copy_n(message.begin(), std::min(message.size(), MESSAGE_SIZE), m_last_ethercat_master_error_msg);
    }
    if (type == 0 && code == 0)
        return answered;
    err_line(sink, "[XELO_Framework_ex][get_last_ethercat_master_error] problem type :: " + std::to_string(type) +
                       " --> " + type_text_or(type, "error_type not recognized"));
    err_line(sink, "[XELO_Framework_ex][get_last_ethercat_master_error] problem code :: " + std::to_string(code) +
                       " --> " + code_text_or(code, "error_code not recognized"));
    err_line(sink, "[XELO_Framework_ex][get_last_ethercat_master_error] problem possible slave :: " +
                       std::to_string(ecm_error->possible_slave_in_error));
    err_line(sink, "[XELO_Framework_ex][get_last_ethercat_master_error] displayed error message :: " + message);
    return answered;
}

void XELO_Framework_ex::fetch_error_or_lost_ex(ECM_Error_Struct& ecm_error)
{
    if (!fetch_last_ethercat_master_error(&ecm_error, nullptr))
        check_master_answers_ex();
}

// ==== the loop ==============================================================================

void XELO_Framework_ex::master_pause(long milliseconds)
{
    if (m_stop.sleep_for(milliseconds, &process_stop_flag()))
        throw Framework_Stopped();
}

// Hooks to the master; a master that is not there yet (its memories or its
// command server missing, or not answering) is tried again every second. A
// master that answers but with another version is refused for good.
void XELO_Framework_ex::hook_master_ex()
{
    m_master_hook_ok = false;
    bool reported = false;
    while (preliminary_hook(MASTER_SYSTEM_PORT) == -1) {
        // Hooked but refused: the library stays hooked until it is unhooked.
        const bool answering = get_system_state() != SYSTEM_SETUP_FAILED;
        (void)last_unhook();
        if (answering)
            throw std::runtime_error("Failed to preliminary_hook");
        if (!reported)
            log_war("XELO_Framework_ex:: master not reachable, hook retried every second");
        reported = true;
        master_pause(HOOK_RETRY_PAUSE_MS);
    }
    m_master_hook_ok = true;
}

void XELO_Framework_ex::open_master_comunication_ex()
{
    log_inf("XELO_Framework_ex::open_master_comunication_channel ( ... )");
    if (m_master_simulation) {
        log_inf("\t only simulation ");
        return;
    }
    for (;;) {
        // A request cancelled by a stop reads as a lost master.
        if (stop_requested() || process_stop_flag().is_set())
            throw Framework_Stopped();
        hook_master_ex();
        try {
            run_master_connection_ex();
        } catch (const Master_Lost& lost) {
            log_err(lost.what());
        }
        m_master_connect_is_open = false;
        (void)last_unhook();
        m_master_hook_ok = false;
    }
}

void XELO_Framework_ex::check_master_answers_ex()
{
    if (get_system_state() == SYSTEM_SETUP_FAILED)
        throw Master_Lost();
}

void XELO_Framework_ex::run_master_connection_ex()
{
    ECM_Error_Struct tmp_error{};
    while (open_connection_with_master(appl_desc_mngr.ethercat_file.c_str()) == -1) {
        fetch_error_or_lost_ex(tmp_error);
        master_pause(OPEN_RETRY_PAUSE_MS);
    }
    for (;;) {
        bool at_once = false;
        try {
            at_once = master_pass_ex(tmp_error);
        } catch (const Framework_Stopped&) {
            throw;
        } catch (const Master_Lost&) {
            throw;
        } catch (const std::exception& error) {
            log_err(error.what());
            ++m_master_connection_error;
            log_war("Try to Close Master Connection..");
            check_master_answers_ex();
            at_once = m_master_connect_is_open.load();
        }
        if (!at_once)
            master_pause(PASS_PAUSE_MS);
    }
}

bool XELO_Framework_ex::master_pass_ex(ECM_Error_Struct& tmp_error)
{
    log_inf("XELO_Framework_ex::reopen_connection( ... )");
    if (reopen_connection() == -1) {
        fetch_error_or_lost_ex(tmp_error);
        if (tmp_error.error_type == ECAT_XML_STRUCT || get_system_state() == SOCKET_OPENED) {
            std::puts("tmp_error.error_type == ECAT_XML_STRUCT ");
            std::fflush(stdout);
            (void)close_connection_with_master();
            (void)open_connection_with_master(appl_desc_mngr.ethercat_file.c_str());
        }
        return false;
    }
    log_inf("XELO_Framework_ex::set_operational_cycle_time_ns ( ... )");
    if (set_operational_cycle_time_ns(static_cast<int>(appl_desc_mngr.master_cycle_time_ns)) == -1)
        throw std::runtime_error("Failed to set_operational_cycle_time_ns");
    if (appl_desc_mngr.watchdog_to_master != 0) {
        log_inf("XELO_Framework_ex::set_watchdog_on ( " + std::to_string(appl_desc_mngr.watchdog_to_master) + " )");
        if (set_watchdog_on(static_cast<int>(appl_desc_mngr.watchdog_to_master)) == -1)
            throw std::runtime_error("Failed to set_watchdog_on");
    }
    log_inf("XELO_Framework_ex::go_safeop_state ( ... )");
    bool in_op = go_into_new_state(SAFEOP_STATE) != -1;
    if (in_op) {
        log_inf("XELO_Framework_ex::go_operational_state ( ... )");
        master_pause(OP_REQUEST_PAUSE_MS);
        in_op = go_into_new_state(OP_STATE) != -1;
    }
    if (!in_op) {
        fetch_error_or_lost_ex(tmp_error);
        (void)close_connection_with_master();
        return false;
    }
    log_inf("XELO_Framework_ex::open_master_comunication_channel ... DONE");
    m_master_connect_is_open = true;
    ECM_Error_Struct last_error{};
    get_last_ethercat_master_error(&last_error);
    log_inf("XELO_Framework_ex::wait some error...");
    wait_master_manager_wake_up_ex();
    log_err("Try to restart.. ");
    get_last_ethercat_master_error(&last_error);
    master_pause(RESTART_PAUSE_MS);
    (void)go_into_new_state(INIT_STATE);
    return true;
}

// Waits for the real-time thread's report of a lost tick; a stop request
// ends the wait.
void XELO_Framework_ex::wait_master_manager_wake_up_ex()
{
    for (;;) {
        if (stop_requested())
            throw Framework_Stopped();
        timespec deadline{};
        clock_gettime(CLOCK_REALTIME, &deadline);
        deadline.tv_nsec += SEMAPHORE_POLL_MS * 1000000L;
        if (deadline.tv_nsec >= 1000000000L) {
            deadline.tv_nsec -= 1000000000L;
            ++deadline.tv_sec;
        }
        if (sem_timedwait(m_sem_master_manager.get(), &deadline) == 0)
            return;
        if (errno != ETIMEDOUT && errno != EINTR)
            throw std::runtime_error(std::string("Failed to sem_wait... ") + std::strerror(errno));
    }
}

void XELO_Framework_ex::reactivate_master_manager_thread()
{
    m_rt_log.post(Log_Level::INF, "XELO_Framework_ex::reactivate_master_manager_thread ... ");
    m_master_connect_is_open = false;
    if (m_single_connection)
        throw std::runtime_error(
            "XELO_Framework_ex::reactivate_master_manager_thread ... single_connection active, Framework will "
            "terminate");
    sem_post(m_sem_master_manager.get());
}

int64_t XELO_Framework_ex::wait_master_syncro_tick()
{
    if (m_master_connect_is_open)
        return wait_master_tick_with_timeout(
            master_tick_timeout_ms(appl_desc_mngr.master_cycle_time_ns, appl_desc_mngr.watchdog_to_master));
    // Not connected: one cycle's sleep keeps the rhythm of the virtual
    // slave and the status variables.
    const uint32_t cycle_ns = appl_desc_mngr.master_cycle_time_ns;
    const timespec cycle{static_cast<time_t>(cycle_ns / 1000000000u), static_cast<long>(cycle_ns % 1000000000u)};
    clock_nanosleep(CLOCK_MONOTONIC, 0, &cycle, nullptr);
    return 1;
}

void XELO_Framework_ex::master_tick_lost(int64_t ticks)
{
    if (ticks == -1) {
        ECM_Error_Struct error{};
        fetch_last_ethercat_master_error(&error, &m_rt_log);
        reactivate_master_manager_thread();
    } else if (ticks == -2) {
        m_rt_log.post(Log_Level::ERR, "[framework] [run_ex] timeout on wait syncro tick  ");
        reactivate_master_manager_thread();
    }
}

void XELO_Framework_ex::close_master_on_exit()
{
    if (m_master_simulation)
        return;
    if (m_master_connect_is_open) {
        log_war("Try to Close Master Connection..");
        m_stop.sleep_for(1000, &process_stop_flag());
        log_war("close_connection_with_master");
        log_war("..closed");
    }
    if (m_master_hook_ok)
        (void)last_unhook();
    m_master_hook_ok = false;
    log_war("Master Unhook Done");
}

void* MasterManagerThreadStartup(void* framework)
{
    auto* self = static_cast<XELO_Framework_ex*>(framework);
    set_own_fifo_priority_or_exit(90, "Failed to set Master Manager Thread Priority");
    try {
        self->open_master_comunication_ex();
    } catch (const Framework_Stopped&) {
        // the pass ends
    } catch (const std::exception& error) {
        log_err(error.what());
    }
    self->m_master_manager_done.store(true, std::memory_order_release);
    return nullptr;
}
