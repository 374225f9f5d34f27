// rtframe with a bridge descriptor, alone on its board: what a load reports,
// and the descriptor faults that end it.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <string>
#include <vector>

#include "bridge_files.h"
#include "rtframe_child.h"

namespace {
using namespace std::chrono_literals;

const std::string DIR = "/tmp/";
const std::string HEAD = "[Framework_Socket_Bridge][load_bridge_descriptor] ";

bool segment_exists(const char* name)
{
    struct stat st {};
    return stat((std::string("/dev/shm") + name).c_str(), &st) == 0;
}

// rtframe -o -m -b on the master example, restart loop on (no -s): a fault
// must end it anyway.
std::vector<std::string> master_arguments(const std::string& bridge_path)
{
    return {"-o", "-m", "-b", bridge_path, "-c", install_application_descriptor("master", DIR + "app.xml")};
}
}  // namespace

TEST(Bridge_Descriptor_Test, ALoadRegistersEachItemAndCountsEverySection)
{
    Bridge_File file;
    file.inputs = {"to_master_int32", "to_master_bit"};
    file.outputs = {"heartbeat", "to_slave_bytes", "to_slave_double"};
    const std::string path = file.install(DIR + "bridge.xml");
    Rtframe_Child rtframe(master_arguments(path));
    ASSERT_TRUE(rtframe.wait_for_log(HEAD + "loaded bridge descriptor", 20s)) << rtframe.log();
    const std::string log = rtframe.log();
    for (const std::string& line :
         {HEAD + "loading bridge descriptor from file : " + path,
          std::string("[Bridge_Framework_Interface][add_input_cyclic_var] input cyclic var correctly added: name :: "
                      "to_master_int32, local_id :: 0, framework_id :: 100"),
          std::string(", type :: INT32, byte_offset :: 0, byte_len :: 4\n"),
          std::string("correctly added: name :: to_master_bit, local_id :: 1, framework_id :: "),
          std::string(", type :: BIT, byte_offset :: 4, byte_len :: 1\n"),
          std::string("[Bridge_Framework_Interface][add_output_cyclic_var] output cyclic var correctly added: name "
                      ":: heartbeat, local_id :: 0, framework_id :: "),
          std::string(", type :: UINT32, byte_offset :: 0, byte_len :: 4\n"),
          std::string("name :: to_slave_bytes, local_id :: 1, framework_id :: "),
          std::string(", type :: BYTE_ARRAY, byte_offset :: 4, byte_len :: 8\n"),
          std::string("name :: to_slave_double, local_id :: 2, framework_id :: "),
          std::string(", type :: DOUBLE, byte_offset :: 12, byte_len :: 8\n"), HEAD + "Found 2 cyclic inputs\n",
          HEAD + "Found 3 cyclic outputs\n", std::string("INF] Found 0 semaphorized data inputs\n"),
          std::string("INF] Found 0  semaphorized data outputs\n"), HEAD + "Found 0 command inputs\n",
          HEAD + "Found 0 command outputs\n"})
        EXPECT_NE(log.find(line), std::string::npos) << line << "\n" << log;
    // No peer: the bridge never runs, so clients are not let in.
    EXPECT_TRUE(rtframe.wait_for_log("Thread cyclics_server [0] going to init..", 10s)) << rtframe.log();
    EXPECT_FALSE(rtframe.wait_until_ready(3s));
    EXPECT_EQ(rtframe.stop(), 0) << rtframe.log();
    EXPECT_FALSE(segment_exists("/linux_framework_info"));
}

