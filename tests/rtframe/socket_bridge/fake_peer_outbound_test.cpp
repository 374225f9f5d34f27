// What rtframe as the bridge master puts on the wire, checked byte for byte
// by a slave played by the test on the second board (tests/isolate_pair):
// the fake slave owns the slave's address and ports, listens where the
// master connects (the groups and commands sent on the master) and connects
// where the master listens (the command "query", served on the master, and
// the empty cyclic channel).
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "bridge_fake_peer.h"
#include "bridge_files.h"
#include "bridge_wire.h"
#include "child_process.h"
#include "eventually.h"
#include "peer_board.h"
#include "rtframe_child.h"
#include "xelo_framework_shm_manager.h"

namespace {
using namespace std::chrono_literals;
using Bytes = Bridge_Fake_Peer::Bytes;

// Type codes of the handshake.
constexpr int32_t INT8 = 1;
constexpr int32_t UINT16 = 4;
constexpr int32_t INT32 = 5;
constexpr int32_t UINT32 = 6;
constexpr int32_t DOUBLE = 7;
constexpr int32_t BYTE_ARRAY = 8;
constexpr int32_t INT64 = 9;

// "plain": one INT32, no ring (beside the example's "status", "trace" and
// the commands "move", "notify" and "query").
const std::string PLAIN_GROUP =
    "<sem sem_name=\"plain\" ring_buffer=\"0\" flag_only_not_rt=\"1\">"
    "<sem_data data_name=\"value\" type=\"int32\"/></sem></sem_data_group>";

// The slave board's ends of every channel of the master, matched in the
// master's launch order, with a thread that drives the (empty) cyclic channel.
class Fake_Slave {
public:
    explicit Fake_Slave(const Peer_Board& board) : m_board(board)
    {
        board.in_network([&] {
            const std::string own = board.peer_address();
            plain.listen(own, bridge_wire::SEM_DATA_PORT_BASE);
            trace.listen(own, bridge_wire::SEM_DATA_PORT_BASE + 1);
            status.listen(own, bridge_wire::SEM_DATA_PORT_BASE + 2);
            move.listen(own, bridge_wire::COMMAND_PORT_BASE);
            notify.listen(own, bridge_wire::COMMAND_PORT_BASE + 1);
        });
    }

    ~Fake_Slave() { m_driver.reset(); }

    // Accepts or connects and matches every channel; the failure, or "".
    std::string join()
    {
        try {
            auto accepted = [](Bridge_Fake_Peer& peer, const std::vector<Bridge_Fake_Peer::Item>& items,
                               uint32_t length) {
                return peer.accept(30s, 10s) && peer.answer_handshake_pair(items, length) == Bytes(items.size(), 1);
            };
            if (!accepted(plain, {{"value", INT32}}, 4))
                return "plain not matched";
            if (!accepted(trace, {{"sample", INT32}}, 4))
                return "trace not matched";
            if (!accepted(status, {{"counter", UINT32}, {"position", DOUBLE}, {"label", BYTE_ARRAY}}, 20))
                return "status not matched";
            const std::string master = m_board.own_address();
            bool connected = false;
            m_board.in_network([&] { connected = query.connect(master, bridge_wire::COMMAND_PORT_BASE, 30s, 10s); });
            if (!connected)
                return "query did not listen";
            if (query.handshake_pair({{"what", UINT16}}, 2) != Bytes{1} ||
                query.handshake_pair({{"value", INT64}}, 8) != Bytes{1})
                return "query refused";
            // The command data first, then the answer data.
            if (!accepted(move, {{"code", INT8}, {"target", DOUBLE}}, 9) ||
                move.answer_handshake_pair({{"result", INT8}, {"position", DOUBLE}}, 9) != Bytes{1, 1})
                return "move not matched";
            if (!accepted(notify, {{"code", INT32}}, 4) || notify.answer_handshake_pair({}, 0) != Bytes{})
                return "notify not matched";
            m_board.in_network([&] { connected = m_cyclic.connect(master, bridge_wire::CYCLIC_PORT, 30s); });
            if (!connected)
                return "cyclics did not listen";
            m_cyclic.cyclic_handshake({}, 0, {}, 0);
        } catch (const std::exception& error) {
            return error.what();
        }
        m_driver = std::make_unique<Empty_Cyclic_Driver>(m_cyclic);
        return "";
    }

    Bridge_Fake_Peer plain;
    Bridge_Fake_Peer trace;
    Bridge_Fake_Peer status;
    Bridge_Fake_Peer move;
    Bridge_Fake_Peer notify;
    Bridge_Fake_Peer query;

private:
    const Peer_Board& m_board;
    Bridge_Fake_Peer m_cyclic;
    std::unique_ptr<Empty_Cyclic_Driver> m_driver;
};

class Bridge_Outbound_Test : public testing::Test {
protected:
    void SetUp() override
    {
        Bridge_File file;
        file.master_address = board.own_address();
        file.slave_address = board.peer_address();
        file.sem_data_out = {"plain", "trace", "status"};
        file.cmd_in = {"query"};
        file.cmd_out = {"move", "notify"};
        rtframe = std::make_unique<Rtframe_Child>(with_short_running_delay(
            {"-o", "-s", "-m", "-b", file.install("/tmp/bridge.xml"), "-c",
             install_application_descriptor("master", "/tmp/app.xml", {}, {{"</sem_data_group>", PLAIN_GROUP}})}));
        slave = std::make_unique<Fake_Slave>(board);
        ASSERT_EQ(slave->join(), "") << rtframe->log();
        ASSERT_TRUE(rtframe->wait_until_ready(30s)) << rtframe->log();
        ASSERT_TRUE(rtframe->wait_for_log("setting bridge running value :: 1", 30s)) << rtframe->log();
        m.init_with_h_compatibility_check_ex("outbound", 4, 1);
    }

