// The program command state machine on scripted inputs: every transition of
// every state, then whole runs through the machine with their actions.
#include <gtest/gtest.h>

#include <string>

#include "fake_hardware.h"
#include "program_command_manager.h"
#include "states/program_states.h"

namespace {
struct Inputs {
    Robot_Program_Status status = ROBOT_STOPPED;
    bool pending = false;
    bool safeguard = false;
    bool completed = false;
    bool acknowledged = false;
    bool error = false;
    bool warning = false;
    bool limit = false;
    bool safety = false;
    bool request = false;
};

struct Row {
    const char* what;
    int state;
    Inputs in;
    int expected;
};

Inputs make(Robot_Program_Status status)
{
    Inputs in;
    in.status = status;
    return in;
}

template <typename F>
Inputs with(Inputs in, F f)
{
    f(in);
    return in;
}

const auto pending = [](Inputs& i) { i.pending = true; };
const auto acked = [](Inputs& i) { i.acknowledged = true; };
const auto error = [](Inputs& i) { i.error = true; };
const auto warning = [](Inputs& i) { i.warning = true; };
const auto limit = [](Inputs& i) { i.limit = true; };
const auto safety = [](Inputs& i) { i.safety = true; };
const auto safeguard = [](Inputs& i) { i.safeguard = true; };
const auto completed = [](Inputs& i) { i.completed = true; };
const auto request = [](Inputs& i) { i.request = true; };
template <typename A, typename B>
auto both(A a, B b)
{
    return [a, b](Inputs& i) { a(i), b(i); };
}

const Row rows[] = {
    {"stopped: playing with a command", State::STOPPED, with(make(ROBOT_PLAYING), pending), State::RESTORE},
    {"stopped: playing, no command", State::STOPPED, make(ROBOT_PLAYING), State::STOPPED},
    {"stopped: command, program stopped", State::STOPPED, with(make(ROBOT_STOPPED), pending), State::STOPPED},
    {"stopped: no common transitions", State::STOPPED, with(make(ROBOT_STOPPED), both(acked, both(error, warning))),
     State::STOPPED},
    {"restore: reset done without error", State::RESTORE, with(make(ROBOT_PLAYING), completed), State::EXECUTE},
    {"restore: reset not done", State::RESTORE, with(make(ROBOT_PLAYING), error), State::RESTORE},
    {"restore: error, first attempts retry", State::RESTORE, with(make(ROBOT_PLAYING), both(error, completed)),
     State::RESTORE},
    {"restore: no common transitions", State::RESTORE, with(make(ROBOT_STOPPED), both(acked, warning)), State::RESTORE},
    {"waiting: acknowledged, program stopping", State::WAITING, with(make(ROBOT_STOPPING), acked), State::STOPPED},
    {"waiting: stopping, not acknowledged", State::WAITING, make(ROBOT_STOPPING), State::WAITING},
    {"waiting: warning", State::WAITING, with(make(ROBOT_PLAYING), warning), State::QUICKSTOP},
    {"waiting: limit switch alone", State::WAITING, with(make(ROBOT_PLAYING), limit), State::WAITING},
    {"waiting: error", State::WAITING, with(make(ROBOT_PLAYING), error), State::FAULT},
    {"waiting: safety input", State::WAITING, with(make(ROBOT_PLAYING), safety), State::FAULT},
    {"waiting: warning before error", State::WAITING, with(make(ROBOT_PLAYING), both(warning, error)),
     State::QUICKSTOP},
    {"waiting: command", State::WAITING, with(make(ROBOT_PLAYING), pending), State::EXECUTE},
    {"waiting: pausing", State::WAITING, make(ROBOT_PAUSING), State::PAUSED},
    {"waiting: paused", State::WAITING, make(ROBOT_PAUSED), State::PAUSED},
    {"waiting: command before pause", State::WAITING, with(make(ROBOT_PAUSED), pending), State::EXECUTE},
    {"execute: acknowledged, program stopped", State::EXECUTE, with(make(ROBOT_STOPPED), acked), State::STOPPED},
    {"execute: error", State::EXECUTE, with(make(ROBOT_PLAYING), error), State::FAULT},
    {"execute: warning", State::EXECUTE, with(make(ROBOT_PLAYING), warning), State::QUICKSTOP},
    {"execute: completed on a limit switch", State::EXECUTE, with(make(ROBOT_PLAYING), both(completed, limit)),
     State::QUICKSTOP},
    {"execute: limit switch, not completed", State::EXECUTE, with(make(ROBOT_PLAYING), limit), State::EXECUTE},
    {"execute: completed", State::EXECUTE, with(make(ROBOT_PLAYING), completed), State::WAITING},
    {"execute: pausing", State::EXECUTE, make(ROBOT_PAUSING), State::PAUSED},
    {"execute: running", State::EXECUTE, make(ROBOT_PLAYING), State::EXECUTE},
    {"paused: acknowledged, program stopped", State::PAUSED, with(make(ROBOT_STOPPED), acked), State::STOPPED},
    {"paused: warning", State::PAUSED, with(make(ROBOT_PAUSED), warning), State::QUICKSTOP},
    {"paused: playing, no command", State::PAUSED, make(ROBOT_PLAYING), State::WAITING},
    {"paused: playing with a command", State::PAUSED, with(make(ROBOT_PLAYING), pending), State::EXECUTE},
    {"paused: error", State::PAUSED, with(make(ROBOT_PAUSED), error), State::FAULT},
    {"paused: safety input", State::PAUSED, with(make(ROBOT_PAUSED), safety), State::FAULT},
    {"paused: safety in a safeguard stop", State::PAUSED, with(make(ROBOT_PAUSED), both(safety, safeguard)),
     State::SAFEGUARD},
    {"paused: error in a safeguard stop", State::PAUSED, with(make(ROBOT_PAUSED), both(error, safeguard)),
     State::PAUSED},
    {"fault: state request", State::FAULT, with(make(ROBOT_PLAYING), request), State::STOPPED},
    {"fault: program stopping", State::FAULT, make(ROBOT_STOPPING), State::STOPPED},
    {"fault: program stopped", State::FAULT, make(ROBOT_STOPPED), State::STOPPED},
    {"fault: playing, no request", State::FAULT, with(make(ROBOT_PLAYING), both(acked, warning)), State::FAULT},
    {"quickstop: request, program stopped", State::QUICKSTOP, with(make(ROBOT_STOPPED), request), State::STOPPED},
    {"quickstop: program stopped, no request", State::QUICKSTOP, with(make(ROBOT_STOPPED), acked), State::QUICKSTOP},
    {"quickstop: request, playing, command", State::QUICKSTOP, with(make(ROBOT_PLAYING), both(request, pending)),
     State::RESTORE},
    {"quickstop: request, playing, no command", State::QUICKSTOP, with(make(ROBOT_PLAYING), request), State::QUICKSTOP},
    {"quickstop: playing, command, no request", State::QUICKSTOP, with(make(ROBOT_PLAYING), pending), State::QUICKSTOP},
    {"safeguard: acknowledged, program stopped", State::SAFEGUARD,
     with(make(ROBOT_STOPPED), both(acked, both(pending, safeguard))), State::STOPPED},
    {"safeguard: cleared with a command", State::SAFEGUARD, with(make(ROBOT_PAUSED), pending), State::RESTORE},
    {"safeguard: still in the safeguard stop", State::SAFEGUARD, with(make(ROBOT_PAUSED), both(pending, safeguard)),
     State::SAFEGUARD},
    {"safeguard: safety input still on", State::SAFEGUARD, with(make(ROBOT_PAUSED), both(pending, safety)),
     State::SAFEGUARD},
    {"safeguard: cleared, no command", State::SAFEGUARD, make(ROBOT_PAUSED), State::SAFEGUARD},
    {"safeguard: no quickstop or fault transition", State::SAFEGUARD, with(make(ROBOT_PAUSED), both(warning, error)),
     State::SAFEGUARD},
};

void apply(Fake_Hardware& hw, const Inputs& in)
{
    hw.status = in.status;
    hw.update_current_cmd_id(in.pending ? MOVE_TO_POSITION : NULL_PROGRAM_CMD);
    hw.safeguard = in.safeguard;
    hw.completed = in.completed;
    hw.acknowledged = in.acknowledged;
    hw.error = in.error;
    hw.warning = in.warning;
    hw.limit = in.limit;
    hw.safety = in.safety;
    hw.set_program_state_request(in.request);
}

class Machine : public ::testing::Test {
protected:
    Machine()
        : m_manager(std::make_unique<Fake_Hardware>()), hw(static_cast<Fake_Hardware&>(m_manager.hardware_interface()))
    {
        m_manager.init_hw_iface_mutex();
        m_manager.init_hw_iface_semaphore();
    }
    int step() { return m_manager.state_machine().refresh(); }
    Program_Commands_Params command(Program_Commands_Id id)
    {
        Program_Commands_Params params;
        params.cmd_id = id;
        params.axis_id = 1;
        params.position = 12.5;
        params.homing_method = 35;
        return params;
    }
    // Hands a command over as new_command does, without its wait.
    void hand_over(Program_Commands_Id id) { hw.set_parameters(command(id)); }

