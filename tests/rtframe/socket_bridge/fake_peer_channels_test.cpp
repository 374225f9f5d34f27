// Data groups and commands of rtframe as the bridge master against a slave
// played by the test, byte for byte on loopback: the master is the input
// side of the groups "plain" (one INT32) and "trace" (a ring of 8, one INT32)
// and of the command "move" (served on the master).
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "bridge_fake_peer.h"
#include "bridge_files.h"
#include "bridge_wire.h"
#include "child_process.h"
#include "eventually.h"
#include "rtframe_child.h"
#include "xelo_framework_shm_manager.h"

namespace {
using namespace std::chrono_literals;
using Bytes = Bridge_Fake_Peer::Bytes;

const std::string PLAIN_GROUP =
    "<sem sem_name=\"plain\" ring_buffer=\"0\" flag_only_not_rt=\"1\">"
    "<sem_data data_name=\"value\" type=\"int32\"/></sem></sem_data_group>";

std::unique_ptr<Rtframe_Child> start_master()
{
    Bridge_File file;
    file.sem_data_in = {"plain", "trace"};
    file.cmd_in = {"move"};
    return std::make_unique<Rtframe_Child>(with_short_running_delay(
        {"-o", "-s", "-m", "-b", file.install("/tmp/bridge.xml"), "-c",
         install_application_descriptor("master", "/tmp/app.xml", {}, {{"</sem_data_group>", PLAIN_GROUP}})}));
}

Bytes bytes_of(const void* data, std::size_t size)
{
    const auto* first = static_cast<const uint8_t*>(data);
    return Bytes(first, first + size);
}

Bytes cat(Bytes head, const Bytes& tail)
{
    head.insert(head.end(), tail.begin(), tail.end());
    return head;
}

// The move command block: code (INT8) and target (DOUBLE).
Bytes command_block(signed char code, double target)
{
    return cat(bytes_of(&code, 1), bytes_of(&target, 8));
}

// The slave board's ends of all channels, joined in launch order, with a
// thread that drives the (empty) cyclic channel.
class Fake_Slave {
public:
    ~Fake_Slave() { leave(); }

    // Connects and matches every channel; the failure, or "".
    std::string join()
    {
        leave();
        try {
            if (!plain.connect("127.0.0.1", bridge_wire::SEM_DATA_PORT_BASE, 30s))
                return "plain did not listen";
            if (plain.handshake_pair({{"value", 5}}, 4) != Bytes{1})
                return "plain refused";
            if (!trace.connect("127.0.0.1", bridge_wire::SEM_DATA_PORT_BASE + 1, 30s))
                return "trace did not listen";
            if (trace.handshake_pair({{"sample", 5}}, 4) != Bytes{1})
                return "trace refused";
            if (!move.connect("127.0.0.1", bridge_wire::COMMAND_PORT_BASE, 30s, 10s))
                return "move did not listen";
            if (move.handshake_pair({{"code", 1}, {"target", 7}}, 9) != (Bytes{1, 1}) ||
                move.handshake_pair({{"result", 1}, {"position", 7}}, 9) != (Bytes{1, 1}))
                return "move refused";
            if (!m_cyclic.connect("127.0.0.1", bridge_wire::CYCLIC_PORT, 30s))
                return "cyclics did not listen";
            m_cyclic.cyclic_handshake({}, 0, {}, 0);
        } catch (const std::exception& error) {
            return error.what();
        }
        m_driver = std::make_unique<Empty_Cyclic_Driver>(m_cyclic);
        return "";
    }

    void leave()
    {
        m_driver.reset();
        for (Bridge_Fake_Peer* peer : {&plain, &trace, &move, &m_cyclic})
            peer->close();
    }

    Bridge_Fake_Peer plain;
    Bridge_Fake_Peer trace;
    Bridge_Fake_Peer move;

private:
    Bridge_Fake_Peer m_cyclic;
    std::unique_ptr<Empty_Cyclic_Driver> m_driver;
};

// A client of the master board that reads "plain" and "trace".
struct Readers {
    Readers()
    {
        m.init_with_h_compatibility_check_ex("readers", 4, 1);
        plain = m.get_sem_data_group_read_id_ex("plain");
        trace = m.get_sem_data_group_read_id_ex("trace");
        plain_value = m.get_sem_data_group_data_id_ex(plain, "value");
        trace_sample = m.get_sem_data_group_data_id_ex(trace, "sample");
    }

    // Waits until a post of plain carries value.
    bool plain_holds(int32_t value)
    {
        return eventually(
            [&] {
                return m.wait_sem_data_group_ex(plain, 100, 0, nullptr) &&
                       m.get_sem_data_group_data_ex<int>(plain, plain_value) == value;
            },
            10s);
    }

