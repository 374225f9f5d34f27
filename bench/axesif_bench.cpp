// libaxesif against bare baselines, in one isolated run on rtframe -o with
// drivesim (one Schneider drive) and axmand:
//  1. a command answered in its pick-up cycle (quick_stop, axes idle) through
//     Axes_Manager_Interface (send, then is_last_command_completed until
//     true) beside a bare Framework_Cmd_Client round trip to the same axmand
//     (send, wait for the answer), in alternating batches;
//  2. the time from a profile-position request to its completion beside the
//     model's own profile time for that move (the same drive model stepped in
//     this process at the master cycle until its target is reached).
// Run as root; it starts itself again inside tests/isolate.

#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "axes_manager_interface.h"
#include "axesif_client.h"
#include "bench_support.h"
#include "child_process.h"
#include "cia402_drive.h"
#include "framework_cmd_channel.h"
#include "global_define.h"
#include "quiet_stdout.h"
#include "xelo_framework_shm_manager.h"

namespace {

constexpr int BATCHES = 10;
constexpr int PER_BATCH = 40;
constexpr int MOVES = 40;
constexpr double TARGET = 20.0, VELOCITY = 100.0, ACCELERATION = 1000.0;  // user units, 1000 raw per unit

std::vector<std::string> results;

void print_ratio(const char* what, const bench::Figures& measured, const bench::Figures& bare, const char* bare_name)
{
    char line[512];
    std::snprintf(line, sizeof line,
                  "%-40s median %8.1f us  p99 %8.1f us | %s median %8.1f us  p99 %8.1f us | ratio %.2f\n", what,
                  measured.p50 / 1000.0, measured.p99 / 1000.0, bare_name, bare.p50 / 1000.0, bare.p99 / 1000.0,
                  static_cast<double>(measured.p50) / static_cast<double>(std::max<int64_t>(bare.p50, 1)));
    results.push_back(line);
}

// Nanoseconds from the set-point of a move of the model to its target
// reached, stepped at dt.
int64_t model_profile_ns(double dt_s, int32_t from, int32_t to, uint32_t velocity, uint32_t acceleration)
{
    sim::Cia402_Drive drive;
    drive.dictionary().set<int32_t>(0x607A, from);
    auto step = [&](uint16_t cw) {
        drive.set_control_word(cw);
        drive.step(dt_s);
    };
    step(0x00);
    step(0x06);
    step(0x07);
    drive.dictionary().set<int8_t>(0x6060, 1);
    step(0x0F);
    // Stand at from first.
    auto move = [&](int32_t target) {
        drive.dictionary().set<int32_t>(0x607A, target);
        drive.dictionary().set<uint32_t>(0x6081, velocity);
        drive.dictionary().set<uint32_t>(0x6083, acceleration);
        drive.dictionary().set<uint32_t>(0x6084, acceleration);
        int steps = 0;
        step(0x3F);
        ++steps;
        while ((drive.status_word() & 0x1000) == 0 && steps < 100000) {
            step(0x3F);
            ++steps;
        }
        step(0x2F);
        ++steps;
        while ((drive.status_word() & 0x0400) == 0 && steps < 1000000) {
            step(0x2F);
            ++steps;
        }
        return steps;
    };
    move(from);
    return static_cast<int64_t>(move(to) * dt_s * 1e9);
}

// The shared client; a command not completed in time ends the run.
class Client {
public:
    Client() : m_client("axesif_bench", 0) {}
    template <typename F>
    void refresh_until(F done, std::chrono::seconds limit = std::chrono::seconds(20))
    {
        if (!done() && !m_client.refresh_until(done, limit))
            throw std::runtime_error("no completion in time");
    }
    Axes_Manager_Interface& iface() { return m_client.iface(); }
    Framework_Shared_Memory_Manager& framework() { return m_client.framework(); }

private:
    Axesif_Client m_client;
};

int run()
{
    auto quiet = std::make_unique<Quiet_Stdout>();  // the interface logs every poll
    const std::string descriptor = std::string(EXAMPLES_DIR) + "/schneider.xml";
    auto rtframe = bench::start_rtframe(descriptor, "/tmp/rtframe.log");
    if (!rtframe)
        return EXIT_FAILURE;
    int status = EXIT_SUCCESS;
    std::vector<int64_t> through_iface, bare, requests;
    int64_t profile_ns = 0;
    {
        Child_Process drivesim(DRIVESIM_BINARY, {"-c", descriptor, "--drive", "1001:schneider"}, "/tmp/drivesim.log");
        drivesim.wait_ready_ex(probe::log_line(drivesim, "[drivesim] running"), std::chrono::seconds(30));
        Child_Process axmand(AXMAND_BINARY, {"-n", "0"}, "/tmp/axmand.log");
        axmand.wait_ready_ex(probe::log_line(axmand, "[axes manager] init cyclic thread --> done"),
                             std::chrono::seconds(30));
        {
            Client client;
            Axes_Manager_Interface& iface = client.iface();
            iface.reset_ex();
            client.refresh_until([&] { return iface.is_last_command_completed(); });
            client.refresh_until([&] { return iface.get_axes_manager_status_ex() == OPERATIONAL; });

            Framework_Cmd_Client bare_client(AXES_MANAGER_PREFIX + "0");
            bare_client.setup_ex(&client.framework());
            for (int batch = 0; batch < BATCHES; ++batch) {
                for (int i = 0; i < PER_BATCH; ++i) {
                    const int64_t start = bench::now_ns();
                    iface.perform_quickstop_for_all_axes_ex();
                    while (!iface.is_last_command_completed()) {
                    }
                    through_iface.push_back(bench::now_ns() - start);
                }
                iface.release_control_ex();
                if (!bare_client.try_acquire_ex())
                    throw std::runtime_error("the bare client cannot take the channel");
                for (int i = 0; i < PER_BATCH; ++i) {
                    const int64_t start = bench::now_ns();
                    bare_client.clear_command_channel_ex();
                    bare_client.send_command_ex(CMD_QUICK_STOP, 2000);
                    if (!bare_client.wait_answer_ex(5000) || bare_client.get_last_received_answer_ex() != ANSWER_DONE)
                        throw std::runtime_error("quick_stop was not answered 1");
                    bare.push_back(bench::now_ns() - start);
                }
                bare_client.release_ex();
                iface.acquire_control_ex();
            }

            // Position requests to completion; the axis leaves quick stop first.
            iface.reset_ex();
            client.refresh_until([&] { return iface.is_last_command_completed(); });
            client.refresh_until([&] {
                return iface.get_axes_manager_status_ex() == OPERATIONAL &&
                       iface.get_axis_status_ex(0) == STATE_OPERATION_MODE_IDLE;
            });
            for (int i = 0; i <= MOVES; ++i) {
                const double target = (i % 2 == 0) ? TARGET : 0.0;
                const int64_t start = bench::now_ns();
                iface.move_axis_to_absolute_target_position_ex(0, {target, VELOCITY, ACCELERATION});
                client.refresh_until([&] { return iface.is_last_command_completed(); });
                if (i > 0)  // the first starts wherever the axis stood
                    requests.push_back(bench::now_ns() - start);
            }
            const double dt = client.framework().get_master_cycle_time_ns_ex() / 1e9;
            profile_ns =
                model_profile_ns(dt, 0, static_cast<int32_t>(TARGET * 1000), static_cast<uint32_t>(VELOCITY * 1000),
                                 static_cast<uint32_t>(ACCELERATION * 1000));
        }
        for (Child_Process* child : {&axmand, &drivesim}) {
            const int code = child->stop();
            if (code != 0) {
                results.push_back(child->program() + " exit status " + std::to_string(code) + "\n");
                status = EXIT_FAILURE;
            }
        }
    }
    const int rt = bench::stop_rtframe(*rtframe);
    quiet.reset();
    print_ratio("quick_stop through Axes_Manager_Interface", bench::figures_of(through_iface), bench::figures_of(bare),
                "bare client");
    print_ratio("position request -> completion", bench::figures_of(requests),
                bench::Figures{profile_ns, profile_ns, profile_ns}, "model profile");
    for (const std::string& line : results)
        std::printf("%s", line.c_str());
    std::printf(
        "(a move of %.0f units at %.0f units/s, %.0f units/s2; the model's profile time is the drive model "
        "stepped at the master cycle from set-point to target reached)\n",
        TARGET, VELOCITY, ACCELERATION);
    if (bench::report_rtframe_exit(rt) != EXIT_SUCCESS)
        status = EXIT_FAILURE;
    return status;
}

}  // namespace

int main(int argc, char** argv)
{
    return bench::run_isolated(argc, argv, [] {
        try {
            return run();
        } catch (const std::exception& e) {
            std::printf("axesif_bench: %s\n", e.what());
            return EXIT_FAILURE;
        }
    });
}
