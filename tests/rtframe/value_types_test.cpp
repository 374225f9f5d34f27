#include <gtest/gtest.h>

#include <string>

#include "fab_value_types.h"
#include "xelo_app_desc_manager.h"

namespace {

struct Type_Row {
    const char* word;
    Type_Definition type;
    unsigned size;
};

// Every word the descriptor files use, its code and its size in the images.
const Type_Row ROWS[] = {
    {"bit", BIT_FSM, 1},       {"int8", INT8_FSM, 1},     {"uint8", UINT8_FSM, 1},   {"int16", INT16_FSM, 2},
    {"uint16", UINT16_FSM, 2}, {"int32", INT32_FSM, 4},   {"uint32", UINT32_FSM, 4}, {"double", DOUBLE_FSM, 8},
    {"int64", INT64_FSM, 8},   {"uint64", UINT64_FSM, 8}, {"float", FLOAT_FSM, 4},
};

TEST(Value_Types, WordsCodesAndSizes)
{
    for (const Type_Row& row : ROWS) {
        SCOPED_TRACE(row.word);
        EXPECT_EQ(typestring2typedescriptor(row.word), row.type);
        EXPECT_EQ(typedescriptor2typestring(row.type), row.word);
        EXPECT_EQ(Application_Descriptor_Manager::get_type_dimension(row.type), row.size);
    }
}

TEST(Value_Types, ByteArrayWords)
{
    for (const char* word : {"uint8_array[0..n]", "uint8_array[0..7]", "uint16_array[0..7]"})
        EXPECT_EQ(typestring2typedescriptor(word), BYTE_ARRAY_FSM) << word;
    EXPECT_EQ(typedescriptor2typestring(BYTE_ARRAY_FSM), "uint8_array[0..n]");
    EXPECT_EQ(Application_Descriptor_Manager::get_type_dimension(BYTE_ARRAY_FSM), 0u);
}

TEST(Value_Types, UnknownWordsAndCodes)
{
    for (const char* word : {"Float", "", "uint16 ", "UINT16", "uint8_array"})
        EXPECT_EQ(typestring2typedescriptor(word), UNDEFINED_TYPE_FSM) << '"' << word << '"';
    for (int code : {-1, 12, -7}) {
        EXPECT_EQ(typedescriptor2typestring(static_cast<Type_Definition>(code)), "default return type");
        EXPECT_EQ(Application_Descriptor_Manager::get_type_dimension(static_cast<Type_Definition>(code)), 0u);
    }
}

struct Column_Case {
    const char* label;
    const char* value;
    unsigned width;
    std::string expected;
};

TEST(Build_String, FixedWidthColumns)
{
    const Column_Case cases[] = {
        {"byte_dim", "4", 20, "byte_dim :: 4" + std::string(8, ' ')},
        // 25 characters into width 20: 17 kept, "..", two blanks.
        {"virtual_id", "abcdefghijkl", 20, "virtual_id :: abc.." + std::string(2, ' ')},
        // Exactly width characters are cut as well.
        {"abcd", "efghijkl", 16, "abcd :: efghi.." + std::string(2, ' ')},
        {"abcd", "efghijk", 16, "abcd :: efghijk" + std::string(2, ' ')},
        {"a", "b", 0, "a :: b"},
        {"a", "bcdef", 2, "a :: bcdef.."},
        {"ab", "c", 3, "..  "},
    };
    for (const Column_Case& c : cases) {
        SCOPED_TRACE(c.expected);
        const std::string column = build_string(c.label, c.value, c.width);
        EXPECT_EQ(column, c.expected);
        if (c.width >= 3) {
            EXPECT_EQ(column.size(), c.width + 1);
        }
    }
}

}  // namespace