    // The samples of the trace slots that arrived by now (after a wait of up to limit).
    std::vector<int> trace_slots(std::chrono::milliseconds limit, std::size_t wanted)
    {
        std::vector<int> samples;
        const auto deadline = std::chrono::steady_clock::now() + limit;
        while (samples.size() < wanted && std::chrono::steady_clock::now() < deadline) {
            if (!m.wait_sem_data_group_ex(trace, 100, 0, nullptr))
                continue;
            while (m.get_ring_buffer_next_slot_ex(trace, nullptr))
                samples.push_back(m.get_sem_data_group_data_ex<int>(trace, trace_sample));
        }
        return samples;
    }

    Framework_Shared_Memory_Manager m;
    int plain = -1;
    int trace = -1;
    int plain_value = -1;
    int trace_sample = -1;
};

// The server of "move" on the master board, in a thread: answers
// result = code + 1 and position = -target; counts the commands.
class Move_Server {
public:
    Move_Server()
    {
        m_thread = std::thread([this] {
            try {
                serve();
            } catch (const std::exception& error) {
                // Only the stop of rtframe at the end of a test ends a wait.
                if (m_serving)
                    ADD_FAILURE() << error.what();
            }
        });
    }

    ~Move_Server()
    {
        m_serving = false;
        m_thread.join();
    }

    std::atomic<bool> ready{false};
    std::atomic<int> commands{0};
    std::atomic<signed char> last_code{0};
    std::atomic<double> last_target{0};

private:
    void serve()
    {
        Framework_Shared_Memory_Manager m;
        m.init_with_h_compatibility_check_ex("move_server", 4, 1);
        const int cmd = m.get_cmd_channel_id_as_server_ex("move");
        if (!eventually([&] { return m.try_acquire_cmd_as_server_ex(cmd); }, 10s, 10ms))
            return;
        const int code = m.get_cmd_data_id_to_recv_ex(cmd, "code");
        const int target = m.get_cmd_data_id_to_recv_ex(cmd, "target");
        const int result = m.get_cmd_data_id_to_send_ex(cmd, "result");
        const int position = m.get_cmd_data_id_to_send_ex(cmd, "position");
        ready = true;
        while (m_serving) {
            if (!m.wait_cmd_ex(cmd, 100))
                continue;
            last_code = m.get_cmd_data_ex<signed char>(cmd, code);
            last_target = m.get_cmd_data_ex<double>(cmd, target);
            m.set_answ_data_ex<signed char>(cmd, result, static_cast<signed char>(last_code + 1));
            m.set_answ_data_ex<double>(cmd, position, -last_target);
            // Counted before the answer goes: the test reads the count once
            // the answer has reached it.
            ++commands;
            m.send_answer_ex(cmd);
        }
    }

    std::atomic<bool> m_serving{true};
    std::thread m_thread;
};
}  // namespace

// The deliveries of a one-INT32 group holding 5 and of a ring delivery of
// two slots holding 7 and 8; a command block in and its answer block out.
TEST(Bridge_Fake_Peer_Channels_Test, DeliveriesAndBlocksAreByteExact)
{
    auto rtframe = start_master();
    Fake_Slave slave;
    ASSERT_EQ(slave.join(), "") << rtframe->log();
    ASSERT_TRUE(rtframe->wait_until_ready(30s)) << rtframe->log();
    Readers readers;
    auto server = std::make_unique<Move_Server>();
    ASSERT_TRUE(eventually([&] { return server->ready.load(); }, 20s));

    slave.plain.send({0x00, 0x00, 0x00, 0x00, 0x05, 0x00, 0x00, 0x00});
    EXPECT_TRUE(readers.plain_holds(5)) << rtframe->log();
    slave.trace.send({0x02, 0x00, 0x00, 0x00, 0x07, 0x00, 0x00, 0x00, 0x08, 0x00, 0x00, 0x00});
    EXPECT_EQ(readers.trace_slots(10s, 2), (std::vector<int>{7, 8})) << rtframe->log();

    slave.move.send(command_block(-3, 2.5));
    const double minus = -2.5;
    EXPECT_EQ(slave.move.receive(9), cat({0xfe}, bytes_of(&minus, 8))) << rtframe->log();
    EXPECT_EQ(server->commands.load(), 1);
    EXPECT_EQ(server->last_code.load(), -3);
    EXPECT_EQ(server->last_target.load(), 2.5);

    server.reset();
    slave.leave();
    EXPECT_EQ(rtframe->stop(), 0) << rtframe->log();
}

struct Bad_Input {
    const char* what;
    Bridge_Fake_Peer Fake_Slave::*channel;
    Bytes bytes;
    std::string error_line;
};

