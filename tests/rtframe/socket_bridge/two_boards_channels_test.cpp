// Data groups and command channels between two boards. Code on the slave
// board runs in child processes (Peer_Board::start); it reports through its
// exit status and through files in the /tmp that both boards share.
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <fstream>
#include <functional>
#include <iterator>
#include <sstream>
#include <thread>

#include "two_boards_fixture.h"

namespace {

void touch(const std::string& path)
{
    std::ofstream(path) << "1\n";
}

bool exists(const std::string& path)
{
    struct stat st {};
    return stat(path.c_str(), &st) == 0;
}

// Waits up to limit for path; false when it never appeared.
bool wait_file(const std::string& path, std::chrono::milliseconds limit = 30s)
{
    return eventually([&] { return exists(path); }, limit, 10ms);
}

std::unique_ptr<Framework_Shared_Memory_Manager> attach(const std::string& name)
{
    auto m = std::make_unique<Framework_Shared_Memory_Manager>();
    m->init_with_h_compatibility_check_ex(name, 4, 1);
    return m;
}

std::string label_of(Framework_Shared_Memory_Manager& m, int group, int datum)
{
    char label[9] = {};
    m.get_sem_data_group_data_byte_array_ex(group, datum, reinterpret_cast<uint8_t*>(label), 8, 0);
    return label;
}

// A client's command: takes the client side, lets fill write the command
// data, sends once the server (here: the bridge) waits, and waits for the
// answer. Returns the wait's result with the client side still held; the
// caller reads the answer and releases it.
bool send_command(Framework_Shared_Memory_Manager& m, int cmd, const std::function<void()>& fill, double timeout_ms)
{
    if (!eventually([&] { return m.try_acquire_cmd_as_client_ex(cmd); }, 10s, 10ms))
        throw std::runtime_error("client side not acquired");
    fill();
    // The bridge's wait for a local command is taken in slices: the moment
    // between two slices refuses a send, as any busy server does.
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    for (;;) {
        try {
            if (m.is_server_waiting_for_command_ex(cmd)) {
                m.send_cmd_ex(cmd);
                break;
            }
        } catch (const std::runtime_error& error) {
            if (std::strstr(error.what(), "No server is waiting for a command!") == nullptr)
                throw;
        }
        if (std::chrono::steady_clock::now() > deadline)
            throw std::runtime_error("no server waited");
        std::this_thread::sleep_for(5ms);
    }
    return m.wait_answer_ex(cmd, timeout_ms);
}

// A server of "move" on the slave board (one per test: it keeps its side, as
// giving it back right after an answer would mark the answer's readers):
// answers result = code + 1 and
// position = target * 2 for commands commands, the first after delay;
// touches "/tmp/move_received" at each command. 0 when all were served.
int serve_move(int commands, std::chrono::milliseconds delay)
{
    auto m = attach("move_server");
    const int cmd = m->get_cmd_channel_id_as_server_ex("move");
    if (!eventually([&] { return m->try_acquire_cmd_as_server_ex(cmd); }, 10s, 10ms))
        return 10;
    const int code = m->get_cmd_data_id_to_recv_ex(cmd, "code");
    const int target = m->get_cmd_data_id_to_recv_ex(cmd, "target");
    const int result = m->get_cmd_data_id_to_send_ex(cmd, "result");
    const int position = m->get_cmd_data_id_to_send_ex(cmd, "position");
    touch("/tmp/move_server_ready");
    for (int served = 0; served < commands;) {
        if (!m->wait_cmd_ex(cmd, 60000))
            return 11;
        touch("/tmp/move_received");
        std::this_thread::sleep_for(delay);
        m->set_answ_data_ex<signed char>(cmd, result,
                                         static_cast<signed char>(m->get_cmd_data_ex<signed char>(cmd, code) + 1));
        m->set_answ_data_ex<double>(cmd, position, m->get_cmd_data_ex<double>(cmd, target) * 2);
        try {
            m->send_answer_ex(cmd);
        } catch (const std::exception& error) {
            // A late answer finds no client any more.
            if (delay < 1s)
                return 12;
        }
        if (delay >= 1s)
            touch("/tmp/move_answered_late");
        delay = 0ms;
        ++served;
    }
    return 0;
}

// The master's "move" command: code and target in, the answer out.
struct Move_Answer {
    bool answered = false;
    signed char result = 0;
    double position = 0;
};

Move_Answer move(Framework_Shared_Memory_Manager& m, signed char code, double target, double timeout_ms)
{
    const int cmd = m.get_cmd_channel_id_as_client_ex("move");
    Move_Answer answer;
    answer.answered = send_command(
        m, cmd,
        [&] {
            m.set_cmd_data_ex<signed char>(cmd, m.get_cmd_data_id_to_send_ex(cmd, "code"), code);
            m.set_cmd_data_ex<double>(cmd, m.get_cmd_data_id_to_send_ex(cmd, "target"), target);
        },
        timeout_ms);
    if (answer.answered) {
        answer.result = m.get_answ_data_ex<signed char>(cmd, m.get_cmd_data_id_to_recv_ex(cmd, "result"));
        answer.position = m.get_answ_data_ex<double>(cmd, m.get_cmd_data_id_to_recv_ex(cmd, "position"));
    }
    m.release_cmd_as_client_ex(cmd);
    return answer;
}

// The launch order of each board and its thread names.
const std::vector<std::string> MASTER_THREADS = {"sem_server_0 [0]",  "sem_client_0 [1]", "sem_client_1 [2]",
                                                 "cmd_server_0 [3]",  "cmd_client_0 [4]", "cmd_client_1 [5]",
                                                 "cyclics_server [6]"};
const std::vector<std::string> SLAVE_THREADS = {"sem_client_0 [0]",  "sem_server_0 [1]", "sem_server_1 [2]",
                                                "cmd_client_0 [3]",  "cmd_server_0 [4]", "cmd_server_1 [5]",
                                                "cyclics_client [6]"};

// Empty when the log shows the threads running in this order, else what is amiss.
std::string running_order(const std::string& log, const std::vector<std::string>& threads)
{
    std::size_t last = 0;
    for (const std::string& thread : threads) {
        const std::size_t at = log.find("Thread " + thread + " is running!", last);
        if (at == std::string::npos)
            return thread + " not running after the previous one";
        last = at;
    }
    return "";
}

class Two_Boards_Channels_Test : public Two_Boards_Test {
protected:
    void start_both_and_wait_ready()
    {
        start_master();
        start_slave();
        ASSERT_TRUE(master->wait_until_ready(40s)) << master->log();
        ASSERT_TRUE(slave_ready(30s)) << slave->log();
    }
};
}  // namespace

