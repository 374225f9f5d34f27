// The robot-state follower against the robotsim process.
#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>
#include <vector>

#include "eventually.h"
#include "robotsim_child.h"
#include "rtde_interface.h"
#include "stdout_capture.h"
#include "thrown_text.h"

namespace {
using namespace std::chrono_literals;

constexpr int PORT = rtde_client::RTDE_PORT;
constexpr int CONTROL_PORT = 30005;

struct Seen {
    Robot_Program_Status status;
    bool running;
    bool safeguard;
    bool operator==(const Seen& o) const
    {
        return status == o.status && running == o.running && safeguard == o.safeguard;
    }
};

// What the callback saw of the follower, one entry per call.
std::mutex g_seen_mutex;
std::vector<Seen> g_seen;
RtdeInterface* g_follower = nullptr;

void record_callback()
{
    const Seen seen{g_follower->get_robot_program_status(), g_follower->is_program_running(),
                    g_follower->is_safeguard_active()};
    std::lock_guard<std::mutex> lock(g_seen_mutex);
    g_seen.push_back(seen);
}

std::vector<Seen> seen()
{
    std::lock_guard<std::mutex> lock(g_seen_mutex);
    return g_seen;
}

std::size_t calls()
{
    return seen().size();
}

uint64_t sent(const Robotsim_Child& sim)
{
    return std::stoull(sim.control_ok_ex("count").substr(3));
}

double cpu_seconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) * 1e-6;
}

int count_of(const std::string& haystack, const std::string& needle)
{
    int count = 0;
    for (auto at = haystack.find(needle); at != std::string::npos; at = haystack.find(needle, at + 1))
        ++count;
    return count;
}

std::string read_whole_file(const std::string& path)
{
    std::ifstream file(path);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

int err_lines(const std::string& log)
{
    return count_of(log, " ERR] ");
}

// Seconds of the day of the log line that holds text (-1 when absent); the
// n-th such line when count is given.
double stamp_of(const std::string& log, const std::string& text, int nth = 0)
{
    std::istringstream lines(log);
    for (std::string line; std::getline(lines, line);) {
        if (line.find(text) == std::string::npos || nth-- > 0)
            continue;
        int h = 0, m = 0, ms = 0, s = 0;
        if (std::sscanf(line.c_str(), "[%*d-%*d-%*d %d:%d:%d.%d", &h, &m, &s, &ms) == 4)
            return h * 3600.0 + m * 60.0 + s + ms / 1000.0;
    }
    return -1;
}

class Follower : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::lock_guard<std::mutex> lock(g_seen_mutex);
        g_seen.clear();
    }

    void start_sim(const std::vector<std::string>& arguments = {})
    {
        m_sim = std::make_unique<Robotsim_Child>(PORT, CONTROL_PORT, arguments);
        m_sim->wait_ready_ex();
    }

    // A follower on the simulator with the recording callback, started.
    void start_follower()
    {
        m_follower = std::make_unique<RtdeInterface>("127.0.0.1", PORT, 125, true);
        g_follower = m_follower.get();
        m_follower->set_function_pointer(&record_callback);
        m_follower->init();
    }

    // Stream held and every package sent has arrived: the callbacks stand still.
    void hold_and_settle()
    {
        m_sim->control_ok_ex("hold");
        std::size_t last = calls();
        ASSERT_TRUE(eventually(
            [&] {
                std::this_thread::sleep_for(50ms);
                const std::size_t now = calls();
                const bool still = now == last;
                last = now;
                return still;
            },
            5000ms));
    }

    void TearDown() override
    {
        m_follower.reset();
        g_follower = nullptr;
        if (m_sim) {
            EXPECT_EQ(m_sim->stop(), 0) << m_sim->log();
        }
    }

    std::unique_ptr<Robotsim_Child> m_sim;
    std::unique_ptr<RtdeInterface> m_follower;
};