// Bad input, each followed by a close: an ERR line, nothing of it reaches
// the local groups or the local server, and the channels connect again.
TEST(Bridge_Fake_Peer_Channels_Test, BadInputReachesNothingAndTheChannelsReconnect)
{
    const std::string group_error =
        "ERR] [Framework_Socket_Bridge][input_sem_data_group_server_socket_run_ex] error "
        "while setting up sem data group ";
    const Bad_Input cases[] = {
        {"a slot count of 0xFFFFFFFF",
         &Fake_Slave::trace,
         {0xff, 0xff, 0xff, 0xff, 0x09, 0x00, 0x00, 0x00},
         group_error + "trace server socket: "},
        {"a delivery cut off midway",
         &Fake_Slave::plain,
         {0x00, 0x00, 0x00, 0x00, 0x09, 0x00},
         group_error + "plain server socket: "},
        {"a ring delivery cut off between slots",
         &Fake_Slave::trace,
         {0x02, 0x00, 0x00, 0x00, 0x09, 0x00, 0x00, 0x00},
         group_error + "trace server socket: "},
        {"a command block cut off",
         &Fake_Slave::move,
         {0x09, 0x00, 0x00, 0x00, 0x00},
         "ERR] [Framework_Socket_Bridge][input_cmd_server_socket_run_ex] error while runnning cmd server thread :: "},
    };
    auto rtframe = start_master();
    Fake_Slave slave;
    ASSERT_EQ(slave.join(), "") << rtframe->log();
    ASSERT_TRUE(rtframe->wait_until_ready(30s)) << rtframe->log();
    Readers readers;
    auto server = std::make_unique<Move_Server>();
    ASSERT_TRUE(eventually([&] { return server->ready.load(); }, 20s));
    slave.plain.send({0x00, 0x00, 0x00, 0x00, 0x05, 0x00, 0x00, 0x00});
    ASSERT_TRUE(readers.plain_holds(5)) << rtframe->log();

    int failures = 0;
    for (const Bad_Input& c : cases) {
        SCOPED_TRACE(c.what);
        const int errors = count_of(rtframe->log(), c.error_line);
        (slave.*c.channel).send(c.bytes);
        (slave.*c.channel).close();
        ++failures;
        EXPECT_TRUE(rtframe->wait_for_log(c.error_line, 10s, errors + 1)) << rtframe->log();
        // Every socket of the stopped pass is closed once the bridge has
        // attached again.
        EXPECT_TRUE(rtframe->wait_for_log("Manager thread framework init done..", 30s, failures)) << rtframe->log();
        ASSERT_EQ(slave.join(), "") << rtframe->log();
        EXPECT_TRUE(rtframe->wait_for_log("setting bridge running value :: 1", 30s, failures + 1)) << rtframe->log();
        // Nothing of it: plain keeps 5 (the set-up posts wake its readers
        // with unchanged values), trace has no slot, the server no command.
        EXPECT_TRUE(readers.plain_holds(5));
        EXPECT_EQ(readers.m.get_sem_data_group_data_ex<int>(readers.plain, readers.plain_value), 5);
        EXPECT_EQ(readers.trace_slots(500ms, 1), std::vector<int>{});
        EXPECT_EQ(server->commands.load(), 0);
    }

    // The channels run again.
    slave.plain.send({0x00, 0x00, 0x00, 0x00, 0x06, 0x00, 0x00, 0x00});
    EXPECT_TRUE(readers.plain_holds(6)) << rtframe->log();
    slave.trace.send({0x01, 0x00, 0x00, 0x00, 0x0b, 0x00, 0x00, 0x00});
    EXPECT_EQ(readers.trace_slots(10s, 1), std::vector<int>{11});
    slave.move.send(command_block(40, 1.0));
    const double minus = -1.0;
    EXPECT_EQ(slave.move.receive(9), cat({41}, bytes_of(&minus, 8))) << rtframe->log();
    EXPECT_EQ(server->commands.load(), 1);

    server.reset();
    slave.leave();
    EXPECT_EQ(rtframe->stop(), 0) << rtframe->log();
}

// A peer that announces an endless delivery and keeps sending its slots
// does not hold the bridge, nor rtframe, from stopping.
TEST(Bridge_Fake_Peer_Channels_Test, AnEndlessDeliveryDoesNotHoldTheStop)
{
    auto rtframe = start_master();
    Fake_Slave slave;
    ASSERT_EQ(slave.join(), "") << rtframe->log();
    ASSERT_TRUE(rtframe->wait_until_ready(30s)) << rtframe->log();
    std::atomic<long> slots_sent{0};
    std::thread stream([&] {
        const Bytes slots(4096, 0x01);
        try {
            slave.trace.send({0xff, 0xff, 0xff, 0xff});
            for (;;) {
                slave.trace.send(slots);
                slots_sent += static_cast<long>(slots.size() / 4);
            }
        } catch (const std::runtime_error&) {
            // The bridge closed the channel: the stream ends here.
        }
    });
    EXPECT_TRUE(eventually([&] { return slots_sent.load() > 100000; }, 20s)) << rtframe->log();
    const auto stopping = std::chrono::steady_clock::now();
    const int status = rtframe->stop(30s);
    const auto stopped = std::chrono::steady_clock::now();
    slave.trace.close();
    stream.join();
    EXPECT_EQ(status, 0) << rtframe->log();
    EXPECT_LT(stopped - stopping, 10s);
}
