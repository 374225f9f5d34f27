// Single mutations of the example descriptor and the exact messages they
// give: the exception that ends the load and every ERR line before it.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "descriptor_driver.h"

namespace {

const std::string C = "[Application_Descriptor_Manager][check_data_consistency_ex] ";
const std::string A = "[Application_Descriptor_Manager][check_for_alias_loops_and_get_pointed_type_ex] ";
const std::string L = "[Application_Descriptor_Manager][load_data_ex] ";
const std::string F = "[XELO_Framework_ex][load_application_information_ex] ";
const std::string BAD = "bad application descriptor";
const std::string BAD_ELEMENT = "Bad element xml definition";
const std::string BOLD_RED = "\033[1;31m";
const auto MAIN = Example_Edit::MAIN;
const auto SECONDARY = Example_Edit::SECONDARY;
const Load_Options PLAIN{};
const Load_Options BRIDGE{false, false, true};
const Load_Options OFFLINE{false, true, false};
const Load_Options DEVELOP{true, false, false};

struct Mutation {
    std::string name;
    std::vector<Example_Edit> edits;
    Load_Options options;
    std::string error;
    std::vector<std::string> err_lines;
};

void PrintTo(const Mutation& m, std::ostream* os)
{
    *os << m.name;
}

std::string io_report(const std::string& physic, const std::string& slave, const std::string& virt,
                      const std::string& type, const std::string& offs, const std::string& bit, const std::string& dim,
                      const std::string& group, const std::string& ro, const std::string& negated)
{
    return "[fab_descriptors][IO_Descriptor] Bad element xml definition :\n\t\t\t name_physic   :: " + physic +
           "\n\t\t\t slave_addr    :: " + slave + "\n\t\t\t name_virtual  :: " + virt +
           "\n\t\t\t type          :: " + type + "\n\t\t\t byte_offs     :: " + offs +
           "\n\t\t\t bit_offs      :: " + bit + "\n\t\t\t byte_dim      :: " + dim +
           "\n\t\t\t group_id      :: " + group + "\n\t\t\t is_ro         :: " + ro +
           "\n\t\t\t is_negated    :: " + negated + "\n\t\t\t alias_of      :: ";
}

const std::string CELL_NAME_REPORT =
    io_report("", "0", "cell_name", "uint8_array[0..n]", "0", "0", "16", "-1", "0", "0");

std::vector<std::string> slave_lines(const std::string& head, const std::string& physic, const std::string& virt,
                                     const std::string& slave, const std::string& alias, const std::string& type,
                                     const std::string& dim)
{
    return {C + head,
            C + "\t name_phisyc :: " + physic,
            C + "\t name_virtual :: " + virt,
            C + "\t slave address :: " + slave,
            C + "\t alias of :: " + alias,
            C + "\t type :: " + type,
            C + "\t dimension :: " + dim};
}

const std::string LONG_NAME(500, 'm');
const std::string LONG_GROUP(100, 'g');

const std::string AXIS_TRACE_GROUP = R"(<sem sem_name="axis_trace" ring_buffer="16" flag_only_not_rt="0">
      <sem_data data_name="framework_abs_tick" type="uint32"/>
      <sem_data data_name="position" type="double"/>
      <sem_data data_name="velocity" type="float"/>
      <sem_data data_name="status_word" type="uint16"/>
    </sem>)";

