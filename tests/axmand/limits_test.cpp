// Time limits of the axis machine: a drive that ignores its control word, a
// mode display that never agrees, an SDO that never comes back.

#include <gtest/gtest.h>

#include <chrono>

#include "axes_cell.h"

namespace {

Axes_Cell::Options schneider(const std::string& switches, std::vector<std::string> axmand_arguments = {"-n", "0"})
{
    Axes_Cell::Options options;
    options.descriptor = example_descriptor("schneider");
    options.drives = {"1001:schneider" + (switches.empty() ? "" : ":" + switches)};
    options.axmand_arguments = std::move(axmand_arguments);
    return options;
}

void expect_disabled_in_fault(Axes_Cell& cell)
{
    Axes_Client& client = cell.client();
    EXPECT_TRUE(client.refresh_until(
        [&] { return client.axis_state(0) == STATE_FAULT && client.snapshot().manager_state == NOT_OPERATIONAL; },
        std::chrono::seconds(5)));
    EXPECT_EQ(client.control_word(0), 0);
}

TEST(Axmand_Limits, DriveIgnoringItsControlWordFaultsAfterOneSecond)
{
    Axes_Cell cell(schneider("ignore_cw"));
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(cell.client().command(CMD_RESET, 2000, 10000), -1);
    const auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_GE(elapsed, std::chrono::milliseconds(990));
    const std::string log = cell.axmand().log();
    EXPECT_NE(log.find("[axis descriptor][m_state_machine_wait_counter] axis :: 0 timeout with m_main_machine_state 5"),
              std::string::npos)
        << log;
    EXPECT_NE(log.find("[axis descriptor][m_state_machine_wait_counter] MANDO IN ERRORE L'ASSE "), std::string::npos);
    expect_disabled_in_fault(cell);
    cell.stop_all();
}

TEST(Axmand_Limits, ModeDisplayThatNeverAgreesFaultsAfterItsRetries)
{
    Axes_Cell cell(schneider("disagree", {"-n", "0", "-c", "4000"}));
    power_up(cell);
    cell.client().set_profile_position(0, 1000, 10000, 100000, false);
    EXPECT_EQ(cell.client().command(CMD_START_PROCEDURE, 2000, 10000), -1);
    const std::string log = cell.axmand().log();
    EXPECT_NE(log.find("[axis descriptor] m_changing_op_mode_wait_counter is 100 try again SETTING_OP_MODE"),
              std::string::npos);
    EXPECT_NE(log.find("[axis descriptor] desired op mode not reached after 101 cycles"), std::string::npos) << log;
    expect_disabled_in_fault(cell);
    cell.stop_all();
}

TEST(Axmand_Limits, ExpiredSdoFaultsTheAxisWithTheFrameworksText)
{
    Axes_Cell cell(schneider(""));
    power_up(cell);
    cell.drive("sdo 1001 0 0 1");
    cell.client().set_profile_position(0, 1000, 10000, 100000, false);
    EXPECT_EQ(cell.client().command(CMD_START_PROCEDURE, 2000, 10000), -1);
    const std::string log = cell.axmand().log();
    EXPECT_NE(log.find("request expired"), std::string::npos) << log;
    EXPECT_NE(log.find("[axis descriptor] ax :: 0 go_to_fault_request "), std::string::npos);
    expect_disabled_in_fault(cell);
    cell.stop_all();
}

}  // namespace
