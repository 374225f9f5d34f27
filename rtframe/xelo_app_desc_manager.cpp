#include "xelo_app_desc_manager.h"

#include <cctype>
#include <cstdint>
#include <limits>
#include <sstream>
#include <stdexcept>
#include <type_traits>
#include <utility>

#include "fab_value_types.h"
#include "terminal_colour.h"
#include "xelo_app_desc_checks.h"
#include "xelo_app_desc_layout.h"
#include "xelo_log.h"
#include "xelo_string_functions.h"

using XELO_String_Functions::num2str;

namespace {

const std::string LOAD = "[Application_Descriptor_Manager][load_data_ex] ";
const std::string FRAMEWORK_LOAD = "[XELO_Framework_ex][load_application_information_ex] ";
const std::string LISTING = "[Application_Descriptor_Manager][print_loaded_data]";
using terminal_colour::BOLD_WHITE;
using terminal_colour::RESET;

constexpr uint32_t MIN_CYCLE_TIME_NS = 100000;
constexpr uint32_t MAX_CYCLE_TIME_NS = 2000000000;
constexpr uint32_t MAX_ASYNC_TIMEOUT_NS = 1000000000;

bool begins_with_digit(const std::string& text)
{
    const std::size_t pos = text.find_first_not_of(" \t\r\n");
    return pos != std::string::npos && std::isdigit(static_cast<unsigned char>(text[pos])) != 0;
}

void print_heading(const std::string& text)
{
    log_inf(BOLD_WHITE + text + RESET);
}

std::string row_head(const std::string& label, std::size_t index)
{
    return label + num2str(index) + (index < 10 ? " " : "") + (index < 100 ? " " : "") + "   ";
}

template <typename Record>
void print_row(std::size_t index, const Record& record)
{
    std::ostringstream row;
    row << row_head(LISTING + "  id :: ", index) << record;
    log_inf(row.str());
}

void print_members(const Data_Semaphore_Group& group)
{
    for (std::size_t j = 0; j < group.data.size(); ++j) {
        std::ostringstream row;
        row << row_head(LISTING + "        id :: ", j) << group.data[j];
        log_inf(row.str());
    }
}

template <typename Record>
void print_table(const std::string& section, uint32_t count, const std::vector<Record*>& list)
{
    print_heading(LISTING + " Shared Memory " + section + " --> " + num2str(count));
    for (std::size_t i = 0; i < count; ++i) {
        const Record& record = *list.at(i);
        print_row(i, record);
        if constexpr (std::is_same_v<Record, Data_Semaphore_Group>)
            print_members(record);
    }
    log_inf("");
}

}  // namespace

Application_Descriptor_Manager::Application_Descriptor_Manager(std::string path, bool xml_split_local_root,
                                                               bool master_offline, bool bridge_enabled,
                                                               IO_Descriptor_List* outputs, IO_Descriptor_List* inputs,
                                                               Async_IO_Descriptor_List* async_outputs,
                                                               Async_IO_Descriptor_List* async_inputs,
                                                               Data_Semaphore_Group_List* sem_data_groups)
    : Application_Descriptor_Mngr(std::move(path), outputs, inputs, &m_virtual_ios_vector, async_outputs, async_inputs,
                                  sem_data_groups),
      m_xml_split_local_root(xml_split_local_root), m_master_offline(master_offline), m_bridge_enabled(bridge_enabled)
{
}

unsigned int Application_Descriptor_Manager::get_type_dimension(Type_Definition type)
{
    return type_dimension(type);
}

