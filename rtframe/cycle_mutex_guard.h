#pragma once

#include <pthread.h>

class Rt_Log;

// Scope guard for the process-shared mutexes that the real-time cycle takes:
// no allocation on the way in or out. A mutex whose holder died (a client
// killed inside its refresh) is made consistent and taken, with a WAR line.
// A failed lock throws "Failed to mutex_lock_ex -> " + name + " " + the
// system's text, after an ERR line; a failed unlock is logged as ERR.
class Cycle_Mutex_Guard {
public:
    Cycle_Mutex_Guard(pthread_mutex_t* mutex, const char* mutex_name, const char* pthread_name, Rt_Log& log);
    ~Cycle_Mutex_Guard();
    Cycle_Mutex_Guard(const Cycle_Mutex_Guard&) = delete;
    Cycle_Mutex_Guard& operator=(const Cycle_Mutex_Guard&) = delete;

private:
    pthread_mutex_t* m_mutex;
    const char* m_mutex_name;
    const char* m_pthread_name;
    Rt_Log& m_log;
};
