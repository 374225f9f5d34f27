#include "xelo_ethercat_master_class.h"

#include <cerrno>
#include <cstring>
#include <stdexcept>

#include "ecm_log.h"
#include "xelo_client_socket_udp.h"

namespace {
std::string code_text(int rc)
{
    return std::to_string(rc) + " " + std::strerror(rc);
}

// Logs the ERR line and throws the exception text, both with the system's
// text of rc.
[[noreturn]] void fail(const std::string& line, const std::string& exception_text, int rc)
{
    ecm_log_err(line + code_text(rc));
    throw std::runtime_error(exception_text + std::strerror(rc));
}

class Ecm_Lock_Log final : public Lock_Log_Sink {
public:
    void write(Log_Level level, const char* text) noexcept override
    {
        try {
            ecm_log(level == Log_Level::INF ? Ecm_Log_Level::INF
                                            : (level == Log_Level::WAR ? Ecm_Log_Level::WAR : Ecm_Log_Level::ERR),
                    text);
        } catch (...) {
            // no memory for the line: nothing left to tell it with
        }
    }
};
Ecm_Lock_Log g_ecm_lock_log;
}  // namespace

Lock_Log_Sink& ecm_lock_log()
{
    return g_ecm_lock_log;
}

ECM_Master::ECM_Master() = default;
ECM_Master::~ECM_Master() = default;

void ECM_Master::init_ex(const std::string& net_interface_name, Shared_Pdo_Mem_Region* pdo,
                         Shared_Slave_Info_Mem_Region* info, Shared_Tick_Mem_Region* tick)
{
    m_net_interface_name = net_interface_name;
    m_process_data_exchange_shmem = pdo;
    m_process_info_slave_exchange_shmem = info;
    m_process_tick_exchange_shmem = tick;
    m_timeOut_wait_initcmd = timespec{0, 500000};
    m_timeOut_wait_initcmd_retry = timespec{0, 10000000};

    ecm_log_inf("ECM_Master::init()");
    ecm_log_inf("\t m_mutex_operational_state ...");
    init_pthread_mutex_ex(&m_mutex_operational_state, false, true, true);
    ecm_log_inf("\t m_mutex_operational_state ok");
    ecm_log_inf("\t m_mutex_change_state ...");
    init_pthread_mutex_ex(&m_mutex_change_state, false, true, true);
    ecm_log_inf("\t m_mutex_change_state ok");
    ecm_log_inf("\t ... try lock m_process_data_exchange_shmem->shm_mutex ...");
    {
        Robust_Mutex pdo_mutex =
            ecm_mutex(&m_process_data_exchange_shmem->shm_mutex, "m_process_data_exchange_shmem->shm_mutex");
        std::lock_guard<Robust_Mutex> guard(pdo_mutex);
        std::memset(m_process_data_exchange_shmem->shm_buf_in, 0, sizeof(m_process_data_exchange_shmem->shm_buf_in));
        std::memset(m_process_data_exchange_shmem->shm_buf_out, 0, sizeof(m_process_data_exchange_shmem->shm_buf_out));
    }
    ecm_log_inf("\t m_sdo_list_mutex ...");
    init_pthread_mutex_ex(&m_sdo_list_mutex, false, true, true);
    ecm_log_inf("\t m_sdo_list_mutex ok");
    init_pthread_mutex_ex(&m_mailbox_mutex, false, true, true);
}