    Program_Command_Manager m_manager;
    Fake_Hardware& hw;
};
}  // namespace

TEST(State_Transitions, EachRowOfEachState)
{
    for (const Row& row : rows) {
        Program_Command_Manager manager(std::make_unique<Fake_Hardware>());
        auto& hw = static_cast<Fake_Hardware&>(manager.hardware_interface());
        apply(hw, row.in);
        EXPECT_EQ(manager.state_machine().state(row.state).check_transition_to_next_state(), row.expected) << row.what;
    }
}

TEST_F(Machine, StartsStoppedAndStaysThereSilentlyWithoutACommand)
{
    hw.status = ROBOT_PLAYING;
    testing::internal::CaptureStdout();
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(step(), State::STOPPED);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(hw.detorques + hw.resets, 0);
}

TEST_F(Machine, RunsACommandThroughRestoreExecuteAndWaiting)
{
    hand_over(MOVE_TO_POSITION);
    EXPECT_EQ(step(), State::STOPPED) << "the program is stopped";
    hw.status = ROBOT_PLAYING;
    testing::internal::CaptureStdout();
    EXPECT_EQ(step(), State::RESTORE);
    EXPECT_EQ(hw.resets, 1);
    EXPECT_EQ(step(), State::RESTORE) << "reset not completed";
    hw.completed = true;
    EXPECT_EQ(step(), State::EXECUTE);
    EXPECT_EQ(hw.position_moves, 1);
    EXPECT_EQ(hw.moved_axis, 1);
    EXPECT_EQ(hw.moved_position, 12.5);
    EXPECT_EQ(step(), State::WAITING);
    EXPECT_EQ(hw.get_current_command_id(), NULL_PROGRAM_CMD);
    EXPECT_EQ(hw.get_previous_command_id(), MOVE_TO_POSITION);
    const std::string log = testing::internal::GetCapturedStdout();
    for (const char* line :
         {"[State][check_transition_to_next_state] state :: stopped, transition :: 'from stopped to restore' is active",
          "[program_command_manager][State_Machine] Executing  transition :: stopped --> restore",
          "[State_Restore][IN] : n_attempts = 0", "[State_Restore][OUT] : n_attempts = 1",
          "Executing  transition :: restore --> execute", "Executing  transition :: execute --> waiting"})
        EXPECT_NE(log.find(line), std::string::npos) << line << "\n" << log;

    hw.completed = false;
    hand_over(PRG_DO_HOMING);
    EXPECT_EQ(step(), State::EXECUTE);
    EXPECT_EQ(hw.homings, 1);
    EXPECT_EQ(hw.homing_method, 35);
    hw.completed = true;
    EXPECT_EQ(step(), State::WAITING);
    hand_over(static_cast<Program_Commands_Id>(7));
    EXPECT_EQ(step(), State::EXECUTE) << "an unknown command counts as pending";
    EXPECT_EQ(hw.position_moves + hw.velocity_moves + hw.homings, 2) << "but issues nothing";
}

