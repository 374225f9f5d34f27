#include "descriptor_driver.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

const char* const Descriptor_Driver::MAIN_FILE = "application_descriptor.xml";
const char* const Descriptor_Driver::SECONDARY_FILE = "application_descriptor_virtuals.xml";

namespace {

std::string read_example(const std::string& name)
{
    std::ifstream in(std::string(CELL_EXAMPLES_DIR) + "/" + name);
    if (!in)
        throw std::runtime_error("cannot read example " + name);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void replace_once(std::string& text, const std::string& find, const std::string& replace)
{
    const std::size_t pos = text.find(find);
    if (pos == std::string::npos || text.find(find, pos + 1) != std::string::npos)
        throw std::runtime_error("edit text not found exactly once: " + find);
    text.replace(pos, find.size(), replace);
}

}  // namespace

Descriptor_Driver::Descriptor_Driver()
{
    char dir[] = "/tmp/descriptor_XXXXXX";
    if (mkdtemp(dir) == nullptr)
        throw std::runtime_error("mkdtemp failed");
    m_dir = dir;
}

Descriptor_Driver::~Descriptor_Driver()
{
    m_manager.reset();
    std::error_code ignored;
    std::filesystem::remove_all(m_dir, ignored);
}

void Descriptor_Driver::write_example(const std::vector<Example_Edit>& edits) const
{
    std::string main = read_example(MAIN_FILE);
    std::string secondary = read_example(SECONDARY_FILE);
    replace_once(main, "target_path=\"/usr/local/etc/rtframe/\"", "target_path=\"" + m_dir + "/\"");
    for (const Example_Edit& edit : edits)
        replace_once(edit.file == Example_Edit::MAIN ? main : secondary, edit.find, edit.replace);
    write_file(MAIN_FILE, main);
    write_file(SECONDARY_FILE, secondary);
}

void Descriptor_Driver::write_file(const std::string& name, const std::string& content) const
{
    std::ofstream out(m_dir + "/" + name);
    out << content;
    if (!out)
        throw std::runtime_error("cannot write " + name);
}

void Descriptor_Driver::load(const Load_Options& options, const std::string& file)
{
    outputs.clear();
    inputs.clear();
    async_outputs.clear();
    async_inputs.clear();
    groups.clear();
    m_manager = std::make_unique<Application_Descriptor_Manager>(m_dir + "/" + file, options.develop,
                                                                 options.master_offline, options.bridge, &outputs,
                                                                 &inputs, &async_outputs, &async_inputs, &groups);
    ::testing::internal::CaptureStdout();
    try {
        m_manager->load_data_ex();
    } catch (...) {
        m_output = ::testing::internal::GetCapturedStdout();
        throw;
    }
    m_output = ::testing::internal::GetCapturedStdout();
}

std::string Descriptor_Driver::load_error(const Load_Options& options, const std::string& file)
{
    try {
        load(options, file);
    } catch (const std::runtime_error& e) {
        return e.what();
    }
    return "no exception";
}

void Descriptor_Driver::print()
{
    ::testing::internal::CaptureStdout();
    try {
        m_manager->print_loaded_data();
    } catch (...) {
        m_output = ::testing::internal::GetCapturedStdout();
        throw;
    }
    m_output = ::testing::internal::GetCapturedStdout();
}

std::vector<std::string> log_texts(const std::string& output, const std::string& level)
{
    static const std::string RESET = "\033[0m";
    const std::string colour = level == "ERR" ? "\033[31m" : level == "WAR" ? "\033[33m" : "";
    const std::string head = " " + level + RESET + "] " + colour;
    const std::string tail = (colour.empty() ? "" : RESET) + "\n";
    std::vector<std::string> texts;
    for (std::size_t pos = output.find(head); pos != std::string::npos; pos = output.find(head, pos)) {
        pos += head.size();
        const std::size_t end = output.find(tail, pos);
        texts.push_back(output.substr(pos, end - pos));
        pos = end;
    }
    return texts;
}

IO_Descriptor& io_named(const IO_Descriptor_List& list, const std::string& name)
{
    for (IO_Descriptor* io : list) {
        if (io->m_name_virtual_id == name)
            return *io;
    }
    throw std::runtime_error("no variable " + name);
}
