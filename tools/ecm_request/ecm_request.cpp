// Sends one request to busmaster's command server and prints the reply.
//
//   ecm_request [--address A] [--port P] [--wait SECONDS] [--reply-timeout SECONDS]
//               "<id>#<command> <args>"
//
// With --wait it asks again every 200 ms until a reply comes or the seconds
// have passed (a master that is still starting). With --reply-timeout it
// asks once and waits that long for the reply (a request that takes time,
// such as a start, must not be sent twice). Exit status 0 when a reply
// came, 1 otherwise.
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <stdexcept>
#include <string>

#include "xelo_client_socket_udp.h"
#include "xelo_ethercat_system_types.h"

int main(int argc, char* argv[])
{
    std::string address = ecm_protocol::CLIENT_ADDRESS;
    int port = ecm_protocol::PORT;
    double wait_seconds = 0;
    long reply_timeout_us = 0;
    std::string request;
    for (int i = 1; i < argc; ++i) {
        const std::string word = argv[i];
        if (word == "--address" && i + 1 < argc)
            address = argv[++i];
        else if (word == "--port" && i + 1 < argc)
            port = std::atoi(argv[++i]);
        else if (word == "--wait" && i + 1 < argc)
            wait_seconds = std::atof(argv[++i]);
        else if (word == "--reply-timeout" && i + 1 < argc)
            reply_timeout_us = static_cast<long>(std::atof(argv[++i]) * 1e6);
        else
            request = word;
    }
    if (request.empty()) {
        std::cerr << "usage: ecm_request [--address A] [--port P] [--wait SECONDS] [--reply-timeout SECONDS] "
                     "\"<id>#<command> <args>\"\n";
        return 2;
    }
    constexpr long TRY_US = 200000;
    const long try_us = reply_timeout_us > 0 ? reply_timeout_us : TRY_US;
    const int tries = reply_timeout_us > 0 ? 1 : 1 + static_cast<int>(wait_seconds * 1e6 / TRY_US);
    try {
        ClientSocket_Udp_ex client(address.c_str(), port, true, try_us / 1000000, try_us % 1000000);
        for (int attempt = 0; attempt < tries; ++attempt) {
            client << request;
            std::string reply;
            try {
                client >> reply;
            } catch (const std::runtime_error&) {
                continue;  // no reply within this try
            }
            std::cout << reply << std::endl;
            return 0;
        }
    } catch (const std::exception& e) {
        std::cerr << e.what() << "\n";
        return 1;
    }
    std::cerr << "no reply from " << address << ":" << port << "\n";
    return 1;
}
