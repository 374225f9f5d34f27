// Lifecycle of the socket bridge: attach, thread launch, the channel threads'
// common cycle, the manager thread and the running report.
#include "framework_socket_bridge.h"

#include <cerrno>
#include <cstring>
#include <ctime>
#include <mutex>
#include <stdexcept>

#include "framework_stopped.h"
#include "robust_mutex.h"
#include "terminal_colour.h"
#include "xelo_log.h"
#include "xelo_thread_mtx_wrapper.h"

namespace {
const char* const RUNNING_MUTEX = "m_running_mutex";
constexpr long POLL_MS = 10;
constexpr long ATTACH_RETRY_MS = 1000;
constexpr long GATE_POLL_MS = 50;
using terminal_colour::BOLD_GREEN;
using terminal_colour::BOLD_RED;
using terminal_colour::coloured;
using terminal_colour::RESET;

struct Thread_Kind {
    const char* name;  // + instance for the channel kinds
    bool numbered;
    int priority;
    int socket_type;
    int wait_ms;
};
}  // namespace

Framework_Socket_Bridge::Framework_Socket_Bridge(std::string _bridge_description_filepath, bool _is_master,
                                                 uint32_t running_delay_ms)
    : m_bridge_framework_interface(&m_frmk_shm), m_bridge_descriptor_filepath(std::move(_bridge_description_filepath)),
      m_is_master(_is_master), m_running_delay_ms(running_delay_ms)
{
}

Framework_Socket_Bridge::~Framework_Socket_Bridge()
{
    stop();
    for (std::size_t i = 0; i < m_sem_thread_start_number; ++i)
        sem_destroy(&m_sem_thread_start[i]);
    if (m_sem_cyclics_socket_update_ready)
        sem_destroy(&m_sem_cyclics_socket_update);
    if (m_running_mutex_ready)
        pthread_mutex_destroy(&m_running_mutex);
}

void Framework_Socket_Bridge::stop()
{
    m_stop.request();
    for (auto& thread : m_channel_threads)
        thread->join_ex();
    if (m_manager_thread)
        m_manager_thread->join_ex();
}

std::string Framework_Socket_Bridge::fatal_error_text() const
{
    std::lock_guard<std::mutex> lock(m_fault_text_mutex);
    return m_fatal_error_text;
}

void Framework_Socket_Bridge::check_stop() const
{
    if (m_stop.is_set() || process_stop_flag().is_set())
        throw Stopping{};
}

void Framework_Socket_Bridge::pause_ms(long milliseconds) const
{
    if (milliseconds > 0 && m_stop.sleep_for(milliseconds, &process_stop_flag()))
        throw Stopping{};
    check_stop();
}

// The gates hand the descriptor's state over to the channel threads: a
// plain timed wait (the stop poll needs no monotonic clock), which the
// thread checkers of the toolchain also see as an ordering.
void Framework_Socket_Bridge::wait_gate(sem_t* semaphore) const
{
    for (;;) {
        check_stop();
        timespec deadline{};
        clock_gettime(CLOCK_REALTIME, &deadline);
        deadline.tv_nsec += GATE_POLL_MS * 1000000L;
        if (deadline.tv_nsec >= 1000000000L) {
            deadline.tv_sec += 1;
            deadline.tv_nsec -= 1000000000L;
        }
        if (sem_timedwait(semaphore, &deadline) == 0)
            return;
        if (errno != ETIMEDOUT && errno != EINTR)
            throw std::runtime_error(std::string("[Framework_Socket_Bridge] sem_wait of a start gate failed: ") +
                                     std::strerror(errno));
    }
}

// ---- init_ex -----------------------------------------------------------------------

void Framework_Socket_Bridge::init_ex()
{
    init_pthread_mutex_ex(&m_running_mutex, true, true, true);
    m_running_mutex_ready = true;
    init_sem_ex(&m_sem_cyclics_socket_update, 1, 0, "m_sem_cyclics_socket_update");
    m_sem_cyclics_socket_update_ready = true;
    m_frmk_shm.bypass_ready_to_start_flag();
    try {
        attach_ex("");
        load_bridge_descriptor_and_init_bridge_framework_interface_ex(true);
        start_threads();
    } catch (const Stopping&) {
        throw Framework_Stopped();
    }
}

void Framework_Socket_Bridge::attach_ex(const std::string& application_name)
{
    for (;;) {
        try {
            m_frmk_shm.init_with_h_compatibility_check_ex(application_name, XELO_FRAMEWORK_SHM_MANAGER_VERSION_MAJOR,
                                                          XELO_FRAMEWORK_SHM_MANAGER_VERSION_MINOR);
            return;
        } catch (const std::exception& error) {
            log_err(coloured(BOLD_RED, error.what()));
        }
        pause_ms(ATTACH_RETRY_MS);
    }
}

