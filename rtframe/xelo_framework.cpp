#include "xelo_framework.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <iterator>
#include <stdexcept>
#include <utility>

#include "framework_fatal.h"
#include "framework_stopped.h"
#include "xelo_log.h"
#include "xelo_thread_mtx_wrapper.h"

namespace {
constexpr long LOGGER_START_PAUSE_MS = 1000;
constexpr long THREAD_START_PAUSE_MS = 5000;
constexpr long WRITER_RETRY_PAUSE_MS = 1000;

// A segment left by a run that died may still say ready: clients must not
// attach to it while this pass builds its own, so it is lowered first.
void lower_stale_ready_to_start()
{
    const int fd = shm_open(framework_names::INFO, O_RDWR | O_CLOEXEC, 0600);
    if (fd == -1)
        return;
    struct stat st {};
    constexpr std::size_t NEEDED = offsetof(Shared_Info_Struct, ready_to_start) + sizeof(uint32_t);
    if (fstat(fd, &st) == 0 && static_cast<std::size_t>(st.st_size) >= NEEDED) {
        void* data = mmap(nullptr, NEEDED, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
        if (data != MAP_FAILED) {
            auto* info = static_cast<Shared_Info_Struct*>(data);
            __atomic_store_n(&info->ready_to_start, 0u, __ATOMIC_SEQ_CST);
            munmap(data, NEEDED);
            log_war("XELO_Framework_ex:: ready_to_start of a segment left by an earlier run lowered");
        }
    }
    close(fd);
}
}  // namespace

Local_Semaphore::Local_Semaphore(const char* name)
{
    init_sem_ex(&m_sem, 0, 0, name);
}

Local_Semaphore::~Local_Semaphore()
{
    sem_destroy(&m_sem);
}

XELO_Framework_ex::XELO_Framework_ex(std::string application_descriptor_file, bool master_simulation,
                                     bool single_connection, bool xml_split_local_root, bool is_bridge_enabled,
                                     bool is_bridge_master, std::string bridge_descriptor_file,
                                     uint32_t bridge_running_delay_ms)
    : appl_desc_mngr(application_descriptor_file, xml_split_local_root, master_simulation, is_bridge_enabled,
                     &m_outputs_vector, &m_inputs_vector, &m_async_outputs_vector, &m_async_inputs_vector,
                     &m_sem_group_data_vector),
      m_framework_socket_bridge(std::move(bridge_descriptor_file), is_bridge_master, bridge_running_delay_ms),
      m_master_simulation(master_simulation), m_single_connection(single_connection),
      m_is_bridge_enabled(is_bridge_enabled),
      m_reserved{{"is_ethercat_master_online", "m_is_ethercat_master_online_id", 1, -1, 0},
                 {"last_ethercat_master_error_type", "m_last_master_error_type_id", 2, -1, 0},
                 {"last_ethercat_master_error_code", "m_last_master_error_code_id", 2, -1, 0},
                 {"last_ethercat_master_error_msg", "m_last_master_error_msg_id", 100, -1, 0},
                 {"enable_refresh_logging", "m_enable_refresh_logging_id", 1, -1, 0},
                 {"enable_sem_data_logging", "m_enable_sem_data_logging_id", 1, -1, 0}}
{
    lower_stale_ready_to_start();
    log_version();
    clear_last_ethercat_master_error();
    log_inf("XELO_Framework_ex load_application_information from :: " + application_descriptor_file);
    appl_desc_mngr.load_data_ex();
    appl_desc_mngr.print_loaded_data();

    // Each start pause ends early once its thread is ready; what follows copes
    // with a thread that is late (the writer retries, a stop is checked).
    start_logging_queue_reader_thread();
    (void)wait_until_ready(m_logging_queue_created, LOGGER_START_PAUSE_MS);
    open_logging_queue_writer();

    m_master_manager_thread.start_ex(MasterManagerThreadStartup, this, "fm_mastermngr");
    (void)wait_until_ready(m_master_manager_done, THREAD_START_PAUSE_MS);
    if (stop_requested())
        throw Framework_Stopped();

    m_realtime_thread.start_ex(FrameworkThreadStartup, this, "fm_realtimetask");
    (void)wait_until_ready(m_realtime_ready, THREAD_START_PAUSE_MS);
    m_save_thread.start_ex(FrameworkThreadSave, this, "fm_savetask");

    m_realtime_thread.join_ex();
    m_rt_log.drain();
    if (!m_fatal_text.empty())
        throw Framework_Fatal(m_fatal_text);
}

// The thread members then join their threads, the save thread first.
XELO_Framework_ex::~XELO_Framework_ex()
{
    m_stop.request();
    // A request waiting for the master's reply ends at once.
    if (!m_master_simulation)
        cancel_master_requests();
}

void XELO_Framework_ex::log_version()
{
    log_inf("XELO_Framework_ex::XELO_Framework_ex ( ... )");
    log_inf("XELO_Framework_ex MAJOR VERSION :: " + std::to_string(FRAMEWORK_VERSION_MAJOR));
    log_inf("XELO_Framework_ex MINOR VERSION :: " + std::to_string(FRAMEWORK_VERSION_MINOR));
    log_inf("XELO_Framework_ex PATCH VERSION :: " + std::to_string(FRAMEWORK_VERSION_PATCH));
    log_inf(std::string("XELO_Framework_ex BUILT_DATE    :: ") + __DATE__);
    log_inf(std::string("XELO_Framework_ex BUILT_DATE    :: ") + __TIME__);
}

void XELO_Framework_ex::open_logging_queue_writer()
{
    for (;;) {
        try {
            m_xeno_logging_queue_writer.open_ex(true);
            return;
        } catch (const std::exception& error) {
            log_err(error.what());
        }
        if (m_stop.sleep_for(WRITER_RETRY_PAUSE_MS, &process_stop_flag()))
            throw Framework_Stopped();
    }
}

// Waits at most timeout_ms for a thread to report that it is ready, polling
// every millisecond; a stop request ends the wait at once.
bool XELO_Framework_ex::wait_until_ready(const std::atomic<bool>& ready, long timeout_ms) const
{
    for (long waited = 0; waited < timeout_ms; ++waited) {
        if (ready.load(std::memory_order_acquire))
            return true;
        if (m_stop.sleep_for(1, &process_stop_flag()))
            return false;
    }
    return ready.load(std::memory_order_acquire);
}
