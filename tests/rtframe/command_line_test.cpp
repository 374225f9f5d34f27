#include <gtest/gtest.h>

#include <sys/stat.h>

#include <string>
#include <vector>

#include "descriptor_templates.h"

namespace {
const std::vector<std::string> HELP_LINES = {
    "\t XELO EtherCAT Framework Help ",
    "\t <-- Option not necessary -->",
    "\t\t --config-file [c] filename : configuration file [ default = /usr/local/etc/rtframe/application_descriptor.xml ]",
    "\t\t --single-connection [s] : [ default = 0 / OFF ]",
    "\t\t --master-offline [o] : master ethercat simulation ",
    "\t\t --develop [d] : xml file split root is the local defined one",
    "\t\t --bridge-descriptor [b] : bridge descriptor file",
    "\t\t --bridge-master [m] : is bridge master",
    "\t\t --bridge-running-delay-ms ms : running threads before the bridge reports running [ default = 5000 ]",
    "\t\t --help [h] : print this help ",
};

struct Command_Case {
    const char* what;
    std::vector<std::string> arguments;
    int exit_status;
    bool prints_help;
    std::vector<std::string> expected;    // log texts, in this order
    std::vector<std::string> unexpected;  // log texts that must not appear
};

void PrintTo(const Command_Case& c, std::ostream* os)
{
    *os << c.what;
}

class Rtframe_Command_Line : public testing::TestWithParam<Command_Case> {};

// Positions of the texts in the log, each after the previous one; -1 when missing.
bool in_order(const std::string& log, const std::vector<std::string>& texts, std::string& missing)
{
    std::size_t from = 0;
    for (const std::string& text : texts) {
        const std::size_t at = log.find(text, from);
        if (at == std::string::npos) {
            missing = text;
            return false;
        }
        from = at + text.size();
    }
    return true;
}

TEST_P(Rtframe_Command_Line, EndsWithItsTextAndStatus)
{
    const Command_Case& c = GetParam();
    Rtframe_Child child(c.arguments);
    EXPECT_EQ(child.wait_exit(), c.exit_status);
    const std::string log = child.log();
    std::string missing;
    EXPECT_TRUE(in_order(log, c.expected, missing)) << "missing: " << missing << "\n" << log;
    std::vector<std::string> help;
    for (const std::string& line : HELP_LINES)
        help.push_back("INF] " + line + "\n");
    if (c.prints_help)
        EXPECT_TRUE(in_order(log, help, missing)) << "help line missing: " << missing << "\n" << log;
    else
        EXPECT_EQ(log.find(HELP_LINES[0]), std::string::npos) << log;
    for (const std::string& text : c.unexpected)
        EXPECT_EQ(log.find(text), std::string::npos) << text << "\n" << log;
    struct stat st {};
    EXPECT_NE(stat("/dev/shm/linux_framework_info", &st), 0) << "no framework was built";
}

const std::string BANNER = "INF] ### XELO EtherCAT Framework ###";
const std::string NOT_RECOGNIZED = "ERR] ### Option not recognized! ###";

INSTANTIATE_TEST_SUITE_P(
    Cases, Rtframe_Command_Line,
    testing::Values(
        Command_Case{"short_help", {"-h"}, 0, true, {BANNER}, {"ERR]"}},
        Command_Case{"long_help_after_other_options",
                     {"-s", "--help", "-x"},
                     0,
                     true,
                     {"WAR] ### Arg -> Single Connection On ###"},
                     {"ERR]"}},
        Command_Case{
            "unknown_option", {"-o", "-x"}, 1, true, {"WAR] ### Arg -> Master Simulation On ###", NOT_RECOGNIZED}, {}},
        Command_Case{"missing_argument", {"-c"}, 1, true, {NOT_RECOGNIZED}, {}},
        Command_Case{"unknown_long_option", {"--no-such-option"}, 1, true, {NOT_RECOGNIZED}, {}},
        Command_Case{"bridge_running_delay_not_a_number",
                     {"--bridge-running-delay-ms", "5s"},
                     1,
                     true,
                     {NOT_RECOGNIZED},
                     {"Bridge Running Delay"}},
        Command_Case{"bridge_running_delay_negative",
                     {"--bridge-running-delay-ms", "-1"},
                     1,
                     true,
                     {NOT_RECOGNIZED},
                     {"Bridge Running Delay"}},
        Command_Case{"bridge_running_delay_beyond_32_bits",
                     {"--bridge-running-delay-ms", "4294967296"},
                     1,
                     true,
                     {NOT_RECOGNIZED},
                     {"Bridge Running Delay"}},
        Command_Case{"bridge_running_delay_accepted",
                     {"--bridge-running-delay-ms", "300", "-s", "-c", "/tmp/missing.xml"},
                     0,
                     false,
                     {"WAR] ### Arg -> Bridge Running Delay: 300 ms ###", "WAR] ### Single Connection On ... Exit ###"},
                     {"ERR] ### Option not recognized! ###"}},
        Command_Case{"bridge_master_without_descriptor",
                     {"-o", "-m"},
                     1,
                     false,
                     {"WAR] ### Arg -> Is Bridge Master On ###",
                      "ERR] Bridge master enabled but no bridge descriptor loaded!"},
                     {}},
        Command_Case{"bridge_master_with_descriptor_accepted",
                     {"-o", "-s", "-m", "-b", "bridge.xml", "-c", "/tmp/missing.xml"},
                     0,
                     false,
                     {"WAR] ### Arg -> Is Bridge Master On ###", "WAR] ### Arg -> Bridge Descriptor: bridge.xml ###",
                      "load_application_information from :: /tmp/missing.xml",
                      "WAR] ### Single Connection On ... Exit ###"},
                     {"Bridge master enabled but no bridge descriptor loaded!"}},
        Command_Case{"master_mode_with_missing_descriptor",
                     {"-s", "--config-file", "/tmp/missing.xml"},
                     0,
                     false,
                     {"INF] XELO_Framework_ex load_application_information from :: /tmp/missing.xml", "ERR]",
                      "WAR] ### Single Connection On ... Exit ###"},
                     {"Master Simulation On", "fm_mastermngr", "Try Connection Restart"}},
        Command_Case{"single_connection_with_missing_descriptor",
                     {"-s", "-o", "--config-file", "/tmp/missing.xml"},
                     0,
                     false,
                     {"WAR] ### Arg -> Single Connection On ###", "WAR] ### Arg -> Master Simulation On ###",
                      "WAR] ### Arg -> Config file: /tmp/missing.xml ###", "INF] XELO_Framework_ex MAJOR VERSION :: 4",
                      "INF] XELO_Framework_ex MINOR VERSION :: 0", "INF] XELO_Framework_ex PATCH VERSION :: 0",
                      "INF] XELO_Framework_ex load_application_information from :: /tmp/missing.xml", "ERR]",
                      "WAR] ### Single Connection On ... Exit ###"},
                     {"fw_queueread", "start_queue_logger_manager", "Try Connection Restart"}}),
    [](const testing::TestParamInfo<Command_Case>& case_info) { return std::string(case_info.param.what); });

TEST(Rtframe_Command_Line_Config, ShortAndLongFormsNameTheSameFile)
{
    for (const char* option : {"-c", "--config-file"}) {
        Rtframe_Child child({"-o", "-s", option, "/tmp/x.xml"});
        EXPECT_EQ(child.wait_exit(), 0);
        EXPECT_EQ(count_of(child.log(), "WAR] ### Arg -> Config file: /tmp/x.xml ###\n"), 1) << option;
        EXPECT_EQ(count_of(child.log(), "load_application_information from :: /tmp/x.xml"), 1) << option;
    }
}

// Without -s a pass that fails is followed by another one a second later.
TEST(Rtframe_Command_Line_Restart, AFailedPassIsRetriedEverySecondUntilStopped)
{
    Rtframe_Child child({"-o", "-c", "/tmp/missing.xml"});
    ASSERT_TRUE(child.wait_for_log("WAR] ### Try Connection Restart ... ###", std::chrono::seconds(10), 3));
    EXPECT_EQ(child.stop(), 0);
    const std::string log = child.log();
    EXPECT_GE(count_of(log, "load_application_information from :: /tmp/missing.xml"), 3);
    EXPECT_EQ(count_of(log, "WAR] ### Stop Requested ... Exit ###"), 1);
}
}  // namespace
