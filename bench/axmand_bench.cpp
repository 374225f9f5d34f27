// axmand against bare baselines, all on rtframe -o in one isolated run:
//  1. command round trip: quick_stop with idle axes (axmand answers in the
//     cycle that picks it up) against a bare command server that answers
//     after its next wake-up;
//  2. framework ticks from a profile-position start_procedure to the drive's
//     set-point acknowledge, against the ticks a bare client needs to see a
//     virtual output of its own come back as an input;
//  3. CPU time of axmand's cyclic thread per cycle with 1, 2, 4 and 8 idle
//     axes, against a bare framework client's refresh cycle.
// Run as root; it starts itself again inside tests/isolate.

#include <dirent.h>
#include <signal.h>
#include <time.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "axes_client.h"
#include "bench_support.h"
#include "child_process.h"
#include "framework_cmd_channel.h"
#include "quiet_stdout.h"

namespace {

constexpr int ROUND_TRIPS = 300;
constexpr int MOVES = 40;

std::string descriptor_for(int axes)
{
    std::string list;
    for (int i = 0; i < axes; ++i)
        list += (i ? "," : "") + std::string("schneider:") + std::to_string(1001 + i);
    const std::string path = "/tmp/axes_" + std::to_string(axes) + ".xml";
    const std::string command = "python3 " + std::string(DESCRIPTOR_TOOL) + " --axes " + list + " --out " + path;
    if (std::system(command.c_str()) != 0)
        throw std::runtime_error("cannot run " + command);
    // A variable of the bench's own for the echo baseline.
    std::string text = read_file(path);
    const std::string end = "  </virtual_ios>";
    text.insert(text.find(end),
                "    <virtual_io name_virtual=\"bench_echo\" type=\"int8\" group_id=\"-1\" is_ro=\"0\" "
                "is_negated=\"0\" default_value=\"0\"/>\n");
    write_file(path, text);
    return path;
}

// A wait of the benchmark that times out ends it.
void must(bool done, const char* what)
{
    if (!done)
        throw std::runtime_error(std::string("timed out: ") + what);
}

std::vector<std::string> results;  // printed once the clients' logging is over

void print_ratio(const char* what, const char* unit, const bench::Figures& measured, const bench::Figures& bare,
                 double scale)
{
    char line[512];
    std::snprintf(line, sizeof line,
                  "%-44s median %9.1f %s  p99 %9.1f %s | bare median %9.1f  p99 %9.1f | ratio %.2f\n", what,
                  measured.p50 / scale, unit, measured.p99 / scale, unit, bare.p50 / scale, bare.p99 / scale,
                  static_cast<double>(measured.p50) / static_cast<double>(std::max<int64_t>(bare.p50, 1)));
    results.push_back(line);
}

volatile sig_atomic_t bare_server_stop = 0;

// The bare server: answers every command on axmngr_0 after its next wake-up,
// until SIGTERM (it gives the channel back on its way out).
int bare_server()
{
    struct sigaction action {};
    action.sa_handler = [](int) { bare_server_stop = 1; };
    sigaction(SIGTERM, &action, nullptr);
    Framework_Shared_Memory_Manager framework;
    framework.init_with_h_compatibility_check_ex("bare_server", 4, 1);
    Framework_Cmd_Server server("axmngr_0");
    server.setup_ex(&framework);
    if (!server.try_acquire_ex())
        return 1;
    std::printf("bare server ready\n");
    std::fflush(stdout);
    uint32_t tick = 0;
    while (bare_server_stop == 0) {
        if (!server.wait_command_ex(100))
            continue;
        // Answer after the next wake-up, as axmand does; a late one only
        // makes the baseline slower, never wrong.
        static_cast<void>(framework.refresh_data_ex(&tick));
        server.set_answ_data_ex<signed char>("resp_value", 1);
        server.send_answer_ex(static_cast<int8_t>(1));
    }
    return 0;
}

std::vector<int64_t> round_trips(Axes_Client& client)
{
    std::vector<int64_t> samples;
    for (int i = 0; i < ROUND_TRIPS + 20; ++i) {
        const int64_t start = bench::now_ns();
        if (client.command(CMD_QUICK_STOP) != 1)
            throw std::runtime_error("quick_stop was not answered 1");
        if (i >= 20)
            samples.push_back(bench::now_ns() - start);
    }
    return samples;
}

std::unique_ptr<Child_Process> start_drivesim(const std::string& descriptor, int axes)
{
    std::vector<std::string> arguments{"-c", descriptor};
    for (int i = 0; i < axes; ++i) {
        arguments.push_back("--drive");
        arguments.push_back(std::to_string(1001 + i) + ":schneider");
    }
    auto drivesim = std::make_unique<Child_Process>(DRIVESIM_BINARY, arguments, "/tmp/drivesim.log");
    drivesim->wait_ready_ex(probe::log_line(*drivesim, "[drivesim] running"), std::chrono::seconds(30));
    return drivesim;
}

std::unique_ptr<Child_Process> start_axmand()
{
    auto axmand =
        std::make_unique<Child_Process>(AXMAND_BINARY, std::vector<std::string>{"-n", "0"}, "/tmp/axmand.log");
    axmand->wait_ready_ex(probe::log_line(*axmand, "[axes manager] init cyclic thread --> done"),
                          std::chrono::seconds(30));
    return axmand;
}

// Nanoseconds that the thread of that name of process pid has run.
int64_t thread_cpu_ns(pid_t pid, const std::string& name)
{
    const std::string tasks = "/proc/" + std::to_string(pid) + "/task";
    DIR* dir = opendir(tasks.c_str());
    if (dir == nullptr)
        return -1;
    int64_t result = -1;
    while (dirent* entry = readdir(dir)) {
        if (entry->d_name[0] == '.')
            continue;
        std::ifstream comm(tasks + "/" + entry->d_name + "/comm");
        std::string comm_name;
        std::getline(comm, comm_name);
        if (comm_name != name)
            continue;
        std::ifstream schedstat(tasks + "/" + entry->d_name + "/schedstat");
        schedstat >> result;
    }
    closedir(dir);
    return result;
}

int64_t own_thread_cpu_ns()
{
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return ts.tv_sec * 1000000000LL + ts.tv_nsec;
}

int run()
{
    auto quiet = std::make_unique<Quiet_Stdout>();  // the clients log their set-up
    int status = EXIT_SUCCESS;
    auto check_stop = [&](Child_Process& child) {
        const int code = child.stop();
        if (code != 0) {
            std::printf("%s exit status %d\n", child.program().c_str(), code);
            status = EXIT_FAILURE;
        }
    };

    // 1 and 2: one axis.
    {
        const std::string descriptor = descriptor_for(1);
        auto rtframe = bench::start_rtframe(descriptor, "/tmp/rtframe.log");
        if (!rtframe)
            return EXIT_FAILURE;
        char self[4096] = {};
        if (readlink("/proc/self/exe", self, sizeof(self) - 1) <= 0)
            return EXIT_FAILURE;
        std::vector<int64_t> bare, through_axmand;
        std::vector<int64_t> ack_ticks, echo_ticks;
        {
            Axes_Client client(0);
            {
                Child_Process server(self, {"--bare-server"}, "/tmp/bare_server.log");
                server.wait_ready_ex(probe::log_line(server, "bare server ready"), std::chrono::seconds(30));
                bare = round_trips(client);
                check_stop(server);
            }
            // A bare client's own echo: a virtual output written, seen back as an input.
            Framework_Shared_Memory_Manager& framework = client.framework();
            const int out = framework.get_output_rw_id_ex("bench_echo", false);
            const int in = framework.get_input_id_ex("bench_echo");
            for (int i = 1; i <= MOVES; ++i) {
                client.refresh();
                const uint32_t start = client.tick();
                framework.set_output_ex<signed char>(out, static_cast<signed char>(i));
                must(client.refresh_until([&] { return framework.get_input_ex<signed char>(in, false) == i; },
                                          std::chrono::seconds(2)),
                     "refresh_until");
                echo_ticks.push_back(client.tick() - start);
            }
            framework.set_output_ex<signed char>(out, 0);
            client.refresh();
        }
        auto drivesim = start_drivesim(descriptor, 1);
        auto axmand = start_axmand();
        {
            Axes_Client client(0);
            if (client.command(CMD_RESET) != 1)
                throw std::runtime_error("reset was not answered 1");
            must(client.refresh_until([&] { return client.snapshot().manager_state == OPERATIONAL; },
                                      std::chrono::seconds(5)),
                 "refresh_until");
            through_axmand = round_trips(client);
            for (int i = 0; i < MOVES; ++i) {
                client.set_profile_position(0, (i % 2) ? 0 : 20000, 2000000, 20000000, false);
                client.refresh();
                const uint32_t start = client.tick();
                client.send(CMD_START_PROCEDURE);
                must(client.refresh_until([&] { return (client.status_word(0) & 0x1000) != 0; },
                                          std::chrono::seconds(5)),
                     "refresh_until");
                ack_ticks.push_back(client.tick() - start);
                if (client.answer(5000) != 1)
                    throw std::runtime_error("start_procedure was not answered 1");
                must(client.refresh_until(
                         [&] { return client.snapshot().completed && client.snapshot().manager_state == OPERATIONAL; },
                         std::chrono::seconds(10)),
                     "refresh_until");
            }
        }
        check_stop(*axmand);
        check_stop(*drivesim);
        const int rt = bench::stop_rtframe(*rtframe);
        if (rt != 0)
            status = EXIT_FAILURE;
        print_ratio("quick_stop round trip, idle axis", "us", bench::figures_of(through_axmand),
                    bench::figures_of(bare), 1000.0);
        print_ratio("start_procedure -> set-point acknowledge", "ticks", bench::figures_of(ack_ticks),
                    bench::figures_of(echo_ticks), 1.0);
    }

    // 3: cyclic CPU time per cycle.
    for (int axes : {1, 2, 4, 8}) {
        const std::string descriptor = descriptor_for(axes);
        auto rtframe = bench::start_rtframe(descriptor, "/tmp/rtframe.log");
        if (!rtframe)
            return EXIT_FAILURE;
        auto drivesim = start_drivesim(descriptor, axes);
        auto axmand = start_axmand();
        std::vector<int64_t> manager_cycles, bare_cycles;
        {
            Axes_Client client(0);
            if (client.command(CMD_RESET) != 1)
                throw std::runtime_error("reset was not answered 1");
            must(client.refresh_until([&] { return client.snapshot().manager_state == OPERATIONAL; },
                                      std::chrono::seconds(5)),
                 "refresh_until");
            for (int window = 0; window < 20; ++window) {
                client.refresh();
                const uint32_t first_tick = client.tick();
                const int64_t manager_before = thread_cpu_ns(axmand->pid(), "axmngr_cycl_th");
                const int64_t own_before = own_thread_cpu_ns();
                for (int i = 0; i < 100; ++i)
                    client.refresh();
                const int64_t own = own_thread_cpu_ns() - own_before;
                const int64_t manager = thread_cpu_ns(axmand->pid(), "axmngr_cycl_th") - manager_before;
                const uint32_t cycles = client.tick() - first_tick;
                manager_cycles.push_back(manager / std::max<uint32_t>(cycles, 1));
                bare_cycles.push_back(own / 100);
            }
        }
        check_stop(*axmand);
        check_stop(*drivesim);
        if (bench::stop_rtframe(*rtframe) != 0)
            status = EXIT_FAILURE;
        const std::string what = "cyclic CPU per cycle, " + std::to_string(axes) + " axes";
        print_ratio(what.c_str(), "us", bench::figures_of(manager_cycles), bench::figures_of(bare_cycles), 1000.0);
    }
    quiet.reset();
    for (const std::string& line : results)
        std::printf("%s", line.c_str());
    std::printf(
        "(bare: a command server answering after its next wake-up; a client's own output echoed back as an "
        "input; a client's refresh cycle)\n");
    return status;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc > 1 && std::strcmp(argv[1], "--bare-server") == 0)
        return bare_server();
    return bench::run_isolated(argc, argv, [] {
        try {
            return run();
        } catch (const std::exception& e) {
            std::printf("axmand_bench: %s\n", e.what());
            return EXIT_FAILURE;
        }
    });
}