// The master alone: its first channel retries its init, the others wait
// for it. The slave started late: both boards finish their channels in
// launch order. Then groups cross both ways: a plain group's post wakes the
// reader on the other board with the same values, posts made in a burst
// fold into deliveries that end with the latest values, and ring slots
// arrive oldest first, every one of them, stamped with the receiving
// board's ticks (the master runs seconds ahead of the slave).
TEST_F(Two_Boards_Channels_Test, ALateSlaveJoinsInLaunchOrderAndGroupsCrossBothWays)
{
    start_master();
    const std::string retry =
        "ERR] [Framework_Socket_Bridge][input_sem_data_group_server_socket_init_ex] error while setting up sem data "
        "group report server socket: ";
    ASSERT_TRUE(master->wait_for_log(retry, 30s, 2)) << master->log();
    EXPECT_TRUE(master->wait_for_log("Thread sem_client_0 [1] is waiting for previous threads to be running ..", 1s));
    EXPECT_EQ(count_of(master->log(), "Thread sem_client_0 [1] going to init.."), 0) << master->log();
    start_slave();
    ASSERT_TRUE(master->wait_until_ready(40s)) << master->log();
    ASSERT_TRUE(slave_ready(30s)) << slave->log();
    EXPECT_EQ(running_order(master->log(), MASTER_THREADS), "") << master->log();
    EXPECT_EQ(running_order(slave->log(), SLAVE_THREADS), "") << slave->log();

    // "status", plain, master to slave: first one post, then a burst.
    auto status_reader = peer.start([] {
        auto m = attach("status_reader");
        const int g = m->get_sem_data_group_read_id_ex("status");
        const int counter = m->get_sem_data_group_data_id_ex(g, "counter");
        const int position = m->get_sem_data_group_data_id_ex(g, "position");
        const int label = m->get_sem_data_group_data_id_ex(g, "label");
        touch("/tmp/status_reader_ready");
        uint32_t last = 0;
        int wakeups = 0;
        const auto deadline = std::chrono::steady_clock::now() + 60s;
        while (std::chrono::steady_clock::now() < deadline) {
            if (!m->wait_sem_data_group_ex(g, 500, 0, nullptr))
                continue;
            const uint32_t value = m->get_sem_data_group_data_ex<unsigned>(g, counter);
            if (value == 0)
                continue;  // the post of the bridge's set-up
            if (value < last || m->get_sem_data_group_data_ex<double>(g, position) != value + 0.5 ||
                label_of(*m, g, label) != "label" + std::to_string(value % 10))
                return 2;
            last = value;
            if (value == 1)
                touch("/tmp/status_first");
            if (value > 1)
                ++wakeups;
            if (value == 50) {
                std::ofstream("/tmp/status_wakeups") << wakeups << "\n";
                return 0;
            }
        }
        return 1;
    });
    // "report", plain, slave to master: posted until the master has seen it.
    auto report_writer = peer.start([] {
        auto m = attach("report_writer");
        const int g = m->get_sem_data_group_write_id_ex("report", false);
        m->set_sem_data_group_data_ex<short>(g, m->get_sem_data_group_data_id_ex(g, "code"), -7);
        m->set_sem_data_group_data_ex<float>(g, m->get_sem_data_group_data_id_ex(g, "value"), 1.25f);
        const auto deadline = std::chrono::steady_clock::now() + 60s;
        while (!exists("/tmp/report_seen")) {
            if (std::chrono::steady_clock::now() > deadline)
                return 1;
            m->post_sem_data_group_ex(g, false, -1);
            std::this_thread::sleep_for(100ms);
        }
        return 0;
    });

    Framework_Shared_Memory_Manager& m = master_client();
    {
        const int g = m.get_sem_data_group_read_id_ex("report");
        const int code = m.get_sem_data_group_data_id_ex(g, "code");
        const int value = m.get_sem_data_group_data_id_ex(g, "value");
        EXPECT_TRUE(eventually(
            [&] {
                return m.wait_sem_data_group_ex(g, 200, 0, nullptr) &&
                       m.get_sem_data_group_data_ex<short>(g, code) == -7 &&
                       m.get_sem_data_group_data_ex<float>(g, value) == 1.25f;
            },
            30s))
            << master->log();
        touch("/tmp/report_seen");
    }
    {
        const int g = m.get_sem_data_group_write_id_ex("status", false);
        const int counter = m.get_sem_data_group_data_id_ex(g, "counter");
        const int position = m.get_sem_data_group_data_id_ex(g, "position");
        const int label = m.get_sem_data_group_data_id_ex(g, "label");
        auto post = [&](uint32_t value) {
            m.set_sem_data_group_data_ex<unsigned>(g, counter, value);
            m.set_sem_data_group_data_ex<double>(g, position, value + 0.5);
            const std::string text = "label" + std::to_string(value % 10);
            m.set_sem_data_group_data_byte_array_ex(g, label, reinterpret_cast<const uint8_t*>(text.data()),
                                                    static_cast<int>(text.size()), 0);
            m.post_sem_data_group_ex(g, false, -1);
        };
        ASSERT_TRUE(wait_file("/tmp/status_reader_ready"));
        // Repeated until the reader has it: it may have attached after a post.
        EXPECT_TRUE(eventually(
            [&] {
                post(1);
                return exists("/tmp/status_first");
            },
            30s, 100ms))
            << master->log() << slave->log();
        for (uint32_t value = 2; value <= 50; ++value)
            post(value);
    }
    EXPECT_EQ(status_reader->wait(30s), 0) << slave->log();
    EXPECT_LE(std::stoi("0" + read_file("/tmp/status_wakeups")), 49);
    EXPECT_EQ(report_writer->wait(10s), 0) << slave->log();

    // "trace", a ring of 8, master to slave: 3 slots and one post, then 4
    // slots each with a post, in a burst.
    auto trace_reader = peer.start([] {
        auto r = attach("trace_reader");
        const int g = r->get_sem_data_group_read_id_ex("trace");
        const int sample = r->get_sem_data_group_data_id_ex(g, "sample");
        // The tick is the ring's own first datum; its id is not given by name.
        const int tick_id = 0;
        uint32_t before = 0;
        if (r->refresh_data_ex(&before) < 0)
            return 3;
        touch("/tmp/trace_reader_ready");
        std::ofstream out("/tmp/trace_slots");
        int slots = 0;
        const auto deadline = std::chrono::steady_clock::now() + 60s;
        while (slots < 7 && std::chrono::steady_clock::now() < deadline) {
            if (!r->wait_sem_data_group_ex(g, 500, 0, nullptr))
                continue;
            while (r->get_ring_buffer_next_slot_ex(g, nullptr)) {
                out << r->get_sem_data_group_data_ex<int>(g, sample) << " "
                    << r->get_sem_data_group_data_ex<unsigned>(g, tick_id) << std::endl;
                ++slots;
            }
        }
        uint32_t after = 0;
        if (r->refresh_data_ex(&after) < 0)
            return 3;
        out << "ticks " << before << " " << after << "\n";
        return slots == 7 ? 0 : 1;
    });
    ASSERT_TRUE(wait_file("/tmp/trace_reader_ready")) << slave->log();
    uint32_t master_tick = 0;
    {
        const int g = m.get_sem_data_group_write_id_ex("trace", false);
        const int sample = m.get_sem_data_group_data_id_ex(g, "sample");
        EXPECT_GE(m.refresh_data_ex(&master_tick), 0);
        for (int value = 1; value <= 3; ++value) {
            m.set_sem_data_group_data_ex<int>(g, sample, value * 11);
            m.insert_ring_buffer_slot_ex(g);
        }
        m.post_sem_data_group_ex(g, false, -1);
        // A full lap of the ring between two reads would look empty: the
        // burst waits for the first three.
        EXPECT_TRUE(eventually(
            [] {
                std::ifstream in("/tmp/trace_slots");
                return std::count(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>(), '\n') >= 3;
            },
            30s, 10ms))
            << master->log() << slave->log();
        for (int value = 4; value <= 7; ++value) {
            m.set_sem_data_group_data_ex<int>(g, sample, value * 11);
            m.insert_ring_buffer_slot_ex(g);
            m.post_sem_data_group_ex(g, false, -1);
        }
    }
    EXPECT_EQ(trace_reader->wait(30s), 0) << master->log() << slave->log();
    std::istringstream slots(read_file("/tmp/trace_slots"));
    std::vector<int> samples;
    std::vector<uint32_t> ticks;
    std::string word;
    while (slots >> word && word != "ticks") {
        samples.push_back(std::stoi(word));
        uint32_t tick = 0;
        slots >> tick;
        ticks.push_back(tick);
    }
    uint32_t before = 0;
    uint32_t after = 0;
    slots >> before >> after;
    EXPECT_EQ(samples, (std::vector<int>{11, 22, 33, 44, 55, 66, 77}));
    for (const uint32_t tick : ticks) {
        EXPECT_GE(tick + 100, before);
        EXPECT_LE(tick, after);
    }
    // The stamps are the slave's: the master's clock is seconds ahead.
    EXPECT_GT(master_tick, after + 1000);
}

