// How datagrams are laid into frames: headers, length words, the "another
// follows" bit, and the bounds of one frame.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "ethercatbase.h"
#include "ethercatmain.h"
#include "nicdrv.h"

namespace {
uint16_t word_at(const uint8_t* frame, int offset)
{
    return static_cast<uint16_t>(frame[offset] | (frame[offset + 1] << 8));
}
}  // namespace

TEST(DatagramLayout, OneDatagramFrameCarriesHeaderAddressDataAndZeroCounter)
{
    ec_bufT frame;
    std::memset(frame, 0xEE, sizeof(frame));
    int length = 0;
    const uint8_t data[3] = {0x11, 0x22, 0x33};
    ASSERT_EQ(ec_setupdatagram(frame, &length, EC_CMD_FPWR, 0x1001, 0x0120, 3, data), 0);

    EXPECT_EQ(length, 3 + 28);
    const uint8_t header[14] = {0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0x01, 0x01, 0x01, 0x01, 0x01, 0x01, 0x88, 0xA4};
    EXPECT_EQ(std::memcmp(frame, header, 14), 0);
    EXPECT_EQ(word_at(frame, 14), 0x1000 + 12 + 3);
    EXPECT_EQ(frame[16], EC_CMD_FPWR);
    EXPECT_EQ(word_at(frame, 18), 0x1001);
    EXPECT_EQ(word_at(frame, 20), 0x0120);
    EXPECT_EQ(word_at(frame, 22), 3);  // bit 15 clear: the only datagram
    EXPECT_EQ(std::memcmp(frame + 26, data, 3), 0);
    EXPECT_EQ(word_at(frame, 29), 0);
}

TEST(DatagramLayout, ZeroLengthDatagramHasNoData)
{
    ec_bufT frame;
    int length = 0;
    ASSERT_EQ(ec_setupdatagram(frame, &length, EC_CMD_BRD, 0, 0x0130, 0, nullptr), 0);
    EXPECT_EQ(length, 28);
    EXPECT_EQ(word_at(frame, 26), 0);
}

TEST(DatagramLayout, ThreeCommandsBecomeOneChainedFrame)
{
    uint8_t a[2] = {1, 2}, b[4] = {3, 4, 5, 6}, c[6] = {7, 8, 9, 10, 11, 12};
    const Cycle_Command_Struct commands[3] = {
        {EC_CMD_LRW, 0x0000, 0x0001, 2, 0, a, 0, 1},
        {EC_CMD_FPRD, 0x1001, 0x0130, 4, 0, b, 0, 1},
        {EC_CMD_BRD, 0x0000, 0x0900, 6, 0, c, 0, 1},
    };
    ASSERT_EQ(ec_get_ethercat_frame_data_dim(commands, 3), 14 + 16 + 18);

    ec_bufT frame;
    int length = 0;
    ASSERT_EQ(ec_setupdatagram(frame, &length, commands[0].com, commands[0].ADP, commands[0].ADO, 2, a), 0);
    ASSERT_EQ(ec_adddatagram_my(frame, &length, commands[1].com, commands[1].ADP, commands[1].ADO, 4, b, 2 + 12), 0);
    ASSERT_EQ(ec_adddatagram_my(frame, &length, commands[2].com, commands[2].ADP, commands[2].ADO, 6, c, 4 + 12), 0);

    EXPECT_EQ(length, 16 + 14 + 16 + 18);
    EXPECT_EQ(word_at(frame, 14), 0x1030);
    EXPECT_EQ(word_at(frame, 16 + 6), 0x8000 | 2);
    EXPECT_EQ(word_at(frame, 30 + 6), 0x8000 | 4);
    EXPECT_EQ(word_at(frame, 46 + 6), 6);
    EXPECT_EQ(frame[46], EC_CMD_BRD);
    EXPECT_EQ(word_at(frame, 46 + 4), 0x0900);
    EXPECT_EQ(std::memcmp(frame + 46 + 10, c, 6), 0);
    EXPECT_EQ(word_at(frame, 46 + 16), 0);
}

TEST(DatagramLayout, FrameDimensionOfAnEmptyListIsZero)
{
    EXPECT_EQ(ec_get_ethercat_frame_data_dim(nullptr, 0), 0);
    EXPECT_EQ(ec_get_ethercat_frame_data_dim(nullptr, -1), 0);
}

TEST(DatagramLayout, DataThatCannotFitOneFrameIsRefusedWithoutWriting)
{
    std::vector<uint8_t> data(EC_MAX_ACYCLIC_DATA + 1, 0x5A);
    ec_bufT frame;
    std::memset(frame, 0xEE, sizeof(frame));
    int length = 7;
    EXPECT_EQ(ec_setupdatagram(frame, &length, EC_CMD_LWR, 0, 0, static_cast<uint16_t>(data.size()), data.data()), -1);
    EXPECT_EQ(length, 7);
    EXPECT_EQ(frame[0], 0xEE);

    ASSERT_EQ(ec_setupdatagram(frame, &length, EC_CMD_LWR, 0, 0, EC_MAX_ACYCLIC_DATA, data.data()), 0);
    EXPECT_EQ(length, EC_MAXFRAME);
    // A full frame takes no further datagram, not even an empty one.
    EXPECT_EQ(ec_adddatagram_my(frame, &length, EC_CMD_BRD, 0, 0, 0, nullptr, EC_MAX_ACYCLIC_DATA + 12), -1);
    EXPECT_EQ(length, EC_MAXFRAME);
}

TEST(DatagramLayout, CyclicListLongerThanOneFrameIsNotSent)
{
    std::vector<uint8_t> data(800, 0);
    const Cycle_Command_Struct commands[2] = {
        {EC_CMD_LRW, 0, 0, 800, 0, data.data(), 0, 1},
        {EC_CMD_LRW, 0, 0, 800, 0, data.data(), 0, 1},
    };
    std::vector<uint8_t> image(4096, 0);
    // No interface is open: had it tried to send, the result would be -1.
    EXPECT_EQ(ec_send_receive_cycle_processdata(commands, 2, image.data(), 1000000, 1000), EC_FRAME_TOO_LONG);
}
