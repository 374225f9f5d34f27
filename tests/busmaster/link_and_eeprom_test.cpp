// busmaster as a child process against simulated segments of ESC-only
// slaves on a veth pair: the link walk over lines and a branch with a broken
// link, the link-check command, the station alias written into the EEPROM
// with its checksum, the identity by ring position, and the port error
// counters in the queries and in the error dump.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <future>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "child_process.h"
#include "master_on_segment.h"
#include "master_request.h"
#include "segment_config.h"
#include "system_config.h"
#include "veth_harness.h"
#include "xelo_client_socket_udp.h"
#include "xelo_ethercat_system_types.h"

namespace {
using namespace std::chrono_literals;

const std::string CONFIG = "/tmp/ecm_system_cfg.xml";
const std::string LOG = "/tmp/busmaster.log";
const std::string ENI = "/tmp/link_eni.xml";

bool contains(const std::string& haystack, const std::string& text)
{
    return haystack.find(text) != std::string::npos;
}

std::string init_cmd(const std::string& transitions, const std::string& body)
{
    return "<InitCmd>" + transitions + body + "<Retries>3</Retries></InitCmd>";
}

// An ENI of count ESC-only slaves at stations 1001, 1002, ... in processing
// order: each gets its address and is taken to PRE-OP; the master clears the
// error counters on the way to PRE-OP and takes everybody to INIT.
std::string eni_of(int count)
{
    const std::string n = std::to_string(count);
    std::string master =
        init_cmd("<Transition>IP</Transition>",
                 "<Comment>clear error counters</Comment><Cmd>8</Cmd><Adp>0</Adp><Ado>#x0300</Ado>"
                 "<DataLength>12</DataLength><Cnt>" +
                     n + "</Cnt>") +
        init_cmd("<Transition>PI</Transition>",
                 "<Comment>request INIT</Comment><Cmd>8</Cmd><Adp>0</Adp><Ado>#x0120</Ado><Data>0100</Data><Cnt>" + n +
                     "</Cnt>");
    std::string slaves;
    for (int i = 0; i < count; ++i) {
        const int address = 1001 + i;
        char data[8];
        std::snprintf(data, sizeof(data), "%02x%02x", static_cast<unsigned>(address & 0xFF),
                      static_cast<unsigned>((address >> 8) & 0xFF));
        slaves += "<Slave><Info><Name>s" + std::to_string(i) + "</Name><PhysAddr>" + std::to_string(address) +
                  "</PhysAddr><AutoIncAddr>" + std::to_string(-i) +
                  "</AutoIncAddr><Physics>YY</Physics><VendorId>2</VendorId><ProductCode>1</ProductCode>"
                  "<RevisionNo>0</RevisionNo><SerialNo>0</SerialNo></Info><InitCmds>" +
                  init_cmd("<Transition>IP</Transition>", "<Cmd>2</Cmd><Adp>" + std::to_string((0 - i) & 0xFFFF) +
                                                              "</Adp><Ado>#x0010</Ado><Data>" + data +
                                                              "</Data><Cnt>1</Cnt>") +
                  init_cmd("<Transition>IP</Transition>", "<Cmd>5</Cmd><Adp>" + std::to_string(address) +
                                                              "</Adp><Ado>#x0120</Ado><Data>0200</Data><Cnt>1</Cnt>") +
                  "</InitCmds></Slave>";
    }
    return "<?xml version=\"1.0\"?>\n<EtherCATConfig><Config><Master><Info><Name>m</Name>"
           "<Destination>ffffffffffff</Destination><Source>000000000000</Source></Info><InitCmds>" +
           master + "</InitCmds></Master>" + slaves +
           "<Cyclic><CycleTime>1000</CycleTime><Frame><Cmd><State>PREOP</State><Comment>AL status</Comment>"
           "<Cmd>7</Cmd><Adp>0</Adp><Ado>#x0130</Ado><DataLength>2</DataLength><Cnt>" +
           n +
           "</Cnt><InputOffs>26</InputOffs><OutputOffs>26</OutputOffs></Cmd></Frame></Cyclic>"
           "<ProcessImage/></Config></EtherCATConfig>\n";
}

int active_slaves_published()
{
    const int fd = shm_open(ecm_shm::INFO_NAME, O_RDONLY, 0);
    if (fd < 0)
        return -100;
    void* p = mmap(nullptr, sizeof(Shared_Slave_Info_Mem_Region), PROT_READ, MAP_SHARED, fd, 0);
    close(fd);
    if (p == MAP_FAILED)
        return -101;
    const int active = static_cast<const Shared_Slave_Info_Mem_Region*>(p)->num_of_active_slaves;
    munmap(p, sizeof(Shared_Slave_Info_Mem_Region));
    return active;
}

// The CRC-8 of the EEPROM's configuration area, computed here in the direct
// form (the master uses the augmented one).
uint8_t crc8(const std::vector<uint16_t>& words)
{
    uint8_t crc = 0xFF;
    for (uint16_t word : words)
        for (int half = 0; half < 2; ++half) {
            crc ^= static_cast<uint8_t>(word >> (8 * half));
            for (int bit = 0; bit < 8; ++bit)
                crc = static_cast<uint8_t>((crc & 0x80) ? (crc << 1) ^ 0x07 : crc << 1);
        }
    return crc;
}

// busmaster on the master end of a simulated segment; the ENI lists the
// given number of slaves.
class Master_On_Segment {
public:
    Master_On_Segment(const std::string& segment, int eni_slaves)
        : m_segment(ecat_sim::parse_segment_config(segment), simulated_segment_options())
    {
        write_system_config(CONFIG, m_segment.master_interface(), "127.0.0.1", "500");
        write_file(ENI, eni_of(eni_slaves));
        m_master = std::make_unique<Child_Process>(BUSMASTER_BINARY, std::vector<std::string>{"-c", CONFIG}, LOG);
        m_master->wait_ready_ex(probe::udp_port(ecm_protocol::PORT), 10s);
    }
    ~Master_On_Segment() { EXPECT_EQ(m_master->stop(), 128 + SIGTERM) << m_master->log(); }
    Master_On_Segment(const Master_On_Segment&) = delete;
    Master_On_Segment& operator=(const Master_On_Segment&) = delete;

