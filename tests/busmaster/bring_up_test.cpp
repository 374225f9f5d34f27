// busmaster as a child process against the simulated segment of the demo
// cell on a veth pair: the start from an ENI file up to PRE-OP with the
// datagrams on the wire (captured and decoded with tshark), validation
// retries and their timing, slaves that do not come up or are missing, the
// slave queries, state requests and the stop.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <mutex>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "child_process.h"
#include "cia402_enable_steps.h"
#include "eventually.h"
#include "master_on_segment.h"
#include "master_request.h"
#include "read_only_segment.h"
#include "robust_mutex.h"
#include "segment_config.h"
#include "system_config.h"
#include "veth_harness.h"
#include "xelo_client_socket_udp.h"
#include "xelo_ethercat_system_types.h"

namespace {
using namespace std::chrono_literals;

const std::string CONFIG = "/tmp/ecm_system_cfg.xml";
const std::string LOG = "/tmp/busmaster.log";
const std::string ENI = "/tmp/demo_cell_eni.xml";
const std::string CAPTURE = "/tmp/bring_up.pcapng";

const char* const DEMO_CELL = "slave dio device=dio\nslave drive device=cia402 profile=infranor\n";
const char* const DIO_ONLY = "slave dio device=dio\n";

bool contains(const std::string& haystack, const std::string& text)
{
    return haystack.find(text) != std::string::npos;
}

// The demo cell's ENI with each (from, to) replaced everywhere.
void write_demo_eni(const std::vector<std::pair<std::string, std::string>>& replacements = {})
{
    std::string text = read_file(DEMO_ENI);
    for (const auto& r : replacements)
        for (std::size_t at = text.find(r.first); at != std::string::npos;
             at = text.find(r.first, at + r.second.size()))
            text.replace(at, r.first.size(), r.second);
    write_file(ENI, text);
}

// The slave-information memory as the clients map it.
struct Info_Memory : Read_Only_Segment<Shared_Slave_Info_Mem_Region> {
    Info_Memory() : Read_Only_Segment(ecm_shm::INFO_NAME) {}
};

// One datagram the master sent, decoded by tshark.
struct Datagram {
    double time;  // seconds since the capture began
    unsigned cmd;
    unsigned adp;
    unsigned ado;
};

// tshark on the master's end of the veth pair, decoding every datagram the
// master sends (source 01:01:01:01:01:01) as it goes by. Each capture logs to
// a file of its own: its readiness must not be read from an earlier one's.
class Capture {
public:
    explicit Capture(const std::string& interface)
        : m_interface(interface),
          m_tshark("/usr/bin/tshark",
                   {"-l", "-i", interface, "-f", "ether proto 0x88a4", "-Y", "eth.src == 01:01:01:01:01:01", "-T",
                    "fields", "-E", "separator=,", "-e", "frame.time_relative", "-e", "ecat.cmd", "-e", "ecat.adp",
                    "-e", "ecat.ado"},
                   "/tmp/tshark-" + std::to_string(++s_captures) + ".log")
    {
        m_tshark.wait_ready_ex(probe::log_line(m_tshark, "Capturing on"), 20s);
    }
    // The datagrams sent so far, in order: a marker frame sent last shows
    // when tshark has decoded everything before it.
    std::vector<Datagram> decode()
    {
        send_marker();
        EXPECT_TRUE(m_tshark.wait_for_log(",0x0000,0xbeef", 20s)) << m_tshark.log();
        EXPECT_EQ(m_tshark.stop(20s, SIGINT), 0) << m_tshark.log();
        std::vector<Datagram> datagrams;
        std::istringstream lines(m_tshark.log());
        for (std::string line; std::getline(lines, line);) {
            std::istringstream fields(line);
            std::string time, cmd, adp, ado;
            std::getline(fields, time, ',');
            std::getline(fields, cmd, ',');
            std::getline(fields, adp, ',');
            std::getline(fields, ado, ',');
            if (cmd.empty() || adp.empty() || ado.empty() || ado == "0xbeef")
                continue;
            datagrams.push_back({std::stod(time), static_cast<unsigned>(std::stoul(cmd, nullptr, 0)),
                                 static_cast<unsigned>(std::stoul(adp, nullptr, 0)),
                                 static_cast<unsigned>(std::stoul(ado, nullptr, 0))});
        }
        return datagrams;
    }

private:
    // A NOP datagram to register 0xBEEF in a frame of the master's form.
    void send_marker()
    {
        uint8_t frame[60] = {};
        std::memset(frame, 0xff, 6);
        std::memset(frame + 6, 0x01, 6);
        frame[12] = 0x88;
        frame[13] = 0xa4;
        frame[14] = 14;    // datagram of 2 data bytes + 12
        frame[15] = 0x10;  // type 1
        frame[16] = 0;     // NOP
        frame[17] = 0xEE;  // index
        frame[20] = 0xEF;  // ADO 0xBEEF
        frame[21] = 0xBE;
        frame[22] = 2;  // length
        ecat_sim::Raw_Ethernet_Socket socket(m_interface);
        socket.send(frame, sizeof(frame));
    }

