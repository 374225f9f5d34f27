// The mailbox and CoE SDO layer of the base library, driven from this
// process against a simulated drive on a veth pair: uploads and downloads
// (expedited, normal, segmented, complete access) with a roomy and a tight
// mailbox, aborts and wrong sizes in the error list and in the result codes,
// emergencies, a read mailbox that stays empty, and the error ring itself.
#include <gtest/gtest.h>

#include <pthread.h>

#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "ethercatbase.h"
#include "ethercatcoe.h"
#include "nicdrv.h"
#include "segment_config.h"
#include "simulated_segment.h"
#include "veth_harness.h"

namespace {
using namespace std::chrono_literals;

constexpr uint16_t DRIVE = 1001;
constexpr uint16_t WRITE_MBX = 0x1000;
constexpr uint16_t READ_MBX = 0x1080;
constexpr uint32_t TIMEOUT_US = 70000;
constexpr const char* DEVICE_NAME = "Infranor servo drive (simulated)";

void drain_error_list()
{
    ec_errort e;
    while (ec_poperror(&e)) {
    }
}

std::vector<ec_errort> error_list()
{
    std::vector<ec_errort> entries;
    ec_errort e;
    while (ec_poperror(&e))
        entries.push_back(e);
    return entries;
}

std::string segment_text(uint16_t mailbox)
{
    const std::string size = std::to_string(mailbox);
    return "slave drive device=cia402 profile=infranor mailbox=0x1000:" + size + ",0x1080:" + size + "\n";
}

// The drive alone on a segment, taken to PRE-OP with its mailbox of the
// parameter's length by the datagrams of a master.
class Coe_Mailbox : public ::testing::TestWithParam<uint16_t> {
protected:
    Coe_Mailbox() : m_segment(ecat_sim::parse_segment_config(segment_text(GetParam())), simulated_segment_options()) {}

    void SetUp() override
    {
        // Replies are awaited 1 ms: this thread runs at the priority of the
        // master's socket thread, the simulator's above it. A set-up datagram
        // whose reply came late is sent again, as the master's own are.
        sched_param param{};
        param.sched_priority = 55;
        ASSERT_EQ(pthread_setschedparam(pthread_self(), SCHED_FIFO, &param), 0);
        ASSERT_EQ(ec_setupnic(m_segment.master_interface().c_str()), 0);
        uint8_t address[2] = {DRIVE & 0xFF, DRIVE >> 8};
        ASSERT_EQ(ec_exchange_with_resends([&] { return ec_APWR(0, 0x0010, 2, address, 1000, 1); }, 1), 1);
        const uint8_t len_lo = static_cast<uint8_t>(mbx_l() & 0xFF);
        const uint8_t len_hi = static_cast<uint8_t>(mbx_l() >> 8);
        uint8_t sm0[8] = {0x00, 0x10, len_lo, len_hi, 0x26, 0x00, 0x01, 0x00};
        uint8_t sm1[8] = {0x80, 0x10, len_lo, len_hi, 0x22, 0x00, 0x01, 0x00};
        ASSERT_EQ(ec_exchange_with_resends([&] { return ec_FPWR(DRIVE, 0x0800, 8, sm0, 1000, 1); }, 1), 1);
        ASSERT_EQ(ec_exchange_with_resends([&] { return ec_FPWR(DRIVE, 0x0808, 8, sm1, 1000, 1); }, 1), 1);
        uint8_t preop[2] = {0x02, 0x00};
        ASSERT_EQ(ec_exchange_with_resends([&] { return ec_FPWR(DRIVE, 0x0120, 2, preop, 1000, 1); }, 1), 1);
        const auto deadline = std::chrono::steady_clock::now() + 2s;
        uint8_t status[2] = {0, 0};
        while (std::chrono::steady_clock::now() < deadline) {
            if (ec_FPRD(DRIVE, 0x0130, 2, status, 1000, 1) == 1 && status[0] == 0x02)
                break;
            std::this_thread::sleep_for(1ms);
        }
        ASSERT_EQ(status[0], 0x02) << "the drive did not reach PRE-OP";
        drain_error_list();
    }
    void TearDown() override { ec_closenic(); }

