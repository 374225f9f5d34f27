// Reply time of the simulated EtherCAT segment on a veth pair against a bare
// raw-socket echo on the same pair, measured in the same run: the master end
// sends one cyclic frame (LRW of a drive's and two I/O modules' process data,
// FRMW of the reference clock, BRD of the AL status) and busy-polls for its
// reply. Both responders busy-poll at SCHED_FIFO on their own CPU.
//
// Run as root; the benchmark starts itself again inside tests/isolate, so its
// veth pair lives in a network namespace of its own.

#include <pthread.h>
#include <sched.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "ethercat_frame.h"
#include "veth_harness.h"

namespace {

int SAMPLES = 20000;
constexpr int WARM_UP = 500;
constexpr int MASTER_CPU = 1;
constexpr int RESPONDER_CPU = 2;

// The CPU first: a thread lowered below a spinning one on its old CPU would
// never get to move.
void realtime(int priority, int cpu)
{
    cpu_set_t set;
    CPU_ZERO(&set);
    CPU_SET(cpu, &set);
    pthread_setaffinity_np(pthread_self(), sizeof set, &set);
    sched_param parameter{};
    parameter.sched_priority = priority;
    pthread_setschedparam(pthread_self(), SCHED_FIFO, &parameter);
}

class Master {
public:
    explicit Master(const std::string& interface) : m_socket(interface) {}

    // One datagram, one frame; the working counter (-1: no reply).
    int single(uint8_t command, uint16_t adp, uint16_t ado, std::vector<uint8_t> data)
    {
        const std::vector<uint8_t> frame = Ethercat_Frame().add(command, adp, ado, data).bytes();
        std::vector<uint8_t> reply(1600);
        m_socket.send(frame.data(), frame.size());
        const size_t size = m_socket.receive(reply.data(), reply.size(), std::chrono::milliseconds(100));
        if (size != frame.size()) {
            return -1;
        }
        return reply[frame.size() - 2] | (reply[frame.size() - 1] << 8);
    }
    int fpwr(uint16_t station, uint16_t ado, std::vector<uint8_t> data)
    {
        return single(5, station, ado, std::move(data));
    }

    // Round trips of one frame, ns.
    std::vector<int64_t> measure(const std::vector<uint8_t>& frame)
    {
        std::vector<int64_t> samples;
        samples.reserve(SAMPLES);
        std::vector<uint8_t> reply(1600);
        for (int i = 0; i < WARM_UP + SAMPLES; ++i) {
            const int64_t start = ecat_sim::monotonic_ns();
            m_socket.send(frame.data(), frame.size());
            const size_t size = m_socket.receive(reply.data(), reply.size(), std::chrono::milliseconds(10), true);
            const int64_t end = ecat_sim::monotonic_ns();
            if (size != frame.size()) {
                ++m_lost;
                if (m_lost > 100) {
                    throw std::runtime_error("more than 100 replies lost");
                }
                continue;
            }
            if (i >= WARM_UP) {
                samples.push_back(end - start);
            }
        }
        return samples;
    }

