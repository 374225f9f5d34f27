// The start-up listing of the loaded example descriptor.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "descriptor_driver.h"

using ::testing::Contains;
using ::testing::HasSubstr;

namespace {

const std::string P = "[Application_Descriptor_Manager][print_loaded_data]";

std::string heading(const std::string& text)
{
    return "\033[1;37m" + P + text + "\033[0m";
}

// A column whose text fits its width: padded to width + 1 characters.
std::string col(const std::string& label, const std::string& value, std::size_t width)
{
    const std::string text = label + " :: " + value;
    if (text.size() >= width) {
        ADD_FAILURE() << "column does not fit: " << text;
        return text;
    }
    return text + std::string(width + 1 - text.size(), ' ');
}

class Descriptor_Listing_Test : public ::testing::Test {
protected:
    std::vector<std::string> listing(const std::vector<Example_Edit>& edits = {}, const Load_Options& options = {})
    {
        m_driver.write_example(edits);
        m_driver.load(options);
        m_driver.print();
        return log_texts(m_driver.output(), "INF");
    }

    // The row of a table whose text contains the given column.
    std::string row_with(const std::vector<std::string>& rows, const std::string& column) const
    {
        for (const std::string& row : rows) {
            if (row.find(column) != std::string::npos)
                return row;
        }
        return "no row with " + column;
    }

    Descriptor_Driver m_driver;
};

TEST_F(Descriptor_Listing_Test, SettingsAndSectionHeadings)
{
    const std::vector<std::string> lines = listing();
    const std::vector<std::string> head(lines.begin(), lines.begin() + 9);
    EXPECT_EQ(head, (std::vector<std::string>{"", heading(" Ethercat file --> " + m_driver.dir() + "/cell_eni.xml"),
                                              heading(" Master cycle time  --> 1000000 [ns] "),
                                              heading(" Watchdog to master  --> 10 [cycle] "),
                                              heading(" Async data timeout  --> 500000000 [ns] "), "",
                                              heading(" RT application number --> 4"), "",
                                              heading(" Shared Memory INPUTS --> 25")}));
    for (const char* section : {" Shared Memory OUTPUTS --> 19", " Shared Memory ASYNC_INPUTS --> 3",
                                " Shared Memory ASYNC_OUTPUTS --> 2", " Shared Memory SEM_DATA_GROUPS --> 3"})
        EXPECT_THAT(lines, Contains(heading(section)));
    // heading, 25 rows and an empty line per table, the data groups with their members.
    EXPECT_EQ(lines.size(), 9u + 25 + 1 + (1 + 19 + 1) + (1 + 3 + 1) + (1 + 2 + 1) + (1 + 3 + 11 + 1));
}

TEST_F(Descriptor_Listing_Test, SlaveVariableRow)
{
    const std::vector<std::string> lines = listing();
    EXPECT_THAT(lines,
                Contains(P + "  id :: 3     " + col("virtual_id", "door_closed", 50) + col("phisic_id", "IO.In0", 25) +
                         col("slave_addr", "1002", 25) + col("type", "bit", 20) + col("byte_dim", "1", 18) +
                         col("byte_offs", "0", 20) + col("bit_offs", "0", 15) + col("group_id", "-1", 15) +
                         col("is_negated", "0", 16) + col("is_ro", "0", 15) + col("default", "", 25)));
    EXPECT_THAT(lines, Contains(P + "  id :: 11    " + col("virtual_id", "cell_name", 50) + col("phisic_id", "", 25) +
                                col("slave_addr", "0", 25) + "type :: uint8_arr..  " + col("byte_dim", "16", 18) +
                                col("byte_offs", "12", 20) + col("bit_offs", "0", 15) + col("group_id", "-1", 15) +
                                col("is_negated", "0", 16) + col("is_ro", "0", 15) + col("default", "robot_cell", 25)));
}

TEST_F(Descriptor_Listing_Test, AliasRowShowsOnlyItsTarget)
{
    const std::vector<std::string> lines = listing();
    EXPECT_THAT(lines, Contains(P + "  id :: 22    " + col("virtual_id", "door_is_closed", 50) +
                                col("alias_of", "door_closed", 60)));
}

TEST_F(Descriptor_Listing_Test, DefaultValueTexts)
{
    const std::vector<std::string> lines = listing();
    const struct {
        const char* name;
        const char* text;
    } defaults[] = {
        {"firmware_version", "0x01020304"},
        {"cell_speed_override", "1"},
        {"cell_temperature_limit", "45.5"},
        {"cell_serial_number", "-123456789"},
        {"analog_out_0", "-2"},
        {"lamp_red", "1"},
        {"recipe_id", "7"},
        // No default: nothing is read, the column is empty.
        {"last_ethercat_master_error_msg", ""},
    };
    for (const auto& d : defaults) {
        const std::string row = row_with(lines, col("virtual_id", d.name, 50));
        EXPECT_THAT(row, HasSubstr(col("default", d.text, 25))) << d.name;
    }
}

TEST_F(Descriptor_Listing_Test, AsynchronousAndDataGroupRows)
{
    const std::vector<std::string> lines = listing();
    EXPECT_THAT(lines, Contains(P + "  id :: 0     " + col("phisic_id", "Drive.ErrorCode", 35) +
                                col("virtual_id", "axmngr_0_ax_0_error_code", 50) + col("slave_addr", "1001", 20) +
                                col("index_el", "603f", 25) + col("subindex_el", "0", 25) +
                                col("dim_data_el", "2", 25) + col("type", "uint16", 18) + col("sdo_code", "4b", 25)));
    EXPECT_THAT(row_with(lines, "axmngr_0_ax_0__emcy_last"), HasSubstr(col("sdo_code", "ff", 25)));
    EXPECT_THAT(lines, Contains(P + "  id :: 2     " + col("name", "axmngr_0_receiver", 45) + col("sem_id", "2", 20)));
    EXPECT_THAT(lines, Contains(P + "        id :: 2     " + col("name", "ax_0_info_last_error", 45) +
                                col("byte_offs", "3", 20) + col("byte_dim", "32", 20) + "type :: uint8_a..  "));
}

// Rows 7 and 123 have their columns at the same place; row 1234 is one
// character wider.
TEST_F(Descriptor_Listing_Test, RowNumbersKeepColumnsAligned)
{
    std::string many = "<virtual_ios>";
    for (int i = 0; i < 1240; ++i)
        many += "<virtual_io name_virtual=\"v" + std::to_string(i) +
                "\" type=\"uint8\" group_id=\"-1\" is_ro=\"0\" is_negated=\"0\"/>";
    const std::vector<std::string> lines = listing({{Example_Edit::SECONDARY, "<virtual_ios>", many}});
    auto column_of = [&](const std::string& id) {
        const std::string row = row_with(lines, P + "  id :: " + id + " ");
        return row.find("virtual_id :: ");
    };
    EXPECT_EQ(column_of("7"), column_of("123"));
    EXPECT_EQ(column_of("1234"), column_of("123") + 1);
}

TEST_F(Descriptor_Listing_Test, CountBeyondItsListIsRefused)
{
    listing();
    m_driver.manager().inputs_num += 1;
    EXPECT_THROW(m_driver.print(), std::out_of_range);
}

}  // namespace
