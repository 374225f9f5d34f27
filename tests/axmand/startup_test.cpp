// Start-up of axmand: command line, the start's log, binding failures.

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

TEST(Axmand_Startup, UnknownOptionIsRefusedBeforeAnythingIsAttached)
{
    Child_Process axmand(AXMAND_BINARY, {"-x"}, "/tmp/axmand.log");
    EXPECT_NE(axmand.wait_exit(), 0);
    const std::string log = axmand.log();
    EXPECT_NE(log.find("### Option not recognized! ###"), std::string::npos) << log;
    EXPECT_EQ(log.find("[axes manager] init object"), std::string::npos) << log;
    EXPECT_EQ(log.find("framework init"), std::string::npos) << log;
}

TEST(Axmand_Startup, StartLogsItsStepsInOrderAndRestsNotOperational)
{
    Axes_Cell cell(schneider());
    const std::string log = cell.axmand().log();
    const char* const steps[] = {
        "#### XELO ROBOT CONTROL ###",
        "[axes manager number ] ::: 0",
        "[axes manager] init object ",
        "[axes manager] :: init_ex  -- configure and start theads",
        "[axes manager] framework init ... ",
        "[axes manager] framework init ---> done ",
        "[axes manager] cycle time set as framework's one",
        "[axes manager] cmd mutex intialized",
        "[axes manager] loading command protocol ",
        "[axes manager] init_ex -- num of axes configured :: 1",
        "[axis descriptor][init_ex()] axis initializing ... number :: 0",
        "[axis descriptor] loading standard op modes, axis type = SCHNEIDER",
        "[axes manager] State_Manager::State_Manager\t m_id: 3\t m_name: NOT_OPERATIONAL_STATE",
        "[axes manager] framework watchdog armed :: 100 cycles of 1000 us",
        "[axes manager] init cyclic thread --> done",
    };
    size_t at = 0;
    for (const char* step : steps) {
        const size_t found = log.find(step, at);
        ASSERT_NE(found, std::string::npos) << "missing or out of order: " << step << "\n" << log;
        at = found;
    }
    Axes_Client& client = cell.client();
    client.refresh();
    client.refresh();
    EXPECT_EQ(client.snapshot().manager_state, NOT_OPERATIONAL);
    EXPECT_EQ(client.axis_state(0), STATE_FAULT);
    EXPECT_EQ(client.control_word(0), 0);
    cell.stop_all();
}

TEST(Axmand_Startup, ManagerNumberAndCycleTimeFromTheCommandLine)
{
    Axes_Cell::Options options = schneider();
    options.descriptor = replaced(options.descriptor, "axmngr_0", "axmngr_2");
    options.axmand_arguments = {"--number", "2", "--cycle_time", "4000"};
    options.manager = 2;
    Axes_Cell cell(options);
    const std::string log = cell.axmand().log();
    EXPECT_NE(log.find("[axes manager] set my cycle time on framework :: 4000"), std::string::npos) << log;
    EXPECT_NE(log.find("refresh_time_master_tick: 4"), std::string::npos) << log;
    EXPECT_NE(log.find("init_ex -- num of axes configured :: 1"), std::string::npos) << log;
    power_up(cell);
    EXPECT_TRUE(cell.wait_axis_state(0, STATE_OPERATION_MODE_IDLE));
    cell.stop_all();
}

struct Bad_Count {
    const char* count;
};

void PrintTo(const Bad_Count& c, std::ostream* os)
{
    *os << c.count;
}

class Axmand_Axes_Count : public ::testing::TestWithParam<Bad_Count> {};

TEST_P(Axmand_Axes_Count, BelowOneIsRefusedWithoutThreads)
{
    Axes_Cell::Options options = schneider();
    options.descriptor =
        replaced(options.descriptor,
                 "name_virtual=\"axmngr_0_axes_number\" type=\"int8\" group_id=\"-1\" is_ro=\"1\" "
                 "is_negated=\"0\" default_value=\"1\"",
                 std::string("name_virtual=\"axmngr_0_axes_number\" type=\"int8\" group_id=\"-1\" is_ro=\"1\" "
                             "is_negated=\"0\" default_value=\"") +
                     GetParam().count + "\"");
    options.wait_axmand_threads = false;
    options.attach_client = false;
    Axes_Cell cell(options);
    const std::string error =
        "[axes manager] init_ex  --> NOT_OPERATIONAL :: [axes manager] init_ex --> ERROR :: "
        "axes number could not be zero";
    ASSERT_TRUE(cell.axmand().wait_for_log(error, std::chrono::seconds(20))) << cell.axmand().log();
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    const std::string log = cell.axmand().log();
    EXPECT_EQ(log.find("cyclic_thread"), std::string::npos) << log;
    EXPECT_FALSE(cell.axmand().has_ended());
    cell.stop_all();
}

INSTANTIATE_TEST_SUITE_P(Counts, Axmand_Axes_Count, ::testing::Values(Bad_Count{"0"}, Bad_Count{"-1"}),
                         [](const ::testing::TestParamInfo<Bad_Count>& param_info) {
                             return std::string(param_info.param.count[0] == '-' ? "minus_one" : "zero");
                         });

TEST(Axmand_Startup, MissingVariableIsNamed)
{
    Axes_Cell::Options options = schneider();
    const std::string line =
        "    <input name_physic=\"Drive1001.status_word\" name_virtual=\"axmngr_0_ax_0_status_word\" "
        "slave_address=\"1001\" byte_offset=\"0\" bit_offset=\"0\" byte_dimension=\"2\" "
        "type=\"uint16\" group_id=\"-1\" is_ro=\"0\" is_negated=\"0\"/>\n";
    options.descriptor = replaced(options.descriptor, line, "");
    options.drives.clear();
    options.wait_axmand_threads = false;
    options.attach_client = false;
    Axes_Cell cell(options);
    EXPECT_TRUE(
        cell.axmand().wait_for_log("[axes manager] init_ex  --> NOT_OPERATIONAL :: ### Error!!! mandatory "
                                   "input not found: axmngr_0_ax_0_status_word ###",
                                   std::chrono::seconds(20)))
        << cell.axmand().log();
    cell.stop_all();
}

TEST(Axmand_Startup, SecondManagerOfTheSameNumberStopsInInitAndTheFirstServesOn)
{
    Axes_Cell cell(schneider());
    std::unique_ptr<Child_Process> second = cell.start_axmand({"-n", "0"}, 2);
    EXPECT_TRUE(second->wait_for_log("[axes manager] init_ex  --> NOT_OPERATIONAL :: ", std::chrono::seconds(20)))
        << second->log();
    EXPECT_EQ(second->log().find("cyclic_thread"), std::string::npos);
    power_up(cell);
    EXPECT_EQ(second->stop(), 0);
    cell.stop_all();
}

}  // namespace
