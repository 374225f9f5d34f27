// The hand-over of program commands from the XML-RPC thread to the RTDE
// thread: a command returns after the next package has run the machine, a
// state request never waits, a command no package takes is withdrawn.
#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <stdexcept>

#include "fake_hardware.h"
#include "program_command_manager.h"
#include "states/state.h"

namespace {
using namespace std::chrono_literals;

class Hand_Over : public ::testing::Test {
protected:
    Hand_Over()
        : m_manager(std::make_unique<Fake_Hardware>()), hw(static_cast<Fake_Hardware&>(m_manager.hardware_interface()))
    {
        m_manager.init_hw_iface_mutex();
        m_manager.init_hw_iface_semaphore();
    }
    static Program_Commands_Params command(Program_Commands_Id id)
    {
        Program_Commands_Params params;
        params.cmd_id = id;
        params.axis_id = 0;
        params.position = 3.0;
        return params;
    }
    // Runs the command on another thread and packages on this one until it
    // returns; the number of packages it took.
    int run_with_packages(const Program_Commands_Params& params, int& state)
    {
        auto result = std::async(std::launch::async, [&] { return m_manager.new_command(params); });
        int packages = 0;
        while (result.wait_for(20ms) != std::future_status::ready && packages < 100) {
            m_manager.machine_refresh();
            ++packages;
        }
        state = result.get();
        return packages;
    }

    Program_Command_Manager m_manager;
    Fake_Hardware& hw;
};
}  // namespace

TEST_F(Hand_Over, ACommandReturnsTheStateAfterTheNextPackage)
{
    hw.status = ROBOT_PLAYING;
    int state = -1;
    EXPECT_EQ(run_with_packages(command(MOVE_TO_POSITION), state), 1);
    EXPECT_EQ(state, State::RESTORE) << "stopped with a playing program: the axes are reset first";
    EXPECT_EQ(hw.resets, 1);
    hw.completed = true;
    m_manager.machine_refresh();
    EXPECT_EQ(hw.position_moves, 1) << "executed once the reset completed";
    m_manager.machine_refresh();
    ASSERT_EQ(m_manager.state_machine().get_actual_state(), State::WAITING);

    hw.completed = false;
    EXPECT_EQ(run_with_packages(command(MOVE_TO_POSITION), state), 1);
    EXPECT_EQ(state, State::EXECUTE);
    EXPECT_EQ(hw.position_moves, 2) << "issued by the time the call returns";
}

TEST_F(Hand_Over, AStateRequestNeverWaits)
{
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(m_manager.new_command(Program_Commands_Params{}), State::STOPPED);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 500ms);
    EXPECT_TRUE(hw.is_program_state_request_acknowledged());
    EXPECT_EQ(hw.get_current_command_id(), NULL_PROGRAM_CMD);
}

TEST_F(Hand_Over, ACommandNoPackageTakesIsWithdrawn)
{
    hw.status = ROBOT_PLAYING;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_THROW(m_manager.new_command(command(MOVE_TO_POSITION)), std::runtime_error);
    EXPECT_GE(std::chrono::steady_clock::now() - start, 900ms);
    EXPECT_EQ(hw.get_current_command_id(), NULL_PROGRAM_CMD);
    EXPECT_FALSE(hw.sem_post_required);
    // A later package does not run it.
    m_manager.machine_refresh();
    EXPECT_EQ(m_manager.state_machine().get_actual_state(), State::STOPPED);
    EXPECT_EQ(hw.resets, 0);
    // And the next command is handed over normally.
    int state = -1;
    EXPECT_EQ(run_with_packages(command(MOVE_TO_VELOCITY), state), 1);
    EXPECT_EQ(state, State::RESTORE);
}

TEST_F(Hand_Over, AFailingStepFreesTheMutex)
{
    hw.status = ROBOT_PLAYING;
    hw.fail_reset = true;
    hw.set_parameters(command(MOVE_TO_POSITION));
    EXPECT_THROW(m_manager.machine_refresh(), std::runtime_error);
    auto request = std::async(std::launch::async, [&] { return m_manager.new_command(Program_Commands_Params{}); });
    ASSERT_EQ(request.wait_for(2s), std::future_status::ready) << "the hardware-interface mutex stayed locked";
    request.get();
    hw.fail_reset = false;
    m_manager.machine_refresh();
    EXPECT_EQ(hw.resets, 1);
}
