// Addressing and working counters of every datagram command, answered over
// the veth pair.

#include "test_master.h"

namespace {

const char* const LINE_OF_THREE =
    "slave io1 device=dio\n"
    "slave io2 device=dio alias=0x0055\n"
    "slave io3 device=dio\n";

class Datagrams : public Segment_Test {};

}  // namespace

TEST_F(Datagrams, broadcast_read_counts_the_slaves_and_the_reply_is_marked)
{
    start(LINE_OF_THREE);
    const std::vector<uint8_t> frame = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x01, 0x01, 0x01, 0x01, 0x01, 0x01, 0x88,
                                        0xA4, 0x0E, 0x10,  // 14 bytes of datagrams, type 1
                                        7, 0x5A, 0x00, 0x00, 0x30, 0x01, 0x02, 0x00, 0x00, 0x00,  // BRD 0x0130
                                        0x00, 0x00, 0x00, 0x00,
                                        // padding up to the Ethernet minimum
                                        0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    const std::vector<uint8_t> reply = master().exchange_raw(frame);
    ASSERT_EQ(reply.size(), frame.size());
    EXPECT_EQ(reply[6], 0x03) << "bit 1 of the first source byte marks a reply";
    EXPECT_TRUE(std::equal(reply.begin() + 7, reply.begin() + 16, frame.begin() + 7));
    EXPECT_EQ(reply[17], 0x5A) << "the index is the master's";
    EXPECT_EQ(get_le16(reply, 18), 3) << "ADP counts the slaves passed";
    EXPECT_EQ(get_le16(reply, 26), 0x0001) << "every slave reads INIT";
    EXPECT_EQ(get_le16(reply, 28), 3) << "working counter";
    EXPECT_TRUE(std::equal(reply.begin() + 30, reply.end(), frame.begin() + 30)) << "padding untouched";
}

TEST_F(Datagrams, position_and_station_addressing)
{
    start(LINE_OF_THREE);
    master().assign_stations(3);
    const Datagram by_position = master().read(1, 0xFFFE, 0x0010, 2);  // third slave
    EXPECT_EQ(by_position.wkc, 1);
    EXPECT_EQ(get_le16(by_position.data, 0), 0x1003);
    EXPECT_EQ(by_position.adp, 0x0001) << "each slave adds one on the way";
    EXPECT_EQ(master().read(4, 0x1002, 0x0010, 2).wkc, 1);
    EXPECT_EQ(master().read(4, 0x1009, 0x0010, 2).wkc, 0);
    EXPECT_EQ(master().read(1, 0xFFFD, 0x0010, 2).wkc, 0) << "no fourth slave";

    // The alias answers only once DL control bit 24 enables it.
    EXPECT_EQ(master().read(4, 0x0055, 0x0010, 2).wkc, 0);
    master().fpwr(0x1002, 0x0100, le32(0x01000001));
    const Datagram by_alias = master().read(4, 0x0055, 0x0010, 2);
    EXPECT_EQ(by_alias.wkc, 1);
    EXPECT_EQ(get_le16(by_alias.data, 0), 0x1002);

    // Two slaves with one station address both answer and both count.
    master().write(2, 0xFFFE, 0x0010, le16(0x1001));
    EXPECT_EQ(master().read(4, 0x1001, 0x0010, 2).wkc, 2);
}

namespace {

struct Command_Case {
    const char* name;
    uint8_t command;
    uint16_t adp;
    uint16_t wkc;  // three slaves on the line
};

void PrintTo(const Command_Case& c, std::ostream* os)
{
    *os << c.name;
}

class Working_Counters : public Segment_Test, public ::testing::WithParamInterface<Command_Case> {};

}  // namespace

TEST_P(Working_Counters, count_as_the_standard_says)
{
    start(LINE_OF_THREE);
    master().assign_stations(3);
    const Command_Case& c = GetParam();
    // A RAM word each slave owns: reads, writes and read-writes all reach it.
    Datagram d;
    d.command = c.command;
    d.adp = c.adp;
    d.ado = 0x1800;
    d.data = {0x11, 0x22};
    EXPECT_EQ(master().exchange(d).wkc, c.wkc);
}

