// Loads a generated application descriptor of 10,000 entries through
// Application_Descriptor_Manager and prints the time beside the time libxml++
// alone takes to parse the same file.

#include <libxml++/libxml++.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <iostream>
#include <string>
#include <vector>

#include "xelo_app_desc_manager.h"

namespace {

constexpr int SLAVE_INPUTS = 3500;
constexpr int SLAVE_OUTPUTS = 3000;
constexpr int VIRTUALS = 2500;  // reserved ones included
constexpr int ASYNC_INPUTS = 400;
constexpr int ASYNC_OUTPUTS = 400;
constexpr int GROUPS = 200;  // three members each
constexpr int ENTRIES = SLAVE_INPUTS + SLAVE_OUTPUTS + VIRTUALS + ASYNC_INPUTS + ASYNC_OUTPUTS + GROUPS;
static_assert(ENTRIES == 10000, "the benchmark loads 10,000 entries");
constexpr int RUNS = 7;

const char* const TYPES[] = {"bit", "int8", "uint8", "int16", "uint16", "int32", "uint32", "float", "double", "int64"};

void write_slave_section(std::ostream& out, const char* section, const char* entry, int count)
{
    out << "  <" << section << ">\n";
    for (int i = 0; i < count; ++i) {
        const int slave = 1001 + i / 20;
        out << "    <" << entry << " name_physic=\"Slave" << slave << ".Obj" << i << "\" name_virtual=\"" << entry
            << "_" << i << "\" slave_address=\"" << slave << "\" byte_offset=\"" << (i % 20) * 2
            << "\" bit_offset=\"0\" byte_dimension=\"2\" type=\"uint16\" group_id=\"-1\" is_ro=\"0\""
            << " is_negated=\"0\" default_value=\"" << i % 100 << "\"/>\n";
    }
    out << "  </" << section << ">\n";
}

void write_virtuals(std::ostream& out)
{
    out << "  <virtual_ios>\n"
        << "    <virtual_io name_virtual=\"is_ethercat_master_online\" type=\"uint8\" group_id=\"-1\" is_ro=\"1\""
           " is_negated=\"0\" default_value=\"0\"/>\n"
        << "    <virtual_io name_virtual=\"last_ethercat_master_error_type\" type=\"int16\" group_id=\"-1\""
           " is_ro=\"1\" is_negated=\"0\"/>\n"
        << "    <virtual_io name_virtual=\"last_ethercat_master_error_code\" type=\"int16\" group_id=\"-1\""
           " is_ro=\"1\" is_negated=\"0\"/>\n"
        << "    <virtual_io name_virtual=\"last_ethercat_master_error_msg\" type=\"uint8_array[0..n]\""
           " byte_dimension=\"100\" group_id=\"-1\" is_ro=\"1\" is_negated=\"0\"/>\n"
        << "    <virtual_io name_virtual=\"enable_refresh_logging\" type=\"uint8\" group_id=\"-1\" is_ro=\"0\""
           " is_negated=\"0\" default_value=\"0\"/>\n"
        << "    <virtual_io name_virtual=\"enable_sem_data_logging\" type=\"uint8\" group_id=\"-1\" is_ro=\"0\""
           " is_negated=\"0\" default_value=\"0\"/>\n";
    constexpr int RESERVED = 6;
    constexpr int ALIASES = 100;
    for (int i = 0; i < VIRTUALS - RESERVED - ALIASES; ++i)
        out << "    <virtual_io name_virtual=\"virtual_" << i << "\" type=\"" << TYPES[i % 10]
            << "\" group_id=\"-1\" is_ro=\"" << (i % 7 == 0) << "\" is_negated=\"0\" default_value=\"" << i % 2
            << "\"/>\n";
    for (int i = 0; i < ALIASES; ++i)
        out << "    <virtual_io name_virtual=\"alias_" << i << "\" alias_of=\"input_" << i << "\"/>\n";
    out << "  </virtual_ios>\n";
}

void write_async_section(std::ostream& out, const char* section, const char* entry, int count)
{
    out << "  <" << section << ">\n";
    for (int i = 0; i < count; ++i)
        out << "    <" << entry << " name_physic=\"Obj" << i << "\" name_virtual=\"" << entry << "_" << i
            << "\" slave_address=\"" << 1001 + i % 50 << "\" index_hex=\"60" << 10 + i % 80
            << "\" subindex=\"0\" data_dimension=\"" << 1 + i % 4 << "\" type=\"uint32\"/>\n";
    out << "  </" << section << ">\n";
}

void write_groups(std::ostream& out)
{
    out << "  <sem_data_group>\n";
    for (int i = 0; i < GROUPS; ++i)
        out << "    <sem sem_name=\"group_" << i << "\" ring_buffer=\"" << (i % 2 ? 8 : 0)
            << "\" flag_only_not_rt=\"0\">\n"
            << "      <sem_data data_name=\"framework_abs_tick\" type=\"uint32\"/>\n"
            << "      <sem_data data_name=\"payload\" type=\"uint8_array[0..n]\" byte_dimension=\"16\"/>\n"
            << "      <sem_data data_name=\"value\" type=\"double\"/>\n"
            << "    </sem>\n";
    out << "  </sem_data_group>\n";
}

std::string write_descriptor(const std::string& dir)
{
    const std::string path = dir + "/bench_descriptor.xml";
    std::ofstream out(path);
    out << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<application_descriptor>\n"
        << "  <master_cycle_time>1000000</master_cycle_time>\n  <watchdog_to_master>10</watchdog_to_master>\n"
        << "  <async_data_timeout_ms>500</async_data_timeout_ms>\n"
        << "  <linux_application_number>4</linux_application_number>\n"
        << "  <input_output_files_location target_path=\"" << dir << "/\" local_path=\"./\"/>\n"
        << "  <ethercat_file>eni.xml</ethercat_file>\n";
    write_slave_section(out, "outputs", "output", SLAVE_OUTPUTS);
    write_slave_section(out, "inputs", "input", SLAVE_INPUTS);
    write_virtuals(out);
    write_async_section(out, "async_outputs", "async_output", ASYNC_OUTPUTS);
    write_async_section(out, "async_inputs", "async_input", ASYNC_INPUTS);
    write_groups(out);
    out << "</application_descriptor>\n";
    if (!out)
        throw std::runtime_error("cannot write " + path);
    return path;
}

double median_ms(const std::function<void()>& run)
{
    std::vector<double> times;
    for (int i = 0; i < RUNS; ++i) {
        const auto start = std::chrono::steady_clock::now();
        run();
        times.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

void load(const std::string& path)
{
    IO_Descriptor_List outputs;
    IO_Descriptor_List inputs;
    Async_IO_Descriptor_List async_outputs;
    Async_IO_Descriptor_List async_inputs;
    Data_Semaphore_Group_List groups;
    Application_Descriptor_Manager manager(path, false, false, false, &outputs, &inputs, &async_outputs, &async_inputs,
                                           &groups);
    manager.load_data_ex();
}

void parse(const std::string& path)
{
    xmlpp::DomParser parser;
    parser.parse_file(path);
}

}  // namespace

int main()
{
    char dir_template[] = "/tmp/descriptor_bench_XXXXXX";
    const char* dir = mkdtemp(dir_template);
    if (dir == nullptr) {
        std::perror("mkdtemp");
        return 1;
    }
    try {
        const std::string path = write_descriptor(dir);
        const double load_ms = median_ms([&] { load(path); });
        const double parse_ms = median_ms([&] { parse(path); });
        std::remove(path.c_str());
        rmdir(dir);
        std::printf("\ndescriptor of %d entries, median of %d runs\n", ENTRIES, RUNS);
        std::printf("  load_data_ex      : %8.2f ms\n", load_ms);
        std::printf("  libxml++ parse    : %8.2f ms\n", parse_ms);
        std::printf("  ratio load/parse  : %8.2f (target: at most 7)\n", load_ms / parse_ms);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "benchmark failed: %s\n", e.what());
        return 1;
    }
    return 0;
}
