// Arguments of requests: numbers must be whole numbers of their type, and a
// missing one is an error, never a made-up value.
#include <gtest/gtest.h>

#include <sstream>

#include "ecm_request_arguments.h"
#include "thrown_text.h"

TEST(RequestArguments, NumbersAreReadWordByWord)
{
    std::istringstream args(" 1001  -5 010 65535 word");
    EXPECT_EQ(read_int_argument_ex(args, "address"), 1001);
    EXPECT_EQ(read_int_argument_ex(args, "state"), -5);
    EXPECT_EQ(read_int_argument_ex(args, "index"), 10);
    EXPECT_EQ(read_uint16_argument_ex(args, "address"), 65535);
    EXPECT_EQ(read_word_argument_ex(args, "name"), "word");
}

TEST(RequestArguments, MissingOrMalformedArgumentsAreRefused)
{
    const struct {
        const char* text;
        bool sixteen_bits;
        const char* error;
    } cases[] = {
        {"", false, "[ECM_Request_Arguments][read_int_argument_ex] argument n missing"},
        {"   ", false, "[ECM_Request_Arguments][read_int_argument_ex] argument n missing"},
        {"abc", false, "[ECM_Request_Arguments][read_int_argument_ex] argument n is not a number: abc"},
        {"0x10", false, "[ECM_Request_Arguments][read_int_argument_ex] argument n is not a number: 0x10"},
        {"12abc", false, "[ECM_Request_Arguments][read_int_argument_ex] argument n is not a number: 12abc"},
        {"99999999999", false, "[ECM_Request_Arguments][read_int_argument_ex] argument n is not a number: 99999999999"},
        {"65536", true, "[ECM_Request_Arguments][read_uint16_argument_ex] argument n is not a number: 65536"},
        {"-1", true, "[ECM_Request_Arguments][read_uint16_argument_ex] argument n is not a number: -1"},
    };
    for (const auto& c : cases) {
        std::istringstream args(c.text);
        const std::string text = c.sixteen_bits ? thrown_text([&] { read_uint16_argument_ex(args, "n"); })
                                                : thrown_text([&] { read_int_argument_ex(args, "n"); });
        EXPECT_EQ(text, c.error) << c.text;
    }
    std::istringstream none("");
    EXPECT_EQ(thrown_text([&] { read_word_argument_ex(none, "name"); }),
              "[ECM_Request_Arguments][read_word_argument_ex] argument name missing");
}