INSTANTIATE_TEST_SUITE_P(Commands, Working_Counters,
                         ::testing::Values(Command_Case{"NOP", 0, 0, 0}, Command_Case{"APRD", 1, 0xFFFF, 1},
                                           Command_Case{"APWR", 2, 0, 1}, Command_Case{"APRW", 3, 0xFFFE, 3},
                                           Command_Case{"FPRD", 4, 0x1002, 1}, Command_Case{"FPWR", 5, 0x1003, 1},
                                           Command_Case{"FPRW", 6, 0x1001, 3}, Command_Case{"BRD", 7, 0, 3},
                                           Command_Case{"BWR", 8, 0, 3}, Command_Case{"BRW", 9, 0, 9},
                                           Command_Case{"ARMW", 13, 0, 3}, Command_Case{"FRMW", 14, 0x1002, 3}),
                         [](const ::testing::TestParamInfo<Command_Case>& param_info) {
                             return param_info.param.name;
                         });

TEST_F(Datagrams, data_effects_of_read_write_commands)
{
    start(LINE_OF_THREE);
    master().assign_stations(3);
    for (uint16_t station : {0x1001, 0x1002, 0x1003}) {
        master().fpwr(station, 0x1800, le16(static_cast<uint16_t>(1u << (station - 0x1001))));
    }
    // BRD ORs every slave's memory into the frame.
    EXPECT_EQ(get_le16(master().read(7, 0, 0x1800, 2).data, 0), 0x0007);
    // FPRW returns the old value and leaves the frame's.
    Datagram rw;
    rw.command = 6;
    rw.adp = 0x1002;
    rw.ado = 0x1800;
    rw.data = le16(0x00F0);
    rw = master().exchange(rw);
    EXPECT_EQ(get_le16(rw.data, 0), 0x0002);
    EXPECT_EQ(master().fprd16(0x1002, 0x1800), 0x00F0);
    // ARMW: the first slave's value lands in all the others.
    master().fpwr(0x1001, 0x1800, le16(0xBEEF));
    Datagram armw;
    armw.command = 13;
    armw.adp = 0;
    armw.ado = 0x1800;
    armw.data = le16(0);
    armw = master().exchange(armw);
    EXPECT_EQ(get_le16(armw.data, 0), 0xBEEF);
    EXPECT_EQ(master().fprd16(0x1003, 0x1800), 0xBEEF);
    // FRMW reads at the named slave, which need not be the first.
    master().fpwr(0x1002, 0x1800, le16(0x1234));
    Datagram frmw;
    frmw.command = 14;
    frmw.adp = 0x1002;
    frmw.ado = 0x1800;
    frmw.data = le16(0);
    master().exchange(frmw);
    EXPECT_EQ(master().fprd16(0x1003, 0x1800), 0x1234);
    EXPECT_EQ(master().fprd16(0x1001, 0x1800), 0x0000) << "a slave before the reader takes the master's data";
}

TEST_F(Datagrams, several_datagrams_in_one_frame)
{
    start(LINE_OF_THREE);
    master().assign_stations(3);
    std::vector<Datagram> frame(3);
    frame[0].command = 5;
    frame[0].adp = 0x1003;
    frame[0].ado = 0x1800;
    frame[0].data = le16(0x4242);
    frame[1].command = 4;
    frame[1].adp = 0x1003;
    frame[1].ado = 0x1800;
    frame[1].data = le16(0);
    frame[2].command = 7;
    frame[2].ado = 0x0130;
    frame[2].data = le16(0);
    master().exchange(frame);
    EXPECT_EQ(frame[0].wkc, 1);
    EXPECT_EQ(frame[1].wkc, 1);
    EXPECT_EQ(get_le16(frame[1].data, 0), 0x4242) << "a later datagram sees an earlier one's write";
    EXPECT_EQ(frame[2].wkc, 3);
}

TEST_F(Datagrams, a_malformed_frame_is_not_answered_and_counted)
{
    start(LINE_OF_THREE);
    // The datagram claims 40 data bytes in a frame of 14 datagram bytes.
    const std::vector<uint8_t> frame = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x01, 0x01, 0x01, 0x01,
                                        0x01, 0x01, 0x88, 0xA4, 0x0E, 0x10, 7,    0,    0,    0,
                                        0x30, 0x01, 0x28, 0x00, 0,    0,    0,    0,    0,    0};
    EXPECT_TRUE(master().exchange_raw(frame, std::chrono::milliseconds(50)).empty());
    EXPECT_EQ(master().read(1, 0, 0x0300, 1).data[0], 1) << "invalid-frame counter of port 0";
    // A write to the counters clears the whole group.
    master().write(2, 0, 0x0304, {0});
    EXPECT_EQ(master().read(1, 0, 0x0300, 1).data[0], 0);
}
