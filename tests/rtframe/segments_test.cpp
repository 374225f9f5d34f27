#include <gtest/gtest.h>

#include <sys/stat.h>

#include <string>

#include "running_rtframe.h"

namespace {
struct Expected_Segment {
    std::string name;
    std::size_t size;
};

void expect_segment(const Expected_Segment& segment)
{
    struct stat st {};
    ASSERT_EQ(stat(("/dev/shm" + segment.name).c_str(), &st), 0) << segment.name;
    EXPECT_EQ(static_cast<std::size_t>(st.st_size), segment.size) << segment.name;
    EXPECT_EQ(st.st_mode & 0777, 0600u) << segment.name;
}

bool exists(const std::string& name)
{
    struct stat st {};
    return stat(("/dev/shm" + name).c_str(), &st) == 0;
}

class Rtframe_Segments : public Running_Rtframe {};

TEST_F(Rtframe_Segments, EverySegmentHasItsNameSizeAndMode)
{
    start("basic.xml");
    Thin_Client client;  // maps each segment with exactly the size the counts give
    const Shared_Info_Struct& info = client.info();
    EXPECT_EQ(info.project_version_major, 4u);
    EXPECT_EQ(info.project_version_minor, 0u);
    EXPECT_EQ(info.ready_to_start, 1u);
    EXPECT_EQ(info.master_cycle_time, 1000000u);
    EXPECT_EQ(info.async_data_timeout_ns, 100000000u);
    EXPECT_EQ(info.cyclic_xeno_sem_dim, 3);
    EXPECT_EQ(info.cyclic_linux_sem_dim, -1);
    EXPECT_EQ(info.async_inputs_num, 1u);
    EXPECT_EQ(info.async_outputs_num, 1u);
    EXPECT_EQ(info.num_data_sem_group, 2u);
    EXPECT_EQ(info.has_to_save, 0u);
    // Offline, every variable is virtual: the inputs list holds the slave
    // input, the slave outputs and the ten virtual variables; the outputs list
    // the slave input, the slave outputs and the five writable virtuals.
    EXPECT_EQ(info.application_data_inputs_num, 14u);
    EXPECT_EQ(info.application_data_outputs_num, 9u);

    const std::size_t mutex = sizeof(pthread_mutex_t);
    const Expected_Segment segments[] = {
        {"/linux_framework_info", sizeof(Shared_Info_Struct)},
        {"/linux_framework_cyclic_mutex", mutex},
        {"/linux_framework_cyclic_inputs", info.cyclic_input_byte_dim},
        {"/linux_framework_cyclic_outputs", info.cyclic_output_byte_dim},
        {"/linux_framework_cyclic_sems", 3 * sizeof(Shared_Sem_Struct)},
        {"/linux_framework_app_input_mutex", mutex},
        {"/linux_framework_app_input_data", 14 * sizeof(Shared_Application_Data_Struct)},
        {"/linux_framework_app_output_mutex", mutex},
        {"/linux_framework_app_output_data", 9 * sizeof(Shared_Application_Data_Struct)},
        {"/linux_framework_async_mutex", mutex},
        {"/linux_framework_async_input_from_framework_data", sizeof(Shared_Async_Input_Data_From_Framework)},
        {"/linux_framework_async_input_to_framework_data", sizeof(Shared_Async_Input_Data_To_Framework)},
        {"/linux_framework_async_output_from_framework_data", sizeof(Shared_Async_Output_Data_From_Framework)},
        {"/linux_framework_async_output_to_framework_data", sizeof(Shared_Async_Output_Data_To_Framework)},
        {"/linux_framework_sem_data_group_struct", 2 * sizeof(Shared_Sem_Data_Group_Struct)},
        {"/linux_framework_sem_data_group_data_infog1", 2 * sizeof(Shared_Sem_Data_Group_Data_Info)},
        {"/linux_framework_sem_data_group_datag1", 4 + 6},
        {"/linux_framework_sem_data_group_semg1", 3 * sizeof(Shared_Sem_Data_Group_Sem_Struct)},
        {"/linux_framework_sem_data_group_data_infotrace", 2 * sizeof(Shared_Sem_Data_Group_Data_Info)},
        {"/linux_framework_sem_data_group_datatrace", 4 * (4 + 8)},
        {"/linux_framework_sem_data_group_semtrace", 3 * sizeof(Shared_Sem_Data_Group_Sem_Struct)},
    };
    for (const Expected_Segment& segment : segments)
        expect_segment(segment);

    // 2 + 2 + 1 + 1 bytes of slave variables, 1 + 1 + 8 + 8 + 8 of writable
    // virtual ones; the inputs add the read-only 1 + 2 + 2 + 100 + 4.
    EXPECT_EQ(info.cyclic_output_byte_dim, 32u);
    EXPECT_EQ(info.cyclic_input_byte_dim, 32u + 1 + 2 + 2 + 100 + 4);

    const Shared_Sem_Data_Group_Struct& g1 = client.groups().share_sem_group_struct[0];
    EXPECT_EQ(client.group_name(0), "g1");
    EXPECT_EQ(g1.data_num, 2u);
    EXPECT_EQ(g1.data_byte, 10u);
    EXPECT_EQ(g1.rw_app_id, -1);
    EXPECT_EQ(g1.is_server_waiting_cmd_setter, -1);
    EXPECT_EQ(g1.is_buffered, 0);
    const Shared_Sem_Data_Group_Struct& trace = client.groups().share_sem_group_struct[1];
    EXPECT_EQ(trace.ring_buffer_slot_number, 4);
    EXPECT_EQ(trace.flag_only_not_rt, 1);
    EXPECT_EQ(trace.is_buffered, 1);
    EXPECT_EQ(client.groups().semaphores[1][2].application_id, -1);

    for (int slot = 0; slot < 3; ++slot) {
        const Shared_Sem_Struct record = client.slot_record(slot);
        EXPECT_EQ(record.is_assigned, 0);
        EXPECT_EQ(record.start_value, 1u);
        EXPECT_EQ(record.actual_value, 1u);
        EXPECT_EQ(record.overflow, 0);
        EXPECT_EQ(record.watchdog_max_value, 1000);
        EXPECT_EQ(record.watchdog_is_active, 0);
    }
}

TEST_F(Rtframe_Segments, StopLowersReadyAndRemovesAllButTheDataGroupSegments)
{
    start("basic.xml");
    {
        Thin_Client client;
        client.take_slot("waiting");
        EXPECT_EQ(rtframe->stop(), 0);
        // The client that waits is let go with an overflow of -1.
        int32_t overflow = 0;
        while (client.wait_wakeup(std::chrono::milliseconds(500), nullptr, &overflow) && overflow != -1) {
        }
        EXPECT_EQ(overflow, -1);
        EXPECT_EQ(client.info().ready_to_start, 0u) << "the mapping stays valid and says stopped";
    }
    for (const char* gone : {"/linux_framework_info", "/linux_framework_cyclic_mutex", "/linux_framework_cyclic_inputs",
                             "/linux_framework_cyclic_outputs", "/linux_framework_cyclic_sems",
                             "/linux_framework_app_input_data", "/linux_framework_app_output_mutex",
                             "/linux_framework_async_mutex", "/linux_framework_async_output_to_framework_data"})
        EXPECT_FALSE(exists(gone)) << gone;
    for (const char* kept : {"/linux_framework_sem_data_group_struct", "/linux_framework_sem_data_group_datag1",
                             "/linux_framework_sem_data_group_semtrace"})
        EXPECT_TRUE(exists(kept)) << kept;
    const std::string log = rtframe->log();
    EXPECT_EQ(count_of(log, "WAR] XELO_Framework_ex:: stop requested"), 1);
    EXPECT_EQ(count_of(log, "\t release_all_sems() "), 1);
    EXPECT_EQ(count_of(log, "\t release_all_shms() "), 1);
    for (const char* not_done :
         {"Try to Close Master Connection", "close_connection_with_master", "Master Unhook Done"})
        EXPECT_EQ(count_of(log, not_done), 0) << "no master connection was made: " << not_done;
    rtframe.reset();
}

// Empty tables map one record and publish 0; a data group without members
// gets a data segment; no application slot means no semaphore table.
TEST_F(Rtframe_Segments, EmptyTablesAreMappedAndPublishedAsZero)
{
    start("empty_tables.xml");
    ASSERT_TRUE(rtframe->wait_for_log("WAR] no rt process in application descriptor", std::chrono::seconds(5)));
    Thin_Client client;
    const Shared_Info_Struct& info = client.info();
    EXPECT_EQ(info.application_data_outputs_num, 0u);
    EXPECT_EQ(info.cyclic_output_byte_dim, 0u);
    EXPECT_EQ(info.async_inputs_num + info.async_outputs_num, 0u);
    EXPECT_EQ(info.cyclic_xeno_sem_dim, 0);
    expect_segment({"/linux_framework_app_output_data", sizeof(Shared_Application_Data_Struct)});
    expect_segment({"/linux_framework_async_mutex", sizeof(pthread_mutex_t)});
    expect_segment({"/linux_framework_sem_data_group_dataempty", 1});
    EXPECT_EQ(client.groups().share_sem_group_struct[0].data_byte, 0u);
    EXPECT_EQ(client.groups().share_sem_group_struct[0].rw_app_id, -1) << "a group without members is initialised too";
    for (const char* absent :
         {"/linux_framework_cyclic_outputs", "/linux_framework_cyclic_sems",
          "/linux_framework_async_input_from_framework_data", "/linux_framework_sem_data_group_data_infoempty",
          "/linux_framework_sem_data_group_semempty"})
        EXPECT_FALSE(exists(absent)) << absent;
    EXPECT_EQ(client.get_input_text("last_ethercat_master_error_msg"), "Ethercat master simulation");
}
}  // namespace

