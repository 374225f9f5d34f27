// ecatsim <interface> <segment-config-file> [options]: a simulated EtherCAT
// segment answering on a network interface. Prints one line when ready.

#include <cstdio>
#include <cstring>
#include <string>

#include "memory_lock.h"
#include "sim_server.h"
#include "stop_flag.h"

namespace {

void usage()
{
    std::fprintf(stderr,
                 "usage: ecatsim <interface> <segment-config-file> [--blocking] [--priority N] [--cpu N]\n"
                 "               [--control-port N] [--log datagrams|transitions|all] [--log-file PATH]\n");
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 3) {
        usage();
        return 2;
    }
    ecat_sim::Sim_Options options;
    options.interface = argv[1];
    options.priority = 80;
    const std::string config_path = argv[2];
    for (int i = 3; i < argc; ++i) {
        const std::string option = argv[i];
        const bool has_value = i + 1 < argc;
        if (option == "--blocking") {
            options.busy_poll = false;
        } else if (option == "--priority" && has_value) {
            options.priority = std::atoi(argv[++i]);
        } else if (option == "--cpu" && has_value) {
            options.cpu = std::atoi(argv[++i]);
        } else if (option == "--control-port" && has_value) {
            options.control_port = static_cast<uint16_t>(std::atoi(argv[++i]));
        } else if (option == "--log" && has_value) {
            const std::string what = argv[++i];
            options.log_datagrams = what == "datagrams" || what == "all";
            options.log_transitions = what == "transitions" || what == "all";
        } else if (option == "--log-file" && has_value) {
            options.log_path = argv[++i];
        } else {
            usage();
            return 2;
        }
    }
    try {
        if (lock_process_memory() != 0) {
            std::fprintf(stderr, "ecatsim: mlockall: %s\n", std::strerror(errno));
        }
        const ecat_sim::Segment_Config config = ecat_sim::load_segment_config(config_path);
        // Blocked before the simulator's threads start: they inherit the mask.
        block_stop_signals();
        ecat_sim::Ecat_Simulator simulator(config, options);
        std::printf("ecatsim ready on %s: %zu slaves, control port %u\n", options.interface.c_str(),
                    config.slaves.size(), simulator.control_port());
        std::fflush(stdout);
        wait_for_stop_signal(-1);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "ecatsim: %s\n", error.what());
        return 1;
    }
    return 0;
}
