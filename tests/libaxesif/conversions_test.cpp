// Motion requests in user units as they arrive in the drive's dictionary:
// the product with the axis's factors, truncated toward zero, saturated, NaN
// as 0; the relative and change-set-immediately data in the control word.

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "axesif_cell.h"
#include "global_define.h"

namespace {

constexpr int SLAVE = 1001;
const double NaN = std::numeric_limits<double>::quiet_NaN();

// Position factor 1000, velocity 100, acceleration 10.
Axes_Cell::Options scaled_schneider()
{
    Axes_Cell::Options options = one_drive("schneider", "schneider");
    for (const auto& [factor, value] : {std::pair<const char*, const char*>{"vel", "100"}, {"acc", "10"}}) {
        const std::string head = std::string("name_virtual=\"axmngr_0_ax_0_") + factor +
                                 "_raw_per_unit\" type=\"double\" group_id=\"-1\" is_ro=\"1\" is_negated=\"0\" "
                                 "default_value=\"";
        options.descriptor = replaced(options.descriptor, head + "1000\"", head + value + "\"");
    }
    return options;
}

// Polls until the manager has answered the last command.
void acknowledged(Axesif_Cell& cell)
{
    ASSERT_TRUE(cell.refresh_until([&] {
        (void)cell.iface().is_last_command_completed();
        return cell.iface().is_last_command_acknowledged();
    })) << cell.cell().axmand().log();
}

struct Objects {
    uint32_t target, velocity, acceleration, deceleration;
};

class Conversions : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        s_cell = std::make_unique<Axesif_Cell>(scaled_schneider());
        s_cell->power_up();
    }
    static void TearDownTestSuite()
    {
        s_cell->cell().stop_all();
        s_cell.reset();
    }
    static std::unique_ptr<Axesif_Cell> s_cell;
};
std::unique_ptr<Axesif_Cell> Conversions::s_cell;

TEST_F(Conversions, ProfilePosition)
{
    Axesif_Cell& cell = *s_cell;
    ASSERT_DOUBLE_EQ(cell.iface().get_axis_actual_position_ex(0), 0.0);
    struct Case {
        Axes_Manager_Target_Position request;
        Objects expected;
    };
    const Case cases[] = {
        {{10.0, -5.0, 2.5}, {10000, 0, 25, 25}},
        {{-0.0015, 1.0, 0.99}, {static_cast<uint32_t>(-1), 100, 9, 9}},
        {{1e12, 1e12, 1e12}, {0x7FFFFFFFu, 0xFFFFFFFFu, 0xFFFFFFFFu, 0xFFFFFFFFu}},
        {{-1e12, -1e12, -1e12}, {0x80000000u, 0, 0, 0}},
        {{NaN, NaN, NaN}, {0, 0, 0, 0}},
    };
    for (const Case& c : cases) {
        cell.iface().move_axis_to_absolute_target_position_ex(0, c.request);
        acknowledged(cell);
        const Objects got{cell.object_value(SLAVE, 0x607A, 0), cell.object_value(SLAVE, 0x6081, 0),
                          cell.object_value(SLAVE, 0x6083, 0), cell.object_value(SLAVE, 0x6084, 0)};
        EXPECT_EQ(got.target, c.expected.target) << c.request.position;
        EXPECT_EQ(got.velocity, c.expected.velocity) << c.request.velocity;
        EXPECT_EQ(got.acceleration, c.expected.acceleration) << c.request.acceleration;
        EXPECT_EQ(got.deceleration, c.expected.deceleration) << c.request.acceleration;
    }
}

// Absolute moves set "change set immediately" (bit 5) alone, relative ones
// bit 6 as well.
TEST_F(Conversions, RelativeAndChangeSetImmediately)
{
    Axesif_Cell& cell = *s_cell;
    cell.iface().move_axis_to_absolute_target_position_ex(0, Axes_Manager_Target_Position{1.0, 10.0, 10.0});
    acknowledged(cell);
    std::string history = cell.cell().drive_history(SLAVE);
    EXPECT_NE(history.find("0x003f"), std::string::npos) << history;
    EXPECT_EQ(history.find("0x007f"), std::string::npos) << history;
    cell.iface().move_axis_to_relative_target_position_ex(0, Axes_Manager_Target_Position{1.0, 10.0, 10.0});
    acknowledged(cell);
    history = cell.cell().drive_history(SLAVE);
    EXPECT_NE(history.find("0x007f"), std::string::npos) << history;
}

TEST_F(Conversions, ProfileVelocityAndHoming)
{
    Axesif_Cell& cell = *s_cell;
    cell.iface().move_axis_to_target_velocity_ex(0, Axes_Manager_Target_Velocity{-2.5, 0.55});
    acknowledged(cell);
    EXPECT_EQ(static_cast<int32_t>(cell.object_value(SLAVE, 0x60FF, 0)), -250);
    EXPECT_EQ(cell.object_value(SLAVE, 0x6083, 0), 5u);
    EXPECT_EQ(cell.object_value(SLAVE, 0x6084, 0), 5u);

    cell.iface().perform_quickstop_for_all_axes_ex();
    ASSERT_TRUE(cell.complete());
    cell.power_up();
    cell.iface().do_axis_homing_ex(0, Axes_Manager_Homing{35, 0.5, 1.5, 3.0});
    acknowledged(cell);
    EXPECT_EQ(static_cast<int8_t>(cell.object_value(SLAVE, 0x6098, 0)), 35);
    EXPECT_EQ(cell.object_value(SLAVE, 0x6099, 1), 150u);  // switch search
    EXPECT_EQ(cell.object_value(SLAVE, 0x6099, 2), 50u);   // zero search
    EXPECT_EQ(cell.object_value(SLAVE, 0x609A, 0), 30u);
}

}  // namespace
