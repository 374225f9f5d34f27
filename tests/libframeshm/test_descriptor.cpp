#include "test_descriptor.h"

#include <fstream>
#include <sstream>
#include <stdexcept>

namespace {
std::string virtual_io(const std::string& name, const std::string& type, int group, bool read_only,
                       const std::string& default_value, int byte_dimension = 0)
{
    std::ostringstream xml;
    xml << "    <virtual_io name_virtual=\"" << name << "\" type=\"" << type << "\"";
    if (byte_dimension != 0)
        xml << " byte_dimension=\"" << byte_dimension << "\"";
    xml << " group_id=\"" << group << "\" is_ro=\"" << (read_only ? 1 : 0) << "\" is_negated=\"0\"";
    if (!default_value.empty())
        xml << " default_value=\"" << default_value << "\"";
    xml << "/>\n";
    return xml.str();
}

std::string sem_data(const std::string& name, const std::string& type, int byte_dimension = 0)
{
    std::string xml = "      <sem_data data_name=\"" + name + "\" type=\"" + type + "\"";
    if (byte_dimension != 0)
        xml += " byte_dimension=\"" + std::to_string(byte_dimension) + "\"";
    return xml + "/>\n";
}

std::string channel_groups(const std::string& name)
{
    return "    <sem sem_name=\"" + name + "_sender\" ring_buffer=\"0\" flag_only_not_rt=\"1\">\n" +
           sem_data("code", "int8") + sem_data("target", "double") + sem_data("name", "uint8_array[0..n]", 8) +
           "    </sem>\n    <sem sem_name=\"" + name + "_receiver\" ring_buffer=\"0\" flag_only_not_rt=\"1\">\n" +
           sem_data("result", "int8") + sem_data("position", "double") + sem_data("note", "uint8_array[0..n]", 8) +
           "    </sem>\n";
}

// Every value type of the data groups, for the group or channel group `name`.
std::string value_types_group(const std::string& name)
{
    return "    <sem sem_name=\"" + name + "\" ring_buffer=\"0\" flag_only_not_rt=\"1\">\n" + sem_data("i8", "int8") +
           sem_data("u8", "uint8") + sem_data("i16", "int16") + sem_data("u16", "uint16") + sem_data("i32", "int32") +
           sem_data("u32", "uint32") + sem_data("i64", "int64") + sem_data("u64", "uint64") + sem_data("f32", "float") +
           sem_data("f64", "double") + sem_data("bytes", "uint8_array[0..n]", 12) + "    </sem>\n";
}

// One asynchronous variable of each integer type: ai_i8 ... or ao_i8 ...
std::string async_value_types(const std::string& kind, const std::string& prefix)
{
    static constexpr struct {
        const char* suffix;
        const char* type;
        int dimension;
    } TYPES[] = {{"i8", "int8", 1},    {"u8", "uint8", 1},  {"i16", "int16", 2},
                 {"u16", "uint16", 2}, {"i32", "int32", 4}, {"u32", "uint32", 4}};
    std::string xml;
    int subindex = 1;
    for (const auto& t : TYPES)
        xml += "    <" + kind + " name_physic=\"Drive." + prefix + t.suffix + "\" name_virtual=\"" + prefix + t.suffix +
               "\" slave_address=\"1\" index_hex=\"2000\" subindex=\"" + std::to_string(subindex++) +
               "\" data_dimension=\"" + std::to_string(t.dimension) + "\" type=\"" + t.type + "\"/>\n";
    return xml;
}

std::string alias(const std::string& name, const std::string& target)
{
    return "    <virtual_io name_virtual=\"" + name + "\" alias_of=\"" + target + "\"/>\n";
}
}  // namespace