// Commands both ways, each answer back to its client; a command whose
// answer data is empty is answered before the remote server has answered.
TEST_F(Two_Boards_Channels_Test, CommandsAreServedOnTheOtherBoardAndAnswered)
{
    start_both_and_wait_ready();
    Framework_Shared_Memory_Manager& m = master_client();

    auto move_server = peer.start([] { return serve_move(2, 0ms); });
    ASSERT_TRUE(wait_file("/tmp/move_server_ready")) << slave->log();
    const Move_Answer first = move(m, 4, 1.5, 10000);
    EXPECT_TRUE(first.answered) << master->log() << slave->log();
    EXPECT_EQ(first.result, 5);
    EXPECT_EQ(first.position, 3.0);
    const Move_Answer second = move(m, -9, -0.25, 10000);
    EXPECT_TRUE(second.answered);
    EXPECT_EQ(second.result, -8);
    EXPECT_EQ(second.position, -0.5);
    EXPECT_EQ(move_server->wait(10s), 0) << slave->log();

    // "query": sent on the slave, served here.
    std::atomic<int> served{0};
    std::thread query_server([&] {
        auto server = attach("query_server");
        const int cmd = server->get_cmd_channel_id_as_server_ex("query");
        if (!eventually([&] { return server->try_acquire_cmd_as_server_ex(cmd); }, 10s, 10ms))
            return;
        touch("/tmp/query_server_ready");
        if (!server->wait_cmd_ex(cmd, 30000))
            return;
        const auto what = server->get_cmd_data_ex<unsigned short>(cmd, server->get_cmd_data_id_to_recv_ex(cmd, "what"));
        server->set_answ_data_ex<long long>(cmd, server->get_cmd_data_id_to_send_ex(cmd, "value"),
                                            static_cast<long long>(what) * -1000000000LL);
        server->send_answer_ex(cmd);
        ++served;
    });
    ASSERT_TRUE(wait_file("/tmp/query_server_ready"));
    auto query_client = peer.start([] {
        auto client = attach("query_client");
        const int cmd = client->get_cmd_channel_id_as_client_ex("query");
        const bool answered = send_command(
            *client, cmd,
            [&] { client->set_cmd_data_ex<unsigned short>(cmd, client->get_cmd_data_id_to_send_ex(cmd, "what"), 7); },
            10000);
        if (!answered)
            return 1;
        const long long value =
            client->get_answ_data_ex<long long>(cmd, client->get_cmd_data_id_to_recv_ex(cmd, "value"));
        client->release_cmd_as_client_ex(cmd);
        return value == -7000000000LL ? 0 : 2;
    });
    EXPECT_EQ(query_client->wait(30s), 0) << master->log() << slave->log();
    query_server.join();
    EXPECT_EQ(served, 1);

    // "notify" has no answer data: its remote server answers only once the
    // client here has its answer.
    auto notify_server = peer.start([] {
        auto server = attach("notify_server");
        const int cmd = server->get_cmd_channel_id_as_server_ex("notify");
        if (!eventually([&] { return server->try_acquire_cmd_as_server_ex(cmd); }, 10s, 10ms))
            return 10;
        touch("/tmp/notify_server_ready");
        if (!server->wait_cmd_ex(cmd, 30000))
            return 11;
        std::ofstream("/tmp/notify_code")
            << server->get_cmd_data_ex<int>(cmd, server->get_cmd_data_id_to_recv_ex(cmd, "code")) << "\n";
        if (!wait_file("/tmp/notify_answered"))
            return 12;
        server->send_answer_ex(cmd);
        return 0;
    });
    ASSERT_TRUE(wait_file("/tmp/notify_server_ready")) << slave->log();
    const int notify = m.get_cmd_channel_id_as_client_ex("notify");
    const bool answered = send_command(
        m, notify, [&] { m.set_cmd_data_ex<int>(notify, m.get_cmd_data_id_to_send_ex(notify, "code"), 99); }, 10000);
    EXPECT_TRUE(answered) << master->log();
    m.release_cmd_as_client_ex(notify);
    touch("/tmp/notify_answered");
    EXPECT_EQ(notify_server->wait(30s), 0) << slave->log();
    EXPECT_EQ(read_file("/tmp/notify_code"), "99\n");
}