// The reset's completion is reported to one call only. When it comes to the
// fault check of a step, after the execute check has seen none, the restore
// goes on to execute at the next step and never resets again.
TEST_F(Machine, AResetCompletedAtTheFaultCheckLeadsToExecuteWithoutAnotherReset)
{
    hw.status = ROBOT_PLAYING;
    hand_over(MOVE_TO_POSITION);
    ASSERT_EQ(step(), State::RESTORE);
    ASSERT_EQ(hw.resets, 1);
    hw.next_completions = {false, true};
    EXPECT_EQ(step(), State::RESTORE);
    EXPECT_TRUE(hw.next_completions.empty()) << "both checks ran";
    EXPECT_EQ(step(), State::EXECUTE);
    EXPECT_EQ(hw.resets, 1);
    EXPECT_EQ(hw.position_moves, 1);
}

TEST_F(Machine, PauseResumesAVelocityCommandButNotACompletedPosition)
{
    hw.status = ROBOT_PLAYING;
    hw.completed = true;
    hand_over(MOVE_TO_VELOCITY);
    ASSERT_EQ(step(), State::RESTORE);
    ASSERT_EQ(step(), State::EXECUTE);
    EXPECT_EQ(hw.velocity_moves, 1);
    ASSERT_EQ(step(), State::WAITING) << "a velocity command reports completion once running";

    hw.status = ROBOT_PAUSING;
    EXPECT_EQ(step(), State::PAUSED);
    EXPECT_EQ(hw.quickstops, 1);
    hw.status = ROBOT_PLAYING;
    EXPECT_EQ(step(), State::WAITING);
    EXPECT_EQ(hw.get_current_command_id(), MOVE_TO_VELOCITY);
    EXPECT_EQ(step(), State::EXECUTE) << "the velocity command resumes";
    EXPECT_EQ(hw.velocity_moves, 2);

    // Paused while the velocity command has not reported completion.
    hw.completed = false;
    hw.status = ROBOT_PAUSED;
    EXPECT_EQ(step(), State::PAUSED);
    hw.status = ROBOT_PLAYING;
    EXPECT_EQ(step(), State::EXECUTE);
    EXPECT_EQ(hw.velocity_moves, 3);

    // A completed position command does not come back.
    hw.completed = true;
    ASSERT_EQ(step(), State::WAITING);
    hand_over(MOVE_TO_POSITION);
    ASSERT_EQ(step(), State::EXECUTE);
    ASSERT_EQ(step(), State::WAITING);
    hw.status = ROBOT_PAUSED;
    EXPECT_EQ(step(), State::PAUSED);
    hw.status = ROBOT_PLAYING;
    EXPECT_EQ(step(), State::WAITING);
    EXPECT_EQ(hw.position_moves, 1);
}

