// cellapp: identifies the drives through the master, copies the matching
// application descriptor for rtframe, attaches to the framework, sets up the
// axes interface and the RTDE follower, and serves XML-RPC on port 44044.
#include <getopt.h>
#include <pthread.h>
#include <semaphore.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <mutex>
#include <stdexcept>
#include <string>

#include "axes_manager_interface.h"
#include "cell_status.h"
#include "ethercat_info.h"
#include "framework_thread.h"
#include "memory_lock.h"
#include "program_command_manager.h"
#include "rtde_interface.h"
#include "rtde_port.h"
#include "stop_flag.h"
#include "xelo_ethercat_user_interface.h"
#include "xelo_framework_shm_manager.h"
#include "xelo_log.h"
#include "xelo_thread_mtx_wrapper.h"
#include "xmlrpc_interface.h"

namespace {
// The robot controller's address, read from the address file.
class GFG {
public:
    GFG() { read_robot_ip_addr(); }
    void read_robot_ip_addr()
    {
        std::string error;
        robot_ip_address = read_robot_address(robot_address_file_path(), error);
        if (!error.empty())
            log_err("[ondara][GFG][read_robot_ip_addr] :: " + error);
        else
            log_inf("Robot IP address: " + robot_ip_address);
    }
    std::string robot_ip_address;
};

GFG obj;
pthread_mutex_t __mutex_thread_info_exchange = PTHREAD_MUTEX_INITIALIZER;
int32_t watchdog_counter = 0;
pthread_mutex_t watchdog_mutex = PTHREAD_MUTEX_INITIALIZER;
Axes_Manager_Interface m_am_iface(0);
Framework_Shared_Memory_Manager m_framework;
bool verbosity_rtde = true;
int32_t frequency = 125;
RtdeInterface rtde_iface(obj.robot_ip_address, rtde_client::RTDE_PORT, frequency, verbosity_rtde);
Program_Command_Manager prg_cmd_manager(&m_am_iface, &rtde_iface);
sem_t sem_for_fw_from_eth;
Ethercat_Info eth_info(DRIVE_TYPES_NUM);

constexpr int WATCHDOG_STEP = 4;
constexpr int WATCHDOG_LIMIT = 99;
// The framework frees the slot of a cellapp that stops refreshing for this
// long, and with it the axes manager's command channel, so that the next
// cellapp can take it.
constexpr uint32_t FRAMEWORK_WATCHDOG_NS = 2000000000u;
// A command channel held by another client is tried again this long.
constexpr auto CHANNEL_LIMIT = std::chrono::seconds(10);
constexpr long CHANNEL_RETRY_PAUSE_NS = 200000000;

void sleep_seconds(unsigned seconds)
{
    const timespec t{static_cast<time_t>(seconds), 0};
    clock_nanosleep(CLOCK_MONOTONIC, 0, &t, nullptr);
}

// Runs the start-up script when root owns it and nobody else can change it.
void run_startup_script()
{
    const std::string script = startup_script_path();
    if (access(script.c_str(), F_OK) != 0)
        return;
    std::string reason;
    if (!is_trusted_script(script, reason)) {
        log_war("[ondara][main] :: start-up script not run: " + reason);
        return;
    }
    FILE* pipe = popen(script.c_str(), "r");
    if (pipe == nullptr)
        return;
    char line[1000];
    if (std::fgets(line, sizeof(line), pipe) == nullptr)
        line[0] = '\0';
    pclose(pipe);
}

// The identity of the slave at bus position p. A failed read is tried again
// before the position counts as empty: a reply lost on a busy bus would
// otherwise shorten the bus and choose the descriptor of a smaller cell.
// On a bus that runs under another client the identities are the ones the
// master read at its start (slave 1000 + p): no EEPROM access disturbs the
// cycle.
bool bus_joined = false;

int identity_of(int p, uint32_t& vendor, uint32_t& product, uint32_t& serial, uint16_t& alias)
{
    if (bus_joined)
        return get_slave_eeprom_information(1000 + p, &vendor, &product, &serial, &alias);
    return get_slave_information_incr_read(p, &vendor, &product, &serial, &alias);
}

bool read_identity(int p, uint32_t& vendor, uint32_t& product, uint32_t& serial, uint16_t& alias)
{
    constexpr int ATTEMPTS = 3;
    for (int attempt = 1; attempt <= ATTEMPTS; ++attempt) {
        if (identity_of(p, vendor, product, serial, alias) != -1) {
            if (attempt > 1)
                log_war(
                    "[ondara][main] :: ethercat_master_preliminary_info_exchange :: "
                    "get_slave_information_incr_read (" +
                    std::to_string(p) + ") answered at attempt " + std::to_string(attempt));
            return true;
        }
    }
    return false;
}

// One scan of the bus; true when a descriptor was chosen and copied.
bool scan_bus(int& n)
{
    Robust_Mutex info_exchange(&__mutex_thread_info_exchange, "__mutex_thread_info_exchange", "ETH_PRELIMINARY_THREAD");
    std::lock_guard<Robust_Mutex> lock(info_exchange);
    std::array<int8_t, MAX_N_SLAVES> drive_idxs{};
    for (int i = 0; i < MAX_N_SLAVES; ++i)
        drive_idxs[static_cast<size_t>(i)] = eth_info.get_drive_idxs_ith_value(i);
    n = 0;
    for (int p = 1;; ++p) {
        uint32_t vendor = 0, product = 0, serial = 0;
        uint16_t alias = 0;
        if (!read_identity(p, vendor, product, serial, alias))
            break;
        n = p;
        log_inf(
            "[ondara][main] ::  ethercat_master_preliminary_info_exchange :: get_slave_information_incr_read -> "
            "address_slave = " +
            std::to_string(p) + ", vendor_id = " + std::to_string(vendor) +
            ", product_code = " + std::to_string(product) + ", serial_number = " + std::to_string(serial) +
            ", config_alias = " + std::to_string(alias));
        if (p <= MAX_N_SLAVES) {
            const int8_t index = drive_index_of(vendor, product);
            drive_idxs[static_cast<size_t>(p - 1)] = index;
            eth_info.set_drive_idxs_ith_value(p - 1, index);
        }
    }
    log_inf("[ondara][main] :: " + std::to_string(n) + " slaves on network");
    const std::string name = descriptor_name(descriptor_directory(), drive_idxs, n);
    std::printf("[ondara][main] :: xml file name is %s\n", name.c_str());
    std::fflush(stdout);
    eth_info.set_xml_idx(-1);
    bool chosen = false;
    const int k = xml_index_of(name);
    if (k >= 0) {
        log_inf("[ondara][main] :: starting with " + std::to_string(n - 1) + " axes");
        log_inf("[ondara][main] ::  copy " + xml_file_path(k) + " " + CHOSEN_DESCRIPTOR);
        std::string error;
        if (copy_file_atomically(xml_file_path(k), CHOSEN_DESCRIPTOR, error)) {
            eth_info.set_xml_idx(k);
            chosen = true;
        } else {
            log_err("[ondara][main] :: cannot copy " + xml_file_path(k) + " to " + CHOSEN_DESCRIPTOR + ": " + error);
        }
    }
    eth_info.set_n_slaves_on_ethercat_network(n);
    return chosen;
}

void* ethercat_master_preliminary_info_exchange(void*)
{
    try {
        log_inf("[ondara][main] :: Entered in eth_preliminary_info_exchange...");
        if (preliminary_hook(1081) == -1) {
            log_err("[ondara][main] :: ethercat_master_preliminary_info_exchange :: preliminary_hook error");
            end_process(1);
        }
        // A bus that runs under another client (rtframe) is only read: a
        // start or a stop would take its slaves to INIT.
        const bool running = join_running_master() == 0;
        bus_joined = running;
        if (running) {
            log_inf("[ondara][main] :: the master runs a bus: scanned as found, left running");
        } else {
            log_inf("[ondara][main] :: Opening connection with master...");
            (void)open_connection_with_master(scan_eni_path().c_str());
        }
        int n = 0;
        while (!scan_bus(n))
            sleep_seconds(2);
        sleep_seconds(2);
        if (!running && close_connection_with_master() == -1)
            log_err(
                "[ondara][main] :: ethercat_master_preliminary_info_exchange :: close_connection_with_master() "
                "error");
        else if (last_unhook() == -1)
            log_err("[ondara][main] :: ethercat_master_preliminary_info_exchange :: last_unhook() error");
        if (sem_post(&sem_for_fw_from_eth) != 0)
            throw std::runtime_error(std::string("[ondara][main] sem_post: ") + std::strerror(errno));
        log_inf("[ondara][main] :: ethercat_master_preliminary_info_exchange terminated");
    } catch (const std::exception& e) {
        log_err(std::string("[ondara][main] :: ethercat_master_preliminary_info_exchange :: ") + e.what());
        end_process(1);
    }
    return nullptr;
}

void refresh_no_param()
{
    with_lock(Robust_Mutex(&watchdog_mutex, "watchdog", ""), [] { watchdog_counter = 0; });
    prg_cmd_manager.machine_refresh();
}

[[maybe_unused]] void initialize_rtde()
{
    rtde_iface.set_function_pointer(refresh_no_param);
    rtde_iface.init();
}

// Takes the axes manager's command channel, retried for a bounded time
// while another client holds it (a cellapp that ended is freed by the
// framework watchdog); without it no command could reach the axes.
void acquire_axes_channel()
{
    const auto give_up = std::chrono::steady_clock::now() + CHANNEL_LIMIT;
    for (;;) {
        {
            std::lock_guard<std::mutex> lock(axes_interface_mutex());
            if (m_am_iface.try_acquire_control_ex())
                return;
        }
        if (std::chrono::steady_clock::now() >= give_up) {
            log_err("[ondara][main] framework_thread :: the axes manager's command channel has another client after " +
                    std::to_string(CHANNEL_LIMIT.count()) + " s -> Esco dal programma");
            end_process(1);
        }
        const timespec pause{0, CHANNEL_RETRY_PAUSE_NS};
        clock_nanosleep(CLOCK_MONOTONIC, 0, &pause, nullptr);
    }
}

void arm_framework_watchdog()
{
    const uint32_t cycle_ns = std::max(1u, m_framework.get_master_cycle_time_ns_ex());
    const int cycles = static_cast<int>(std::max(1u, FRAMEWORK_WATCHDOG_NS / cycle_ns));
    m_framework.set_watchdog_value_ex(cycles);
    m_framework.turn_on_watchdog_ex();
    log_inf("[ondara][main] framework_thread :: framework watchdog armed :: " + std::to_string(cycles) + " cycles");
}

// A refresh that found no cycle of the framework: a run that ended (or a
// slot that the framework freed) ends the process, which takes no part in
// a next run.
void exit_if_framework_lost(int refreshed)
{
    if (refreshed == -1) {
        log_err(
            "[ondara][main] framework_thread :: the framework freed this application (its run ended or its "
            "watchdog expired) -> Esco dal programma");
        end_process(1);
    }
    if (refreshed == -2 && m_framework.attached_run_ended()) {
        log_err("[ondara][main] framework_thread :: the framework run ended -> Esco dal programma");
        end_process(1);
    }
}

void* fw_thread(void*)
{
    try {
        while (sem_wait(&sem_for_fw_from_eth) == -1 && errno == EINTR) {
        }
        raise_ondara_program_status(STARTING);
        for (;;) {
            log_inf("[ondara][main] framework_thread :: try m_framework.init_ex()");
            try {
                m_framework.init_with_h_compatibility_check_ex("", 4, 1);
                break;
            } catch (const std::runtime_error& e) {
                log_err(std::string("[ondara][main] framework_thread :: m_framework.init_ex() exception -> ") +
                        e.what());
                sleep_seconds(2);
            }
        }
        {
            std::lock_guard<std::mutex> lock(axes_interface_mutex());
            m_am_iface.setup_ex(&m_framework);
            m_am_iface.set_command_timeout_ms(100);
        }
        acquire_axes_channel();
        rtde_iface.set_function_pointer(refresh_no_param);
        rtde_iface.init();
        arm_framework_watchdog();
        raise_ondara_program_status(OP_MODE);
        for (;;) {
            with_lock(Robust_Mutex(&watchdog_mutex, "watchdog", ""), [] { watchdog_counter += WATCHDOG_STEP; });
            const int32_t counter =
                with_lock(Robust_Mutex(&watchdog_mutex, "watchdog", ""), [] { return watchdog_counter; });
            if (counter > WATCHDOG_LIMIT) {
                log_inf("[ondara][main] :: Watchdog scaduto -> Esco dal programma");
                end_process(1);
            }
            exit_if_framework_lost(m_framework.refresh_data_ex(nullptr));
            std::lock_guard<std::mutex> lock(axes_interface_mutex());
            m_am_iface.refresh_ex();
        }
    } catch (const std::exception& e) {
        log_err(std::string("[ondara][main] framework_thread :: ") + e.what());
        end_process(1);
    }
    return nullptr;
}

// Starts one of the program's threads; a refused start is logged and the
// program goes on without it.
void start_or_log(Framework_Thread& thread, void* (*body)(void*), const char* name, const char* what)
{
    try {
        thread.start_ex(body, nullptr, name);
    } catch (const Thread_Error& error) {
        log_err(std::string("[ondara][main] :: main :: ") + what + " creation failed: " + std::to_string(error.code()));
    }
}

void usage(const char* program)
{
    std::printf(
        "usage: %s [--xmlrpc-idle-timeout S] [--rtde-start-timeout S]\n"
        "  --xmlrpc-idle-timeout S  seconds an XML-RPC connection may take for its next request (default 30)\n"
        "  --rtde-start-timeout S   seconds the robot controller may refuse the RTDE start (default 30)\n",
        program);
}

// The command line into the XML-RPC idle limit and the RTDE start limit; -1
// to go on, else the exit status.
int parse_command_line(int argc, char** argv, std::chrono::milliseconds& idle_limit,
                       std::chrono::milliseconds& start_limit)
{
    static const option options[] = {
        {"xmlrpc-idle-timeout", required_argument, nullptr, 'i'},
        {"rtde-start-timeout", required_argument, nullptr, 'r'},
        {"help", no_argument, nullptr, 'h'},
        {nullptr, 0, nullptr, 0},
    };
    for (int c; (c = getopt_long(argc, argv, "h", options, nullptr)) != -1;) {
        if (c == 'h') {
            usage(argv[0]);
            return 0;
        }
        char* end = nullptr;
        const bool known = c == 'i' || c == 'r';
        const double seconds = known ? std::strtod(optarg, &end) : 0.0;
        if (!known || end == optarg || *end != '\0' || !std::isfinite(seconds) || seconds <= 0.0 || seconds > 86400.0) {
            usage(argv[0]);
            return 2;
        }
        (c == 'i' ? idle_limit : start_limit) =
            std::chrono::milliseconds(static_cast<long>(std::ceil(seconds * 1000.0)));
    }
    if (optind < argc) {
        usage(argv[0]);
        return 2;
    }
    return -1;
}
}  // namespace

