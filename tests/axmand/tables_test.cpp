// The axes tables shared with the client library, and the control and
// status word views.

#include <gtest/gtest.h>

#include <stdexcept>

#include "bitset_convertor.h"
#include "global_define.h"

namespace {

TEST(Axes_Tables, ReverseTablesAndStrictLookups)
{
    EXPECT_EQ(cmd_code_to_string_map.at(7), "cfg_data");
    EXPECT_EQ(op_mode_to_string_map.at(8), "interpolated");
    for (const auto& entry : cmd_string_to_code_map)
        EXPECT_EQ(cmd_code_to_string_map.at(entry.second), entry.first);
    EXPECT_THROW(cmd_code_to_string_map.at(0), std::out_of_range);
    EXPECT_THROW(cmd_code_to_string_map.at(9), std::out_of_range);
    EXPECT_THROW(op_mode_map.at("velocity"), std::out_of_range);
    EXPECT_EQ(axis_types_map.at(AXIS_INGENIA), "INGENIA");
    EXPECT_EQ(axis_types_map.size(), 7u);
}

TEST(Axes_Tables, WordViewsNameTheirBits)
{
    bitsetConvertor_cw cw{};
    cw.bs_pp.new_set_point = 1;
    cw.bs_pp.is_relative = 1;
    cw.bs.halt = 1;
    EXPECT_EQ(cw.dby, 0x0150);
    cw.dby = 0x0080;
    EXPECT_EQ(cw.bs.reset_fault_rising_edge, 1);
    EXPECT_EQ(cw.bs_h.homing_operation_start, 0);

    bitsetConvertor_sw sw{};
    sw.dby = 0x3400;  // homing error at standstill with attained set
    EXPECT_EQ(sw.bs_h.target_reached, 1);
    EXPECT_EQ(sw.bs_h.homing_attained, 1);
    EXPECT_EQ(sw.bs_h.homing_error, 1);
    EXPECT_EQ(sw.bs_pp.following_error, 1);
    sw.dby = 0x8000;
    EXPECT_EQ(sw.bs.manufacter_specific_2, 1);
    sw.dby = 0x0800;
    EXPECT_EQ(sw.bs.internal_limit_active, 1);
}

}  // namespace
