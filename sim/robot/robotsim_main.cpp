// robotsim: a simulated robot controller speaking RTDE on a loopback address,
// commanded over a control socket (see robot_sim.h). Prints one ready line,
// runs until SIGINT or SIGTERM and then ends with status 0.
#include <getopt.h>

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>

#include "robot_sim.h"
#include "rtde_port.h"
#include "stop_flag.h"
#include "xelo_log.h"

namespace {
void usage(const char* program)
{
    std::printf(
        "usage: %s [--address A] [--port P] [--control-port C] [--controller-version MA.MI.BF.BU]\n"
        "          [--dump FILE] [--log-traffic]\n"
        "  --address A             IPv4 address to listen on (default 127.0.0.1)\n"
        "  --port P                RTDE port (default %u, 0 any free)\n"
        "  --control-port C        control socket on 127.0.0.1 (default 30005, 0 any free, -1 none)\n"
        "  --controller-version V  version answered to clients (default 5.11.0.1)\n"
        "  --dump FILE             every package received, one hex line each\n"
        "  --log-traffic           an INF line for every package in and out\n",
        program, static_cast<unsigned>(rtde_client::RTDE_PORT));
}

bool parse_port(const char* text, int low, int& port)
{
    char* end = nullptr;
    const long value = std::strtol(text, &end, 10);
    if (*text == '\0' || *end != '\0' || value < low || value > 65535)
        return false;
    port = static_cast<int>(value);
    return true;
}

bool parse_version(const std::string& text, std::array<uint32_t, 4>& version)
{
    unsigned v[4];
    char tail = 0;
    if (std::sscanf(text.c_str(), "%u.%u.%u.%u%c", &v[0], &v[1], &v[2], &v[3], &tail) != 4)
        return false;
    for (int i = 0; i < 4; ++i)
        version[static_cast<std::size_t>(i)] = v[i];
    return true;
}
}  // namespace

int main(int argc, char** argv)
{
    // The threads of the simulator inherit the blocked signals; main waits for them.
    block_stop_signals();

    robot_sim::Config config;
    config.control_port = 30005;
    static const option options[] = {
        {"address", required_argument, nullptr, 'a'},
        {"port", required_argument, nullptr, 'p'},
        {"control-port", required_argument, nullptr, 'c'},
        {"controller-version", required_argument, nullptr, 'v'},
        {"dump", required_argument, nullptr, 'd'},
        {"log-traffic", no_argument, nullptr, 'l'},
        {"help", no_argument, nullptr, 'h'},
        {nullptr, 0, nullptr, 0},
    };
    for (int c; (c = getopt_long(argc, argv, "a:p:c:v:d:lh", options, nullptr)) != -1;) {
        int port = 0;
        switch (c) {
        case 'a': config.address = optarg; break;
        case 'p':
            if (!parse_port(optarg, 0, port)) {
                std::fprintf(stderr, "robotsim: bad port %s\n", optarg);
                return 2;
            }
            config.port = static_cast<uint16_t>(port);
            break;
        case 'c':
            if (!parse_port(optarg, -1, port)) {
                std::fprintf(stderr, "robotsim: bad control port %s\n", optarg);
                return 2;
            }
            config.control_port = port;
            break;
        case 'v':
            if (!parse_version(optarg, config.controller_version)) {
                std::fprintf(stderr, "robotsim: bad controller version %s (MA.MI.BF.BU)\n", optarg);
                return 2;
            }
            break;
        case 'd': config.dump_path = optarg; break;
        case 'l': config.log_traffic = true; break;
        case 'h': usage(argv[0]); return 0;
        default: usage(argv[0]); return 2;
        }
    }
    if (optind < argc) {
        std::fprintf(stderr, "robotsim: unexpected argument %s\n", argv[optind]);
        return 2;
    }

    try {
        robot_sim::Robot_Controller_Sim sim(config);
        std::string ready = "[robotsim] ready: RTDE on " + config.address + ":" + std::to_string(sim.port());
        if (config.control_port >= 0)
            ready += ", control on 127.0.0.1:" + std::to_string(sim.control_port());
        log_inf(ready);
        wait_for_stop_signal(-1);
        log_inf("[robotsim] stopping");
    } catch (const std::exception& e) {
        log_err(std::string("[robotsim] ") + e.what());
        return 1;
    }
    return 0;
}