    static inline int s_captures = 0;
    std::string m_interface;
    Child_Process m_tshark;
};

std::string describe(const std::vector<Datagram>& datagrams)
{
    std::ostringstream text;
    for (const Datagram& d : datagrams)
        text << d.time << " cmd " << d.cmd << " adp 0x" << std::hex << d.adp << " ado 0x" << d.ado << std::dec << "\n";
    return text.str();
}

bool is_eeprom_access(const Datagram& d)
{
    return d.ado >= 0x0500 && d.ado < 0x0510;
}

// The master waits 1 ms for each reply: the segment's frame thread wakes at
// a real-time priority, above the load of a parallel test run.
// The simulated segment, and busmaster started on its master end.
class BringUp : public ::testing::Test {
protected:
    explicit BringUp(const char* segment = DEMO_CELL)
        : m_segment(ecat_sim::parse_segment_config(segment), simulated_segment_options())
    {
        write_system_config(CONFIG, m_segment.master_interface(), "127.0.0.1", "500");
    }
    void SetUp() override
    {
        m_master = std::make_unique<Child_Process>(BUSMASTER_BINARY, m_arguments, LOG);
        m_master->wait_ready_ex(probe::udp_port(ecm_protocol::PORT), 10s);
    }
    void TearDown() override { EXPECT_EQ(m_master->stop(), 128 + SIGTERM) << m_master->log(); }

    std::string sim(const std::string& command) { return m_segment.simulator().execute(command); }
    // AL status of the slave at position pos, from the simulator's registers.
    std::string al_status(int pos) { return sim("read " + std::to_string(pos) + " 0x130 2"); }
    std::string log() const { return m_master->log(); }

    ecat_sim::Veth_Segment m_segment;
    std::unique_ptr<Child_Process> m_master;
    std::vector<std::string> m_arguments{"-c", CONFIG};
};

class BringUpDioOnly : public BringUp {
protected:
    BringUpDioOnly() : BringUp(DIO_ONLY) {}
};

// Cases that run the cycle: the master as the cell runs it (soft real-time),
// and a fault limit that a loaded machine, answering late now and then,
// does not reach.
class BringUpToOp : public BringUp {
protected:
    BringUpToOp() { m_arguments.insert(m_arguments.end(), {"-s", "5", "--max_consecutive_frame_faults", "1000"}); }
};
}  // namespace

TEST_F(BringUp, StartTakesTheDemoCellToPreopAndStopTakesItBack)
{
    write_demo_eni();
    EXPECT_EQ(ask("get_system_state"), "2");
    ASSERT_EQ(ask("start_ethercat_master " + ENI, 30s), "started") << log();
    EXPECT_EQ(ask("get_system_state"), "3");
    EXPECT_EQ(ask("get_master_ethercat_state"), "2");
    EXPECT_EQ(ask("get_last_system_error"), "4 0 0 0");
    EXPECT_EQ(ask("get_slaves_number"), "2");
    EXPECT_TRUE(contains(al_status(0), "02 00")) << al_status(0);
    EXPECT_TRUE(contains(al_status(1), "02 00")) << al_status(1);

    {
        Info_Memory info;
        EXPECT_EQ((*info).num_of_xml_slaves, 2);
        EXPECT_EQ((*info).num_of_active_slaves, 2);
        // The I/O module: one byte each way at image byte 26 (ENI bit 336).
        EXPECT_EQ((*info).configaddress[0], 1001);
        EXPECT_EQ((*info).has_output[0], 1);
        EXPECT_EQ((*info).num_output[0], 8);
        EXPECT_EQ((*info).out_bytes[0], 1);
        EXPECT_EQ((*info).out_bits[0], 8);
        EXPECT_EQ((*info).out_shm_start_byte[0], 26);
        EXPECT_EQ((*info).in_shm_start_byte[0], 26);
        EXPECT_EQ((*info).num_input[0], 8);
        // The drive: 11 output and 13 input bytes from image byte 27.
        EXPECT_EQ((*info).configaddress[1], 1002);
        EXPECT_EQ((*info).out_bytes[1], 11);
        EXPECT_EQ((*info).out_bits[1], 88);
        EXPECT_EQ((*info).num_output[1], 4);
        EXPECT_EQ((*info).in_bytes[1], 13);
        EXPECT_EQ((*info).in_bits[1], 104);
        EXPECT_EQ((*info).num_input[1], 5);
        EXPECT_EQ((*info).in_shm_start_byte[1], 27);
        EXPECT_EQ((*info).in_shm_start_offs_bit[1], 0);
    }

    ASSERT_EQ(ask("stop_ethercat_master", 30s), "stopped") << log();
    EXPECT_EQ(ask("get_system_state"), "2");
    EXPECT_EQ(ask("get_master_ethercat_state"), "0");
    EXPECT_TRUE(contains(al_status(0), "01 00")) << al_status(0);
    EXPECT_TRUE(contains(al_status(1), "01 00")) << al_status(1);
    // The stop removed the configuration: nothing to restart from.
    EXPECT_EQ(ask("restart_master_comunication_with_slave", 30s), "ethercat_master_not_started");
    EXPECT_EQ(ask("get_last_system_error"), "4 23 5 0");
    EXPECT_TRUE(contains(log(), "Sorry, xml file is to be reloaded :(")) << log();
}

