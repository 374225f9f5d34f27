// Topology: junctions with three and four ports, DL status and port
// descriptors, loop control, and links broken and mended at run time.

#include "test_master.h"

namespace {

class Topology : public Segment_Test {
protected:
    uint16_t count() { return master().read(7, 0, 0x0130, 2).wkc; }
    uint16_t dl_status(uint16_t station) { return master().fprd16(station, 0x0110); }
};

}  // namespace

TEST_F(Topology, a_three_port_junction_and_its_branch)
{
    start(
        "slave junction device=none ports=3 hop_delay_ns=100\n"
        "slave a device=dio hop_delay_ns=100\n"
        "slave b device=dio ports=1 hop_delay_ns=100\n"
        "slave c device=dio ports=1 previous=junction:2 hop_delay_ns=100\n");
    EXPECT_EQ(count(), 4);
    master().assign_stations(4);
    const struct {
        uint16_t station;
        uint16_t dl_status;
        uint8_t ports;
    } expected[] = {
        {0x1001, 0x6A71, 0x3F},  // links on 0, 1, 2; port 3 closed
        {0x1002, 0x5A31, 0x0F},  // links on 0, 1
        {0x1003, 0x5611, 0x03},  // end of the branch behind port 1
        {0x1004, 0x5611, 0x03},  // on port 2 of the junction
    };
    for (const auto& e : expected) {
        EXPECT_EQ(dl_status(e.station), e.dl_status) << std::hex << e.station;
        EXPECT_EQ(master().read(4, e.station, 0x0007, 1).data[0], e.ports) << std::hex << e.station;
    }
    // The frame comes back on port 1 after a and b, then on port 2 after c.
    master().write(8, 0, 0x0900, le32(0));
    const uint32_t t0 = master().fprd32(0x1001, 0x0900);
    EXPECT_EQ(master().fprd32(0x1001, 0x0904) - t0, 400u);
    EXPECT_EQ(master().fprd32(0x1001, 0x0908) - t0, 600u);
}

TEST_F(Topology, a_four_port_junction_sends_the_frame_out_of_port_3_first)
{
    start(
        "slave junction device=none ports=4\n"
        "slave on3 device=dio ports=1 previous=junction:3\n"
        "slave on1 device=dio ports=1 previous=junction:1\n"
        "slave on2 device=dio ports=1 previous=junction:2\n");
    master().assign_stations(4);
    EXPECT_EQ(dl_status(0x1001) & 0xFFF0, 0xAAF0) << "four links, all open";
    // Positions follow the frame: the slave on port 3 is the second one
    // addressed by position, as its EEPROM name string shows.
    const std::vector<uint8_t> name = master().eeprom_read(0x1002, 0x0042);
    EXPECT_EQ(name, (std::vector<uint8_t>{0x01, 0x03, 'o', 'n'})) << "one string of 3 bytes: \"on3\"";
    EXPECT_EQ(master().eeprom_read(0x1003, 0x0044)[0], '1');
    // The frame returns on port 3 first, then on 1, then on 2.
    master().write(8, 0, 0x0900, le32(0));
    const uint32_t t0 = master().fprd32(0x1001, 0x0900);
    EXPECT_EQ(master().fprd32(0x1001, 0x090C) - t0, 300u);
    EXPECT_EQ(master().fprd32(0x1001, 0x0904) - t0, 600u);
    EXPECT_EQ(master().fprd32(0x1001, 0x0908) - t0, 900u);
}

TEST_F(Topology, a_link_broken_at_run_time)
{
    start("slave s1 device=dio\nslave s2 device=dio\nslave s3 device=dio\nslave s4 device=dio\n");
    master().assign_stations(4);
    EXPECT_EQ(control("link 1 1 down"), "OK");
    EXPECT_EQ(count(), 2) << "the frame turns back at the second slave";
    EXPECT_EQ(dl_status(0x1002) & 0x0F30, 0x0610) << "port 1: no link, loop closed";
    EXPECT_EQ(master().read(4, 0x1003, 0x0010, 2).wkc, 0);
    EXPECT_EQ(master().read(4, 0x1002, 0x0310, 2).data, (std::vector<uint8_t>{0, 1})) << "lost-link counter of port 1";
    EXPECT_EQ(control("link 1 1 up"), "OK");
    EXPECT_EQ(count(), 4) << "auto mode opens again with the link";

    // Auto-close keeps the port closed after the link returns, until DL control is written.
    master().fpwr(0x1002, 0x0100, le32(0x00000401));
    EXPECT_EQ(control("link 1 1 down"), "OK");
    EXPECT_EQ(control("link 1 1 up"), "OK");
    EXPECT_EQ(count(), 2);
    master().fpwr(0x1002, 0x0100, le32(0x00000401));
    EXPECT_EQ(count(), 4);
    EXPECT_EQ(control("link 3 1 down").rfind("ERR", 0), 0u) << "the last slave has nothing on port 1";
}

TEST_F(Topology, loop_control_closes_and_forces_ports)
{
    start("slave s1 device=dio\nslave s2 device=dio\nslave s3 device=dio\n");
    master().assign_stations(3);
    master().fpwr(0x1001, 0x0100, le32(0x00000C01));  // port 1 closed
    EXPECT_EQ(count(), 1);
    EXPECT_EQ(dl_status(0x1001) & 0x0C00, 0x0C00) << "closed with communication on the link";
    master().fpwr(0x1001, 0x0100, le32(0x00000001));
    EXPECT_EQ(count(), 3);
    // Port 1 of the last slave forced open without a link: the frame is lost.
    master().fpwr(0x1003, 0x0100, le32(0x00000801));
    std::vector<Datagram> frame(1);
    frame[0].command = 7;
    frame[0].ado = 0x0130;
    frame[0].data.assign(2, 0);
    EXPECT_FALSE(master().try_exchange(frame, std::chrono::milliseconds(50)));
}