    void TearDown() override
    {
        slave.reset();
        if (rtframe) {
            EXPECT_EQ(rtframe->stop(), 0) << rtframe->log();
        }
    }

    Peer_Board board;
    std::unique_ptr<Rtframe_Child> rtframe;
    std::unique_ptr<Fake_Slave> slave;
    Framework_Shared_Memory_Manager m;
};

struct Delivery_Case {
    const char* what;
    const char* group;
    Bridge_Fake_Peer Fake_Slave::*channel;
    // Writes and posts the group through the writer's manager.
    std::function<void(Framework_Shared_Memory_Manager&, int group)> post;
    Bytes expected;
};

void set_int(Framework_Shared_Memory_Manager& m, int group, const char* datum, int value)
{
    m.set_sem_data_group_data_ex<int>(group, m.get_sem_data_group_data_id_ex(group, datum), value);
}

void post(Framework_Shared_Memory_Manager& m, int group)
{
    m.post_sem_data_group_ex(group, false, -1);
}

// Ring slots of "trace" holding samples, then one post.
std::function<void(Framework_Shared_Memory_Manager&, int)> slots(std::vector<int> samples)
{
    return [samples](Framework_Shared_Memory_Manager& m, int group) {
        for (int sample : samples) {
            set_int(m, group, "sample", sample);
            m.insert_ring_buffer_slot_ex(group);
        }
        post(m, group);
    };
}

// A local client's command on the master: the client side taken, the
// command data written, sent once the server (the bridge) waits. False when
// it could not be sent.
[[nodiscard]] bool send_command(Framework_Shared_Memory_Manager& m, int cmd, const std::function<void()>& fill)
{
    if (!eventually([&] { return m.try_acquire_cmd_as_client_ex(cmd); }, 10s, 10ms))
        return false;
    fill();
    // The bridge waits in slices: between two it refuses a send.
    return eventually(
        [&] {
            try {
                m.send_cmd_ex(cmd);
                return true;
            } catch (const std::runtime_error& error) {
                if (std::strstr(error.what(), "No server is waiting for a command!") == nullptr)
                    throw;
                return false;
            }
        },
        10s, 5ms);
}

// Joins a thread however the test leaves.
struct Joined {
    std::thread& thread;
    ~Joined()
    {
        if (thread.joinable())
            thread.join();
    }
};
}  // namespace

// One post of a local writer, one delivery on the wire: the slot count,
// then one group image (count 0) or the ring slots oldest first, every
// datum packed back to back, little-endian.
TEST_F(Bridge_Outbound_Test, EachPostLeavesAsOneDelivery)
{
    const Delivery_Case cases[] = {
        {"plain group holding 5",
         "plain",
         &Fake_Slave::plain,
         [](Framework_Shared_Memory_Manager& w, int g) {
             set_int(w, g, "value", 5);
             post(w, g);
         },
         {0x00, 0x00, 0x00, 0x00, 0x05, 0x00, 0x00, 0x00}},
        {"ring group, two slots holding 7 and 8",
         "trace",
         &Fake_Slave::trace,
         slots({7, 8}),
         {0x02, 0x00, 0x00, 0x00, 0x07, 0x00, 0x00, 0x00, 0x08, 0x00, 0x00, 0x00}},
        {"ring group, three slots",
         "trace",
         &Fake_Slave::trace,
         slots({-1, 0x10203, 300}),
         {0x03, 0x00, 0x00, 0x00, 0xff, 0xff, 0xff, 0xff, 0x03, 0x02, 0x01, 0x00, 0x2c, 0x01, 0x00, 0x00}},
        // A ring group's values travel in its slots: a post without a new
        // slot carries the group's values as the last slot read left them,
        // which is what a local reader of the ring sees too.
        {"ring group, a post without a new slot",
         "trace",
         &Fake_Slave::trace,
         [](Framework_Shared_Memory_Manager& w, int g) {
             set_int(w, g, "sample", 9);
             post(w, g);
         },
         {0x00, 0x00, 0x00, 0x00, 0x2c, 0x01, 0x00, 0x00}},
        {"plain group of three types",
         "status",
         &Fake_Slave::status,
         [](Framework_Shared_Memory_Manager& w, int g) {
             w.set_sem_data_group_data_ex<unsigned>(g, w.get_sem_data_group_data_id_ex(g, "counter"), 0x01020304u);
             w.set_sem_data_group_data_ex<double>(g, w.get_sem_data_group_data_id_ex(g, "position"), -1.5);
             w.set_sem_data_group_data_byte_array_ex(g, w.get_sem_data_group_data_id_ex(g, "label"),
                                                     reinterpret_cast<const uint8_t*>("abcdefgh"), 8, 0);
             post(w, g);
         },
         {0x00, 0x00, 0x00, 0x00, 0x04, 0x03, 0x02, 0x01, 0x00, 0x00, 0x00, 0x00,
          0x00, 0x00, 0xf8, 0xbf, 'a',  'b',  'c',  'd',  'e',  'f',  'g',  'h'}},
    };
    for (const Delivery_Case& c : cases) {
        SCOPED_TRACE(c.what);
        const int group = m.get_sem_data_group_write_id_ex(c.group, false);
        c.post(m, group);
        EXPECT_EQ((slave.get()->*c.channel).receive(c.expected.size()), c.expected) << rtframe->log();
    }
}