    std::string sim(const std::string& command) { return m_segment.simulator().execute(command); }
    // Two bytes of a slave's register as the simulator shows them ("OK lo hi").
    std::string reg(int pos, unsigned address)
    {
        return sim("read " + std::to_string(pos) + " " + std::to_string(address) + " 2");
    }
    // count EEPROM words of the slave at pos from word first.
    std::vector<uint16_t> eeprom(int pos, int first, int count)
    {
        std::istringstream text(
            sim("eeprom " + std::to_string(pos) + " " + std::to_string(first) + " " + std::to_string(count)));
        std::string ok;
        text >> ok;
        std::vector<uint16_t> words;
        for (std::string word; text >> word;)
            words.push_back(static_cast<uint16_t>(std::stoul(word, nullptr, 16)));
        EXPECT_EQ(ok, "OK");
        EXPECT_EQ(words.size(), static_cast<std::size_t>(count));
        return words;
    }
    std::string log() const { return m_master->log(); }

private:
    ecat_sim::Veth_Segment m_segment;
    std::unique_ptr<Child_Process> m_master;
};

std::string station_text(unsigned address)
{
    char text[16];
    std::snprintf(text, sizeof(text), "OK %02X %02X", address & 0xFF, address >> 8);
    return text;
}

const char* const LINE_OF_FOUR = "slave s0\nslave s1\nslave s2\nslave s3\n";
// A slave with three ports: s2 on its port 1, s3 on its port 2, so the
// processing order is s0, coupler, s2, s3.
const char* const BRANCH = "slave s0\nslave coupler ports=3\nslave s2\nslave s3 previous=coupler:2\n";

struct Broken_Link {
    const char* name;
    const char* segment;
    const char* link;            // "<pos> <port>"
    int reached;                 // slaves the walk reaches
    std::vector<int> unreached;  // simulator positions beyond the break
    const char* row;             // the DL status the walk met on the way
};

void PrintTo(const Broken_Link& c, std::ostream* os)
{
    *os << c.name;
}

class LinkWalk : public ::testing::TestWithParam<Broken_Link> {};
}  // namespace

