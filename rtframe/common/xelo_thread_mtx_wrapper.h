#pragma once

#include <pthread.h>
#include <semaphore.h>

#include <stdexcept>
#include <string>

// Semaphore, thread and mutex helpers: every failure of the system call
// becomes a std::runtime_error carrying the system's error text.

// Initialises the semaphore and leaves its count at 0, whatever value says.
void init_sem_ex(sem_t* semaphore, int pshared, unsigned int value, std::string sem_name);

// A thread that could not be started or joined, with the system's error
// number, so that a caller can report it in its own words.
class Thread_Error : public std::runtime_error {
public:
    Thread_Error(const std::string& text, int code) : std::runtime_error(text), m_code(code) {}
    int code() const { return m_code; }

private:
    int m_code;
};

// Starts a thread and names it (at most 15 characters); the routine runs
// once the name is set (or refused, which throws after the thread started).
// A refused start throws Thread_Error.
void pthread_create_and_set_name_ex(pthread_t* __newthread, const pthread_attr_t* __attr,
                                    void* (*__start_routine)(void*), void* __arg, const char* __name);

// Initialises attr with the three switches; a process-shared mutex is also
// made robust, so that a holder that dies cannot freeze the other processes.
void set_pthread_mutex_attr_ex(pthread_mutexattr_t* attr, bool pshared, bool prio_inherit, bool error_check);

void init_pthread_mutex_ex(pthread_mutex_t* mutex, bool pshared, bool prio_inherit, bool error_check);

// One-line calls into Robust_Mutex (robust_mutex.h): a dead holder is
// recovered, failures throw after an ERR line naming the thread.
void mutex_lock_ex(pthread_mutex_t* mutex, std::string mutex_name, std::string pthread_name);
void mutex_unlock_ex(pthread_mutex_t* mutex, std::string mutex_name, std::string pthread_name);