// A local client's command leaves as its command block alone and the answer
// block from the peer answers it; with empty answer data the client is
// answered at once. A command block from the peer reaches the local server,
// and its answer leaves as the answer block.
TEST_F(Bridge_Outbound_Test, CommandAndAnswerBlocksAreTheImagesAlone)
{
    const int move = m.get_cmd_channel_id_as_client_ex("move");
    ASSERT_TRUE(send_command(m, move, [&] {
        m.set_cmd_data_ex<signed char>(move, m.get_cmd_data_id_to_send_ex(move, "code"), -3);
        m.set_cmd_data_ex<double>(move, m.get_cmd_data_id_to_send_ex(move, "target"), 2.5);
    })) << rtframe->log();
    EXPECT_EQ(slave->move.receive(9), (Bytes{0xfd, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x04, 0x40})) << rtframe->log();
    slave->move.send({0x11, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0xe8, 0xbf});
    ASSERT_TRUE(m.wait_answer_ex(move, 10000)) << rtframe->log();
    EXPECT_EQ(m.get_answ_data_ex<signed char>(move, m.get_cmd_data_id_to_recv_ex(move, "result")), 17);
    EXPECT_EQ(m.get_answ_data_ex<double>(move, m.get_cmd_data_id_to_recv_ex(move, "position")), -0.75);
    m.release_cmd_as_client_ex(move);

    const int notify = m.get_cmd_channel_id_as_client_ex("notify");
    ASSERT_TRUE(send_command(m, notify, [&] {
        m.set_cmd_data_ex<int>(notify, m.get_cmd_data_id_to_send_ex(notify, "code"), 0x0a0b0c0d);
    })) << rtframe->log();
    EXPECT_EQ(slave->notify.receive(4), (Bytes{0x0d, 0x0c, 0x0b, 0x0a})) << rtframe->log();
    EXPECT_TRUE(m.wait_answer_ex(notify, 10000)) << rtframe->log();
    m.release_cmd_as_client_ex(notify);

    // "query" served here: value = what * -1000000000.
    std::atomic<bool> ready{false};
    std::atomic<int> served{0};
    std::thread server([&] {
        Framework_Shared_Memory_Manager s;
        s.init_with_h_compatibility_check_ex("query_server", 4, 1);
        const int cmd = s.get_cmd_channel_id_as_server_ex("query");
        if (!eventually([&] { return s.try_acquire_cmd_as_server_ex(cmd); }, 10s, 10ms))
            return;
        ready = true;
        if (!s.wait_cmd_ex(cmd, 30000))
            return;
        const auto what = s.get_cmd_data_ex<unsigned short>(cmd, s.get_cmd_data_id_to_recv_ex(cmd, "what"));
        s.set_answ_data_ex<long long>(cmd, s.get_cmd_data_id_to_send_ex(cmd, "value"),
                                      static_cast<long long>(what) * -1000000000LL);
        s.send_answer_ex(cmd);
        ++served;
    });
    const Joined joined{server};
    ASSERT_TRUE(eventually([&] { return ready.load(); }, 20s));
    slave->query.send({0x07, 0x00});
    EXPECT_EQ(slave->query.receive(8), (Bytes{0x00, 0x7a, 0xc4, 0x5e, 0xfe, 0xff, 0xff, 0xff})) << rtframe->log();
    server.join();
    EXPECT_EQ(served.load(), 1);
    // Every line of the exchange is written, in order.
    const std::string send = "[Bridge_Framework_Interface][send_input_cmd_data] Cmd query ";
    const std::string wait = "[Bridge_Framework_Interface][wait_input_cmd_data_answer] ";
    const std::vector<std::string> lines = {send + "message read from socket",  send + "set data what",
                                            send + "sending command",           wait + "waiting query anwer",
                                            wait + "Cmd query received answer", wait + "Cmd query read data value"};
    ASSERT_TRUE(rtframe->wait_for_log(lines.back(), 10s)) << rtframe->log();
    const std::string log = rtframe->log();
    std::size_t at = 0;
    for (const std::string& line : lines) {
        at = log.find(line, at);
        ASSERT_NE(at, std::string::npos) << line << " missing or out of order\n" << log;
    }
}
