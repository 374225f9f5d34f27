#pragma once

#include "xelo_socket_udp.h"

// A UDP socket aimed at a server; with time_out_active its reads give up
// after the time-out.
class ClientSocket_Udp_ex : public Socket_Udp {
public:
    ClientSocket_Udp_ex(const char* idhost, int port, bool time_out_active, long time_out_sec, long time_out_usec);
    ~ClientSocket_Udp_ex() override;
};