// ---- running bits ------------------------------------------------------------------

void Framework_Socket_Bridge::check_running_index_ex(int thread_id, const char* operation) const
{
    if (thread_id < 0 || static_cast<std::size_t>(thread_id) >= m_is_thread_running.size())
        throw std::runtime_error(std::string("[Framework_Socket_Bridge][") + operation +
                                 "] given thread_index :: " + std::to_string(thread_id) +
                                 ", threads number :: " + std::to_string(m_is_thread_running.size()));
}

bool Framework_Socket_Bridge::is_bridge_running()
{
    Robust_Mutex held(&m_running_mutex, RUNNING_MUTEX, "fsb_is_bridge_running");
    std::lock_guard<Robust_Mutex> lock(held);
    for (bool running : m_is_thread_running)
        if (!running)
            return false;
    return true;
}

bool Framework_Socket_Bridge::all_threads_stopped()
{
    Robust_Mutex held(&m_running_mutex, RUNNING_MUTEX, "fsb_all_thread_stopped");
    std::lock_guard<Robust_Mutex> lock(held);
    for (bool running : m_is_thread_running)
        if (running)
            return false;
    return true;
}

void Framework_Socket_Bridge::set_thread_running(int thread_id)
{
    Robust_Mutex held(&m_running_mutex, RUNNING_MUTEX, "fsb_set_thread_running");
    std::lock_guard<Robust_Mutex> lock(held);
    check_running_index_ex(thread_id, "set_thread_running");
    m_is_thread_running[static_cast<std::size_t>(thread_id)] = true;
}

void Framework_Socket_Bridge::set_thread_stopped(int thread_id)
{
    Robust_Mutex held(&m_running_mutex, RUNNING_MUTEX, "fsb_set_thread_stopped");
    std::lock_guard<Robust_Mutex> lock(held);
    check_running_index_ex(thread_id, "set_thread_stopped");
    m_is_thread_running[static_cast<std::size_t>(thread_id)] = false;
}

bool Framework_Socket_Bridge::get_thread_running(int thread_id)
{
    Robust_Mutex held(&m_running_mutex, RUNNING_MUTEX, "fsb_get_thread_running");
    std::lock_guard<Robust_Mutex> lock(held);
    check_running_index_ex(thread_id, "get_thread_running");
    return m_is_thread_running[static_cast<std::size_t>(thread_id)];
}

std::size_t Framework_Socket_Bridge::get_running_bit_number()
{
    Robust_Mutex held(&m_running_mutex, RUNNING_MUTEX, "fsb_get_thread_running");
    std::lock_guard<Robust_Mutex> lock(held);
    return m_is_thread_running.size();
}

void Framework_Socket_Bridge::throw_if_thread_manager_is_not_running(const std::string& error_message)
{
    if (!get_thread_running(m_manager_thread_running_id))
        throw std::runtime_error(error_message);
}

void Framework_Socket_Bridge::set_bridge_running_framweork_output(bool actual_value)
{
    uint8_t value = 0;
    if (!actual_value)
        m_bridge_running_counter = 0;
    else if (m_bridge_running_counter >= m_bridge_running_counter_threshold)
        value = 1;
    else
        ++m_bridge_running_counter;
    if (value != m_bridge_running_framework_value.load(std::memory_order_relaxed))
        log_inf(std::string("[Framework_Socket_Bridge][set_bridge_running_framweork_output] setting bridge running "
                            "value :: ") +
                (value ? BOLD_GREEN : BOLD_RED) + std::to_string(value) + RESET);
    m_frmk_shm.set_output_ex<unsigned char>(m_is_bridge_running_id, value);
    m_bridge_running_framework_value.store(value, std::memory_order_release);
}

// ---- threads -----------------------------------------------------------------------

