// The base layer against the simulated segment on a veth pair: single
// datagrams of every kind with the working counters of three slaves, lost
// and late replies, and the gate while a test cycle runs.
#include <gtest/gtest.h>

#include <pthread.h>
#include <sched.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <ctime>
#include <thread>
#include <vector>

#include "ethercatbase.h"
#include "ethercatmain.h"
#include "nicdrv.h"
#include "segment_config.h"
#include "simulated_segment.h"
#include "veth_harness.h"

namespace {
using Clock = std::chrono::steady_clock;

const char* const LINE_OF_THREE =
    "slave io1 device=dio\n"
    "slave io2 device=dio\n"
    "slave io3 device=dio\n";

constexpr int TIMEOUT_US = 20000;

uint16_t le16(const uint8_t* p)
{
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

class SimExchange : public ::testing::Test {
protected:
    SimExchange() = default;
    explicit SimExchange(const ecat_sim::Sim_Options& options)
        : m_segment(ecat_sim::parse_segment_config(LINE_OF_THREE), options)
    {
    }
    void SetUp() override
    {
        ASSERT_EQ(ec_setupnic(m_segment.master_interface().c_str()), 0);
        for (uint16_t i = 0; i < 3; ++i) {
            uint8_t station[2] = {static_cast<uint8_t>(0x01 + i), 0x10};
            ASSERT_EQ(ec_APWR(static_cast<uint16_t>(0 - i), 0x0010, 2, station, TIMEOUT_US, 1), 1);
        }
    }
    void TearDown() override { ec_closenic(); }

    std::string control(const std::string& command) { return m_segment.simulator().execute(command); }

    int fpwr16(uint16_t station, uint16_t ado, uint16_t value)
    {
        uint8_t data[2] = {static_cast<uint8_t>(value & 0xff), static_cast<uint8_t>(value >> 8)};
        return ec_FPWR(station, ado, 2, data, TIMEOUT_US, 1);
    }
    uint16_t fprd16(uint16_t station, uint16_t ado)
    {
        uint8_t data[2] = {};
        EXPECT_EQ(ec_FPRD(station, ado, 2, data, TIMEOUT_US, 1), 1);
        return le16(data);
    }

    ecat_sim::Veth_Segment m_segment{ecat_sim::parse_segment_config(LINE_OF_THREE)};
};

void put_le(std::vector<uint8_t>& bytes, uint32_t value, int size)
{
    for (int i = 0; i < size; ++i)
        bytes.push_back(static_cast<uint8_t>(value >> (8 * i)));
}
}  // namespace

TEST_F(SimExchange, PhysicalAndBroadcastDatagramsCountTheSlavesTheyReach)
{
    struct Case {
        const char* name;
        int (*command)(uint16_t, uint16_t, uint16_t, void*, int, char);
        uint16_t adp;
        uint16_t value;  // written, or expected back
        int wkc;
        uint16_t back;
    };
    // The RAM word 0x1800 of every slave, then its station address register.
    const Case cases[] = {
        {"BWR all", ec_BWR, 0, 0x0001, 3, 0x0001},
        {"FPWR second", ec_FPWR, 0x1002, 0x0002, 1, 0x0002},
        {"FPRD second", ec_FPRD, 0x1002, 0, 1, 0x0002},
        {"FPRD nobody", ec_FPRD, 0x1009, 0x7777, 0, 0x7777},
        {"BRD ors all", ec_BRD, 0, 0, 3, 0x0003},
        {"APWR third", ec_APWR, 0xFFFE, 0x0004, 1, 0x0004},
        {"APRD third", ec_APRD, 0xFFFE, 0, 1, 0x0004},
        {"ARMW first to all", ec_ARMW, 0, 0, 3, 0x0001},
        {"FPWR second again", ec_FPWR, 0x1002, 0x0009, 1, 0x0009},
        {"FRMW second to all", ec_FRMW, 0x1002, 0, 3, 0x0009},
    };
    for (const Case& c : cases) {
        uint8_t data[2] = {static_cast<uint8_t>(c.value & 0xff), static_cast<uint8_t>(c.value >> 8)};
        EXPECT_EQ(c.command(c.adp, 0x1800, 2, data, TIMEOUT_US, 0), c.wkc) << c.name;
        EXPECT_EQ(le16(data), c.back) << c.name;
    }
    EXPECT_EQ(fprd16(0x1003, 0x1800), 0x0009);  // FRMW wrote behind the reader
    uint8_t station[2] = {};
    EXPECT_EQ(ec_APRD(0xFFFF, 0x0010, 2, station, TIMEOUT_US, 0), 1);
    EXPECT_EQ(le16(station), 0x1002);
}

TEST_F(SimExchange, LogicalDatagramsReachTheMappedProcessData)
{
    // io1: outputs in SM0 mapped at 0x10000, inputs in SM1 at 0x20000.
    const struct {
        uint16_t ado;
        std::vector<uint8_t> record;
    } registers[] = {
        {0x0800, {0x00, 0x10, 0x01, 0x00, 0x64, 0x00, 0x01, 0x00}},
        {0x0808, {0x80, 0x10, 0x01, 0x00, 0x20, 0x00, 0x01, 0x00}},
    };
    for (const auto& r : registers) {
        std::vector<uint8_t> record = r.record;
        ASSERT_EQ(ec_FPWR(0x1001, r.ado, static_cast<uint16_t>(record.size()), record.data(), TIMEOUT_US, 0), 1);
    }
    const struct {
        uint16_t ado;
        uint32_t logical;
        uint16_t physical;
        uint8_t type;
    } fmmus[] = {{0x0600, 0x10000, 0x1000, 0x02}, {0x0610, 0x20000, 0x1080, 0x01}};
    for (const auto& f : fmmus) {
        std::vector<uint8_t> record;
        put_le(record, f.logical, 4);
        put_le(record, 1, 2);
        record.push_back(0);
        record.push_back(7);
        put_le(record, f.physical, 2);
        record.push_back(0);
        record.push_back(f.type);
        record.push_back(1);
        put_le(record, 0, 3);
        ASSERT_EQ(ec_FPWR(0x1001, f.ado, 16, record.data(), TIMEOUT_US, 0), 1);
    }
    for (uint16_t state : {0x0002, 0x0004}) {
        ASSERT_EQ(fpwr16(0x1001, 0x0120, state), 1);
        ASSERT_EQ(fprd16(0x1001, 0x0130), state);
    }

    uint8_t outputs[1] = {0xA5};
    EXPECT_EQ(ec_LWR(0x00010000, 1, outputs, TIMEOUT_US, 0), 1);
    EXPECT_EQ(outputs[0], 0xA5);
    EXPECT_EQ(control("set 0 0x6000 2 1"), "OK");
    uint8_t scratch[1] = {};
    ec_LRW(0x00020000, 1, scratch, TIMEOUT_US, 0);  // the inputs are taken after this frame
    uint8_t inputs[1] = {};
    EXPECT_EQ(ec_LRD(0x00020000, 1, inputs, TIMEOUT_US, 0), 1);
    EXPECT_EQ(inputs[0], 0x02);
    uint8_t both[1] = {0x0F};
    EXPECT_EQ(ec_LRW(0x00010000, 1, both, TIMEOUT_US, 0), 2);  // a write FMMU counts 2
    uint8_t nothing[1] = {0x33};
    EXPECT_EQ(ec_LRD(0x00030000, 1, nothing, TIMEOUT_US, 0), 0);
    EXPECT_EQ(nothing[0], 0x33);
}

TEST_F(SimExchange, LostReplyGivesMinusOneAfterTheTimeOut)
{
    ASSERT_EQ(control("drop 1").rfind("OK", 0), 0u);
    uint8_t data[2] = {0x12, 0x34};
    const auto start = Clock::now();
    EXPECT_EQ(ec_FPRD(0x1001, 0x0130, 2, data, 30000, 0), EC_NO_FRAME);
    EXPECT_GE(Clock::now() - start, std::chrono::microseconds(30000));
    EXPECT_EQ(le16(data), 0x3412);
    EXPECT_EQ(ec_FPRD(0x1001, 0x0130, 2, data, TIMEOUT_US, 0), 1);
}

TEST_F(SimExchange, LateReplyIsDrainedOrDroppedNeverPaired)
{
    // Both requests have the same length: only the command and index tell
    // the late broadcast reply (3 slaves) from the station read (1 slave).
    for (const auto pause : {std::chrono::milliseconds(80), std::chrono::milliseconds(0)}) {
        ASSERT_EQ(control("delay 40000").rfind("OK", 0), 0u);
        uint8_t data[2] = {};
        EXPECT_EQ(ec_BRD(0, 0x0130, 2, data, 5000, 0), EC_NO_FRAME);
        ASSERT_EQ(control("delay 0").rfind("OK", 0), 0u);
        std::this_thread::sleep_for(pause);
        EXPECT_EQ(ec_FPRD(0x1002, 0x0130, 2, data, 200000, 0), 1) << pause.count();
    }
    EXPECT_GE(ec_get_dropcnt(), 1);  // the late reply that came during a wait
}

namespace {
// The window test measures tens of milliseconds: its threads and the
// simulator's run at real-time priority, so a loaded machine does not
// stretch them.
void run_at_fifo_priority(int priority)
{
    sched_param parameter{};
    parameter.sched_priority = priority;
    ASSERT_EQ(pthread_setschedparam(pthread_self(), SCHED_FIFO, &parameter), 0);
}

class SimExchangeWindow : public SimExchange {
protected:
    SimExchangeWindow() : SimExchange(simulated_segment_options()) {}
};
}  // namespace

TEST_F(SimExchangeWindow, AcyclicFramesAreHeldToTheWindowAfterACyclicFrame)
{
    constexpr long PERIOD_NS = 100000000;
    run_at_fifo_priority(50);
    timespec start{};
    clock_gettime(CLOCK_MONOTONIC, &start);
    start.tv_sec += 1;
    std::atomic<int> done{0};
    std::thread cycle([&] {
        run_at_fifo_priority(55);
        uint8_t outputs[2] = {};
        const Cycle_Command_Struct command{EC_CMD_BRD, 0, 0x0130, 2, 0, outputs, 0, 3};
        std::vector<uint8_t> image(4096);
        for (int k = 0; k < 4; ++k) {
            timespec at = start;
            at.tv_nsec += k * PERIOD_NS;
            at.tv_sec += at.tv_nsec / 1000000000;
            at.tv_nsec %= 1000000000;
            clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &at, nullptr);
            if (ec_send_receive_cycle_processdata(&command, 1, image.data(), PERIOD_NS, TIMEOUT_US) == 3)
                ++done;
        }
    });
    auto sleep_into = [&](int k, long offset_ns) {
        timespec at = start;
        at.tv_nsec += k * PERIOD_NS + offset_ns;
        at.tv_sec += at.tv_nsec / 1000000000;
        at.tv_nsec %= 1000000000;
        clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &at, nullptr);
    };
    uint8_t data[2] = {};

    sleep_into(1, 10000000);  // inside the window: at once
    ASSERT_EQ(done, 2);       // both cycles long done, at their priority
    auto asked = Clock::now();
    EXPECT_EQ(ec_FPRD(0x1001, 0x0130, 2, data, 1000, 0), 1);
    EXPECT_LT(Clock::now() - asked, std::chrono::milliseconds(30));

    sleep_into(1, 60000000);  // past it: after the frame of cycle 2
    asked = Clock::now();
    EXPECT_EQ(ec_FPRD(0x1001, 0x0130, 2, data, 1000, 0), 1);
    EXPECT_GE(Clock::now() - asked, std::chrono::milliseconds(30));
    // The cycle opens the window before its exchange returns and is counted,
    // so the count of cycle 2 may come a moment after the held frame.
    for (auto until = Clock::now() + std::chrono::milliseconds(20); done < 3 && Clock::now() < until;)
        std::this_thread::sleep_for(std::chrono::microseconds(100));
    EXPECT_GE(done, 3);

    sleep_into(2, 60000000);  // a priority command is not held
    asked = Clock::now();
    EXPECT_EQ(ec_FPRD(0x1001, 0x0130, 2, data, 1000, 1), 1);
    EXPECT_LT(Clock::now() - asked, std::chrono::milliseconds(30));
    cycle.join();
    EXPECT_EQ(done, 4);
}