// A remote server slower than the bridge's 2 s, or none waiting: the
// client's timed wait runs out, the bridge restarts, and the next command
// is served.
TEST_F(Two_Boards_Channels_Test, ASlowOrAbsentServerTimesTheClientOutAndTheNextCommandIsServed)
{
    start_both_and_wait_ready();
    Framework_Shared_Memory_Manager& m = master_client();
    // The server of the second case answers its first command after 3.5 s,
    // its second one at once.
    std::unique_ptr<Peer_Board::Task> server;
    int passes = 1;
    for (const char* what : {"no server waiting", "server slower than 2 s"}) {
        SCOPED_TRACE(what);
        if (passes == 2) {
            server = peer.start([] { return serve_move(2, 3500ms); });
            ASSERT_TRUE(wait_file("/tmp/move_server_ready")) << slave->log();
        }
        const auto sent = std::chrono::steady_clock::now();
        EXPECT_FALSE(move(m, 1, 1.0, 8000).answered) << master->log();
        EXPECT_LT(std::chrono::steady_clock::now() - sent, 9s);
        EXPECT_TRUE(master->wait_for_log(
            "ERR] [Framework_Socket_Bridge][output_cmd_client_socket_run_ex] error running output cmd client "
            "threadmove server socket: ",
            10s, passes))
            << master->log();
        if (passes == 1) {
            // The slave's bridge polled for its server 20 times (100 ms), then sent in vain.
            EXPECT_TRUE(slave->wait_for_log("timeout_counter :: 20, timeout_counter_threshold :: 20", 10s))
                << slave->log();
            EXPECT_EQ(count_of(slave->log(), "timeout_counter :: 21"), 0);
        }
        ++passes;
        EXPECT_TRUE(master->wait_for_log(RUNNING_1, 40s, passes)) << master->log();
    }
    ASSERT_TRUE(wait_file("/tmp/move_answered_late", 10s)) << slave->log();
    const Move_Answer next = move(m, 20, 4.0, 10000);
    EXPECT_TRUE(next.answered) << master->log() << slave->log();
    EXPECT_EQ(next.result, 21);
    EXPECT_EQ(next.position, 8.0);
    EXPECT_EQ(server->wait(10s), 0) << slave->log();
}

