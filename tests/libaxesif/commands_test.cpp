// Axes_Manager_Interface against rtframe -o, drivesim and axmand: setup,
// status in user units, the command protocol and the motion requests.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <functional>
#include <thread>

#include "axesif_cell.h"
#include "eventually.h"
#include "global_define.h"

namespace {
using namespace std::chrono_literals;

constexpr int SLAVE = 1001;

// The text of the std::out_of_range that f throws.
template <typename F>
std::string out_of_range_text(F&& f)
{
    try {
        f();
    } catch (const std::out_of_range& e) {
        return e.what();
    }
    return "<nothing thrown>";
}

Axes_Manager_Target_Position position(double target, double velocity = 200.0, double acceleration = 2000.0)
{
    return Axes_Manager_Target_Position{target, velocity, acceleration};
}

// Polls a started procedure: false on every call before the manager's
// completion, true at it; the model's position (as the interface read it in
// that cycle) is returned through at_completion.
::testing::AssertionResult completes_in_window(Axesif_Cell& cell, double target, double window, double& at_completion)
{
    Axes_Manager_Interface& iface = cell.iface();
    if (!cell.complete())
        return ::testing::AssertionFailure() << "no completion\n" << cell.cell().axmand().log();
    at_completion = iface.get_axis_actual_position_ex(0);
    if (std::fabs(at_completion - target) > window)
        return ::testing::AssertionFailure() << "completed at " << at_completion << ", target " << target;
    return ::testing::AssertionSuccess();
}

class Per_Manager : public ::testing::TestWithParam<int> {};

// Manager 0 and 3: the names begin "axmngr_<m>_"; a drive standing at
// 250000 increments with 1000 per unit; reset, homing, a position and a
// velocity move, each followed to its end.
TEST_P(Per_Manager, SetsUpResetsHomesAndMoves)
{
    const int manager = GetParam();
    Axesif_Cell cell(one_drive("schneider", "schneider:position=250000", manager));
    Axes_Manager_Interface& iface = cell.iface();

    EXPECT_EQ(iface.get_axes_num_ex(), 1);
    EXPECT_EQ(iface.get_axis_type_as_string(0), "schneider");
    EXPECT_TRUE(
        cell.refresh_until([&] { return iface.get_axis_actual_position_ex(0) == 250.0; }, std::chrono::seconds(2)))
        << iface.get_axis_actual_position_ex(0);
    EXPECT_EQ(iface.get_axis_error_code_as_hex_string_ex(0), "0x0");
    EXPECT_FALSE(iface.is_last_command_acknowledged());

    // Reset: true once, by the call that takes the answer; never acknowledged.
    iface.reset_ex();
    EXPECT_EQ(iface.get_last_send_error(), "");
    ASSERT_TRUE(cell.complete()) << cell.cell().axmand().log();
    EXPECT_FALSE(iface.is_last_command_completed());
    EXPECT_FALSE(iface.is_last_command_acknowledged());
    ASSERT_TRUE(cell.refresh_until([&] {
        return iface.get_axis_status_ex(0) == STATE_OPERATION_MODE_IDLE &&
               iface.get_axes_manager_status_ex() == OPERATIONAL;
    }));
    EXPECT_FALSE(iface.get_is_in_error_ex());
    EXPECT_FALSE(iface.is_last_command_refused());

    // Homing (method 35: here is home, the home offset 0).
    iface.do_axis_homing_ex(0, Axes_Manager_Homing{35, 10.0, 20.0, 1000.0});
    double at = 0;
    EXPECT_TRUE(completes_in_window(cell, 0.0, 0.010, at));
    EXPECT_TRUE(iface.is_last_command_acknowledged());
    EXPECT_TRUE(cell.refresh_until([&] { return iface.get_axes_manager_status_ex() == OPERATIONAL; }));

    // Position move.
    iface.move_axis_to_absolute_target_position_ex(0, position(12.5));
    EXPECT_TRUE(completes_in_window(cell, 12.5, 0.010, at));
    EXPECT_TRUE(iface.is_last_command_completed());  // stays true until the next command
    iface.move_axis_to_relative_target_position_ex(0, position(-2.5));
    EXPECT_TRUE(completes_in_window(cell, 10.0, 0.010, at));

    // Velocity move: complete once the target velocity is reached.
    iface.move_axis_to_target_velocity_ex(0, Axes_Manager_Target_Velocity{50.0, 1000.0});
    ASSERT_TRUE(cell.complete()) << cell.cell().axmand().log();
    EXPECT_NEAR(iface.get_axis_actual_velocity_ex(0), 50.0, 0.5);
    EXPECT_EQ(iface.get_axes_actual_velocity_ex().size(), 1u);

    iface.perform_quickstop_for_all_axes_ex();
    EXPECT_TRUE(cell.complete()) << cell.cell().axmand().log();
    EXPECT_TRUE(cell.refresh_until([&] { return std::fabs(iface.get_axis_actual_velocity_ex(0)) < 1e-9; }));
    cell.cell().stop_all();
}

INSTANTIATE_TEST_SUITE_P(Managers, Per_Manager, ::testing::Values(0, 3));

// Two hundred position moves back to back: none is reported complete before
// the model stands inside its position window.
TEST(Axesif_Commands, BackToBackMovesNeverCompleteEarly)
{
    Axesif_Cell cell(one_drive("schneider", "schneider"));
    cell.power_up();
    const double window = cell.object_value(SLAVE, 0x6067, 0) / 1000.0;
    Axes_Manager_Interface& iface = cell.iface();
    for (int move = 0; move < 200; ++move) {
        const double target = (move % 2 == 0) ? 1.0 : 0.0;
        iface.move_axis_to_absolute_target_position_ex(0, position(target, 1000.0, 100000.0));
        double at = 0;
        ASSERT_TRUE(completes_in_window(cell, target, window, at)) << "move " << move;
    }
    cell.cell().stop_all();
}

// Before a reset the manager refuses a move: the command ends once the
// manager reports its error flag.
TEST(Axesif_Commands, MoveBeforeResetIsRefused)
{
    Axesif_Cell cell(one_drive("schneider", "schneider"));
    Axes_Manager_Interface& iface = cell.iface();
    ASSERT_EQ(iface.get_axes_manager_status_ex(), NOT_OPERATIONAL);
    iface.move_axis_to_absolute_target_position_ex(0, position(5.0));
    bool in_error_at_completion = false;
    ASSERT_TRUE(cell.refresh_until([&] {
        if (!iface.is_last_command_completed())
            return false;
        in_error_at_completion = iface.get_is_in_error_ex();
        return true;
    }));
    EXPECT_TRUE(in_error_at_completion);
    EXPECT_TRUE(iface.get_is_in_error_ex());
    EXPECT_TRUE(iface.is_last_command_acknowledged());
    EXPECT_TRUE(iface.is_last_command_completed());  // stays until the next command
    EXPECT_TRUE(iface.is_last_command_refused());
    EXPECT_EQ(cell.drive_position(SLAVE), 0);
    cell.cell().stop_all();
}

// Two threads polling one command: the answer is consumed once, so exactly
// one of them is told that the command completed.
TEST(Axesif_Commands, CompletionHasOneConsumer)
{
    Axesif_Cell cell(one_drive("schneider", "schneider"));
    cell.power_up();
    Axes_Manager_Interface& iface = cell.iface();
    for (int round = 0; round < 20; ++round) {
        // The manager takes the next command once its command thread waits
        // again, a moment after the last answer.
        ASSERT_TRUE(eventually(
            [&] {
                iface.perform_quickstop_for_all_axes_ex();
                return iface.get_last_send_error().empty();
            },
            5000ms, 10ms))
            << iface.get_last_send_error();
        std::atomic<int> completions{0};
        // Each thread polls until the completion came and 100 ms more, in
        // which a second completion would show.
        auto poll = [&] {
            const auto limit = std::chrono::steady_clock::now() + 10s;
            auto end = limit;
            while (std::chrono::steady_clock::now() < end) {
                if (iface.is_last_command_completed())
                    ++completions;
                if (completions > 0 && end == limit)
                    end = std::chrono::steady_clock::now() + 100ms;
            }
        };
        std::thread first(poll), second(poll);
        first.join();
        second.join();
        EXPECT_EQ(completions.load(), 1) << "round " << round;
    }
    cell.cell().stop_all();
}

// A move sent right after a quick stop whose answer nobody took: the move
// completes on its own answer, where the drive stands at its target, never
// on the quick stop's answer while the manager still reports the last move
// complete.
TEST(Axesif_Commands, ACommandAfterAnUntakenAnswerEndsOnItsOwnAnswer)
{
    Axesif_Cell cell(one_drive("schneider", "schneider"), 100);  // cellapp's send time-out
    cell.power_up();
    Axes_Manager_Interface& iface = cell.iface();
    const double window = cell.object_value(SLAVE, 0x6067, 0) / 1000.0;
    iface.move_axis_to_target_velocity_ex(0, Axes_Manager_Target_Velocity{50.0, 1000.0});
    ASSERT_TRUE(cell.complete()) << cell.cell().axmand().log();
    iface.perform_quickstop_for_all_axes_ex();
    ASSERT_EQ(iface.get_last_send_error(), "");
    ASSERT_TRUE(eventually(
        [&] {
            iface.move_axis_to_absolute_target_position_ex(0, position(-3.0));
            return iface.get_last_send_error().empty();
        },
        5000ms, 10ms))
        << iface.get_last_send_error();
    double at = 0;
    EXPECT_TRUE(completes_in_window(cell, -3.0, window, at));
    cell.cell().stop_all();
}

// A command that cannot be sent ends at once as failed, whatever the state
// of the command before it.
TEST(Axesif_Commands, UnsentCommandEndsAsFailed)
{
    Axesif_Cell cell(one_drive("schneider", "schneider"));
    Axes_Manager_Interface& iface = cell.iface();
    cell.power_up();
    iface.move_axis_to_absolute_target_position_ex(0, position(1.0));
    ASSERT_TRUE(cell.complete());
    ASSERT_TRUE(iface.is_last_command_completed());  // the manager's completion flag is up

    EXPECT_EQ(cell.cell().axmand().stop(), 0) << cell.cell().axmand().log();
    cell.cell().drop_axmand();
    iface.set_command_timeout_ms(50);
    for (const auto& send :
         std::vector<std::function<void()>>{[&] { iface.move_axis_to_absolute_target_position_ex(0, position(2.0)); },
                                            [&] { iface.reset_ex(); }}) {
        send();
        EXPECT_NE(iface.get_last_send_error().find("No server is waiting for command"), std::string::npos)
            << iface.get_last_send_error();
        EXPECT_FALSE(iface.is_last_command_acknowledged());
        cell.refresh();
        EXPECT_TRUE(iface.is_last_command_completed());
        EXPECT_FALSE(iface.is_last_command_completed());
        EXPECT_FALSE(iface.is_last_command_acknowledged());
    }
    cell.cell().stop_all();
}

// -1 increment at 1000 per unit; axis numbers and vectors that do not fit the
// manager's axes are refused without touching anything.
TEST(Axesif_Commands, UserUnitsAndBadRequests)
{
    Axesif_Cell cell(one_drive("schneider", "schneider:position=-1"));
    Axes_Manager_Interface& iface = cell.iface();
    EXPECT_TRUE(
        cell.refresh_until([&] { return iface.get_axis_actual_position_ex(0) == -0.001; }, std::chrono::seconds(2)))
        << iface.get_axis_actual_position_ex(0);
    EXPECT_EQ(iface.get_axes_actual_position_ex(), std::vector<double>{-0.001});

    struct Request {
        const char* name;
        std::function<void(int)> call;
    };
    const std::vector<Request> requests = {
        {"get_axis_status_ex", [&](int a) { iface.get_axis_status_ex(a); }},
        {"get_axis_actual_position_ex", [&](int a) { iface.get_axis_actual_position_ex(a); }},
        {"get_axis_actual_velocity_ex", [&](int a) { iface.get_axis_actual_velocity_ex(a); }},
        {"get_axis_error_code_ex", [&](int a) { iface.get_axis_error_code_ex(a); }},
        {"get_axis_error_code_as_hex_string_ex", [&](int a) { iface.get_axis_error_code_as_hex_string_ex(a); }},
        {"get_axis_error_string_ex", [&](int a) { iface.get_axis_error_string_ex(a); }},
        {"get_info_max_vel", [&](int a) { iface.get_info_max_vel(a); }},
        {"get_axis_type_as_string", [&](int a) { iface.get_axis_type_as_string(a); }},
        {"set_digital_output", [&](int a) { iface.set_digital_output(a, 1); }},
        {"move_axis_to_absolute_target_position_ex",
         [&](int a) { iface.move_axis_to_absolute_target_position_ex(a, position(1.0)); }},
        {"move_axis_to_target_velocity_ex",
         [&](int a) {
             iface.move_axis_to_target_velocity_ex(a, Axes_Manager_Target_Velocity{1.0, 1.0});
         }},
        {"do_axis_homing_ex",
         [&](int a) {
             iface.do_axis_homing_ex(a, Axes_Manager_Homing{35, 1.0, 1.0, 1.0});
         }},
    };
    for (const Request& request : requests) {
        for (int axis : {-1, 1, 200}) {
            const std::string text = out_of_range_text([&] { request.call(axis); });
            EXPECT_NE(text.find(std::string("[Axes_Manager_Interface][") + request.name + "] axis " +
                                std::to_string(axis) + " out of range"),
                      std::string::npos)
                << text;
        }
    }
    const std::string text = out_of_range_text(
        [&] { iface.move_axes_to_absolute_target_position_ex(std::vector<Axes_Manager_Target_Position>{}); });
    EXPECT_NE(text.find("0 entries for 1 axes"), std::string::npos) << text;
    // Nothing was sent: no answer comes.
    EXPECT_FALSE(cell.refresh_until([&] { return iface.is_last_command_completed(); }, std::chrono::milliseconds(300)));
    cell.cell().stop_all();
}

// A move that the drive ends short of its target (its warning with the
// internal limit, or a fault): the command ends complete with the error flag
// up and the stopped axis named, and stays so for a client that polls late.
struct Drive_Stop {
    const char* name;
    const char* stop;   // to drivesim: axis 1's drive stops by itself
    const char* clear;  // and is clear again
};

void PrintTo(const Drive_Stop& stop, std::ostream* out)
{
    *out << stop.name;
}

class Axesif_Short_Move : public ::testing::TestWithParam<Drive_Stop> {};

TEST_P(Axesif_Short_Move, EndsCompleteWithTheErrorFlagAndTheAxis)
{
    Axes_Cell::Options options;
    options.descriptor = replaced(example_descriptor("two_axes"),
                                  "\"axmngr_0_ax_1_type\" type=\"int8\" group_id=\"-1\" is_ro=\"1\" "
                                  "is_negated=\"0\" default_value=\"4\"",
                                  "\"axmngr_0_ax_1_type\" type=\"int8\" group_id=\"-1\" is_ro=\"1\" "
                                  "is_negated=\"0\" default_value=\"1\"");
    options.drives = {"1001:schneider", "1002:schneider"};
    Axesif_Cell cell(options);
    cell.power_up();
    Axes_Manager_Interface& iface = cell.iface();
    iface.move_axes_to_absolute_target_position_ex({position(2.0), position(1000.0, 20.0, 200.0)});
    ASSERT_TRUE(cell.refresh_until([&] { return iface.get_axis_actual_position_ex(1) > 1.0; }))
        << cell.cell().axmand().log();
    cell.cell().drive(GetParam().stop);
    ASSERT_TRUE(cell.refresh_until([&] { return iface.get_axes_manager_status_ex() != RUNNING; }))
        << cell.cell().axmand().log();
    // A robot polls every 100 ms: the end must still be there.
    for (int cycle = 0; cycle < 50; ++cycle)
        cell.refresh();
    ASSERT_TRUE(cell.complete(std::chrono::seconds(2))) << cell.cell().axmand().log();
    EXPECT_TRUE(iface.get_is_in_error_ex());
    EXPECT_TRUE(iface.is_last_command_completed());  // stays until the next command
    Framework_Shared_Memory_Manager& framework = cell.framework();
    EXPECT_EQ(framework.get_input_ex<signed char>(framework.get_input_id_ex("axmngr_0_first_axis_in_error"), false), 1);
    EXPECT_LT(iface.get_axis_actual_position_ex(1), 999.0);

    // The next command starts clean: a reset, then a move that reaches its target.
    cell.cell().drive(GetParam().clear);
    iface.reset_ex();
    ASSERT_TRUE(cell.complete()) << cell.cell().axmand().log();
    ASSERT_TRUE(cell.refresh_until([&] {
        return iface.get_axes_manager_status_ex() == OPERATIONAL &&
               iface.get_axis_status_ex(1) == STATE_OPERATION_MODE_IDLE;
    }));
    EXPECT_FALSE(iface.get_is_in_error_ex());
    iface.move_axes_to_absolute_target_position_ex({position(0.0), position(0.5)});
    ASSERT_TRUE(cell.complete()) << cell.cell().axmand().log();
    EXPECT_FALSE(iface.get_is_in_error_ex());
    EXPECT_NEAR(iface.get_axis_actual_position_ex(1), 0.5, 0.01);
    cell.cell().stop_all();
}

INSTANTIATE_TEST_SUITE_P(Stops, Axesif_Short_Move,
                         ::testing::Values(Drive_Stop{"WarningWithLimit", "warning 1002 1", "warning 1002 0"},
                                           Drive_Stop{"Fault", "fault 1002 0x7121", "clear 1002"}),
                         [](const ::testing::TestParamInfo<Drive_Stop>& param_info) {
                             return std::string(param_info.param.name);
                         });

}  // namespace