namespace {
// The steps of a start as the master sent them: without the EEPROM accesses
// (where they were is kept), and with repeats of a datagram (a validated
// read, a resend after a late reply) folded into one. An init command whose
// reply came late is sent again after the master counted the answering
// slaves (a broadcast read of the AL status): that count folds away with
// the repeat.
struct Start_Steps {
    std::vector<Datagram> steps;
    std::size_t first_eeprom = 0;
    std::size_t last_eeprom = 0;
};

bool same_datagram(const Datagram& a, const Datagram& b)
{
    return a.cmd == b.cmd && a.adp == b.adp && a.ado == b.ado;
}

Start_Steps start_steps(const std::vector<Datagram>& sent)
{
    const Datagram slave_count{0, 7, 0x0000, 0x0130};
    Start_Steps start;
    std::vector<Datagram>& steps = start.steps;
    start.first_eeprom = sent.size();
    for (const Datagram& d : sent) {
        if (is_eeprom_access(d)) {
            start.first_eeprom = std::min(start.first_eeprom, steps.size());
            start.last_eeprom = steps.size();
            continue;
        }
        if (!steps.empty() && same_datagram(steps.back(), d))
            continue;
        if (steps.size() >= 2 && same_datagram(steps.back(), slave_count) &&
            same_datagram(steps[steps.size() - 2], d)) {
            steps.pop_back();
            continue;
        }
        steps.push_back(d);
    }
    return start;
}
}  // namespace

TEST_F(BringUp, DatagramsOfTheStartGoOutInTheOrderOfTheBringUp)
{
    write_demo_eni();
    const std::vector<std::vector<unsigned>> expected = {
        {7, 0x0000, 0x0130},                       // slaves answering
        {8, 0x0000, 0x0120}, {7, 0x0000, 0x0130},  // every slave to INIT, its error acknowledged
        {8, 0x0000, 0x0010},                       // every station address cleared
        {1, 0x0000, 0x0110},                       // topology: DL status and port descriptor of each slave
        {1, 0x0000, 0x0007}, {1, 0xFFFF, 0x0110}, {1, 0xFFFF, 0x0007}, {7, 0x0000, 0x0000},  // the master's IP commands
        {8, 0x0000, 0x0600}, {8, 0x0000, 0x0800}, {2, 0x0000, 0x0010},  // the I/O module's IP commands
        {5, 1001, 0x0120},   {4, 1001, 0x0130},   {2, 0xFFFF, 0x0010},  // the drive's IP commands
        {5, 1002, 0x0800},   {5, 1002, 0x0808},   {5, 1002, 0x0120},   {4, 1002, 0x0130},
    };
    const struct {
        const char* drop;
        const char* start;
    } cases[] = {
        {"drop 0", "every reply in time"},
        {"drop 1 0x0600", "the reply to an init command lost"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.start);
        ASSERT_EQ(sim(c.drop), "OK");
        std::vector<Datagram> sent;
        {
            Capture capture(m_segment.master_interface());
            ASSERT_EQ(ask("start_ethercat_master " + ENI, 30s), "started") << log();
            sent = capture.decode();
        }
        const Start_Steps start = start_steps(sent);
        const std::vector<Datagram>& steps = start.steps;
        ASSERT_EQ(steps.size(), expected.size()) << describe(sent);
        for (std::size_t i = 0; i < expected.size(); ++i) {
            EXPECT_EQ(steps[i].cmd, expected[i][0]) << i << "\n" << describe(sent);
            EXPECT_EQ(steps[i].adp, expected[i][1]) << i << "\n" << describe(sent);
            EXPECT_EQ(steps[i].ado, expected[i][2]) << i << "\n" << describe(sent);
        }
        // The identities are read from the EEPROMs between the master's
        // commands and the slaves' own.
        EXPECT_EQ(start.first_eeprom, 11u) << describe(sent);
        EXPECT_EQ(start.last_eeprom, 11u) << describe(sent);
        const std::string drive = ask("get_slave_eeprom_info 1002");
        EXPECT_EQ(drive.rfind("5 130 768 ", 0), 0u) << drive;
        // The next start begins from a stopped master, as this one did.
        ASSERT_EQ(ask("stop_ethercat_master", 30s), "stopped") << log();
    }
}

