// Power-up, homing, profile position and profile velocity through axmand.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <regex>
#include <thread>

#include "axes_cell.h"

namespace {

Axes_Cell::Options schneider(const std::string& switches = "")
{
    Axes_Cell::Options options;
    options.descriptor = example_descriptor("schneider");
    options.drives = {"1001:schneider" + (switches.empty() ? "" : ":" + switches)};
    return options;
}

// Lines the real-time log ring dropped when it was full, as its WAR lines
// count them: any of them may have been one the case counts.
int dropped_lines(const std::string& log)
{
    static const std::regex dropped("([0-9]+) real-time log lines dropped");
    int count = 0;
    for (std::sregex_iterator at(log.begin(), log.end(), dropped), end; at != end; ++at)
        count += std::stoi((*at)[1]);
    return count;
}

// Axis states of one procedure, with the retries of a mode change folded.
// A retry can begin with the setting logged just before the command's mark
// (a slow drive): its change and second setting fold the same way.
std::vector<std::string> folded(std::vector<std::string> states)
{
    if (states.size() >= 2 && states[0] == "CHANGING_OP_MODE" && states[1] == "SETTING_OP_MODE")
        states.erase(states.begin());
    for (size_t i = 0; i + 3 < states.size();) {
        if (states[i] == "SETTING_OP_MODE" && states[i + 1] == "CHANGING_OP_MODE" && states[i + 2] == "SETTING_OP_MODE")
            states.erase(states.begin() + static_cast<long>(i), states.begin() + static_cast<long>(i) + 2);
        else
            ++i;
    }
    return states;
}

// The states of a one-axis cell's axis from mark on. The request enters
// SETTING_OP_MODE outside the step, and a step whose handler leaves it at
// once writes no "main machine state" line for it; the handler's own line,
// written each step it runs, stands for it then.
std::vector<std::string> one_axis_states(Axes_Cell& cell, const std::string& mark)
{
    std::string log = cell.axmand().log();
    const size_t at = log.find(mark);
    log = at == std::string::npos ? "" : log.substr(at);
    const std::regex line(
        "\\[axis descriptor\\] ax :: 0 main machine state :: ([A-Z_]+)\n|"
        "\\[axis descriptor\\] state setting_op_mode\n");
    std::vector<std::string> states;
    for (std::sregex_iterator it(log.begin(), log.end(), line), end; it != end; ++it) {
        const std::string state = (*it)[1].matched ? (*it)[1].str() : "SETTING_OP_MODE";
        if (states.empty() || states.back() != state)
            states.push_back(state);
    }
    return states;
}

// Manager states seen while a procedure ran: from OPERATIONAL through the
// waiting states and RUNNING back to OPERATIONAL.
void expect_procedure_states(const std::vector<int>& seen)
{
    ASSERT_FALSE(seen.empty());
    EXPECT_EQ(seen.front(), OPERATIONAL);
    EXPECT_EQ(seen.back(), OPERATIONAL);
    const auto wait = std::find(seen.begin(), seen.end(), WAIT_CHANGE_MODE);
    const auto running = std::find(seen.begin(), seen.end(), RUNNING);
    EXPECT_TRUE(wait != seen.end() && running != seen.end() && wait < running) << ::testing::PrintToString(seen);
    for (int state : seen)
        EXPECT_TRUE(state == OPERATIONAL || state == WAIT_CHANGE_MODE || state == WAIT_START_PROCEDURE ||
                    state == RUNNING)
            << state;
}

// Sends start_procedure and records the manager states until the procedure
// completed and the manager rests; the answer must be 1.
std::vector<int> run_procedure(Axes_Cell& cell)
{
    Axes_Client& client = cell.client();
    client.send(CMD_START_PROCEDURE);
    int answer = 0;
    // The published state lags the command by a cycle or two: the answer comes first.
    std::vector<int> seen = cell.record_manager_states(
        [&] {
            if (answer == 0)
                answer = client.answer(0.1);
            const Axes_Client::Snapshot s = client.snapshot();
            return answer != 0 && s.completed && s.manager_state == OPERATIONAL;
        },
        std::chrono::seconds(20));
    EXPECT_EQ(answer, 1);
    return seen;
}

TEST(Axmand_Motion, ResetPowersTheDriveUp)
{
    Axes_Cell cell(schneider());
    Axes_Client& client = cell.client();
    client.refresh();
    EXPECT_EQ(client.axis_state(0), STATE_FAULT);
    client.send(CMD_RESET);
    const std::vector<int> seen =
        cell.record_manager_states([&] { return client.snapshot().manager_state == OPERATIONAL; },
                                   std::chrono::seconds(10));
    EXPECT_EQ(seen, (std::vector<int>{NOT_OPERATIONAL, RESET, OPERATIONAL}));
    EXPECT_EQ(client.answer(1000), 1);
    EXPECT_EQ(cell.axis_states(0),
              (std::vector<std::string>{"RESET_FAULT", "STATE_SWITCH_ON_DISABLED", "STATE_READY_TO_SWITCH_ON",
                                        "STATE_SWITCH_ON", "STATE_WAIT_OPERATION_ENABLED",
                                        "STATE_OPERATION_MODE_IDLE"}));
    EXPECT_EQ(cell.drive_history(1001), "0x0000 0x0080 0x0006 0x0007 0x000f");
    EXPECT_EQ(cell.drive_state(1001).rfind("operation enabled sw 0x0237", 0), 0u);
    cell.stop_all();
}

TEST(Axmand_Motion, HomingSetsTheHomePosition)
{
    Axes_Cell cell(schneider("position=12345"));
    power_up(cell);
    cell.client().set_homing(0, 37, 20000, 5000, 500000);
    expect_procedure_states(run_procedure(cell));
    Axes_Client& client = cell.client();
    EXPECT_EQ(client.status_word(0) & 0x3400, 0x1400);
    EXPECT_EQ(client.position(0), 0);
    const std::string history = cell.drive_history(1001);
    EXPECT_NE(history.find("0x000f 0x001f"), std::string::npos) << history;
    cell.stop_all();
}

TEST(Axmand_Motion, InstantHomingCountsAsStartedAfterOneHundredMilliseconds)
{
    Axes_Cell cell(schneider("instant_homing"));
    power_up(cell);
    cell.client().set_homing(0, 37, 20000, 5000, 500000);
    expect_procedure_states(run_procedure(cell));
    const std::string log = cell.axmand().log();
    // One line per cycle of the 100 ms; a loaded machine can fill the ring.
    EXPECT_GE(count_of(log, "[OpMode_Homing] is_procedure_started? not yet") + dropped_lines(log), 99);
    EXPECT_NE(log.find("[OpMode_Homing] procedure_started :: status_word.homing_attained = 1"), std::string::npos);
    cell.stop_all();
}

TEST(Axmand_Motion, ProfilePositionAbsoluteThenRelative)
{
    Axes_Cell cell(schneider());
    power_up(cell);
    Axes_Client& client = cell.client();

    client.set_profile_position(0, 20000, 100000, 400000, false, true);
    const std::string mark = "pick_up_next_command()  m_cmd_request_from_cmd_thread = start_procedure";
    expect_procedure_states(run_procedure(cell));
    // Completion is published once the drive stands inside its window.
    EXPECT_LE(std::abs(client.position(0) - 20000), 10);
    EXPECT_EQ(folded(one_axis_states(cell, mark)),
              (std::vector<std::string>{"SETTING_OP_MODE", "CHANGING_OP_MODE", "START_REFRESH_ASYNC_BASED_OP_MODE",
                                        "REFRESHING_ASYNC_BASED_OP_MODE", "STATE_WORKING", "STATE_PRE_RUNNING",
                                        "STATE_IS_RUNNING", "STATE_WORKING"}));
    std::string history = cell.drive_history(1001);
    EXPECT_NE(history.find("0x000f 0x003f 0x002f"), std::string::npos) << history;

    client.set_profile_position(0, -5000, 100000, 400000, true, false);
    expect_procedure_states(run_procedure(cell));
    EXPECT_LE(std::abs(client.position(0) - 15000), 10);
    history = cell.drive_history(1001);
    EXPECT_NE(history.find("0x000f 0x005f 0x004f"), std::string::npos) << history;
    cell.stop_all();
}

TEST(Axmand_Motion, ProfileVelocityKeepsTheControlWord)
{
    Axes_Cell cell(schneider());
    power_up(cell);
    cell.client().set_profile_velocity(0, 30000, 300000);
    const std::string before = cell.drive_history(1001);
    expect_procedure_states(run_procedure(cell));
    const std::string state = cell.drive_state(1001);
    EXPECT_NE(state.find("vel 30000"), std::string::npos) << state;
    EXPECT_NE(state.find("mode 3"), std::string::npos) << state;
    EXPECT_EQ(cell.drive_history(1001), before) << "the control word stayed 0x000f";
    cell.stop_all();
}

TEST(Axmand_Motion, NewMoveReplacesTheRunningOne)
{
    Axes_Cell cell(schneider());
    power_up(cell);
    Axes_Client& client = cell.client();
    client.set_profile_position(0, 1000000, 100000, 400000, false, true);
    ASSERT_EQ(client.command(CMD_START_PROCEDURE), 1);
    ASSERT_TRUE(client.refresh_until([&] { return client.position(0) > 5000; }, std::chrono::seconds(5)));
    client.set_profile_position(0, 2000, 100000, 400000, false, true);
    ASSERT_EQ(client.command(CMD_START_PROCEDURE), 1);
    int furthest = 0;
    ASSERT_TRUE(client.refresh_until(
        [&] {
            furthest = std::max(furthest, client.position(0));
            const Axes_Client::Snapshot s = client.snapshot();
            return s.completed && s.manager_state == OPERATIONAL;
        },
        std::chrono::seconds(20)));
    EXPECT_LE(std::abs(client.position(0) - 2000), 10);
    EXPECT_LT(furthest, 1000000);
    cell.stop_all();
}

TEST(Axmand_Motion, VirtualAxisSkipsTheModeChangeAndNeverFinishes)
{
    Axes_Cell::Options options;
    options.descriptor =
        replaced(example_descriptor("two_axes"),
                 "name_virtual=\"axmngr_0_ax_1_type\" type=\"int8\" group_id=\"-1\" is_ro=\"1\" is_negated=\"0\" "
                 "default_value=\"4\"",
                 "name_virtual=\"axmngr_0_ax_1_type\" type=\"int8\" group_id=\"-1\" is_ro=\"1\" is_negated=\"0\" "
                 "default_value=\"0\"");
    options.drives = {"1001:schneider"};
    Axes_Cell cell(options);
    EXPECT_NE(cell.axmand().log().find("[axes_descriptor][init_ex()] virtual axis"), std::string::npos);
    power_up(cell);
    Axes_Client& client = cell.client();
    // A virtual axis publishes nothing; its state shows in the log only.
    EXPECT_TRUE(cell.axmand().wait_for_log("[axis descriptor] ax :: 1 main machine state :: STATE_IS_RUNNING",
                                           std::chrono::seconds(2)));
    client.set_profile_position(0, 4000, 100000, 400000, false);
    ASSERT_EQ(client.command(CMD_START_PROCEDURE), 1);
    ASSERT_TRUE(
        client.refresh_until([&] { return client.axis_state(0) == STATE_WORKING && client.position(0) == 4000; },
                             std::chrono::seconds(10)));
    // The real axis is done, the virtual one never is: the manager keeps running.
    EXPECT_FALSE(client.refresh_until([&] { return client.snapshot().completed; }, std::chrono::milliseconds(300)));
    EXPECT_EQ(client.snapshot().manager_state, RUNNING);
    const std::string log = cell.axmand().log();
    EXPECT_NE(log.find("[axis descriptor] axis :: 0 new op mode request :: profile_pos"), std::string::npos);
    EXPECT_EQ(log.find("[axis descriptor] axis :: 1 new op mode"), std::string::npos) << "no mode change";
    EXPECT_EQ(log.find("axis :: 1 op mode not available"), std::string::npos);
    cell.stop_all();
}

}  // namespace