int main(int argc, char** argv)
{
    std::chrono::milliseconds idle_limit = Xmlrpc_Gate::DEFAULT_IDLE_LIMIT;
    std::chrono::milliseconds start_limit = RtdeInterface::DEFAULT_START_LIMIT;
    if (const int status = parse_command_line(argc, argv, idle_limit, start_limit); status >= 0)
        return status;
    rtde_iface.set_start_limit(start_limit);
    if (lock_process_memory() != 0) {
        log_err("[ondara][main] :: mlockall failed");
        return -2;
    }
    // The threads run until end_process ends the program: never stopped, so never joined.
    Stop_Flag never_raised;
    Framework_Thread eth_thread(never_raised);
    Framework_Thread framework_thread(never_raised);
    try {
        run_startup_script();
        init_sem_ex(&sem_for_fw_from_eth, 0, 0, "sem_for_fw_from_eth");
        raise_ondara_program_status(WAIT_NETWORK_CONFIRMATION);
        start_or_log(eth_thread, ethercat_master_preliminary_info_exchange, "ETH_PRELIMINARY",
                     "ethercat_master_preliminary_info_exchange");
        prg_cmd_manager.init_hw_iface_mutex();
        prg_cmd_manager.init_hw_iface_semaphore();
        start_or_log(framework_thread, fw_thread, "FW_THREAD", "fw_thread");

        XmlRpcInterface server(&m_am_iface, &prg_cmd_manager, &eth_info);
        server.set_idle_limit(idle_limit);
        if (!server.create_server(PORT_XMLRPC, true, 1)) {
            log_err("[ondara][main] :: cannot bind the XML-RPC port " + std::to_string(PORT_XMLRPC));
            end_process(1);
        }
        server.start_server(-1.0);
    } catch (const std::exception& e) {
        log_err(std::string("[ondara][main] :: ") + e.what());
        end_process(1);
    }
    end_process(0);
}
