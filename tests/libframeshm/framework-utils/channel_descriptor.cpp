#include "channel_descriptor.h"

#include "descriptor_builder.h"

#include <sstream>

using namespace descriptor_xml;

namespace {
// A writable variable of no group.
std::string variable(const std::string& name, const std::string& type, const std::string& default_value)
{
    return virtual_io(name, type, -1, false, default_value);
}
}  // namespace

std::string write_channel_descriptor()
{
    std::ostringstream xml;
    xml << head(1000000, 4) << "  <virtual_ios>\n"
        << reserved_virtual_ios(true) << variable("cmd_ptcl_reset", "int8", "1")
        << variable("cmd_ptcl_get_info", "int8", "2") << variable("x_cmd_ptcl_fake", "int8", "9")
        << variable("cmd_ptcl_halt", "int8", "3") << variable("answ_ptcl_done", "int8", "1")
        << variable("answ_ptcl_refused", "int8", "-1") << variable("dup_ptcl_a", "int8", "5")
        << variable("dup_ptcl_b", "int8", "5") << variable("wide_ptcl_a", "int16", "4") << "  </virtual_ios>\n"
        << "  <sem_data_group>\n"
        << sem_group("tool_sender", sem_data("cmd_value", "int8") + sem_data("speed", "int32") +
                                        sem_data("gain", "float") + sem_data("ratio", "double") +
                                        sem_data("counter", "uint64") + sem_data("offset", "int64") +
                                        sem_data("small", "uint16") + sem_data("name", "uint8_array[0..n]", 10))
        << sem_group("tool_receiver", sem_data("resp_value", "int8") + sem_data("position", "double") +
                                          sem_data("status", "int16") + sem_data("total", "uint32") +
                                          sem_data("echo", "int64") + sem_data("scale", "float") +
                                          sem_data("note", "uint8_array[0..n]", 8))
        << sem_group("bare_sender", sem_data("cmd_value", "int8"))
        << sem_group("bare_receiver", sem_data("resp_value", "int8"))
        << sem_group("nocode_sender", sem_data("value", "int32"))
        << sem_group("nocode_receiver", sem_data("result", "int32")) << "  </sem_data_group>\n"
        << end();
    return descriptor_xml::write("/tmp/channel_descriptor.xml", xml.str());
}
