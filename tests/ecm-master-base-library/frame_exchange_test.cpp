// Frames exchanged over a veth pair with a raw peer that the test scripts:
// acyclic datagrams of every kind, lost, late and foreign replies, and the
// cyclic frame.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <thread>
#include <vector>

#include "ethercatbase.h"
#include "ethercatmain.h"
#include "nicdrv.h"
#include "raw_peer.h"

namespace {
using Clock = std::chrono::steady_clock;

class FrameExchange : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(ec_setupnic(m_veth.master_end().c_str()), 0); }
    void TearDown() override { ec_closenic(); }

    ecat_sim::Veth_Pair m_veth{"ecm0", "ecm1"};
};

using Physical = int (*)(uint16_t, uint16_t, uint16_t, void*, int, char);
using Logical = int (*)(uint32_t, uint16_t, void*, int, char);

struct Command_Case {
    const char* name;
    uint8_t code;
    Physical physical;
    Logical logical;
    bool reads;
};

const Command_Case COMMANDS[] = {
    {"APRD", 1, ec_APRD, nullptr, true},  {"APWR", 2, ec_APWR, nullptr, false}, {"FPRD", 4, ec_FPRD, nullptr, true},
    {"FPWR", 5, ec_FPWR, nullptr, false}, {"BRD", 7, ec_BRD, nullptr, true},    {"BWR", 8, ec_BWR, nullptr, false},
    {"LRD", 10, nullptr, ec_LRD, true},   {"LWR", 11, nullptr, ec_LWR, false},  {"LRW", 12, nullptr, ec_LRW, true},
    {"ARMW", 13, ec_ARMW, nullptr, true}, {"FRMW", 14, ec_FRMW, nullptr, true},
};

uint16_t word_at(const std::vector<uint8_t>& frame, std::size_t offset)
{
    return static_cast<uint16_t>(frame[offset] | (frame[offset + 1] << 8));
}
}  // namespace

TEST(FrameLayerSetup, UnknownInterfaceIsReported)
{
    EXPECT_NE(ec_setupnic("no_such_if0"), 0);
}

TEST_F(FrameExchange, EveryAcyclicCommandCarriesItsCodeAndAddressAndReturnsTheWorkingCounter)
{
    Raw_Peer peer(m_veth.segment_end(), counting_slaves(3));
    for (const Command_Case& c : COMMANDS) {
        uint8_t data[4] = {1, 2, 3, 4};
        const int wkc = c.physical != nullptr ? c.physical(0x1002, 0x0130, 4, data, 20000, 1)
                                              : c.logical(0x00010000, 4, data, 20000, 1);
        EXPECT_EQ(wkc, 3) << c.name;
        const std::vector<uint8_t> sent = peer.frames().back().bytes;
        EXPECT_EQ(sent[16], c.code) << c.name;
        if (c.physical != nullptr) {
            EXPECT_EQ(word_at(sent, 18), 0x1002) << c.name;
            EXPECT_EQ(word_at(sent, 20), 0x0130) << c.name;
        } else {
            EXPECT_EQ(word_at(sent, 18), 0x0000) << c.name;
            EXPECT_EQ(word_at(sent, 20), 0x0001) << c.name;
        }
        const uint8_t expected_read[4] = {0xA5, 0xA5, 0xA5, 0xA5};
        const uint8_t expected_write[4] = {1, 2, 3, 4};
        EXPECT_EQ(std::memcmp(data, c.reads ? expected_read : expected_write, 4), 0) << c.name;
    }
}

TEST_F(FrameExchange, WorkingCounterZeroCopiesNothingBack)
{
    Raw_Peer peer(m_veth.segment_end(), counting_slaves(0));
    uint8_t data[2] = {7, 9};
    EXPECT_EQ(ec_BRD(0, 0x0130, 2, data, 20000, 1), 0);
    EXPECT_EQ(data[0], 7);
    EXPECT_EQ(data[1], 9);
}

