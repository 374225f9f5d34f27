#include "xelo_thread_mtx_wrapper.h"

#include <cerrno>
#include <cstring>
#include <stdexcept>

#include "robust_mutex.h"
#include "xelo_log.h"

namespace {
std::string code_text(int code)
{
    return std::to_string(code) + " " + std::strerror(code);
}
}  // namespace

void init_sem_ex(sem_t* semaphore, int pshared, unsigned int value, std::string /*sem_name*/)
{
    if (sem_init(semaphore, pshared, value) == -1) {
        if (sem_destroy(semaphore) == -1)
            throw std::runtime_error(std::string("Failed to sem_destroy ") + std::strerror(errno));
        if (sem_init(semaphore, pshared, value) == -1)
            throw std::runtime_error(std::string("Failed to sem_init again... ") + std::strerror(errno));
    }
    int tmp_sem_value = 0;
    if (sem_getvalue(semaphore, &tmp_sem_value) != 0)
        throw std::runtime_error(std::string("Failed to sem_getvalue... ") + std::strerror(errno));
    while (tmp_sem_value > 0) {
        if (sem_wait(semaphore) != 0)
            throw std::runtime_error(std::string("Failed to sem_wait... ") + std::strerror(errno));
        sem_getvalue(semaphore, &tmp_sem_value);
    }
}

namespace {
// A new thread starts its routine only once its creator has named it: a
// routine that ends at once would leave no thread to name.
struct Named_Start {
    void* (*routine)(void*);
    void* arg;
    sem_t named;
};

void* start_when_named(void* raw)
{
    auto* start = static_cast<Named_Start*>(raw);
    while (sem_wait(&start->named) != 0) {
    }
    void* (*routine)(void*) = start->routine;
    void* arg = start->arg;
    sem_destroy(&start->named);
    delete start;
    return routine(arg);
}
}  // namespace

void pthread_create_and_set_name_ex(pthread_t* __newthread, const pthread_attr_t* __attr,
                                    void* (*__start_routine)(void*), void* __arg, const char* __name)
{
    auto* start = new Named_Start{__start_routine, __arg, {}};
    sem_init(&start->named, 0, 0);
    const int thread_rc = pthread_create(__newthread, __attr, start_when_named, start);
    if (thread_rc != 0) {
        sem_destroy(&start->named);
        delete start;
        throw Thread_Error(std::string("Failed to create operational Framework Thread: ") + __name +
                               std::strerror(thread_rc),
                           thread_rc);
    }
    const int name_rc = pthread_setname_np(*__newthread, __name);
    sem_post(&start->named);  // the thread runs from here on, named or not
    if (name_rc != 0)
        throw std::runtime_error("-- FrameworkTask -> pthread_set_name_np error!!! ");
}

void set_pthread_mutex_attr_ex(pthread_mutexattr_t* attr, bool pshared, bool prio_inherit, bool error_check)
{
    auto check = [](int ret_val, const char* log_text, const char* exception_text) {
        if (ret_val == 0)
            return;
        log_err(log_text + code_text(ret_val));
        throw std::runtime_error(exception_text + std::string(std::strerror(ret_val)));
    };
    check(pthread_mutexattr_init(attr), "pthread_mutexattr_init error = ", "Failed to pthread_mutexattr_init ->");
    if (pshared) {
        check(pthread_mutexattr_setpshared(attr, PTHREAD_PROCESS_SHARED),
              "pthread_mutexattr_setpshared error = ", "Failed to pthread_mutexattr_setpshared ->");
        check(pthread_mutexattr_setrobust(attr, PTHREAD_MUTEX_ROBUST),
              "pthread_mutexattr_setrobust error = ", "Failed to pthread_mutexattr_setrobust ->");
    }
    if (prio_inherit)
        check(pthread_mutexattr_setprotocol(attr, PTHREAD_PRIO_INHERIT),
              "pthread_mutexattr_setprotocol error = ", "Failed to pthread_mutexattr_setprotocol ->");
    if (error_check)
        check(pthread_mutexattr_settype(attr, PTHREAD_MUTEX_ERRORCHECK),
              "pthread_mutexattr_settype error = ", "Failed pthread_mutexattr_settype error ");
}

void init_pthread_mutex_ex(pthread_mutex_t* mutex, bool pshared, bool prio_inherit, bool error_check)
{
    pthread_mutexattr_t attr_mutex;
    set_pthread_mutex_attr_ex(&attr_mutex, pshared, prio_inherit, error_check);
    int ret_val = pthread_mutex_init(mutex, &attr_mutex);
    if (ret_val != 0) {
        log_war("pthread_mutex_init error = " + code_text(ret_val) + " retry ...");
        ret_val = pthread_mutex_destroy(mutex);
        if (ret_val != 0) {
            pthread_mutexattr_destroy(&attr_mutex);
            log_err("pthread_mutex_destroy error = " + code_text(ret_val));
            throw std::runtime_error(std::string("Failed to pthread_mutex_destroy ") + std::strerror(ret_val));
        }
        ret_val = pthread_mutex_init(mutex, &attr_mutex);
        if (ret_val != 0) {
            pthread_mutexattr_destroy(&attr_mutex);
            log_err("pthread_mutex_init error = " + code_text(ret_val));
            throw std::runtime_error(std::string("Failed to pthread_mutex_init again... ") + std::strerror(ret_val));
        }
    }
    pthread_mutexattr_destroy(&attr_mutex);
}

void mutex_lock_ex(pthread_mutex_t* mutex, std::string mutex_name, std::string pthread_name)
{
    Robust_Mutex(mutex, mutex_name, pthread_name.c_str()).lock();
}

void mutex_unlock_ex(pthread_mutex_t* mutex, std::string mutex_name, std::string pthread_name)
{
    Robust_Mutex(mutex, mutex_name, pthread_name.c_str()).unlock_ex();
}
