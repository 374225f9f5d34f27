// The operation modes' control words and status-word verdicts, on the
// variables of a real framework (rtframe -o with the Schneider example).

#include <gtest/gtest.h>

#include <memory>

#include "global_define.h"
#include "op_modes.h"
#include "rtframe_child.h"
#include "xelo_framework_shm_manager.h"

namespace {

bitsetConvertor_cw cw(uint16_t value)
{
    bitsetConvertor_cw word;
    word.dby = value;
    return word;
}

bitsetConvertor_sw sw(uint16_t value)
{
    bitsetConvertor_sw word;
    word.dby = value;
    return word;
}

class Op_Modes : public ::testing::Test {
protected:
    void SetUp() override
    {
        write_file("/tmp/axes_descriptor.xml", read_file(std::string(EXAMPLES_DIR) + "/schneider.xml"));
        rtframe = std::make_unique<Rtframe_Child>(offline_server_arguments("/tmp/axes_descriptor.xml"));
        rtframe->wait_ready_ex();
        framework.init_with_h_compatibility_check_ex("op_modes_test", 4, 1);
        channel = framework.get_cmd_channel_id_as_server_ex("axmngr_0");
        homing = std::make_unique<OpMode_Homing>(&framework, "axmngr_0", channel, "axmngr_0_ax_0");
        position = std::make_unique<OpMode_Profile_Pos>(&framework, "axmngr_0", channel, "axmngr_0_ax_0");
        velocity = std::make_unique<OpMode_Profile_Vel>(&framework, "axmngr_0", channel, "axmngr_0_ax_0");
        interpolated = std::make_unique<OpMode_Interpolated>(&framework, "axmngr_0", channel, "axmngr_0_ax_0");
    }
    void TearDown() override
    {
        framework.unlink();
        EXPECT_EQ(rtframe->stop(), 0);
    }

