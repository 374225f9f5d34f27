// Distributed clocks: port receive-time latching, system time with offset
// and delay, drift steering, SYNC0 activation and read-back, and the phase
// of cyclic frames at the reference clock.

#include <thread>

#include "test_master.h"

namespace {

const char* const CLOCKS =
    "slave nodc device=dio dc=0\n"
    "slave ref device=dio clock_offset_ns=5000000000 hop_delay_ns=100\n"
    "slave mid device=dio clock_offset_ns=9000000000 hop_delay_ns=100\n"
    "slave end device=dio clock_offset_ns=1000000000 hop_delay_ns=100\n";
constexpr uint16_t NODC = 0x1001;
constexpr uint16_t REF = 0x1002;
constexpr uint16_t MID = 0x1003;
constexpr uint16_t END = 0x1004;

class Clocks : public Segment_Test {
protected:
    void SetUp() override
    {
        start(CLOCKS);
        master().assign_stations(4);
    }
    uint32_t port_time(uint16_t station, int port)
    {
        return master().fprd32(station, static_cast<uint16_t>(0x0900 + 4 * port));
    }
};

}  // namespace

TEST_F(Clocks, latching_gives_round_trips_per_port)
{
    EXPECT_EQ(master().write(8, 0, 0x0900, le32(0)).wkc, 3) << "a slave without DC does not count";
    // Port 1 receives the frame back from everything downstream: 100 ns per hop, twice.
    EXPECT_EQ(port_time(REF, 1) - port_time(REF, 0), 400u) << "two hops there and back";
    EXPECT_EQ(port_time(MID, 1) - port_time(MID, 0), 200u);
    EXPECT_EQ(port_time(END, 1), 0u) << "an unlinked port latches nothing";
    EXPECT_EQ(static_cast<uint32_t>(master().fprd64(MID, 0x0918)), port_time(MID, 0));
    // Each local clock runs from its own offset; the frame reaches mid one hop later.
    const uint64_t ref = master().fprd64(REF, 0x0918);
    const uint64_t mid = master().fprd64(MID, 0x0918);
    EXPECT_EQ(mid - ref, 4000000100u);
    EXPECT_EQ(master().read(4, NODC, 0x0910, 8).wkc, 0);
}

TEST_F(Clocks, system_time_offset_delay_and_steering)
{
    master().write(8, 0, 0x0900, le32(0));
    for (uint16_t station : {REF, MID, END}) {
        const uint64_t latched = master().fprd64(station, 0x0918);
        std::vector<uint8_t> offset(8);
        for (int i = 0; i < 8; ++i)
            offset[i] = static_cast<uint8_t>((0 - latched) >> (8 * i));
        master().fpwr(station, 0x0920, offset);
    }
    master().fpwr(MID, 0x0928, le32(100));
    master().fpwr(END, 0x0928, le32(200));
    // One frame reads all three. Each offset was taken from the slave's own
    // latch, which already includes its hops, so the delays show as they are.
    std::vector<Datagram> frame(3);
    for (int i = 0; i < 3; ++i) {
        frame[i].command = 4;
        frame[i].adp = static_cast<uint16_t>(REF + i);
        frame[i].ado = 0x0910;
        frame[i].data.assign(8, 0);
    }
    master().exchange(frame);
    const auto system = [&frame](int i) {
        return get_le32(frame[i].data, 0) | (uint64_t{get_le32(frame[i].data, 4)} << 32);
    };
    EXPECT_LT(system(0), 1000000000u) << "counts from about zero at the latch";
    EXPECT_EQ(static_cast<int64_t>(system(1) - system(0)), -100);
    EXPECT_EQ(static_cast<int64_t>(system(2) - system(0)), -200);

    // A clock that jumps is steered back by repeated FRMW of the reference time.
    EXPECT_EQ(control("clock_jump 2 40000"), "OK");
    Datagram frmw;
    frmw.command = 14;
    frmw.adp = REF;
    frmw.ado = 0x0910;
    frmw.data.assign(8, 0);
    EXPECT_EQ(master().exchange(frmw).wkc, 3) << "reader plus two writers; the slave without DC stays out";
    const uint32_t first = master().fprd32(MID, 0x092C) & 0x7FFFFFFF;
    EXPECT_NEAR(first, 40000.0, 100.0);
    for (int i = 0; i < 60; ++i) {
        master().exchange(frmw);
    }
    EXPECT_LT(master().fprd32(MID, 0x092C) & 0x7FFFFFFF, 100u);
}

