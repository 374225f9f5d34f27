#include "periodic_timer.h"

#include <sys/timerfd.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>
#include <string>

#include "xelo_log.h"

Periodic_Timer::~Periodic_Timer()
{
    if (m_timer_fd != -1)
        close(m_timer_fd);
}

void Periodic_Timer::make_periodic_ex(uint32_t period_ns)
{
    log_war(" Master Offline: set thread periodic ts.tv_sec " + std::to_string(0) + " ts.tv_nsec " +
            std::to_string(period_ns));
    log_inf("make_periodic ( ... ) ");
    int err = 0;
    const int fd = timerfd_create(CLOCK_MONOTONIC, TFD_CLOEXEC);
    if (fd == -1) {
        err = -1;
    } else {
        if (m_timer_fd != -1)
            close(m_timer_fd);
        m_timer_fd = fd;
        const uint32_t sec = period_ns / 1000000000u;
        const uint32_t ns = period_ns - sec * 1000000000u;
        log_inf("\tsec: " + std::to_string(sec) + " ns: " + std::to_string(ns));
        itimerspec timer_value{};
        timer_value.it_interval.tv_sec = sec;
        timer_value.it_interval.tv_nsec = ns;
        timer_value.it_value = timer_value.it_interval;
        err = timerfd_settime(m_timer_fd, 0, &timer_value, nullptr);
    }
    if (err != 0) {
        log_err("[framework] [run_ex] Error on set thread periodic ");
        throw std::runtime_error(" Error on set thread periodic err :: " + std::to_string(err) + "... ESRCH(" +
                                 std::to_string(ESRCH) + ") ETIMEDOUT(" + std::to_string(ETIMEDOUT) + ")");
    }
}

int64_t Periodic_Timer::wait_period()
{
    uint64_t expirations = 0;
    if (read(m_timer_fd, &expirations, sizeof(expirations)) != static_cast<ssize_t>(sizeof(expirations)))
        return -1;
    return static_cast<int64_t>(expirations);
}
