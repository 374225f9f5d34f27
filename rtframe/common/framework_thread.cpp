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

namespace {
// The kernel keeps 15 characters of a thread's name.
constexpr std::size_t THREAD_NAME_LENGTH = 15;

// Attributes of the given stack size, destroyed by their owner.
class Thread_Attributes {
public:
    explicit Thread_Attributes(std::size_t stack_size)
    {
        int rc = pthread_attr_init(&m_attributes);
        if (rc != 0)
            throw std::runtime_error(std::string("pthread_attr_init") + std::strerror(rc));
        rc = pthread_attr_setstacksize(&m_attributes, stack_size);
        if (rc != 0) {
            pthread_attr_destroy(&m_attributes);
            throw std::runtime_error(std::string("pthread_attr_setstacksize") + std::strerror(rc));
        }
    }
    ~Thread_Attributes() { pthread_attr_destroy(&m_attributes); }
    Thread_Attributes(const Thread_Attributes&) = delete;
    Thread_Attributes& operator=(const Thread_Attributes&) = delete;
    const pthread_attr_t* get() const { return &m_attributes; }

private:
    pthread_attr_t m_attributes;
};
}  // namespace

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

void Framework_Thread::start_ex(void* (*body)(void*), void* arg, const char* name, std::size_t stack_size)
{
    m_body = body;
    m_arg = arg;
    const std::string kept_name = std::string(name).substr(0, THREAD_NAME_LENGTH);
    if (stack_size == 0) {
        create_ex(nullptr, kept_name.c_str());
        return;
    }
    const Thread_Attributes attributes(stack_size);
    create_ex(attributes.get(), kept_name.c_str());
}

void Framework_Thread::create_ex(const pthread_attr_t* attributes, const char* name)
{
    sigset_t previous;
    block_stop_signals(&previous);
    std::exception_ptr failure;
    try {
        pthread_create_and_set_name_ex(&m_thread, attributes, run_when_named, this, name);
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
        throw Thread_Error(std::string(" Warning... return code from pthread_join() is ") + std::strerror(rc), rc);
}

int set_fifo_priority(int priority)
{
    sched_param param{};
    param.sched_priority = priority;
    return pthread_setschedparam(pthread_self(), SCHED_FIFO, &param);
}

void set_own_fifo_priority_or_exit(int priority, const char* failure_text)
{
    const int rc = set_fifo_priority(priority);
    if (rc == 0)
        return;
    log_err(std::string(failure_text) + std::strerror(rc));
    std::_Exit(EXIT_FAILURE);
}