std::string Test_Descriptor::write() const
{
    std::ostringstream xml;
    xml << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<application_descriptor>\n"
        << "  <master_cycle_time>" << cycle_time_ns << "</master_cycle_time>\n"
        << "  <watchdog_to_master>10</watchdog_to_master>\n"
        << "  <async_data_timeout_ms>100</async_data_timeout_ms>\n"
        << "  <linux_application_number>" << slots << "</linux_application_number>\n"
        << "  <input_output_files_location target_path=\"/tmp/\" local_path=\"/tmp/\"/>\n"
        << "  <ethercat_file>eni.xml</ethercat_file>\n"
        << "  <outputs>\n"
        << "    <output name_physic=\"do_2\" name_virtual=\"neg_bit\" slave_address=\"1\" byte_offset=\"0\" "
           "bit_offset=\"2\" byte_dimension=\"1\" type=\"bit\" group_id=\"-1\" is_ro=\"0\" is_negated=\"1\" "
           "default_value=\"0\"/>\n"
        << "    <output name_physic=\"do_5\" name_virtual=\"pos_bit\" slave_address=\"1\" byte_offset=\"0\" "
           "bit_offset=\"5\" byte_dimension=\"1\" type=\"bit\" group_id=\"-1\" is_ro=\"0\" is_negated=\"0\" "
           "default_value=\"1\"/>\n"
        << "  </outputs>\n"
        << "  <inputs>\n"
        << "    <input name_physic=\"di\" name_virtual=\"di_word\" slave_address=\"2\" byte_offset=\"0\" "
           "bit_offset=\"0\" byte_dimension=\"2\" type=\"uint16\" group_id=\"-1\" is_ro=\"0\" is_negated=\"0\"/>\n"
        << "  </inputs>\n"
        << "  <virtual_ios>\n"
        << virtual_io("is_ethercat_master_online", "uint8", -1, true, "0")
        << virtual_io("last_ethercat_master_error_type", "int16", -1, true, "0")
        << virtual_io("last_ethercat_master_error_code", "int16", -1, true, "0")
        << virtual_io("last_ethercat_master_error_msg", "uint8_array[0..n]", -1, true, "", 100)
        << virtual_io("enable_refresh_logging", "uint8", -1, false, "0")
        << virtual_io("enable_sem_data_logging", "uint8", -1, false, "0") << virtual_io("v_bool", "bit", -1, false, "0")
        << virtual_io("v_i8", "int8", -1, false, "-8") << virtual_io("v_u8", "uint8", -1, false, "8")
        << virtual_io("v_i16", "int16", -1, false, "-16") << virtual_io("v_u16", "uint16", -1, false, "16")
        << virtual_io("v_i32", "int32", -1, false, "-32") << virtual_io("v_u32", "uint32", -1, false, "32")
        << virtual_io("v_i64", "int64", -1, false, "-64") << virtual_io("v_u64", "uint64", -1, false, "64")
        << virtual_io("v_float", "float", -1, false, "1.5") << virtual_io("v_double", "double", -1, false, "2.25")
        << virtual_io("v_bytes", "uint8_array[0..n]", -1, false, "0x0102", 10)
        << virtual_io("g7_a", "uint8", 7, false, "0") << virtual_io("g7_b", "uint8", 7, false, "0")
        << virtual_io("g7_c", "uint8", 7, false, "0") << virtual_io("solo", "uint8", -1, false, "0")
        << virtual_io("save_u16", "uint16", -1, false, "7") << virtual_io("save_u8", "uint8", -1, false, "3")
        << virtual_io("ro_u16", "uint16", -1, true, "42");
    for (int i = 0; i < padding_variables; ++i)
        xml << virtual_io("pad_" + std::to_string(i), "uint8", -1, false, "0");
    xml << alias("alias_i32", "v_i32") << alias("alias_alias", "alias_i32") << alias("di_alias", "di_word")
        << "  </virtual_ios>\n"
        << "  <async_outputs>\n"
        << "    <async_output name_physic=\"Drive.MaxTorque\" name_virtual=\"max_torque\" slave_address=\"1\" "
           "index_hex=\"6072\" subindex=\"0\" data_dimension=\"2\" type=\"uint16\"/>\n"
        << (with_value_types ? async_value_types("async_output", "ao_") : "") << "  </async_outputs>\n"
        << "  <async_inputs>\n"
        << "    <async_input name_physic=\"Drive.ErrorCode\" name_virtual=\"error_code\" slave_address=\"1\" "
           "index_hex=\"603F\" subindex=\"0\" data_dimension=\"2\" type=\"uint16\"/>\n"
        << (with_value_types ? async_value_types("async_input", "ai_") : "") << "  </async_inputs>\n"
        << "  <sem_data_group>\n"
        << "    <sem sem_name=\"trace\" ring_buffer=\"" << trace_slots << "\" flag_only_not_rt=\"0\">\n"
        << "      <sem_data data_name=\"framework_abs_tick\" type=\"uint32\"/>\n"
        << "      <sem_data data_name=\"position\" type=\"double\"/>\n"
        << "    </sem>\n"
        << "    <sem sem_name=\"command\" ring_buffer=\"0\" flag_only_not_rt=\"0\">\n"
        << "      <sem_data data_name=\"code\" type=\"int8\"/>\n"
        << "      <sem_data data_name=\"text\" type=\"uint8_array[0..n]\" byte_dimension=\"16\"/>\n"
        << "      <sem_data data_name=\"count\" type=\"int32\"/>\n"
        << "      <sem_data data_name=\"ratio\" type=\"double\"/>\n"
        << "    </sem>\n";
    if (with_channel)
        xml << channel_groups("axis");
    if (with_value_types)
        xml << value_types_group("values") << value_types_group("probe_sender") << value_types_group("probe_receiver")
            << "    <sem sem_name=\"ping_sender\" ring_buffer=\"0\" flag_only_not_rt=\"1\">\n"
            << sem_data("code", "int8") << "    </sem>\n"
            << "    <sem sem_name=\"ping_receiver\" ring_buffer=\"0\" flag_only_not_rt=\"1\">\n    </sem>\n";
    xml << "  </sem_data_group>\n"
        << "</application_descriptor>\n";

    const std::string path = "/tmp/application_descriptor.xml";
    std::ofstream file(path);
    file << xml.str();
    if (!file)
        throw std::runtime_error("cannot write " + path);
    return path;
}
