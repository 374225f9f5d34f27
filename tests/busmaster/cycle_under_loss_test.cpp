// busmaster as a child process in OP with soft real-time on, as the whole
// cell runs it, against the simulated demo cell on a veth pair: lost and
// late replies beside the cycle must leave the slaves in OP.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "busmaster_on_demo_cell.h"
#include "child_process.h"
#include "eventually.h"
#include "master_on_segment.h"
#include "master_request.h"
#include "segment_config.h"
#include "system_config.h"
#include "veth_harness.h"

namespace {
using namespace std::chrono_literals;

using demo_cell::CONFIG;
using demo_cell::contains;
using demo_cell::frames_received;

const std::string ENI = "/tmp/cycle_under_loss_eni.xml";

class Cycle_Under_Loss : public demo_cell::Busmaster_On_Demo_Cell {
protected:
    Cycle_Under_Loss() { write_file(ENI, read_file(DEFAULT_MAPPING_ENI)); }
    void SetUp() override
    {
        start_master({"-c", CONFIG, "-s", "5", "--max_consecutive_frame_faults", "1000"});
        ASSERT_EQ(ask("set_watchdog_off"), "reply_ok");
        ASSERT_EQ(ask("start_ethercat_master " + ENI, 30s), "started") << log();
        ASSERT_EQ(ask("go_into_next_state 8", 30s), "reply_ok") << log();
    }

public:
    bool log_shows(const std::string& text) const { return m_master->wait_for_log(text, 10s); }

protected:
    // The cycle goes on: the segment receives that many frames more.
    bool frames_go_on(long long frames)
    {
        const long long before = frames_received(sim("stats"));
        return eventually([&] { return frames_received(sim("stats")) > before + frames; }, 10s, 10ms);
    }
};
}  // namespace

// After a late cycle the cycle is re-timed from the reference clock; a read
// of it that is lost, or a loss of many frames, must not freeze the cycle
// until the slaves' watchdogs expire.
TEST_F(Cycle_Under_Loss, TheSlavesStayInOpWhenRepliesAreLost)
{
    const struct {
        const char* name;
        std::function<void(Cycle_Under_Loss&)> fault;
    } cases[] = {
        // The reference clock 5 ms ahead: the next SYNC0 has passed when the
        // frame reads it, and the re-timing's read of the next SYNC0 is lost.
        {"re-timing read lost",
         [](Cycle_Under_Loss& t) {
             ASSERT_EQ(t.sim("drop 1 0x0990"), "OK");
             ASSERT_EQ(t.sim("clock_jump 1 5000000"), "OK");
             EXPECT_TRUE(t.log_shows("soft_realtime_request ... Continue")) << t.log();
         }},
        {"30 % of the frames lost for 3 s",
         [](Cycle_Under_Loss& t) {
             ASSERT_EQ(t.sim("drop_fraction 0.3"), "OK");
             std::this_thread::sleep_for(3s);
             ASSERT_EQ(t.sim("drop_fraction 0"), "OK");
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(frames_go_on(100));
        c.fault(*this);
        EXPECT_TRUE(frames_go_on(500)) << log();
        EXPECT_TRUE(contains(sim("read 0 0x130 2"), "08 00")) << sim("read 0 0x130 2");
        EXPECT_TRUE(contains(sim("read 1 0x130 2"), "08 00")) << sim("read 1 0x130 2");
        EXPECT_EQ(ask("get_master_ethercat_state"), "8");
        EXPECT_EQ(ask("get_last_system_error").rfind("4 30 ", 0), std::string::npos) << ask("get_last_system_error");
    }
}

// A step that fails after the cycle has stopped, or a cycle that ends and
// whose own request for INIT fails, leaves no cycle: the master reports a
// state the slaves can be in, and what needs OP is refused.
TEST_F(Cycle_Under_Loss, AFailedStepOrAnEndedCycleLeavesTheMasterInInit)
{
    const struct {
        const char* name;
        std::function<void(Cycle_Under_Loss&)> fault;
        const char* restore;
    } cases[] = {
        {"a slave refuses PRE-OP from SAFE-OP",
         [](Cycle_Under_Loss& t) {
             ASSERT_EQ(ask("go_into_next_state 4", 30s), "reply_ok") << t.log();
             ASSERT_EQ(t.sim("refuse 1 2 0x0011"), "OK");
             EXPECT_EQ(ask("go_into_next_state 2", 60s), "reply_error") << t.log();
         },
         "refuse 1 2 0"},
        {"an outage in OP",
         [](Cycle_Under_Loss& t) {
             ASSERT_EQ(t.sim("drop_fraction 1"), "OK");
             EXPECT_TRUE(eventually([] { return ask("get_master_ethercat_state") != "8"; }, 60s, 100ms)) << t.log();
             EXPECT_TRUE(t.log_shows("... cyclic end ... OK ")) << t.log();
         },
         "drop_fraction 0"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        c.fault(*this);
        EXPECT_EQ(ask("get_master_ethercat_state"), "1");
        EXPECT_EQ(ask("get_master_time_info"), "reply_error");
        ASSERT_EQ(sim(c.restore), "OK");
        // The step to OP starts from INIT, with a cycle of its own.
        EXPECT_EQ(ask("go_into_next_state 8", 60s), "reply_ok") << log();
        EXPECT_TRUE(contains(sim("read 1 0x130 2"), "08 00")) << sim("read 1 0x130 2");
        EXPECT_TRUE(frames_go_on(100));
    }
}