TEST_F(Follower, StatusLinesFlagsAndOneCallbackPerPackageAfterTheUpdate)
{
    start_sim();
    Stdout_Capture out;
    start_follower();
    ASSERT_TRUE(eventually([] { return calls() > 0; }));
    hold_and_settle();
    const std::size_t calls_before = calls();
    const uint64_t sent_before = sent(*m_sim);

    // runtime_state 1, 1, 2, 2, 4; robot_status_bits 1 or 3; safety_status_bits 16 or 8.
    m_sim->control_ok_ex("script 1,1,1 1,1,1 2,8,3 2,16,3 4,8,1");
    m_sim->control_ok_ex("resume");
    ASSERT_TRUE(eventually([&] { return calls() >= calls_before + 20; }));
    hold_and_settle();
    EXPECT_EQ(calls() - calls_before, sent(*m_sim) - sent_before);

    const std::vector<Seen> all = seen();
    const std::vector<Seen> script(all.begin() + static_cast<long>(calls_before),
                                   all.begin() + static_cast<long>(calls_before) + 5);
    const std::vector<Seen> expected{{ROBOT_STOPPED, false, false},
                                     {ROBOT_STOPPED, false, false},
                                     {ROBOT_PLAYING, true, false},
                                     {ROBOT_PLAYING, true, true},
                                     {ROBOT_PAUSED, false, false}};
    EXPECT_EQ(script, expected);
    EXPECT_EQ(m_follower->get_robot_program_status(), ROBOT_PAUSED);

    const std::string log = out.text();
    EXPECT_EQ(count_of(log, "Robot program status is: "), 3) << log;
    EXPECT_EQ(count_of(log, "[rtde_interface][cyclic_rtde_thread_fun] : Robot program status is: 1 (is_running = 0)"),
              1);
    EXPECT_EQ(count_of(log, "[rtde_interface][cyclic_rtde_thread_fun] : Robot program status is: 2 (is_running = 1)"),
              1);
    EXPECT_EQ(count_of(log, "[rtde_interface][cyclic_rtde_thread_fun] : Robot program status is: 4 (is_running = 0)"),
              1);
    EXPECT_EQ(err_lines(log), 0) << log;
}

TEST_F(Follower, StartRefusedTwiceWaitsAboutASecondEachTime)
{
    start_sim();
    m_sim->control_ok_ex("refuse_start 2");
    Stdout_Capture out;
    start_follower();
    const std::string log = out.text();
    const std::string waiting = "[rtde_interface][start_rtde] : waiting for start...";
    EXPECT_EQ(count_of(log, waiting), 2) << log;
    const double first = stamp_of(log, waiting, 0);
    const double second = stamp_of(log, waiting, 1);
    EXPECT_NEAR(second - first, 1.0, 0.3) << log;
    EXPECT_GT(stamp_of(log, "[rtde_interface][start_rtde] : RTDE started!"), second);
    EXPECT_TRUE(eventually([] { return calls() > 0; }));
}

TEST_F(Follower, TextMessagesChangeNothing)
{
    start_sim();
    m_sim->control_ok_ex("text_before_reply hello before a reply");
    Stdout_Capture out;
    start_follower();
    ASSERT_TRUE(eventually([] { return calls() > 0; }));
    m_sim->control_ok_ex("state 2 0 3");
    for (int i = 0; i < 5; ++i)
        m_sim->control_ok_ex("text message " + std::to_string(i) + " between packages");
    m_sim->control_ok_ex("text_before_reply once more");
    const std::size_t before = calls();
    ASSERT_TRUE(eventually([&] { return calls() > before + 20; }));
    EXPECT_EQ(m_follower->get_robot_program_status(), ROBOT_PLAYING);
    EXPECT_TRUE(m_follower->is_program_running());
    const std::string log = out.text();
    EXPECT_EQ(count_of(log, "waiting for start"), 0) << log;
    EXPECT_EQ(err_lines(log), 0) << log;
}

TEST_F(Follower, ControllerVersionReadsBack)
{
    start_sim({"--controller-version", "3.15.7.106"});
    m_sim->control_ok_ex("text_before_reply a text first");
    rtde_client::RTDE client("127.0.0.1", PORT, false);
    client.connect();
    EXPECT_EQ(client.getControllerVersion(), std::make_tuple(3u, 15u, 7u, 106u));
    m_sim->control_ok_ex("version 5 4 3 2");
    EXPECT_EQ(client.getControllerVersion(), std::make_tuple(5u, 4u, 3u, 2u));
}

