#pragma once

#include <pthread.h>
#include <semaphore.h>

#include <cstddef>

#include "xelo_thread_mtx_wrapper.h"  // Thread_Error

class Stop_Flag;

// One named thread, owned by an object: the owner's destructor raises the
// stop flag the body watches and joins the thread. The thread starts with
// SIGINT and SIGTERM blocked, so that only the thread that waits for them
// (wait_for_stop_signal) or the main thread takes them.
class Framework_Thread {
public:
    explicit Framework_Thread(Stop_Flag& stop);
    ~Framework_Thread();
    Framework_Thread(const Framework_Thread&) = delete;
    Framework_Thread& operator=(const Framework_Thread&) = delete;

    // Starts body(arg) through pthread_create_and_set_name_ex, on a stack of
    // stack_size bytes (0: the system's default). The name is cut to the 15
    // characters the kernel keeps. Throws "pthread_attr_init" /
    // "pthread_attr_setstacksize" + the system's text, or the errors of
    // pthread_create_and_set_name_ex (Thread_Error when no thread started).
    void start_ex(void* (*body)(void*), void* arg, const char* name, std::size_t stack_size = 0);
    // Waits for the body to return; nothing when not started or already joined.
    // A failed join throws Thread_Error " Warning... return code from pthread_join() is " + text.
    void join_ex();
    bool is_started() const { return m_joinable; }

private:
    // The body starts only once the creator has named the thread, so that a
    // body that returns at once cannot make the naming fail.
    static void* run_when_named(void* self);
    void create_ex(const pthread_attr_t* attributes, const char* name);

    Stop_Flag& m_stop;
    pthread_t m_thread{};
    bool m_joinable = false;
    void* (*m_body)(void*) = nullptr;
    void* m_arg = nullptr;
    sem_t m_named;
};

// Sets SCHED_FIFO at the priority on the calling thread: 0, or the error
// number of the refusal (each caller reports it in its own words).
int set_fifo_priority(int priority);

// set_fifo_priority for the server's threads. A refusal is reported as ERR
// failure_text + the system's text and ends the process with a failure
// status: a server thread must not run at the wrong priority.
void set_own_fifo_priority_or_exit(int priority, const char* failure_text);
