#include <gtest/gtest.h>

#include "xelo_string_functions.h"

using namespace XELO_String_Functions;

struct Tokenize_Case {
    std::string text;
    std::string delimiters;
    std::vector<std::string> tokens;
};

void PrintTo(const Tokenize_Case& c, std::ostream* os)
{
    *os << '"' << c.text << "\" at \"" << c.delimiters << '"';
}

class Tokenize : public ::testing::TestWithParam<Tokenize_Case> {};

TEST_P(Tokenize, SplitsWithoutEmptyTokens)
{
    EXPECT_EQ(tokenize(GetParam().text, GetParam().delimiters), GetParam().tokens);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Tokenize,
    ::testing::Values(Tokenize_Case{"12#get_slaves_number", "#", {"12", "get_slaves_number"}},
                      Tokenize_Case{"  a  b ", " ", {"a", "b"}}, Tokenize_Case{"", " ", {}},
                      Tokenize_Case{"####", "#", {}}, Tokenize_Case{"a", "#", {"a"}},
                      Tokenize_Case{"7#sdo_read 1 0x6041 0", "# ", {"7", "sdo_read", "1", "0x6041", "0"}},
                      Tokenize_Case{"x,,y;z", ",;", {"x", "y", "z"}}));

TEST(String_Functions, BoolText)
{
    EXPECT_EQ(bool2str(false), "false");
    EXPECT_EQ(bool2str(true), "true");
}

TEST(String_Functions, FixedPointText)
{
    EXPECT_EQ(num2str(3.14159, 8, ' ', 2), "    3.14");
    EXPECT_EQ(num2str(3.14159, 0, ' ', 2), "3.14");
    EXPECT_EQ(num2str(1.0, 0, ' ', 3), "1.000");
    EXPECT_EQ(num2str(-2.5, 7, '*', 1), "***-2.5");
}

TEST(String_Functions, ZeroPaddedDefaultText)
{
    EXPECT_EQ(num2str(2.5, 5), "002.5");
    EXPECT_EQ(num2str(2.5, 0), "2.5");
    EXPECT_EQ(num2str(1234567.0, 0), "1.23457e+06");
}

TEST(String_Functions, TemplateTextIsWhatAStreamWrites)
{
    EXPECT_EQ(num2str<int>(-15), "-15");
    EXPECT_EQ(num2str<unsigned int>(4294967295u), "4294967295");
    EXPECT_EQ(num2str<unsigned char>(65), "A");
    EXPECT_EQ(num2str<unsigned char>(7), std::string(1, '\x07'));
    EXPECT_EQ(num2str<unsigned short>(65535), "65535");
    EXPECT_EQ(num2str<bool>(true), "1");
    EXPECT_EQ(num2str<double>(0.1), "0.1");
}
