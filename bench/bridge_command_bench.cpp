// Command round trip over the socket bridge: a client on the master board
// (this process, board A) sends a command of 8 bytes that a waiting server on
// the slave board (B) answers with 16 bytes. Beside it, in the same run: a
// bare TCP ping-pong of the same sizes over the same veth pair, and a local
// command round trip on each board (client and server on one board, over a
// channel that is not bridged). The CPUs' idle states are held at an exit
// latency of 0 for the whole run, for all four measurements alike.
//
// Each end of a bare part runs in the scheduling class of the thread it
// stands for in the bridged trip: the bridge's command threads run under
// SCHED_FIFO 47, the applications under the normal policy. So the TCP ends
// run at 47, the server of the master board's local command (the master's
// bridge) and the client of the slave board's (the slave's bridge) at 47,
// and the other two ends normally. Wake-ups of a FIFO thread cost more here
// than wake-ups of a normal one (a FIFO TCP ping-pong reads about twice the
// normal one): bare parts run all normally would charge that to the bridge.
//
// Run as root: it starts itself again inside tests/isolate_pair.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "bench_support.h"
#include "bridge_bench.h"
#include "bridge_fake_peer.h"
#include "child_process.h"
#include "framework_shared_memory.h"
#include "peer_board.h"
#include "xelo_framework_shm_manager.h"

