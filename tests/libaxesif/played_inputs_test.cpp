// The drive classes on inputs that the test writes itself (rtframe -o with
// no drive and no manager: the slave inputs are the test's to set), for the
// combinations of error codes and status bits a model does not reach.

#include <gtest/gtest.h>

#include <functional>
#include <map>

#include "axesif_cell.h"
#include "festo_axis.h"
#include "yaskawa_axis.h"

namespace {

// rtframe -o on an example descriptor; no drivesim, no axmand.
class Played_Cell {
public:
    explicit Played_Cell(const std::string& descriptor)
    {
        Axes_Cell::Options options;
        options.descriptor = example_descriptor(descriptor);
        options.start_axmand = false;
        m_cell = std::make_unique<Axesif_Cell>(options);
    }
    ~Played_Cell() { m_cell->cell().stop_all(); }

    Axes_Manager_Interface& iface() { return m_cell->iface(); }

    // Writes the inputs "axmngr_0_ax_0_<suffix>" and waits until the
    // interface sees the last one.
    template <typename T>
    void play(const std::string& suffix, T value, const std::function<bool()>& seen)
    {
        Framework_Shared_Memory_Manager& fw = m_cell->framework();
        const std::string label = "axmngr_0_ax_0_" + suffix;
        auto found = m_ids.find(label);
        if (found == m_ids.end())
            found = m_ids.emplace(label, fw.get_output_rw_id_ex(label, false)).first;
        fw.set_output_ex<T>(found->second, value);
        ASSERT_TRUE(m_cell->refresh_until(seen, std::chrono::seconds(2))) << label;
    }

private:
    std::unique_ptr<Axesif_Cell> m_cell;
    std::map<std::string, int> m_ids;
};

TEST(Played_Inputs, IngeniaErrorTextsAndValues)
{
    Played_Cell cell("ingenia");
    Axes_Manager_Interface& iface = cell.iface();
    const std::string not_found = "[Ingenia_Axis][get_error_string] :: error string not found for error 0x";
    const std::pair<int, std::string> cases[] = {
        {0, "No Error"},
        {0x10004500, "External warning"},
        {0x06040041, "Object isn't cyclic mappable as requested"},
        {0x8100, "Communication\u2013generic or CAN overrun (objects lost)"},
        {0x1234, not_found + "00001234"},
        {0x7389, not_found + "00007389"},
        {-1, not_found + "ffffffff"},
    };
    for (const auto& c : cases) {
        cell.play<int>("error_code", c.first, [&] { return iface.get_axis_error_code_ex(0) == c.first; });
        EXPECT_EQ(iface.get_axis_error_string_ex(0), c.second) << c.first;
    }
    cell.play<unsigned>("digital_output_read", 0x80000000u,
                        [&] { return iface.get_digital_output(0) == static_cast<int>(0x80000000u); });
    EXPECT_LT(iface.get_digital_output(0), 0);
    cell.play<short>("actual_current_std", -100, [&] { return iface.get_actual_current_std(0) == -100; });
    cell.play<short>("actual_torque_std", -7, [&] { return iface.get_actual_torque_std(0) == -7; });
}

TEST(Played_Inputs, InfranorErrorTexts)
{
    Played_Cell cell("infranor");
    Axes_Manager_Interface& iface = cell.iface();
    const std::string not_found = "[Infranor_Axis][get_error_string] :: error string not found for error 0x";
    const std::pair<unsigned short, std::string> cases[] = {
        {0, "No Error"},
        {0x50B2, "Extension Error or Fieldbus hardware error"},
        {0x50B3, "Extension Error or Fieldbus hardware error"},
        {0x7305, "Encoder counting error"},
        {0x7303, "Resolver tracking error"},
        {0x6320, "Configuration error"},
        {0x1234, not_found + "1234"},
        {0xABCD, not_found + "abcd"},
        {0x00FF, not_found + "00ff"},
    };
    for (const auto& c : cases) {
        cell.play<unsigned short>("error_code", c.first, [&] { return iface.get_axis_error_code_ex(0) == c.first; });
        EXPECT_EQ(iface.get_axis_error_string_ex(0), c.second) << c.first;
    }
}

TEST(Played_Inputs, FestoErrorCodeFromStatusBits)
{
    Played_Cell cell("festo");
    Axes_Manager_Interface& iface = cell.iface();
    struct Case {
        unsigned short status_word;
        unsigned char positive, negative;
        int code;
    };
    const unsigned drive_code = 0x00ABCDEF;
    cell.play<unsigned>("error_code", drive_code, [] { return true; });
    const Case cases[] = {
        {0x0088, 1, 0, static_cast<int>(drive_code)},  // fault wins
        {0x0080, 1, 0, Festo_Axis::POSITIVE_LIMIT_SWITCH},
        {0x0080, 0, 1, Festo_Axis::NEGATIVE_LIMIT_SWITCH},
        {0x0080, 1, 1, static_cast<int>(drive_code)},
        {0x0080, 0, 0, static_cast<int>(drive_code)},
        {0x0000, 1, 1, 0},
    };
    for (const Case& c : cases) {
        cell.play<unsigned char>("positive_limit_switch_detected", c.positive, [] { return true; });
        cell.play<unsigned char>("negative_limit_switch_detected", c.negative, [] { return true; });
        cell.play<unsigned short>("status_word", c.status_word,
                                  [&] { return iface.get_axis_error_code_ex(0) == c.code; });
    }
    // Bit 11 without bit 7: a limit switch, but neither direction reports it.
    cell.play<unsigned char>("positive_limit_switch_detected", 1, [] { return true; });
    cell.play<unsigned short>("status_word", 0x0800, [&] { return iface.is_any_limit_switch_detected(); });
    EXPECT_FALSE(iface.is_axis_positive_limit_switch_detected(0));
}

TEST(Played_Inputs, YaskawaLimitAndSafety)
{
    Played_Cell cell("yaskawa");
    Axes_Manager_Interface& iface = cell.iface();
    struct Case {
        unsigned short error_code, status_word;
        int code;
    };
    const Case cases[] = {
        {0, 0x0800, Yaskawa_Axis::LIMIT_SWITCH_ERROR},
        {0, 0x8800, 0},
        {0x1234, 0x0800, 0x1234},
        {0x1234, 0x8800, 0x1234},
        {0, 0x0000, 0},
    };
    for (const Case& c : cases) {
        cell.play<unsigned short>("error_code", c.error_code, [] { return true; });
        cell.play<unsigned short>("status_word", c.status_word,
                                  [&] { return iface.get_axis_error_code_ex(0) == c.code; });
    }
}

// A base axis: bit 11 of the status word is its limit switch.
TEST(Played_Inputs, BaseAxisLimitBit)
{
    Played_Cell cell("omron_virtual");
    Axes_Manager_Interface& iface = cell.iface();
    cell.play<unsigned short>("status_word", 0x0800, [&] { return iface.is_any_limit_switch_detected(); });
    cell.play<unsigned short>("status_word", 0x07FF, [&] { return !iface.is_any_limit_switch_detected(); });
    EXPECT_TRUE(iface.get_is_in_warning_ex());  // bit 7
}

}  // namespace