TEST_P(LinkWalk, ABrokenLinkLeavesTheReachableSlavesAddressedAndRecordsTheCount)
{
    const Broken_Link& c = GetParam();
    Master_On_Segment m(c.segment, 4);
    ASSERT_EQ(m.sim(std::string("link ") + c.link + " down"), "OK");

    EXPECT_EQ(ask("start_ethercat_master " + ENI, 60s), "start_only_valid_xml_data") << m.log();
    EXPECT_EQ(ask("get_system_state"), "4");
    EXPECT_EQ(ask("get_master_ethercat_state"), "0");
    EXPECT_EQ(active_slaves_published(), c.reached);
    // The reached slaves carry the walk's addresses from 0x1001 in
    // processing order; the others were never addressed.
    int station = 0x1001;
    for (int pos = 0; pos < 4; ++pos) {
        const bool unreached = std::find(c.unreached.begin(), c.unreached.end(), pos) != c.unreached.end();
        EXPECT_EQ(m.reg(pos, 0x10), station_text(unreached ? 0 : station++)) << pos;
    }
    const std::string text = m.log();
    EXPECT_TRUE(contains(text, "find_slave_counter " + std::to_string(c.reached) + "\n")) << text;
    EXPECT_TRUE(contains(text, c.row)) << text;
    EXPECT_TRUE(contains(text, "Sorry, xml slave number and real number not agree  :(")) << text;
    // The intake's own record replaces the walk's on a start ...
    EXPECT_EQ(ask("get_last_system_error"), "4 20 1 0");
    // ... but a restart shows it: the first slave not reached.
    EXPECT_EQ(ask("restart_master_comunication_with_slave", 60s), "start_only_valid_xml_data") << m.log();
    EXPECT_EQ(ask("get_last_system_error"), "4 20 3 " + std::to_string(1001 + c.reached));
    // Identities were read by position: the last ENI slave lies beyond the
    // break, its identity stays unread.
    EXPECT_EQ(ask("get_slave_eeprom_info 1004"), "reply_error");
    EXPECT_TRUE(contains(m.log(), "--- Error reading eeprom on slave at pos: 4; incr number: 65533")) << m.log();
    EXPECT_EQ(ask("get_slave_eeprom_info 1001"), "5 3665 1 1 0");

    // Mended, the counts agree and the slaves go to PRE-OP at their ENI addresses.
    ASSERT_EQ(m.sim(std::string("link ") + c.link + " up"), "OK");
    EXPECT_EQ(ask("restart_master_comunication_with_slave", 60s), "restart_master_comunication_ok") << m.log();
    EXPECT_EQ(ask("get_master_ethercat_state"), "2");
    EXPECT_EQ(ask("get_last_system_error"), "4 0 0 0");
    for (int pos = 0; pos < 4; ++pos)
        EXPECT_EQ(m.reg(pos, 0x10), station_text(1001 + pos)) << pos;
}

INSTANTIATE_TEST_SUITE_P(
    Segments, LinkWalk,
    ::testing::Values(Broken_Link{"LineAfterFirst", LINE_OF_FOUR, "0 1", 1, {1, 2, 3}, "LINK_0_AND_LOOPS_OPEN_0 "},
                      Broken_Link{"LineAfterSecond", LINE_OF_FOUR, "1 1", 2, {2, 3}, "LINK_0_1_AND_LOOPS_OPEN_0_1 "},
                      Broken_Link{"LineAfterThird", LINE_OF_FOUR, "2 1", 3, {3}, "LINK_0_1_AND_LOOPS_OPEN_0 "},
                      // Links on ports 0 and 2 only: the walk opens all ports and goes on.
                      Broken_Link{"BranchOnPortOne", BRANCH, "1 1", 3, {2}, "PHYSICAL_LINK_ON_PORT_0_2 NOT TYPICAL"},
                      Broken_Link{"BranchOnPortTwo", BRANCH, "1 2", 3, {3}, "PHYSICAL_LINK_ON_PORT_0_1\n"}),
    [](const ::testing::TestParamInfo<Broken_Link>& param) { return std::string(param.param.name); });