// While the bridge forwards a command, it does not wait in the framework:
// a second send on that channel is refused as by any busy server.
TEST_F(Two_Boards_Channels_Test, ASendWhileTheBridgeForwardsIsRefused)
{
    start_both_and_wait_ready();
    Framework_Shared_Memory_Manager& m = master_client();
    auto server = peer.start([] { return serve_move(1, 1500ms); });
    ASSERT_TRUE(wait_file("/tmp/move_server_ready")) << slave->log();
    const int cmd = m.get_cmd_channel_id_as_client_ex("move");
    EXPECT_FALSE(send_command(
        m, cmd, [&] { m.set_cmd_data_ex<signed char>(cmd, m.get_cmd_data_id_to_send_ex(cmd, "code"), 1); }, 1));
    ASSERT_TRUE(wait_file("/tmp/move_received")) << slave->log();
    m.release_cmd_as_client_ex(cmd);
    ASSERT_TRUE(m.try_acquire_cmd_as_client_ex(cmd));
    try {
        m.send_cmd_ex(cmd);
        ADD_FAILURE() << "a send while the bridge forwards was taken";
    } catch (const std::runtime_error& error) {
        EXPECT_NE(std::strstr(error.what(), "No server is waiting for a command!"), nullptr) << error.what();
    }
    m.release_cmd_as_client_ex(cmd);
    EXPECT_EQ(server->wait(10s), 0) << slave->log();
}

