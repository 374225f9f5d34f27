// rtde_follow: follows a robot controller over RTDE for some seconds with
// RtdeInterface, as cellapp does, and prints what it saw.
//   rtde_follow [--address A] [--port P] [--seconds S] [--start-timeout S]
// Exit status 0 when packages arrived, 1 otherwise (or when init failed,
// a start refused for longer than the start time-out, 30 s, included).
#include <getopt.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>
#include <thread>

#include "rtde_interface.h"
#include "rtde_port.h"

namespace {
std::atomic<long> g_packages{0};
void count_package()
{
    ++g_packages;
}
}  // namespace

int main(int argc, char** argv)
{
    std::string address = "127.0.0.1";
    int port = rtde_client::RTDE_PORT;
    double seconds = 3;
    auto start_limit = RtdeInterface::DEFAULT_START_LIMIT;
    static const option options[] = {{"address", required_argument, nullptr, 'a'},
                                     {"port", required_argument, nullptr, 'p'},
                                     {"seconds", required_argument, nullptr, 's'},
                                     {"start-timeout", required_argument, nullptr, 't'},
                                     {nullptr, 0, nullptr, 0}};
    for (int c; (c = getopt_long(argc, argv, "a:p:s:t:", options, nullptr)) != -1;) {
        if (c == 'a')
            address = optarg;
        else if (c == 'p')
            port = std::atoi(optarg);
        else if (c == 's')
            seconds = std::atof(optarg);
        else if (c == 't' && std::atof(optarg) > 0.0)
            start_limit = std::chrono::milliseconds(static_cast<long>(std::atof(optarg) * 1000.0));
        else {
            std::fprintf(stderr, "usage: %s [--address A] [--port P] [--seconds S] [--start-timeout S]\n", argv[0]);
            return 2;
        }
    }
    try {
        RtdeInterface follower(address, port, 125, true);
        follower.set_function_pointer(&count_package);
        follower.set_start_limit(start_limit);
        follower.init();
        std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
        std::printf("rtde_follow: %ld packages in %.1f s; status %d, program running %d, safeguard %d\n",
                    g_packages.load(), seconds, static_cast<int>(follower.get_robot_program_status()),
                    follower.is_program_running() ? 1 : 0, follower.is_safeguard_active() ? 1 : 0);
        return g_packages > 0 ? 0 : 1;
    } catch (const std::exception& e) {
        std::printf("rtde_follow: %s\n", e.what());
        return 1;
    }
}
