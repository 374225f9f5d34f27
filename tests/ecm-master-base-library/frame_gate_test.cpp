// While a cyclic exchange runs, acyclic frames go out only in the first half
// of the period after each cyclic frame. A slow test cycle (100 ms) keeps the
// margins wide; the test's threads run at a real-time priority and place
// their frames from the times the cyclic frames actually went, so that a
// busy machine does not move a frame across a window's edge.
#include <gtest/gtest.h>

#include <pthread.h>
#include <sched.h>

#include <array>
#include <atomic>
#include <chrono>
#include <ctime>
#include <thread>
#include <vector>

#include "ethercatbase.h"
#include "ethercatmain.h"
#include "nicdrv.h"
#include "raw_peer.h"

namespace {
constexpr long PERIOD_NS = 100000000;

timespec plus_ns(timespec t, long ns)
{
    t.tv_nsec += ns;
    while (t.tv_nsec >= 1000000000) {
        t.tv_nsec -= 1000000000;
        t.tv_sec += 1;
    }
    return t;
}

// SCHED_FIFO for the calling thread and the threads it starts from now on,
// SCHED_OTHER again at the end of the scope.
class Fifo_Scope {
public:
    explicit Fifo_Scope(int priority)
    {
        const sched_param parameter{priority};
        if (pthread_setschedparam(pthread_self(), SCHED_FIFO, &parameter) != 0)
            ADD_FAILURE() << "SCHED_FIFO refused";
    }
    ~Fifo_Scope()
    {
        const sched_param parameter{0};
        pthread_setschedparam(pthread_self(), SCHED_OTHER, &parameter);
    }
    Fifo_Scope(const Fifo_Scope&) = delete;
    Fifo_Scope& operator=(const Fifo_Scope&) = delete;
};

// A cyclic thread: one process-data frame (an LRW) per period from start.
class Test_Cycle {
public:
    static constexpr int MAX_CYCLES = 8;

    explicit Test_Cycle(int cycles)
    {
        timespec start{};
        clock_gettime(CLOCK_MONOTONIC, &start);
        start = plus_ns(start, 20000000);
        m_thread = std::thread([this, cycles, start] {
            uint8_t outputs[4] = {};
            const Cycle_Command_Struct command{EC_CMD_LRW, 0, 0, 4, 0, outputs, 0, 1};
            std::vector<uint8_t> image(4096);
            for (int k = 0; k < cycles && k < MAX_CYCLES && !m_stop; ++k) {
                const timespec at = plus_ns(start, k * PERIOD_NS);
                clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &at, nullptr);
                clock_gettime(CLOCK_MONOTONIC, &m_sent[k]);
                if (ec_send_receive_cycle_processdata(&command, 1, image.data(), PERIOD_NS, 20000) > 0)
                    ++m_done;
            }
        });
    }
    ~Test_Cycle()
    {
        m_stop = true;
        m_thread.join();
    }

    // Waits (up to 5 s) until cycle k's frame has been answered, then sleeps
    // until offset_ns after it was sent.
    [[nodiscard]] bool sleep_after_frame(int k, long offset_ns) const
    {
        const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (m_done <= k) {
            if (std::chrono::steady_clock::now() > give_up)
                return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        const timespec at = plus_ns(m_sent[k], offset_ns);
        clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &at, nullptr);
        return true;
    }
    int done() const { return m_done; }

private:
    std::array<timespec, MAX_CYCLES> m_sent{};
    std::atomic<bool> m_stop{false};
    std::atomic<int> m_done{0};  // written after m_sent[k]: a reader that sees it sees the time
    std::thread m_thread;
};

// Commands of the frames the peer saw, in order.
std::vector<uint8_t> commands_seen(const Raw_Peer& peer)
{
    std::vector<uint8_t> result;
    for (const Seen_Frame& frame : peer.frames())
        result.push_back(frame.bytes[16]);
    return result;
}

class FrameGate : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(ec_setupnic(m_veth.master_end().c_str()), 0); }
    void TearDown() override { ec_closenic(); }

    Fifo_Scope m_fifo{50};  // first: the peer's and the cycle's threads inherit it
    ecat_sim::Veth_Pair m_veth{"ecm0", "ecm1"};
    Raw_Peer m_peer{m_veth.segment_end(), counting_slaves(1)};
};
}  // namespace

TEST_F(FrameGate, WithoutCyclicExchangeAcyclicFramesGoAtOnce)
{
    uint8_t data[2] = {};
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(ec_BRD(0, 0x0130, 2, data, 20000, 0), 1);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(50));
}

TEST_F(FrameGate, AcyclicFramesWaitForTheWindowAfterTheNextCyclicFrame)
{
    Test_Cycle cycle(4);
    uint8_t data[2] = {};

    // Inside the window of cycle 1: goes at once, before cycle 2's frame.
    ASSERT_TRUE(cycle.sleep_after_frame(1, 10000000));
    EXPECT_EQ(ec_BRD(0, 0x0130, 2, data, 20000, 0), 1);
    EXPECT_EQ(commands_seen(m_peer), (std::vector<uint8_t>{EC_CMD_LRW, EC_CMD_LRW, EC_CMD_BRD}));

    // Past the window of cycle 1: held until cycle 2's frame has gone.
    ASSERT_TRUE(cycle.sleep_after_frame(1, 60000000));
    EXPECT_EQ(ec_BRD(0, 0x0130, 2, data, 20000, 0), 1);
    EXPECT_EQ(commands_seen(m_peer),
              (std::vector<uint8_t>{EC_CMD_LRW, EC_CMD_LRW, EC_CMD_BRD, EC_CMD_LRW, EC_CMD_BRD}));

    // A priority command is not held.
    ASSERT_TRUE(cycle.sleep_after_frame(2, 60000000));
    EXPECT_EQ(ec_FPRD(0x1001, 0x0130, 2, data, 1000, 1), 1);
    EXPECT_EQ(commands_seen(m_peer).back(), EC_CMD_FPRD);
    EXPECT_EQ(commands_seen(m_peer).size(), 6u);
}

TEST_F(FrameGate, StoppingTheCyclicExchangeReleasesAWaitingSender)
{
    {
        Test_Cycle cycle(1);
        while (cycle.done() < 1)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ASSERT_TRUE(ec_cyclic_is_running());
    std::this_thread::sleep_for(std::chrono::milliseconds(60));

    // The window has long passed: the sender waits for a cyclic frame that
    // never comes, until the exchange is declared stopped.
    std::atomic<int> result{-100};
    std::thread sender([&result] {
        uint8_t data[2] = {};
        result = ec_BRD(0, 0x0130, 2, data, 20000, 0);
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    EXPECT_EQ(result, -100);
    ec_stop_cyclic_frame();
    sender.join();
    EXPECT_EQ(result, 1);
    EXPECT_FALSE(ec_cyclic_is_running());

    // Ungated from now on.
    uint8_t data[2] = {};
    EXPECT_EQ(ec_BRD(0, 0x0130, 2, data, 20000, 0), 1);
}
