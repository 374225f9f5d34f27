// Each drive class against the model configured as that vendor's device:
// information values after "get_info" and a move, error codes and texts,
// limit switches and safety, the Ingenia outputs and configuration.

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "axesif_cell.h"
#include "festo_axis.h"
#include "global_define.h"
#include "yaskawa_axis.h"

namespace {

constexpr int SLAVE = 1001;

uint32_t bits_of(float value)
{
    uint32_t bits = 0;
    std::memcpy(&bits, &value, sizeof bits);
    return bits;
}

float float_of(uint32_t bits)
{
    float value = 0;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

// Powers up, reads the drive's information and makes a short move.
void info_and_move(Axesif_Cell& cell)
{
    cell.power_up();
    cell.iface().refresh_info();
    ASSERT_TRUE(cell.complete()) << cell.cell().axmand().log();
    cell.iface().move_axis_to_absolute_target_position_ex(0, Axes_Manager_Target_Position{2.0, 100.0, 1000.0});
    ASSERT_TRUE(cell.complete()) << cell.cell().axmand().log();
}

// What the test process printed while f ran.
template <typename F>
std::string printed(F&& f)
{
    ::testing::internal::CaptureStdout();
    f();
    return ::testing::internal::GetCapturedStdout();
}

TEST(Drive_Classes, Schneider)
{
    Axesif_Cell cell(one_drive("schneider", "schneider"));
    info_and_move(cell);
    Axes_Manager_Interface& iface = cell.iface();
    EXPECT_EQ(iface.get_axis_type_as_string(0), "schneider");
    EXPECT_EQ(iface.get_info_max_vel(0), static_cast<double>(cell.object_value(SLAVE, 0x607F, 0)));
    EXPECT_EQ(iface.get_info_max_acc(0), static_cast<double>(cell.object_value(SLAVE, 0x60C5, 0)));
    EXPECT_EQ(iface.get_info_homing_method(0), static_cast<int8_t>(cell.object_value(SLAVE, 0x6098, 0)));
    EXPECT_GT(iface.get_info_max_vel(0), 0.0);
    // Not a Festo: no limit inputs of its own, the base operation answers.
    const std::string text = printed([&] { EXPECT_FALSE(iface.is_axis_positive_limit_switch_detected(0)); });
    EXPECT_NE(text.find("[Axis][is_positive_limit_switch_detected] is_positive_limit_switch_detected not supported "
                        "for this axis type"),
              std::string::npos)
        << text;
    cell.cell().stop_all();
}

TEST(Drive_Classes, Festo)
{
    Axesif_Cell cell(one_drive("festo", "festo"));
    info_and_move(cell);
    Axes_Manager_Interface& iface = cell.iface();
    EXPECT_EQ(iface.get_axis_type_as_string(0), "festo");
    EXPECT_EQ(iface.get_info_max_vel(0), static_cast<double>(float_of(cell.object_value(SLAVE, 0x2FF3, 0))));
    EXPECT_EQ(iface.get_info_max_acc(0), static_cast<double>(cell.object_value(SLAVE, 0x60C5, 0)));
    EXPECT_EQ(iface.get_info_homing_method(0), static_cast<int8_t>(cell.object_value(SLAVE, 0x6098, 0)));
    EXPECT_EQ(iface.get_info_homing_vel(0), static_cast<double>(cell.object_value(SLAVE, 0x6099, 2)));
    EXPECT_EQ(iface.get_info_homing_switch_vel(0), static_cast<double>(cell.object_value(SLAVE, 0x6099, 1)));
    EXPECT_EQ(iface.get_info_homing_acc(0), static_cast<double>(cell.object_value(SLAVE, 0x609A, 0)));
    struct Resolution {
        const char* name;
        int (Axes_Manager_Interface::*get)(int);
        uint8_t subindex;
    };
    for (const Resolution& r :
         {Resolution{"get_info_pos_resolution", &Axes_Manager_Interface::get_info_pos_resolution, 1},
          Resolution{"get_info_vel_resolution", &Axes_Manager_Interface::get_info_vel_resolution, 2},
          Resolution{"get_info_acc_resolution", &Axes_Manager_Interface::get_info_acc_resolution, 3}}) {
        const int expected = static_cast<int8_t>(cell.object_value(SLAVE, 0x2FF4, r.subindex));
        int got = 0;
        const std::string text = printed([&] { got = (iface.*r.get)(0); });
        EXPECT_EQ(got, expected) << r.name;
        EXPECT_NE(text.find(std::string("[Festo_axis][") + r.name + "] :: answer = " + std::to_string(expected)),
                  std::string::npos)
            << text;
    }
    int unit = 0;
    const std::string unit_text = printed([&] { unit = iface.get_info_user_unit(0); });
    EXPECT_EQ(unit, static_cast<int>(cell.object_value(SLAVE, 0x2FF4, 4)));
    EXPECT_NE(unit_text.find("[Festo_axis][get_info_user_unit] :: answer = " + std::to_string(unit)),
              std::string::npos);

    // Interpolated positions: the model follows what the axis writes each cycle.
    iface.set_axes_interpolated_mode();
    ASSERT_TRUE(cell.refresh_until([&] {
        (void)iface.is_last_command_completed();
        return iface.is_last_command_acknowledged();
    })) << cell.cell().axmand().log();
    EXPECT_FALSE(iface.get_is_in_error_ex());
    const double start = iface.get_axis_actual_position_ex(0) * 1000.0;
    for (int step = 1; step <= 300; ++step) {
        iface.set_axes_next_interp_position({start + 10.0 * step});
        cell.refresh();
    }
    EXPECT_TRUE(cell.refresh_until([&] { return cell.drive_position(SLAVE) == static_cast<int32_t>(start) + 3000; },
                                   std::chrono::seconds(5)))
        << cell.cell().drive_state(SLAVE);

    // One limit input alone under the warning bit: 2 (positive) or 1 (negative).
    struct Limits {
        int positive, negative;
        int code;
    };
    for (const Limits& l : {Limits{1, 0, Festo_Axis::POSITIVE_LIMIT_SWITCH},
                            Limits{0, 1, Festo_Axis::NEGATIVE_LIMIT_SWITCH}, Limits{1, 1, 0}}) {
        cell.cell().drive("limits 1001 " + std::to_string(l.positive) + " " + std::to_string(l.negative));
        EXPECT_TRUE(cell.refresh_until(
            [&] {
                return iface.is_axis_positive_limit_switch_detected(0) == (l.positive != 0) &&
                       iface.is_axis_negative_limit_switch_detected(0) == (l.negative != 0);
            },
            std::chrono::seconds(5)));
        EXPECT_EQ(iface.get_axis_error_code_ex(0), l.code) << l.positive << l.negative;
        EXPECT_TRUE(iface.is_any_limit_switch_detected());
        EXPECT_TRUE(iface.get_is_in_warning_ex());
    }
    // The fault code wins over the limit inputs.
    cell.cell().drive("limits 1001 1 0");
    cell.cell().drive("fault 1001 0x1234");
    EXPECT_TRUE(cell.refresh_until([&] { return iface.get_axis_error_code_ex(0) == 0x1234; }, std::chrono::seconds(5)));
    cell.cell().stop_all();
}

TEST(Drive_Classes, Yaskawa)
{
    Axesif_Cell cell(one_drive("yaskawa", "yaskawa"));
    cell.power_up();
    Axes_Manager_Interface& iface = cell.iface();
    EXPECT_EQ(iface.get_axis_error_code_ex(0), 0);
    EXPECT_FALSE(iface.is_any_safety_active());
    cell.cell().drive("warning 1001 1");  // internal limit active, no error code
    EXPECT_TRUE(cell.refresh_until([&] { return iface.get_axis_error_code_ex(0) == Yaskawa_Axis::LIMIT_SWITCH_ERROR; },
                                   std::chrono::seconds(5)));
    EXPECT_EQ(Yaskawa_Axis::LIMIT_SWITCH_ERROR, 2464);
    EXPECT_TRUE(iface.is_any_limit_switch_detected());
    cell.cell().drive("safety 1001 1");  // status word bit 15
    std::string text;
    EXPECT_TRUE(cell.refresh_until([&] { return iface.is_any_safety_active(); }, std::chrono::seconds(5)));
    text = printed([&] { EXPECT_EQ(iface.get_axis_error_code_ex(0), 0); });
    EXPECT_NE(text.find("[Yaskawa_Axis][is_safety_active] : status_word: "), std::string::npos) << text;
    EXPECT_EQ(iface.get_axis_type_as_string(0), "");
    cell.cell().stop_all();
}

// A drive fault through the interface, and the reset after its cause is gone.
TEST(Drive_Classes, InfranorFaultAndReset)
{
    Axesif_Cell cell(one_drive("infranor", "infranor"));
    cell.power_up();
    Axes_Manager_Interface& iface = cell.iface();
    EXPECT_EQ(iface.get_axis_error_string_ex(0), "No Error");
    cell.cell().drive("fault 1001 0x2310");
    ASSERT_TRUE(cell.refresh_until([&] {
        return iface.get_is_in_error_ex() && iface.get_axis_status_ex(0) == STATE_FAULT;
    })) << cell.cell().axmand().log();
    EXPECT_EQ(iface.get_axis_error_code_ex(0), 0x2310);
    EXPECT_EQ(iface.get_axis_error_code_as_hex_string_ex(0), "0x2310");
    EXPECT_EQ(iface.get_axis_error_string_ex(0), "Overcurrent");

    cell.cell().drive("clear 1001");
    iface.reset_ex();
    ASSERT_TRUE(cell.complete()) << cell.cell().axmand().log();
    EXPECT_FALSE(iface.is_last_command_completed());
    EXPECT_TRUE(cell.refresh_until([&] {
        return iface.get_axis_status_ex(0) == STATE_OPERATION_MODE_IDLE && !iface.get_is_in_error_ex();
    })) << cell.cell().axmand().log();
    EXPECT_EQ(iface.get_axis_error_code_ex(0), 0);

    // A code the table does not hold.
    cell.cell().drive("fault 1001 0x00FF");
    ASSERT_TRUE(cell.refresh_until([&] { return iface.get_axis_error_code_ex(0) == 0xFF; }));
    EXPECT_EQ(iface.get_axis_error_string_ex(0),
              "[Infranor_Axis][get_error_string] :: error string not found for error 0x00ff");
    EXPECT_EQ(iface.get_axis_type_as_string(0), "");
    cell.cell().stop_all();
}

TEST(Drive_Classes, Ingenia)
{
    Axesif_Cell cell(one_drive("ingenia", "ingenia"));
    info_and_move(cell);
    Axes_Manager_Interface& iface = cell.iface();
    EXPECT_EQ(iface.get_axis_type_as_string(0), "ingenia");
    EXPECT_EQ(iface.get_info_max_vel(0), static_cast<double>(cell.object_value(SLAVE, 0x607F, 0)));
    EXPECT_EQ(iface.get_info_max_acc(0), static_cast<double>(cell.object_value(SLAVE, 0x60C5, 0)));
    EXPECT_EQ(iface.get_info_rated_current(0), static_cast<int>(cell.object_value(SLAVE, 0x6075, 0)));
    EXPECT_EQ(iface.get_info_max_current(0), float_of(cell.object_value(SLAVE, 0x2110, 0)));
    EXPECT_GT(iface.get_info_rated_current(0), 0);
    EXPECT_EQ(iface.get_actual_current_std(0), static_cast<int16_t>(cell.object_value(SLAVE, 0x6078, 0)));
    EXPECT_EQ(iface.get_actual_torque_std(0), static_cast<int16_t>(cell.object_value(SLAVE, 0x6077, 0)));
    EXPECT_EQ(iface.get_axis_error_string_ex(0), "No Error");

    // The digital outputs both ways: written through the axis's output, read
    // back from the drive's process data.
    for (int value : {0x5, -1}) {
        iface.set_digital_output(0, value);
        EXPECT_TRUE(cell.refresh_until([&] { return iface.get_digital_output(0) == value; }, std::chrono::seconds(5)));
        EXPECT_EQ(cell.object_value(SLAVE, 0x60FE, 1), static_cast<uint32_t>(value));
    }

    // A maximum current sent with "cfg_data" arrives in the drive.
    iface.set_cfg_max_current(0, 4.25f);
    EXPECT_NE(cell.object_value(SLAVE, 0x2110, 0), bits_of(4.25f));  // nothing sent yet
    iface.update_cfg();
    ASSERT_TRUE(cell.complete()) << cell.cell().axmand().log();
    EXPECT_EQ(cell.object_value(SLAVE, 0x2110, 0), bits_of(4.25f));

    cell.cell().drive("fault 1001 0x7380");
    ASSERT_TRUE(cell.refresh_until([&] { return iface.get_axis_error_code_ex(0) == 0x7380; }));
    EXPECT_EQ(iface.get_axis_error_code_as_hex_string_ex(0), "0x7380");
    EXPECT_EQ(iface.get_axis_error_string_ex(0),
              "Too many incorrect invalid position flags detected in SSI/BiSS-C readings");
    cell.cell().stop_all();
}

// Omron and virtual axes are base axes: their drive operations are not
// supported and say so.
TEST(Drive_Classes, OmronAndVirtualAreBaseAxes)
{
    Axes_Cell::Options options;
    options.descriptor = example_descriptor("omron_virtual");
    options.drives = {"1001:omron"};
    Axesif_Cell cell(options);
    Axes_Manager_Interface& iface = cell.iface();
    ASSERT_EQ(iface.get_axes_num_ex(), 2);
    for (int axis : {0, 1}) {
        std::string type = "?";
        double max_vel = -1;
        const std::string text = printed([&] {
            type = iface.get_axis_type_as_string(axis);
            max_vel = iface.get_info_max_vel(axis);
        });
        EXPECT_EQ(type, "");
        EXPECT_EQ(max_vel, 0.0);
        EXPECT_NE(text.find("[Axis][get_axis_type_as_string] get_axis_type_as_string not supported for this axis type"),
                  std::string::npos)
            << text;
        EXPECT_NE(text.find("[Axis][get_info_max_vel] get_info_max_vel not supported for this axis type"),
                  std::string::npos)
            << text;
        EXPECT_EQ(iface.get_axis_error_code_ex(axis), 0);
        EXPECT_EQ(iface.get_axis_error_string_ex(axis), "");
    }
    // No "iprec1" output on these axes: refused, nothing written.
    try {
        iface.set_axes_next_interp_position({1.0, 2.0});
        ADD_FAILURE() << "nothing thrown";
    } catch (const std::runtime_error& e) {
        EXPECT_NE(std::string(e.what()).find("set_axis_next_interp_position not supported for this axis type"),
                  std::string::npos)
            << e.what();
    }
    cell.cell().stop_all();
}

}  // namespace
