// Loading of the bridge descriptor: period, addresses and the bridged items,
// registered by the direction this board gives them.
#include <arpa/inet.h>

#include <cerrno>
#include <cstdlib>
#include <stdexcept>

#include "framework_socket_bridge.h"
#include "terminal_colour.h"
#include "xelo_log.h"
#include "xelo_thread_mtx_wrapper.h"
#include "xelo_xml_parser.h"

namespace {
using terminal_colour::BOLD_GREEN;
using terminal_colour::RED;
using terminal_colour::RESET;
const std::string HEAD = "[Framework_Socket_Bridge][load_bridge_descriptor] ";
constexpr uint32_t SLOW_PERIOD_MS = 2000;  // the 2 s socket time-out ends every exchange at this period

struct Section {
    const char* element;
    const char* child;
    const char* attribute;
};
constexpr Section SECTIONS[] = {
    {"inputs", "input", "name"},         {"outputs", "output", "name"}, {"sem_data_in", "sem", "sem_name"},
    {"sem_data_out", "sem", "sem_name"}, {"cmd_in", "cmd", "cmd_name"}, {"cmd_out", "cmd", "cmd_name"},
};
enum Section_Index { INPUTS, OUTPUTS, SEM_DATA_IN, SEM_DATA_OUT, CMD_IN, CMD_OUT, SECTION_COUNT };

uint32_t period_ex(const std::string& text)
{
    char* end = nullptr;
    errno = 0;
    const unsigned long value = std::strtoul(text.c_str(), &end, 10);
    const bool digits_only = !text.empty() && text.find_first_not_of("0123456789") == std::string::npos;
    if (!digits_only || errno != 0 || value == 0 || value > 0xFFFF)
        throw std::runtime_error("io_update_time_ms '" + text + "' is not a period of 1 to 65535 ms");
    return static_cast<uint32_t>(value);
}

void check_address_ex(const char* element, const std::string& address)
{
    in_addr parsed{};
    if (inet_pton(AF_INET, address.c_str(), &parsed) != 1)
        throw std::runtime_error(std::string(element) + " '" + address + "' is not an IPv4 address");
}

std::string green(const std::string& text)
{
    return BOLD_GREEN + text + RESET;
}
}  // namespace

void Framework_Socket_Bridge::load_bridge_descriptor(bool create_threads_structures)
{
    log_inf(HEAD + "loading bridge descriptor from file : " + m_bridge_descriptor_filepath);
    try {
        read_descriptor_ex(create_threads_structures);
    } catch (const std::exception& error) {
        const std::string text = HEAD + "error parsing bridge descriptor xml file :: " + RED + error.what() + RESET +
                                 " ..going to terminate";
        log_err(text);
        throw Bridge_Descriptor_Fault(text);
    }
    log_inf(HEAD + green("loaded bridge descriptor"));
}

void Framework_Socket_Bridge::read_descriptor_ex(bool create_threads_structures)
{
    XELO_XML::XML_IO xml;
    xml.load_ex(m_bridge_descriptor_filepath);
    const uint32_t period = period_ex(xml.get_element_value_ex<std::string>("io_update_time_ms"));
    const std::string master_address = xml.get_element_value_ex<std::string>("master_socket_address");
    const std::string slave_address = xml.get_element_value_ex<std::string>("slave_socket_address");
    check_address_ex("master_socket_address", master_address);
    check_address_ex("slave_socket_address", slave_address);

    // Every section is looked up before anything is registered.
    std::vector<std::string> names[SECTION_COUNT];
    std::vector<std::string> entries;
    for (int s = 0; s < SECTION_COUNT; ++s) {
        const xmlpp::Node* section = xml.get_node_ex(SECTIONS[s].element);
        for (const xmlpp::Node* child : xml.get_nodes_ex(SECTIONS[s].child, section)) {
            names[s].push_back(xml.get_element_property_ex<std::string>(SECTIONS[s].attribute, child));
            entries.push_back(std::string(SECTIONS[s].element) + "/" + names[s].back());
        }
    }
    const bool first_load = create_threads_structures;
    if (!first_load && entries != m_loaded_entries)
        throw std::runtime_error("the entries differ in number or order from those of the first load");

    m_refresh_time_ms = period;
    m_master_socket_address = master_address;
    m_slave_socket_address = slave_address;
    if (period >= SLOW_PERIOD_MS)
        log_war(HEAD + "io_update_time_ms " + std::to_string(period) +
                " is 2000 ms or more: the cyclic channel's 2 s socket time-out ends every exchange");

    register_cyclic_vars(names);
    register_groups_and_commands(names, first_load);

    if (first_load) {
        m_loaded_entries = entries;
        m_launch_order.emplace_back(Cyclic);
        const std::size_t threads = m_launch_order.size();
        {
            // The bits are read by nothing yet: the threads start later.
            m_is_thread_running.assign(threads + 1, false);
        }
        m_manager_thread_running_id = static_cast<int>(threads);
        m_sem_thread_start = std::make_unique<sem_t[]>(threads);
        for (std::size_t i = 0; i < threads; ++i) {
            init_sem_ex(&m_sem_thread_start[i], 1, 0, "m_sem_thread_start" + std::to_string(i));
            m_sem_thread_start_number = i + 1;
        }
    }
}