    uint16_t mbx_l() const { return GetParam(); }
    int upload(uint16_t index, uint8_t sub, std::vector<uint8_t>& data, bool complete = false)
    {
        int size = static_cast<int>(data.size());
        const int wkc = ec_SDOread_ecm(DRIVE, mbx_l(), WRITE_MBX, READ_MBX, &m_counter, index, sub, complete, &size,
                                       data.data(), TIMEOUT_US);
        if (wkc > 0)
            data.resize(static_cast<std::size_t>(size));
        return wkc;
    }
    int download(uint16_t index, uint8_t sub, const std::vector<uint8_t>& data, bool complete = false)
    {
        return ec_SDOwrite_ecm(DRIVE, mbx_l(), WRITE_MBX, READ_MBX, &m_counter, index, sub, complete,
                               static_cast<int>(data.size()), data.data(), TIMEOUT_US);
    }
    std::string sim(const std::string& command) { return m_segment.simulator().execute(command); }

    ecat_sim::Veth_Segment m_segment;
    uint8_t m_counter = 0;
};

TEST(Coe_Mailbox_Counter, CountsOneToSevenAndWrapsToOne)
{
    const std::pair<uint8_t, uint8_t> cases[] = {{0, 1}, {1, 2}, {6, 7}, {7, 1}, {8, 1}, {255, 1}};
    for (const auto& c : cases)
        EXPECT_EQ(ec_nextmbxcnt(c.first), c.second) << int(c.first);
}

TEST(Coe_Error_List, KeepsTheLatest64EntriesAndReportsWhenEmpty)
{
    drain_error_list();
    ec_errort e;
    EXPECT_FALSE(ec_poperror(&e));
    for (int i = 0; i < 70; ++i)
        ec_packeterror(static_cast<uint16_t>(1000 + i), static_cast<uint16_t>(i), 0, 1);
    const std::vector<ec_errort> entries = error_list();
    ASSERT_EQ(entries.size(), 64u);
    EXPECT_EQ(entries.front().Index, 6);
    EXPECT_EQ(entries.back().Index, 69);
    EXPECT_EQ(entries.back().Slave, 1069);
    EXPECT_EQ(entries.back().Etype, EC_ERR_TYPE_PACKET_ERROR);
    EXPECT_TRUE(entries.back().Signal);
    EXPECT_TRUE(ec_get_EcatError());
    EXPECT_FALSE(ec_poperror(&e));
}

TEST_P(Coe_Mailbox, UploadsExpeditedAndLongerObjects)
{
    std::vector<uint8_t> vendor(4);
    ASSERT_GT(upload(0x1018, 1, vendor), 0);
    EXPECT_EQ(vendor, (std::vector<uint8_t>{130, 0, 0, 0}));

    std::vector<uint8_t> word(50);
    ASSERT_GT(upload(0x6066, 0, word), 0);  // following error time-out, 2 bytes
    EXPECT_EQ(word, (std::vector<uint8_t>{100, 0}));

    // Longer than the tight mailbox's initiate room: segmented there.
    std::vector<uint8_t> name(50);
    ASSERT_GT(upload(0x1008, 0, name), 0);
    EXPECT_EQ(std::string(name.begin(), name.end()), DEVICE_NAME);
    EXPECT_TRUE(error_list().empty());
}

TEST_P(Coe_Mailbox, AnObjectLargerThanTheRoomIsAPacketErrorThree)
{
    const struct {
        uint16_t index;
        int room;
    } cases[] = {{0x6066, 1}, {0x1008, 10}};
    for (const auto& c : cases) {
        std::vector<uint8_t> data(static_cast<std::size_t>(c.room));
        EXPECT_EQ(upload(c.index, 0, data), 0) << std::hex << c.index;
        const std::vector<ec_errort> entries = error_list();
        ASSERT_EQ(entries.size(), 1u) << std::hex << c.index;
        EXPECT_EQ(entries[0].Etype, EC_ERR_TYPE_PACKET_ERROR);
        EXPECT_EQ(entries[0].ErrorCode, EC_PACKET_ERROR_BUFFER_TOO_SMALL);
        EXPECT_EQ(entries[0].Slave, DRIVE);
        EXPECT_EQ(entries[0].Index, c.index);
    }
    // The mailbox is usable afterwards.
    std::vector<uint8_t> vendor(4);
    EXPECT_GT(upload(0x1018, 1, vendor), 0);
}

TEST_P(Coe_Mailbox, ExpeditedDownloadsOfOneTwoAndFourBytesReadBack)
{
    const struct {
        uint16_t index;
        std::vector<uint8_t> value;
    } cases[] = {{0x6060, {0x08}}, {0x6066, {0x34, 0x12}}, {0x607A, {0x78, 0x56, 0x34, 0x12}}};
    for (const auto& c : cases) {
        ASSERT_GT(download(c.index, 0, c.value), 0) << std::hex << c.index;
        std::vector<uint8_t> back(4);
        ASSERT_GT(upload(c.index, 0, back), 0) << std::hex << c.index;
        EXPECT_EQ(back, c.value) << std::hex << c.index;
    }
    EXPECT_TRUE(error_list().empty());
}

TEST_P(Coe_Mailbox, CompleteAccessDownloadOfAMappingIsNormalOrSegmentedByTheMailbox)
{
    // RxPDO mapping 0x1600: four entries, sub 0 written as 16 bits.
    const std::vector<uint8_t> mapping = {0x04, 0x00, 0x10, 0x00, 0x40, 0x60, 0x08, 0x00, 0x60,
                                          0x60, 0x20, 0x00, 0x7a, 0x60, 0x20, 0x00, 0xff, 0x60};
    ASSERT_GT(download(0x1600, 0, mapping, true), 0) << sim("sdo_log 0");
    std::vector<uint8_t> count(1);
    ASSERT_GT(upload(0x1600, 0, count), 0);
    EXPECT_EQ(count[0], 4);
    std::vector<uint8_t> last(4);
    ASSERT_GT(upload(0x1600, 4, last), 0);
    EXPECT_EQ(last, (std::vector<uint8_t>{0x20, 0x00, 0xff, 0x60}));
    EXPECT_NE(sim("sdo_log 0").find("download 1600:00 complete size 18 abort 0x00000000"), std::string::npos)
        << sim("sdo_log 0");
}

TEST_P(Coe_Mailbox, AbortsGoToTheErrorListAndToTheResultCodes)
{
    ASSERT_EQ(sim("sdo_abort 0 0x6060 * 0x06090011").substr(0, 2), "OK");
    std::vector<uint8_t> data(4);
    EXPECT_EQ(upload(0x6060, 0, data), 0);
    EXPECT_EQ(download(0x6060, 0, {1}), 0);
    std::vector<uint8_t> missing(4);
    EXPECT_EQ(upload(0x2345, 0, missing), 0);
    const std::vector<ec_errort> entries = error_list();
    ASSERT_EQ(entries.size(), 3u);
    const uint32_t expected[] = {0x06090011, 0x06090011, 0x06020000};
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(entries[i].Etype, EC_ERR_TYPE_SDO_ERROR) << i;
        EXPECT_EQ(static_cast<uint32_t>(entries[i].AbortCode), expected[i]) << i;
        EXPECT_EQ(entries[i].Slave, DRIVE) << i;
    }
    EXPECT_EQ(entries[2].Index, 0x2345);

