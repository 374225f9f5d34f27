#pragma once

#include "xelo_socket_udp.h"

// A UDP socket bound to a local address and port; it answers each datagram
// to its sender.
class ServerSocket_Udp_ex : public Socket_Udp {
public:
    ServerSocket_Udp_ex(const char* ip, int port);
    ~ServerSocket_Udp_ex() override;
};
