// Distributed clocks with the master object in this process and the
// simulated demo cell on a veth pair, both slaves with clocks: the master
// frame offset from the drive's sync-manager timing, the propagation delay
// and system time offsets of the set-up, and the SYNC0 and SYNC0/1 starts as
// the slaves' registers show them. The slaves' clocks have fixed offsets and
// hop delays so that the figures are known.
#include <gtest/gtest.h>

#include <pthread.h>

#include <cstdint>
#include <memory>
#include <sstream>
#include <string>

#include "child_process.h"
#include "master_on_segment.h"
#include "segment_config.h"
#include "thrown_text.h"
#include "veth_harness.h"
#include "xelo_ethercat_master_class.h"

namespace {

constexpr uint16_t DIO = 1001;
constexpr uint16_t DRIVE = 1002;
constexpr int64_t DRIVE_HOP_NS = 400;
const std::string ENI = "/tmp/dc_eni.xml";

// The drive's clock starts far from the I/O module's and from the host's.
const char* const CELL =
    "slave dio device=dio dc=1 hop_delay_ns=150 clock_offset_ns=7000000000\n"
    "slave drive device=cia402 profile=infranor hop_delay_ns=400 clock_offset_ns=123000000000\n";

using Dc_Master = Private_Memory_Master;

// The demo ENI with a clock on the I/O module as well.
std::string eni_with_two_clocks()
{
    std::string text = read_file(DEMO_ENI);
    const std::size_t end_of_dio = text.find("</Slave>");
    text.insert(end_of_dio,
                "      <DC>\n        <ReferenceClock>false</ReferenceClock>\n"
                "        <CycleTime0>1000000</CycleTime0>\n        <CycleTime1>0</CycleTime1>\n"
                "        <ShiftTime>0</ShiftTime>\n      </DC>\n");
    return text;
}

class Distributed_Clocks : public ::testing::Test {
protected:
    Distributed_Clocks()
        : m_segment(ecat_sim::parse_segment_config(CELL), simulated_segment_options()),
          m_master(m_segment.master_interface())
    {
    }
    void SetUp() override
    {
        sched_param param{};
        param.sched_priority = 55;  // as the master's socket thread
        ASSERT_EQ(pthread_setschedparam(pthread_self(), SCHED_FIFO, &param), 0);
        write_file(ENI, eni_with_two_clocks());
        ASSERT_NO_THROW(m_master.set_xml_file_and_leave_no_state_ex(ENI));
        ASSERT_EQ(m_master.get_master_ethercat_state(), PREOP_STATE);
    }
    std::string sim(const std::string& command) { return m_segment.simulator().execute(command); }
    void set_drive_object(int sub, uint32_t value)
    {
        ASSERT_EQ(sim("set 1 0x1C33 " + std::to_string(sub) + " " + std::to_string(value)).substr(0, 2), "OK");
    }
    // A register of slave pos as the simulator holds it, little-endian.
    int64_t reg(int pos, int address, int length)
    {
        const std::string reply =
            sim("read " + std::to_string(pos) + " " + std::to_string(address) + " " + std::to_string(length));
        EXPECT_EQ(reply.substr(0, 2), "OK") << reply;
        std::istringstream in(reply.substr(2));
        uint64_t value = 0;
        unsigned byte = 0;
        for (int i = 0; i < length && (in >> std::hex >> byte); ++i)
            value |= static_cast<uint64_t>(byte) << (8 * i);
        if (length == 4)
            return static_cast<int32_t>(static_cast<uint32_t>(value));
        return static_cast<int64_t>(value);
    }

