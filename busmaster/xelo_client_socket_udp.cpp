#include "xelo_client_socket_udp.h"

ClientSocket_Udp_ex::ClientSocket_Udp_ex(const char* idhost, int port, bool time_out_active, long time_out_sec,
                                         long time_out_usec)
{
    create_socket();
    initialize_addr(idhost, port);
    if (time_out_active)
        time_out_on_receive(time_out_sec, time_out_usec);
}

ClientSocket_Udp_ex::~ClientSocket_Udp_ex() = default;
