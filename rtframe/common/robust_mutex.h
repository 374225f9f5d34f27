#pragma once

#include <pthread.h>

#include <mutex>
#include <string>

#include "xelo_log.h"

// Where a lock writes its lines: the WAR line of a recovered mutex and the
// ERR lines of failures. The default writes them at once (log_line); a
// real-time thread passes a sink that only queues them.
class Lock_Log_Sink {
public:
    virtual void write(Log_Level level, const char* text) noexcept = 0;

protected:
    ~Lock_Log_Sink() = default;
};

// A non-owning handle over a process-shared, robust pthread mutex (one that
// lives in shared memory) and its name, usable with std::lock_guard,
// std::unique_lock and std::try_lock. A mutex whose holder died is made
// consistent and taken, with a WAR line naming it; this is the one place
// that does so. Failures to lock throw "Failed to mutex_lock_ex -> " + name
// + " " + the system's text after an ERR line; unlock cannot throw (a
// failure is an ERR line). Locking allocates nothing but on failure, and
// through a queuing sink not even then until the exception. The name (and
// the owner, the thread or program named in ERR lines) are kept, not
// copied: they must outlive the handle.
class Robust_Mutex {
public:
    Robust_Mutex(pthread_mutex_t* mutex, const char* name, const char* owner = nullptr,
                 Lock_Log_Sink* sink = nullptr) noexcept
        : m_mutex(mutex), m_name(name), m_owner(owner), m_sink(sink)
    {
    }
    Robust_Mutex(pthread_mutex_t* mutex, const std::string& name, const char* owner = nullptr,
                 Lock_Log_Sink* sink = nullptr) noexcept
        : Robust_Mutex(mutex, name.c_str(), owner, sink)
    {
    }
    Robust_Mutex(pthread_mutex_t*, std::string&&, const char* = nullptr, Lock_Log_Sink* = nullptr) = delete;

    // A null mutex (a segment not attached) is refused as EINVAL.
    void lock();
    // false while another holds it; a dead holder's mutex is recovered and
    // taken.
    [[nodiscard]] bool try_lock();
    void unlock() noexcept;
    // The same, but a failure also throws "Failed to mutex_unlock_ex -> " +
    // name + " " + the system's text.
    void unlock_ex();

    pthread_mutex_t* native_handle() const noexcept { return m_mutex; }
    const char* name() const noexcept { return m_name; }

    // Initialises a mutex that processes share in shared memory: process
    // shared, priority inheriting, robust and error checking.
    static void init_shared(pthread_mutex_t* mutex);

private:
    // 0 when the mutex is held now, else the error code (after its ERR line).
    int after_locking(int code, const char* operation) noexcept;
    void report(Log_Level level, const char* operation, int code) const noexcept;
    [[noreturn]] void throw_failure(const char* operation, int code) const;

    pthread_mutex_t* m_mutex;
    const char* m_name;
    const char* m_owner;
    Lock_Log_Sink* m_sink;
};

// f() run while holding mutex (a handle, so a temporary one will do); its
// result.
template <typename F>
auto with_lock(Robust_Mutex mutex, F&& f) -> decltype(f())
{
    std::lock_guard<Robust_Mutex> guard(mutex);
    return f();
}
