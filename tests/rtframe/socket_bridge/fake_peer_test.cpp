// rtframe as the bridge master against a slave played by the test
// (Bridge_Fake_Peer), byte for byte on loopback.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "bridge_fake_peer.h"
#include "bridge_files.h"
#include "bridge_wire.h"
#include "descriptor_builder.h"
#include "eventually.h"
#include "rtframe_child.h"
#include "thin_client.h"

namespace {
using namespace std::chrono_literals;
using Bytes = Bridge_Fake_Peer::Bytes;

const std::string DIR = "/tmp/";

std::unique_ptr<Rtframe_Child> start_master(const Bridge_File& file, const std::vector<std::string>& extra_virtuals)
{
    return std::make_unique<Rtframe_Child>(
        std::vector<std::string>{"-o", "-s", "-m", "-b", file.install(DIR + "bridge.xml"), "-c",
                                 install_application_descriptor("master", DIR + "app.xml", extra_virtuals)});
}

Bytes bytes_of(const void* data, std::size_t size)
{
    const auto* first = static_cast<const uint8_t*>(data);
    return Bytes(first, first + size);
}

// The example's cyclic items as the slave sees them.
const std::vector<Bridge_Fake_Peer::Item> SLAVE_INPUTS = {{"to_slave_int32", 5}, {"to_slave_bytes", 8}};
const std::vector<Bridge_Fake_Peer::Item> SLAVE_OUTPUTS = {{"to_master_int32", 5}, {"to_master_double", 7}};

Bridge_File example_items()
{
    Bridge_File file;
    file.inputs = {"to_master_int32", "to_master_double"};
    file.outputs = {"to_slave_int32", "to_slave_bytes"};
    return file;
}

Bytes slave_image(int32_t value, double number)
{
    Bytes image = bytes_of(&value, 4);
    const Bytes tail = bytes_of(&number, 8);
    image.insert(image.end(), tail.begin(), tail.end());
    return image;
}
}  // namespace

// One output "speed" (INT32) and "flag" (UINT8), no input: the handshake
// messages and the token that stands for the peer's empty image.
TEST(Bridge_Fake_Peer_Test, HandshakeAndTokenBytesAreExact)
{
    Bridge_File file;
    file.outputs = {"speed", "flag"};
    auto rtframe = start_master(file, {descriptor_xml::virtual_io("speed", "int32", -1, false, "1234"),
                                       descriptor_xml::virtual_io("flag", "uint8", -1, false, "7")});
    Bridge_Fake_Peer peer;
    ASSERT_TRUE(peer.connect("127.0.0.1", bridge_wire::CYCLIC_PORT, 30s)) << rtframe->log();

    peer.send({0x05, 0x00, 0x00, 0x00});
    EXPECT_EQ(peer.receive(4), (Bytes{0x05, 0x00, 0x00, 0x00}));
    const Bytes items = {0x73, 0x70, 0x65, 0x65, 0x64, 0x05, 0x00, 0x00, 0x00,  // "speed" INT32
                         0x66, 0x6c, 0x61, 0x67, 0x02, 0x00, 0x00, 0x00};       // "flag" UINT8
    EXPECT_EQ(Bridge_Fake_Peer::items_message({{"speed", 5}, {"flag", 2}}), items);
    peer.send(items);
    EXPECT_EQ(peer.receive(2), (Bytes{0x01, 0x01}));
    // The empty pair: both lengths 0, no item, no answer.
    peer.send({0x00, 0x00, 0x00, 0x00});
    EXPECT_EQ(peer.receive(4), (Bytes{0x00, 0x00, 0x00, 0x00}));
    const auto handshake_done = std::chrono::steady_clock::now();

    // First period: 01 each way; then 00 in place of the empty image.
    peer.send({bridge_wire::FIRST_TOKEN});
    EXPECT_EQ(peer.receive(1), (Bytes{0x01}));
    // The image holds zeros until the bridge's first refresh has filled it.
    EXPECT_TRUE(eventually(
        [&] {
            peer.send({bridge_wire::NEXT_TOKEN});
            return peer.receive(5) == Bytes{0xd2, 0x04, 0x00, 0x00, 0x07};
        },
        10s, 10ms))
        << rtframe->log();

    // Driven once per 10 ms, the bridge reports running after about 5 s, and
    // only then lets clients in.
    std::atomic<bool> driving{true};
    std::atomic<int> periods{0};
    std::thread driver([&] {
        try {
            while (driving) {
                peer.send({bridge_wire::NEXT_TOKEN});
                peer.receive(5);
                ++periods;
                std::this_thread::sleep_for(10ms);
            }
        } catch (const std::exception& error) {
            ADD_FAILURE() << error.what();
        }
    });
    const bool ready = rtframe->wait_until_ready(20s);
    const auto waited = std::chrono::steady_clock::now() - handshake_done;
    driving = false;
    driver.join();
    ASSERT_TRUE(ready) << rtframe->log();
    EXPECT_GE(waited, 4500ms);
    EXPECT_LE(waited, 10s);
    EXPECT_GT(periods, 100);
    const std::string log = rtframe->log();
    for (
        const char* line :
        {"INF] Cyclics server socket new connection arrived\n",
         "INF] [Framework_Socket_Bridge][cyclic_server_socket_init_ex] Checking client correspondance of output cyclics\n",
         "INF] [Framework_Socket_Bridge][cyclic_server_socket_init_ex] Client correspondance of output cyclics correctly "
         "checked\n",
         "INF] Checking client correspondance of input cyclics \n",
         "INF] Client correspondance of input cyclics correctly checked\n",
         "WAR] Thread cyclics_server [0] is running!\n",
         "INF] [Framework_Socket_Bridge][set_bridge_running_framweork_output] setting bridge running value :: 1\n"})
        EXPECT_NE(log.find(line), std::string::npos) << line << log;
    peer.close();
    EXPECT_EQ(rtframe->stop(), 0) << rtframe->log();
}

