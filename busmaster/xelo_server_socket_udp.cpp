#include "xelo_server_socket_udp.h"

ServerSocket_Udp_ex::ServerSocket_Udp_ex(const char* ip, int port)
{
    create_socket();
    bind_socket(ip, port);
}

ServerSocket_Udp_ex::~ServerSocket_Udp_ex() = default;
