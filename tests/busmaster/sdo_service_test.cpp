// busmaster as a child process against the simulated demo cell on a veth
// pair: SDO uploads and downloads through the command server, aborts and
// malformed requests answered "reply_error", the SDO queue refused outside
// OP, and the drive's CoE init commands sent before its register commands,
// with the roomy mailbox of the demo and with a tight one that segments.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "child_process.h"
#include "master_request.h"
#include "segment_config.h"
#include "simulated_segment.h"
#include "system_config.h"
#include "veth_harness.h"
#include "xelo_client_socket_udp.h"
#include "xelo_ethercat_system_types.h"

namespace {
using namespace std::chrono_literals;

const std::string CONFIG = "/tmp/ecm_system_cfg.xml";
const std::string LOG = "/tmp/busmaster.log";
const std::string ENI = "/tmp/demo_cell_eni.xml";
const std::string DEVICE_NAME = "Infranor servo drive (simulated)";

bool contains(const std::string& haystack, const std::string& text)
{
    return haystack.find(text) != std::string::npos;
}

std::string replace_all(std::string text, const std::string& from, const std::string& to)
{
    for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
    return text;
}

// The CoE init commands of the drive moved from one transition to another.
std::string move_coe_commands(std::string text, const std::string& from, const std::string& to)
{
    const std::size_t begin = text.find("<CoE>");
    const std::size_t end = text.find("</CoE>");
    const std::string block = replace_all(text.substr(begin, end - begin), "<Transition>" + from + "</Transition>",
                                          "<Transition>" + to + "</Transition>");
    return text.replace(begin, end - begin, block);
}

// The master's own init commands taken out of a transition (they come
// before every slave's and would close the mailboxes first).
std::string without_master_commands(std::string text, const std::string& transition)
{
    const std::size_t slaves = text.find("<Slave>");
    return replace_all(text.substr(0, slaves), "<Transition>" + transition + "</Transition>", "") + text.substr(slaves);
}

// The drive's CoE init commands of the step to SAFE-OP sent on the step from
// PRE-OP down to INIT instead, without the master's broadcast to INIT: there
// the drive's own register commands, which follow, close its mailbox.
std::string coe_commands_on_the_way_down(const std::string& text)
{
    return without_master_commands(move_coe_commands(text, "PS", "PI"), "PI");
}

std::string bytes_of(const std::string& text)
{
    std::string out;
    for (unsigned char c : text)
        out += (out.empty() ? "" : " ") + std::to_string(c);
    return out;
}

// The drive's mailbox: the demo's 128 bytes, or 24, where every message
// longer than a few bytes is segmented.
struct Mailbox_Case {
    int length;
    const char* name;
};

void PrintTo(const Mailbox_Case& c, std::ostream* os)
{
    *os << c.name << " mailbox of " << c.length << " bytes";
}

std::string segment_text(int mailbox)
{
    const std::string size = std::to_string(mailbox);
    return "slave dio device=dio\nslave drive device=cia402 profile=infranor mailbox=0x1000:" + size +
           ",0x1080:" + size + "\n";
}

class Sdo_Service : public ::testing::TestWithParam<Mailbox_Case> {
protected:
    Sdo_Service()
        : m_segment(ecat_sim::parse_segment_config(segment_text(GetParam().length)), simulated_segment_options())
    {
        write_system_config(CONFIG, m_segment.master_interface(), "127.0.0.1", "500");
    }
    void SetUp() override
    {
        m_master = std::make_unique<Child_Process>(BUSMASTER_BINARY, std::vector<std::string>{"-c", CONFIG}, LOG);
        m_master->wait_ready_ex(probe::udp_port(ecm_protocol::PORT), 10s);
    }
    void TearDown() override { EXPECT_EQ(m_master->stop(), 128 + SIGTERM) << m_master->log(); }

