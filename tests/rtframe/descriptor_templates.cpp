#include "descriptor_templates.h"

#include <sys/stat.h>

#include <stdexcept>

std::string install_descriptor(const std::string& template_name, const std::string& dir)
{
    mkdir(dir.c_str(), 0755);
    std::string text = read_file(std::string(RTFRAME_TEST_DESCRIPTORS) + "/" + template_name);
    if (text.empty())
        throw std::runtime_error("no descriptor template " + template_name);
    for (std::size_t at = text.find("@DIR@"); at != std::string::npos; at = text.find("@DIR@"))
        text.replace(at, 5, dir);
    const std::string path = dir + "/" + template_name;
    write_file(path, text);
    return path;
}
