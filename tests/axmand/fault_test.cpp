// Drive faults: every axis is disabled, the manager reports the first faulty
// axis, and a reset powers up once the cause is gone.

#include <gtest/gtest.h>

#include "axes_cell.h"

namespace {

struct Faulty {
    int slave;
    int axis;
};

void PrintTo(const Faulty& f, std::ostream* os)
{
    *os << "slave " << f.slave;
}

class Axmand_Fault : public ::testing::TestWithParam<Faulty> {};

TEST_P(Axmand_Fault, DisablesEveryAxisAndNamesTheFaultyOne)
{
    Axes_Cell::Options options;
    options.descriptor = example_descriptor("two_axes");
    options.drives = {"1001:schneider", "1002:yaskawa"};
    Axes_Cell cell(options);
    power_up(cell);
    Axes_Client& client = cell.client();
    ASSERT_TRUE(cell.wait_axis_state(1, STATE_OPERATION_MODE_IDLE));

    cell.drive("fault " + std::to_string(GetParam().slave) + " 0x2310");
    ASSERT_TRUE(cell.axmand().wait_for_log("[axes manager][cyclic thread] fault found - axis :: " +
                                               std::to_string(GetParam().axis),
                                           std::chrono::seconds(5)))
        << cell.axmand().log();
    ASSERT_TRUE(client.refresh_until(
        [&] {
            const Axes_Client::Snapshot s = client.snapshot();
            return s.manager_state == NOT_OPERATIONAL && s.in_error && client.axis_state(0) == STATE_FAULT &&
                   client.axis_state(1) == STATE_FAULT;
        },
        std::chrono::seconds(5)));
    EXPECT_EQ(client.snapshot().first_axis_in_error, GetParam().axis);
    EXPECT_EQ(client.control_word(0), 0);
    EXPECT_EQ(client.control_word(1), 0);

    // While the cause lasts the drive cannot be reset: the axis times out again.
    EXPECT_EQ(client.command(CMD_RESET, 2000, 5000), -1);
    cell.drive("clear " + std::to_string(GetParam().slave));
    ASSERT_EQ(client.command(CMD_RESET), 1);
    EXPECT_TRUE(cell.wait_axis_state(0, STATE_OPERATION_MODE_IDLE));
    EXPECT_TRUE(cell.wait_axis_state(1, STATE_OPERATION_MODE_IDLE));
    client.refresh();
    EXPECT_FALSE(client.snapshot().in_error);
    cell.stop_all();
}

INSTANTIATE_TEST_SUITE_P(Axes, Axmand_Fault, ::testing::Values(Faulty{1001, 0}, Faulty{1002, 1}),
                         [](const ::testing::TestParamInfo<Faulty>& param_info) {
                             return "axis_" + std::to_string(param_info.param.axis);
                         });

}  // namespace
