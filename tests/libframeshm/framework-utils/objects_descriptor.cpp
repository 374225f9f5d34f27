#include "objects_descriptor.h"

#include "descriptor_builder.h"

#include <sstream>

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

}  // namespace

std::string write_objects_descriptor()
{
    std::ostringstream xml;
    xml << descriptor_xml::head(1000000, 3) << "  <virtual_ios>\n" << descriptor_xml::reserved_virtual_ios(true);
    for (const Variable& v : VARIABLES)
        xml << descriptor_xml::virtual_io(v.name, v.type, v.group, false, v.default_value, v.byte_dimension);
    xml << "  </virtual_ios>\n" << descriptor_xml::end();
    return descriptor_xml::write("/tmp/objects_descriptor.xml", xml.str());
}