    // The result-code variants: 0x80 and the abort code, least significant byte first.
    uint8_t code = 0x4F;
    uint8_t buffer[8] = {0xAA, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA};
    int size = 1;
    EXPECT_EQ(ec_SDOread_get_code_ecm(DRIVE, mbx_l(), WRITE_MBX, READ_MBX, &m_counter, 0x6060, 0, false, &size, buffer,
                                      TIMEOUT_US, &code),
              0);
    EXPECT_EQ(code, EC_SDO_CODE_FAILED);
    EXPECT_EQ(size, 4);
    EXPECT_EQ(std::vector<uint8_t>(buffer, buffer + 4), (std::vector<uint8_t>{0x11, 0x00, 0x09, 0x06}));

    uint8_t value[1] = {3};
    uint8_t abort_code[4] = {};
    code = 0;
    EXPECT_EQ(ec_SDOwrite_get_code_ecm(DRIVE, mbx_l(), WRITE_MBX, READ_MBX, &m_counter, 0x6060, 0, false, 1, value,
                                       TIMEOUT_US, &code, abort_code),
              0);
    EXPECT_EQ(code, EC_SDO_CODE_FAILED);
    EXPECT_EQ(std::vector<uint8_t>(abort_code, abort_code + 4), (std::vector<uint8_t>{0x11, 0x00, 0x09, 0x06}));