void Application_Descriptor_Manager::load_data_ex()
{
    if (m_load_started)
        throw std::runtime_error(LOAD + "the descriptor has already been loaded!");
    m_load_started = true;

    parse_ex();
    read_global_settings_ex();
    read_root_path_ex();
    read_ethercat_file_ex();
    try {
        m_input_output_files_node = xml_reader.get_node_ex("input_output_files");
        m_has_in_out_files = true;
    } catch (const std::exception& e) {
        log_war(e.what());
        log_war("no feature input_output_files");
        m_has_in_out_files = false;
    }
    m_input_output_files_mgrs.push_back(this);
    create_secondary_file_readers_ex();
    for (Application_Descriptor_Mngr* file : m_input_output_files_mgrs)
        file->init();

    check_data_consistency_ex();
    m_virtual_io_offset = 0;
    if (m_master_offline)
        manage_master_offline();
    compute_offsets_and_build_io_vectors_ex();

    outputs_num = static_cast<uint32_t>(outputs_vector_ptr->size());
    async_outputs_num = static_cast<uint32_t>(async_outputs_vector_ptr->size());
    inputs_num = static_cast<uint32_t>(inputs_vector_ptr->size());
    async_inputs_num = static_cast<uint32_t>(async_inputs_vector_ptr->size());
    sem_data_groups_num = static_cast<uint32_t>(sem_data_groups_vector_ptr->size());
}

// An absent element, or one without an unsigned number, stops the load: no
// setting is taken from text that holds none. With tolerate_reader_error a
// repeated element, or one holding an element, is logged and reads as 0.
uint64_t Application_Descriptor_Manager::read_global_number_ex(const std::string& element, uint64_t max_value,
                                                               bool tolerate_reader_error)
{
    if (!xml_reader.has_element(element))
        throw std::runtime_error(LOAD + "missing element '" + element + "'!");
    std::string text;
    try {
        text = xml_reader.get_element_value_ex<std::string>(element);
    } catch (const std::exception& e) {
        if (!tolerate_reader_error)
            throw;
        log_err(e.what());
        return 0;
    }
    if (!begins_with_digit(text))
        throw std::runtime_error(LOAD + "element '" + element + "' holds no unsigned number!");
    std::istringstream stream(text);
    uint64_t value = 0;
    if (!(stream >> value) || value > max_value)
        throw std::runtime_error(LOAD + "element '" + element + "' is out of range!");
    return value;
}

void Application_Descriptor_Manager::read_global_settings_ex()
{
    constexpr uint64_t ANY = std::numeric_limits<uint64_t>::max();
    const uint64_t cycle_time = read_global_number_ex("master_cycle_time", ANY, false);
    if (cycle_time < MIN_CYCLE_TIME_NS || cycle_time > MAX_CYCLE_TIME_NS)
        throw std::runtime_error(
            "[Application_Descriptor_Manager][load_data] invalid master cycle time. it must be between 100us and 2s");
    master_cycle_time_ns = static_cast<uint32_t>(cycle_time);

    watchdog_to_master =
        static_cast<uint32_t>(read_global_number_ex("watchdog_to_master", std::numeric_limits<uint32_t>::max(), true));

    const double timeout_ns = static_cast<double>(read_global_number_ex("async_data_timeout_ms", ANY, false)) * 1e6;
    constexpr double MAX_U32 = std::numeric_limits<uint32_t>::max();
    async_data_timeout_ns = static_cast<uint32_t>(timeout_ns > MAX_U32 ? MAX_U32 : timeout_ns);
    if (async_data_timeout_ns > MAX_ASYNC_TIMEOUT_NS)
        throw std::runtime_error("[Application_Descriptor_Manager][load_data] ASYNC_DATA_TIMEOUT_MS too large");

    // One slot is kept free for the bridge.
    const uint64_t max_applications = std::numeric_limits<int32_t>::max() - 1;
    rt_appl_num = static_cast<int32_t>(read_global_number_ex("linux_application_number", max_applications, false));
    linux_appl_num = -1;
    if (m_bridge_enabled)
        ++rt_appl_num;
}

