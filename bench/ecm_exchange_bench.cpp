// busmaster's two exchanges, each beside a bare baseline in the same run:
//   - one acyclic datagram (BRD of AL status) through the frame layer
//     (frame mutex, drain, send, busy-polled reply) against the same frame
//     sent and received on a bare raw socket, both answered by the simulated
//     segment of three slaves on a veth pair;
//   - one command-server request ("n#get_system_version") through
//     ECM_Master_Socket against a bare UDP echo, both on loopback.
// The CPUs' idle states are held at an exit latency of 0 for the whole run,
// so that neither side of a ratio pays the wake of an idle CPU alone.
// Run as root: it starts itself again inside tests/isolate.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
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
constexpr int SAMPLES = 20000;
constexpr int WARM_UP = 500;

void print(const char* what, const std::vector<int64_t>& measured, const std::vector<int64_t>& bare)
{
    const bench::Figures m = bench::figures_of(measured);
    const bench::Figures b = bench::figures_of(bare);
    std::printf("%s\n", what);
    std::printf("  measured  median %8.1f us  p99 %8.1f us\n", m.p50 / 1e3, m.p99 / 1e3);
    std::printf("  baseline  median %8.1f us  p99 %8.1f us\n", b.p50 / 1e3, b.p99 / 1e3);
    std::printf("  ratio     median %8.2f     p99 %8.2f\n", static_cast<double>(m.p50) / b.p50,
                static_cast<double>(m.p99) / b.p99);
}

int frame_exchange()
{
    ecat_sim::Veth_Segment segment(
        ecat_sim::parse_segment_config("slave io1 device=dio\nslave io2 device=dio\nslave io3 device=dio\n"));
    if (ec_setupnic(segment.master_interface().c_str()) != 0) {
        std::printf("cannot open %s\n", segment.master_interface().c_str());
        return EXIT_FAILURE;
    }
    int failures = 0;
    const std::vector<int64_t> measured = bench::time_each(WARM_UP, SAMPLES, [&] {
        uint8_t data[2] = {};
        failures += ec_BRD(0, 0x0130, 2, data, 20000, 1) != 3;
    });
    ec_closenic();

    bench::Bare_Frame bare = bench::Bare_Frame::one_datagram(segment.master_interface(), EC_CMD_BRD, 0, 0x0130, 2);
    const std::vector<int64_t> baseline = bench::time_each(WARM_UP, SAMPLES, [&] { failures += bare.exchange() == 0; });
    print("acyclic datagram round trip (ec_BRD vs bare raw socket, simulated segment)", measured, baseline);
    std::printf("  failed exchanges: %d\n", failures);
    return failures == 0 ? EXIT_SUCCESS : EXIT_FAILURE;
}

int command_round_trip()
{
    write_file("/tmp/ecm_bench_cfg.xml",
               "<EcmSystem><SystemConfig><Cfg><EtherCATNetInterface>lo</EtherCATNetInterface>"
               "<EtheCATUserSocketIpAddr>127.0.0.1</EtheCATUserSocketIpAddr>"
               "<EtheCATUserSocketPort>500</EtheCATUserSocketPort></Cfg></SystemConfig></EcmSystem>");
    ECM_Master_Socket master("/tmp/ecm_bench_cfg.xml", false, 0, 20);
    if (master.view_system_state() != SYSTEM_SETUP_OK)
        return EXIT_FAILURE;
    master.open_socket_real_udp();
    std::thread server([&] {
        while (master.is_system_real_udp_socket_active()) {
            master.wait_request_real_udp();
            master.execute_request_and_reply_real_udp();
        }
    });
    int failures = 0;
    std::vector<int64_t> measured;
    {
        ClientSocket_Udp_ex client("127.0.0.1", 500, true, 1, 0);
        int id = 0;
        measured = bench::time_each(WARM_UP, SAMPLES, [&] {
            id = id < 999 ? id + 1 : 0;
            client << std::to_string(id) + "#get_system_version";
            std::string reply;
            client >> reply;
            failures += reply != std::to_string(id) + "#32";
        });
        client << "0#close_connection";
        std::string reply;
        client >> reply;
    }
    server.join();

    const int echo = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in at{};
    at.sin_family = AF_INET;
    at.sin_port = htons(501);
    at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(echo, reinterpret_cast<sockaddr*>(&at), sizeof(at));
    std::atomic<bool> stop{false};
    std::thread echo_thread([&] {
        char buffer[600];
        while (!stop) {
            sockaddr_in from{};
            socklen_t from_length = sizeof(from);
            const ssize_t n =
                recvfrom(echo, buffer, sizeof(buffer), 0, reinterpret_cast<sockaddr*>(&from), &from_length);
            if (n > 0)
                sendto(echo, buffer, static_cast<size_t>(n), 0, reinterpret_cast<sockaddr*>(&from), from_length);
        }
    });
    std::vector<int64_t> baseline;
    {
        ClientSocket_Udp_ex client("127.0.0.1", 501, true, 1, 0);
        baseline = bench::time_each(WARM_UP, SAMPLES, [&] {
            client << "1#get_system_version";
            std::string reply;
            client >> reply;
        });
        stop = true;
        client << "end";
    }
    echo_thread.join();
    close(echo);
    print("command request round trip (busmaster command server vs bare UDP echo, loopback)", measured, baseline);
    std::printf("  wrong replies: %d\n", failures);
    return failures == 0 ? EXIT_SUCCESS : EXIT_FAILURE;
}

int run()
{
    // Both sides of each ratio measured with the CPUs' idle states held alike.
    const bench::Idle_Latency_Hold idle_hold;
    std::printf("%d samples each after %d warm-up rounds\n", SAMPLES, WARM_UP);
    idle_hold.print();
    const int frames = frame_exchange();
    const int commands = command_round_trip();
    return frames == EXIT_SUCCESS && commands == EXIT_SUCCESS ? EXIT_SUCCESS : EXIT_FAILURE;
}
}  // namespace

int main(int argc, char** argv)
{
    return bench::run_isolated(argc, argv, run);
}