const std::vector<Mutation> MUTATIONS = {
    // ---- names ------------------------------------------------------------
    {"DuplicateInputs",
     {{MAIN, "name_virtual=\"analog_in_0\"", "name_virtual=\"door_closed\""}},
     PLAIN,
     BAD,
     {C + "input name 'door_closed' is already defined!!"}},
    {"OutputNamedLikeInput",
     {{MAIN, "name_virtual=\"lamp_red\"", "name_virtual=\"emergency_stop_ok\""}},
     PLAIN,
     BAD,
     {C + "output name 'emergency_stop_ok' is already defined!!"}},
    {"VirtualNamedLikeOutput",
     {{SECONDARY, "name_virtual=\"cell_mode\"", "name_virtual=\"lamp_red\""}},
     PLAIN,
     BAD,
     {C + "virtualIO name 'lamp_red' is already defined!!"}},
    {"GroupNamedLikeGroupOfMainFile",
     {{SECONDARY, "sem_name=\"axmngr_0_receiver\"", "sem_name=\"axis_trace\""}},
     PLAIN,
     BAD,
     {C + "semaphorized data group name 'axis_trace' is already defined!!"}},

    // ---- slave variables ----------------------------------------------------
    {"InputWithoutSlave",
     {{MAIN, "name_virtual=\"door_closed\" slave_address=\"1002\"",
       "name_virtual=\"door_closed\" slave_address=\"0\""}},
     PLAIN,
     BAD,
     slave_lines("Invalid Input definition!", "IO.In0", "door_closed", "0", "", "0", "0")},
    {"InputAsAlias",
     {{MAIN, "name_virtual=\"door_closed\" slave_address=\"1002\"",
       "name_virtual=\"door_closed\" alias_of=\"analog_in_0\" slave_address=\"1002\""}},
     PLAIN,
     BAD,
     slave_lines("Invalid Input definition!", "IO.In0", "door_closed", "1002", "analog_in_0", "-1", "1")},
    {"BitOutputOfTwoBytes",
     {{MAIN,
       "name_virtual=\"lamp_green\" slave_address=\"1002\" byte_offset=\"0\" bit_offset=\"0\" byte_dimension=\"1\"",
       "name_virtual=\"lamp_green\" slave_address=\"1002\" byte_offset=\"0\" bit_offset=\"0\" byte_dimension=\"2\""}},
     PLAIN,
     BAD,
     slave_lines("Invalid Ouput definition!", "IO.Out0", "lamp_green", "1002", "", "0", "2")},
    {"AsyncInputWithoutSlave",
     {{MAIN, "name_virtual=\"axmngr_0_ax_0_error_code\" slave_address=\"1001\"",
       "name_virtual=\"axmngr_0_ax_0_error_code\" slave_address=\"0\""}},
     PLAIN,
     BAD,
     {C + "Invalid Async Input definition!", C + "\t name_phisyc :: Drive.ErrorCode",
      C + "\t name_virtual :: axmngr_0_ax_0_error_code", C + "\t slave address :: 0"}},
    {"AsyncOutputWithoutSlave",
     {{MAIN, "name_virtual=\"axmngr_0_ax_0_max_torque\" slave_address=\"1001\"",
       "name_virtual=\"axmngr_0_ax_0_max_torque\" slave_address=\"0\""}},
     PLAIN,
     BAD,
     {C + "Invalid Async Output definition!", C + "\t name_phisyc :: Drive.MaxTorque",
      C + "\t name_virtual :: axmngr_0_ax_0_max_torque", C + "\t slave address :: 0"}},
    {"SlaveInputInSecondaryFile",
     {{SECONDARY, "<sem_data_group>",
       "<async_inputs><async_input name_physic=\"X\" name_virtual=\"extra\" slave_address=\"1001\" index_hex=\"6000\" "
       "subindex=\"0\" data_dimension=\"1\" type=\"uint8\"/></async_inputs><sem_data_group>"}},
     PLAIN,
     BAD,
     {C + "In econdary files can be defined only virtuals and sem_data!"}},

    // ---- reserved variables -------------------------------------------------
    {"MasterOnlineOfWrongType",
     {{MAIN, "name_virtual=\"is_ethercat_master_online\" type=\"uint8\"",
       "name_virtual=\"is_ethercat_master_online\" type=\"uint16\""}},
     PLAIN,
     BAD,
     {C + "VirtualIO 'is_ethercat_master_online' must be defined as :: uint8!"}},
    {"ErrorCodeOfWrongType",
     {{MAIN, "name_virtual=\"last_ethercat_master_error_code\" type=\"int16\"",
       "name_virtual=\"last_ethercat_master_error_code\" type=\"int32\""}},
     PLAIN,
     BAD,
     {C + "VirtualIO 'last_ethercat_master_error_code' must be defined as :: int16!"}},
    {"ErrorMessageOfWrongType",
     {{MAIN, "name_virtual=\"last_ethercat_master_error_msg\" type=\"uint8_array[0..n]\"",
       "name_virtual=\"last_ethercat_master_error_msg\" type=\"uint8\""}},
     PLAIN,
     BAD,
     {C + "VirtualIO 'last_ethercat_master_error_msg' must be defined as :: uint8_array[0..n]!"}},
    {"ErrorMessageOf99Bytes",
     {{MAIN, "byte_dimension=\"100\"", "byte_dimension=\"99\""}},
     PLAIN,
     BAD,
     {C + "VirtualIO 'last_ethercat_master_error_msg' dimension must be defined as :: 100"}},
    {"MasterOnlineWritable",
     {{MAIN, "name_virtual=\"is_ethercat_master_online\" type=\"uint8\" group_id=\"-1\" is_ro=\"1\"",
       "name_virtual=\"is_ethercat_master_online\" type=\"uint8\" group_id=\"-1\" is_ro=\"0\""}},
     PLAIN,
     BAD,
     {C + "VirtualIO 'is_ethercat_master_online' must be defined as Read Only!"}},
    {"ErrorCodeWritable",
     {{MAIN, "name_virtual=\"last_ethercat_master_error_code\" type=\"int16\" group_id=\"-1\" is_ro=\"1\"",
       "name_virtual=\"last_ethercat_master_error_code\" type=\"int16\" group_id=\"-1\" is_ro=\"0\""}},
     PLAIN,
     BAD,
     {C + "VirtualIO 'last_ethercat_master_error_code' must be defined as Read Only"}},
    {"SemDataLoggingMissing",
     {{MAIN, "name_virtual=\"enable_sem_data_logging\"", "name_virtual=\"enable_sem_data_logging_off\""}},
     PLAIN,
     BAD,
     {C + "missing VirtualIO 'enable_sem_data_logging' --> must be defined as :: uint8!"}},
    {"ErrorTypeMissing",
     {{MAIN, "name_virtual=\"last_ethercat_master_error_type\"", "name_virtual=\"last_error_type\""}},
     PLAIN,
     BAD,
     {C + "missing VirtualIO 'last_ethercat_master_error_type' --> must be defined as :: int16!"}},
    {"ErrorMessageMissing",
     {{MAIN, "name_virtual=\"last_ethercat_master_error_msg\"", "name_virtual=\"last_error_msg\""}},
     PLAIN,
     BAD,
     {C +
      "missing VirtualIO 'last_ethercat_master_error_msg' --> must be defined as :: uint_array[0..n] (dim :: 100)"}},
    {"ReservedNameAsAlias",
     {{MAIN,
       "<virtual_io name_virtual=\"enable_refresh_logging\" type=\"uint8\" group_id=\"-1\" is_ro=\"0\" is_negated=\"0\" "
       "default_value=\"0\"/>",
       "<virtual_io name_virtual=\"enable_refresh_logging\" alias_of=\"cell_mode\"/>"}},
     PLAIN,
     BAD,
     {C + "missing VirtualIO 'enable_refresh_logging' --> must be defined as :: uint8!"}},
    {"BridgeFlagNotZero",
     {{MAIN,
       "name_virtual=\"is_bridge_running\" type=\"uint8\" group_id=\"-1\" is_ro=\"0\" is_negated=\"0\" default_value=\"0\"",
       "name_virtual=\"is_bridge_running\" type=\"uint8\" group_id=\"-1\" is_ro=\"0\" is_negated=\"0\" default_value=\"1\""}},
     BRIDGE,
     BAD,
     {C + "VirtualIO 'is_bridge_running' default value must be 0!"}},
    {"BridgeFlagWithoutDefault",
     {{MAIN,
       "name_virtual=\"is_bridge_running\" type=\"uint8\" group_id=\"-1\" is_ro=\"0\" is_negated=\"0\" default_value=\"0\"",
       "name_virtual=\"is_bridge_running\" type=\"uint8\" group_id=\"-1\" is_ro=\"0\" is_negated=\"0\""}},
     BRIDGE,
     BAD,
     {C + "VirtualIO 'is_bridge_running' default value size different from 1!"}},
    {"BridgeFlagOfWrongType",
     {{MAIN, "name_virtual=\"is_bridge_running\" type=\"uint8\"", "name_virtual=\"is_bridge_running\" type=\"int16\""}},
     BRIDGE,
     BAD,
     {C + "VirtualIO 'is_bridge_running' must be defined as :: uint8!"}},
    {"BridgeFlagMissing",
     {{MAIN, "name_virtual=\"is_bridge_running\"", "name_virtual=\"bridge_running\""}},
     BRIDGE,
     BAD,
     {C + "missing VirtualIO 'is_bridge_running' --> must be defined as :: uint8!"}},

    // ---- aliases --------------------------------------------------------------
    {"AliasLoop",
     {{SECONDARY, "alias_of=\"cell_speed_override\"", "alias_of=\"speed_override_alias\""}},
     PLAIN,
     BAD,
     {A + "Alias loop found!",
      A + BOLD_RED + "speed_override --> speed_override_alias --> " + BOLD_RED + "speed_override",
      C + "error while checking alias speed_override :: bad application descriptor"}},
    {"AliasOfItself",
     {{SECONDARY, "alias_of=\"cell_speed_override\"", "alias_of=\"speed_override\""}},
     PLAIN,
     BAD,
     {A + "Alias loop found!", A + BOLD_RED + "speed_override --> " + BOLD_RED + "speed_override",
      C + "error while checking alias speed_override :: bad application descriptor"}},
    {"DanglingAlias",
     {{SECONDARY, "alias_of=\"door_closed\"", "alias_of=\"door_open\""}},
     PLAIN,
     BAD,
     {A + "There is no Input/Output/Virtual with name_virtual :: door_open",
      A + "door_is_closed --> " + BOLD_RED + "door_open",
      C + "error while checking alias door_is_closed :: bad application descriptor"}},
    {"DanglingEndOfAliasChain",
     {{SECONDARY, "alias_of=\"cell_speed_override\"", "alias_of=\"no_such_variable\""}},
     PLAIN,
     BAD,
     {A + "There is no Input/Output/Virtual with name_virtual :: no_such_variable",
      A + "speed_override --> " + BOLD_RED + "no_such_variable",
      C + "error while checking alias speed_override :: bad application descriptor"}},
    {"AliasOfReadOnlyVariable",
     {{SECONDARY, "alias_of=\"cell_speed_override\"", "alias_of=\"firmware_version\""}},
     PLAIN,
     BAD,
     {C + "error while checking alias speed_override :: cannot point to firmware_version which is read_only!"}},

    // ---- data groups ----------------------------------------------------------
    {"RingWithTickOfWrongType",
     {{MAIN, "<sem_data data_name=\"framework_abs_tick\" type=\"uint32\"/>",
       "<sem_data data_name=\"framework_abs_tick\" type=\"int32\"/>"}},
     PLAIN,
     BAD,
     {"[Xml_Sem_Data_Group_Manager][add_elements] First element of bufferized sem data group 'axis_trace' must be "
      "'framework_abs_tick' (uint32)"}},
    {"RingWithoutTickFirst",
     {{SECONDARY, "sem_name=\"axmngr_0_receiver\" ring_buffer=\"0\"",
       "sem_name=\"axmngr_0_receiver\" ring_buffer=\"4\""}},
     PLAIN,
     BAD,
     {"[Xml_Sem_Data_Group_Manager][add_elements] First element of bufferized sem data group 'axmngr_0_receiver' must "
      "be 'framework_abs_tick' (uint32)"}},
    {"RingWithoutMembers",
     {{MAIN, AXIS_TRACE_GROUP, "<sem sem_name=\"axis_trace\" ring_buffer=\"16\" flag_only_not_rt=\"0\"/>"}},
     PLAIN,
     BAD,
     {"[Xml_Sem_Data_Group_Manager][add_elements] First element of bufferized sem data group 'axis_trace' must be "
      "'framework_abs_tick' (uint32)"}},
    {"NegativeRing",
     {{SECONDARY, "sem_name=\"axmngr_0_sender\" ring_buffer=\"0\"", "sem_name=\"axmngr_0_sender\" ring_buffer=\"-1\""}},
     PLAIN,
     BAD_ELEMENT,
     {"[fab_descriptors][Data_Semaphore_Group] Bad element xml definition :\n\t\t\t sem_name              :: "
      "axmngr_0_sender\n\t\t\t ring_buffer_dimension :: -1\n\t\t\t flag_only_not_rt      :: 0"}},
    {"ByteArrayMemberWithoutSize",
     {{SECONDARY, " byte_dimension=\"32\"", ""}},
     PLAIN,
     "[fab_descriptors][Data_Semaphore_Group] error in sem data group data list :: axmngr_0_receiver",
     {"[fab_descriptors][Data_Semaphore] Bad element xml definition :\n\t\t\t sem data name :: ax_0_info_last_error"
      "\n\t\t\t sem data type :: uint8_array[0..n]\n\t\t\t byte_dim      :: 0"}},

    // ---- entries ----------------------------------------------------------------
    {"DefaultWithOddHexLength",
     {{SECONDARY, "default_value=\"robot_cell\"", "default_value=\"0x123\""}},
     PLAIN,
     BAD_ELEMENT,
     {"[fab_descriptors][IO_Descriptor] default value of cell_name is given as bytes but overall length is odd!",
      CELL_NAME_REPORT}},
    {"DefaultTextLongerThanArray",
     {{SECONDARY, "default_value=\"robot_cell\"", "default_value=\"robot_cell_number_1\""}},
     PLAIN,
     BAD_ELEMENT,
     {"[fab_descriptors][IO_Descriptor] default value of cell_name is given as a string but string length > "
      "byte_array dimension! (19 > 16)",
      CELL_NAME_REPORT}},
    {"DefaultBytesMoreThanArray",
     {{SECONDARY, "default_value=\"0x01020304\"", "default_value=\"0x0102030405\""}},
     PLAIN,
     BAD_ELEMENT,
     {"[fab_descriptors][IO_Descriptor] default value of firmware_version is given as bytes but default value dim > "
      "byte_array dimension! (5 > 4)",
      io_report("", "0", "firmware_version", "uint8_array[0..n]", "0", "0", "4", "-1", "1", "0")}},
    {"DefaultThatIsNoNumber",
     {{SECONDARY, "default_value=\"45.5\"", "default_value=\"warm\""}},
     PLAIN,
     BAD_ELEMENT,
     {"[fab_descriptors][IO_Descriptor] cannot get default value :: cell_temperature_limit",
      io_report("", "0", "cell_temperature_limit", "float", "0", "0", "0", "-1", "0", "0")}},
    {"DefaultOfUnknownType",
     {{SECONDARY, "type=\"uint32\"", "type=\"u32\""}},
     PLAIN,
     BAD_ELEMENT,
     {"Type not valid for default value",
      io_report("", "0", "recipe_id", "default return type", "0", "0", "0", "-1", "0", "0")}},
    {"InputWithoutGroupAndAccess",
     {{MAIN,
       "name_virtual=\"analog_in_0\" slave_address=\"1002\" byte_offset=\"1\" bit_offset=\"0\" byte_dimension=\"2\" "
       "type=\"int16\" group_id=\"-1\" is_ro=\"0\"",
       "name_virtual=\"analog_in_0\" slave_address=\"1002\" byte_offset=\"1\" bit_offset=\"0\" byte_dimension=\"2\" "
       "type=\"int16\""}},
     PLAIN,
     BAD_ELEMENT,
     {io_report("IO.AnalogIn0", "1002", "analog_in_0", "int16", "1", "0", "2", "-1", "0", "0")}},
    {"AsyncInputWithoutSubindex",
     {{MAIN, "index_hex=\"603F\" subindex=\"0\"", "index_hex=\"603F\""}},
     PLAIN,
     BAD_ELEMENT,
     {"[fab_descriptors][Async_IO_Descriptor] Bad element xml definition :\n\t\t\t name_physic_id  :: Drive.ErrorCode"
      "\n\t\t\t name_virtual_id :: axmngr_0_ax_0_error_code\n\t\t\t slave_addr      :: 1001"
      "\n\t\t\t index_el  _     :: 24639\n\t\t\t sub_index_el    :: 0\n\t\t\t dim_data_el     :: 2"
      "\n\t\t\t type            :: uint16"}},
    {"AsyncOutputOfFiveBytes",
     {{MAIN, "index_hex=\"0x6081\" subindex=\"0\" data_dimension=\"4\"",
       "index_hex=\"0x6081\" subindex=\"0\" data_dimension=\"5\""}},
     PLAIN,
     "data_dimension not valid ",
     {}},

    // ---- texts that must fit the framework's shared fields ------------------------
    {"VirtualNameTooLong",
     {{SECONDARY, "name_virtual=\"cell_mode\"", "name_virtual=\"" + LONG_NAME + "\""}},
     PLAIN,
     BAD,
     {C + "name_virtual '" + LONG_NAME + "' is too long (500 > 499 characters)!"}},
    {"AliasTargetTooLong",
     {{SECONDARY, "alias_of=\"door_closed\"", "alias_of=\"" + LONG_NAME + "\""}},
     PLAIN,
     BAD,
     {C + "alias_of '" + LONG_NAME + "' of 'door_is_closed' is too long (500 > 499 characters)!"}},
    {"AsyncNameTooLong",
     {{MAIN, "name_virtual=\"axmngr_0_ax_0_max_torque\"", "name_virtual=\"" + LONG_NAME + "\""}},
     PLAIN,
     BAD,
     {C + "name_virtual '" + LONG_NAME + "' is too long (500 > 499 characters)!"}},
    {"DefaultTooLong",
     {{MAIN,
       "name_virtual=\"analog_out_0\" slave_address=\"1002\" byte_offset=\"1\" bit_offset=\"0\" byte_dimension=\"2\"",
       "name_virtual=\"analog_out_0\" slave_address=\"1002\" byte_offset=\"1\" bit_offset=\"0\" byte_dimension=\"101\""}},
     PLAIN,
     BAD,
     {C + "default value of 'analog_out_0' is too long (101 > 100 bytes)!"}},
    {"GroupNameTooLong",
     {{SECONDARY, "sem_name=\"axmngr_0_receiver\"", "sem_name=\"" + LONG_GROUP + "\""}},
     PLAIN,
     BAD,
     {C + "semaphorized data group name '" + LONG_GROUP + "' is too long (100 > 99 characters)!"}},
    {"MemberNameTooLong",
     {{SECONDARY, "data_name=\"resp_value\"", "data_name=\"" + LONG_NAME + "\""}},
     PLAIN,
     BAD,
     {C + "sem data name '" + LONG_NAME + "' of group 'axmngr_0_receiver' is too long (500 > 499 characters)!"}},

    // ---- sizes of the virtual area ------------------------------------------------
    {"VirtualOfUnknownType",
     {{SECONDARY, "name_virtual=\"robot_program_running\" type=\"bit\"",
       "name_virtual=\"robot_program_running\" type=\"flag\""}},
     PLAIN,
     "[Application_Descriptor_Manager][compute_offsets_and_build_io_vectors_ex] VirtualIO dimension error :: "
     "robot_program_running",
     {}},
    {"MemberOfSizeZero",
     {{SECONDARY, "byte_dimension=\"32\"", "byte_dimension=\"0\""}},
     PLAIN,
     "[Application_Descriptor_Manager][compute_offsets_and_build_io_vectors_ex] SemDataGroup data dimension error :: "
     "ax_0_info_last_error",
     {}},
    {"OfflineInputOfUnknownType",
     {{MAIN,
       "name_virtual=\"door_closed\" slave_address=\"1002\" byte_offset=\"0\" bit_offset=\"0\" byte_dimension=\"1\" type=\"bit\"",
       "name_virtual=\"door_closed\" slave_address=\"1002\" byte_offset=\"0\" bit_offset=\"0\" byte_dimension=\"1\" type=\"flag\""}},
     OFFLINE,
     "[Application_Descriptor_Manager][manage_master_offline] virtual input dimension error :: door_closed",
     {}},
    {"OfflineOutputOfUnknownType",
     {{MAIN, "type=\"bit\" group_id=\"1\" is_ro=\"0\" is_negated=\"1\" default_value=\"1\"",
       "type=\"flag\" group_id=\"1\" is_ro=\"0\" is_negated=\"1\""}},
     OFFLINE,
     "[Application_Descriptor_Manager][manage_master_offline] Virtual output dimension error :: lamp_red",
     {}},

    // ---- global settings ------------------------------------------------------------
    {"CycleTimeBelow100us",
     {{MAIN, "<master_cycle_time>1000000<", "<master_cycle_time>99999<"}},
     PLAIN,
     "[Application_Descriptor_Manager][load_data] invalid master cycle time. it must be between 100us and 2s",
     {}},
    {"CycleTimeAbove2s",
     {{MAIN, "<master_cycle_time>1000000<", "<master_cycle_time>2000000001<"}},
     PLAIN,
     "[Application_Descriptor_Manager][load_data] invalid master cycle time. it must be between 100us and 2s",
     {}},
    {"AsyncTimeoutAbove1s",
     {{MAIN, "<async_data_timeout_ms>500<", "<async_data_timeout_ms>1001<"}},
     PLAIN,
     "[Application_Descriptor_Manager][load_data] ASYNC_DATA_TIMEOUT_MS too large",
     {}},
    {"AsyncTimeoutBeyond32Bits",
     {{MAIN, "<async_data_timeout_ms>500<", "<async_data_timeout_ms>5000<"}},
     PLAIN,
     "[Application_Descriptor_Manager][load_data] ASYNC_DATA_TIMEOUT_MS too large",
     {}},
    {"CycleTimeMissing",
     {{MAIN, "<master_cycle_time>1000000</master_cycle_time>", ""}},
     PLAIN,
     L + "missing element 'master_cycle_time'!",
     {}},
    {"WatchdogMissing",
     {{MAIN, "<watchdog_to_master>10</watchdog_to_master>", ""}},
     PLAIN,
     L + "missing element 'watchdog_to_master'!",
     {}},
    {"WatchdogEmpty",
     {{MAIN, "<watchdog_to_master>10</watchdog_to_master>", "<watchdog_to_master> </watchdog_to_master>"}},
     PLAIN,
     L + "element 'watchdog_to_master' holds no unsigned number!",
     {}},
    {"ApplicationNumberNegative",
     {{MAIN, "<linux_application_number>4<", "<linux_application_number>-1<"}},
     PLAIN,
     L + "element 'linux_application_number' holds no unsigned number!",
     {}},
    {"ApplicationNumberTooLarge",
     {{MAIN, "<linux_application_number>4<", "<linux_application_number>2147483647<"}},
     PLAIN,
     L + "element 'linux_application_number' is out of range!",
     {}},
    {"AsyncTimeoutMissing",
     {{MAIN, "<async_data_timeout_ms>500</async_data_timeout_ms>", ""}},
     PLAIN,
     L + "missing element 'async_data_timeout_ms'!",
     {}},
    {"CycleTimeTwice",
     {{MAIN, "<master_cycle_time>1000000</master_cycle_time>",
       "<master_cycle_time>1000000</master_cycle_time><master_cycle_time>1000000</master_cycle_time>"}},
     PLAIN,
     "Error element : master_cycle_time => not present in the xml file or is not unique!",
     {}},
    {"RootPathElementMissing",
     {{MAIN, "<input_output_files_location", "<input_output_files_place"}},
     PLAIN,
     "bad xml file",
     {F + "unable to get xml node :: input_output_files_location"}},
    {"LocalPathMissingInDevelopMode",
     {{MAIN, " local_path=\"examples/\"", ""}},
     DEVELOP,
     "bad xml file",
     {F +
      "unable to get elemnent from node 'input_output_files_location' :: Property :local_path not present in node : "
      "input_output_files_location"}},
    {"SecondaryFileWithoutName",
     {{MAIN, "filename=", "file="}},
     PLAIN,
     "Property :filename not present in node : input_output_file",
     {}},
};

class Descriptor_Mutation_Test : public ::testing::TestWithParam<Mutation> {
protected:
    Descriptor_Driver m_driver;
};

TEST_P(Descriptor_Mutation_Test, RefusedWithExactMessages)
{
    const Mutation& mutation = GetParam();
    m_driver.write_example(mutation.edits);
    EXPECT_EQ(m_driver.load_error(mutation.options), mutation.error);
    EXPECT_EQ(log_texts(m_driver.output(), "ERR"), mutation.err_lines);
}

INSTANTIATE_TEST_SUITE_P(Example, Descriptor_Mutation_Test, ::testing::ValuesIn(MUTATIONS),
                         [](const ::testing::TestParamInfo<Mutation>& param) { return param.param.name; });

}  // namespace