TEST_F(FrameExchange, LostReplyGivesMinusOneAfterTheTimeOut)
{
    Raw_Peer peer(m_veth.segment_end(), [](std::vector<uint8_t>&) { return Peer_Action{false, {}}; });
    uint8_t data[2] = {7, 9};
    const auto start = Clock::now();
    EXPECT_EQ(ec_FPRD(0x1001, 0x0130, 2, data, 30000, 1), EC_NO_FRAME);
    EXPECT_GE(Clock::now() - start, std::chrono::microseconds(30000));
    EXPECT_EQ(peer.frames().size(), 1u);
    EXPECT_EQ(data[0], 7);
}

// A reply that comes after its time-out must never pass for the reply to the
// next frame, whether it waits in the socket when that frame is sent or
// arrives while its reply is awaited.
TEST_F(FrameExchange, LateReplyIsNotPairedWithTheNextFrame)
{
    for (const auto pause_before_second : {std::chrono::milliseconds(80), std::chrono::milliseconds(0)}) {
        int seen = 0;
        Raw_Peer peer(m_veth.segment_end(), [&seen](std::vector<uint8_t>& frame) {
            const auto datagram = datagrams_of(frame).front();
            if (seen++ == 0) {
                set_working_counter(frame, datagram, 7);
                return Peer_Action{true, std::chrono::milliseconds(40)};
            }
            set_working_counter(frame, datagram, 2);
            return Peer_Action{};
        });
        uint8_t data[2] = {};
        EXPECT_EQ(ec_BRD(0, 0x0130, 2, data, 5000, 1), EC_NO_FRAME);
        std::this_thread::sleep_for(pause_before_second);
        EXPECT_EQ(ec_BRD(0, 0x0130, 2, data, 200000, 1), 2) << pause_before_second.count();
    }
    EXPECT_GE(ec_get_dropcnt(), 1);  // the one that arrived during the wait
}

TEST_F(FrameExchange, FramesThatDoNotFitTheFrameSentAreDroppedAndCounted)
{
    struct Case {
        const char* name;
        void (*spoil)(std::vector<uint8_t>&);
    };
    const Case cases[] = {
        {"shorter", [](std::vector<uint8_t>& f) { f.pop_back(); }},
        {"longer", [](std::vector<uint8_t>& f) { f.resize(f.size() + 40, 0); }},
        {"other EtherCAT length", [](std::vector<uint8_t>& f) { f[14] = static_cast<uint8_t>(f[14] - 1); }},
        {"other command", [](std::vector<uint8_t>& f) { f[16] = 4; }},
        {"other index", [](std::vector<uint8_t>& f) { f[17] = static_cast<uint8_t>(f[17] + 1); }},
    };
    int dropped = 0;
    for (const Case& c : cases) {
        Raw_Peer peer(m_veth.segment_end(), [&c](std::vector<uint8_t>& frame) {
            set_working_counter(frame, datagrams_of(frame).front(), 1);
            c.spoil(frame);
            return Peer_Action{};
        });
        uint8_t data[2] = {3, 4};
        // The spoiled reply always comes; a wait long enough for a loaded
        // machine sees it dropped within the call that sent its request.
        EXPECT_EQ(ec_BRD(0, 0x0130, 2, data, 200000, 1), EC_NO_FRAME) << c.name;
        EXPECT_EQ(data[0], 3) << c.name;
        EXPECT_EQ(ec_get_dropcnt(), ++dropped) << c.name;
    }
}

TEST_F(FrameExchange, ShortFrameComingBackPaddedToTheEthernetMinimumIsTheReply)
{
    Raw_Peer peer(m_veth.segment_end(), [](std::vector<uint8_t>& frame) {
        set_working_counter(frame, datagrams_of(frame).front(), 1);
        frame.resize(60, 0);
        return Peer_Action{};
    });
    uint8_t data[2] = {};
    EXPECT_EQ(ec_FPWR(0x1001, 0x0120, 2, data, 20000, 1), 1);
}