namespace {
// The link check over a whole segment of four slaves, every one reached.
void check_every_link(const char* segment)
{
    Master_On_Segment m(segment, 4);
    // Nothing loaded: nothing to walk.
    EXPECT_EQ(ask("check_slaves_link"), "reply_ok");
    EXPECT_FALSE(contains(m.log(), "ECM_Master::check_slave_link_consistency( ... )"));

    ASSERT_EQ(ask("start_ethercat_master " + ENI, 60s), "started") << m.log();
    EXPECT_EQ(ask("check_slaves_link", 60s), "reply_ok") << m.log();
    EXPECT_EQ(active_slaves_published(), 4);
    const std::string text = m.log();
    EXPECT_TRUE(contains(text, "conf_addr_tmp == START_ADDRESS_SLAVE_CHECK_PORTS")) << text;
    EXPECT_FALSE(contains(text, "PHYSICAL_LINK_NOT_RECOGNISED")) << text;
    if (segment == BRANCH) {
        // Port 1's branch walked, port 2 opened, and all three seen open on the way back.
        EXPECT_TRUE(contains(text, "LINK_0_1_2_AND_LOOPS_OPEN_0\n")) << text;
        EXPECT_TRUE(contains(text, "LINK_0_1_2_AND_LOOPS_OPEN_0_1\n")) << text;
        EXPECT_TRUE(contains(text, "LINK_0_1_2_AND_LOOPS_OPEN_0_1_2\n")) << text;
    }
    EXPECT_EQ(ask("get_last_system_error"), "4 0 0 0");
    // Every slave has its ENI address back, and every port is open again.
    for (int pos = 0; pos < 4; ++pos) {
        EXPECT_EQ(m.reg(pos, 0x10), station_text(1001 + pos)) << segment << pos;
        EXPECT_EQ(m.reg(pos, 0x100), "OK 00 00") << segment << pos;
    }
    EXPECT_EQ(ask("get_slaves_number"), "4");
}
}  // namespace

TEST(LinkCheck, WalksALineBackToItsFirstSlaveAndOnlyWithAValidEni)
{
    check_every_link(LINE_OF_FOUR);
}

TEST(LinkCheck, WalksBothBranchesOfAThreePortSlave)
{
    check_every_link(BRANCH);
}

TEST(LinkCheck, AFourPortSlaveEndsTheWalkAsNotRecognised)
{
    Master_On_Segment m(
        "slave s0\nslave cross ports=4\nslave a previous=cross:3\nslave b previous=cross:1\n"
        "slave c previous=cross:2\n",
        5);
    ASSERT_EQ(ask("start_ethercat_master " + ENI, 60s), "started") << m.log();
    EXPECT_EQ(ask("check_slaves_link", 60s), "reply_error") << m.log();
    const std::string text = m.log();
    EXPECT_TRUE(contains(text, "PHYSICAL_LINK_ON_PORT_0_1_2_3 -> not implemented ")) << text;
    EXPECT_TRUE(contains(text, "PHYSICAL_LINK_NOT_RECOGNISED ")) << text;
    EXPECT_TRUE(contains(text, "Error on start_check_slaves_link Sorry, xml slave number and real number not agree"))
        << text;
    EXPECT_EQ(ask("get_last_system_error"), "4 20 3 1003");
    EXPECT_EQ(active_slaves_published(), 2);
}

// A walk that loses replies on its way ends before it has come back to its
// first slave. The ports it had closed are opened again: every slave of the
// segment still answers and its identity can be read by position (as a
// client's bus scan does), where before the slaves behind the last one
// reached stayed hidden until the next start.
TEST(LinkCheck, AWalkEndedByLostRepliesLeavesEveryPortOpen)
{
    Master_On_Segment m("slave s0\nslave s1\nslave s2\nslave s3\nslave s4\nslave s5\n", 2);
    auto start = std::async(std::launch::async, [] { return ask("start_ethercat_master " + ENI, 60s); });
    // Every access of the walk is sent again after a lost reply, three
    // times at most: a link status read that gets no answer to any of them.
    bool stepped = false;
    for (auto deadline = std::chrono::steady_clock::now() + 30s;
         !stepped && std::chrono::steady_clock::now() < deadline; std::this_thread::sleep_for(1ms))
        stepped = contains(m.log(), "FIND SLAVE = 1\n");
    ASSERT_TRUE(stepped) << m.log();
    ASSERT_EQ(m.sim("drop 4 0x0110"), "OK");
    EXPECT_EQ(start.get(), "start_only_valid_xml_data") << m.log();
    const std::string text = m.log();
    EXPECT_TRUE(contains(text, "ACTIVE SLAVE = -1\n") || contains(text, "PHYSICAL_LINK_NOT_RECOGNISED ")) << text;
    // The loop byte of DL control: every port on auto.
    for (int pos = 0; pos < 6; ++pos)
        EXPECT_EQ(m.sim("read " + std::to_string(pos) + " 0x101 1"), "OK 00") << pos;
    EXPECT_EQ(ask("get_slaves_number"), "6");
    for (int pos = 0; pos < 6; ++pos)
        EXPECT_EQ(ask("auto_incr_slave_info " + std::to_string(pos), 30s).rfind("5 ", 0), 0u) << pos;
}