void ECM_Master::set_pthread_mutex_attr_ex(pthread_mutexattr_t* attr, bool pshared, bool prio_inherit, bool error_check)
{
    int rc = pthread_mutexattr_init(attr);
    if (rc != 0)
        fail("pthread_mutexattr_init error = ", "Failed to pthread_mutexattr_init ->", rc);
    if (pshared) {
        rc = pthread_mutexattr_setpshared(attr, PTHREAD_PROCESS_SHARED);
        if (rc != 0)
            fail("pthread_mutexattr_setpshared error = ", "Failed to pthread_mutexattr_setpshared ->", rc);
        rc = pthread_mutexattr_setrobust(attr, PTHREAD_MUTEX_ROBUST);
        if (rc != 0)
            fail("pthread_mutexattr_setrobust error = ", "Failed to pthread_mutexattr_setrobust ->", rc);
    }
    if (prio_inherit) {
        rc = pthread_mutexattr_setprotocol(attr, PTHREAD_PRIO_INHERIT);
        if (rc != 0)
            fail("pthread_mutexattr_setprotocol error = ", "Failed to pthread_mutexattr_setprotocol ->", rc);
    }
    if (error_check) {
        rc = pthread_mutexattr_settype(attr, PTHREAD_MUTEX_ERRORCHECK);
        if (rc != 0)
            fail("pthread_mutexattr_settype error = ", "Failed pthread_mutexattr_settype error ", rc);
    }
}

void ECM_Master::init_pthread_mutex_ex(pthread_mutex_t* mutex, bool pshared, bool prio_inherit, bool error_check)
{
    pthread_mutexattr_t attr;
    set_pthread_mutex_attr_ex(&attr, pshared, prio_inherit, error_check);
    int rc = pthread_mutex_init(mutex, &attr);
    if (rc != 0) {
        rc = pthread_mutex_destroy(mutex);
        if (rc != 0) {
            pthread_mutexattr_destroy(&attr);
            fail("pthread_mutex_destroy error = ", "Failed to pthread_mutex_destroy ", rc);
        }
        rc = pthread_mutex_init(mutex, &attr);
        if (rc != 0) {
            pthread_mutexattr_destroy(&attr);
            fail("pthread_mutex_init error = ", "Failed to pthread_mutex_init again... ", rc);
        }
    }
    pthread_mutexattr_destroy(&attr);
}

void ECM_Master::mutex_lock_ex(pthread_mutex_t* mutex, const std::string& mutex_name)
{
    Robust_Mutex(mutex, mutex_name, nullptr, &g_ecm_lock_log).lock();
}

void ECM_Master::mutex_unlock_ex(pthread_mutex_t* mutex, const std::string& mutex_name, bool unlock)
{
    if (!unlock) {
        ecm_log_war("\t mutex_unlock_ex..." + mutex_name + " not to do!");
        return;
    }
    Robust_Mutex(mutex, mutex_name, nullptr, &g_ecm_lock_log).unlock_ex();
}

void ECM_Master::soft_realtime_activate(uint32_t max_cycle_jitter)
{
    m_soft_realtime_request = true;
    m_soft_realtime_max_cycle_jitter = max_cycle_jitter;
}

void ECM_Master::set_max_consecutive_frame_faults(uint32_t max_faults)
{
    m_max_consecutive_frame_faults = static_cast<int32_t>(max_faults);
}

void ECM_Master::set_last_master_error(Ec_Master_Error_Type new_error_type, EC_Master_Error_Code new_error_code,
                                       int slave_in_error)
{
    const bool sticky =
        m_last_error_type == XENOMAI_WAIT_PERIOD_TIMEOUT_EXCEEDED || m_last_error_type == ECAT_CYCLIC_FRAME;
    if (sticky && new_error_type != NOT_ERROR_PRESENT)
        return;
    m_last_error_type = new_error_type;
    m_last_error_code = new_error_code;
    m_last_error_slave = slave_in_error;
}

void ECM_Master::get_last_error(Ec_Master_Error_Type* new_error_type, EC_Master_Error_Code* new_error_code,
                                int* slave_in_error) const
{
    *new_error_type = m_last_error_type;
    *new_error_code = m_last_error_code;
    *slave_in_error = m_last_error_slave;
}

void ECM_Master::set_command_server_endpoint(const std::string& address, int port)
{
    m_command_server_address = address;
    m_command_server_port = port;
}

void ECM_Master::send_close_connection_to_command_server() const
{
    ClientSocket_Udp_ex client(m_command_server_address.c_str(), m_command_server_port, false, 0, 0);
    client << ecm_protocol::CLOSE_CONNECTION;
}