// Groups and commands of both directions: each datum's layout in its image
// (a group without its tick), and a BIT datum named in a WAR line.
TEST(Bridge_Descriptor_Test, GroupsAndCommandsRegisterTheirImagesAndNameTheirBits)
{
    Bridge_File file;
    file.sem_data_in = {"report"};
    file.sem_data_out = {"status", "trace", "flags"};
    file.cmd_in = {"query", "toggle"};
    file.cmd_out = {"move"};
    const std::string groups =
        "<sem sem_name=\"flags\" ring_buffer=\"0\" flag_only_not_rt=\"1\">"
        "<sem_data data_name=\"armed\" type=\"bit\"/><sem_data data_name=\"level\" type=\"int16\"/></sem>"
        "<sem sem_name=\"toggle_sender\" ring_buffer=\"0\" flag_only_not_rt=\"1\">"
        "<sem_data data_name=\"on\" type=\"bit\"/></sem>"
        "<sem sem_name=\"toggle_receiver\" ring_buffer=\"0\" flag_only_not_rt=\"1\">"
        "<sem_data data_name=\"ok\" type=\"uint8\"/></sem></sem_data_group>";
    const std::string path = file.install(DIR + "bridge.xml");
    Rtframe_Child rtframe(
        {"-o", "-m", "-b", path, "-c",
         install_application_descriptor("master", DIR + "app.xml", {}, {{"</sem_data_group>", groups}})});
    ASSERT_TRUE(rtframe.wait_for_log(HEAD + "loaded bridge descriptor", 20s)) << rtframe.log();
    const std::string log = rtframe.log();
    const std::string sem =
        "[Bridge_Framework_Interface][add_output_sem_var] output sem data correctly added: name :: ";
    const std::string cmd_in =
        "[Bridge_Framework_Interface][add_input_command] input command correctly added:   name :: ";
    for (const std::string& line :
         {std::string("[Bridge_Framework_Interface][add_input_sem_var] input sem correctly added: name :: report, "
                      "local_id :: 0, framework_id :: "),
          std::string(", sem data descriptors --> name :: code, local_id :: 0, framework_id :: 0, type :: INT16, "
                      "byte_offset :: 0, byte_len :: 2, name :: value, local_id :: 1, framework_id :: 1, type :: "
                      "FLOAT, byte_offset :: 2, byte_len :: 4, \n"),
          sem + "status, local_id :: 0, framework_id :: ",
          std::string("name :: position, local_id :: 1, framework_id :: 1, type :: DOUBLE, byte_offset :: 4, "
                      "byte_len :: 8, name :: label, local_id :: 2, framework_id :: 2, type :: BYTE_ARRAY, "
                      "byte_offset :: 12, byte_len :: 8, \n"),
          sem + "trace, local_id :: 1, framework_id :: ",
          std::string(", sem data descriptors --> name :: sample, local_id :: 0, framework_id :: 1, type :: INT32, "
                      "byte_offset :: 0, byte_len :: 4, \n"),
          sem + "flags, local_id :: 2, framework_id :: ",
          std::string(", sem data descriptors --> name :: armed, local_id :: 0, framework_id :: 0, type :: BIT, "
                      "byte_offset :: 0, byte_len :: 1, name :: level, local_id :: 1, framework_id :: 1, type :: "
                      "INT16, byte_offset :: 1, byte_len :: 2, \n"),
          std::string("the BIT datum armed takes its byte in the image, but its value does not cross the bridge"),
          cmd_in + "query, local_id :: 0, framework_id :: ",
          std::string(", recv data descriptors --> name :: value, local_id :: 0, framework_id :: 0, type :: INT64, "
                      "byte_offset :: 0, byte_len :: 8, , send data descriptors --> name :: what, local_id :: 0, "
                      "framework_id :: 0, type :: UINT16, byte_offset :: 0, byte_len :: 2, \n"),
          cmd_in + "toggle, local_id :: 1, framework_id :: ",
          std::string("the BIT datum on takes its byte in the image, but its value does not cross the bridge"),
          std::string("[Bridge_Framework_Interface][add_output_command] output command correctly added:   name :: "
                      "move, local_id :: 0, framework_id :: "),
          std::string(", recv data descriptors --> name :: code, local_id :: 0, framework_id :: 0, type :: INT8, "
                      "byte_offset :: 0, byte_len :: 1, name :: target, local_id :: 1, framework_id :: 1, type :: "
                      "DOUBLE, byte_offset :: 1, byte_len :: 8, , send data descriptors --> name :: result, "
                      "local_id :: 0, framework_id :: 0, type :: INT8, byte_offset :: 0, byte_len :: 1, name :: "
                      "position, local_id :: 1, framework_id :: 1, type :: DOUBLE, byte_offset :: 1, byte_len :: 8, "
                      "\n"),
          std::string("INF] Found 1 semaphorized data inputs\n"),
          std::string("INF] Found 3  semaphorized data outputs\n"), HEAD + "Found 2 command inputs\n",
          HEAD + "Found 1 command outputs\n"})
        EXPECT_NE(log.find(line), std::string::npos) << line << "\n" << log;
    EXPECT_EQ(rtframe.stop(), 0) << rtframe.log();
}