namespace {
const char* const ALIASED =
    "slave s0 alias=5 vendor=0x80000001 product=0x1234 serial=77\n"
    "slave s1 alias=6 vendor=0x22 product=0x33 serial=44\n";
}  // namespace

TEST(EepromAlias, TheNewAliasAndTheChecksumOfWordsZeroToSixAreWritten)
{
    Master_On_Segment m(ALIASED, 2);
    ASSERT_EQ(ask("start_ethercat_master " + ENI, 60s), "started") << m.log();
    EXPECT_EQ(ask("get_slave_eeprom_info 1002"), "5 34 51 44 6");
    const std::vector<uint16_t> before = m.eeprom(1, 0, 16);

    EXPECT_EQ(ask("write_into_eeprom_config_alias 1002 300", 30s), "reply_ok") << m.log();
    const std::vector<uint16_t> after = m.eeprom(1, 0, 16);
    EXPECT_EQ(after[4], 300);
    EXPECT_EQ(after[7], crc8({after.begin(), after.begin() + 7}));
    EXPECT_NE(after[7], before[7]);
    for (int w : {0, 1, 2, 3, 5, 6, 8, 9, 10, 11, 12, 13, 14, 15})
        EXPECT_EQ(after[w], before[w]) << w;
    EXPECT_EQ(ask("get_slave_eeprom_info 1002"), "5 34 51 44 300");
    EXPECT_EQ(m.eeprom(0, 4, 1)[0], 5) << "the other slave's EEPROM changed";

    // After a power cycle the slave takes the alias: the checksum holds.
    ASSERT_EQ(m.sim("restart 1"), "OK");
    EXPECT_EQ(m.reg(1, 0x12), "OK 2C 01");
    const std::string status = m.reg(1, 0x502);
    EXPECT_EQ(std::stoul(status.substr(6, 2), nullptr, 16) & 0x18, 0u) << status;
}

TEST(EepromAlias, AFailedWriteIsReportedAndTheOldAliasStays)
{
    Master_On_Segment m(ALIASED, 2);
    ASSERT_EQ(ask("start_ethercat_master " + ENI, 60s), "started") << m.log();
    const std::vector<uint16_t> before = m.eeprom(0, 0, 8);
    const struct {
        std::string request;
        std::string error;
    } refused[] = {
        {"write_into_eeprom_config_alias 1009 300",
         "Error on write_config_alias_into ECM_Master::get_slave_configured_alias -> slave not found:1009"},
        {"write_into_eeprom_config_alias 1001", "Error on write_config_alias_into [ECM_Request_Arguments]"},
        {"write_into_eeprom_config_alias 1001 70000", "Error on write_config_alias_into [ECM_Request_Arguments]"},
    };
    for (const auto& c : refused) {
        EXPECT_EQ(ask(c.request), "reply_error") << c.request;
        EXPECT_TRUE(contains(m.log(), c.error)) << c.request << "\n" << m.log();
    }
    // An EEPROM that never acknowledges a command: five attempts, then the
    // old alias is written back (which fails as well) and the write refused.
    ASSERT_EQ(m.sim("eeprom_nack 0 100000"), "OK");
    EXPECT_EQ(ask("write_into_eeprom_config_alias 1001 300", 60s), "reply_error") << m.log();
    const std::string text = m.log();
    EXPECT_EQ(count_of(text, "ECM_Master::write_slave_alias_into_eeprom_ex retry on slave:1001"), 5) << text;
    EXPECT_TRUE(contains(text,
                         "Error on write_config_alias_into ec_writeeeprom_ex EEPROM_CONFIG_ALIAS error -> "
                         "set old alias"))
        << text;
    EXPECT_EQ(m.eeprom(0, 0, 8), before);
    EXPECT_EQ(ask("get_slave_eeprom_info 1001"), "5 -2147483647 4660 77 5");

    // Two refused commands: the next attempt succeeds.
    ASSERT_EQ(m.sim("eeprom_nack 0 2"), "OK");
    EXPECT_EQ(ask("write_into_eeprom_config_alias 1001 301", 60s), "reply_ok") << m.log();
    EXPECT_EQ(m.eeprom(0, 4, 1)[0], 301);
    EXPECT_EQ(ask("get_slave_eeprom_info 1001"), "5 -2147483647 4660 77 301");
}