TEST_F(Machine, StopDetorquesAndClearsTheCommands)
{
    hw.status = ROBOT_PLAYING;
    hw.completed = true;
    hand_over(MOVE_TO_POSITION);
    step();
    step();
    ASSERT_EQ(step(), State::WAITING);
    hw.status = ROBOT_STOPPED;
    hw.acknowledged = true;
    EXPECT_EQ(step(), State::STOPPED);
    EXPECT_EQ(hw.detorques, 1);
    EXPECT_EQ(hw.get_current_command_id(), NULL_PROGRAM_CMD);
    EXPECT_EQ(hw.get_previous_command_id(), NULL_PROGRAM_CMD);
}

TEST_F(Machine, ALastingErrorInRestoreResetsFourTimesThenFaults)
{
    hw.status = ROBOT_PLAYING;
    hw.error = true;
    hand_over(MOVE_TO_POSITION);
    testing::internal::CaptureStdout();
    ASSERT_EQ(step(), State::RESTORE);
    hw.completed = true;
    int steps = 0;
    while (step() == State::RESTORE && ++steps < 10) {
    }
    EXPECT_EQ(m_manager.state_machine().get_actual_state(), State::FAULT);
    EXPECT_EQ(hw.resets, 4);
    const std::string log = testing::internal::GetCapturedStdout();
    for (int n = 0; n <= 3; ++n)
        EXPECT_NE(log.find("[State_Restore][IN] : n_attempts = " + std::to_string(n)), std::string::npos) << n;
    EXPECT_NE(log.find("'from restore to fault' is active"), std::string::npos);
    EXPECT_NE(log.find("[State_Restore][OUT] : n_attempts = 4"), std::string::npos);
    EXPECT_NE(log.find("[State_Fault][entering] : Fault detected!"), std::string::npos);

    // A state request made in the fault leads back to stopped.
    EXPECT_EQ(step(), State::FAULT);
    hw.set_program_state_request(true);
    EXPECT_EQ(step(), State::STOPPED);
}

