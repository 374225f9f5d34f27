// axmand: the axes manager.
//   axmand [--number|-n <manager number>] [--cycle_time|-c <microseconds, 0 = master cycle>]

#include <getopt.h>

#include <cstdio>
#include <cstdlib>
#include <stdexcept>

#include "axes_manager.h"
#include "axmand_log.h"
#include "memory_lock.h"
#include "stop_flag.h"
#include "xelo_string_functions.h"

using XELO_String_Functions::num2str;

namespace {
int32_t axes_manager_cycle_time = 0;

const option long_options[] = {
    {"number", required_argument, nullptr, 'n'},
    {"cycle_time", required_argument, nullptr, 'c'},
    {nullptr, 0, nullptr, 0},
};

void read_options(int argc, char* argv[], uint32_t& number)
{
    for (;;) {
        opterr = 0;
        const int option = getopt_long(argc, argv, "n:c:", long_options, nullptr);
        if (option == -1)
            return;
        switch (option) {
        case 'n': number = static_cast<uint32_t>(std::strtoul(optarg, nullptr, 10)); break;
        case 'c': axes_manager_cycle_time = static_cast<int32_t>(std::strtol(optarg, nullptr, 10)); break;
        default: throw std::runtime_error("### Option not recognized! ###");
        }
    }
}
}  // namespace

int main(int argc, char* argv[])
{
    lock_process_memory();
    log_inf("#### XELO ROBOT CONTROL ###");

    uint32_t manager_number = 0;
    try {
        read_options(argc, argv, manager_number);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 2;
    }
    log_inf(std::string(axmand_colour::YELLOW) + " \t [axes manager number ] ::: " + num2str(manager_number) +
            axmand_colour::RESET);
    log_inf(std::string(axmand_colour::YELLOW) +
            " \t [axes manager cycle time - ms ] ::: " + num2str(axes_manager_cycle_time) + axmand_colour::RESET);
    log_inf("[axes manager number ] ::: " + num2str(manager_number));

    // SIGINT and SIGTERM end the wait below; every thread inherits the mask.
    block_stop_signals();
    {
        Axes_Manager manager(manager_number, axes_manager_cycle_time);
        manager.init_ex();
        wait_for_stop_signal(-1);
        log_inf("[axes manager] stop requested");
    }
    return 0;
}