TEST(Bridge_Descriptor_Test, APeriodOfTwoSecondsOrMoreLoadsWithAWarning)
{
    Bridge_File file;
    file.period = "2000";
    Rtframe_Child rtframe(master_arguments(file.install(DIR + "bridge.xml")));
    ASSERT_TRUE(rtframe.wait_for_log(HEAD + "loaded bridge descriptor", 20s)) << rtframe.log();
    EXPECT_NE(rtframe.log().find("WAR] " + HEAD + "io_update_time_ms 2000 is 2000 ms or more"), std::string::npos)
        << rtframe.log();
    EXPECT_EQ(rtframe.stop(), 0) << rtframe.log();
}

struct Fault_Case {
    const char* what;
    Bridge_File file;
    std::string reason;  // after "error parsing bridge descriptor xml file :: "
    std::string extra_line;
};

void PrintTo(const Fault_Case& c, std::ostream* out)
{
    *out << c.what;
}

class Bridge_Descriptor_Fault_Test : public testing::TestWithParam<Fault_Case> {};

// A fault: its ERR line, a failure status without a restart, no segment left.
TEST_P(Bridge_Descriptor_Fault_Test, EndsRtframeWithItsErrorLine)
{
    const Fault_Case& c = GetParam();
    Rtframe_Child rtframe(master_arguments(c.file.install(DIR + "bridge.xml")));
    EXPECT_EQ(rtframe.wait_exit(30s), 1) << rtframe.log();
    const std::string log = rtframe.log();
    EXPECT_NE(log.find("ERR] " + HEAD + "error parsing bridge descriptor xml file :: " + c.reason +
                       " ..going to terminate\n"),
              std::string::npos)
        << log;
    if (!c.extra_line.empty()) {
        EXPECT_NE(log.find(c.extra_line), std::string::npos) << log;
    }
    EXPECT_EQ(log.find("Try Connection Restart"), std::string::npos) << log;
    EXPECT_EQ(log.find("Thread cyclics_server"), std::string::npos) << log;
    EXPECT_FALSE(segment_exists("/linux_framework_info"));
    EXPECT_FALSE(segment_exists("/linux_framework_cyclic_inputs"));
}

Bridge_File with(void (*change)(Bridge_File&))
{
    Bridge_File file;
    file.inputs = {"to_master_int32"};
    change(file);
    return file;
}

INSTANTIATE_TEST_SUITE_P(
    Faults, Bridge_Descriptor_Fault_Test,
    testing::Values(
        Fault_Case{"missing_section", with([](Bridge_File& f) { f.omitted = {"cmd_out"}; }),
                   "Error element : cmd_out => not present in the xml file or is not unique!", ""},
        Fault_Case{"unknown_name", with([](Bridge_File& f) {
                       f.inputs = {"to_master_int32", "no_such_variable"};
                   }),
                   "var not found in framework",
                   "ERR] [Bridge_Framework_Interface][add_input_cyclic_var] var name  no_such_variable not found in "
                   "framework\n"},
        Fault_Case{"period_zero", with([](Bridge_File& f) { f.period = "0"; }),
                   "io_update_time_ms '0' is not a period of 1 to 65535 ms", ""},
        Fault_Case{"period_beyond_16_bits", with([](Bridge_File& f) { f.period = "65536"; }),
                   "io_update_time_ms '65536' is not a period of 1 to 65535 ms", ""},
        Fault_Case{"period_not_a_number", with([](Bridge_File& f) { f.period = "10ms"; }),
                   "io_update_time_ms '10ms' is not a period of 1 to 65535 ms", ""},
        Fault_Case{"bad_address", with([](Bridge_File& f) { f.slave_address = "10.0.0.300"; }),
                   "slave_socket_address '10.0.0.300' is not an IPv4 address", ""},
        Fault_Case{"unknown_group", with([](Bridge_File& f) { f.sem_data_in = {"no_such_group"}; }), "",
                   "ERR] [Bridge_Framework_Interface][add_input_sem_var] sem group var name  no_such_group not found "
                   "in framework :: [Framework_Shared_Memory_Manager][get_sem_data_group_write_id_ex] Error "
                   "semaphorized group data not found... no_such_group\n"},
        Fault_Case{"unknown_command", with([](Bridge_File& f) { f.cmd_out = {"no_such_command"}; }), "",
                   "ERR] [Bridge_Framework_Interface][add_output_command] cmd name  no_such_command not found in "
                   "framework :: "}),
    [](const testing::TestParamInfo<Fault_Case>& param_info) { return std::string(param_info.param.what); });
