// busmaster's cyclic operation against the simulated demo cell on a veth
// pair, each figure beside a bare baseline measured in the same run:
//   - the cyclic frame's send-to-reply time, as the cyclic thread measures
//     it every cycle, against the same frame sent and received on a bare raw
//     socket;
//   - the frame jitter of the distributed-clock timing (get_master_jitter_info
//     and the per-cycle values behind it) against the wake-up lateness of a
//     bare timerfd loop at the cyclic thread's priority.
// The master runs 60 s in OP at 1 ms (set CELL_BENCH_SECONDS to shorten it).
// Run as root: it starts itself again inside tests/isolate.
#include <sched.h>
#include <sys/timerfd.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "bench_support.h"
#include "ethercatbase.h"
#include "nicdrv.h"
#include "segment_config.h"
#include "veth_harness.h"
#include "xelo_client_socket_udp.h"
#include "xelo_ethercat_master_socket.h"

namespace {
constexpr int PERIOD_NS = 1000000;

int seconds()
{
    const char* text = std::getenv("CELL_BENCH_SECONDS");
    const int value = text != nullptr ? std::atoi(text) : 60;
    return value > 0 ? value : 60;
}

void print(const char* what, const char* unit, double scale, std::vector<int64_t> measured, std::vector<int64_t> bare)
{
    if (measured.empty() || bare.empty()) {
        std::printf("%s: no samples\n", what);
        return;
    }
    const bench::Figures m = bench::figures_of(std::move(measured));
    const bench::Figures b = bench::figures_of(std::move(bare));
    std::printf("%s\n", what);
    std::printf("  measured  median %8.1f %s  p99 %8.1f %s\n", m.p50 / scale, unit, m.p99 / scale, unit);
    std::printf("  baseline  median %8.1f %s  p99 %8.1f %s\n", b.p50 / scale, unit, b.p99 / scale, unit);
    std::printf("  ratio     median %8.2f     p99 %8.2f\n", b.p50 != 0 ? static_cast<double>(m.p50) / b.p50 : 0.0,
                b.p99 != 0 ? static_cast<double>(m.p99) / b.p99 : 0.0);
}

// The demo cell's cyclic frame as the master builds it: ARMW of the
// reference clock, the LRW of the process data, the BRD of AL status.
int build_cyclic_frame(ec_bufT frame)
{
    uint8_t zero[16] = {};
    int length = 0;
    ec_setupdatagram(frame, &length, EC_CMD_ARMW, 0xFFFF, 0x0910, 4, zero);
    ec_adddatagram_my(frame, &length, EC_CMD_LRW, 0x0000, 0x0100, 14, zero, 4 + 12);
    ec_adddatagram_my(frame, &length, EC_CMD_BRD, 0, 0x0130, 2, zero, 14 + 12);
    return length;
}

// A bare loop on a timerfd of PERIOD_NS at the cyclic thread's priority:
// each period one bare raw-socket round trip of the cyclic frame. Wake-up
// lateness and round trips are returned.
void bare_loop(const std::string& interface, int cycles, std::vector<int64_t>* lateness,
               std::vector<int64_t>* round_trips)
{
    std::thread thread([&] {
        sched_param param{};
        param.sched_priority = sched_get_priority_max(SCHED_FIFO) - 3;
        pthread_setschedparam(pthread_self(), SCHED_FIFO, &param);
        ecat_sim::Raw_Ethernet_Socket socket(interface);
        ec_bufT frame;
        const int length = build_cyclic_frame(frame);
        const int fd = timerfd_create(CLOCK_MONOTONIC, 0);
        itimerspec period{};
        period.it_interval = timespec{0, PERIOD_NS};
        period.it_value = period.it_interval;
        timerfd_settime(fd, 0, &period, nullptr);
        int64_t due = bench::now_ns() + PERIOD_NS;
        for (int i = 0; i < cycles; ++i) {
            uint64_t expirations = 0;
            if (read(fd, &expirations, sizeof(expirations)) != sizeof(expirations))
                break;
            const int64_t woke = bench::now_ns();
            due += static_cast<int64_t>(expirations) * PERIOD_NS;
            lateness->push_back(woke - (due - PERIOD_NS));
            uint8_t reply[EC_MAXFRAME];
            const int64_t sent = bench::now_ns();
            socket.send(frame, static_cast<size_t>(length));
            if (socket.receive(reply, sizeof(reply), std::chrono::microseconds(5000), true) != 0)
                round_trips->push_back(bench::now_ns() - sent);
        }
        close(fd);
    });
    thread.join();
}

std::string ask(ClientSocket_Udp_ex& client, const std::string& command)
{
    client << "1#" + command;
    std::string reply;
    client >> reply;
    return reply.size() > 2 ? reply.substr(2) : reply;
}

int run()
{
    const int duration = seconds();
    const int cycles = duration * 1000;
    ecat_sim::Sim_Options options = ecat_sim::Veth_Segment::default_options();
    options.priority = 60;
    ecat_sim::Veth_Segment segment(ecat_sim::parse_segment_config(
                                       "slave dio device=dio dc=0\nslave drive device=cia402 profile=infranor\n"),
                                   options);

    std::printf("%d s at 1 ms: bare loop first, then busmaster in OP\n", duration);
    std::vector<int64_t> bare_lateness, bare_round_trips;
    bare_lateness.reserve(static_cast<std::size_t>(cycles));
    bare_round_trips.reserve(static_cast<std::size_t>(cycles));
    bare_loop(segment.master_interface(), cycles, &bare_lateness, &bare_round_trips);

    write_file("/tmp/ecm_cyclic_bench_cfg.xml",
               "<EcmSystem><SystemConfig><Cfg><EtherCATNetInterface>" + segment.master_interface() +
                   "</EtherCATNetInterface><EtheCATUserSocketIpAddr>127.0.0.1</EtheCATUserSocketIpAddr>"
                   "<EtheCATUserSocketPort>500</EtheCATUserSocketPort></Cfg></SystemConfig></EcmSystem>");
    ECM_Master_Socket master("/tmp/ecm_cyclic_bench_cfg.xml", true, 5, 1000);
    if (master.view_system_state() != SYSTEM_SETUP_OK)
        return EXIT_FAILURE;
    master.open_socket_real_udp();
    std::thread server([&] {
        sched_param param{};
        param.sched_priority = 55;
        pthread_setschedparam(pthread_self(), SCHED_FIFO, &param);
        while (master.is_system_real_udp_socket_active()) {
            master.wait_request_real_udp();
            master.execute_request_and_reply_real_udp();
        }
    });
    int status = EXIT_SUCCESS;
    std::string jitter_info;
    {
        ClientSocket_Udp_ex client("127.0.0.1", 500, true, 30, 0);
        const std::string steps[] = {"set_watchdog_off", "start_ethercat_master " + std::string(DEMO_ENI),
                                     "go_into_next_state 4", "go_into_next_state 8"};
        for (const std::string& step : steps) {
            const std::string reply = ask(client, step);
            if (reply != "reply_ok" && reply != "started") {
                std::printf("%s: %s\n", step.c_str(), reply.c_str());
                status = EXIT_FAILURE;
            }
        }
        if (status == EXIT_SUCCESS) {
            ask(client, "request_timer_info_reset");
            std::this_thread::sleep_for(std::chrono::seconds(duration));
            jitter_info = ask(client, "get_master_jitter_info");
            std::printf("get_master_jitter_info: %s (count, actual, min, max in ns)\n", jitter_info.c_str());
            std::printf("get_master_time_info: %s\n", ask(client, "get_master_time_info").c_str());
            std::printf("get_frame_resend_info: %s\n", ask(client, "get_frame_resend_info").c_str());
        }
        std::vector<int64_t> round_trips, jitters;
        for (int32_t v : master.cycle_round_trips())
            round_trips.push_back(v);
        for (int32_t v : master.cycle_jitters())
            jitters.push_back(v < 0 ? -static_cast<int64_t>(v) : v);
        const std::size_t keep = static_cast<std::size_t>(cycles);
        if (round_trips.size() > keep)
            round_trips.erase(round_trips.begin(), round_trips.end() - static_cast<std::ptrdiff_t>(keep));
        if (jitters.size() > keep)
            jitters.erase(jitters.begin(), jitters.end() - static_cast<std::ptrdiff_t>(keep));
        print("cyclic frame send-to-reply (cyclic thread vs bare raw socket, same veth pair)", "us", 1e3, round_trips,
              bare_round_trips);
        print("frame jitter |m_dc_resto| per cycle vs bare timerfd wake-up lateness, same priority", "us", 1e3, jitters,
              bare_lateness);
        std::printf("  samples: %zu frames, %zu jitter values, %zu bare cycles\n", round_trips.size(), jitters.size(),
                    bare_lateness.size());
        ask(client, "stop_ethercat_master");
        client << "0#close_connection";
        std::string reply;
        client >> reply;
    }
    server.join();
    return status;
}
}  // namespace

int main(int argc, char** argv)
{
    return bench::run_isolated(argc, argv, run);
}