TEST_F(BringUp, SlaveQueriesAnswerFromTheEniTheRegistersAndTheEeprom)
{
    write_demo_eni();
    ASSERT_EQ(ask("start_ethercat_master " + ENI, 30s), "started") << log();
    const struct {
        std::string request;
        std::string reply;
    } cases[] = {
        {"get_slave_state_info 1001", "4 2 2 0"},
        {"get_slave_state_info 1002", "4 2 2 0"},
        {"get_slave_state_info 1003", "reply_error"},
        {"get_slave_state_info", "reply_error"},
        {"get_slave_eeprom_info 1001", "5 3665 3344 1 0"},
        {"get_slave_eeprom_info 1003", "reply_error"},
        {"get_slave_errors_counters 1001", "5 0 0 0 0"},
        {"get_slave_errors_counters 1003", "reply_error"},
        {"get_slave_address nobody", "-1"},
        {"get_slave_address", "reply_error"},
        // The I/O module's inputs and outputs: 0x6000 and 0x7000, sub 1..8, one bit each.
        {"get_slave_input_index 1001 0", "24576"},
        {"get_slave_input_subindex 1001 7", "8"},
        {"get_slave_input_bitlength 1001 3", "1"},
        {"get_slave_output_index 1001 0", "28672"},
        {"get_slave_output_subindex 1001 0", "1"},
        // The drive: status word 16 bits, 0x6064 position; 0x607a target position.
        {"get_slave_input_index 1002 2", "24676"},
        {"get_slave_input_bitlength 1002 0", "16"},
        {"get_slave_output_index 1002 2", "24698"},
        {"get_slave_output_bitlength 1002 3", "32"},
        // One past the last entry answers -1; further on, or another address, fails.
        {"get_slave_input_index 1002 5", "4294967295"},
        {"get_slave_input_bitlength 1002 5", "-1"},
        {"get_slave_output_subindex 1002 4", "4294967295"},
        {"get_slave_input_index 1002 6", "reply_error"},
        {"get_slave_input_index 1002 -1", "reply_error"},
        {"get_slave_output_bitlength 1003 0", "reply_error"},
        {"get_slave_output_index 1001", "reply_error"},
        {"get_slave_output_index 1001 x", "reply_error"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ask(c.request), c.reply) << c.request;
    EXPECT_TRUE(contains(log(), "Error on get_slave_input_index_exec Attention: No Slave or Input found")) << log();
    EXPECT_TRUE(contains(log(), "Error on get_slave_output_bitlength_exec Attention: No Slave or Input found"));
}

TEST_F(BringUp, StateRequestsAreCheckedBeforeAnythingIsSent)
{
    write_demo_eni();
    ASSERT_EQ(ask("start_ethercat_master " + ENI, 30s), "started") << log();
    for (const char* refused : {"go_into_next_state 2", "go_into_next_state 0", "go_into_next_state 3",
                                "go_into_next_state 16", "go_into_next_state", "go_into_next_state two"}) {
        EXPECT_EQ(ask(refused), "reply_error") << refused;
        EXPECT_EQ(ask("get_master_ethercat_state"), "2") << refused;
    }
    EXPECT_TRUE(contains(log(), "Sorry, next state is not valid :(")) << log();
    EXPECT_TRUE(contains(al_status(1), "02 00")) << al_status(1);

    // PRE-OP to INIT by the master's PI commands, then INIT again (a warning only).
    EXPECT_EQ(ask("go_into_next_state 1", 30s), "reply_ok") << log();
    EXPECT_EQ(ask("get_master_ethercat_state"), "1");
    EXPECT_TRUE(contains(al_status(0), "01 00")) << al_status(0);
    EXPECT_TRUE(contains(al_status(1), "01 00")) << al_status(1);
    EXPECT_EQ(ask("go_into_next_state 1"), "reply_ok");
    EXPECT_TRUE(contains(log(), "\tdesired state == actual state"));
    // And up again.
    EXPECT_EQ(ask("go_into_next_state 2", 30s), "reply_ok") << log();
    EXPECT_EQ(ask("get_master_ethercat_state"), "2");
    EXPECT_TRUE(contains(al_status(1), "02 00")) << al_status(1);
}

TEST_F(BringUp, ASlaveStuckInInitFailsTheStartAfterItsValidationWindow)
{
    // Validation of the drive's PREOP: Retries 3, Timeout 200 ms.
    write_demo_eni({{"<Timeout>3000</Timeout>", "<Timeout>200</Timeout>"}});
    ASSERT_TRUE(contains(sim("refuse 1 2 0x0011"), "OK")) << sim("refuse 1 2 0x0011");
    std::vector<Datagram> sent;
    std::string reply;
    {
        Capture capture(m_segment.master_interface());
        reply = ask("start_ethercat_master " + ENI, 30s);
        sent = capture.decode();
    }
    EXPECT_EQ(reply, "start_only_valid_xml_data") << log();
    EXPECT_EQ(ask("get_system_state"), "4");
    // The intake's own record replaces the init command's.
    EXPECT_EQ(ask("get_last_system_error"), "4 20 1 0");
    EXPECT_EQ(ask("get_master_ethercat_state"), "1");
    const std::string text = log();
    EXPECT_TRUE(contains(text, " Attention: Frame read data no validate ")) << text;
    EXPECT_TRUE(contains(text, "ECM_Master::Slave addr -> 1002\n")) << text;
    EXPECT_TRUE(contains(text, "m_retries > cmd_to_send.retries_o_el")) << text;

    std::vector<double> reads;
    for (const Datagram& d : sent)
        if (d.cmd == 4 && d.adp == 1002 && d.ado == 0x0130)
            reads.push_back(d.time);
    ASSERT_GE(reads.size(), 6u) << describe(sent);
    // Sent 4 times about 10 ms apart, then every 100 ms until 3 x Timeout
    // has passed since its first send.
    for (std::size_t i = 1; i < reads.size(); ++i) {
        const double gap = reads[i] - reads[i - 1];
        if (i < 4) {
            EXPECT_GT(gap, 0.010) << i << "\n" << describe(sent);
            EXPECT_LT(gap, 0.060) << i << "\n" << describe(sent);
        } else {
            EXPECT_GT(gap, 0.100) << i << "\n" << describe(sent);
            EXPECT_LT(gap, 0.250) << i << "\n" << describe(sent);
        }
    }
    const double span = reads.back() - reads.front();
    EXPECT_GT(span, 0.600) << describe(sent) << text;
    EXPECT_LT(span, 0.900) << describe(sent);

    // The ENI stays loaded: once the slave may come up, a restart succeeds
    // without the path.
    ASSERT_TRUE(contains(sim("refuse 1 2 0"), "OK"));
    ASSERT_TRUE(contains(sim("state 1 1 0"), "OK"));
    EXPECT_EQ(ask("restart_master_comunication_with_slave", 30s), "restart_master_comunication_ok") << log();
    EXPECT_EQ(ask("get_system_state"), "3");
    EXPECT_EQ(ask("get_master_ethercat_state"), "2");
}

TEST_F(BringUp, LostRepliesEndAStateChangeInsteadOfHangingIt)
{
    write_demo_eni();
    ASSERT_EQ(ask("start_ethercat_master " + ENI, 30s), "started") << log();
    ASSERT_TRUE(contains(sim("drop_fraction 1"), "OK"));
    const auto begin = std::chrono::steady_clock::now();
    EXPECT_EQ(ask("go_into_next_state 1", 60s), "reply_error") << log();
    EXPECT_LT(std::chrono::steady_clock::now() - begin, 20s);
    const std::string error = ask("get_last_system_error");
    EXPECT_EQ(error.substr(0, 7), "4 21 4 ") << error;
    EXPECT_EQ(ask("get_master_ethercat_state"), "2");
    EXPECT_TRUE(contains(log(), " Attention: No Frame read after ")) << log();

    ASSERT_TRUE(contains(sim("drop_fraction 0"), "OK"));
    EXPECT_EQ(ask("go_into_next_state 1", 30s), "reply_ok") << log();
    EXPECT_EQ(ask("get_master_ethercat_state"), "1");
}

// A reply lost once: the init command is sent again and the state change
// goes on; the loss is logged, and no error stays recorded for a bus that
// works.
TEST_F(BringUp, ALostReplyThatASecondSendRecoversLeavesNoError)
{
    write_demo_eni();
    ASSERT_EQ(ask("start_ethercat_master " + ENI, 30s), "started") << log();
    ASSERT_TRUE(contains(sim("drop 1"), "OK"));
    EXPECT_EQ(ask("go_into_next_state 1", 30s), "reply_ok") << log();
    EXPECT_EQ(ask("get_master_ethercat_state"), "1");
    EXPECT_TRUE(contains(log(), " Attention: No Frame read ")) << log();
    EXPECT_EQ(ask("get_last_system_error"), "4 0 0 0");
}

// One reply lost to each single read of a start, from the slave count on:
// the read is sent again and the start goes on with what it reads.
TEST_F(BringUp, AStartSurvivesOneLostReplyToEachOfItsSingleReads)
{
    write_demo_eni();
    const struct {
        const char* drop;
        const char* read;
    } cases[] = {
        {"drop 1", "the slave count"},
        {"drop 1 0x0110", "a slave's DL status (topology)"},
        {"drop 1 0x0007", "a slave's port descriptor (topology)"},
        {"drop 1 0x0508", "EEPROM data (identity)"},
    };
    int starts = 0;
    for (const auto& c : cases) {
        ASSERT_EQ(sim(c.drop), "OK") << c.drop;
        EXPECT_EQ(ask("start_ethercat_master " + ENI, 30s), "started") << c.read << "\n" << log();
        ++starts;
        EXPECT_EQ(ask("get_master_ethercat_state"), "2") << c.read;
        EXPECT_EQ(ask("get_last_system_error"), "4 0 0 0") << c.read;
        EXPECT_EQ(ask("get_slave_eeprom_info 1002").rfind("5 130 768 ", 0), 0u) << c.read;
        // The I/O module between the master and the drive: two ports in use.
        EXPECT_EQ(count_of(log(), "get_topology() 2\n"), starts) << c.read;
        EXPECT_EQ(count_of(log(), "get_ptype() 0\n"), 0) << c.read;
    }
    ASSERT_EQ(sim("drop 1"), "OK");
    EXPECT_EQ(ask("get_slave_state_info 1002"), "4 2 2 0") << log();
}

namespace {
// The drive's control word, written into the output image as a client does.
void write_drive_control_word(uint16_t word)
{
    constexpr int DRIVE_BYTE = 27;
    const int fd = shm_open(ecm_shm::PDO_NAME, O_RDWR, 0);
    ASSERT_GE(fd, 0);
    void* p = mmap(nullptr, sizeof(Shared_Pdo_Mem_Region), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    close(fd);
    ASSERT_NE(p, MAP_FAILED);
    auto* pdo = static_cast<Shared_Pdo_Mem_Region*>(p);
    {
        Robust_Mutex mutex(&pdo->shm_mutex, "pdo");
        std::lock_guard<Robust_Mutex> lock(mutex);
        pdo->shm_buf_out[DRIVE_BYTE] = static_cast<uint8_t>(word);
        pdo->shm_buf_out[DRIVE_BYTE + 1] = static_cast<uint8_t>(word >> 8);
    }
    munmap(p, sizeof(Shared_Pdo_Mem_Region));
}

int number_of(const std::string& reply)
{
    return std::stoi(reply.substr(reply.rfind(' ') + 1));
}
}  // namespace

// A master killed in OP leaves the slaves in SAFE-OP with the watchdog's
// error and the drive, enabled until then, standing in Fault; the next
// master's start takes the slaves to INIT, acknowledging the error.
TEST_F(BringUpToOp, AStartAfterAMasterKilledInOpTakesTheSlavesThroughInitToPreop)
{
    write_demo_eni();
    ASSERT_EQ(ask("start_ethercat_master " + ENI, 30s), "started") << log();
    ASSERT_EQ(ask("go_into_next_state 8", 30s), "reply_ok") << log();
    for (const Cia402_Enable_Step& step : cia402_enable_steps_without_switch_on()) {
        write_drive_control_word(step.control);
        ASSERT_TRUE(eventually([&] { return (number_of(sim("get 1 0x6041 0")) & step.mask) == step.status; }, 10s))
            << step.control << ": " << sim("get 1 0x6041 0");
    }

    EXPECT_EQ(m_master->stop(20s, SIGKILL), 128 + SIGKILL);
    EXPECT_TRUE(eventually([&] { return contains(al_status(1), "14 00"); }, 10s)) << al_status(1);
    EXPECT_TRUE(eventually([&] { return (number_of(sim("get 1 0x6041 0")) & 0x4F) == 0x08; }, 10s))
        << sim("get 1 0x6041 0");
    EXPECT_EQ(sim("get 1 0x606C 0"), "OK 0");

    SetUp();
    EXPECT_EQ(ask("start_ethercat_master " + ENI, 30s), "started") << log();
    EXPECT_EQ(ask("get_master_ethercat_state"), "2");
    EXPECT_TRUE(contains(al_status(0), "02 00")) << al_status(0);
    EXPECT_TRUE(contains(al_status(1), "02 00")) << al_status(1);
    EXPECT_EQ(ask("go_into_next_state 8", 30s), "reply_ok") << log();
    EXPECT_TRUE(contains(al_status(1), "08 00")) << al_status(1);
    // The drive stays in Fault until a client resets it.
    EXPECT_EQ(number_of(sim("get 1 0x6041 0")) & 0x4F, 0x08) << sim("get 1 0x6041 0");
}

// A restart while the cycle runs stops it and takes the slaves through INIT,
// as a start does; the network then goes to OP again.
TEST_F(BringUpToOp, ARestartWhileTheCycleRunsTakesTheNetworkThroughInitToPreop)
{
    write_demo_eni();
    ASSERT_EQ(ask("start_ethercat_master " + ENI, 30s), "started") << log();
    ASSERT_EQ(ask("go_into_next_state 8", 30s), "reply_ok") << log();
    EXPECT_EQ(ask("restart_master_comunication_with_slave", 30s), "restart_master_comunication_ok") << log();
    EXPECT_EQ(ask("get_master_ethercat_state"), "2");
    EXPECT_TRUE(contains(al_status(1), "02 00")) << al_status(1);
    EXPECT_FALSE(contains(log(), "pthread_mutex_destroy error")) << log();
    EXPECT_EQ(ask("go_into_next_state 8", 30s), "reply_ok") << log();
    EXPECT_TRUE(contains(al_status(1), "08 00")) << al_status(1);
    EXPECT_EQ(ask("stop_ethercat_master", 30s), "stopped") << log();
    EXPECT_TRUE(contains(al_status(1), "01 00")) << al_status(1);
}

// The link walk gives the slaves temporary addresses: after it they answer
// at their ENI addresses again, in PRE-OP as after a start that walked a
// broken link; while the cycle runs the walk is refused.
TEST_F(BringUpToOp, AfterALinkWalkTheSlavesAnswerAtTheirEniAddresses)
{
    write_demo_eni();
    ASSERT_EQ(sim("link 0 1 down"), "OK");
    EXPECT_EQ(ask("start_ethercat_master " + ENI, 30s), "start_only_valid_xml_data") << log();
    ASSERT_EQ(sim("link 0 1 up"), "OK");
    ASSERT_EQ(ask("start_ethercat_master " + ENI, 30s), "started") << log();

    EXPECT_EQ(ask("check_slaves_link", 30s), "reply_ok") << log();
    EXPECT_EQ(ask("get_slave_state_info 1002"), "4 2 2 0");
    EXPECT_EQ(ask("go_into_next_state 8", 30s), "reply_ok") << log();
    EXPECT_TRUE(contains(al_status(1), "08 00")) << al_status(1);

    EXPECT_EQ(ask("check_slaves_link", 30s), "reply_error") << log();
    EXPECT_EQ(ask("get_master_ethercat_state"), "8");
    EXPECT_EQ(ask("get_last_system_error"), "4 0 0 0");
    const std::string stats = sim("stats");
    EXPECT_TRUE(eventually([&] { return sim("stats") != stats && contains(al_status(1), "08 00"); }, 5s))
        << al_status(1);
}

TEST_F(BringUp, ASecondStartTakesTheRunningNetworkToInitBeforeClearingIt)
{
    write_demo_eni();
    ASSERT_EQ(ask("start_ethercat_master " + ENI, 30s), "started") << log();
    ASSERT_EQ(ask("start_ethercat_master " + ENI, 30s), "started") << log();
    const std::string text = log();
    const std::size_t first = text.find("ECM_Master_Socket start_ecm_master() with ");
    const std::size_t second = text.find("ECM_Master_Socket start_ecm_master() with ", first + 1);
    ASSERT_NE(second, std::string::npos) << text;
    const std::size_t down = text.find("ECM_Master::from_preop_state_to_init_state( ... )", second);
    const std::size_t clear = text.find("ECM_Master:: clear_system ( ... ) !m_is_cleaned", second);
    EXPECT_NE(down, std::string::npos) << text;
    EXPECT_LT(down, clear) << text;
    EXPECT_EQ(ask("get_master_ethercat_state"), "2");
    Info_Memory info;
    EXPECT_EQ((*info).num_of_xml_slaves, 2);
}

TEST_F(BringUp, AnEniThatCannotBeReadIsRefusedAndNoShellSeesThePath)
{
    const struct {
        std::string path;
        std::string reply;
    } cases[] = {
        {"/tmp/missing_eni.xml", "ethercat_master_not_started"},
        {"/tmp/$(touch${IFS}/tmp/injected).xml", "ethercat_master_not_started"},
        {"/tmp/eni.xml;touch${IFS}/tmp/injected", "ethercat_master_not_started"},
        {"", "ethercat_master_not_started"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ask(("start_ethercat_master " + c.path), 30s), c.reply) << c.path;
        EXPECT_EQ(ask("get_system_state"), "4") << c.path;
        EXPECT_EQ(ask("get_master_ethercat_state"), "0") << c.path;
    }
    EXPECT_NE(access("/tmp/injected", F_OK), 0);
    EXPECT_EQ(ask("get_last_system_error"), "4 20 1 0");

    // The slave-information memory has rows for 100 slaves.
    std::string slaves;
    for (int i = 0; i < 101; ++i)
        slaves += "<Slave><Info><Name>s</Name><PhysAddr>" + std::to_string(1001 + i) +
                  "</PhysAddr><AutoIncAddr>0</AutoIncAddr><Physics>YY</Physics><VendorId>2</VendorId>"
                  "<ProductCode>1</ProductCode><RevisionNo>0</RevisionNo><SerialNo>0</SerialNo></Info></Slave>";
    write_file("/tmp/large_eni.xml",
               "<?xml version=\"1.0\"?>\n<EtherCATConfig><Config><Master><Info><Name>m</Name>"
               "<Destination>ffffffffffff</Destination><Source>000000000000</Source></Info>"
               "</Master>" +
                   slaves + "<Cyclic/><ProcessImage/></Config></EtherCATConfig>\n");
    EXPECT_EQ(ask("start_ethercat_master /tmp/large_eni.xml", 30s), "ethercat_master_not_started");
    EXPECT_TRUE(contains(log(), "Attention: the ENI lists 101 slaves, more than 100")) << log();

    // "#x" numbers are read as hexadecimal from the working copy.
    write_demo_eni({{"<Ado>#x0120</Ado>", "<Ado>#x0120</Ado>"}});
    ASSERT_EQ(ask("start_ethercat_master " + ENI, 30s), "started") << log();
    const std::string copy = read_file("/tmp/tmp_ethercat_slave_info.xml");
    EXPECT_FALSE(contains(copy, "#x"));
    EXPECT_TRUE(contains(copy, "<Ado>0x0120</Ado>"));
}

TEST_F(BringUpDioOnly, FewerSlavesThanTheEniListsFailTheStartWithoutAStateChange)
{
    write_demo_eni();
    EXPECT_EQ(ask("start_ethercat_master " + ENI, 30s), "start_only_valid_xml_data") << log();
    EXPECT_EQ(ask("get_system_state"), "4");
    EXPECT_EQ(ask("get_master_ethercat_state"), "0");
    EXPECT_EQ(ask("get_last_system_error"), "4 20 1 0");
    EXPECT_EQ(ask("get_slaves_number"), "1");
    const std::string text = log();
    EXPECT_TRUE(contains(text, "check_slave_active() 1\n")) << text;
    EXPECT_TRUE(contains(text, "m_slave.size() 2\n")) << text;
    EXPECT_TRUE(contains(al_status(0), "01 00")) << al_status(0);
    {
        Info_Memory info;
        EXPECT_EQ((*info).num_of_xml_slaves, 2);
        EXPECT_EQ((*info).num_of_active_slaves, 1);
    }
    // The identities were read for the log: the module's, the missing drive's not.
    EXPECT_EQ(ask("get_slave_eeprom_info 1001"), "5 3665 3344 1 0");
    EXPECT_EQ(ask("get_slave_eeprom_info 1002"), "reply_error");
    EXPECT_TRUE(contains(text, "--- Error reading eeprom on slave at pos: 2; incr number: 65535")) << text;
    // The ENI stays loaded for a restart, which fails the same way.
    EXPECT_EQ(ask("restart_master_comunication_with_slave", 30s), "start_only_valid_xml_data");
}

TEST_F(BringUp, AValidatedMasterCommandMeasuresItsWindowFromItsOwnFirstSend)
{
    // The master's "check INIT" validation: Retries 3, Timeout 200 ms.
    write_demo_eni({{"<Timeout>5000</Timeout>", "<Timeout>200</Timeout>"}});
    ASSERT_EQ(ask("start_ethercat_master " + ENI, 30s), "started") << log();
    // Long after the last command of the start, the drive refuses INIT.
    std::this_thread::sleep_for(1s);
    ASSERT_TRUE(contains(sim("refuse 1 1 0x0011"), "OK"));
    EXPECT_EQ(ask("go_into_next_state 1", 30s), "reply_error") << log();
    EXPECT_EQ(ask("get_master_ethercat_state"), "2");
    EXPECT_EQ(ask("get_last_system_error"), "4 21 5 0");
    const std::string text = log();
    const std::smatch match = [&] {
        std::smatch m;
        std::regex_search(text, m, std::regex("INF:\\] time_compare ([0-9]+)\n"));
        return m;
    }();
    ASSERT_EQ(match.size(), 2u) << text;
    const int elapsed = std::stoi(match[1]);
    EXPECT_GT(elapsed, 600) << text;
    EXPECT_LT(elapsed, 900) << text;
}

TEST_F(BringUp, AWorkingCounterThatNeverMatchesEndsAfterRetriesPlusAHundredAndOneSends)
{
    // The master's first IP command expects 3 slaves to answer; 2 do.
    write_demo_eni(
        {{"<DataLength>1</DataLength>\n          <Cnt>2</Cnt>", "<DataLength>1</DataLength>\n          <Cnt>3</Cnt>"}});
    ASSERT_TRUE(contains(read_file(ENI), "<DataLength>1</DataLength>\n          <Cnt>3</Cnt>"));
    std::vector<Datagram> sent;
    std::string reply;
    {
        Capture capture(m_segment.master_interface());
        reply = ask("start_ethercat_master " + ENI, 30s);
        sent = capture.decode();
    }
    EXPECT_EQ(reply, "start_only_valid_xml_data") << log();
    EXPECT_EQ(ask("get_master_ethercat_state"), "1");
    std::vector<double> reads;
    for (const Datagram& d : sent)
        if (d.cmd == 7 && d.adp == 0 && d.ado == 0x0000)
            reads.push_back(d.time);
    // Retries 3: 3 + 101 sends, 10 ms apart.
    ASSERT_EQ(reads.size(), 104u) << describe(sent);
    const double mean_gap = (reads.back() - reads.front()) / 103.0;
    EXPECT_GT(mean_gap, 0.010);
    EXPECT_LT(mean_gap, 0.030);
    const std::string text = log();
    EXPECT_TRUE(contains(text, " Attention: Frame read workcounter no correct ")) << text;
    // The slaves' error registers as plain lines.
    EXPECT_TRUE(contains(text, "\n---\n SLAVE add: 1001\n")) << text;
    EXPECT_TRUE(contains(text, "\n SLAVE add: 1002\n")) << text;
    EXPECT_TRUE(contains(text, "2 byte data_read at 0x134 ")) << text;
}

TEST_F(BringUp, ClosingTheConnectionTakesTheSlavesToInitAndClearsTheMaster)
{
    write_demo_eni();
    ASSERT_EQ(ask("start_ethercat_master " + ENI, 30s), "started") << log();
    EXPECT_EQ(ask("close_connection", 30s), "reply_error");
    EXPECT_EQ(ask("get_master_ethercat_state"), "0");
    EXPECT_TRUE(contains(al_status(0), "01 00")) << al_status(0);
    EXPECT_TRUE(contains(al_status(1), "01 00")) << al_status(1);
    EXPECT_EQ(ask("get_slave_address nobody"), "-1");
    EXPECT_EQ(ask("get_slave_input_index 1001 0"), "reply_error");
}

// A mailbox write whose reply is lost has reached the slave all the same:
// it is sent again with the same counter (the slave drops the duplicate) and
// the transfer, or the SAFE-OP step's CoE init commands, go on.
TEST_F(BringUpToOp, AMailboxExchangeSurvivesOneLostReply)
{
    write_demo_eni();
    ASSERT_EQ(ask("start_ethercat_master " + ENI, 30s), "started") << log();
    const struct {
        const char* drop;
        const char* reply;
    } cases[] = {
        {"drop 1 0x1000", "the write of the request"},
        {"drop 1 0x0805", "the write mailbox's status"},
        {"drop 1 0x080D", "the read mailbox's status"},
    };
    for (const auto& c : cases) {
        ASSERT_EQ(sim(c.drop), "OK") << c.drop;
        EXPECT_EQ(ask("get_data_via_sdo 1002 4120 1 4"), "130 0 0 0") << c.reply << "\n" << log();
    }
    ASSERT_EQ(sim("drop 1 0x1000"), "OK");
    EXPECT_EQ(ask("go_into_next_state 4", 30s), "reply_ok") << log();
    EXPECT_EQ(ask("get_master_ethercat_state"), "4");
    ASSERT_EQ(ask("stop_ethercat_master", 30s), "stopped") << log();
}
