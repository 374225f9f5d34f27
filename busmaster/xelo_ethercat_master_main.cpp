// busmaster: the EtherCAT master. main reads the command line, locks the
// process memory and starts the socket thread, which builds the command
// server and serves its clients for the rest of the program's life.

#include <getopt.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <string>

#include "ecm_log.h"
#include "framework_thread.h"
#include "memory_lock.h"
#include "stop_flag.h"
#include "xelo_ethercat_master_socket.h"

namespace {
constexpr int VERSION_MAJOR = 0;
constexpr int VERSION_MINOR = 32;
constexpr int VERSION_PATCH = 2;
constexpr std::size_t SOCKET_THREAD_STACK = 1638400;
constexpr int SOCKET_THREAD_PRIORITY = 55;

// Start settings: written by main before the socket thread exists, read
// once by it.
std::string cfg_file_use = "/usr/local/etc/busmaster/ecm_system_cfg.xml";
bool soft_realtime_on = false;
uint32_t soft_realtime_max_jitter_cycle = 0;
uint32_t max_consecutive_frame_faults = 20;
uint32_t min_gap_frame_ns = 100000;

const option long_options[] = {
    {"config_file", required_argument, nullptr, 'c'},
    {"soft_realtime_enable", required_argument, nullptr, 's'},
    {"max_consecutive_frame_faults", required_argument, nullptr, 'f'},
    {"gap_minimo_ns", required_argument, nullptr, 'g'},
    {"help", no_argument, nullptr, 'h'},
    {nullptr, 0, nullptr, 0},
};

void print_help()
{
    ecm_log_inf("\t XELO EtherCAT Master Help ");
    ecm_log_inf("\t <-- Option not necessary -->");
    ecm_log_inf(
        "\t\t --config_file [c] filename : configuration file [ default = "
        "/usr/local/etc/busmaster/ecm_system_cfg.xml ]");
    ecm_log_inf("\t\t --soft_realtime_enable [s] maxjittercycle: [ default = 0 / OFF ]");
    ecm_log_inf("\t\t --max_consecutive_frame_faults [f] max_consecutive_frame_faults: [ default = 20 ]");
    ecm_log_inf("\t\t --gap_minimo_ns [g] gap_minimo_ns: [ default = 100000 ]");
    ecm_log_inf("\t\t --help [h] : print this help ");
}

uint32_t decimal(const char* text)
{
    return static_cast<uint32_t>(std::strtol(text, nullptr, 10));
}

void* ManagerSocketStart(void* /*arg*/)
{
    try {
        ecm_log_inf("ManagerSocketStart( ... )");
        if (set_fifo_priority(SOCKET_THREAD_PRIORITY) != 0)
            throw std::runtime_error("Attention: pthread_setschedparam error !!!");

        auto master = std::make_unique<ECM_Master_Socket>(cfg_file_use, soft_realtime_on,
                                                          soft_realtime_max_jitter_cycle, max_consecutive_frame_faults);
        master->set_gap_minimo_ns(min_gap_frame_ns);
        if (master->view_system_state() != SYSTEM_SETUP_OK) {
            ecm_log_err("XELO EtherCAT master: end with problem ");
            return nullptr;
        }
        for (;;) {
            try {
                master->open_socket_real_udp();
            } catch (const std::exception& e) {
                ecm_log_err(std::string("XELO EtherCAT master ") + e.what());
                return nullptr;
            }
            try {
                while (master->is_system_real_udp_socket_active()) {
                    master->wait_request_real_udp();
                    master->execute_request_and_reply_real_udp();
                }
            } catch (const std::exception& e) {
                ecm_log_err(std::string("XELO EtherCAT master: ") + e.what() + " \n ... retry connect ...");
                master->close_connection_with_client_real_udp();
            }
        }
    } catch (const std::exception& e) {
        // Without its priority (or its object) the thread cannot serve.
        ecm_log_err(e.what());
    }
    return nullptr;
}

std::string error_text(int code)
{
    return std::strerror(code);
}
}  // namespace

int main(int argc, char* argv[])
{
    ecm_log_inf("XELO EtherCAT Master Version: " + std::to_string(VERSION_MAJOR) + "." + std::to_string(VERSION_MINOR) +
                "." + std::to_string(VERSION_PATCH));
    ecm_log_inf(std::string("build date&time: ") + __DATE__ + " " + __TIME__);
    try {
        opterr = 0;
        int option_char = 0;
        while ((option_char = getopt_long(argc, argv, "c:s:g:", long_options, nullptr)) != -1) {
            switch (option_char) {
            case 'c':
                cfg_file_use = optarg;
                ecm_log_war("Arg -> Config file: " + cfg_file_use);
                break;
            case 's':
                soft_realtime_max_jitter_cycle = decimal(optarg);
                soft_realtime_on = true;
                ecm_log_war("Arg -> Soft Realtime On [cycles: " + std::to_string(soft_realtime_max_jitter_cycle) + "]");
                break;
            case 'f':
                max_consecutive_frame_faults = decimal(optarg);
                ecm_log_war("Arg -> max_consecutive_frame_faults [--: " + std::to_string(max_consecutive_frame_faults) +
                            "]");
                break;
            case 'g':
                min_gap_frame_ns = decimal(optarg);
                ecm_log_war("Arg -> min_gap_frame_ns [--: " + std::to_string(min_gap_frame_ns) + "]");
                break;
            case 'h': print_help(); std::exit(0);
            default: print_help(); throw std::runtime_error("Option not recognized!");
            }
        }
        ecm_log_inf("XELO EtherCAT master use :");
        ecm_log_inf(cfg_file_use);

        if (lock_process_memory() != 0)
            throw std::runtime_error("Attention: mlockall failed !!!");

        // The socket thread serves for the rest of the program's life.
        Stop_Flag never_raised;
        Framework_Thread socket_thread(never_raised);
        try {
            socket_thread.start_ex(ManagerSocketStart, nullptr, "xelo_ecat_socket", SOCKET_THREAD_STACK);
        } catch (const Thread_Error& error) {
            throw std::runtime_error("Failed to create ManagerSocket Thread" + error_text(error.code()));
        }
        try {
            socket_thread.join_ex();
        } catch (const Thread_Error& error) {
            throw std::runtime_error(" ERROR; return code from pthread_join() is " + error_text(error.code()));
        }
    } catch (const std::exception& e) {
        ecm_log_err(e.what());
    }
    ecm_log_inf("Main: END.");
    return 0;
}
