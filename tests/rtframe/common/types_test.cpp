#include <gtest/gtest.h>

#include <stdexcept>

#include "framework_types.h"

TEST(Type_Definition, NamesOfEveryType)
{
    const std::pair<int, const char*> names[] = {
        {-1, "undefined_type"}, {0, "bit"},     {1, "int8"},   {2, "uint8"},  {3, "int16"},
        {4, "uint16"},          {5, "int32"},   {6, "uint32"}, {7, "double"}, {8, "uint8_array[0..n]"},
        {9, "int64"},           {10, "uint64"}, {11, "float"},
    };
    for (const auto& [id, name] : names)
        EXPECT_EQ(get_type_name_from_type_id_ex(id), name) << id;
}

TEST(Type_Definition, UnknownIdThrows)
{
    for (int id : {12, -2, 1000}) {
        try {
            get_type_name_from_type_id_ex(id);
            FAIL() << id;
        } catch (const std::runtime_error& e) {
            EXPECT_EQ(std::string(e.what()),
                      "[get_string_name_from_type_id_ex] type id " + std::to_string(id) + " not recognized");
        }
    }
}

TEST(Container_Traits, ScalarIdsSizesAndBuild)
{
    static_assert(Container_Traits<bool>::type_id == BIT_FSM && Container_Traits<bool>::dim == 1);
    static_assert(Container_Traits<signed char>::type_id == INT8_FSM && Container_Traits<signed char>::dim == 1);
    static_assert(Container_Traits<short>::type_id == INT16_FSM && Container_Traits<short>::dim == 2);
    static_assert(Container_Traits<unsigned short>::type_id == UINT16_FSM);
    static_assert(Container_Traits<unsigned int>::type_id == UINT32_FSM && Container_Traits<unsigned int>::dim == 4);
    static_assert(Container_Traits<long long>::type_id == INT64_FSM && Container_Traits<long long>::dim == 8);
    static_assert(Container_Traits<unsigned long long>::type_id == UINT64_FSM);
    static_assert(Container_Traits<float>::type_id == FLOAT_FSM && Container_Traits<float>::dim == 4);
    static_assert(Container_Traits<double>::type_id == DOUBLE_FSM && Container_Traits<double>::dim == 8);

    // Values at unaligned addresses, native byte order.
    const unsigned char raw[] = {0xAA, 0x34, 0x12, 0x78, 0x56, 0xff, 0xff, 0xff, 0xff};
    EXPECT_EQ(Container_Traits<short>::build(raw + 1), 0x1234);
    EXPECT_EQ(Container_Traits<int>::build(raw + 1), 0x56781234);
    EXPECT_EQ(Container_Traits<int>::build(raw + 5), -1);
    EXPECT_EQ(Container_Traits<signed char>::build(raw + 5), -1);
    EXPECT_TRUE(Container_Traits<bool>::build(raw));
    const unsigned char zero = 0;
    EXPECT_FALSE(Container_Traits<bool>::build(&zero));
    EXPECT_EQ(Container_Traits<double>::create_new(), 0.0);
    EXPECT_FALSE(Container_Traits<bool>::create_new());
}

TEST(Container_Traits, ByteArrays)
{
    const char raw[] = {'a', 'b', '\0', 'c', 'd'};
    EXPECT_EQ(Container_Traits<std::string>::build(raw, 5), "ab");
    EXPECT_EQ(Container_Traits<std::string>::build(raw + 3, 2), "cd");  // no zero within length: stops at length
    EXPECT_EQ(Container_Traits<std::string>::build(raw, 1), "a");
    EXPECT_EQ(Container_Traits<std::vector<unsigned char>>::build(raw, 5).size(), 5u);
    EXPECT_EQ(Container_Traits<std::vector<unsigned char>>::build(raw, 5)[3], 'c');
    EXPECT_EQ(Container_Traits<std::string>::create_new(3), std::string(3, '\0'));
    EXPECT_EQ(Container_Traits<std::vector<unsigned char>>::create_new(4), std::vector<unsigned char>(4, 0));
    const std::string text = "xyz";
    EXPECT_EQ(Container_Traits<std::string>::dim(text), 3u);
    EXPECT_EQ(Container_Traits<std::string>::data(text)[2], 'z');
    static_assert(Container_Traits<std::string>::type_id == BYTE_ARRAY_FSM);
}