namespace {
struct Long_Name_Case {
    const char* what;
    std::string find;
    std::string replace;
};

void PrintTo(const Long_Name_Case& c, std::ostream* os)
{
    *os << c.what;
}

class Rtframe_Long_Names : public testing::TestWithParam<Long_Name_Case> {};

// Names that would fill their shared field without a terminating zero are
// refused at load: no segment is created.
TEST_P(Rtframe_Long_Names, AreRefusedAtLoad)
{
    const std::string path = install_descriptor("basic.xml", "/tmp/cell");
    std::string text = read_file(path);
    const std::size_t at = text.find(GetParam().find);
    ASSERT_NE(at, std::string::npos);
    text.replace(at, GetParam().find.size(), GetParam().replace);
    write_file(path, text);
    Rtframe_Child child({"-o", "-s", "-c", path});
    EXPECT_EQ(child.wait_exit(), 0);
    EXPECT_EQ(count_of(child.log(), "ERR] bad application descriptor"), 1) << child.log();
    EXPECT_FALSE(exists("/linux_framework_info"));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Rtframe_Long_Names,
    testing::Values(Long_Name_Case{"variable_of_500", "name_virtual=\"counter\"",
                                   "name_virtual=\"" + std::string(500, 'v') + "\""},
                    Long_Name_Case{"group_of_100", "sem_name=\"g1\"", "sem_name=\"" + std::string(100, 'g') + "\""},
                    Long_Name_Case{"member_of_500", "data_name=\"a\"", "data_name=\"" + std::string(500, 'm') + "\""}),
    [](const testing::TestParamInfo<Long_Name_Case>& case_info) { return std::string(case_info.param.what); });

TEST(Rtframe_Long_Names_Limit, ANameOf499CharactersFits)
{
    const std::string path = install_descriptor("basic.xml", "/tmp/cell");
    std::string text = read_file(path);
    const std::string name(499, 'v');
    const std::string counter = "name_virtual=\"counter\"";
    text.replace(text.find(counter), counter.size(), "name_virtual=\"" + name + "\"");
    write_file(path, text);
    Rtframe_Child child({"-o", "-s", "-c", path});
    ASSERT_TRUE(child.wait_until_ready()) << child.log();
    {
        Thin_Client client;
        EXPECT_EQ(client.input_record(name).byte_dim, 8u);
    }
    EXPECT_EQ(child.stop(), 0);
}
}  // namespace