namespace {
constexpr int ROUND_TRIPS = 3000;
constexpr int WARM_UP = 200;
constexpr int BARE_PORT = 61001;
constexpr std::size_t COMMAND_BYTES = 8;
constexpr std::size_t ANSWER_BYTES = 16;
// The priority of the bridge's command channel threads; 0: the normal policy.
constexpr int BRIDGE_THREAD_PRIORITY = 47;
constexpr int APPLICATION_PRIORITY = 0;

// "bench_cmd" is bridged (sent on the master, served on the slave);
// "bench_local" stays on its board. Command: "arg" int64; answer "a", "b" int64.
const char* const GROUPS =
    "<sem sem_name=\"bench_cmd_sender\" ring_buffer=\"0\" flag_only_not_rt=\"1\">"
    "<sem_data data_name=\"arg\" type=\"int64\"/></sem>"
    "<sem sem_name=\"bench_cmd_receiver\" ring_buffer=\"0\" flag_only_not_rt=\"1\">"
    "<sem_data data_name=\"a\" type=\"int64\"/><sem_data data_name=\"b\" type=\"int64\"/></sem>"
    "<sem sem_name=\"bench_local_sender\" ring_buffer=\"0\" flag_only_not_rt=\"1\">"
    "<sem_data data_name=\"arg\" type=\"int64\"/></sem>"
    "<sem sem_name=\"bench_local_receiver\" ring_buffer=\"0\" flag_only_not_rt=\"1\">"
    "<sem_data data_name=\"a\" type=\"int64\"/><sem_data data_name=\"b\" type=\"int64\"/></sem>"
    "</sem_data_group>";

std::string board_file(const char* board)
{
    std::string app = read_file(std::string(CELL_EXAMPLES_DIR) + "/bridge/application_descriptor_" + board + ".xml");
    app.replace(app.find("</sem_data_group>"), std::strlen("</sem_data_group>"), GROUPS);
    app.replace(app.find("<linux_application_number>4<"), std::strlen("<linux_application_number>4<"),
                "<linux_application_number>6<");
    const std::string path = std::string("/tmp/bench_cmd_") + board + ".xml";
    write_file(path, app);
    return path;
}

std::string bridge_file(const Peer_Board& board)
{
    write_file("/tmp/bench_cmd_bridge.xml",
               "<bridge_descriptor><io_update_time_ms>10</io_update_time_ms><master_socket_address>" +
                   board.own_address() + "</master_socket_address><slave_socket_address>" + board.peer_address() +
                   "</slave_socket_address><inputs/><outputs/><sem_data_in/><sem_data_out/><cmd_in/>"
                   "<cmd_out><cmd cmd_name=\"bench_cmd\"/></cmd_out></bridge_descriptor>\n");
    return "/tmp/bench_cmd_bridge.xml";
}

std::unique_ptr<Framework_Shared_Memory_Manager> attach(const std::string& name)
{
    auto m = std::make_unique<Framework_Shared_Memory_Manager>();
    m->init_with_h_compatibility_check_ex(name, 4, 1);
    return m;
}

// The policy is had, or a line says it was not.
bool policy_had(const bench::Thread_Policy& policy, int priority, const char* who)
{
    if (policy.had())
        return true;
    std::printf("no SCHED_FIFO %d for the %s (run as root)\n", priority, who);
    return false;
}

// Serves count commands of channel at priority: a = arg + 1, b = arg * 2.
// 0 when all were served.
int serve(const std::string& channel, int count, std::atomic<bool>* ready, int priority)
{
    const bench::Thread_Policy policy(priority);
    if (!policy_had(policy, priority, "server"))
        return 1;
    auto m = attach(channel + "_server");
    const int cmd = m->get_cmd_channel_id_as_server_ex(channel);
    while (!m->try_acquire_cmd_as_server_ex(cmd))
        usleep(1000);
    const int arg = m->get_cmd_data_id_to_recv_ex(cmd, "arg");
    const int a = m->get_cmd_data_id_to_send_ex(cmd, "a");
    const int b = m->get_cmd_data_id_to_send_ex(cmd, "b");
    if (ready != nullptr)
        *ready = true;
    else
        write_file("/tmp/bench_server_ready", "1\n");
    for (int i = 0; i < count; ++i) {
        if (!m->wait_cmd_ex(cmd, 10000))
            return 1;
        const long long value = m->get_cmd_data_ex<long long>(cmd, arg);
        m->set_answ_data_ex<long long>(cmd, a, value + 1);
        m->set_answ_data_ex<long long>(cmd, b, value * 2);
        m->send_answer_ex(cmd);
    }
    return 0;
}

// count round trips of channel from a client at priority; the times of
// those after the warm-up, empty when one failed.
std::vector<int64_t> round_trips(const std::string& channel, int count, int priority)
{
    const bench::Thread_Policy policy(priority);
    if (!policy_had(policy, priority, "client"))
        return {};
    auto m = attach(channel + "_client");
    const int cmd = m->get_cmd_channel_id_as_client_ex(channel);
    while (!m->try_acquire_cmd_as_client_ex(cmd))
        usleep(1000);
    const int arg = m->get_cmd_data_id_to_send_ex(cmd, "arg");
    const int a = m->get_cmd_data_id_to_recv_ex(cmd, "a");
    const int b = m->get_cmd_data_id_to_recv_ex(cmd, "b");
    std::vector<int64_t> samples;
    samples.reserve(static_cast<std::size_t>(count));
    for (int i = 0; i < WARM_UP + count; ++i) {
        const int64_t start = bench::now_ns();
        m->set_cmd_data_ex<long long>(cmd, arg, i);
        // A server between two waits refuses the send: let it run (it may
        // share this CPU) and try again.
        for (;;) {
            try {
                m->send_cmd_ex(cmd);
                break;
            } catch (const std::runtime_error&) {
                if (bench::now_ns() - start > 5000000000LL)
                    return {};
                std::this_thread::yield();
            }
        }
        if (!m->wait_answer_ex(cmd, 5000) || m->get_answ_data_ex<long long>(cmd, a) != i + 1 ||
            m->get_answ_data_ex<long long>(cmd, b) != 2LL * i)
            return {};
        if (i >= WARM_UP)
            samples.push_back(bench::now_ns() - start);
    }
    m->release_cmd_as_client_ex(cmd);
    return samples;
}

// Local round trips on one board: a server thread and a client, each at its
// priority.
std::vector<int64_t> local_round_trips(int server_priority, int client_priority)
{
    std::atomic<bool> ready{false};
    std::atomic<int> served{-1};
    std::thread server([&] { served = serve("bench_local", WARM_UP + ROUND_TRIPS, &ready, server_priority); });
    while (!ready && served == -1)
        usleep(1000);
    std::vector<int64_t> samples =
        served == -1 ? round_trips("bench_local", ROUND_TRIPS, client_priority) : std::vector<int64_t>{};
    server.join();
    return served == 0 ? samples : std::vector<int64_t>{};
}

bool slave_ready(const Peer_Board& board)
{
    for (int i = 0; i < 300; ++i) {
        const int status = board.run(
            [] {
                return access("/dev/shm/linux_framework_info", F_OK) == 0 &&
                               probe::segment("/linux_framework_info", sizeof(Shared_Info_Struct),
                                              [](const void* info) {
                                                  return __atomic_load_n(&static_cast<const Shared_Info_Struct*>(info)
                                                                              ->ready_to_start,
                                                                         __ATOMIC_ACQUIRE) == 1;
                                              })()
                           ? 0
                           : 1;
            },
            std::chrono::seconds(5));
        if (status == 0)
            return true;
        usleep(100000);
    }
    return false;
}

int run()
{
    const bench::Idle_Latency_Hold idle_hold;
    const Peer_Board board;
    const std::string bridge = bridge_file(board);
    Rtframe_Child master({"-o", "-s", "-m", "-b", bridge, "-c", board_file("master")}, "/tmp/bench_cmd_master.log");
    Child_Process slave(board.launcher(),
                        board.launcher_arguments(rtframe_binary(),
                                                 {"-o", "-s", "-b", bridge, "-c", board_file("slave")}),
                        "/tmp/bench_cmd_slave.log");
    if (!master.wait_until_ready(std::chrono::seconds(60)) || !slave_ready(board)) {
        std::printf("the boards did not start\n%s\n%s\n", master.log().c_str(), slave.log().c_str());
        return EXIT_FAILURE;
    }

    auto server = board.start([] { return serve("bench_cmd", WARM_UP + ROUND_TRIPS, nullptr, APPLICATION_PRIORITY); });
    for (int i = 0; i < 1000 && access("/tmp/bench_server_ready", F_OK) != 0; ++i)
        usleep(10000);
    const std::vector<int64_t> bridged = round_trips("bench_cmd", ROUND_TRIPS, APPLICATION_PRIORITY);
    const int server_status = server->wait(std::chrono::seconds(20));
    if (bridged.empty() || server_status != 0) {
        std::printf("bridged round trips failed (server status %d)\n%s\n%s\n", server_status, master.log().c_str(),
                    slave.log().c_str());
        return EXIT_FAILURE;
    }

    // Master board: the master's bridge serves, an application sends.
    const std::vector<int64_t> local_master = local_round_trips(BRIDGE_THREAD_PRIORITY, APPLICATION_PRIORITY);
    auto slave_local = board.start([] {
        // Slave board: the slave's bridge sends, an application serves.
        const std::vector<int64_t> samples = local_round_trips(APPLICATION_PRIORITY, BRIDGE_THREAD_PRIORITY);
        if (samples.empty())
            return 1;
        const bench::Figures f = bench::figures_of(samples);
        write_file("/tmp/bench_slave_local",
                   std::to_string(f.p50) + " " + std::to_string(f.p99) + " " + std::to_string(f.max) + "\n");
        return 0;
    });
    const int slave_local_status = slave_local->wait(std::chrono::seconds(60));

    auto echo = board.start([address = board.peer_address()] {
        const bench::Thread_Policy policy(BRIDGE_THREAD_PRIORITY);
        if (!policy_had(policy, BRIDGE_THREAD_PRIORITY, "echo server"))
            return 1;
        return bench::bare_tcp_echo(address, BARE_PORT, COMMAND_BYTES, ANSWER_BYTES);
    });
    std::vector<int64_t> bare;
    {
        const bench::Thread_Policy policy(BRIDGE_THREAD_PRIORITY);
        if (!policy_had(policy, BRIDGE_THREAD_PRIORITY, "ping-pong client"))
            return EXIT_FAILURE;
        Bridge_Fake_Peer peer;
        if (!peer.connect(board.peer_address(), BARE_PORT, std::chrono::seconds(10))) {
            std::printf("the bare echo server did not listen\n");
            return EXIT_FAILURE;
        }
        bare = bench::ping_pong(peer, Bridge_Fake_Peer::Bytes(COMMAND_BYTES, 0x5a), ANSWER_BYTES, WARM_UP, ROUND_TRIPS);
    }
    const int echo_status = echo->wait(std::chrono::seconds(10));
    if (local_master.empty() || slave_local_status != 0) {
        std::printf("local round trips failed\n");
        return EXIT_FAILURE;
    }
    bench::Figures s{};
    {
        const std::string text = read_file("/tmp/bench_slave_local");
        long long p50 = 0, p99 = 0, max = 0;
        if (std::sscanf(text.c_str(), "%lld %lld %lld", &p50, &p99, &max) != 3) {
            std::printf("no figures from the slave board\n");
            return EXIT_FAILURE;
        }
        s = {p50, p99, max};
    }

    std::printf("%d command round trips, %zu bytes of command, %zu of answer (after %d to warm up)\n", ROUND_TRIPS,
                COMMAND_BYTES, ANSWER_BYTES, WARM_UP);
    idle_hold.print();
    std::printf("bare parts: the bridge's ends at SCHED_FIFO %d, the applications' at the normal policy\n",
                BRIDGE_THREAD_PRIORITY);
    const bench::Figures b = bench::figures_of(bridged);
    const bench::Figures t = bench::figures_of(bare);
    const bench::Figures l = bench::figures_of(local_master);
    bench::print_row("bridged command (master -> slave)", b);
    bench::print_row("bare TCP ping-pong (same link)", t);
    bench::print_row("local command on the master board", l);
    bench::print_row("local command on the slave board", s);
    const double baseline = static_cast<double>(t.p50 + l.p50 + s.p50);
    std::printf("ratio of p50 to the sum of the three bare p50s: %.2f (goal: within 2)\n",
                static_cast<double>(b.p50) / baseline);
    const int slave_status = slave.stop(std::chrono::seconds(30));
    std::printf("echo server exit status: %d, slave rtframe exit status: %d\n", echo_status, slave_status);
    return bench::report_rtframe_exit(master.stop(std::chrono::seconds(30)));
}
}  // namespace

int main(int argc, char** argv)
{
    return bench::run_isolated(argc, argv, run);
}