TEST_F(FrameExchange, CyclicFrameFillsTheImageWithTheReturnedDatagrams)
{
    Raw_Peer peer(m_veth.segment_end(), counting_slaves(2, 0x3C));
    uint8_t a[2] = {1, 2}, b[4] = {3, 4, 5, 6}, c[6] = {7, 8, 9, 10, 11, 12};
    const Cycle_Command_Struct commands[3] = {
        {EC_CMD_LWR, 0x0000, 0x0001, 2, 0, a, 0, 2},
        {EC_CMD_FPRD, 0x1001, 0x0130, 4, 0, b, 0, 2},
        {EC_CMD_LRW, 0x0010, 0x0001, 6, 0, c, 0, 2},
    };
    std::vector<uint8_t> image(4096, 0xEE);
    EXPECT_FALSE(ec_cyclic_is_running());
    EXPECT_EQ(ec_send_receive_cycle_processdata(commands, 3, image.data(), 1000000, 20000), 2);

    const std::vector<uint8_t> sent = peer.frames().back().bytes;
    ASSERT_EQ(sent.size(), 64u);
    EXPECT_EQ(image[0], EC_CMD_LWR);  // the returned frame from its first datagram on
    EXPECT_EQ(image[10], 1);          // LWR data come back as written
    EXPECT_EQ(image[12], 2);          // first datagram's working counter
    EXPECT_EQ(image[14 + 10], 0x3C);  // FPRD data read
    EXPECT_EQ(image[30 + 10 + 5], 0x3C);
    EXPECT_EQ(image[30 + 16], 2);  // last working counter
    EXPECT_EQ(image[48], 0xEE);    // nothing beyond the frame
    EXPECT_TRUE(ec_cyclic_is_running());
}

TEST_F(FrameExchange, CyclicReplyWithLastWorkingCounterZeroLeavesTheImageAndTheGate)
{
    Raw_Peer peer(m_veth.segment_end(), [](std::vector<uint8_t>& frame) {
        const auto datagrams = datagrams_of(frame);
        set_working_counter(frame, datagrams.front(), 1);  // earlier ones processed
        return Peer_Action{};
    });
    uint8_t a[2] = {1, 2}, b[2] = {3, 4};
    const Cycle_Command_Struct commands[2] = {
        {EC_CMD_LRW, 0, 0, 2, 0, a, 0, 1},
        {EC_CMD_BRD, 0, 0x0130, 2, 0, b, 0, 1},
    };
    std::vector<uint8_t> image(4096, 0xEE);
    EXPECT_EQ(ec_send_receive_cycle_processdata(commands, 2, image.data(), 1000000, 20000), 0);
    EXPECT_EQ(image[0], 0xEE);
    EXPECT_FALSE(ec_cyclic_is_running());
}

TEST_F(FrameExchange, CyclicListWithoutDataSendsNothing)
{
    Raw_Peer peer(m_veth.segment_end(), counting_slaves(1));
    uint8_t unused = 0;
    const Cycle_Command_Struct commands[2] = {
        {EC_CMD_LRW, 0, 0, 0, 0, &unused, 0, 1},
        {EC_CMD_BRD, 0, 0, 0, 0, &unused, 0, 1},
    };
    std::vector<uint8_t> image(4096, 0);
    EXPECT_EQ(ec_send_receive_cycle_processdata(commands, 2, image.data(), 1000000, 20000), 0);
    EXPECT_EQ(ec_send_receive_cycle_processdata(commands, 0, image.data(), 1000000, 20000), 0);
    // One exchange after them shows that the peer is listening.
    uint8_t data[2] = {};
    EXPECT_EQ(ec_BRD(0, 0x0130, 2, data, 20000, 1), 1);
    EXPECT_EQ(peer.frames().size(), 1u);
}