TEST_F(Machine, DriveFaultWarningAndQuickstopWayOut)
{
    hw.status = ROBOT_PLAYING;
    hw.completed = true;
    hand_over(MOVE_TO_POSITION);
    step();
    step();
    ASSERT_EQ(step(), State::WAITING);
    hw.set_program_state_request(true);
    hw.error = true;
    EXPECT_EQ(step(), State::FAULT);
    EXPECT_FALSE(hw.is_program_state_request_acknowledged()) << "entering the fault lowers the request";
    EXPECT_EQ(step(), State::FAULT);
    hw.error = false;
    hw.set_program_state_request(true);
    EXPECT_EQ(step(), State::STOPPED);

    // A warning in execute: quick stop, commands cleared.
    hand_over(MOVE_TO_POSITION);
    hw.completed = false;
    ASSERT_EQ(step(), State::RESTORE);
    hw.completed = true;
    ASSERT_EQ(step(), State::EXECUTE);
    hw.warning = true;
    hw.completed = false;
    const int quickstops = hw.quickstops;
    EXPECT_EQ(step(), State::QUICKSTOP);
    EXPECT_EQ(hw.quickstops, quickstops + 1);
    EXPECT_EQ(hw.get_current_command_id(), NULL_PROGRAM_CMD);
    // A state request, a playing program and a new command: restore.
    hw.warning = false;
    hand_over(MOVE_TO_VELOCITY);
    EXPECT_EQ(step(), State::QUICKSTOP) << "no request since entering";
    hw.set_program_state_request(true);
    EXPECT_EQ(step(), State::RESTORE);

    // On a limit switch the quick stop is the drive's own: none is sent, and
    // a request with the program stopped detorques on the way out.
    hw.completed = true;
    ASSERT_EQ(step(), State::EXECUTE);
    hw.limit = true;
    const int sent = hw.quickstops;
    EXPECT_EQ(step(), State::QUICKSTOP);
    EXPECT_EQ(hw.quickstops, sent);
    hw.status = ROBOT_STOPPED;
    hw.set_program_state_request(true);
    const int detorques = hw.detorques;
    EXPECT_EQ(step(), State::STOPPED);
    EXPECT_EQ(hw.detorques, detorques + 1);
}

TEST_F(Machine, PausedGoesToSafeguardAndBackToRestore)
{
    hw.status = ROBOT_PLAYING;
    hw.completed = true;
    hand_over(MOVE_TO_VELOCITY);
    step();
    step();
    hw.completed = false;
    hw.status = ROBOT_PAUSED;
    ASSERT_EQ(step(), State::PAUSED);
    hw.safety = true;
    hw.safeguard = true;
    EXPECT_EQ(step(), State::SAFEGUARD);
    hw.safety = false;
    hw.safeguard = false;
    EXPECT_EQ(step(), State::RESTORE) << "the velocity command is pending again";
}
