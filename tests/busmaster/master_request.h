// One request to busmaster's command server, as a client sends it.
#pragma once

#include <chrono>
#include <stdexcept>
#include <string>

#include "xelo_client_socket_udp.h"
#include "xelo_ethercat_system_types.h"

// The next reply line of the client; "<none>" when none came within its
// receive time-out.
inline std::string reply_of(ClientSocket_Udp_ex& client)
{
    std::string reply;
    try {
        client >> reply;
    } catch (const std::runtime_error&) {
        return "<none>";
    }
    return reply;
}

// The reply's text without the request id; "<none>" when no reply came
// within the time-out, "<bad id> ..." when it answered another request.
inline std::string ask(const std::string& command, std::chrono::seconds timeout = std::chrono::seconds(5))
{
    ClientSocket_Udp_ex client(ecm_protocol::CLIENT_ADDRESS, ecm_protocol::PORT, true, timeout.count(), 0);
    client << "7#" + command;
    const std::string reply = reply_of(client);
    if (reply == "<none>")
        return reply;
    return reply.rfind("7#", 0) == 0 ? reply.substr(2) : "<bad id> " + reply;
}
