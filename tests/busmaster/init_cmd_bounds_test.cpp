// Register init commands with the largest Retries and Validate Timeout an
// ENI may give, sent by the master object in this process to the simulated
// demo cell: the bounds on their repeats are computed without overflow, so
// such a command is sent again where its numbers say so instead of failing.
#include <gtest/gtest.h>

#include <chrono>
#include <climits>
#include <sstream>
#include <string>
#include <thread>

#include "eventually.h"
#include "master_on_segment.h"
#include "segment_config.h"
#include "veth_harness.h"
#include "xelo_ethercat_master_class.h"

namespace {
using namespace std::chrono_literals;

class Bounds_Master : public Private_Memory_Master {
public:
    using Private_Memory_Master::Private_Memory_Master;
    // The first call for a fresh command, as the per-slave loop makes it.
    bool send_first(const ECatCmdType& cmd)
    {
        begin_init_cmd();
        return manage_and_send_initCmd_ex(cmd);
    }
    // A fresh command sent as the per-slave loop sends it, until it is done
    // (true) or calls more than calls times (false).
    bool send_until_done(const ECatCmdType& cmd, int calls = 100)
    {
        for (bool done = send_first(cmd); !done; done = manage_and_send_initCmd_ex(cmd)) {
            if (--calls == 0)
                return false;
        }
        return true;
    }
    int64_t sends() const { return m_retries; }
};

// A broadcast read of the AL status of both slaves, Retries at the maximum.
ECatCmdType al_status_read()
{
    ECatCmdType cmd;
    cmd.cmd_m_el = EC_CMD_BRD;
    cmd.has_adp_oxor_el = true;
    cmd.adp_oxor_el = 0;
    cmd.ado_mxor_el = 0x130;
    cmd.has_data_length_oxor_el = true;
    cmd.data_length_oxor_el = 2;
    cmd.has_retries_o_el = true;
    cmd.retries_o_el = INT32_MAX;
    return cmd;
}

class Init_Cmd_Bounds : public Demo_Cell_In_Preop<Bounds_Master> {
protected:
    Init_Cmd_Bounds() : Demo_Cell_In_Preop(DEMO_ENI) {}
    // Frames the simulated segment has received so far.
    long frames_received()
    {
        std::istringstream words(sim("stats"));
        std::string ok, received;
        long count = -1;
        words >> ok >> received >> count;
        return count;
    }
};
}  // namespace

TEST_F(Init_Cmd_Bounds, LargestRetriesSendAgainAfterAWrongWorkingCounterOrALostReply)
{
    ECatCmdType cmd = al_status_read();
    cmd.has_cnt_o_el = true;
    cmd.cnt_o_el = 5;                        // two slaves answer
    EXPECT_FALSE(m_master.send_first(cmd));  // to be sent again, not failed
    ASSERT_EQ(sim("drop 1"), "OK");
    EXPECT_FALSE(m_master.send_first(cmd));
    cmd.cnt_o_el = 2;
    EXPECT_TRUE(m_master.send_until_done(cmd));
}

// 3 x 1431655766 ms passes 2^32: computed in 32 bits, the window would be 2 ms.
TEST_F(Init_Cmd_Bounds, LargestValidateTimeoutKeepsRepeatingUntilTheDataValidate)
{
    ECatCmdType cmd = al_status_read();
    cmd.retries_o_el = 0;
    cmd.has_validate_o_el = true;
    cmd.validate_o_el.data_m_el = {0x04, 0x00};  // SAFE-OP
    cmd.validate_o_el.has_data_mask_o_olement = true;
    cmd.validate_o_el.data_mask_o_olement = {0x0F, 0x00};
    cmd.validate_o_el.timeout_m_el = 1431655766;

    const long before = frames_received();
    std::thread slaves_reach_safeop([&] {
        // After a few repeats, both slaves report SAFE-OP.
        EXPECT_TRUE(eventually([&] { return frames_received() >= before + 3; }, 20s));
        EXPECT_EQ(sim("state 0 SAFEOP 0"), "OK");
        EXPECT_EQ(sim("state 1 SAFEOP 0"), "OK");
    });
    bool done = false;
    EXPECT_NO_THROW(done = m_master.send_until_done(cmd));
    slaves_reach_safeop.join();
    EXPECT_TRUE(done);
    EXPECT_GE(m_master.sends(), 2);
}