// The slave killed while a group is idle and a command is in flight: the
// master's bridge stops within seconds, also with a group of no data and a
// command of no command data, and the command's client gets its time-out.
// The slave restarted: deliveries and commands flow again.
TEST_F(Two_Boards_Channels_Test, ASlaveKilledMidCommandStopsTheMasterAndBothFlowAfterItsRestart)
{
    // "pulse" holds only its tick, "ping" carries no command data.
    const std::string groups =
        "<sem sem_name=\"pulse\" ring_buffer=\"0\" flag_only_not_rt=\"1\">"
        "<sem_data data_name=\"framework_abs_tick\" type=\"uint32\"/></sem>"
        "<sem sem_name=\"ping_sender\" ring_buffer=\"0\" flag_only_not_rt=\"1\"></sem>"
        "<sem sem_name=\"ping_receiver\" ring_buffer=\"0\" flag_only_not_rt=\"1\">"
        "<sem_data data_name=\"alive\" type=\"uint8\"/></sem></sem_data_group>";
    const std::vector<std::pair<std::string, std::string>> changes = {{"</sem_data_group>", groups}};
    master_descriptor = install_application_descriptor("master", "/tmp/master_app.xml", {}, changes);
    slave_descriptor = install_application_descriptor("slave", "/tmp/slave_app.xml", {}, changes);
    std::string text = read_file(bridge_example("bridge_descriptor.xml"));
    auto add = [&](const std::string& after, const std::string& entry) {
        const std::size_t at = text.find(after);
        ASSERT_NE(at, std::string::npos) << after;
        text.insert(at + after.size(), entry);
    };
    add("<sem sem_name=\"report\"/>", "<sem sem_name=\"pulse\"/>");
    add("<cmd cmd_name=\"query\"/>", "<cmd cmd_name=\"ping\"/>");
    bridge = "/tmp/bridge_descriptor.xml";
    std::ofstream(bridge) << text;

    start_both_and_wait_ready();
    Framework_Shared_Memory_Manager& m = master_client();
    auto server = peer.start([] { return serve_move(1, 60s); });
    ASSERT_TRUE(wait_file("/tmp/move_server_ready")) << slave->log();
    std::atomic<bool> answered{true};
    std::thread client([&] { answered = move(m, 3, 3.0, 15000).answered; });
    ASSERT_TRUE(wait_file("/tmp/move_received")) << slave->log();
    const auto killed = std::chrono::steady_clock::now();
    EXPECT_EQ(slave->stop(10s, SIGKILL), 128 + SIGKILL);
    slave.reset();
    EXPECT_TRUE(master->wait_for_log("Manager thread is waiting for all threads to be stopped..", 10s))
        << master->log();
    EXPECT_TRUE(master->wait_for_log("Manager thread all threads stopped..", 15s)) << master->log();
    // Stopped threads plus the manager's pause of 100 periods (1 s).
    EXPECT_LT(std::chrono::steady_clock::now() - killed, 8s);
    client.join();
    EXPECT_FALSE(answered);
    server.reset();  // its server waits for a slave that is gone

    unlink("/tmp/move_received");
    unlink("/tmp/move_server_ready");
    EXPECT_TRUE(master->wait_for_log("Manager thread framework init done..", 20s)) << master->log();
    start_slave();
    ASSERT_TRUE(master->wait_for_log(RUNNING_1, 40s, 2)) << master->log();
    ASSERT_TRUE(slave_ready(30s)) << slave->log();
    auto again = peer.start([] { return serve_move(1, 0ms); });
    ASSERT_TRUE(wait_file("/tmp/move_server_ready")) << slave->log();
    const Move_Answer answer = move(m, 6, 0.5, 10000);
    EXPECT_TRUE(answer.answered) << master->log() << slave->log();
    EXPECT_EQ(answer.result, 7);
    EXPECT_EQ(answer.position, 1.0);
    EXPECT_EQ(again->wait(10s), 0) << slave->log();

    auto reader = peer.start([] {
        auto r = attach("status_reader");
        const int g = r->get_sem_data_group_read_id_ex("status");
        const int counter = r->get_sem_data_group_data_id_ex(g, "counter");
        touch("/tmp/status_reader_ready");
        const auto deadline = std::chrono::steady_clock::now() + 30s;
        while (std::chrono::steady_clock::now() < deadline)
            if (r->wait_sem_data_group_ex(g, 500, 0, nullptr) &&
                r->get_sem_data_group_data_ex<unsigned>(g, counter) == 77)
                return 0;
        return 1;
    });
    ASSERT_TRUE(wait_file("/tmp/status_reader_ready"));
    const int g = m.get_sem_data_group_write_id_ex("status", false);
    m.set_sem_data_group_data_ex<unsigned>(g, m.get_sem_data_group_data_id_ex(g, "counter"), 77);
    EXPECT_TRUE(eventually(
        [&] {
            m.post_sem_data_group_ex(g, false, -1);
            return reader->has_ended();
        },
        30s, 100ms));
    EXPECT_EQ(reader->wait(1s), 0) << slave->log();
}
