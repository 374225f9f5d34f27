#include <gtest/gtest.h>

#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "fab_default_value.h"
#include "io_record_factory.h"
#include "xelo_app_desc_saver.h"

namespace {
template <typename T>
std::vector<uint8_t> bytes_of(T value)
{
    std::vector<uint8_t> bytes(sizeof(T));
    std::memcpy(bytes.data(), &value, sizeof(T));
    return bytes;
}

struct Text_Case {
    const char* what;
    Type_Definition type;
    std::vector<uint8_t> bytes;
    bool held_as_text;
    const char* expected;  // nullptr: only the round trip is checked
};

void PrintTo(const Text_Case& c, std::ostream* os)
{
    *os << c.what;
}

class Default_Text : public testing::TestWithParam<Text_Case> {
protected:
    Io_Record_Factory factory;
};

// The written text is read back by the descriptor loader into the very bytes
// the client stored.
TEST_P(Default_Text, ReadsBackToTheSameBytes)
{
    const Text_Case& c = GetParam();
    IO_Descriptor& record = factory.make();
    record.m_type = c.type;
    record.m_byte_dim = static_cast<uint32_t>(c.bytes.size());
    record.m_default_value = c.bytes;
    record.m_is_default_value_string = c.held_as_text;
    const std::string text = default_value_attribute_text_ex(record);
    if (c.expected != nullptr) {
        EXPECT_EQ(text, c.expected);
    }
    const Default_Value_Bytes read_back = convert_default_value_ex(text, c.type, record.m_byte_dim, "x");
    EXPECT_EQ(read_back.bytes, c.bytes) << "text " << text;
}

std::vector<uint8_t> text_bytes(const char* text, std::size_t size)
{
    std::vector<uint8_t> bytes(size, 0);
    std::memcpy(bytes.data(), text, std::strlen(text));
    return bytes;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Default_Text,
    testing::Values(
        Text_Case{"uint16_1000", UINT16_FSM, {0xE8, 0x03}, false, "1000"},
        Text_Case{"int8_minus_2", INT8_FSM, {0xFE}, false, "-2"}, Text_Case{"bit_1", BIT_FSM, {1}, false, "1"},
        Text_Case{"int64_min", INT64_FSM, bytes_of(std::numeric_limits<int64_t>::min()), false, nullptr},
        Text_Case{"uint64_max", UINT64_FSM, bytes_of(std::numeric_limits<uint64_t>::max()), false, nullptr},
        Text_Case{"float_tenth", FLOAT_FSM, bytes_of(0.1f), false, "0.1"},
        Text_Case{"float_needs_9_digits", FLOAT_FSM, bytes_of(16777217.0f * 0.999999f), false, nullptr},
        Text_Case{"double_third", DOUBLE_FSM, bytes_of(1.0 / 3.0), false, nullptr},
        Text_Case{"double_tiny", DOUBLE_FSM, bytes_of(4.9406564584124654e-320), false, nullptr},
        Text_Case{"bytes_written_whole_past_a_zero", BYTE_ARRAY_FSM, {0x01, 0xAB, 0x00, 0x05}, false, "0x01ab0005"},
        Text_Case{"bytes_all_zero", BYTE_ARRAY_FSM, {0, 0, 0}, false, "0x000000"},
        Text_Case{"single_byte", BYTE_ARRAY_FSM, {0xAB}, false, "0xab"},
        Text_Case{"text_with_zero_padding", BYTE_ARRAY_FSM, text_bytes("abc", 8), true, "abc"},
        Text_Case{"text_filling_the_array", BYTE_ARRAY_FSM, text_bytes("abcd", 4), true, "abcd"},
        Text_Case{"text_that_holds_a_zero_inside", BYTE_ARRAY_FSM, {'a', 0, 'b', 0}, true, "0x61006200"},
        Text_Case{"text_that_looks_hexadecimal", BYTE_ARRAY_FSM, text_bytes("0x12", 6), true, "0x307831320000"}),
    [](const testing::TestParamInfo<Text_Case>& case_info) { return std::string(case_info.param.what); });

TEST(Default_Text_Type, ATypeWithoutDefaultsIsRefused)
{
    Io_Record_Factory factory;
    IO_Descriptor& record = factory.make();
    record.m_type = UNDEFINED_TYPE_FSM;
    record.m_default_value = {1};
    try {
        default_value_attribute_text_ex(record);
        FAIL() << "no exception";
    } catch (const std::runtime_error& error) {
        EXPECT_STREQ(error.what(), "Type not valid for default value");
    }
}
}  // namespace
