#include "channel_descriptor.h"

#include <fstream>
#include <sstream>
#include <stdexcept>

namespace {
std::string virtual_io(const std::string& name, const std::string& type, const std::string& default_value,
                       bool read_only = false, int byte_dimension = 0)
{
    std::ostringstream xml;
    xml << "    <virtual_io name_virtual=\"" << name << "\" type=\"" << type << "\"";
    if (byte_dimension != 0)
        xml << " byte_dimension=\"" << byte_dimension << "\"";
    xml << " group_id=\"-1\" is_ro=\"" << (read_only ? 1 : 0) << "\" is_negated=\"0\"";
    if (!default_value.empty())
        xml << " default_value=\"" << default_value << "\"";
    xml << "/>\n";
    return xml.str();
}

std::string datum(const std::string& name, const std::string& type, int byte_dimension = 0)
{
    std::string xml = "      <sem_data data_name=\"" + name + "\" type=\"" + type + "\"";
    if (byte_dimension != 0)
        xml += " byte_dimension=\"" + std::to_string(byte_dimension) + "\"";
    return xml + "/>\n";
}

std::string group(const std::string& name, const std::string& data)
{
    return "    <sem sem_name=\"" + name + "\" ring_buffer=\"0\" flag_only_not_rt=\"1\">\n" + data + "    </sem>\n";
}
}  // namespace

std::string write_channel_descriptor()
{
    std::ostringstream xml;
    xml << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<application_descriptor>\n"
        << "  <master_cycle_time>1000000</master_cycle_time>\n"
        << "  <watchdog_to_master>10</watchdog_to_master>\n"
        << "  <async_data_timeout_ms>100</async_data_timeout_ms>\n"
        << "  <linux_application_number>4</linux_application_number>\n"
        << "  <input_output_files_location target_path=\"/tmp/\" local_path=\"/tmp/\"/>\n"
        << "  <ethercat_file>eni.xml</ethercat_file>\n"
        << "  <virtual_ios>\n"
        << virtual_io("is_ethercat_master_online", "uint8", "0", true)
        << virtual_io("last_ethercat_master_error_type", "int16", "0", true)
        << virtual_io("last_ethercat_master_error_code", "int16", "0", true)
        << virtual_io("last_ethercat_master_error_msg", "uint8_array[0..n]", "", true, 100)
        << virtual_io("enable_refresh_logging", "uint8", "0", true)
        << virtual_io("enable_sem_data_logging", "uint8", "0", true) << virtual_io("cmd_ptcl_reset", "int8", "1")
        << virtual_io("cmd_ptcl_get_info", "int8", "2") << virtual_io("x_cmd_ptcl_fake", "int8", "9")
        << virtual_io("cmd_ptcl_halt", "int8", "3") << virtual_io("answ_ptcl_done", "int8", "1")
        << virtual_io("answ_ptcl_refused", "int8", "-1") << virtual_io("dup_ptcl_a", "int8", "5")
        << virtual_io("dup_ptcl_b", "int8", "5") << virtual_io("wide_ptcl_a", "int16", "4") << "  </virtual_ios>\n"
        << "  <sem_data_group>\n"
        << group("tool_sender", datum("cmd_value", "int8") + datum("speed", "int32") + datum("gain", "float") +
                                    datum("ratio", "double") + datum("counter", "uint64") + datum("offset", "int64") +
                                    datum("small", "uint16") + datum("name", "uint8_array[0..n]", 10))
        << group("tool_receiver", datum("resp_value", "int8") + datum("position", "double") + datum("status", "int16") +
                                      datum("total", "uint32") + datum("echo", "int64") + datum("scale", "float") +
                                      datum("note", "uint8_array[0..n]", 8))
        << group("bare_sender", datum("cmd_value", "int8")) << group("bare_receiver", datum("resp_value", "int8"))
        << group("nocode_sender", datum("value", "int32")) << group("nocode_receiver", datum("result", "int32"))
        << "  </sem_data_group>\n"
        << "</application_descriptor>\n";

    const std::string path = "/tmp/channel_descriptor.xml";
    std::ofstream file(path);
    file << xml.str();
    if (!file)
        throw std::runtime_error("cannot write " + path);
    return path;
}
