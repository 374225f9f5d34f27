#pragma once

#include <pthread.h>

#include <mutex>
#include <string>

#include "xelo_log.h"

// The three operations whose failures a lock reports.
enum class Lock_Operation { lock, try_lock, unlock };

// Where a lock writes its lines: the WAR line of a recovered mutex and the
// ERR lines of failures. The default writes them at once (log_line); a
// real-time thread passes a sink that only queues them, a component with
// failure texts of its own overrides failed().
class Lock_Log_Sink {
public:
    virtual void write(Log_Level level, const char* text) noexcept = 0;
    // One failed operation on the mutex name, by owner (may be null). By
    // default the ERR line "[owner] mutex_lock_ex name ret_val = code text"
    // ("mutex_trylock_ex", "mutex_unlock_ex"; no "[owner] " without one),
    // through write().
    virtual void failed(Lock_Operation operation, const char* name, const char* owner, int code) noexcept;

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

    // The non-throwing forms: 0 when done, else the system's code after the
    // sink's failure line (try_lock_code's EBUSY, another holder, writes
    // none). A dead holder is recovered as by lock().
    [[nodiscard]] int lock_code() noexcept;
    [[nodiscard]] int try_lock_code() noexcept;
    [[nodiscard]] int unlock_code() noexcept;

    pthread_mutex_t* native_handle() const noexcept { return m_mutex; }
    const char* name() const noexcept { return m_name; }

    // Initialises a mutex that processes share in shared memory: process
    // shared, priority inheriting, robust and error checking.
    static void init_shared(pthread_mutex_t* mutex);

private:
    // The result of a lock call once a dead holder's mutex is recovered.
    int recovered(int code) noexcept;
    // code, after the sink's failure line when it is one.
    int reported(Lock_Operation operation, int code) noexcept;
    Lock_Log_Sink& sink() const noexcept;
    [[noreturn]] void throw_failure(Lock_Operation operation, int code) const;

    pthread_mutex_t* m_mutex;
    const char* m_name;
    const char* m_owner;
    Lock_Log_Sink* m_sink;
};

// The scope guard of code that must not throw: holds the mutex when locking
// succeeded and tells a failure as a value (after the sink's line); the end
// of the scope releases a mutex still held (a failure there is the sink's
// ERR line).
class Nothrow_Lock {
public:
    explicit Nothrow_Lock(Robust_Mutex mutex) noexcept : m_mutex(mutex), m_error(m_mutex.lock_code()) {}
    ~Nothrow_Lock()
    {
        if (m_held)
            m_mutex.unlock();
    }
    Nothrow_Lock(const Nothrow_Lock&) = delete;
    Nothrow_Lock& operator=(const Nothrow_Lock&) = delete;

    bool owns_lock() const noexcept { return m_held; }
    // 0 when the lock succeeded, else the system's code.
    int error() const noexcept { return m_error; }
    // Releases a held mutex: 0, or the system's code; not held afterwards
    // either way.
    [[nodiscard]] int unlock() noexcept
    {
        if (!m_held)
            return 0;
        m_held = false;
        return m_mutex.unlock_code();
    }

private:
    Robust_Mutex m_mutex;
    int m_error;
    bool m_held = m_error == 0;
};

// f() run while holding mutex (a handle, so a temporary one will do); its
// result.
template <typename F>
auto with_lock(Robust_Mutex mutex, F&& f) -> decltype(f())
{
    std::lock_guard<Robust_Mutex> guard(mutex);
    return f();
}
