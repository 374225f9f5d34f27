#include "bridge_files.h"

#include <algorithm>
#include <stdexcept>

#include "child_process.h"

namespace {
bool is_omitted(const std::vector<std::string>& list, const std::string& section)
{
    return std::find(list.begin(), list.end(), section) != list.end();
}

void replace_all(std::string& text, const std::string& from, const std::string& to)
{
    std::size_t position = text.find(from);
    if (position == std::string::npos)
        throw std::runtime_error("[bridge_files] no '" + from + "' to replace");
    for (; position != std::string::npos; position = text.find(from, position + to.size()))
        text.replace(position, from.size(), to);
}
}  // namespace

std::string Bridge_File::text() const
{
    std::string xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<bridge_descriptor>\n";
    auto element = [&](const std::string& name, const std::string& content) {
        if (!is_omitted(omitted, name))
            xml += "  <" + name + ">" + content + "</" + name + ">\n";
    };
    element("io_update_time_ms", period);
    element("master_socket_address", master_address);
    element("slave_socket_address", slave_address);
    std::string list;
    for (const std::string& name : inputs)
        list += "<input name=\"" + name + "\"/>";
    element("inputs", list);
    list.clear();
    for (const std::string& name : outputs)
        list += "<output name=\"" + name + "\"/>";
    element("outputs", list);
    auto entries = [](const char* child, const char* attribute, const std::vector<std::string>& names) {
        std::string text;
        for (const std::string& name : names)
            text += std::string("<") + child + " " + attribute + "=\"" + name + "\"/>";
        return text;
    };
    element("sem_data_in", entries("sem", "sem_name", sem_data_in));
    element("sem_data_out", entries("sem", "sem_name", sem_data_out));
    element("cmd_in", entries("cmd", "cmd_name", cmd_in));
    element("cmd_out", entries("cmd", "cmd_name", cmd_out));
    return xml + "</bridge_descriptor>\n";
}

std::string Bridge_File::install(const std::string& path) const
{
    write_file(path, text());
    return path;
}

std::string bridge_example(const std::string& file)
{
    return std::string(CELL_EXAMPLES_DIR) + "/bridge/" + file;
}

std::string install_application_descriptor(const std::string& board, const std::string& path,
                                           const std::vector<std::string>& extra_virtual_ios,
                                           const std::vector<std::pair<std::string, std::string>>& replacements)
{
    std::string text = read_file(bridge_example("application_descriptor_" + board + ".xml"));
    std::string extra;
    for (const std::string& line : extra_virtual_ios)
        extra += "    " + line + "\n";
    replace_all(text, "  </virtual_ios>", extra + "  </virtual_ios>");
    for (const auto& [from, to] : replacements)
        replace_all(text, from, to);
    write_file(path, text);
    return path;
}
