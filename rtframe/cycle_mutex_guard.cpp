#include "cycle_mutex_guard.h"

#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <string>

#include "rt_log.h"

Cycle_Mutex_Guard::Cycle_Mutex_Guard(pthread_mutex_t* mutex, const char* mutex_name, const char* pthread_name,
                                     Rt_Log& log)
    : m_mutex(mutex), m_mutex_name(mutex_name), m_pthread_name(pthread_name), m_log(log)
{
    int ret_val = pthread_mutex_lock(m_mutex);
    if (ret_val == EOWNERDEAD) {
        ret_val = pthread_mutex_consistent(m_mutex);
        if (ret_val == 0)
            m_log.post(Log_Level::WAR, "mutex %s was held by a process that died: made consistent, going on",
                       m_mutex_name);
    }
    if (ret_val == 0)
        return;
    m_log.post(Log_Level::ERR, "[%s] mutex_lock_ex %s ret_val = %d %s", m_pthread_name, m_mutex_name, ret_val,
               std::strerror(ret_val));
    throw std::runtime_error(std::string("Failed to mutex_lock_ex -> ") + m_mutex_name + " " + std::strerror(ret_val));
}

Cycle_Mutex_Guard::~Cycle_Mutex_Guard()
{
    const int ret_val = pthread_mutex_unlock(m_mutex);
    if (ret_val != 0)
        m_log.post(Log_Level::ERR, "[%s] mutex_unlock_ex %s ret_val = %d %s", m_pthread_name, m_mutex_name, ret_val,
                   std::strerror(ret_val));
}