// ---- refusals --------------------------------------------------------------

struct Refusal {
    const char* name;
    const char* command;     // to the simulator before init; "" none
    bool first_follower;     // another follower holds the inputs already
    const char* address;     // of the follower
    const char* init_error;  // thrown by init; "" none
    const char* log_error;   // ERR line of the follower; "" none
};

const Refusal REFUSALS[] = {
    {"VersionRefused", "refuse_version on", false, "127.0.0.1",
     "[rtde_interface][init] : the controller refused RTDE protocol version 2", ""},
    {"InputInUse", "", true, "127.0.0.1",
     "One of the RTDE input registers are already in use! Currently you must disable the EtherNet/IP adapter, "
     "PROFINET or any MODBUS unit configured on the robot. This might change in the future.",
     ""},
    {"InputHeldByTheController", "hold_input input_int_register_0", false, "127.0.0.1",
     "One of the RTDE input registers are already in use!", ""},
    {"UnknownOutputName", "unknown safety_status_bits", false, "127.0.0.1", "",
     "[rtde_interface][rtde_thread] : output recipe refused, variable not found: safety_status_bits"},
    {"TypeNobodyKnows", "retype runtime_state FOO", false, "127.0.0.1", "",
     "[rtde_interface][rtde_thread] : output recipe refused, type not asked for: runtime_state FOO (UINT32 asked)"},
    {"TypeNotAskedFor", "retype robot_status_bits VECTOR6D", false, "127.0.0.1", "",
     "[rtde_interface][rtde_thread] : output recipe refused, type not asked for: robot_status_bits VECTOR6D (UINT32 "
     "asked)"},
    {"NobodyListening", "", false, "127.0.0.2", "Error: Could not connect to: 127.0.0.2 at 30004, verify the IP", ""},
};

void PrintTo(const Refusal& r, std::ostream* os)
{
    *os << r.name;
}

class Refusals : public Follower, public ::testing::WithParamInterface<Refusal> {};

TEST_P(Refusals, AreReportedAndNothingIsDecoded)
{
    const Refusal& r = GetParam();
    start_sim({"--dump", "/tmp/received.dump"});
    if (*r.command != '\0')
        m_sim->control_ok_ex(r.command);
    std::unique_ptr<RtdeInterface> first;
    if (r.first_follower) {
        first = std::make_unique<RtdeInterface>("127.0.0.1", PORT, 125, false);
        first->init();
    }
    Stdout_Capture out;
    RtdeInterface follower(r.address, PORT, 125, false);
    g_follower = &follower;
    follower.set_function_pointer(&record_callback);
    const std::string thrown = thrown_text([&] { follower.init(); });
    if (*r.init_error != '\0') {
        EXPECT_EQ(thrown.rfind(r.init_error, 0), 0u) << thrown;
    } else {
        EXPECT_EQ(thrown, "<nothing thrown>");
    }
    if (*r.log_error != '\0') {
        EXPECT_TRUE(eventually([&] { return out.text().find(r.log_error) != std::string::npos; })) << out.text();
    }

    // Whatever the simulator streams from now on is not decoded.
    m_sim->control_ok_ex("state 2 16 3");
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(calls(), 0u);
    EXPECT_EQ(follower.get_robot_program_status(), ROBOT_STATE_NULL);
    EXPECT_EQ(err_lines(out.text()), *r.log_error != '\0' ? 1 : 0) << out.text();

    if (std::string(r.name) == "VersionRefused") {
        // the version request was the last thing the follower sent
        const std::string dump = read_whole_file("/tmp/received.dump");
        EXPECT_EQ(dump, "1 00 05 56 00 02\n");
    }
    m_follower.reset();
    g_follower = nullptr;
}

INSTANTIATE_TEST_SUITE_P(Table, Refusals, ::testing::ValuesIn(REFUSALS),
                         [](const ::testing::TestParamInfo<Refusal>& p) { return std::string(p.param.name); });

// ---- losses and odd packages -------------------------------------------------

struct Loss {
    const char* name;
    const char* command;
    const char* error;  // in the one ERR line
};