void Framework_Socket_Bridge::start_threads()
{
    m_manager_thread = std::make_unique<Framework_Thread>(m_stop);
    m_manager_thread->start_ex(thread_bridge_manager, this, "manager_thread");
    int instances[5] = {0, 0, 0, 0, 0};
    for (std::size_t position = 0; position < m_launch_order.size(); ++position) {
        pause_ms(50);
        Thread_Descriptor& entry = m_launch_order[position];
        Thread_Args& args = entry.thread_args;
        Thread_Kind kind{};
        switch (entry.descriptor_type) {
        case Cyclic:
            kind = m_is_master ? Thread_Kind{"cyclics_server", false, 48, 0, 20}
                               : Thread_Kind{"cyclics_client", false, 48, 1, 80};
            if (m_is_master) {
                args.init_function_pointer = [this](void* s, int i) { cyclic_server_socket_init_ex(s, i); };
                args.running_function_pointer = [this](void* s, int i) { cyclic_server_socket_run_ex(s, i); };
            } else {
                args.init_function_pointer = [this](void* s, int i) { cyclic_client_socket_init_ex(s, i); };
                args.running_function_pointer = [this](void* s, int i) { cyclic_client_socket_run_ex(s, i); };
            }
            break;
        case Command_Input:
            kind = Thread_Kind{"cmd_server_", true, 47, 0, 20};
            args.init_function_pointer = [this](void* s, int i) { input_cmd_server_socket_init_ex(s, i); };
            args.running_function_pointer = [this](void* s, int i) { input_cmd_server_socket_run_ex(s, i); };
            break;
        case Command_Output:
            kind = Thread_Kind{"cmd_client_", true, 47, 1, 80};
            args.init_function_pointer = [this](void* s, int i) { output_cmd_client_socket_init_ex(s, i); };
            args.running_function_pointer = [this](void* s, int i) { output_cmd_client_socket_run_ex(s, i); };
            break;
        case Sem_Input:
            kind = Thread_Kind{"sem_server_", true, 46, 0, 20};
            args.init_function_pointer = [this](void* s, int i) { input_sem_data_group_server_socket_init_ex(s, i); };
            args.running_function_pointer = [this](void* s, int i) { input_sem_data_group_server_socket_run_ex(s, i); };
            break;
        case Sem_Output:
            kind = Thread_Kind{"sem_client_", true, 46, 1, 80};
            args.init_function_pointer = [this](void* s, int i) { output_sem_data_group_client_socket_init_ex(s, i); };
            args.running_function_pointer = [this](void* s, int i) {
                output_sem_data_group_client_socket_run_ex(s, i);
            };
            break;
        default: throw std::runtime_error("Element_type not recognized!");
        }
        const int instance = instances[entry.descriptor_type]++;
        args.fsb = this;
        args.thread_id = static_cast<int>(position);
        args.instance_id = kind.numbered ? instance : 0;
        args.thread_priority = kind.priority;
        args.socket_type = kind.socket_type;
        args.wait_time_before_starting_ms = kind.wait_ms;
        args.thread_name = kind.numbered ? kind.name + std::to_string(instance) : kind.name;
        pause_ms(20);
        m_channel_threads.push_back(std::make_unique<Framework_Thread>(m_stop));
        m_channel_threads.back()->start_ex(thread_function, &args, args.thread_name.c_str());
    }
    pause_ms(20);
}

void* Framework_Socket_Bridge::thread_function(void* args)
{
    auto* thread_args = static_cast<Thread_Args*>(args);
    Framework_Socket_Bridge* self = thread_args->fsb;
    if (set_fifo_priority(thread_args->thread_priority) != 0) {
        log_err("Error on pthread_setschedparam");
        return nullptr;
    }
    try {
        self->thread_main_cycle(thread_args);
    } catch (const Stopping&) {
        // stop(): the socket closes with the cycle's frame
    } catch (const std::exception& error) {
        self->report_fatal_error("[Framework_Socket_Bridge][thread_function] thread " + thread_args->thread_name +
                                 " ended :: " + error.what());
    }
    return nullptr;
}

void* Framework_Socket_Bridge::thread_bridge_manager(void* bridge)
{
    auto* self = static_cast<Framework_Socket_Bridge*>(bridge);
    log_inf("thread_cyclic_refresh created");
    // Without its manager the bridge never runs: a refusal ends rtframe.
    if (const int error = set_fifo_priority(49); error != 0) {
        self->report_fatal_error(std::string("[Framework_Socket_Bridge][thread_bridge_manager] Error on "
                                             "pthread_setschedparam :: ") +
                                 std::strerror(error));
        return nullptr;
    }
    try {
        self->manager_thread();
    } catch (const Stopping&) {
    } catch (const std::exception& error) {
        self->report_fatal_error(std::string("[Framework_Socket_Bridge][manager_thread] ") + error.what());
    }
    return nullptr;
}

