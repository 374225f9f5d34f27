#include "test_descriptor.h"

#include "descriptor_builder.h"

#include <sstream>

using namespace descriptor_xml;

namespace {
std::string channel_groups(const std::string& name)
{
    return sem_group(name + "_sender", sem_data("code", "int8") + sem_data("target", "double") +
                                           sem_data("name", "uint8_array[0..n]", 8)) +
           sem_group(name + "_receiver", sem_data("result", "int8") + sem_data("position", "double") +
                                             sem_data("note", "uint8_array[0..n]", 8));
}

// Every value type of the data groups, for the group or channel group `name`.
std::string value_types_group(const std::string& name)
{
    return sem_group(name, sem_data("i8", "int8") + sem_data("u8", "uint8") + sem_data("i16", "int16") +
                               sem_data("u16", "uint16") + sem_data("i32", "int32") + sem_data("u32", "uint32") +
                               sem_data("i64", "int64") + sem_data("u64", "uint64") + sem_data("f32", "float") +
                               sem_data("f64", "double") + sem_data("bytes", "uint8_array[0..n]", 12));
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

}  // namespace

std::string Test_Descriptor::write() const
{
    std::ostringstream xml;
    xml << head(cycle_time_ns, slots) << "  <outputs>\n"
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
        << reserved_virtual_ios(false) << virtual_io("v_bool", "bit", -1, false, "0")
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
        << sem_group("trace", sem_data("framework_abs_tick", "uint32") + sem_data("position", "double"), trace_slots,
                     false)
        << sem_group("command",
                     sem_data("code", "int8") + sem_data("text", "uint8_array[0..n]", 16) + sem_data("count", "int32") +
                         sem_data("ratio", "double"),
                     0, false);
    if (with_channel)
        xml << channel_groups("axis");
    if (with_value_types)
        xml << value_types_group("values") << value_types_group("probe_sender") << value_types_group("probe_receiver")
            << sem_group("ping_sender", sem_data("code", "int8")) << sem_group("ping_receiver", "");
    xml << "  </sem_data_group>\n" << end();
    return descriptor_xml::write("/tmp/application_descriptor.xml", xml.str());
}
