#include "descriptor_builder.h"

#include <fstream>
#include <sstream>
#include <stdexcept>

namespace descriptor_xml {
std::string head(uint32_t cycle_time_ns, int slots)
{
    std::ostringstream xml;
    xml << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<application_descriptor>\n"
        << "  <master_cycle_time>" << cycle_time_ns << "</master_cycle_time>\n"
        << "  <watchdog_to_master>10</watchdog_to_master>\n"
        << "  <async_data_timeout_ms>100</async_data_timeout_ms>\n"
        << "  <linux_application_number>" << slots << "</linux_application_number>\n"
        << "  <input_output_files_location target_path=\"/tmp/\" local_path=\"/tmp/\"/>\n"
        << "  <ethercat_file>eni.xml</ethercat_file>\n";
    return xml.str();
}

std::string end()
{
    return "</application_descriptor>\n";
}

std::string virtual_io(const std::string& name, const std::string& type, int group, bool read_only,
                       const std::string& default_value, int byte_dimension)
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

std::string reserved_virtual_ios(bool switches_read_only)
{
    return virtual_io("is_ethercat_master_online", "uint8", -1, true, "0") +
           virtual_io("last_ethercat_master_error_type", "int16", -1, true, "0") +
           virtual_io("last_ethercat_master_error_code", "int16", -1, true, "0") +
           virtual_io("last_ethercat_master_error_msg", "uint8_array[0..n]", -1, true, "", 100) +
           virtual_io("enable_refresh_logging", "uint8", -1, switches_read_only, "0") +
           virtual_io("enable_sem_data_logging", "uint8", -1, switches_read_only, "0");
}

std::string alias(const std::string& name, const std::string& target)
{
    return "    <virtual_io name_virtual=\"" + name + "\" alias_of=\"" + target + "\"/>\n";
}

std::string sem_data(const std::string& name, const std::string& type, int byte_dimension)
{
    std::string xml = "      <sem_data data_name=\"" + name + "\" type=\"" + type + "\"";
    if (byte_dimension != 0)
        xml += " byte_dimension=\"" + std::to_string(byte_dimension) + "\"";
    return xml + "/>\n";
}

std::string sem_group(const std::string& name, const std::string& data, int ring_buffer, bool only_not_rt)
{
    return "    <sem sem_name=\"" + name + "\" ring_buffer=\"" + std::to_string(ring_buffer) +
           "\" flag_only_not_rt=\"" + (only_not_rt ? "1" : "0") + "\">\n" + data + "    </sem>\n";
}

std::string write(const std::string& path, const std::string& text)
{
    std::ofstream file(path);
    file << text;
    if (!file)
        throw std::runtime_error("cannot write " + path);
    return path;
}
}  // namespace descriptor_xml