struct Bad_Peer {
    const char* what;
    void (*play)(Bridge_Fake_Peer&);
    std::string error_line;
};

// Each bad peer gives its ERR line and is closed; the listener takes the
// next peer, and a half image never reaches a client.
TEST(Bridge_Fake_Peer_Test, BadPeersAreRefusedAndTheNextPeerRuns)
{
    auto rtframe = start_master(example_items(), {});
    const std::string init = "ERR] [Framework_Socket_Bridge][cyclic_server_socket_init_ex] ";
    const Bad_Peer cases[] = {
        {"name differing in case",
         [](Bridge_Fake_Peer& p) {
             p.send(Bridge_Fake_Peer::length_message(12));
             p.receive(4);
             p.send(Bridge_Fake_Peer::items_message({{"To_slave_int32", 5}, {"to_slave_bytes", 8}}));
             EXPECT_EQ(p.receive(2), (Bytes{0x00, 0x01}));
         },
         init + "Output cyclic to_slave_int32 not found as input cyclic in client of type 5 at pos 0\n"},
        {"wrong length",
         [](Bridge_Fake_Peer& p) {
             p.send(Bridge_Fake_Peer::length_message(13));
             EXPECT_EQ(Bridge_Fake_Peer::length_of(p.receive(4)), 12u);
         },
         "ERR] Output cyclics len = 12 in server while 13 in client\n"},
        {"type code out of range",
         [](Bridge_Fake_Peer& p) {
             p.send(Bridge_Fake_Peer::length_message(12));
             p.receive(4);
             p.send(Bridge_Fake_Peer::items_message({{"to_slave_int32", 5}, {"to_slave_bytes", 99}}));
             EXPECT_EQ(p.receive(2), (Bytes{0x01, 0x00}));
         },
         init + "Output cyclic to_slave_bytes not found as input cyclic in client of type 8 at pos 1\n"},
        {"type differing in the second pair",
         [](Bridge_Fake_Peer& p) {
             p.cyclic_handshake(SLAVE_INPUTS, 12, {{"to_master_int32", 5}, {"to_master_double", 11}}, 12);
         },
         init + "Input cyclic to_master_double not found as output cyclic in client of type 7 at pos 1\n"},
        {"garbage in place of the handshake",
         [](Bridge_Fake_Peer& p) {
             p.send({'G', 'A', 'R', 'B', 'A', 'G', 'E', '!'});
         },
         "ERR] Output cyclics len = 12 in server while 1112686919 in client\n"},
    };
    for (const Bad_Peer& c : cases) {
        SCOPED_TRACE(c.what);
        Bridge_Fake_Peer peer;
        ASSERT_TRUE(peer.connect("127.0.0.1", bridge_wire::CYCLIC_PORT, 30s)) << rtframe->log();
        EXPECT_NO_THROW(c.play(peer)) << c.what;
        EXPECT_TRUE(peer.wait_closed());
        EXPECT_TRUE(rtframe->wait_for_log(c.error_line, 5s)) << rtframe->log();
        // The attempt's listener closes only after its line: the next peer
        // waits for the thread's own failure line, which follows the close,
        // so that it never lands in the old listener's backlog.
        EXPECT_TRUE(eventually(
            [&] {
                const std::string log = rtframe->log();
                const std::size_t at = log.rfind(c.error_line);
                return at != std::string::npos && log.find("ERR] std::exception\n", at) != std::string::npos;
            },
            10s, 10ms))
            << rtframe->log();
    }
    EXPECT_TRUE(rtframe->wait_for_log(init + "error while setting up cyclics server socket: Error in checking "
                                             "correspondance master-slave\n",
                                      5s, 4))
        << rtframe->log();

    // A whole image reaches the framework, half an image never does.
    Thin_Client client;
    {
        Bridge_Fake_Peer peer;
        ASSERT_TRUE(peer.connect("127.0.0.1", bridge_wire::CYCLIC_PORT, 30s)) << rtframe->log();
        const auto answers = peer.cyclic_handshake(SLAVE_INPUTS, 12, SLAVE_OUTPUTS, 12);
        EXPECT_EQ(answers.first, (Bytes{1, 1}));
        EXPECT_EQ(answers.second, (Bytes{1, 1}));
        // The master's image: the defaults once its first refresh has run.
        Bytes expected(12, 0);
        const int32_t default_value = -32;
        std::memcpy(expected.data(), &default_value, 4);
        std::memcpy(expected.data() + 4, "abc", 3);
        ASSERT_TRUE(eventually(
            [&] {
                peer.send(slave_image(0x11111111, 1.5));
                return peer.receive(12) == expected && client.get_input<int32_t>("to_master_int32") == 0x11111111;
            },
            10s, 10ms))
            << rtframe->log();
        Bytes half = slave_image(0x22222222, 2.5);
        half.resize(6);
        peer.send(half);
    }
    bool only_whole_images = true;
    const bool back_to_default = eventually(
        [&] {
            const int32_t value = client.get_input<int32_t>("to_master_int32");
            only_whole_images = only_whole_images && (value == 0x11111111 || value == -32);
            return value == -32;
        },
        10s);
    EXPECT_TRUE(only_whole_images);
    EXPECT_TRUE(back_to_default) << rtframe->log();
    EXPECT_TRUE(
        rtframe->wait_for_log("ERR] [Framework_Socket_Bridge][cyclic_server_socket_run_ex] error while running "
                              "cyclics socket thread :: error while receiving socket message: ",
                              5s))
        << rtframe->log();

    // The next peer runs after the bridge's new pass, once the socket of the
    // last pass is gone.
    EXPECT_TRUE(rtframe->wait_for_log("Thread cyclics_server [0] going to init..", 30s, 2)) << rtframe->log();
    Bridge_Fake_Peer peer;
    ASSERT_TRUE(peer.connect("127.0.0.1", bridge_wire::CYCLIC_PORT, 30s)) << rtframe->log();
    const auto answers = peer.cyclic_handshake(SLAVE_INPUTS, 12, SLAVE_OUTPUTS, 12);
    EXPECT_EQ(answers.first, (Bytes{1, 1}));
    EXPECT_EQ(answers.second, (Bytes{1, 1}));
    EXPECT_TRUE(eventually(
        [&] {
            peer.send(slave_image(77, 7.5));
            peer.receive(12);
            return client.get_input<int32_t>("to_master_int32") == 77 &&
                   client.get_input<double>("to_master_double") == 7.5;
        },
        5s, 10ms))
        << rtframe->log();
    peer.close();
    EXPECT_EQ(rtframe->stop(), 0) << rtframe->log();
}