    // The demo cell's ENI with the drive's mailbox of the parameter's length.
    std::string demo_eni() const
    {
        std::string text = read_file(DEMO_ENI);
        if (GetParam().length != 128) {
            char hex[5];
            std::snprintf(hex, sizeof hex, "%02x%02x", GetParam().length & 0xFF, GetParam().length >> 8);
            text =
                replace_all(text, "<Length>128</Length>", "<Length>" + std::to_string(GetParam().length) + "</Length>");
            text = replace_all(text, "0010800026000100", std::string("0010") + hex + "26000100");
            text = replace_all(text, "8010800022000100", std::string("8010") + hex + "22000100");
        }
        return text;
    }
    void start(const std::string& eni)
    {
        write_file(ENI, eni);
        ASSERT_EQ(ask("start_ethercat_master " + ENI, 30s), "started") << log();
    }
    std::string sim(const std::string& command) { return m_segment.simulator().execute(command); }
    std::string log() const { return m_master->log(); }

    ecat_sim::Veth_Segment m_segment;
    std::unique_ptr<Child_Process> m_master;
};

TEST_P(Sdo_Service, BlockingTransfersThroughTheCommandServer)
{
    start(demo_eni());
    const struct {
        std::string request;
        std::string reply;
    } steps[] = {
        {"get_data_via_sdo 1002 4120 1 4", "130 0 0 0"},               // 0x1018:1, expedited
        {"get_data_via_sdo 1002 4104 0 32", bytes_of(DEVICE_NAME)},    // 0x1008, normal or segmented
        {"set_data_via_sdo 1002 24698 0 4 120 86 52 18", "reply_ok"},  // 0x607A, 4 bytes
        {"get_data_via_sdo 1002 24698 0 4", "120 86 52 18"},
        {"set_data_via_sdo 1002 24678 0 2 52 18", "reply_ok"},  // 0x6066, 2 bytes
        {"get_data_via_sdo 1002 24678 0 2", "52 18"},
        {"set_data_via_sdo 1002 24672 0 1 264", "reply_ok"},  // 0x6060: 264 sends 8
        {"get_data_via_sdo 1002 24672 0 1", "8"},
        {"get_data_via_sdo 1002 24678 0 4", "reply_error"},  // 2-byte object, 4 asked
        {"get_data_via_sdo 1002 24678 0 1", "reply_error"},  // 2-byte object, room for 1
        {"get_data_via_sdo 1002 4104 0 51", "reply_error"},  // above one transfer's 50 bytes
        {"get_data_via_sdo 1002 4120 1 -1", "reply_error"},
        {"set_data_via_sdo 1002 24698 0 -1", "reply_error"},
        {"set_data_via_sdo 1002 24698 0 4 1 2", "reply_error"},  // bytes missing
        {"get_data_via_sdo 1002 4120", "reply_error"},           // size missing
        {"get_data_via_sdo 1500 4120 1 4", "reply_error"},       // no such slave
        {"get_data_via_sdo 1001 4120 1 4", "reply_error"},       // the I/O module has no mailbox
        {"set_data_via_sdo 1001 24672 0 1 8", "reply_error"},
        {"get_data_via_sdo 1002 8192 0 4", "reply_error"},  // no such object: aborted
        {"get_data_via_sdo 1002 4120 2 4", "0 3 0 0"},      // still answering
    };
    for (const auto& step : steps)
        EXPECT_EQ(ask(step.request), step.reply) << step.request << "\n" << log();
    EXPECT_TRUE(contains(log(), "Error on get_data_via_sdo_exec Attention: Frame read workcounter is zero")) << log();
    EXPECT_TRUE(contains(log(), "Error on set_data_via_sdo_exec Attention: data size not correct")) << log();
    // The state and the connection are as they were.
    EXPECT_EQ(ask("get_master_ethercat_state"), "2");
    EXPECT_EQ(ask("get_last_system_error"), "4 0 0 0");
}

TEST_P(Sdo_Service, AnAbortedTransferIsAnsweredReplyError)
{
    start(demo_eni());
    ASSERT_EQ(sim("sdo_abort 1 0x607A * 0x06010002").substr(0, 2), "OK");
    EXPECT_EQ(ask("get_data_via_sdo 1002 24698 0 4"), "reply_error");
    EXPECT_EQ(ask("set_data_via_sdo 1002 24698 0 4 1 2 3 4"), "reply_error");
    EXPECT_TRUE(contains(log(), "Error on set_data_via_sdo_exec Attention: Frame read workcounter is zero")) << log();
    EXPECT_TRUE(contains(log(), "SDO abort frame received ")) << log();
    const std::string accesses = sim("sdo_log 1");
    EXPECT_TRUE(contains(accesses, "upload 607A:00 size 0 abort 0x06010002")) << accesses;
    EXPECT_TRUE(contains(accesses, "download 607A:00 size 4 abort 0x06010002")) << accesses;
    ASSERT_EQ(sim("sdo_abort_clear 1").substr(0, 2), "OK");
    EXPECT_EQ(ask("set_data_via_sdo 1002 24698 0 4 1 2 3 4"), "reply_ok");
    EXPECT_EQ(ask("get_data_via_sdo 1002 24698 0 4"), "1 2 3 4");
}

TEST_P(Sdo_Service, TheQueueRefusesOutsideOpAndTheRefusalStaysRecorded)
{
    start(demo_eni());
    EXPECT_EQ(ask("pop_sdo_from_queue"), "reply_error");
    EXPECT_EQ(ask("get_last_system_error"), "4 0 0 0");  // a refused pop records nothing
    EXPECT_EQ(ask("push_sdo_into_queue 1002 24698 0 35 4 1 2 3 4"), "reply_error");
    EXPECT_EQ(ask("get_last_system_error"), "4 40 2 0");
    EXPECT_TRUE(contains(log(), "Error on push_sdo_exec Attention: Push Sdo not permitted in this state !")) << log();
    EXPECT_TRUE(contains(log(), "Error on pop_sdo_exec Attention: Pop Sdo not permitted in this state")) << log();
    EXPECT_EQ(ask("push_sdo_into_queue 1002 24698"), "reply_error");  // malformed
    // Blocking transfers go on.
    EXPECT_EQ(ask("get_data_via_sdo 1002 4120 1 4"), "130 0 0 0");
}

TEST_P(Sdo_Service, CoeInitCommandsOfATransitionGoBeforeTheSlavesRegisterCommands)
{
    // They pass only if they go before the drive's register commands.
    start(coe_commands_on_the_way_down(demo_eni()));
    EXPECT_EQ(sim("sdo_log 1"), "OK 0");
    ASSERT_EQ(ask("go_into_next_state 1", 30s), "reply_ok") << log();
    EXPECT_EQ(ask("get_master_ethercat_state"), "1");
    const std::string accesses = sim("sdo_log 1");
    const std::vector<std::string> expected = {
        "upload 1018:01 size 4 abort 0x00000000",
        "download 1C12:00 size 1 abort 0x00000000",
        "download 1C13:00 size 1 abort 0x00000000",
        "download 1600:00 complete size 18 abort 0x00000000",
        "download 1A00:00 complete size 22 abort 0x00000000",
        "download 1C12:00 complete size 4 abort 0x00000000",
        "download 1C13:00 complete size 4 abort 0x00000000",
    };
    std::size_t at = 0;
    for (const std::string& line : expected) {
        at = accesses.find(line, at);
        EXPECT_NE(at, std::string::npos) << line << "\n" << accesses;
    }
    EXPECT_TRUE(contains(log(), "ECM_Master::Slave addr -> 1002 start send SDO size: 7")) << log();
    EXPECT_EQ(ask("get_last_system_error"), "4 0 0 0");
}

TEST_P(Sdo_Service, AnUnexpectedValueOfACoeUploadFailsTheTransition)
{
    // The vendor id checked against another vendor's.
    start(replace_all(coe_commands_on_the_way_down(demo_eni()), "<Data>82000000</Data>", "<Data>83000000</Data>"));
    EXPECT_EQ(ask("go_into_next_state 1", 30s), "reply_error") << log();
    EXPECT_TRUE(contains(log(), "Attention: read sdo xml data no expected")) << log();
    EXPECT_TRUE(contains(log(), "cmd_CoE_iterator->index_m_el = 4120")) << log();
    EXPECT_EQ(ask("get_last_system_error"), "4 22 5 1002");
}

INSTANTIATE_TEST_SUITE_P(DriveMailbox, Sdo_Service,
                         ::testing::Values(Mailbox_Case{128, "Roomy"}, Mailbox_Case{24, "Tight"}),
                         [](const ::testing::TestParamInfo<Mailbox_Case>& param_info) {
                             return param_info.param.name;
                         });

}  // namespace
