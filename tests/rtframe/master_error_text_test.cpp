// Texts of the master's last error: by type, by code, and the display
// message of a pair, with the composed text of a pair outside the table.
#include <gtest/gtest.h>

#include <string>

#include "thrown_text.h"
#include "xelo_framework.h"

TEST(Master_Error_Text, PairsGiveTheirDisplayMessage)
{
    const struct {
        int type;
        int code;
        const char* message;
    } cases[] = {
        {0, 0, "no error"},
        {1, 0, "master synchro tick loss"},
        {23, 0, "Error on slave xml struct"},
        {50, 0, "Error while setting distributed clock"},
        {20, 1, "Ethercat xml file not found"},
        {30, 4, "No cyclic frame read! too many DC consecutive faults"},
        {21, 6, "Frame read workcounter error"},
        {40, 8, "Ethercat master watchdog error"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(XELO_Framework_ex::get_master_error_message(c.type, c.code), c.message) << c.type << "," << c.code;
}

TEST(Master_Error_Text, UnknownValuesAreRefusedByTheLookups)
{
    EXPECT_EQ(XELO_Framework_ex::master_errorcode2string(8), "master application watchdog error");
    EXPECT_EQ(thrown_text([] { XELO_Framework_ex::master_errortype2string(99); }),
              "[XELO_Framework_ex][master_errortype2string] Master error type not recognized! (value :: 99)");
    EXPECT_EQ(thrown_text([] { XELO_Framework_ex::master_errorcode2string(-1); }),
              "[XELO_Framework_ex][master_errorcode2string] Master error code not recognized! (value :: -1)");
}

TEST(Master_Error_Text, APairOutsideTheTableGetsAComposedText)
{
    const struct {
        int type;
        int code;
        const char* message;
        const char* type_line;
        const char* code_line;
    } cases[] = {
        {10, 1, "Error on master state change (10) / not found (1)",
         "error type :: 10 --> Error on master state change", "error code :: 1 --> not found"},
        {99, 3, "error_type not recognized (99) / slave number does not agree (3)",
         "error type :: 99 --> error_type not recognized", "error code :: 3 --> slave number does not agree"},
        {20, 42, "Error on xml slave configuration (20) / error_code not recognized (42)",
         "error type :: 20 --> Error on xml slave configuration", "error code :: 42 --> error_code not recognized"},
        {99, 0, "error_type not recognized (99) / null code (0)", "error type :: 99 --> error_type not recognized",
         "error code :: 0 --> null code"},
    };
    for (const auto& c : cases) {
        testing::internal::CaptureStdout();
        const std::string message = XELO_Framework_ex::get_master_error_message(c.type, c.code);
        const std::string out = testing::internal::GetCapturedStdout();
        EXPECT_EQ(message, c.message);
        EXPECT_LE(message.size(), 100u);
        EXPECT_NE(out.find("combination not regnized"), std::string::npos) << out;
        EXPECT_NE(out.find(c.type_line), std::string::npos) << out;
        EXPECT_NE(out.find(c.code_line), std::string::npos) << out;
    }
}