// A bridge period shorter than the master cycle: the framework refuses it,
// and the manager says so at every pass instead of ending silently.
TEST(Bridge_Fake_Peer_Test, APeriodBelowTheMasterCycleGivesAnErrorLine)
{
    Bridge_File file = example_items();
    auto rtframe = std::make_unique<Rtframe_Child>(std::vector<std::string>{
        "-o", "-s", "-m", "-b", file.install(DIR + "bridge.xml"), "-c",
        install_application_descriptor("master", DIR + "app.xml", {},
                                       {{"<master_cycle_time>1000000<", "<master_cycle_time>20000000<"}})});
    Bridge_Fake_Peer peer;
    ASSERT_TRUE(peer.connect("127.0.0.1", bridge_wire::CYCLIC_PORT, 30s)) << rtframe->log();
    peer.cyclic_handshake(SLAVE_INPUTS, 12, SLAVE_OUTPUTS, 12);
    EXPECT_TRUE(rtframe->wait_for_log("ERR] [Framework_Socket_Bridge][manager_thread] running step ended :: ", 10s))
        << rtframe->log();
    EXPECT_FALSE(rtframe->wait_until_ready(1s));
    EXPECT_EQ(rtframe->stop(), 0) << rtframe->log();
}

// The descriptor read again after a stop of the bridge must hold the same
// entries: another list ends rtframe with its ERR line and a failure status.
TEST(Bridge_Fake_Peer_Test, AReloadWithOtherEntriesEndsRtframe)
{
    Bridge_File file = example_items();
    auto rtframe = start_master(file, {});
    Bridge_Fake_Peer peer;
    ASSERT_TRUE(peer.connect("127.0.0.1", bridge_wire::CYCLIC_PORT, 30s)) << rtframe->log();
    peer.cyclic_handshake(SLAVE_INPUTS, 12, SLAVE_OUTPUTS, 12);
    peer.send(slave_image(1, 1.0));
    peer.receive(12);
    file.outputs = {"to_slave_bytes", "to_slave_int32"};
    file.install(DIR + "bridge.xml");
    peer.close();
    EXPECT_EQ(rtframe->wait_exit(30s), 1) << rtframe->log();
    const std::string log = rtframe->log();
    EXPECT_NE(log.find(
                  "ERR] [Framework_Socket_Bridge][load_bridge_descriptor] error parsing bridge descriptor xml file "
                  ":: the entries differ in number or order from those of the first load ..going to terminate"),
              std::string::npos)
        << log;
    EXPECT_EQ(log.find("Try Connection Restart"), std::string::npos);
    struct stat st {};
    EXPECT_NE(stat("/dev/shm/linux_framework_info", &st), 0);
}