void Application_Descriptor_Manager::read_root_path_ex()
{
    const std::string location = "input_output_files_location";
    const std::string attribute = m_xml_split_local_root ? "local_path" : "target_path";
    try {
        m_input_output_files_location = xml_reader.get_node_ex(location);
    } catch (const std::exception&) {
        log_err(FRAMEWORK_LOAD + "unable to get xml node :: " + location);
        throw std::runtime_error("bad xml file");
    }
    try {
        m_xml_root_path = xml_reader.get_element_property_ex<std::string>(attribute, m_input_output_files_location);
    } catch (const std::exception& e) {
        log_err(FRAMEWORK_LOAD + "unable to get elemnent from node '" + location + "' :: " + e.what());
        throw std::runtime_error("bad xml file");
    }
    log_inf(LOAD + "root_path :: " + m_xml_root_path);
}

void Application_Descriptor_Manager::read_ethercat_file_ex()
{
    const std::string element = "ethercat_file";
    const std::string name =
        xml_reader.has_element(element) ? xml_reader.get_element_value_ex<std::string>(element) : std::string();
    ethercat_file = m_xml_root_path + name;
    log_inf(LOAD + "ethercat_file :: " + ethercat_file);
}

void Application_Descriptor_Manager::create_secondary_file_readers_ex()
{
    if (!m_has_in_out_files)
        return;
    const std::vector<xmlpp::Node*> files = xml_reader.get_nodes_ex("input_output_file", m_input_output_files_node);
    if (files.empty()) {
        log_war(FRAMEWORK_LOAD + "no input_output files in :: " + xml_path);
        return;
    }
    for (const xmlpp::Node* file : files) {
        const std::string name = xml_reader.get_element_property_ex<std::string>("filename", file);
        auto reader =
            std::make_unique<Application_Descriptor_Mngr>(m_xml_root_path + name, outputs_vector_ptr, inputs_vector_ptr,
                                                          &m_virtual_ios_vector, async_outputs_vector_ptr,
                                                          async_inputs_vector_ptr, sem_data_groups_vector_ptr);
        m_input_output_files_mgrs.push_back(reader.get());
        m_secondary_files_mgrs.push_back(std::move(reader));
    }
}

void Application_Descriptor_Manager::check_data_consistency_ex()
{
    Descriptor_Consistency_Check(*this).run_ex();
}

IO_Descriptor::IO_Type Application_Descriptor_Manager::check_for_alias_loops_and_get_pointed_type_ex(
    std::string name, std::vector<std::string>* visited)
{
    std::vector<std::string> own_list;
    return Descriptor_Consistency_Check(*this).pointed_type_ex(name, visited != nullptr ? *visited : own_list);
}

void Application_Descriptor_Manager::manage_master_offline()
{
    move_slave_variables_to_virtual_area_ex(*inputs_vector_ptr, *outputs_vector_ptr, m_virtual_io_offset,
                                            m_xml_inputs_num);
}

void Application_Descriptor_Manager::compute_offsets_and_build_io_vectors_ex()
{
    lay_out_virtual_area_ex(m_virtual_ios_vector, *inputs_vector_ptr, *outputs_vector_ptr, m_virtual_io_offset,
                            m_master_offline);
    lay_out_sem_data_groups_ex(*sem_data_groups_vector_ptr);
}

void Application_Descriptor_Manager::print_loaded_data()
{
    log_inf("");
    print_heading(LISTING + " Ethercat file --> " + ethercat_file);
    print_heading(LISTING + " Master cycle time  --> " + num2str(master_cycle_time_ns) + " [ns] ");
    print_heading(LISTING + " Watchdog to master  --> " + num2str(watchdog_to_master) + " [cycle] ");
    print_heading(LISTING + " Async data timeout  --> " + num2str(async_data_timeout_ns) + " [ns] ");
    log_inf("");
    print_heading(LISTING + " RT application number --> " + num2str(rt_appl_num));
    log_inf("");
    print_table("INPUTS", inputs_num, *inputs_vector_ptr);
    print_table("OUTPUTS", outputs_num, *outputs_vector_ptr);
    print_table("ASYNC_INPUTS", async_inputs_num, *async_inputs_vector_ptr);
    print_table("ASYNC_OUTPUTS", async_outputs_num, *async_outputs_vector_ptr);
    print_table("SEM_DATA_GROUPS", sem_data_groups_num, *sem_data_groups_vector_ptr);
}