const Loss LOSSES[] = {
    {"CloseBetweenPackages", "close between", "[RTDE][receive] connection closed by the controller;"},
    {"CloseInsideAPackage", "close inside", "[RTDE][receive] connection closed by the controller inside a package"},
    {"SizeBelowThree", "send tiny", "[RTDE][receive] package size 2 below 3: framing lost"},
};

void PrintTo(const Loss& l, std::ostream* os)
{
    *os << l.name;
}

class Losses : public Follower, public ::testing::WithParamInterface<Loss> {};

TEST_P(Losses, EndTheReadingWithOneErrLineAndNoSpin)
{
    const Loss& l = GetParam();
    start_sim();
    Stdout_Capture out;
    start_follower();
    ASSERT_TRUE(eventually([] { return calls() > 10; }));
    m_sim->control_ok_ex("state 1 0 1");
    ASSERT_TRUE(eventually([&] { return m_follower->get_robot_program_status() == ROBOT_STOPPED; }));
    // The next values would be decoded if anything were read after the loss.
    m_sim->control_ok_ex("hold");
    m_sim->control_ok_ex("state 4 16 3");
    m_sim->control_ok_ex(l.command);
    ASSERT_TRUE(eventually([&] { return err_lines(out.text()) > 0; })) << out.text();
    const std::size_t calls_at_loss = calls();
    const double cpu_at_loss = cpu_seconds();
    std::this_thread::sleep_for(2s);
    EXPECT_LT(cpu_seconds() - cpu_at_loss, 0.050);
    EXPECT_EQ(calls(), calls_at_loss);
    EXPECT_EQ(m_follower->get_robot_program_status(), ROBOT_STOPPED);
    EXPECT_FALSE(m_follower->is_safeguard_active());
    const std::string log = out.text();
    EXPECT_EQ(err_lines(log), 1) << log;
    EXPECT_NE(log.find(l.error), std::string::npos) << log;
}

INSTANTIATE_TEST_SUITE_P(Table, Losses, ::testing::ValuesIn(LOSSES),
                         [](const ::testing::TestParamInfo<Loss>& p) { return std::string(p.param.name); });

TEST_F(Follower, PackagesOfAnotherLengthAreSkippedAndOddOnesDoNotStopTheReading)
{
    start_sim();
    Stdout_Capture out;
    start_follower();
    m_sim->control_ok_ex("state 1 0 1");
    ASSERT_TRUE(eventually([&] { return m_follower->get_robot_program_status() == ROBOT_STOPPED; }));
    hold_and_settle();
    const std::size_t before = calls();
    m_sim->control_ok_ex("state 2 16 3");
    for (const char* kind : {"short", "unknown", "oversized"})
        m_sim->control_ok_ex(std::string("send ") + kind);
    // The short and the oversized package are skipped, neither is decoded.
    ASSERT_TRUE(eventually([&] { return err_lines(out.text()) == 2; })) << out.text();
    const std::string log = out.text();
    EXPECT_EQ(count_of(log, "[rtde_interface][cyclic_rtde_thread_fun] : data package of 5 bytes, 13 expected: skipped"),
              1)
        << log;
    EXPECT_EQ(count_of(log,
                       "[rtde_interface][cyclic_rtde_thread_fun] : data package of 21 bytes, 13 expected: skipped"),
              1)
        << log;
    EXPECT_EQ(calls(), before);
    EXPECT_EQ(m_follower->get_robot_program_status(), ROBOT_STOPPED);
    EXPECT_FALSE(m_follower->is_safeguard_active());
    m_sim->control_ok_ex("resume");
    EXPECT_TRUE(eventually([&] { return calls() > before + 10 && seen().back() == Seen{ROBOT_PLAYING, true, true}; }));
}