TEST(EepromAlias, AWordChangedSinceTheStartRefusesTheChecksumAndRestoresTheAlias)
{
    Master_On_Segment m(ALIASED, 2);
    ASSERT_EQ(ask("start_ethercat_master " + ENI, 60s), "started") << m.log();
    // Word 2 changes behind the master's back; word 4 may change, no other.
    ASSERT_EQ(m.sim("eeprom_word 0 2 0x1234"), "OK");
    const std::vector<uint16_t> before = m.eeprom(0, 0, 8);
    EXPECT_EQ(ask("write_into_eeprom_config_alias 1001 300", 60s), "reply_error") << m.log();
    const std::string text = m.log();
    EXPECT_EQ(count_of(text, "Check eeprom data to checksum FAILED!"), 5) << text;
    EXPECT_EQ(count_of(text, "ECM_Master::ec_eeprom_write_checksum_ex retry on slave:1001"), 5) << text;
    EXPECT_TRUE(contains(text, "Error on write_config_alias_into ec_eeprom_write_checksum_ex error -> set old alias"))
        << text;
    EXPECT_EQ(m.eeprom(0, 0, 8), before) << "old alias back in word 4, word 7 untouched";
    EXPECT_EQ(ask("get_slave_eeprom_info 1001"), "5 -2147483647 4660 77 5");
}

TEST(EepromAlias, AnEepromBusyForAWhileIsWaitedForAndRetried)
{
    Master_On_Segment m(ALIASED, 2);
    ASSERT_EQ(ask("start_ethercat_master " + ENI, 60s), "started") << m.log();
    ASSERT_EQ(m.sim("eeprom_busy 1 250000"), "OK");
    EXPECT_EQ(ask("write_into_eeprom_config_alias 1002 9", 60s), "reply_ok") << m.log();
    const std::string text = m.log();
    EXPECT_TRUE(contains(text, "ECM_Master:: ec_writeeeprom_ex EEPROM BUSY")) << text;
    EXPECT_GE(count_of(text, "ECM_Master::write_slave_alias_into_eeprom_ex retry on slave:1002"), 1) << text;
    const std::vector<uint16_t> words = m.eeprom(1, 0, 8);
    EXPECT_EQ(words[4], 9);
    EXPECT_EQ(words[7], crc8({words.begin(), words.begin() + 7}));
}

