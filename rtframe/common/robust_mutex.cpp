#include "robust_mutex.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <stdexcept>

#include "xelo_thread_mtx_wrapper.h"

namespace {
class Direct_Log final : public Lock_Log_Sink {
public:
    void write(Log_Level level, const char* text) noexcept override
    {
        try {
            log_line(level, text);
        } catch (...) {
            // no memory for the line: nothing left to tell it with
        }
    }
};
Direct_Log g_direct_log;
}  // namespace

void Robust_Mutex::report(Log_Level level, const char* operation, int code) const noexcept
{
    char text[512];
    if (level == Log_Level::WAR)
        std::snprintf(text, sizeof(text), "mutex %s was held by a process that died: made consistent, going on",
                      m_name);
    else if (m_owner != nullptr)
        std::snprintf(text, sizeof(text), "[%s] %s %s ret_val = %d %s", m_owner, operation, m_name, code,
                      std::strerror(code));
    else
        std::snprintf(text, sizeof(text), "%s %s ret_val = %d %s", operation, m_name, code, std::strerror(code));
    (m_sink != nullptr ? static_cast<Lock_Log_Sink&>(*m_sink) : g_direct_log).write(level, text);
}

void Robust_Mutex::throw_failure(const char* operation, int code) const
{
    throw std::runtime_error(std::string("Failed to ") + operation + " -> " + m_name + " " + std::strerror(code));
}

int Robust_Mutex::after_locking(int code, const char* operation) noexcept
{
    if (code == EOWNERDEAD) {
        code = pthread_mutex_consistent(m_mutex);
        if (code == 0) {
            report(Log_Level::WAR, operation, 0);
        } else {
            // held but not usable: give it up, later lockers see ENOTRECOVERABLE
            pthread_mutex_unlock(m_mutex);
        }
    }
    if (code != 0 && code != EBUSY)
        report(Log_Level::ERR, operation, code);
    return code;
}

void Robust_Mutex::lock()
{
    const int code = after_locking(m_mutex == nullptr ? EINVAL : pthread_mutex_lock(m_mutex), "mutex_lock_ex");
    if (code != 0)
        throw_failure("mutex_lock_ex", code);
}

bool Robust_Mutex::try_lock()
{
    const int code = after_locking(m_mutex == nullptr ? EINVAL : pthread_mutex_trylock(m_mutex), "mutex_trylock_ex");
    if (code == EBUSY)
        return false;
    if (code != 0)
        throw_failure("mutex_trylock_ex", code);
    return true;
}

void Robust_Mutex::unlock() noexcept
{
    const int code = m_mutex == nullptr ? EINVAL : pthread_mutex_unlock(m_mutex);
    if (code != 0)
        report(Log_Level::ERR, "mutex_unlock_ex", code);
}

void Robust_Mutex::unlock_ex()
{
    const int code = m_mutex == nullptr ? EINVAL : pthread_mutex_unlock(m_mutex);
    if (code == 0)
        return;
    report(Log_Level::ERR, "mutex_unlock_ex", code);
    throw_failure("mutex_unlock_ex", code);
}

void Robust_Mutex::init_shared(pthread_mutex_t* mutex)
{
    init_pthread_mutex_ex(mutex, true, true, true);
}
