// Cyclic exchange of the socket bridge over a veth pair: this process plays
// the slave board's cyclic client against a real master (rtframe -o -m -b on
// the other board), 10,000 exchanges of a 64-variable image each way, beside
// a bare TCP ping-pong of the same sizes over the same link, the CPUs' idle
// states held at an exit latency of 0 for both.
//
// Run as root: it starts itself again inside tests/isolate_pair; the master
// runs on board B (10.77.0.2), this client on board A.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "bench_support.h"
#include "bridge_bench.h"
#include "bridge_fake_peer.h"
#include "bridge_wire.h"
#include "child_process.h"
#include "peer_board.h"

namespace {
constexpr int VARIABLES = 64;
constexpr int EXCHANGES = 10000;
constexpr int WARM_UP = 500;
constexpr int BARE_PORT = 61000;
constexpr uint32_t IMAGE_BYTES = VARIABLES * 4;  // int32 each

std::string name_of(const char* prefix, int i)
{
    return std::string(prefix) + std::to_string(i);
}

// The master's files in /tmp (shared by both boards): 64 int32 variables in
// each direction on top of the example master board.
std::pair<std::string, std::string> write_master_files(const Peer_Board& board)
{
    std::string virtuals;
    std::string inputs, outputs;
    for (int i = 0; i < VARIABLES; ++i) {
        for (const char* prefix : {"bench_up_", "bench_down_"})
            virtuals += "    <virtual_io name_virtual=\"" + name_of(prefix, i) +
                        "\" type=\"int32\" group_id=\"-1\" is_ro=\"0\" is_negated=\"0\" default_value=\"" +
                        std::to_string(i) + "\"/>\n";
        inputs += "<input name=\"" + name_of("bench_up_", i) + "\"/>";
        outputs += "<output name=\"" + name_of("bench_down_", i) + "\"/>";
    }
    std::string app = read_file(std::string(CELL_EXAMPLES_DIR) + "/bridge/application_descriptor_master.xml");
    app.replace(app.find("  </virtual_ios>"), 0, virtuals);
    write_file("/tmp/bench_app.xml", app);
    write_file("/tmp/bench_bridge.xml",
               "<bridge_descriptor><io_update_time_ms>10</io_update_time_ms><master_socket_address>" +
                   board.peer_address() + "</master_socket_address><slave_socket_address>" + board.own_address() +
                   "</slave_socket_address><inputs>" + inputs + "</inputs><outputs>" + outputs +
                   "</outputs><sem_data_in/><sem_data_out/><cmd_in/><cmd_out/></bridge_descriptor>\n");
    return {"/tmp/bench_app.xml", "/tmp/bench_bridge.xml"};
}

int run()
{
    // Both sides of the ratio measured with the CPUs' idle states held alike.
    const bench::Idle_Latency_Hold idle_hold;
    const Peer_Board board;
    const auto [app, bridge] = write_master_files(board);
    Child_Process master(board.launcher(),
                         board.launcher_arguments(rtframe_binary(), {"-o", "-s", "-m", "-b", bridge, "-c", app}),
                         "/tmp/bench_master.log");
    std::vector<Bridge_Fake_Peer::Item> down, up;
    for (int i = 0; i < VARIABLES; ++i) {
        down.emplace_back(name_of("bench_down_", i), 5);
        up.emplace_back(name_of("bench_up_", i), 5);
    }
    Bridge_Fake_Peer::Bytes image(IMAGE_BYTES, 0x5a);
    std::vector<int64_t> bridged;
    try {
        Bridge_Fake_Peer peer;
        if (!peer.connect(board.peer_address(), bridge_wire::CYCLIC_PORT, std::chrono::seconds(30))) {
            std::printf("the master did not listen\n%s\n", master.log().c_str());
            return EXIT_FAILURE;
        }
        const auto answers = peer.cyclic_handshake(down, IMAGE_BYTES, up, IMAGE_BYTES);
        if (answers.first != Bridge_Fake_Peer::Bytes(VARIABLES, 1) ||
            answers.second != Bridge_Fake_Peer::Bytes(VARIABLES, 1)) {
            std::printf("handshake refused\n%s\n", master.log().c_str());
            return EXIT_FAILURE;
        }
        bridged = bench::ping_pong(peer, image, IMAGE_BYTES, WARM_UP, EXCHANGES);
    } catch (const std::exception& error) {
        std::printf("bridge exchange failed: %s\n%s\n", error.what(), master.log().c_str());
        return EXIT_FAILURE;
    }

    auto echo = board.start([address = board.peer_address()] {
        return bench::bare_tcp_echo(address, BARE_PORT, IMAGE_BYTES, IMAGE_BYTES);
    });
    std::vector<int64_t> bare;
    {
        Bridge_Fake_Peer peer;
        if (!peer.connect(board.peer_address(), BARE_PORT, std::chrono::seconds(10))) {
            std::printf("the bare echo server did not listen\n");
            return EXIT_FAILURE;
        }
        bare = bench::ping_pong(peer, image, IMAGE_BYTES, WARM_UP, EXCHANGES);
    }
    const int echo_status = echo->wait(std::chrono::seconds(10));

    std::printf("%d exchanges of %u bytes each way over a veth pair (after %d to warm up)\n", EXCHANGES, IMAGE_BYTES,
                WARM_UP);
    idle_hold.print();
    const bench::Figures b = bench::figures_of(bridged);
    const bench::Figures t = bench::figures_of(bare);
    bench::print_row("bridge cyclic exchange (rtframe master)", b);
    bench::print_row("bare TCP ping-pong", t);
    std::printf("ratio of p50: %.2f (goal: within 1.5)\n", static_cast<double>(b.p50) / static_cast<double>(t.p50));
    const int status = master.stop(std::chrono::seconds(30));
    std::printf("echo server exit status: %d\n", echo_status);
    return bench::report_rtframe_exit(status);
}
}  // namespace

int main(int argc, char** argv)
{
    return bench::run_isolated(argc, argv, run);
}
