// Variations of the example descriptor that load, and files that cannot be
// read.

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "descriptor_driver.h"

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::StartsWith;

namespace {

const auto MAIN = Example_Edit::MAIN;
const auto SECONDARY = Example_Edit::SECONDARY;

class Descriptor_Load_Test : public ::testing::Test {
protected:
    void load(const std::vector<Example_Edit>& edits, const Load_Options& options = {})
    {
        m_driver.write_example(edits);
        m_driver.load(options);
    }

    Descriptor_Driver m_driver;
};

TEST_F(Descriptor_Load_Test, SettingsAtTheEndsOfTheirRanges)
{
    load({{MAIN, "<master_cycle_time>1000000<", "<master_cycle_time>100000<"},
          {MAIN, "<async_data_timeout_ms>500<", "<async_data_timeout_ms>0<"}});
    EXPECT_EQ(m_driver.manager().master_cycle_time_ns, 100000u);
    EXPECT_EQ(m_driver.manager().async_data_timeout_ns, 0u);

    load({{MAIN, "<master_cycle_time>1000000<", "<master_cycle_time>2000000000<"},
          {MAIN, "<async_data_timeout_ms>500<", "<async_data_timeout_ms>1000<"},
          {MAIN, "<watchdog_to_master>10<", "<watchdog_to_master>0<"},
          {MAIN, "<linux_application_number>4<", "<linux_application_number>0<"}});
    EXPECT_EQ(m_driver.manager().master_cycle_time_ns, 2000000000u);
    EXPECT_EQ(m_driver.manager().async_data_timeout_ns, 1000000000u);
    EXPECT_EQ(m_driver.manager().watchdog_to_master, 0u);
    EXPECT_EQ(m_driver.manager().rt_appl_num, 0);
}

// A repeated watchdog element is logged and read as 0; the load goes on.
TEST_F(Descriptor_Load_Test, RepeatedWatchdogReadsAsZero)
{
    load({{MAIN, "<watchdog_to_master>10</watchdog_to_master>",
           "<watchdog_to_master>10</watchdog_to_master><watchdog_to_master>20</watchdog_to_master>"}});
    EXPECT_EQ(m_driver.manager().watchdog_to_master, 0u);
    EXPECT_THAT(log_texts(m_driver.output(), "ERR"),
                ElementsAre("Error element : watchdog_to_master => not present in the xml file or is not unique!"));
}

TEST_F(Descriptor_Load_Test, DevelopModeTakesTheLocalPath)
{
    load({{MAIN, "local_path=\"examples/\"", "local_path=\"" + m_driver.dir() + "/\""},
          {MAIN, "target_path=\"" + m_driver.dir() + "/\"", "target_path=\"/nonexistent/\""}},
         {true, false, false});
    EXPECT_EQ(m_driver.manager().ethercat_file, m_driver.dir() + "/cell_eni.xml");
    EXPECT_EQ(m_driver.manager().inputs_num, 25u);
}

// The root path is put in front of file names as it is: without its final
// slash it glues onto the last directory name.
TEST_F(Descriptor_Load_Test, RootPathIsAPlainPrefix)
{
    m_driver.write_example(
        {{MAIN, "target_path=\"" + m_driver.dir() + "/\"", "target_path=\"" + m_driver.dir() + "/app_\""}});
    m_driver.write_file("app_application_descriptor_virtuals.xml",
                        "<application_descriptor><virtual_ios/></application_descriptor>");
    m_driver.load();
    EXPECT_EQ(m_driver.manager().ethercat_file, m_driver.dir() + "/app_cell_eni.xml");
    EXPECT_EQ(m_driver.manager().m_virtual_ios_vector.size(), 7u);
}

TEST_F(Descriptor_Load_Test, MainFileAloneWhenNoSecondaryFileIsListed)
{
    load({{MAIN, "<input_output_file filename=\"application_descriptor_virtuals.xml\"/>", ""}});
    EXPECT_THAT(log_texts(m_driver.output(), "WAR"),
                ElementsAre("[XELO_Framework_ex][load_application_information_ex] no input_output files in :: " +
                                m_driver.dir() + "/application_descriptor.xml",
                            "\t[Async_IO_Descriptor] Input Type CHANGE -> Async_IO_Descriptor::EMCY "));
    EXPECT_EQ(m_driver.manager().m_input_output_files_mgrs.size(), 1u);
    EXPECT_EQ(m_driver.manager().inputs_num, 6u + 7u);
    EXPECT_EQ(m_driver.manager().sem_data_groups_num, 1u);
}

TEST_F(Descriptor_Load_Test, MainFileAloneWithoutFileList)
{
    load({{MAIN, "<input_output_files>", "<other_files>"}, {MAIN, "</input_output_files>", "</other_files>"}});
    const std::vector<std::string> warnings = log_texts(m_driver.output(), "WAR");
    ASSERT_GE(warnings.size(), 2u);
    EXPECT_EQ(warnings[0], "Error element : input_output_files => not present in the xml file or is not unique!");
    EXPECT_EQ(warnings[1], "no feature input_output_files");
    EXPECT_FALSE(m_driver.manager().m_has_in_out_files);
    EXPECT_EQ(m_driver.manager().outputs_num, 6u + 3u);
}

// A section written twice counts as missing.
TEST_F(Descriptor_Load_Test, RepeatedSectionIsSkippedWithAWarning)
{
    load({{MAIN, "<async_outputs>", "<async_outputs/><async_outputs>"}});
    EXPECT_EQ(m_driver.manager().async_outputs_num, 0u);
    EXPECT_THAT(log_texts(m_driver.output(), "WAR"),
                ::testing::Contains("[Xml_Async_IO_Manager][add_elements] No async_output found "));
    EXPECT_THAT(log_texts(m_driver.output(), "INF"),
                ::testing::Contains("[Xml_IO_Manager][add_elements] adding output elements.."));
}

// Without a bridge the bridge flag is an ordinary variable.
TEST_F(Descriptor_Load_Test, BridgeFlagUncheckedWithoutBridge)
{
    load({{MAIN, "name_virtual=\"is_bridge_running\" type=\"uint8\"",
           "name_virtual=\"is_bridge_running\" type=\"int16\""}});
    EXPECT_EQ(io_named(m_driver.inputs, "is_bridge_running").m_type, INT16_FSM);
}

TEST_F(Descriptor_Load_Test, LongestNamesThatFitTheSharedFields)
{
    const std::string name(499, 'n');
    const std::string group(99, 'g');
    load({{SECONDARY, "name_virtual=\"cell_mode\"", "name_virtual=\"" + name + "\""},
          {SECONDARY, "sem_name=\"axmngr_0_receiver\"", "sem_name=\"" + group + "\""}});
    EXPECT_EQ(io_named(m_driver.inputs, name).m_byte_dim, 1u);
    EXPECT_EQ(m_driver.groups[2]->sem_name, group);
}

// Names compared across files: two inputs may both be unnamed, asynchronous
// variables are never compared.
TEST_F(Descriptor_Load_Test, NamesThatMayRepeat)
{
    load({{MAIN, "name_virtual=\"door_closed\"", "name_virtual=\"\""},
          {MAIN, "name_virtual=\"emergency_stop_ok\"", "name_virtual=\"\""},
          {MAIN, "name_virtual=\"axmngr_0_ax_0_drive_temperature\"", "name_virtual=\"axmngr_0_ax_0_error_code\""},
          {SECONDARY, "alias_of=\"door_closed\"", "alias_of=\"analog_in_0\""}});
    EXPECT_EQ(m_driver.manager().async_inputs_num, 3u);
}

// ---- files that cannot be read ----------------------------------------------

class Descriptor_File_Test : public Descriptor_Load_Test {};

TEST_F(Descriptor_File_Test, MissingMainFile)
{
    const std::string path = m_driver.dir() + "/absent.xml";
    EXPECT_THAT(m_driver.load_error({}, "absent.xml"), StartsWith("Could not parse file : " + path + " desc = "));
}

TEST_F(Descriptor_File_Test, MalformedMainFile)
{
    m_driver.write_file("broken.xml", "<application_descriptor><master_cycle_time>1000000</master_cycle_time>");
    const std::string error = m_driver.load_error({}, "broken.xml");
    EXPECT_THAT(error, StartsWith("Could not parse file : " + m_driver.dir() + "/broken.xml desc = "));
    EXPECT_THAT(error, HasSubstr("Premature end of data"));
}

TEST_F(Descriptor_File_Test, MissingSecondaryFile)
{
    m_driver.write_example({{MAIN, "filename=\"application_descriptor_virtuals.xml\"", "filename=\"absent.xml\""}});
    EXPECT_THAT(m_driver.load_error(), StartsWith("Could not parse file : " + m_driver.dir() + "/absent.xml desc = "));
}

TEST_F(Descriptor_File_Test, SecondaryPathIsADirectory)
{
    m_driver.write_example({{MAIN, "filename=\"application_descriptor_virtuals.xml\"", "filename=\"sub\""}});
    ASSERT_EQ(mkdir((m_driver.dir() + "/sub").c_str(), 0755), 0);
    EXPECT_THAT(m_driver.load_error(), StartsWith("Could not parse file : " + m_driver.dir() + "/sub desc = "));
}

TEST_F(Descriptor_File_Test, MalformedSecondaryFile)
{
    m_driver.write_example({{SECONDARY, "</application_descriptor>", ""}});
    EXPECT_THAT(m_driver.load_error(), StartsWith("Could not parse file : " + m_driver.dir() +
                                                  "/application_descriptor_virtuals.xml desc = "));
}

}  // namespace