void Framework_Socket_Bridge::thread_main_cycle(Thread_Args* args)
{
    const std::string head = "Thread " + args->thread_name + " [" + std::to_string(args->thread_id);
    std::unique_ptr<Socket_Tcp> socket;
    set_thread_stopped(args->thread_id);
    for (;;) {
        log_war(head + "] is waiting for start init..");
        wait_gate(&m_sem_thread_start[static_cast<std::size_t>(args->thread_id)]);
        log_war(head + "] is waiting for previous threads to be running ..");
        if (args->thread_id != 0)
            while (!get_thread_running(args->thread_id - 1))
                pause_ms(POLL_MS);
        socket.reset();
        if (args->socket_type == 1)
            socket = std::make_unique<Socket_Client_Tcp>();
        else if (args->socket_type == 0)
            socket = std::make_unique<Socket_Server_Tcp>();
        else
            throw std::runtime_error(
                "[Framework_Socket_Bridge][thread_main_cycle] socket type not recognized! value :: " +
                std::to_string(args->socket_type));
        pause_ms(args->wait_time_before_starting_ms);
        log_war(head + "] going to init..");
        for (;;) {
            try {
                args->init_function_pointer(socket.get(), args->instance_id);
                break;
            } catch (const std::exception& error) {
                log_err(coloured(BOLD_RED, error.what()));
            }
            pause_ms(10L * args->wait_time_before_starting_ms);
        }
        log_war(head + "] is running!");
        set_thread_running(args->thread_id);
        log_war(head + "] is waiting for start run function..");
        wait_gate(&m_sem_thread_start[static_cast<std::size_t>(args->thread_id)]);
        try {
            // Exchanges never wait on standard output: their lines go through the real-time ring.
            const Realtime_Log_Thread realtime_lines;
            args->running_function_pointer(socket.get(), args->instance_id);
        } catch (const std::exception&) {
        }
        socket.reset();
        log_war(head + "] is stopped");
        set_thread_stopped(args->thread_id);
    }
}

void Framework_Socket_Bridge::manager_thread()
{
    for (;;) {
        set_thread_running(m_manager_thread_running_id);
        for (std::size_t i = 0; i < m_sem_thread_start_number; ++i)
            sem_post(&m_sem_thread_start[i]);
        while (!is_bridge_running())
            pause_ms(POLL_MS);
        for (std::size_t i = 0; i < m_sem_thread_start_number; ++i)
            sem_post(&m_sem_thread_start[i]);
        try {
            const double period_ns = static_cast<double>(m_refresh_time_ms) * 1000000.0;
            m_frmk_shm.set_refresh_time_ns_ex(period_ns >= 4294967295.0 ? UINT32_MAX
                                                                        : static_cast<uint32_t>(period_ns));
            m_frmk_shm.set_watchdog_value_ex(50);
            m_frmk_shm.turn_on_watchdog_ex();
            while (is_bridge_running()) {
                check_stop();
                m_bridge_framework_interface.refresh_data(&m_stop);
                // Only the slave's cyclic client waits on it.
                if (!m_is_master)
                    sem_post(&m_sem_cyclics_socket_update);
                set_bridge_running_framweork_output(true);
            }
            set_bridge_running_framweork_output(false);
            m_bridge_framework_interface.refresh_data(&m_stop);
        } catch (const std::exception& error) {
            log_err(std::string("[Framework_Socket_Bridge][manager_thread] running step ended :: ") + error.what());
            try {
                set_bridge_running_framweork_output(false);
            } catch (const std::exception&) {
                // released by the framework: its watchdog already reset the output
                m_bridge_running_counter = 0;
                m_bridge_running_framework_value.store(0, std::memory_order_release);
            }
        }
        set_thread_stopped(m_manager_thread_running_id);
        log_war("Manager thread is waiting for all threads to be stopped..");
        while (!all_threads_stopped())
            pause_ms(POLL_MS);
        pause_ms(100L * m_refresh_time_ms);
        log_war("Manager thread all threads stopped..");
        m_bridge_framework_interface.cleanup();
        log_war("Manager thread unlinking..");
        m_frmk_shm.unlink();
        m_frmk_shm.bypass_ready_to_start_flag();
        attach_ex("Framework_Socket_Bridge");
        log_war("Manager thread framework init done..");
        m_frmk_shm.turn_off_watchdog_ex();
        load_bridge_descriptor_and_init_bridge_framework_interface_ex(false);
    }
}

void Framework_Socket_Bridge::report_fatal_error(const std::string& text)
{
    log_err(text);
    {
        std::lock_guard<std::mutex> lock(m_fault_text_mutex);
        if (m_fatal_error_text.empty())
            m_fatal_error_text = text;
    }
    m_fatal_error.store(true, std::memory_order_release);
}
