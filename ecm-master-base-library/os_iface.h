#pragma once

#include <sys/time.h>

// Socket options of the raw EtherCAT socket.

// Receive and send time-outs of 1 us and SO_DONTROUTE; 0 or the failing
// setsockopt result.
int os_socket_option(int psock);

// Makes the socket non-blocking; 0, or -1 / the failing fcntl result.
int os_socket_set_timeout(int psock);

// CLOCK_MONOTONIC as seconds and microseconds; tz is ignored. The clock
// call's result; tv is left untouched when it fails.
int gettimeofday_xenomai(struct timeval* tv, struct timezone* tz);
