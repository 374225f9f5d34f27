#pragma once

#include <pthread.h>
#include <semaphore.h>

#include <string>

// Semaphore, thread and mutex helpers: every failure of the system call
// becomes a std::runtime_error carrying the system's error text.

// Initialises the semaphore and leaves its count at 0, whatever value says.
void init_sem_ex(sem_t* semaphore, int pshared, unsigned int value, std::string sem_name);

// Starts a thread and names it (at most 15 characters).
void pthread_create_and_set_name_ex(pthread_t* __newthread, const pthread_attr_t* __attr,
                                    void* (*__start_routine)(void*), void* __arg, const char* __name);

// Initialises attr with the three switches; a process-shared mutex is also
// made robust, so that a holder that dies cannot freeze the other processes.
void set_pthread_mutex_attr_ex(pthread_mutexattr_t* attr, bool pshared, bool prio_inherit, bool error_check);

void init_pthread_mutex_ex(pthread_mutex_t* mutex, bool pshared, bool prio_inherit, bool error_check);

void mutex_lock_ex(pthread_mutex_t* mutex, std::string mutex_name, std::string pthread_name);
void mutex_unlock_ex(pthread_mutex_t* mutex, std::string mutex_name, std::string pthread_name);

// pthread_mutex_lock that recovers a robust mutex whose holder died: the
// mutex is marked consistent, a WAR line names it, and 0 is returned.
int lock_recovering_dead_owner(pthread_mutex_t* mutex, const std::string& mutex_name);

// Scope guard over mutex_lock_ex / mutex_unlock_ex. An unlock failure in the
// destructor is logged by mutex_unlock_ex and not thrown further.
class Mutex_Guard {
public:
    Mutex_Guard(pthread_mutex_t* mutex, std::string mutex_name, std::string pthread_name);
    ~Mutex_Guard();
    Mutex_Guard(const Mutex_Guard&) = delete;
    Mutex_Guard& operator=(const Mutex_Guard&) = delete;

private:
    pthread_mutex_t* m_mutex;
    std::string m_mutex_name;
    std::string m_pthread_name;
};
