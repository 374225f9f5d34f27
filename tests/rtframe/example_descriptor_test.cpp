// The example descriptor of examples/ (main file plus one secondary file)
// loaded as the framework server loads it.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "descriptor_driver.h"

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;

namespace {

struct Placed {
    std::string name;
    unsigned slave;
    unsigned byte_offs;
    unsigned byte_dim;
};

std::vector<Placed> placement(const IO_Descriptor_List& list)
{
    std::vector<Placed> placed;
    for (const IO_Descriptor* io : list)
        placed.push_back({io->m_name_virtual_id, io->m_slave_addr, io->m_byte_offs, io->m_byte_dim});
    return placed;
}

std::vector<std::string> names(const IO_Descriptor_List& list)
{
    std::vector<std::string> result;
    for (const IO_Descriptor* io : list)
        result.push_back(io->m_name_virtual_id);
    return result;
}

bool operator==(const Placed& a, const Placed& b)
{
    return a.name == b.name && a.slave == b.slave && a.byte_offs == b.byte_offs && a.byte_dim == b.byte_dim;
}

void PrintTo(const Placed& p, std::ostream* os)
{
    *os << "{" << p.name << ", " << p.slave << ", " << p.byte_offs << ", " << p.byte_dim << "}";
}

// Writable plain virtual variables lead the virtual area, read-only ones
// follow; aliases take no room.
const std::vector<Placed> VIRTUAL_INPUTS = {
    {"is_bridge_running", 0, 0, 1},
    {"enable_refresh_logging", 0, 1, 1},
    {"enable_sem_data_logging", 0, 2, 1},
    {"cell_speed_override", 0, 3, 8},
    {"cell_mode", 0, 11, 1},
    {"cell_name", 0, 12, 16},
    {"recipe_id", 0, 28, 4},
    {"cycle_counter", 0, 32, 8},
    {"robot_program_running", 0, 40, 1},
    {"cell_temperature_limit", 0, 41, 4},
    {"is_ethercat_master_online", 0, 45, 1},
    {"last_ethercat_master_error_type", 0, 46, 2},
    {"last_ethercat_master_error_code", 0, 48, 2},
    {"last_ethercat_master_error_msg", 0, 50, 100},
    {"firmware_version", 0, 150, 4},
    {"cell_serial_number", 0, 154, 8},
};

class Example_Descriptor_Test : public ::testing::Test {
protected:
    void SetUp() override { m_driver.write_example(); }

