#include "framework_thread.h"

#include <sched.h>
#include <signal.h>

#include <cstdlib>
#include <cstring>
#include <exception>
#include <stdexcept>
#include <string>

#include "stop_flag.h"
#include "xelo_log.h"
#include "xelo_thread_mtx_wrapper.h"

Framework_Thread::Framework_Thread(Stop_Flag& stop) : m_stop(stop)
{
    init_sem_ex(&m_named, 0, 0, "m_named");
}

Framework_Thread::~Framework_Thread()
{
    m_stop.request();
    if (m_joinable)
        pthread_join(m_thread, nullptr);
    sem_destroy(&m_named);
}

void* Framework_Thread::run_when_named(void* self)
{
    auto* thread = static_cast<Framework_Thread*>(self);
    while (sem_wait(&thread->m_named) != 0) {
    }
    return thread->m_body(thread->m_arg);
}

void Framework_Thread::start_ex(void* (*body)(void*), void* arg, const char* name)
{
    sigset_t stop_signals;
    sigset_t previous;
    sigemptyset(&stop_signals);
    sigaddset(&stop_signals, SIGINT);
    sigaddset(&stop_signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stop_signals, &previous);
    m_body = body;
    m_arg = arg;
    std::exception_ptr failure;
    try {
        pthread_create_and_set_name_ex(&m_thread, nullptr, run_when_named, this, name);
        m_joinable = true;
    } catch (const std::exception& error) {
        // A naming failure leaves a running thread: it is still ours to join.
        m_joinable = std::strncmp(error.what(), "-- FrameworkTask", 16) == 0;
        failure = std::current_exception();
    }
    if (m_joinable)
        sem_post(&m_named);
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    if (failure)
        std::rethrow_exception(failure);
}

void Framework_Thread::join_ex()
{
    if (!m_joinable)
        return;
    m_joinable = false;
    const int rc = pthread_join(m_thread, nullptr);
    if (rc != 0)
        throw std::runtime_error(std::string(" Warning... return code from pthread_join() is ") + std::strerror(rc));
}

void set_own_fifo_priority_or_exit(int priority, const char* failure_text)
{
    sched_param param{};
    param.sched_priority = priority;
    const int rc = pthread_setschedparam(pthread_self(), SCHED_FIFO, &param);
    if (rc == 0)
        return;
    log_err(std::string(failure_text) + std::strerror(rc));
    std::_Exit(EXIT_FAILURE);
}