    ecat_sim::Veth_Segment m_segment;
    Dc_Master m_master;
};

// The drive's 0x1C33 shift, minimum cycle and calc-and-copy times against
// the cycle; the offset is the largest slave demand, raised to cycle - 80 us
// (at most 200 us) when below 200 us.
struct Offset_Case {
    const char* name;
    int32_t cycle;
    uint32_t shift, minimum, calc_copy;
    int32_t offset;  // -1: refused
};

class Master_Frame_Offset : public Distributed_Clocks, public ::testing::WithParamInterface<Offset_Case> {};

void PrintTo(const Offset_Case& c, std::ostream* os)
{
    *os << c.name;
}

TEST_P(Master_Frame_Offset, IsTheLargestSlaveDemandOrTheDefault)
{
    const Offset_Case& c = GetParam();
    set_drive_object(3, c.shift);
    set_drive_object(5, c.minimum);
    set_drive_object(6, c.calc_copy);
    m_master.set_op_cycle_time_ex(c.cycle);
    if (c.offset < 0) {
        EXPECT_EQ(thrown_text([&] { m_master.calc_master_frame_offset_time_ex(); }),
                  "Attention: cycle time < slave min cycle time ");
        return;
    }
    ASSERT_NO_THROW(m_master.calc_master_frame_offset_time_ex());
    EXPECT_EQ(m_master.get_time_offset_master_frame(), c.offset);
    // A running maximum: smaller demands later keep it.
    set_drive_object(3, 0);
    set_drive_object(6, 0);
    set_drive_object(5, 1000);
    ASSERT_NO_THROW(m_master.calc_master_frame_offset_time_ex());
    EXPECT_EQ(m_master.get_time_offset_master_frame(), c.offset);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Master_Frame_Offset,
    ::testing::Values(Offset_Case{"small demand at 1 ms", 1000000, 0, 125000, 50000, 200000},
                      Offset_Case{"small demand at 250 us", 250000, 0, 125000, 50000, 170000},
                      Offset_Case{"shift plus calc above the minimum", 1000000, 250000, 250000, 50000, 300000},
                      Offset_Case{"minimum above shift plus calc", 1000000, 100000, 450000, 50000, 450000},
                      Offset_Case{"cycle below the minimum", 1000000, 0, 2000000, 50000, -1},
                      Offset_Case{"cycle below shift plus calc", 1000000, 900000, 125000, 200000, -1}),
    [](const ::testing::TestParamInfo<Offset_Case>& param) { return std::to_string(param.index); });

TEST_F(Distributed_Clocks, SetUpWritesTheDelayBehindTheParentAndStartsEverySystemTimeNearZero)
{
    ASSERT_NO_THROW(m_master.config_dc_slave_option());
    EXPECT_TRUE(m_master.has_DC());
    ASSERT_EQ(m_master.slaves().size(), 2u);
    const ECM_Slave& dio = m_master.slaves()[0];
    const ECM_Slave& drive = m_master.slaves()[1];
    EXPECT_EQ(dio.get_entryport(), 0);
    EXPECT_EQ(drive.get_entryport(), 0);
    // The first clock of the line has no delay; the drive lies one hop out
    // and one hop back behind the module's port 1.
    EXPECT_EQ(dio.get_pdelay(), 0);
    EXPECT_EQ(reg(0, 0x0928, 4), 0);
    EXPECT_EQ(reg(0, 0x0904, 4) - reg(0, 0x0900, 4), 2 * DRIVE_HOP_NS);
    EXPECT_EQ(drive.get_pdelay(), DRIVE_HOP_NS);
    EXPECT_EQ(reg(1, 0x0928, 4), DRIVE_HOP_NS);
    for (int pos = 0; pos < 2; ++pos) {
        SCOPED_TRACE(pos);
        // Offset = -(receive time of the latch): the system time counts from
        // the latch, whatever the local clock read.
        EXPECT_EQ(reg(pos, 0x0920, 8), -reg(pos, 0x0918, 8));
        const int64_t system = reg(pos, 0x0910, 8);
        EXPECT_GT(system, 0);
        EXPECT_LT(system, 60LL * 1000000000);
        EXPECT_EQ(reg(pos, 0x0981, 1), 0);  // SYNC off until the cycle starts it
    }
}

TEST_F(Distributed_Clocks, SyncZeroStartsOnAWholeCycleHalfASecondAheadPlusTheShift)
{
    const struct {
        uint32_t cycle;
        int32_t shift;
        bool use_shift;
    } cases[] = {{1000000, 0, false}, {1000000, 30000, true}, {250000, 30000, false}, {2000000, -100000, true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.cycle) + " " + std::to_string(c.shift) + (c.use_shift ? " used" : ""));
        const int64_t before = reg(1, 0x0910, 8);
        ASSERT_TRUE(m_master.set_dc0_start_ex(DRIVE, c.cycle, c.shift, c.use_shift));
        const int64_t after = reg(1, 0x0910, 8);
        const int64_t shift = c.use_shift ? c.shift : 0;
        const int64_t start = reg(1, 0x0990, 8);
        EXPECT_EQ((start - shift) % c.cycle, 0) << start;
        // The next whole cycle after the time read plus half a second.
        EXPECT_GT(start - shift, before + 500000000);
        EXPECT_LE(start - shift, after + 500000000 + c.cycle);
        EXPECT_EQ(reg(1, 0x09A0, 4), static_cast<int32_t>(c.cycle));
        EXPECT_EQ(reg(1, 0x0981, 1), 3);
        EXPECT_EQ(reg(1, 0x0980, 1), 0);
    }
}

TEST_F(Distributed_Clocks, SyncZeroAndOneStartOnlyWhileTheStartFitsThirtyOneBits)
{
    ASSERT_NO_THROW(m_master.config_dc_slave_option());  // system time from about 0
    ASSERT_TRUE(m_master.set_dc01_start_ex(DRIVE, 1000000, 500000, 0, false));
    const int64_t start = reg(1, 0x0990, 8);
    EXPECT_EQ(start % 1000000, 0);
    EXPECT_LE(start, 2147483640);
    EXPECT_EQ(reg(1, 0x09A0, 4), 1000000);
    EXPECT_EQ(reg(1, 0x09A4, 4), 500000);
    EXPECT_EQ(reg(1, 0x0980, 1), 0x30);
    EXPECT_EQ(reg(1, 0x0981, 1), 7);

    // Past about 1.65 s the start would exceed 2 147 483 640 ns: refused
    // with SYNC switched off and the old start left.
    ASSERT_EQ(sim("clock_jump 1 2000000000").substr(0, 2), "OK");
    EXPECT_FALSE(m_master.set_dc01_start_ex(DRIVE, 1000000, 250000, 0, false));
    EXPECT_EQ(reg(1, 0x0981, 1), 0);
    EXPECT_EQ(reg(1, 0x0980, 1), 0x30);
    EXPECT_EQ(reg(1, 0x0990, 8), start);
    EXPECT_EQ(reg(1, 0x09A4, 4), 500000);
    // SYNC0 alone has no such limit.
    EXPECT_TRUE(m_master.set_dc0_start_ex(DRIVE, 1000000, 0, false));
    EXPECT_GT(reg(1, 0x0990, 8), 2147483640);
    EXPECT_EQ(reg(1, 0x0981, 1), 3);
}

}  // namespace
