// busmaster as a child process on the simulated demo cell, fed what any
// local process may send it: start files that are no ENI, no regular file or
// too large, an ENI with a negative Validate Timeout, and stray datagrams in
// PRE-OP. Each is refused without exposing the file, without blocking the
// command server and without touching a configured bus; get_system_version
// is answered while and after each is served.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <memory>
#include <string>

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
const std::string ENI = "/tmp/demo_cell_eni.xml";
const std::string WORKING_COPY = "/tmp/tmp_ethercat_slave_info.xml";
constexpr off_t ENI_SIZE_LIMIT = 8 * 1024 * 1024;

bool contains(const std::string& haystack, const std::string& text)
{
    return haystack.find(text) != std::string::npos;
}

// The permission bits of path; -1 when it does not exist.
int mode_of(const std::string& path)
{
    struct stat st {};
    return lstat(path.c_str(), &st) == 0 ? static_cast<int>(st.st_mode & 07777) : -1;
}

// A client whose datagram is served while the test asks other things.
class Pending_Request {
public:
    explicit Pending_Request(const std::string& datagram) { m_client.send_ex(datagram); }
    std::string reply() { return reply_of(m_client); }

private:
    ClientSocket_Udp_ex m_client{ecm_protocol::CLIENT_ADDRESS, ecm_protocol::PORT, true, 10, 0};
};

class Untrusted_Input : public ::testing::Test {
protected:
    Untrusted_Input()
        : m_segment(ecat_sim::parse_segment_config(
                        "slave dio device=dio\nslave drive device=cia402 profile=infranor\n"),
                    simulated_segment_options())
    {
        write_system_config(CONFIG, m_segment.master_interface(), "127.0.0.1", "500");
    }
    void SetUp() override
    {
        m_master = std::make_unique<Child_Process>(BUSMASTER_BINARY, std::vector<std::string>{"-c", CONFIG}, LOG);
        m_master->wait_ready_ex(probe::udp_port(ecm_protocol::PORT), 10s);
    }
    void TearDown() override { EXPECT_EQ(m_master->stop(), 128 + SIGTERM) << m_master->log(); }

    std::string log() const { return m_master->log(); }
    // The demo cell in PRE-OP. A reply lost to the start's single read of
    // the slave count fails a start; these cases need the bus, not a first
    // start, so such a start is made again (three times at most).
    void start_bus()
    {
        write_eni();
        std::string reply;
        for (int attempt = 0; attempt < 3 && reply != "started"; ++attempt)
            reply = ask("start_ethercat_master " + ENI, 30s);
        ASSERT_EQ(reply, "started") << log();
    }
    std::string al_status(int pos) { return m_segment.simulator().execute("read " + std::to_string(pos) + " 0x130 2"); }
    // The demo cell's ENI with from replaced by to.
    void write_eni(const std::string& from = "", const std::string& to = "")
    {
        std::string text = read_file(DEMO_ENI);
        if (!from.empty())
            text.replace(text.find(from), from.size(), to);
        write_file(ENI, text);
    }
    // The start of path is refused while get_system_version is answered,
    // and the refusal's ERR line holds why.
    void expect_start_refused(const std::string& path, const std::string& why)
    {
        Pending_Request start("1#start_ethercat_master " + path + "\n");
        EXPECT_EQ(ask("get_system_version"), "32") << path;
        EXPECT_EQ(start.reply(), "1#ethercat_master_not_started") << path;
        EXPECT_TRUE(contains(log(), why)) << path << "\n" << log();
        EXPECT_EQ(mode_of(WORKING_COPY), -1) << path;
        EXPECT_EQ(ask("get_system_version"), "32") << path;
    }

    ecat_sim::Veth_Segment m_segment;
    std::unique_ptr<Child_Process> m_master;
};
}  // namespace

TEST_F(Untrusted_Input, TheWorkingCopyIsOwnerOnlyAndGoesWithAFileThatIsNoEni)
{
    write_file("/tmp/secret", "root: not an ENI\n");
    ASSERT_EQ(chmod("/tmp/secret", 0600), 0);
    expect_start_refused("/tmp/secret", "Could not parse file : " + WORKING_COPY);

    start_bus();
    EXPECT_EQ(mode_of(WORKING_COPY), 0600);
    EXPECT_EQ(ask("get_system_version"), "32");
}

TEST_F(Untrusted_Input, OnlyARegularFileWithinTheSizeLimitIsRead)
{
    ASSERT_EQ(mkfifo("/tmp/eni.fifo", 0600), 0);
    write_file("/tmp/large.xml", "");
    ASSERT_EQ(truncate("/tmp/large.xml", ENI_SIZE_LIMIT + 1), 0);
    const struct {
        std::string path;
        std::string why;
    } cases[] = {
        {"/tmp/eni.fifo", "/tmp/eni.fifo is not a regular file"},
        {"/dev/zero", "/dev/zero is not a regular file"},
        {"/tmp", "/tmp is not a regular file"},
        {"/tmp/large.xml", "/tmp/large.xml is larger than 8388608 bytes"},
        {"/tmp/missing.xml", "/tmp/missing.xml: No such file or directory"},
    };
    for (const auto& c : cases)
        expect_start_refused(c.path, c.why);

    // A file at the limit is read (and refused as no ENI).
    ASSERT_EQ(truncate("/tmp/large.xml", ENI_SIZE_LIMIT), 0);
    expect_start_refused("/tmp/large.xml", "Could not parse file : " + WORKING_COPY);
}

TEST_F(Untrusted_Input, ANegativeValidateTimeoutIsRefusedByTheReader)
{
    write_eni("<Timeout>5000</Timeout>", "<Timeout>-1</Timeout>");
    expect_start_refused(ENI, "Error value : Timeout => '-1' is out of range!");
    EXPECT_EQ(ask("get_master_ethercat_state"), "0");
}

TEST_F(Untrusted_Input, StrayDatagramsInPreopAreRefusedAndChangeNothing)
{
    start_bus();
    const struct {
        std::string datagram;
        std::string reply;
    } cases[] = {
        {"21#no_such_command\n", "21#reply_error"},
        {"22#Stop_ethercat_master\n", "22#reply_error"},
        {"23#stop_ethercat_master", "23#reply_error"},  // no line end
        {"24#\n", "24#reply_error"},
        {"\x01\x02\xff\n", "0#reply_error"},
    };
    for (const auto& c : cases) {
        Pending_Request stray(c.datagram);
        EXPECT_EQ(stray.reply(), c.reply) << c.datagram;
        EXPECT_EQ(ask("get_system_version"), "32") << c.datagram;
    }
    EXPECT_EQ(ask("get_master_ethercat_state"), "2");
    EXPECT_EQ(ask("get_slave_input_index 1001 0"), "24576");  // the ENI's tables are still there
    EXPECT_EQ(ask("get_system_state"), "3");
    EXPECT_TRUE(contains(al_status(0), "02 00")) << al_status(0);
    EXPECT_TRUE(contains(al_status(1), "02 00")) << al_status(1);
}