    std::unique_ptr<Rtframe_Child> rtframe;
    Framework_Shared_Memory_Manager framework;
    int channel = -1;
    std::unique_ptr<OpMode_Base> homing, position, velocity, interpolated;
};

TEST_F(Op_Modes, CodesAndTheirAsynchronousVariables)
{
    EXPECT_EQ(homing->get_code(), 6);
    EXPECT_EQ(position->get_code(), 1);
    EXPECT_EQ(velocity->get_code(), 3);
    EXPECT_EQ(interpolated->get_code(), 8);
    EXPECT_NE(position->get_async_output_id("axmngr_0_ax_0_profile_pos_target_pos"), -1);
    EXPECT_EQ(position->get_async_output_id("axmngr_0_ax_0_profile_vel_target_vel"), -1);
    EXPECT_NE(velocity->get_async_output_id("axmngr_0_ax_0_profile_vel_target_vel"), -1);
    EXPECT_NE(homing->get_async_output_id("axmngr_0_ax_0_homing_method"), -1);
    position->set_all_async_output();
    EXPECT_FALSE(position->is_all_async_vecs_updated());
    position->clear_all_async_updated_flags();
    EXPECT_TRUE(position->is_all_async_vecs_updated());
    EXPECT_TRUE(interpolated->is_all_async_vecs_updated()) << "a mode without variables is updated at once";
}

TEST_F(Op_Modes, ControlWordOfEachPhase)
{
    const struct {
        const char* what;
        OpMode_Base* mode;
        int slot;  // 0 ready, 1 start, 2 in progress, 3 finished
        uint16_t in, out;
    } cases[] = {
        {"position start, both data 0", position.get(), 1, 0x000F, 0x001F},
        {"position start clears bits 5 and 6", position.get(), 1, 0x006F, 0x001F},
        {"position in progress clears bit 4 only", position.get(), 2, 0x007F, 0x006F},
        {"position finished", position.get(), 3, 0x003F, 0x002F},
        {"velocity start clears halt only", velocity.get(), 1, 0x017F, 0x007F},
        {"velocity in progress keeps it", velocity.get(), 2, 0x010F, 0x010F},
        {"velocity finished keeps it", velocity.get(), 3, 0x000F, 0x000F},
        {"homing start", homing.get(), 1, 0x000F, 0x001F},
        {"homing in progress", homing.get(), 2, 0x001F, 0x001F},
        {"homing finished", homing.get(), 3, 0x001F, 0x000F},
        {"interpolated start", interpolated.get(), 1, 0x000F, 0x001F},
        {"interpolated finished", interpolated.get(), 3, 0x001F, 0x001F},
        {"ready to start", position.get(), 0, 0x012F, 0x012F},
    };
    for (const auto& c : cases) {
        uint16_t out = 0;
        switch (c.slot) {
        case 0: out = c.mode->get_specific_control_word_when_procedure_is_ready_to_start(cw(c.in)).dby; break;
        case 1: out = c.mode->get_specific_control_word_to_start_procedure(cw(c.in), sw(0x0637)).dby; break;
        case 2: out = c.mode->get_specific_control_word_when_procedure_is_in_progress(cw(c.in)).dby; break;
        default: out = c.mode->get_specific_control_word_when_procedure_is_finished(cw(c.in)).dby; break;
        }
        EXPECT_EQ(out, c.out) << c.what;
    }
}

TEST_F(Op_Modes, StatusWordVerdicts)
{
    EXPECT_FALSE(position->is_procedure_started(sw(0x0237)));
    EXPECT_TRUE(position->is_procedure_started(sw(0x1237)));
    EXPECT_TRUE(position->is_procedure_finished(sw(0x0637)));
    EXPECT_TRUE(position->is_procedure_in_error(sw(0x2237), AXIS_OMRON));
    EXPECT_FALSE(homing->is_procedure_finished(sw(0x3637))) << "homing error wins";
    EXPECT_TRUE(homing->is_procedure_finished(sw(0x1637)));
    EXPECT_TRUE(homing->is_axis_moving(sw(0x0237), AXIS_SCHNEIDER));
    for (int8_t type : {AXIS_OMRON, AXIS_INFRANOR, AXIS_YASKAWA, AXIS_FESTO, AXIS_INGENIA})
        EXPECT_FALSE(velocity->is_procedure_in_error(sw(0xFFFF), type)) << int(type);
    EXPECT_TRUE(velocity->is_procedure_in_error(sw(0x2237), AXIS_SCHNEIDER));
    EXPECT_TRUE(velocity->is_axis_moving(sw(0x1237), AXIS_YASKAWA)) << "speed 0 alone";
    EXPECT_FALSE(velocity->is_axis_moving(sw(0x1637), AXIS_YASKAWA));
    EXPECT_FALSE(velocity->is_axis_moving(sw(0x1237), AXIS_SCHNEIDER));
    EXPECT_TRUE(velocity->is_procedure_started(sw(0)));
    EXPECT_FALSE(interpolated->is_procedure_finished(sw(0xFFFF)));
    EXPECT_TRUE(interpolated->is_axis_moving(sw(0), AXIS_SCHNEIDER));
}

TEST_F(Op_Modes, HomingThatEndsAtOnceCountsAsStartedAfterOneHundredMilliseconds)
{
    ASSERT_EQ(framework.get_master_cycle_time_ns_ex(), 1000000u);
    homing->get_specific_control_word_to_start_procedure(cw(0x0F), sw(0x1637));
    int calls = 0;
    while (!homing->is_procedure_started(sw(0x1637)) && calls < 1000)
        ++calls;
    EXPECT_EQ(calls, 99) << "false on the first 99 calls, true on the 100th";

    homing->get_specific_control_word_to_start_procedure(cw(0x0F), sw(0x0637));
    EXPECT_FALSE(homing->is_procedure_started(sw(0x0637)));
    EXPECT_TRUE(homing->is_procedure_started(sw(0x1637))) << "rising edge of homing attained";
    EXPECT_TRUE(homing->is_procedure_started(sw(0x0237))) << "target reached cleared: the drive moves";
}

}  // namespace