void Framework_Socket_Bridge::register_cyclic_vars(const std::vector<std::string>* names)
{
    // inputs travel from the slave to the master: the master writes them.
    for (const std::string& name : names[INPUTS]) {
        if (m_is_master)
            m_bridge_framework_interface.add_input_cyclic_var(name);
        else
            m_bridge_framework_interface.add_output_cyclic_var(name);
    }
    log_inf(HEAD + green("Found " + std::to_string(names[INPUTS].size()) + " cyclic inputs"));
    for (const std::string& name : names[OUTPUTS]) {
        if (m_is_master)
            m_bridge_framework_interface.add_output_cyclic_var(name);
        else
            m_bridge_framework_interface.add_input_cyclic_var(name);
    }
    log_inf(HEAD + green("Found " + std::to_string(names[OUTPUTS].size()) + " cyclic outputs"));
}

void Framework_Socket_Bridge::register_groups_and_commands(const std::vector<std::string>* names, bool first_load)
{
    // Groups and commands: the launch-order entry (first load only), then
    // the registration. "_in" sections come from the slave to the master.
    Bridge_Framework_Interface& bfi = m_bridge_framework_interface;
    for (const std::string& name : names[SEM_DATA_IN]) {
        if (first_load)
            m_launch_order.emplace_back(m_is_master ? Sem_Input : Sem_Output);
        if (m_is_master)
            bfi.add_input_sem_var(name);
        else
            bfi.add_output_sem_var(name);
    }
    log_inf(green("Found " + std::to_string(names[SEM_DATA_IN].size()) + " semaphorized data inputs"));
    for (const std::string& name : names[SEM_DATA_OUT]) {
        if (first_load)
            m_launch_order.emplace_back(m_is_master ? Sem_Output : Sem_Input);
        if (m_is_master)
            bfi.add_output_sem_var(name);
        else
            bfi.add_input_sem_var(name);
    }
    log_inf(green("Found " + std::to_string(names[SEM_DATA_OUT].size()) + "  semaphorized data outputs"));
    for (const std::string& name : names[CMD_IN]) {
        if (first_load)
            m_launch_order.emplace_back(m_is_master ? Command_Input : Command_Output);
        if (m_is_master)
            bfi.add_input_command(name);
        else
            bfi.add_output_command(name);
    }
    log_inf(HEAD + green("Found " + std::to_string(names[CMD_IN].size()) + " command inputs"));
    for (const std::string& name : names[CMD_OUT]) {
        if (first_load)
            m_launch_order.emplace_back(m_is_master ? Command_Output : Command_Input);
        if (m_is_master)
            bfi.add_output_command(name);
        else
            bfi.add_input_command(name);
    }
    log_inf(HEAD + green("Found " + std::to_string(names[CMD_OUT].size()) + " command outputs"));
}

void Framework_Socket_Bridge::load_bridge_descriptor_and_init_bridge_framework_interface_ex(
    bool create_threads_structures)
{
    load_bridge_descriptor(create_threads_structures);
    m_bridge_running_counter_threshold = static_cast<int>(m_running_delay_ms / m_refresh_time_ms);
    m_is_bridge_running_id = m_frmk_shm.get_output_rw_id_ex("is_bridge_running", false);
    m_bridge_running_counter = 0;
    m_bridge_running_framework_value.store(0, std::memory_order_release);
}