TEST_F(Follower, DataPackagesOfAnotherRecipeAreSkipped)
{
    start_sim();
    Stdout_Capture out;
    start_follower();
    m_sim->control_ok_ex("state 1 0 1");
    ASSERT_TRUE(eventually([&] { return m_follower->get_robot_program_status() == ROBOT_STOPPED; }));
    hold_and_settle();
    const std::size_t before = calls();
    // Values of the right size under recipe 3: the empty recipe of the
    // start-up was 1, the follower's is 2.
    m_sim->control_ok_ex("state 2 16 3");
    m_sim->control_ok_ex("send foreign");
    ASSERT_TRUE(eventually([&] { return err_lines(out.text()) > 0; }, 20s)) << out.text();
    const std::string log = out.text();
    EXPECT_EQ(count_of(log, "[rtde_interface][cyclic_rtde_thread_fun] : data package of recipe 3, 2 expected: skipped"),
              1)
        << log;
    EXPECT_EQ(calls(), before);
    EXPECT_EQ(m_follower->get_robot_program_status(), ROBOT_STOPPED);
    EXPECT_FALSE(m_follower->is_program_running());
    EXPECT_FALSE(m_follower->is_safeguard_active());
    // The reading goes on: the follower's own recipe is decoded.
    m_sim->control_ok_ex("resume");
    EXPECT_TRUE(eventually([&] { return calls() > before && seen().back() == Seen{ROBOT_PLAYING, true, true}; }, 20s));
}

std::atomic<int> g_calls_until_throw{0};

void throwing_callback()
{
    record_callback();
    if (--g_calls_until_throw == 0)
        throw std::runtime_error("callback failed");
}

TEST_F(Follower, ExceptionOfTheCallbackEndsTheReadingWithItsText)
{
    start_sim();
    Stdout_Capture out;
    g_calls_until_throw = 5;
    m_follower = std::make_unique<RtdeInterface>("127.0.0.1", PORT, 125, true);
    g_follower = m_follower.get();
    m_follower->set_function_pointer(&throwing_callback);
    m_follower->init();
    ASSERT_TRUE(eventually([&] { return err_lines(out.text()) > 0; })) << out.text();
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(calls(), 5u);
    const std::string log = out.text();
    EXPECT_EQ(err_lines(log), 1) << log;
    EXPECT_NE(log.find("[rtde_interface][rtde_thread] : callback failed; reading stopped"), std::string::npos) << log;
}

TEST_F(Follower, ClientStreamsAgainAfterTheSimulatorRestarts)
{
    start_sim();
    rtde_client::RTDE client("127.0.0.1", PORT, false);
    const auto stream = [&] {
        client.connect();
        ASSERT_TRUE(client.negotiateProtocolVersion());
        ASSERT_TRUE(client.sendOutputSetup({"runtime_state", "safety_status_bits", "robot_status_bits"}, 500));
        client.sendStart();
        ASSERT_TRUE(client.isStarted());
        EXPECT_EQ(client.receiveData().size(), 13u);
    };
    stream();
    EXPECT_EQ(m_sim->stop(), 0);
    EXPECT_EQ(thrown_text([&] {
                  for (;;)
                      client.receiveData();
              }).rfind("[RTDE][receive] connection closed by the controller", 0),
              0u);
    start_sim();
    client.disconnect();
    stream();
    m_sim->control_ok_ex("state 4 16 3");
    EXPECT_TRUE(eventually([&] { return client.receiveData()[4] == 4; }));
}

// Threads of this process with that name.
int threads_named(const std::string& name)
{
    int count = 0;
    if (DIR* tasks = opendir("/proc/self/task")) {
        while (const dirent* task = readdir(tasks)) {
            std::ifstream comm(std::string("/proc/self/task/") + task->d_name + "/comm");
            std::string text;
            count += std::getline(comm, text) && text == name;
        }
        closedir(tasks);
    }
    return count;
}

TEST_F(Follower, ReadsOnItsNamedThreadWhichDestructionEndsQuietly)
{
    start_sim();
    Stdout_Capture out;
    EXPECT_EQ(threads_named("RTDE_THREAD"), 0);
    start_follower();
    ASSERT_TRUE(eventually([] { return calls() > 0; }));
    EXPECT_EQ(threads_named("RTDE_THREAD"), 1);
    m_follower.reset();
    EXPECT_EQ(threads_named("RTDE_THREAD"), 0);
    g_follower = nullptr;
    EXPECT_EQ(err_lines(out.text()), 0) << out.text();
    EXPECT_TRUE(eventually([&] { return m_sim->control_ok_ex("clients") == "OK 0"; }));
}

}  // namespace
