// busmaster's cyclic operation against the simulated demo cell on a veth
// pair, each figure beside a bare baseline measured in the same run:
//   - the cyclic frame's send-to-reply time, as the cyclic thread measures
//     it every cycle, against the same frame sent and received on a bare raw
//     socket;
//   - the frame jitter of the distributed-clock timing (get_master_jitter_info
//     and the per-cycle values behind it: when the frame passed the reference
//     clock against its plan) against a bare timerfd loop at the cyclic
//     thread's priority that sends the same frame each period. Both are read
//     at the reference clock, and jitter is the distance from the run's
//     median, which leaves out the constant delay of the path; the bare
//     loop's wake-up lateness alone is printed beside them.
//   - each round's first frame against its plan (get_master_time_info_first_frame).
// The master runs 60 s in OP at 1 ms (set CELL_BENCH_SECONDS to shorten it).
// Run as root: it starts itself again inside tests/isolate.
#include <sched.h>
#include <sys/timerfd.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "bare_frame.h"
#include "bench_support.h"
#include "ethercatbase.h"
#include "nicdrv.h"
#include "segment_config.h"
#include "veth_harness.h"
#include "xelo_client_socket_udp.h"
#include "xelo_ethercat_master_socket.h"

namespace {
constexpr int PERIOD_NS = 1000000;
constexpr int ROUNDS = 6;
// The first datagram's data in a received frame: Ethernet header, EtherCAT
// header, datagram header.
constexpr std::size_t REFERENCE_TIME_AT = 14 + 2 + 10;

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
Ethercat_Frame cyclic_frame()
{
    Ethercat_Frame frame;
    frame.add(EC_CMD_ARMW, 0xFFFF, 0x0910, std::vector<uint8_t>(4));
    frame.add(EC_CMD_LRW, 0x0000, 0x0100, std::vector<uint8_t>(14));
    frame.add(EC_CMD_BRD, 0, 0x0130, std::vector<uint8_t>(2));
    return frame;
}

int64_t median_of(std::vector<int64_t> samples)
{
    if (samples.empty())
        return 0;
    const auto middle = samples.begin() + static_cast<std::ptrdiff_t>(samples.size() / 2);
    std::nth_element(samples.begin(), middle, samples.end());
    return *middle;
}

// Distance of each sample from the samples' median.
std::vector<int64_t> from_median(std::vector<int64_t> samples)
{
    const int64_t median = median_of(samples);
    for (int64_t& v : samples)
        v = v > median ? v - median : median - v;
    return samples;
}

// The newest `count` of a round's records appended to `all`; centred on the
// round's median when `centred` (each round has its own clock plan).
void append_newest(const std::vector<int32_t>& records, int count, std::vector<int64_t>* all, bool centred)
{
    const std::size_t n = std::min(records.size(), static_cast<std::size_t>(count));
    const std::vector<int64_t> newest(records.end() - static_cast<std::ptrdiff_t>(n), records.end());
    const int64_t median = centred ? median_of(newest) : 0;
    for (int64_t v : newest)
        all->push_back(v - median);
}

struct Bare_Figures {
    std::vector<int64_t> lateness;     // timerfd wake-up against the expiry
    std::vector<int64_t> round_trips;  // send to reply
    std::vector<int64_t> arrivals;     // frame at the reference clock against the expiry, plus a constant
};

// A bare loop on a timerfd of PERIOD_NS at the cyclic thread's priority:
// each period one bare raw-socket round trip of the cyclic frame.
void bare_loop(const std::string& interface, int cycles, Bare_Figures* figures)
{
    std::thread thread([&] {
        sched_param param{};
        param.sched_priority = sched_get_priority_max(SCHED_FIFO) - 3;
        pthread_setschedparam(pthread_self(), SCHED_FIFO, &param);
        bench::Bare_Frame frame(interface, cyclic_frame());
        const int fd = timerfd_create(CLOCK_MONOTONIC, 0);
        itimerspec period{};
        period.it_interval = timespec{0, PERIOD_NS};
        period.it_value = period.it_interval;
        timerfd_settime(fd, 0, &period, nullptr);
        int64_t due = bench::now_ns() + PERIOD_NS;
        bool first_arrival = true;
        uint32_t arrival_origin = 0;
        std::vector<int64_t> arrivals;
        arrivals.reserve(static_cast<std::size_t>(cycles));
        for (int i = 0; i < cycles; ++i) {
            uint64_t expirations = 0;
            if (read(fd, &expirations, sizeof(expirations)) != sizeof(expirations))
                break;
            const int64_t woke = bench::now_ns();
            due += static_cast<int64_t>(expirations) * PERIOD_NS;
            const int64_t expiry = due - PERIOD_NS;
            figures->lateness.push_back(woke - expiry);
            const int64_t sent = bench::now_ns();
            if (frame.exchange(std::chrono::microseconds(5000)) < REFERENCE_TIME_AT + 4)
                continue;
            figures->round_trips.push_back(bench::now_ns() - sent);
            // The reference clock's time is on another time base: kept as
            // the distance from the first arrival, modulo 2^32 like the
            // master's own.
            uint32_t reference = 0;
            std::memcpy(&reference, frame.reply() + REFERENCE_TIME_AT, sizeof(reference));
            const uint32_t arrival = reference - static_cast<uint32_t>(expiry);
            if (first_arrival) {
                arrival_origin = arrival;
                first_arrival = false;
            }
            arrivals.push_back(static_cast<int32_t>(arrival - arrival_origin));
        }
        // Each run of the loop has its own time base (busmaster sets the
        // clocks in between): its arrivals are kept around their median.
        const int64_t median = median_of(arrivals);
        for (int64_t v : arrivals)
            figures->arrivals.push_back(v - median);
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

    // The machine's load changes over a run: the bare loop and busmaster in
    // OP take turns, a few seconds each, busmaster resting in PRE-OP while
    // the bare loop runs.
    const int rounds = duration < ROUNDS ? 1 : ROUNDS;
    const int round_cycles = cycles / rounds;
    std::printf("%d s at 1 ms, in %d rounds of a bare loop and busmaster in OP\n", duration, rounds);
    Bare_Figures bare;
    bare.lateness.reserve(static_cast<std::size_t>(cycles));
    bare.round_trips.reserve(static_cast<std::size_t>(cycles));
    bare.arrivals.reserve(static_cast<std::size_t>(cycles));

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
    std::vector<int64_t> round_trips, resto, magnitudes;
    {
        ClientSocket_Udp_ex client("127.0.0.1", 500, true, 30, 0);
        const auto step = [&](const std::string& request) {
            const std::string reply = ask(client, request);
            if (reply == "reply_ok" || reply == "started")
                return true;
            std::printf("%s: %s\n", request.c_str(), reply.c_str());
            status = EXIT_FAILURE;
            return false;
        };
        bool ready = step("set_watchdog_off") && step("start_ethercat_master " + std::string(DEMO_ENI));
        for (int round = 0; ready && round < rounds; ++round) {
            bare_loop(segment.master_interface(), round_cycles, &bare);
            if (!step("go_into_next_state 4") || !step("go_into_next_state 8"))
                break;
            // The first frame against its plan (the last figure, ns).
            std::printf("round %d: get_master_time_info_first_frame: %s\n", round,
                        ask(client, "get_master_time_info_first_frame").c_str());
            ask(client, "request_timer_info_reset");
            std::this_thread::sleep_for(std::chrono::milliseconds(round_cycles));
            if (round == rounds - 1) {
                std::printf("last round: get_master_jitter_info: %s (count, actual, min, max in ns)\n",
                            ask(client, "get_master_jitter_info").c_str());
                std::printf("last round: get_master_time_info: %s\n", ask(client, "get_master_time_info").c_str());
                std::printf("last round: get_frame_resend_info: %s\n", ask(client, "get_frame_resend_info").c_str());
            }
            // The cyclic thread starts its records afresh in each round:
            // the round's OP cycles are the newest.
            append_newest(master.cycle_round_trips(), round_cycles, &round_trips, false);
            const std::vector<int32_t> jitters = master.cycle_jitters();
            append_newest(jitters, round_cycles, &resto, true);
            append_newest(jitters, round_cycles, &magnitudes, false);
            ready = step("go_into_next_state 2");
        }
        ask(client, "stop_ethercat_master");
        client << "0#close_connection";
        std::string reply;
        client >> reply;
    }
    server.join();

    for (int64_t& v : magnitudes)
        v = v < 0 ? -v : v;
    print("cyclic frame send-to-reply (cyclic thread vs bare raw socket, same veth pair)", "us", 1e3, round_trips,
          bare.round_trips);
    print(
        "frame jitter at the reference clock, distance from the median (m_dc_resto vs bare timerfd loop "
        "sending the same frame, same priority)",
        "us", 1e3, from_median(resto), from_median(bare.arrivals));
    print("for reference: |m_dc_resto| vs bare timerfd wake-up lateness alone", "us", 1e3, magnitudes, bare.lateness);
    std::printf("  samples: %zu frames, %zu jitter values, %zu bare cycles\n", round_trips.size(), resto.size(),
                bare.lateness.size());
    return status;
}
}  // namespace

int main(int argc, char** argv)
{
    return bench::run_isolated(argc, argv, run);
}
