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

const char* operation_name(Lock_Operation operation)
{
    static const char* const NAMES[] = {"mutex_lock_ex", "mutex_trylock_ex", "mutex_unlock_ex"};
    return NAMES[static_cast<int>(operation)];
}
}  // namespace

void Lock_Log_Sink::failed(Lock_Operation operation, const char* name, const char* owner, int code) noexcept
{
    char text[512];
    if (owner != nullptr)
        std::snprintf(text, sizeof(text), "[%s] %s %s ret_val = %d %s", owner, operation_name(operation), name, code,
                      std::strerror(code));
    else
        std::snprintf(text, sizeof(text), "%s %s ret_val = %d %s", operation_name(operation), name, code,
                      std::strerror(code));
    write(Log_Level::ERR, text);
}

Lock_Log_Sink& Robust_Mutex::sink() const noexcept
{
    return m_sink != nullptr ? *m_sink : g_direct_log;
}

void Robust_Mutex::throw_failure(Lock_Operation operation, int code) const
{
    throw std::runtime_error(std::string("Failed to ") + operation_name(operation) + " -> " + m_name + " " +
                             std::strerror(code));
}

int Robust_Mutex::recovered(int code) noexcept
{
    if (code != EOWNERDEAD)
        return code;
    code = pthread_mutex_consistent(m_mutex);
    if (code != 0) {
        // held but not usable: give it up, later lockers see ENOTRECOVERABLE
        pthread_mutex_unlock(m_mutex);
        return code;
    }
    char text[512];
    std::snprintf(text, sizeof(text), "mutex %s was held by a process that died: made consistent, going on", m_name);
    sink().write(Log_Level::WAR, text);
    return 0;
}

int Robust_Mutex::reported(Lock_Operation operation, int code) noexcept
{
    if (code != 0)
        sink().failed(operation, m_name, m_owner, code);
    return code;
}

int Robust_Mutex::lock_code() noexcept
{
    return reported(Lock_Operation::lock, m_mutex == nullptr ? EINVAL : recovered(pthread_mutex_lock(m_mutex)));
}

int Robust_Mutex::try_lock_code() noexcept
{
    const int code = m_mutex == nullptr ? EINVAL : recovered(pthread_mutex_trylock(m_mutex));
    return code == EBUSY ? code : reported(Lock_Operation::try_lock, code);
}

int Robust_Mutex::unlock_code() noexcept
{
    return reported(Lock_Operation::unlock, m_mutex == nullptr ? EINVAL : pthread_mutex_unlock(m_mutex));
}

void Robust_Mutex::lock()
{
    const int code = lock_code();
    if (code != 0)
        throw_failure(Lock_Operation::lock, code);
}

bool Robust_Mutex::try_lock()
{
    const int code = try_lock_code();
    if (code == EBUSY)
        return false;
    if (code != 0)
        throw_failure(Lock_Operation::try_lock, code);
    return true;
}

void Robust_Mutex::unlock() noexcept
{
    (void)unlock_code();
}

void Robust_Mutex::unlock_ex()
{
    const int code = unlock_code();
    if (code != 0)
        throw_failure(Lock_Operation::unlock, code);
}

void Robust_Mutex::init_shared(pthread_mutex_t* mutex)
{
    init_pthread_mutex_ex(mutex, true, true, true);
}