    int lost() const { return m_lost; }

private:
    ecat_sim::Raw_Ethernet_Socket m_socket;
    int m_lost = 0;
};

struct Figures {
    int64_t p50 = 0, p99 = 0;
};

Figures figures(std::vector<int64_t> samples)
{
    std::sort(samples.begin(), samples.end());
    if (samples.empty()) {
        return {};
    }
    return {samples[samples.size() / 2], samples[samples.size() * 99 / 100]};
}

// The bare baseline: receive, mark the reply, send back.
void echo(const std::string& interface, std::atomic<bool>& running, std::atomic<bool>& ready)
{
    realtime(80, RESPONDER_CPU);
    ecat_sim::Raw_Ethernet_Socket socket(interface);
    uint8_t frame[1600];
    ready = true;
    while (running.load(std::memory_order_relaxed)) {
        const ssize_t size = recv(socket.fd(), frame, sizeof frame, MSG_DONTWAIT);
        if (size > 0) {
            frame[6] |= 0x02;
            send(socket.fd(), frame, static_cast<size_t>(size), 0);
        }
    }
}

int run()
{
    ecat_sim::Veth_Pair veth;
    realtime(81, MASTER_CPU);
    Master master(veth.master_end());

    // The cyclic frame: drive outputs 13 + inputs 15, two I/O modules 1 + 1
    // byte each way, at logical 0..31; reference clock; AL status.
    const std::vector<uint8_t> cyclic = Ethercat_Frame()
                                            .add(12, 0x0000, 0x0000, std::vector<uint8_t>(32, 0))
                                            .add(14, 0x1001, 0x0910, std::vector<uint8_t>(4, 0))
                                            .add(7, 0x0000, 0x0130, std::vector<uint8_t>(2, 0))
                                            .bytes();

    std::atomic<bool> running{true}, ready{false};
    std::thread responder(echo, veth.segment_end(), std::ref(running), std::ref(ready));
    while (!ready) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    const Figures bare = figures(master.measure(cyclic));
    if (master.lost() != 0) {
        std::printf("baseline: %d replies lost\n", master.lost());
    }
    running = false;
    responder.join();

    ecat_sim::Sim_Options options;
    options.interface = veth.segment_end();
    options.busy_poll = true;
    options.priority = 80;
    options.cpu = RESPONDER_CPU;
    options.control = false;
    ecat_sim::Segment_Config config = ecat_sim::parse_segment_config(
        "slave axis device=cia402\nslave in device=dio outputs=0 inputs=8\nslave out device=dio outputs=8 inputs=0\n");
    ecat_sim::Ecat_Simulator simulator(config, options);
    // Bring the segment to OP with its process data mapped.
    for (uint16_t p = 0; p < 3; ++p) {
        master.single(2, static_cast<uint16_t>(0 - p), 0x0010, {static_cast<uint8_t>(0x01 + p), 0x10});
    }
    auto sm = [&master](uint16_t station, int n, uint16_t start, uint16_t length, uint8_t control) {
        master.fpwr(station, static_cast<uint16_t>(0x0800 + 8 * n),
                    {static_cast<uint8_t>(start), static_cast<uint8_t>(start >> 8), static_cast<uint8_t>(length),
                     static_cast<uint8_t>(length >> 8), control, 0, 1, 0});
    };
    auto fmmu = [&master](uint16_t station, int n, uint32_t logical, uint16_t length, uint16_t physical, uint8_t type) {
        master.fpwr(station, static_cast<uint16_t>(0x0600 + 16 * n),
                    {static_cast<uint8_t>(logical), static_cast<uint8_t>(logical >> 8),
                     static_cast<uint8_t>(logical >> 16), static_cast<uint8_t>(logical >> 24),
                     static_cast<uint8_t>(length), static_cast<uint8_t>(length >> 8), 0, 7,
                     static_cast<uint8_t>(physical), static_cast<uint8_t>(physical >> 8), 0, type, 1, 0, 0, 0});
    };
    sm(0x1001, 0, 0x1000, 128, 0x26);
    sm(0x1001, 1, 0x1080, 128, 0x22);
    sm(0x1001, 2, 0x1100, 13, 0x64);
    sm(0x1001, 3, 0x1180, 15, 0x20);
    fmmu(0x1001, 0, 0, 13, 0x1100, 2);
    fmmu(0x1001, 1, 13, 15, 0x1180, 1);
    sm(0x1002, 1, 0x1080, 1, 0x20);
    fmmu(0x1002, 0, 28, 1, 0x1080, 1);
    sm(0x1003, 0, 0x1000, 1, 0x64);
    fmmu(0x1003, 0, 29, 1, 0x1000, 2);
    for (uint16_t state : {2, 4}) {
        for (uint16_t station : {0x1001, 0x1002, 0x1003}) {
            master.fpwr(station, 0x0120, {static_cast<uint8_t>(state), 0});
        }
    }
    for (int i = 0; i < 10; ++i) {
        master.single(12, 0, 0, std::vector<uint8_t>(32, 0));
    }
    for (uint16_t station : {0x1001, 0x1002, 0x1003}) {
        master.fpwr(station, 0x0120, {8, 0});
    }
    const int wkc = master.single(7, 0, 0x0130, {0, 0});
    std::vector<uint8_t> reply(1600);
    const Figures sim = figures(master.measure(cyclic));

    std::printf(
        "EtherCAT reply on a veth pair, %d frames of %zu bytes (LRW 32 + FRMW 4 + BRD 2), 3 slaves in OP "
        "(AL status wkc %d)\n",
        SAMPLES, cyclic.size(), wkc);
    std::printf("  bare raw-socket echo: median %7.2f us  p99 %7.2f us\n", bare.p50 / 1e3, bare.p99 / 1e3);
    std::printf("  simulated segment   : median %7.2f us  p99 %7.2f us\n", sim.p50 / 1e3, sim.p99 / 1e3);
    std::printf("  ratio               : median %7.2f     p99 %7.2f\n", static_cast<double>(sim.p50) / bare.p50,
                static_cast<double>(sim.p99) / bare.p99);
    return EXIT_SUCCESS;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc > 2) {
        SAMPLES = std::max(100, std::atoi(argv[2]));
    }
    if (argc > 1 && std::strcmp(argv[1], "--isolated") == 0) {
        try {
            return run();
        } catch (const std::exception& error) {
            std::printf("%s\n", error.what());
            return EXIT_FAILURE;
        }
    }
    const std::string samples = argc > 1 ? argv[1] : std::to_string(SAMPLES);
    execl(CELL_ISOLATE, CELL_ISOLATE, argv[0], "--isolated", samples.c_str(), static_cast<char*>(nullptr));
    std::perror("execl tests/isolate");
    return EXIT_FAILURE;
}
