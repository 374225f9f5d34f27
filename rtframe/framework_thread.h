#pragma once

#include <pthread.h>
#include <semaphore.h>

class Stop_Flag;

// One named thread of the framework server. The owner's destructor raises
// the stop flag the body watches and joins the thread. The thread starts
// with SIGINT and SIGTERM blocked, so that only the main thread takes them.
class Framework_Thread {
public:
    explicit Framework_Thread(Stop_Flag& stop);
    ~Framework_Thread();
    Framework_Thread(const Framework_Thread&) = delete;
    Framework_Thread& operator=(const Framework_Thread&) = delete;

    // pthread_create_and_set_name_ex with default attributes; throws its errors.
    void start_ex(void* (*body)(void*), void* arg, const char* name);
    // Waits for the body to return; nothing when not started or already joined.
    // A failed join throws " Warning... return code from pthread_join() is " + text.
    void join_ex();
    bool is_started() const { return m_joinable; }

private:
    // The body starts only once the creator has named the thread, so that a
    // body that returns at once cannot make the naming fail.
    static void* run_when_named(void* self);

    Stop_Flag& m_stop;
    pthread_t m_thread{};
    bool m_joinable = false;
    void* (*m_body)(void*) = nullptr;
    void* m_arg = nullptr;
    sem_t m_named;
};

// Sets SCHED_FIFO at the priority on the calling thread. A refusal is
// reported as ERR failure_text + the system's text and ends the process
// with a failure status: a server thread must not run at the wrong priority.
void set_own_fifo_priority_or_exit(int priority, const char* failure_text);
