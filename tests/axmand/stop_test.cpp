// Quick stop, halt and detorque through axmand.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <thread>

#include "axes_cell.h"

namespace {

Axes_Cell::Options family(const std::string& name)
{
    Axes_Cell::Options options;
    options.descriptor = example_descriptor(name);
    options.drives = {"1001:" + name};
    return options;
}

// Powers up and starts a long profile-position move.
void start_long_move(Axes_Cell& cell)
{
    power_up(cell);
    Axes_Client& client = cell.client();
    client.set_profile_position(0, 10000000, 100000, 400000, false, true);
    ASSERT_EQ(client.command(CMD_START_PROCEDURE), 1);
    ASSERT_TRUE(client.refresh_until([&] { return client.position(0) > 5000; }, std::chrono::seconds(5)));
}

// The drive's velocity from drivesim's state line.
int drive_velocity(Axes_Cell& cell)
{
    const std::string state = cell.drive_state(1001);
    return std::stoi(state.substr(state.find(" vel ") + 5));
}

bool drive_stands(Axes_Cell& cell)
{
    for (int i = 0; i < 100; ++i) {
        if (drive_velocity(cell) == 0)
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
}

TEST(Axmand_Stop, QuickStopWhileRunningThenResetAndALaterFaultWaitsForItsOwnReset)
{
    Axes_Cell cell(family("schneider"));
    start_long_move(cell);
    Axes_Client& client = cell.client();
    ASSERT_EQ(client.command(CMD_QUICK_STOP), 1);
    const std::string log = cell.axmand().log();
    const size_t forced = log.find("[axes manager][cyclic thread] Quick stop request");
    ASSERT_NE(forced, std::string::npos) << log;
    EXPECT_NE(log.find("[stat manage possible stop] --> quick_stop cmd :: go to OPERATIONAL state", forced),
              std::string::npos);
    ASSERT_TRUE(cell.wait_manager_state(OPERATIONAL));
    EXPECT_TRUE(cell.wait_axis_state(0, STATE_QUICK_STOP_ACTIVE));
    EXPECT_TRUE(cell.drivesim().wait_for_log("[drivesim] slave 1001 cw 0x002b", std::chrono::seconds(2)));
    EXPECT_TRUE(drive_stands(cell));
    EXPECT_EQ(cell.drive_state(1001).rfind("quick stop active", 0), 0u);

    ASSERT_EQ(client.command(CMD_RESET), 1);
    EXPECT_TRUE(cell.wait_axis_state(0, STATE_OPERATION_MODE_IDLE));
    EXPECT_EQ(cell.drive_state(1001).rfind("operation enabled", 0), 0u);

    // The reset was used up by the recovery: a fault now waits for a new one.
    cell.drive("fault 1001 0x7121");
    ASSERT_TRUE(cell.wait_axis_state(0, STATE_FAULT));
    cell.drive("clear 1001");
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    client.refresh();
    EXPECT_EQ(client.axis_state(0), STATE_FAULT);
    EXPECT_EQ(cell.drive_state(1001).rfind("fault", 0), 0u);
    ASSERT_EQ(client.command(CMD_RESET), 1);
    EXPECT_TRUE(cell.wait_axis_state(0, STATE_OPERATION_MODE_IDLE));
    cell.stop_all();
}

// A velocity set-point stays in the drive through a stop: no reset that
// follows the stop (the first, which ends it, nor any later one from
// OPERATIONAL) may enable the drive into that velocity again, also when the
// drive is slow to take an operation mode. Only a motion command writes a
// mode or a target.
struct Velocity_Stop {
    const char* name;
    void (*stop)(Axes_Cell&);
    int8_t stopped_state;
    const char* drive_switches;
};

void PrintTo(const Velocity_Stop& stop, std::ostream* out)
{
    *out << stop.name;
}

class Axmand_Velocity_Stop : public ::testing::TestWithParam<Velocity_Stop> {};

// A reset answered 1 with the axis enabled and idle, the drive standing at
// stood_at and in no operation mode.
void reset_keeps_the_drive_standing(Axes_Cell& cell, int stood_at, int reset)
{
    SCOPED_TRACE("reset " + std::to_string(reset));
    Axes_Client& client = cell.client();
    ASSERT_EQ(client.command(CMD_RESET), 1);
    EXPECT_EQ(cell.drive_state(1001).rfind("operation enabled", 0), 0u);
    int fastest = 0;
    for (int i = 0; i < 30; ++i) {
        fastest = std::max(fastest, std::abs(drive_velocity(cell)));
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_EQ(fastest, 0) << cell.drive_history(1001);
    const std::string state = cell.drive_state(1001);
    EXPECT_NE(state.find(" mode 0 "), std::string::npos) << state;
    client.refresh();
    EXPECT_EQ(client.axis_state(0), STATE_OPERATION_MODE_IDLE);
    EXPECT_EQ(client.position(0), stood_at) << cell.drive_history(1001);
}

TEST_P(Axmand_Velocity_Stop, ResetLeavesTheDriveStanding)
{
    Axes_Cell::Options options = family("schneider");
    options.drives = {"1001:schneider" + std::string(GetParam().drive_switches)};
    Axes_Cell cell(options);
    power_up(cell);
    Axes_Client& client = cell.client();
    client.set_profile_velocity(0, 30000, 300000);
    ASSERT_EQ(client.command(CMD_START_PROCEDURE), 1);
    ASSERT_TRUE(client.refresh_until([&] { return drive_velocity(cell) == 30000; }, std::chrono::seconds(5)));
    GetParam().stop(cell);
    ASSERT_TRUE(cell.wait_axis_state(0, GetParam().stopped_state));
    ASSERT_TRUE(drive_stands(cell));
    client.refresh();
    const int stood_at = client.position(0);

    for (int reset = 1; reset <= 3; ++reset)
        reset_keeps_the_drive_standing(cell, stood_at, reset);
    cell.stop_all();
}

void quick_stop(Axes_Cell& cell)
{
    ASSERT_EQ(cell.client().command(CMD_QUICK_STOP), 1);
}

void detorque(Axes_Cell& cell)
{
    ASSERT_EQ(cell.client().command(CMD_DETORQUE), 1);
}

void drive_fault(Axes_Cell& cell)
{
    cell.drive("fault 1001 0x7121");
    ASSERT_TRUE(cell.wait_axis_state(0, STATE_FAULT));
    cell.drive("clear 1001");
}

constexpr const char* SLOW_SDO = ":sdo_delay=30";

INSTANTIATE_TEST_SUITE_P(
    Stops, Axmand_Velocity_Stop,
    ::testing::Values(Velocity_Stop{"QuickStop", quick_stop, STATE_QUICK_STOP_ACTIVE, ""},
                      Velocity_Stop{"Detorque", detorque, STATE_INIT, ""},
                      Velocity_Stop{"DriveFault", drive_fault, STATE_FAULT, ""},
                      Velocity_Stop{"QuickStopSlowSdo", quick_stop, STATE_QUICK_STOP_ACTIVE, SLOW_SDO},
                      Velocity_Stop{"DetorqueSlowSdo", detorque, STATE_INIT, SLOW_SDO},
                      Velocity_Stop{"DriveFaultSlowSdo", drive_fault, STATE_FAULT, SLOW_SDO}),
    [](const ::testing::TestParamInfo<Velocity_Stop>& param_info) { return std::string(param_info.param.name); });

class Axmand_Halt : public ::testing::TestWithParam<const char*> {};

TEST_P(Axmand_Halt, QuickStopHaltsAndReturnsToIdle)
{
    Axes_Cell cell(family(GetParam()));
    start_long_move(cell);
    const std::string mark = "m_cmd_request_from_cmd_thread = quick_stop";
    ASSERT_EQ(cell.client().command(CMD_QUICK_STOP), 1);
    EXPECT_TRUE(cell.wait_axis_state(0, STATE_OPERATION_MODE_IDLE));
    EXPECT_EQ(cell.axis_states(0, mark),
              (std::vector<std::string>{"STATE_WAIT_HALT_REACHED", "STATE_OPERATION_MODE_IDLE"}));
    const std::string history = cell.drive_history(1001);
    EXPECT_NE(history.find("0x012f"), std::string::npos) << history;
    EXPECT_TRUE(drive_stands(cell));
    EXPECT_EQ(cell.drive_state(1001).rfind("operation enabled", 0), 0u);
    cell.stop_all();
}

INSTANTIATE_TEST_SUITE_P(Families, Axmand_Halt, ::testing::Values("yaskawa", "omron"));

TEST(Axmand_Stop, IngeniaRecoversThroughSwitchOnDisabled)
{
    Axes_Cell cell(family("ingenia"));
    start_long_move(cell);
    Axes_Client& client = cell.client();
    ASSERT_EQ(client.command(CMD_QUICK_STOP), 1);
    ASSERT_TRUE(cell.wait_axis_state(0, STATE_QUICK_STOP_ACTIVE));
    const std::string mark = "m_cmd_request_from_cmd_thread = reset";
    ASSERT_EQ(client.command(CMD_RESET), 1);
    EXPECT_TRUE(cell.wait_axis_state(0, STATE_OPERATION_MODE_IDLE));
    const std::vector<std::string> states = cell.axis_states(0, mark);
    const auto through = std::find(states.begin(), states.end(), "STATE_GOING_TO_SW_ON_DIS_FROM_QSA");
    ASSERT_NE(through, states.end()) << ::testing::PrintToString(states);
    EXPECT_NE(std::find(through, states.end(), "STATE_SWITCH_ON_DISABLED"), states.end());
    EXPECT_EQ(states.back(), "STATE_OPERATION_MODE_IDLE");
    cell.stop_all();
}

TEST(Axmand_Stop, DetorqueTakesTheVoltageAway)
{
    Axes_Cell cell(family("schneider"));
    power_up(cell);
    Axes_Client& client = cell.client();
    ASSERT_EQ(client.command(CMD_DETORQUE), 1);
    ASSERT_TRUE(cell.wait_manager_state(NOT_OPERATIONAL));
    EXPECT_TRUE(cell.wait_axis_state(0, STATE_INIT));
    EXPECT_EQ(client.control_word(0), 0x0D);
    EXPECT_TRUE(
        cell.drivesim().wait_for_log("[drivesim] slave 1001 state switch on disabled", std::chrono::seconds(2), 2));
    cell.stop_all();
}

}  // namespace
