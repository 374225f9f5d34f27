#include "objects_descriptor.h"

#include <fstream>
#include <sstream>
#include <stdexcept>

namespace {
struct Variable {
    const char* name;
    const char* type;
    int group;
    const char* default_value;
    int byte_dimension;
};

const Variable VARIABLES[] = {
    {"t_bool", "bit", -1, "0", 0},
    {"t_i8", "int8", -1, "0", 0},
    {"t_u8", "uint8", -1, "77", 0},
    {"t_i16", "int16", -1, "0", 0},
    {"t_u16", "uint16", -1, "0", 0},
    {"t_i32", "int32", -1, "0", 0},
    {"t_u32", "uint32", -1, "0", 0},
    {"t_i64", "int64", -1, "0", 0},
    {"t_u64", "uint64", -1, "0", 0},
    {"t_float", "float", -1, "0", 0},
    {"t_double", "double", -1, "0", 0},
    {"t_bytes", "uint8_array[0..n]", -1, "", 8},
    {"ax1_status", "uint16", -1, "0", 0},
    {"ax1_position", "int32", -1, "0", 0},
    {"ax1_error", "uint16", -1, "0", 0},
    {"xax1_status", "uint16", -1, "0", 0},
    {"grp3_ctrl", "uint16", 3, "0", 0},
    {"grp3_target", "int32", 3, "0", 0},
    {"grp3_blob", "uint8_array[0..n]", 3, "", 4},
    {"mix_a", "uint8", 8, "0", 0},
    {"mix_b", "uint8", 9, "0", 0},
    {"nog_a", "uint8", 8, "0", 0},
    {"nog_b", "uint8", -1, "0", 0},
    {"five_a", "uint8", 5, "0", 0},
    {"other_five", "uint8", 5, "0", 0},
};

std::string virtual_io(const Variable& v, bool read_only)
{
    std::ostringstream xml;
    xml << "    <virtual_io name_virtual=\"" << v.name << "\" type=\"" << v.type << "\"";
    if (v.byte_dimension != 0)
        xml << " byte_dimension=\"" << v.byte_dimension << "\"";
    xml << " group_id=\"" << v.group << "\" is_ro=\"" << (read_only ? 1 : 0) << "\" is_negated=\"0\"";
    if (*v.default_value != '\0')
        xml << " default_value=\"" << v.default_value << "\"";
    xml << "/>\n";
    return xml.str();
}
}  // namespace

std::string write_objects_descriptor()
{
    const Variable reserved[] = {
        {"is_ethercat_master_online", "uint8", -1, "0", 0},
        {"last_ethercat_master_error_type", "int16", -1, "0", 0},
        {"last_ethercat_master_error_code", "int16", -1, "0", 0},
        {"last_ethercat_master_error_msg", "uint8_array[0..n]", -1, "", 100},
        {"enable_refresh_logging", "uint8", -1, "0", 0},
        {"enable_sem_data_logging", "uint8", -1, "0", 0},
    };
    std::ostringstream xml;
    xml << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<application_descriptor>\n"
        << "  <master_cycle_time>1000000</master_cycle_time>\n"
        << "  <watchdog_to_master>10</watchdog_to_master>\n"
        << "  <async_data_timeout_ms>100</async_data_timeout_ms>\n"
        << "  <linux_application_number>3</linux_application_number>\n"
        << "  <input_output_files_location target_path=\"/tmp/\" local_path=\"/tmp/\"/>\n"
        << "  <ethercat_file>eni.xml</ethercat_file>\n"
        << "  <virtual_ios>\n";
    for (const Variable& v : reserved)
        xml << virtual_io(v, true);
    for (const Variable& v : VARIABLES)
        xml << virtual_io(v, false);
    xml << "  </virtual_ios>\n</application_descriptor>\n";

    const std::string path = "/tmp/objects_descriptor.xml";
    std::ofstream file(path);
    file << xml.str();
    if (!file)
        throw std::runtime_error("cannot write " + path);
    return path;
}
