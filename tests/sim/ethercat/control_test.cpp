// Scripting over the control socket, the log, and the ecatsim program
// started as a child process on a veth pair.

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <thread>

#include "test_master.h"

namespace {

const char* const TWO = "slave io1 device=dio\nslave io2 device=dio\n";

class Control : public Segment_Test {
protected:
    bool answered(uint16_t ado = 0x0130)
    {
        std::vector<Datagram> frame(1);
        frame[0].command = 7;
        frame[0].ado = ado;
        frame[0].data.assign(2, 0);
        return master().try_exchange(frame, std::chrono::milliseconds(30));
    }
};

std::string read_text(const std::string& path)
{
    std::ifstream file(path);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

bool wait_for_text(const std::string& path, const std::string& text, std::chrono::milliseconds timeout)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < deadline) {
        if (read_text(path).find(text) != std::string::npos) {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return false;
}

}  // namespace

TEST_F(Control, dropped_delayed_and_corrupted_replies)
{
    start(TWO);
    EXPECT_EQ(control("drop 2"), "OK");
    EXPECT_FALSE(answered());
    EXPECT_FALSE(answered());
    EXPECT_TRUE(answered());

    EXPECT_EQ(control("drop_fraction 1"), "OK");
    EXPECT_FALSE(answered());
    EXPECT_EQ(control("drop_fraction 0"), "OK");
    EXPECT_TRUE(answered());

    EXPECT_EQ(control("delay 5000"), "OK");
    const auto sent = std::chrono::steady_clock::now();
    EXPECT_TRUE(answered());
    EXPECT_GE(std::chrono::steady_clock::now() - sent, std::chrono::milliseconds(5));
    EXPECT_EQ(control("delay 0"), "OK");

    EXPECT_EQ(control("corrupt_wkc 1"), "OK");
    EXPECT_EQ(master().read(7, 0, 0x0130, 2).wkc, 3);
    EXPECT_EQ(master().read(7, 0, 0x0130, 2).wkc, 2);

    const std::string stats = control("stats");
    unsigned long received = 0, replied = 0, dropped = 0;
    ASSERT_EQ(std::sscanf(stats.c_str(), "OK received %lu answered %lu dropped %lu", &received, &replied, &dropped), 3)
        << stats;
    EXPECT_EQ(received, 8u);
    EXPECT_EQ(replied, 5u);
    EXPECT_EQ(dropped, 3u);
}

TEST_F(Control, drops_can_be_aimed_at_one_register)
{
    start(TWO);
    EXPECT_EQ(control("drop 2 0x0120"), "OK");
    EXPECT_TRUE(answered(0x0130));
    EXPECT_FALSE(answered(0x0120));
    EXPECT_TRUE(answered(0x0130));
    EXPECT_FALSE(answered(0x0120));
    EXPECT_TRUE(answered(0x0120));
    // A plain drop takes any frame again.
    EXPECT_EQ(control("drop 1"), "OK");
    EXPECT_FALSE(answered(0x0130));
    EXPECT_TRUE(answered(0x0130));
}

TEST_F(Control, faulty_commands_are_refused)
{
    start(TWO);
    const char* const refused[] = {"",
                                   "fly",
                                   "drop",
                                   "drop x",
                                   "drop 1 0x10000",
                                   "drop 1 -1",
                                   "drop_fraction 2",
                                   "state 2 OP 0",
                                   "set 0 0x9999 1 1",
                                   "read 0 0x20000 2",
                                   "link 0 0 down",
                                   "sdo_log 0",
                                   "warning 0 on",
                                   "log everything"};
    for (const char* command : refused) {
        EXPECT_EQ(control(command).rfind("ERR ", 0), 0u) << command;
    }
    EXPECT_EQ(control("read 0 0x0000 2"), "OK 98 01") << "ESC type and revision";
}

TEST_F(Control, datagrams_and_transitions_are_logged_when_asked)
{
    ecat_sim::Sim_Options options = ecat_sim::Veth_Segment::default_options();
    options.log_path = "/tmp/ecatsim_test.log";
    start(TWO, options);
    master().assign_stations(2);
    EXPECT_FALSE(wait_for_text(options.log_path, "datagram", std::chrono::milliseconds(30))) << "off by default";
    EXPECT_EQ(control("log all"), "OK");
    master().read(7, 0, 0x0130, 2);
    master().request_state(0x1002, 0x0002);
    EXPECT_TRUE(wait_for_text(options.log_path, "datagram BRD index", std::chrono::seconds(2)));
    EXPECT_TRUE(wait_for_text(options.log_path, "adp 0x0002 ado 0x0130 length 2 wkc 2", std::chrono::seconds(2)));
    EXPECT_TRUE(wait_for_text(options.log_path, "slave 1 AL 1 -> 2 code 0x0000", std::chrono::seconds(2)));
}

TEST(Ecatsim_Program, prints_one_ready_line_answers_and_stops_cleanly)
{
    ecat_sim::Veth_Pair veth;
    const std::string config = "/tmp/ecatsim_segment.conf";
    std::ofstream(config) << "control_port 6123\nslave io1 device=dio\nslave drive device=cia402\n";
    const std::string out = "/tmp/ecatsim_out.txt";
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        const int fd = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        dup2(fd, 1);
        dup2(fd, 2);
        execl(ECATSIM_BINARY, "ecatsim", veth.segment_end().c_str(), config.c_str(), "--blocking", "--priority", "0",
              static_cast<char*>(nullptr));
        _exit(127);
    }
    ASSERT_TRUE(wait_for_text(out, "ecatsim ready on ecat1: 2 slaves, control port 6123\n", std::chrono::seconds(10)))
        << read_text(out);
    ecat_sim::Raw_Ethernet_Socket socket(veth.master_end());
    std::vector<uint8_t> frame = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 1,    1, 1, 1, 1, 1, 0x88, 0xA4, 0x0E,
                                  0x10, 7,    0,    0,    0,    0x30, 0x01, 2, 0, 0, 0, 0, 0,    0,    0};
    socket.send(frame.data(), frame.size());
    std::vector<uint8_t> reply(1600);
    const size_t size = socket.receive(reply.data(), reply.size(), std::chrono::seconds(1));
    ASSERT_EQ(size, frame.size());
    EXPECT_EQ(get_le16(reply, 28), 2);
    ecat_sim::Sim_Control_Client client(6123);
    EXPECT_EQ(client.request("stats").rfind("OK received 1 answered 1", 0), 0u);
    kill(child, SIGTERM);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(read_text(out), "ecatsim ready on ecat1: 2 slaves, control port 6123\n") << "one line only";
}

TEST(Ecatsim_Program, a_faulty_description_ends_with_status_1)
{
    ecat_sim::Veth_Pair veth;
    const std::string config = "/tmp/ecatsim_bad.conf";
    std::ofstream(config) << "slave io1 device=toaster\n";
    const std::string out = "/tmp/ecatsim_bad.txt";
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        const int fd = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        dup2(fd, 1);
        dup2(fd, 2);
        execl(ECATSIM_BINARY, "ecatsim", veth.segment_end().c_str(), config.c_str(), "--blocking",
              static_cast<char*>(nullptr));
        _exit(127);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 1);
    EXPECT_EQ(read_text(out), "ecatsim: [Segment_Config][parse] line 1: unknown device toaster\n");
}