// Images larger than a socket buffer go in packs, the same bytes on the wire.
TEST(Bridge_Fake_Peer_Test, ImagesLargerThanASocketBufferPass)
{
    // Two byte arrays of the largest dimension each way: 131070 bytes, more
    // than half of either socket buffer of a fresh TCP socket.
    constexpr uint32_t ARRAY = 65535;
    constexpr uint32_t SIZE = 2 * ARRAY;
    const auto big = [](const char* name) {
        return descriptor_xml::virtual_io(name, "uint8_array[0..n]", -1, false, "", ARRAY);
    };
    Bridge_File file;
    file.inputs = {"big_up", "big_up_2"};
    file.outputs = {"big_down", "big_down_2"};
    auto rtframe = start_master(file, {big("big_up"), big("big_up_2"), big("big_down"), big("big_down_2")});
    Bridge_Fake_Peer peer;
    ASSERT_TRUE(peer.connect("127.0.0.1", bridge_wire::CYCLIC_PORT, 30s)) << rtframe->log();
    const auto answers =
        peer.cyclic_handshake({{"big_down", 8}, {"big_down_2", 8}}, SIZE, {{"big_up", 8}, {"big_up_2", 8}}, SIZE);
    EXPECT_EQ(answers.first, (Bytes{1, 1}));
    EXPECT_EQ(answers.second, (Bytes{1, 1}));
    Bytes image(SIZE);
    for (uint32_t i = 0; i < SIZE; ++i)
        image[i] = static_cast<uint8_t>(i * 13 + 1);
    Thin_Client client;
    const uint32_t first = client.input_record("big_up").byte_offs;
    const uint32_t second = client.input_record("big_up_2").byte_offs;
    EXPECT_TRUE(eventually(
        [&] {
            peer.send(image);
            EXPECT_EQ(peer.receive(SIZE).size(), SIZE);
            const std::vector<uint8_t> inputs = client.inputs();
            return std::equal(image.begin(), image.begin() + ARRAY, inputs.begin() + first) &&
                   std::equal(image.begin() + ARRAY, image.end(), inputs.begin() + second);
        },
        10s, 10ms))
        << rtframe->log();
    peer.close();
    EXPECT_EQ(rtframe->stop(), 0) << rtframe->log();
}
