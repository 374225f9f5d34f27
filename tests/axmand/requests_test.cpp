// Commands that axmand refuses, a command sent while one is pending, and the
// information and configuration excursions.

#include <gtest/gtest.h>

#include <stdexcept>

#include "axes_cell.h"

namespace {

Axes_Cell::Options schneider(const std::string& switches = "")
{
    Axes_Cell::Options options;
    options.descriptor = example_descriptor("schneider");
    options.drives = {"1001:schneider" + (switches.empty() ? "" : ":" + switches)};
    return options;
}

TEST(Axmand_Requests, RefusedCommandsAreAnsweredMinusOneAndTheNextIsServed)
{
    Axes_Cell cell(schneider());
    Axes_Client& client = cell.client();

    EXPECT_EQ(client.command(9), -1);
    EXPECT_TRUE(
        cell.axmand().wait_for_log("[axes manager][cmd thread] unknown command code :: 9", std::chrono::seconds(2)));

    EXPECT_EQ(client.command(CMD_START_PROCEDURE), -1);
    EXPECT_TRUE(client.refresh_until([&] { return client.snapshot().in_error; }, std::chrono::seconds(2)));
    EXPECT_EQ(client.snapshot().manager_state, NOT_OPERATIONAL);

    power_up(cell);

    // A mode code that the axis lacks: a reset keeps the axis as it is ...
    client.set_op_mode(0, 2);
    EXPECT_EQ(client.command(CMD_RESET), 1);
    EXPECT_EQ(client.command(CMD_RESET), 1);
    EXPECT_TRUE(cell.wait_axis_state(0, STATE_OPERATION_MODE_IDLE));
    // ... a procedure puts it in fault.
    EXPECT_EQ(client.command(CMD_START_PROCEDURE), -1);
    EXPECT_TRUE(
        cell.axmand().wait_for_log("[axis descriptor] axis :: 0 op mode not available :: 2", std::chrono::seconds(2)));
    EXPECT_TRUE(cell.wait_axis_state(0, STATE_FAULT));
    EXPECT_EQ(client.control_word(0), 0);
    power_up(cell);
    cell.stop_all();
}

TEST(Axmand_Requests, SecondCommandFindsNoServerWhileTheFirstIsPending)
{
    Axes_Cell cell(schneider());
    power_up(cell);
    Axes_Client& client = cell.client();
    cell.drive("sdo 1001 300 0 0");
    client.set_profile_position(0, 3000, 100000, 400000, false);
    const int waiting = count_of(cell.axmand().log(), "wait_cmd_response_ex ... wait to read answer");
    client.send(CMD_START_PROCEDURE);
    ASSERT_TRUE(cell.axmand().wait_for_log("wait_cmd_response_ex ... wait to read answer", std::chrono::seconds(2),
                                           waiting + 1));
    try {
        client.send(CMD_GET_INFO, 50);
        ADD_FAILURE() << "the second command was taken";
    } catch (const std::runtime_error& e) {
        EXPECT_NE(std::string(e.what()).find("No server is waiting"), std::string::npos) << e.what();
    }
    EXPECT_EQ(client.answer(10000), 1);
    EXPECT_TRUE(client.refresh_until([&] { return client.snapshot().completed; }, std::chrono::seconds(10)));
    cell.stop_all();
}

TEST(Axmand_Requests, ConfigurationOfAnUnhandledTypeCompletesWithItsErrLine)
{
    Axes_Cell::Options options = schneider();
    options.descriptor =
        replaced(options.descriptor, "  </async_outputs>",
                 "    <async_output name_physic=\"Drive1001.raw\" name_virtual=\"axmngr_0_ax_0_cfg_data_raw\" "
                 "slave_address=\"1001\" index_hex=\"605A\" subindex=\"0\" data_dimension=\"2\" "
                 "type=\"uint8_array[0..n]\"/>\n  </async_outputs>");
    options.descriptor = replaced(options.descriptor, "    </sem>\n    <sem sem_name=\"axmngr_0_receiver\"",
                                  "      <sem_data data_name=\"ax_0_cfg_data_raw\" type=\"uint8_array[0..n]\" "
                                  "byte_dimension=\"2\"/>\n    </sem>\n    <sem sem_name=\"axmngr_0_receiver\"");
    Axes_Cell cell(options);
    power_up(cell);
    EXPECT_EQ(cell.client().command(CMD_CFG_DATA, 2000, 5000), 1);
    EXPECT_NE(cell.axmand().log().find(
                  "[async output manager] Error type on param :: axmngr_0_ax_0_cfg_data_raw m_value "),
              std::string::npos);
    EXPECT_TRUE(cell.wait_axis_state(0, STATE_OPERATION_MODE_IDLE));
    cell.stop_all();
}

// Brings the axis to the state of the case: -4 (not reset), 8 (idle) or 27 (after a move).
void reach(Axes_Cell& cell, int8_t state)
{
    if (state == STATE_FAULT)
        return;
    power_up(cell);
    if (state == STATE_WORKING) {
        cell.client().set_profile_position(0, 1000, 100000, 400000, false);
        ASSERT_EQ(cell.client().command(CMD_START_PROCEDURE), 1);
        ASSERT_TRUE(
            cell.client().refresh_until([&] { return cell.client().snapshot().completed; }, std::chrono::seconds(10)));
    }
    ASSERT_TRUE(cell.wait_axis_state(0, state));
}

class Axmand_Excursion : public ::testing::TestWithParam<int> {};

TEST_P(Axmand_Excursion, InformationAndConfigurationReturnToTheStateLeft)
{
    Axes_Cell cell(schneider());
    const int8_t state = static_cast<int8_t>(GetParam());
    reach(cell, state);
    Axes_Client& client = cell.client();
    const int8_t manager = client.snapshot().manager_state;

    EXPECT_EQ(client.command(CMD_GET_INFO), 1);
    EXPECT_EQ(client.answer_data<unsigned int>("ax_0_info_maximum_velocity"), 10000000u);
    EXPECT_EQ(client.answer_data<unsigned int>("ax_0_info_maximum_acceleration"), 10000000u);
    EXPECT_EQ(client.answer_data<short>("ax_0_info_preferred_homing_method"), 37);
    EXPECT_EQ(client.answer_data<int>("ax_0_info_err_canopen_std"), 0);
    EXPECT_TRUE(cell.wait_axis_state(0, state));

    client.set_cmd_data<short>("ax_0_cfg_data_quick_stop_option", 5);
    EXPECT_EQ(client.command(CMD_CFG_DATA), 1);
    const int before = count_of(cell.drivesim().log(), "object 0x605a:0 05 00");
    cell.drive("object 1001 0x605a 0");
    EXPECT_TRUE(cell.drivesim().wait_for_log("object 0x605a:0 05 00", std::chrono::seconds(2), before + 1));
    EXPECT_TRUE(cell.wait_axis_state(0, state));
    EXPECT_TRUE(cell.wait_manager_state(manager));
    cell.stop_all();
}

INSTANTIATE_TEST_SUITE_P(States, Axmand_Excursion,
                         ::testing::Values(STATE_OPERATION_MODE_IDLE, STATE_WORKING, STATE_FAULT),
                         [](const ::testing::TestParamInfo<int>& param_info) {
                             return param_info.param < 0 ? std::string("fault")
                                                         : "state_" + std::to_string(param_info.param);
                         });

}  // namespace
