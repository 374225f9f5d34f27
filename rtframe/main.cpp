// rtframe: the framework server. Reads its options, locks its memory and
// runs one framework object per pass of the restart loop.
#include <getopt.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "framework_fatal.h"
#include "framework_stopped.h"
#include "memory_lock.h"
#include "stop_flag.h"
#include "xelo_framework.h"
#include "xelo_log.h"

namespace {
std::string cfg_file_use = "/usr/local/etc/rtframe/application_descriptor.xml";
std::string bridge_descriptor_file;
bool single_connection = false;
bool master_simulation = false;
bool xml_split_local_root = false;
bool is_bridge_enabled = false;
bool is_bridge_master = false;
uint32_t bridge_running_delay_ms = Framework_Socket_Bridge::DEFAULT_RUNNING_DELAY_MS;

// Long-only options.
constexpr int BRIDGE_RUNNING_DELAY = 1000;

const option long_options[] = {
    {"single-connection", no_argument, nullptr, 's'},
    {"master-offline", no_argument, nullptr, 'o'},
    {"develop", no_argument, nullptr, 'd'},
    {"bridge-master", no_argument, nullptr, 'm'},
    {"config-file", required_argument, nullptr, 'c'},
    {"bridge-descriptor", required_argument, nullptr, 'b'},
    {"bridge-running-delay-ms", required_argument, nullptr, BRIDGE_RUNNING_DELAY},
    {"help", no_argument, nullptr, 'h'},
    {nullptr, 0, nullptr, 0},
};

void print_help()
{
    log_inf("\t XELO EtherCAT Framework Help ");
    log_inf("\t <-- Option not necessary -->");
    log_inf(
        "\t\t --config-file [c] filename : configuration file [ default = "
        "/usr/local/etc/rtframe/application_descriptor.xml ]");
    log_inf("\t\t --single-connection [s] : [ default = 0 / OFF ]");
    log_inf("\t\t --master-offline [o] : master ethercat simulation ");
    log_inf("\t\t --develop [d] : xml file split root is the local defined one");
    log_inf("\t\t --bridge-descriptor [b] : bridge descriptor file");
    log_inf("\t\t --bridge-master [m] : is bridge master");
    log_inf("\t\t --bridge-running-delay-ms ms : running threads before the bridge reports running [ default = 5000 ]");
    log_inf("\t\t --help [h] : print this help ");
}

enum class Parsed { RUN, HELP, BAD_OPTION };

// A whole number of milliseconds, 0 to 4294967295; false for anything else.
bool parse_delay_ms(const char* text, uint32_t* value)
{
    char* end = nullptr;
    errno = 0;
    const unsigned long long parsed = std::strtoull(text, &end, 10);
    if (text[0] < '0' || text[0] > '9' || *end != '\0' || errno != 0 || parsed > UINT32_MAX)
        return false;
    *value = static_cast<uint32_t>(parsed);
    return true;
}

Parsed parse_options(int argc, char** argv)
{
    for (;;) {
        opterr = 0;
        const int option = getopt_long(argc, argv, "sodmc:b:h", long_options, nullptr);
        switch (option) {
        case -1: return Parsed::RUN;
        case 's':
            single_connection = true;
            log_war("### Arg -> Single Connection On ###");
            break;
        case 'o':
            master_simulation = true;
            log_war("### Arg -> Master Simulation On ###");
            break;
        case 'd':
            xml_split_local_root = true;
            log_war("### Arg -> Load from Local Path On ###");
            break;
        case 'm':
            is_bridge_master = true;
            log_war("### Arg -> Is Bridge Master On ###");
            break;
        case 'c':
            cfg_file_use = optarg;
            log_war("### Arg -> Config file: " + cfg_file_use + " ###");
            break;
        case 'b':
            bridge_descriptor_file = optarg;
            is_bridge_enabled = true;
            log_war("### Arg -> Bridge Descriptor: " + bridge_descriptor_file + " ###");
            break;
        case BRIDGE_RUNNING_DELAY:
            if (!parse_delay_ms(optarg, &bridge_running_delay_ms)) {
                print_help();
                return Parsed::BAD_OPTION;
            }
            log_war("### Arg -> Bridge Running Delay: " + std::to_string(bridge_running_delay_ms) + " ms ###");
            break;
        case 'h': print_help(); return Parsed::HELP;
        default: print_help(); return Parsed::BAD_OPTION;
        }
    }
}

// Checks of the parsed options; the error text, or empty when rtframe can run.
std::string option_error()
{
    if (is_bridge_master && !is_bridge_enabled)
        return "Bridge master enabled but no bridge descriptor loaded!";
    return "";
}

void lock_memory()
{
    if (lock_process_memory() != 0)
        log_war("### mlockall failed: running with unlocked memory ###");
}

// One pass: builds the framework object, which returns when its real-time
// thread has ended; destroying it stops the pass's other threads. false when
// a fault ends rtframe for good (its ERR line is already written).
bool run_pass()
{
    try {
        XELO_Framework_ex framework(cfg_file_use, master_simulation, single_connection, xml_split_local_root,
                                    is_bridge_enabled, is_bridge_master, bridge_descriptor_file,
                                    bridge_running_delay_ms);
    } catch (const Framework_Stopped&) {
        // the stop request ends the loop below
    } catch (const Framework_Fatal&) {
        return false;
    } catch (const std::exception& error) {
        log_err(error.what());
    }
    return true;
}

int stop_requested_exit()
{
    log_war("### Stop Requested ... Exit ###");
    return EXIT_SUCCESS;
}
}  // namespace

int main(int argc, char** argv)
{
    log_inf("### XELO EtherCAT Framework ###");
    switch (parse_options(argc, argv)) {
    case Parsed::HELP: return EXIT_SUCCESS;
    case Parsed::BAD_OPTION: log_err("### Option not recognized! ###"); return EXIT_FAILURE;
    case Parsed::RUN: break;
    }
    const std::string error = option_error();
    if (!error.empty()) {
        log_err(error);
        return EXIT_FAILURE;
    }
    lock_memory();
    install_stop_signal_handlers();
    for (;;) {
        if (!run_pass()) {
            log_err("### Fatal configuration error ... Exit ###");
            return EXIT_FAILURE;
        }
        if (process_stop_flag().is_set())
            return stop_requested_exit();
        if (single_connection) {
            log_war("### Single Connection On ... Exit ###");
            return EXIT_SUCCESS;
        }
        log_war("### Try Connection Restart ... ###");
        if (process_stop_flag().sleep_for(1000))
            return stop_requested_exit();
    }
}
