// Lost ticks, a paused framework and a manager that stops refreshing.

#include <signal.h>

#include <gtest/gtest.h>

#include <thread>

#include "axes_cell.h"

namespace {

Axes_Cell::Options schneider()
{
    Axes_Cell::Options options;
    options.descriptor = example_descriptor("schneider");
    options.drives = {"1001:schneider"};
    return options;
}

void pause_process(pid_t pid, std::chrono::milliseconds pause)
{
    ASSERT_EQ(kill(pid, SIGSTOP), 0);
    std::this_thread::sleep_for(pause);
    ASSERT_EQ(kill(pid, SIGCONT), 0);
}

void start_move(Axes_Cell& cell, int32_t target)
{
    cell.client().set_profile_position(0, target, 50000, 400000, false);
    ASSERT_EQ(cell.client().command(CMD_START_PROCEDURE), 1);
}

bool completed(Axes_Cell& cell)
{
    Axes_Client& client = cell.client();
    return client.refresh_until(
        [&] { return client.snapshot().completed && client.snapshot().manager_state == OPERATIONAL; },
        std::chrono::seconds(20));
}

TEST(Axmand_Ticks, PausedManagerLogsLostTicksAndItsMoveCompletes)
{
    Axes_Cell cell(schneider());
    power_up(cell);
    start_move(cell, 20000);
    pause_process(cell.axmand().pid(), std::chrono::milliseconds(30));
    EXPECT_TRUE(cell.axmand().wait_for_log("[axes manager] framework tick lost :: ", std::chrono::seconds(2)));
    ASSERT_TRUE(completed(cell));
    EXPECT_EQ(cell.client().position(0), 20000);
    cell.stop_all();
}

TEST(Axmand_Ticks, PausedFrameworkTimesTheRefreshOutThenAllResumes)
{
    Axes_Cell cell(schneider());
    power_up(cell);
    // The armed watchdog shortens the manager's refresh time-out to 200 ms.
    pause_process(cell.rtframe().pid(), std::chrono::milliseconds(500));
    EXPECT_TRUE(cell.axmand().wait_for_log("[axes manager] framework tick lost :: -2", std::chrono::seconds(2)))
        << cell.axmand().log();
    start_move(cell, 3000);
    ASSERT_TRUE(completed(cell));
    EXPECT_EQ(cell.client().position(0), 3000);
    cell.stop_all();
}

TEST(Axmand_Ticks, ManagerPausedPastItsWatchdogLeavesNoDriveEnabled)
{
    Axes_Cell cell(schneider());
    power_up(cell);
    cell.client().set_profile_velocity(0, 20000, 200000);
    ASSERT_EQ(cell.client().command(CMD_START_PROCEDURE), 1);
    ASSERT_TRUE(kill(cell.axmand().pid(), SIGSTOP) == 0);
    // The framework frees the silent manager's slot and its control word falls back to 0.
    EXPECT_TRUE(cell.rtframe().wait_for_log("watchdog (100 cycles) realtime expired!", std::chrono::seconds(3)));
    EXPECT_TRUE(cell.drivesim().wait_for_log("[drivesim] slave 1001 cw 0x0000", std::chrono::seconds(3), 2));
    EXPECT_TRUE(
        cell.drivesim().wait_for_log("[drivesim] slave 1001 state switch on disabled", std::chrono::seconds(3), 2));
    const std::string state = cell.drive_state(1001);
    EXPECT_NE(state.find(" vel 0 "), std::string::npos) << state;
    ASSERT_TRUE(kill(cell.axmand().pid(), SIGCONT) == 0);
    EXPECT_EQ(cell.axmand().wait_exit(std::chrono::seconds(5)), 1);
    EXPECT_NE(cell.axmand().log().find("framework released this application (watchdog expired) :: exit"),
              std::string::npos);

    std::unique_ptr<Child_Process> successor = cell.start_axmand({"-n", "0"}, 2);
    ASSERT_TRUE(successor->wait_for_log("[axes manager] init cyclic thread --> done", std::chrono::seconds(20)))
        << successor->log();
    EXPECT_TRUE(cell.wait_manager_state(NOT_OPERATIONAL));
    EXPECT_TRUE(cell.wait_axis_state(0, STATE_FAULT));
    ASSERT_EQ(cell.client().command(CMD_RESET), 1);
    EXPECT_TRUE(cell.wait_axis_state(0, STATE_OPERATION_MODE_IDLE));
    EXPECT_EQ(successor->stop(), 0);
    cell.drop_axmand();
    cell.stop_all();
}

}  // namespace