    Descriptor_Driver m_driver;
};

TEST_F(Example_Descriptor_Test, GlobalSettings)
{
    m_driver.load();
    const Application_Descriptor_Manager& m = m_driver.manager();
    EXPECT_EQ(m.ethercat_file, m_driver.dir() + "/cell_eni.xml");
    EXPECT_EQ(m.master_cycle_time_ns, 1000000u);
    EXPECT_EQ(m.watchdog_to_master, 10u);
    EXPECT_EQ(m.async_data_timeout_ns, 500000000u);
    EXPECT_EQ(m.rt_appl_num, 4);
    EXPECT_EQ(m.linux_appl_num, -1);
    EXPECT_TRUE(log_texts(m_driver.output(), "ERR").empty());
    // The secondary file holds no slave or asynchronous section.
    EXPECT_THAT(log_texts(m_driver.output(), "WAR"),
                ElementsAre("\t[Async_IO_Descriptor] Input Type CHANGE -> Async_IO_Descriptor::EMCY ",
                            "[Xml_IO_Manager][add_elements] No output found ",
                            "[Xml_IO_Manager][add_elements] No input found ",
                            "[Xml_Async_IO_Manager][add_elements] No async_output found ",
                            "[Xml_Async_IO_Manager][add_elements] No async_input found "));
}

TEST_F(Example_Descriptor_Test, BridgeTakesOneMoreApplicationSlot)
{
    m_driver.load({false, false, true});
    EXPECT_EQ(m_driver.manager().rt_appl_num, 5);
    EXPECT_EQ(m_driver.manager().linux_appl_num, -1);
}

TEST_F(Example_Descriptor_Test, CyclicListsWithAMaster)
{
    m_driver.load();
    const Application_Descriptor_Manager& m = m_driver.manager();
    EXPECT_EQ(m.inputs_num, 25u);
    EXPECT_EQ(m.outputs_num, 19u);
    ASSERT_EQ(m_driver.inputs.size(), m.inputs_num);
    ASSERT_EQ(m_driver.outputs.size(), m.outputs_num);

    std::vector<Placed> inputs = {
        {"axmngr_0_ax_0_status_word", 1001, 0, 2},
        {"axmngr_0_ax_0_op_mode_display", 1001, 2, 1},
        {"axmngr_0_ax_0_actual_position", 1001, 3, 4},
        {"door_closed", 1002, 0, 1},
        {"emergency_stop_ok", 1002, 0, 1},
        {"analog_in_0", 1002, 1, 2},
    };
    inputs.insert(inputs.end(), VIRTUAL_INPUTS.begin(), VIRTUAL_INPUTS.end());
    inputs.insert(inputs.end(),
                  {{"door_is_closed", 0, 162, 0}, {"speed_override", 0, 162, 0}, {"speed_override_alias", 0, 162, 0}});
    EXPECT_THAT(placement(m_driver.inputs), ElementsAreArray(inputs));

    EXPECT_THAT(names(m_driver.outputs),
                ElementsAre("axmngr_0_ax_0_control_word", "axmngr_0_ax_0_op_mode", "axmngr_0_ax_0_target_position",
                            "lamp_green", "lamp_red", "analog_out_0", "is_bridge_running", "enable_refresh_logging",
                            "enable_sem_data_logging", "cell_speed_override", "cell_mode", "cell_name", "recipe_id",
                            "cycle_counter", "robot_program_running", "cell_temperature_limit", "lamp_green_cmd",
                            "speed_override", "speed_override_alias"));
}

TEST_F(Example_Descriptor_Test, AliasesRecordTheKindTheyEndAt)
{
    m_driver.load();
    const IO_Descriptor_List& virtuals = m_driver.manager().m_virtual_ios_vector;
    EXPECT_EQ(io_named(virtuals, "door_is_closed").m_pointed_type, IO_Descriptor::INPUT);
    EXPECT_EQ(io_named(virtuals, "lamp_green_cmd").m_pointed_type, IO_Descriptor::OUTPUT);
    EXPECT_EQ(io_named(virtuals, "speed_override").m_pointed_type, IO_Descriptor::VIRTUAL);
    EXPECT_EQ(io_named(virtuals, "speed_override_alias").m_pointed_type, IO_Descriptor::VIRTUAL);
}

TEST_F(Example_Descriptor_Test, MasterOfflineTurnsSlaveVariablesVirtual)
{
    m_driver.load({false, true, false});
    const Application_Descriptor_Manager& m = m_driver.manager();
    EXPECT_EQ(m.m_xml_inputs_num, 6);
    EXPECT_EQ(m.inputs_num, 32u);
    EXPECT_EQ(m.outputs_num, 26u);

    // Slave inputs from the last one, then slave outputs, then the virtual
    // area as with a master, shifted behind them.
    const std::vector<Placed> slave_variables = {
        {"axmngr_0_ax_0_status_word", 0, 9, 2},
        {"axmngr_0_ax_0_op_mode_display", 0, 8, 1},
        {"axmngr_0_ax_0_actual_position", 0, 4, 4},
        {"door_closed", 0, 3, 1},
        {"emergency_stop_ok", 0, 2, 1},
        {"analog_in_0", 0, 0, 2},
        {"axmngr_0_ax_0_control_word", 0, 11, 2},
        {"axmngr_0_ax_0_op_mode", 0, 13, 1},
        {"axmngr_0_ax_0_target_position", 0, 14, 4},
        {"lamp_green", 0, 18, 1},
        {"lamp_red", 0, 19, 1},
        {"analog_out_0", 0, 20, 2},
    };
    std::vector<Placed> inputs = slave_variables;
    for (Placed p : VIRTUAL_INPUTS) {
        p.byte_offs += 22;
        inputs.push_back(p);
    }
    inputs.insert(inputs.end(), {{"door_is_closed", 0, 184, 0},
                                 {"lamp_green_cmd", 0, 184, 0},
                                 {"speed_override", 0, 184, 0},
                                 {"speed_override_alias", 0, 184, 0}});
    EXPECT_THAT(placement(m_driver.inputs), ElementsAreArray(inputs));

    std::vector<std::string> outputs;
    for (const Placed& p : slave_variables)
        outputs.push_back(p.name);
    outputs.insert(outputs.end(), {"is_bridge_running", "enable_refresh_logging", "enable_sem_data_logging",
                                   "cell_speed_override", "cell_mode", "cell_name", "recipe_id", "cycle_counter",
                                   "robot_program_running", "cell_temperature_limit", "door_is_closed",
                                   "lamp_green_cmd", "speed_override", "speed_override_alias"});
    EXPECT_THAT(names(m_driver.outputs), ElementsAreArray(outputs));
}

TEST_F(Example_Descriptor_Test, AsynchronousVariablesAndSdoCodes)
{
    m_driver.load();
    EXPECT_EQ(m_driver.manager().async_inputs_num, 3u);
    EXPECT_EQ(m_driver.manager().async_outputs_num, 2u);
    struct Sdo {
        const Async_IO_Descriptor* io;
        const char* name;
        int index;
        int subindex;
        int dim;
        unsigned code;
    };
    ASSERT_EQ(m_driver.async_inputs.size(), 3u);
    ASSERT_EQ(m_driver.async_outputs.size(), 2u);
    const Sdo expected[] = {
        {m_driver.async_inputs[0], "axmngr_0_ax_0_error_code", 0x603F, 0, 2, 0x4B},
        {m_driver.async_inputs[1], "axmngr_0_ax_0_drive_temperature", 0x200A, 1, 1, 0x4F},
        {m_driver.async_inputs[2], "axmngr_0_ax_0__emcy_last", 0x1003, 1, 4, 0xFF},
        {m_driver.async_outputs[0], "axmngr_0_ax_0_max_torque", 0x6072, 0, 2, 0x2B},
        {m_driver.async_outputs[1], "axmngr_0_ax_0_profile_velocity", 0x6081, 0, 4, 0x23},
    };
    for (const Sdo& e : expected) {
        SCOPED_TRACE(e.name);
        EXPECT_EQ(e.io->m_name_virtual_id, e.name);
        EXPECT_EQ(e.io->m_slave_addr, 1001);
        EXPECT_EQ(e.io->m_index_el, e.index);
        EXPECT_EQ(e.io->m_sub_index_el, e.subindex);
        EXPECT_EQ(e.io->m_dim_data_el, e.dim);
        EXPECT_EQ(e.io->m_sdo_code, e.code);
    }
}

TEST_F(Example_Descriptor_Test, DataGroupsAcrossFiles)
{
    m_driver.load();
    ASSERT_EQ(m_driver.manager().sem_data_groups_num, 3u);
    ASSERT_EQ(m_driver.groups.size(), 3u);
    struct Member {
        std::string name;
        unsigned offs;
        unsigned dim;
    };
    struct Group {
        std::string name;
        int sem_id;
        int ring;
        std::vector<Member> members;
    };
    const Group expected[] = {
        {"axis_trace",
         0,
         16,
         {{"framework_abs_tick", 0, 4}, {"position", 4, 8}, {"velocity", 12, 4}, {"status_word", 16, 2}}},
        {"axmngr_0_sender",
         1,
         0,
         {{"cmd_value", 0, 1},
          {"ax_0_op_mode", 1, 1},
          {"ax_0_profile_pos_target_position", 2, 8},
          {"ax_0_profile_pos_velocity", 10, 8}}},
        {"axmngr_0_receiver",
         2,
         0,
         {{"resp_value", 0, 1}, {"ax_0_info_status_word", 1, 2}, {"ax_0_info_last_error", 3, 32}}},
    };
    for (std::size_t g = 0; g < 3; ++g) {
        const Data_Semaphore_Group& group = *m_driver.groups[g];
        SCOPED_TRACE(expected[g].name);
        EXPECT_EQ(group.sem_name, expected[g].name);
        EXPECT_EQ(group.sem_id, expected[g].sem_id);
        EXPECT_EQ(group.ring_buffer_dimension, expected[g].ring);
        ASSERT_EQ(group.data.size(), expected[g].members.size());
        for (std::size_t i = 0; i < group.data.size(); ++i) {
            EXPECT_EQ(group.data[i].name, expected[g].members[i].name);
            EXPECT_EQ(group.data[i].byte_offs, expected[g].members[i].offs);
            EXPECT_EQ(group.data[i].byte_dim, expected[g].members[i].dim);
        }
    }
}

TEST_F(Example_Descriptor_Test, DefaultValuesInMemoryLayout)
{
    m_driver.load();
    const IO_Descriptor& cell_name = io_named(m_driver.inputs, "cell_name");
    EXPECT_TRUE(cell_name.m_is_default_value_string);
    EXPECT_EQ(std::string(cell_name.m_default_value.begin(), cell_name.m_default_value.end()),
              std::string("robot_cell") + std::string(6, '\0'));
    EXPECT_THAT(io_named(m_driver.inputs, "firmware_version").m_default_value, ElementsAre(1, 2, 3, 4));
    EXPECT_THAT(io_named(m_driver.outputs, "analog_out_0").m_default_value, ElementsAre(0xFE, 0xFF));
    const IO_Descriptor& msg = io_named(m_driver.inputs, "last_ethercat_master_error_msg");
    EXPECT_FALSE(msg.m_has_default_value);
    EXPECT_TRUE(msg.m_default_value.empty());
}

// The main file is parsed once: every node pointer the manager and its
// section readers keep still belongs to a live document after the load.
TEST_F(Example_Descriptor_Test, KeptNodesStayValid)
{
    m_driver.load();
    const Application_Descriptor_Manager& m = m_driver.manager();
    ASSERT_TRUE(m.m_has_in_out_files);
    EXPECT_EQ(std::string(m.m_input_output_files_node->get_name()), "input_output_files");
    EXPECT_EQ(std::string(m.m_input_output_files_location->get_name()), "input_output_files_location");
    ASSERT_EQ(m.m_input_output_files_mgrs.size(), 2u);
    for (const Application_Descriptor_Mngr* file : m.m_input_output_files_mgrs) {
        for (const xmlpp::Node* node : file->xml_outputs_manager.m_used_nodes_ptr)
            EXPECT_EQ(std::string(node->get_name()), "output");
        for (const xmlpp::Node* node : file->xml_virtuals_manager.m_used_nodes_ptr)
            EXPECT_EQ(std::string(node->get_name()), "virtual_io");
    }
    EXPECT_EQ(m.m_input_output_files_mgrs[0]->xml_outputs_manager.m_used_nodes_ptr.size(), 6u);
    EXPECT_EQ(m.m_input_output_files_mgrs[1]->xml_virtuals_manager.m_used_nodes_ptr.size(), 13u);
}

TEST_F(Example_Descriptor_Test, LoadRunsOnce)
{
    m_driver.load();
    EXPECT_THROW(m_driver.manager().load_data_ex(), std::runtime_error);
    EXPECT_EQ(m_driver.manager().inputs_num, 25u);
    EXPECT_EQ(m_driver.inputs.size(), 25u);
}

}  // namespace