TEST_F(Clocks, sync0_start_read_back_and_frame_phase)
{
    const uint64_t now = master().fprd64(REF, 0x0910);
    const uint64_t start_time = now + 300000000;  // 300 ms ahead
    master().fpwr(REF, 0x0981, {0});
    master().fpwr(REF, 0x09A0, le32(1000000));
    std::vector<uint8_t> start_bytes(8);
    for (int i = 0; i < 8; ++i)
        start_bytes[i] = static_cast<uint8_t>(start_time >> (8 * i));
    master().fpwr(REF, 0x0990, start_bytes);
    master().fpwr(REF, 0x0981, {0x03});
    EXPECT_EQ(master().fprd64(REF, 0x0990), start_time) << "before the start: the start time";
    EXPECT_EQ(master().read(4, REF, 0x0984, 1).data[0] & 0x01, 0x01) << "first SYNC0 pending";
    std::vector<uint8_t> later = start_bytes;
    later[7] = 0x7F;
    master().fpwr(REF, 0x0990, later);
    EXPECT_EQ(master().fprd64(REF, 0x0990), start_time) << "fixed while cyclic operation is on";

    std::this_thread::sleep_for(std::chrono::milliseconds(350));
    std::vector<Datagram> frame(2);
    frame[0].command = 4;
    frame[0].adp = REF;
    frame[0].ado = 0x0990;
    frame[0].data.assign(8, 0);
    frame[1] = frame[0];
    frame[1].ado = 0x0910;
    master().exchange(frame);
    const uint64_t next = get_le32(frame[0].data, 0) | (uint64_t{get_le32(frame[0].data, 4)} << 32);
    const uint64_t system = get_le32(frame[1].data, 0) | (uint64_t{get_le32(frame[1].data, 4)} << 32);
    EXPECT_GT(next, system);
    EXPECT_LE(next - system, 1000000u);
    EXPECT_EQ((next - start_time) % 1000000, 0u) << "a whole number of cycles after the start";
    EXPECT_EQ(master().read(4, REF, 0x0984, 1).data[0] & 0x01, 0);
    EXPECT_EQ(master().fprd64(REF, 0x0998), 0u) << "SYNC1 is not active";
    master().fpwr(REF, 0x09A4, le32(300000));
    master().fpwr(REF, 0x0981, {0x07});
    const uint64_t sync1 = master().fprd64(REF, 0x0998);
    EXPECT_EQ((sync1 - start_time) % 1000000, 300000u) << "300 us after a SYNC0";

    // Cyclic frames carrying process data get their phase recorded.
    master().set_sm(REF, 1, 0x1080, 1, 0x20, true);
    master().set_fmmu(REF, 0, 0x1000, 1, 0, 7, 0x1080, 0, 0x01);
    for (int i = 0; i < 20; ++i) {
        master().exchange(Datagram::logical(10, 0x1000, {0}));
    }
    const std::string phase = control("phase");
    unsigned slave = 9, count = 0;
    long long last = -1, min = -1, max = -1;
    ASSERT_EQ(std::sscanf(phase.c_str(), "OK slave %u count %u last %lld min %lld max %lld", &slave, &count, &last,
                          &min, &max),
              5)
        << phase;
    EXPECT_EQ(slave, 1u) << "the first slave with a clock";
    EXPECT_EQ(count, 20u);
    EXPECT_GE(min, 0);
    EXPECT_LT(max, 1000000);
}

// A drifting clock runs fast against the reference by its ppm, from the
// description or set at run time.
TEST_F(Segment_Test, a_drifting_clock_gains_its_ppm)
{
    start("slave ref device=dio\nslave fast device=dio drift_ppm=100\n");
    master().assign_stations(2);
    auto latch = [this] {
        master().write(8, 0, 0x0900, le32(0));
        return std::make_pair(static_cast<double>(master().fprd64(0x1001, 0x0918)),
                              static_cast<double>(master().fprd64(0x1002, 0x0918)));
    };
    const auto first = latch();
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    const auto second = latch();
    const double elapsed = second.first - first.first;
    EXPECT_NEAR((second.second - first.second) - elapsed, elapsed * 100e-6, elapsed * 10e-6);

    const auto before = latch();
    EXPECT_EQ(control("clock_drift 1 -50"), "OK");
    const auto third = latch();
    EXPECT_NEAR((third.second - before.second) - (third.first - before.first), 0.0, 2000.0) << "no jump";
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    const auto fourth = latch();
    const double later = fourth.first - third.first;
    EXPECT_NEAR((fourth.second - third.second) - later, -later * 50e-6, later * 10e-6);
}