TEST(EepromIdentity, RingPositionsAnswerFromTheEeprom)
{
    Master_On_Segment m(ALIASED, 2);
    ASSERT_EQ(ask("start_ethercat_master " + ENI, 60s), "started") << m.log();
    const struct {
        std::string request;
        std::string reply;
    } cases[] = {
        {"auto_incr_slave_info 0", "5 -2147483647 4660 77 5"},
        {"auto_incr_slave_info 1", "5 34 51 44 6"},
        {"auto_incr_slave_info 7", "reply_error"},
        {"auto_incr_slave_info", "reply_error"},
        {"auto_incr_slave_info -1", "reply_error"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ask(c.request, 30s), c.reply) << c.request;
    EXPECT_TRUE(contains(m.log(), "Error on auto_incr_slave_info_exec on slave at incr addr: 65529")) << m.log();

    // An EEPROM that acknowledges no read has no identity to give, not 0s.
    ASSERT_EQ(m.sim("eeprom_nack 0 100000"), "OK");
    EXPECT_EQ(ask("auto_incr_slave_info 0", 30s), "reply_error") << m.log();
    EXPECT_EQ(ask("auto_incr_slave_info 1", 30s), "5 34 51 44 6");
}

TEST(ErrorCounters, CountersSetInTheSegmentAreReportedAndClearedByTheEnisCommand)
{
    Master_On_Segment m("slave s0\nslave s1\n", 2);
    ASSERT_EQ(ask("start_ethercat_master " + ENI, 60s), "started") << m.log();
    EXPECT_EQ(ask("get_slave_errors_counters 1002"), "5 0 0 0 0");
    const struct {
        const char* reg;
        int value;
    } counters[] = {{"0x300", 5}, {"0x301", 9}, {"0x302", 7}, {"0x303", 8}, {"0x308", 3}, {"0x309", 4}, {"0x310", 2}};
    for (const auto& c : counters)
        ASSERT_EQ(m.sim(std::string("error_counter 1 ") + c.reg + " " + std::to_string(c.value)), "OK");
    EXPECT_EQ(ask("get_slave_errors_counters 1002"), "5 5 7 3 4");
    EXPECT_EQ(ask("get_slave_errors_counters 1001"), "5 0 0 0 0");
    EXPECT_EQ(ask("get_slave_errors_counters 1003"), "reply_error");

    // The way to PRE-OP clears the RX error group; the lost-link counter stays.
    EXPECT_EQ(ask("restart_master_comunication_with_slave", 60s), "restart_master_comunication_ok") << m.log();
    EXPECT_EQ(ask("get_slave_errors_counters 1002"), "5 0 0 0 0");
    EXPECT_EQ(m.reg(1, 0x310), "OK 02 00");
}

TEST(ErrorCounters, TheDumpShowsTheCountersOfSlavesThatAnswerAndNothingOfOthers)
{
    Master_On_Segment m("slave s0\nslave s1\n", 2);
    ASSERT_EQ(ask("start_ethercat_master " + ENI, 60s), "started") << m.log();
    ASSERT_EQ(m.sim("error_counter 0 0x300 5"), "OK");
    ASSERT_EQ(m.sim("error_counter 0 0x301 9"), "OK");
    ASSERT_EQ(m.sim("error_counter 0 0x30C 6"), "OK");
    ASSERT_EQ(m.sim("error_counter 0 0x313 1"), "OK");
    // The second slave drops off: the request for INIT misses its working counter.
    ASSERT_EQ(m.sim("link 0 1 down"), "OK");
    EXPECT_EQ(ask("go_into_next_state 1", 60s), "reply_error") << m.log();
    const std::string text = m.log();
    EXPECT_TRUE(contains(text,
                         "---\n SLAVE add: 1001\n"
                         "2 byte data_read at 0x0300: 5 9\n"
                         "2 byte data_read at 0x0302: 0 0\n"
                         "2 byte data_read at 0x0304: 0 0\n"
                         "2 byte data_read at 0x0306: 0 0\n"
                         "1 byte data_read at 0x0308: 0\n"
                         "1 byte data_read at 0x0309: 0\n"
                         "1 byte data_read at 0x030A: 0\n"
                         "1 byte data_read at 0x030B: 0\n"
                         "1 byte data_read at 0x030C: 6\n"
                         "1 byte data_read at 0x030D: 0\n"
                         "1 byte data_read at 0x0310: 0\n"
                         "1 byte data_read at 0x0311: 1\n"
                         "1 byte data_read at 0x0312: 0\n"
                         "1 byte data_read at 0x0313: 1\n"
                         "---\n---\n SLAVE add: 1001\n"
                         "2 byte data_read at 0x120: 1 0\n"
                         "2 byte data_read at 0x130: 1 0\n"
                         "2 byte data_read at 0x134 0 0\n---\n"))
        << text;
    EXPECT_TRUE(contains(text,
                         "---\n SLAVE add: 1002\n---\n---\n SLAVE add: 1002\n"
                         "2 byte data_read at 0x120: 0 0\n"
                         "2 byte data_read at 0x130: 0 0\n"
                         "2 byte data_read at 0x134 0 0\n---\n"))
        << text;
}