    // Cleared, the same object answers again; a good download reports 0x60.
    ASSERT_EQ(sim("sdo_abort_clear 0").substr(0, 2), "OK");
    EXPECT_GT(ec_SDOwrite_get_code_ecm(DRIVE, mbx_l(), WRITE_MBX, READ_MBX, &m_counter, 0x6060, 0, false, 1, value,
                                       TIMEOUT_US, &code, abort_code),
              0);
    EXPECT_EQ(code, EC_SDO_CODE_DOWNLOAD_OK);
}

TEST_P(Coe_Mailbox, AnEmergencyIsPushedAndReturnedAsTheMessage)
{
    ASSERT_EQ(sim("emergency 0 0x8611 0x01 1 2 3 4 5").substr(0, 2), "OK");
    uint8_t code = 7;
    int size = 0;
    EXPECT_GT(ec_emcy_SDOread_get_code_ecm(DRIVE, mbx_l(), WRITE_MBX, READ_MBX, &m_counter, 0, 0, false, &size, nullptr,
                                           50000, &code),
              0);
    EXPECT_EQ(code, 1);
    const std::vector<ec_errort> entries = error_list();
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].Etype, EC_ERR_TYPE_EMERGENCY);
    EXPECT_EQ(entries[0].Slave, DRIVE);
    EXPECT_EQ(entries[0].ErrorCode, 0x8611);
    EXPECT_EQ(entries[0].ErrorReg, 0x01);
    EXPECT_EQ(entries[0].b1, 1);
    EXPECT_EQ(entries[0].w1, 0x0302);
    EXPECT_EQ(entries[0].w2, 0x0504);

    // Nothing more waiting: code 0 after the time-out.
    EXPECT_EQ(ec_emcy_SDOread_get_code_ecm(DRIVE, mbx_l(), WRITE_MBX, READ_MBX, &m_counter, 0, 0, false, &size, nullptr,
                                           5000, &code),
              0);
    EXPECT_EQ(code, 0);
}

TEST_P(Coe_Mailbox, AReadMailboxThatStaysEmptyEndsAtTheTimeOut)
{
    ec_mbxbuft mbx;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(ec_mbxreceive_ecm(DRIVE, mbx_l(), READ_MBX, &mbx, 20000), 0);
    const auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_GE(elapsed, 20ms);
    EXPECT_LT(elapsed, 1s);
    EXPECT_EQ(ec_mbxsend_ecm(DRIVE, 0, WRITE_MBX, &mbx, 1000), 0);
    EXPECT_EQ(ec_mbxreceive_ecm(DRIVE, EC_MAXMBX + 1, READ_MBX, &mbx, 1000), 0);
}

TEST_P(Coe_Mailbox, LostRepliesAreSentAgainAndOnlyASilentSlaveFailsTheTransfer)
{
    std::vector<uint8_t> vendor(4);
    // The first two frames of the upload (the stale-message check and the
    // write-mailbox poll) go unanswered: the write is sent again.
    ASSERT_EQ(sim("drop 2").substr(0, 2), "OK");
    EXPECT_GT(upload(0x1018, 1, vendor), 0);
    EXPECT_EQ(vendor, (std::vector<uint8_t>{130, 0, 0, 0}));

    // No reply at all: the transfer fails, and the next one works.
    vendor.assign(4, 0);
    ASSERT_EQ(sim("drop_fraction 1").substr(0, 2), "OK");
    EXPECT_LE(upload(0x1018, 1, vendor), 0);
    EXPECT_EQ(vendor, (std::vector<uint8_t>{0, 0, 0, 0}));
    ASSERT_EQ(sim("drop_fraction 0").substr(0, 2), "OK");
    ASSERT_GT(upload(0x1018, 1, vendor), 0);
    EXPECT_EQ(vendor, (std::vector<uint8_t>{130, 0, 0, 0}));
}

INSTANTIATE_TEST_SUITE_P(MailboxLength, Coe_Mailbox, ::testing::Values(uint16_t{128}, uint16_t{24}));

}  // namespace
