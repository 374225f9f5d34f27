#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "output_default.h"

namespace {
struct Default_Case {
    const char* what;
    Type_Definition type;
    uint32_t byte_offs;
    uint32_t byte_dim;
    uint32_t bit_offs;
    bool negated;
    bool alias;
    std::vector<uint8_t> default_bytes;
    std::vector<uint8_t> image_before;
    std::vector<uint8_t> image_after;
    bool written;
};

void PrintTo(const Default_Case& c, std::ostream* os)
{
    *os << c.what;
}

Shared_Application_Data_Struct record_of(const Default_Case& c)
{
    Shared_Application_Data_Struct record;
    std::memset(&record, 0, sizeof(record));
    record.type = c.type;
    record.byte_offs = c.byte_offs;
    record.byte_dim = c.byte_dim;
    record.bit_offs = c.bit_offs;
    record.is_negated = c.negated;
    record.is_alias = c.alias;
    std::memcpy(record.default_value, c.default_bytes.data(), c.default_bytes.size());
    return record;
}

std::vector<uint8_t> repeated(std::size_t n, uint8_t value)
{
    return std::vector<uint8_t>(n, value);
}

std::vector<uint8_t> concat(std::vector<uint8_t> a, const std::vector<uint8_t>& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

class Output_Default : public testing::TestWithParam<Default_Case> {};

TEST_P(Output_Default, WritesOnlyItsOwnBitsOrBytes)
{
    const Default_Case& c = GetParam();
    const Shared_Application_Data_Struct record = record_of(c);
    std::vector<uint8_t> image = c.image_before;
    EXPECT_EQ(write_output_default(record, image.data(), image.size()), c.written);
    EXPECT_EQ(image, c.image_after);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Output_Default,
    testing::Values(
        Default_Case{"bit_set_keeps_other_bits", BIT_FSM, 1, 1, 5, false, false, {1}, {0x00, 0x00}, {0x00, 0x20}, true},
        Default_Case{"bit_clear_keeps_other_bits", BIT_FSM, 0, 1, 2, false, false, {0}, {0xFF}, {0xFB}, true},
        Default_Case{"negated_bit_default_1_clears", BIT_FSM, 0, 1, 3, true, false, {1}, {0xFF}, {0xF7}, true},
        Default_Case{"negated_bit_default_0_sets", BIT_FSM, 0, 1, 3, true, false, {0}, {0x00}, {0x08}, true},
        Default_Case{"bit_beyond_7_changes_nothing", BIT_FSM, 0, 1, 9, false, false, {1}, {0x5A}, {0x5A}, true},
        Default_Case{"scalar_copies_its_bytes",
                     UINT16_FSM,
                     1,
                     2,
                     0,
                     false,
                     false,
                     {0x34, 0x12},
                     {9, 9, 9, 9},
                     {9, 0x34, 0x12, 9},
                     true},
        Default_Case{"byte_array_of_120_gets_100", BYTE_ARRAY_FSM, 0, 120, 0, false, false, repeated(100, 0xAB),
                     repeated(120, 0x11), concat(repeated(100, 0xAB), repeated(20, 0x11)), true},
        Default_Case{"alias_is_left_alone", UINT8_FSM, 0, 1, 0, false, true, {7}, {0}, {0}, false},
        Default_Case{"record_past_the_image_is_refused",
                     UINT32_FSM,
                     2,
                     4,
                     0,
                     false,
                     false,
                     {1, 2, 3, 4},
                     {0, 0, 0, 0},
                     {0, 0, 0, 0},
                     false}),
    [](const testing::TestParamInfo<Default_Case>& case_info) { return std::string(case_info.param.what); });
}  // namespace
