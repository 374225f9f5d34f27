#include "os_iface.h"

#include <fcntl.h>
#include <sys/socket.h>

#include <ctime>

#include "ecm_log.h"

int os_socket_option(int psock)
{
    ecm_log_inf("psock " + std::to_string(psock));
    timeval shortest{0, 1};
    int result = setsockopt(psock, SOL_SOCKET, SO_RCVTIMEO, &shortest, sizeof(shortest));
    if (result != 0) {
        ecm_log_err("Error on setsockopt SO_RCVTIMEO " + std::to_string(result));
        return result;
    }
    result = setsockopt(psock, SOL_SOCKET, SO_SNDTIMEO, &shortest, sizeof(shortest));
    if (result != 0) {
        ecm_log_err("Error on setsockopt SO_SNDTIMEO " + std::to_string(result));
        return result;
    }
    const int dont_route = 1;
    result = setsockopt(psock, SOL_SOCKET, SO_DONTROUTE, &dont_route, sizeof(dont_route));
    if (result != 0) {
        ecm_log_err("Error on setsockopt SO_DONTROUTE " + std::to_string(result));
        return result;
    }
    return 0;
}

int os_socket_set_timeout(int psock)
{
    const int flags = fcntl(psock, F_GETFL, 0);
    if (flags < 0) {
        ecm_log_err("Error on fcntl  F_GETFL -1");
        return -1;
    }
    const int result = fcntl(psock, F_SETFL, flags | O_NONBLOCK);
    if (result < 0) {
        ecm_log_err("Error on fcntl  F_SETFL " + std::to_string(result));
        return result;
    }
    return 0;
}

int gettimeofday_xenomai(struct timeval* tv, struct timezone* /*tz*/)
{
    timespec now{};
    const int result = clock_gettime(CLOCK_MONOTONIC, &now);
    if (result == 0) {
        tv->tv_sec = now.tv_sec;
        tv->tv_usec = now.tv_nsec / 1000;
    }
    return result;
}
