#include "xelo_app_desc_checks.h"

#include <algorithm>
#include <iterator>
#include <stdexcept>

#include "framework_shared_memory.h"
#include "terminal_colour.h"
#include "xelo_app_desc_manager.h"
#include "xelo_log.h"
#include "xelo_string_functions.h"

using XELO_String_Functions::num2str;

namespace {

const std::string CHECK = "[Application_Descriptor_Manager][check_data_consistency_ex] ";
const std::string ALIAS = "[Application_Descriptor_Manager][check_for_alias_loops_and_get_pointed_type_ex] ";
using terminal_colour::BOLD_RED;
const char* const BAD_DESCRIPTOR = "bad application descriptor";

// Longest texts the framework's fixed-size shared fields hold with their
// terminating zero.
constexpr std::size_t MAX_NAME_LENGTH = FRAMEWORK_NAME_ID_SIZE - 1;
constexpr std::size_t MAX_GROUP_NAME_LENGTH = FRAMEWORK_GROUP_NAME_SIZE - 1;
constexpr std::size_t MAX_DEFAULT_BYTES = FRAMEWORK_DEFAULT_VALUE_SIZE;

// The virtual variables through which the framework reports the master's
// state and takes its logging switches.
struct Reserved_Variable {
    const char* name;
    Type_Definition type;
    const char* type_text;          // after "' must be defined as :: "
    const char* missing_type_text;  // after "' --> must be defined as :: "
    unsigned int byte_dim;          // 0: any
    const char* read_only_text;     // nullptr: need not be read-only
    bool default_single_zero_byte;
    bool bridge_only;
};

constexpr Reserved_Variable RESERVED[] = {
    {"is_ethercat_master_online", UINT8_FSM, "uint8!", "uint8!", 0, "' must be defined as Read Only!", false, false},
    {"last_ethercat_master_error_type", INT16_FSM, "int16!", "int16!", 0, "' must be defined as Read Only!", false,
     false},
    {"last_ethercat_master_error_code", INT16_FSM, "int16!", "int16!", 0, "' must be defined as Read Only", false,
     false},
    {"last_ethercat_master_error_msg", BYTE_ARRAY_FSM, "uint8_array[0..n]!", "uint_array[0..n] (dim :: 100)", 100,
     "' must be defined as Read Only", false, false},
    {"is_bridge_running", UINT8_FSM, "uint8!", "uint8!", 0, nullptr, true, true},
    {"enable_refresh_logging", UINT8_FSM, "uint8!", "uint8!", 0, nullptr, false, false},
    {"enable_sem_data_logging", UINT8_FSM, "uint8!", "uint8!", 0, nullptr, false, false},
};

// Logs each line as one ERR line and ends the check.
[[noreturn]] void fail_ex(std::initializer_list<std::string> lines)
{
    for (const std::string& line : lines)
        log_err(line);
    throw std::runtime_error(BAD_DESCRIPTOR);
}

std::string too_long(std::size_t length, std::size_t limit, const char* unit)
{
    return " is too long (" + num2str(length) + " > " + num2str(limit) + " " + unit + ")!";
}

template <typename Record>
void put_names(const std::vector<Record*>& list, std::unordered_set<std::string>& names)
{
    names.reserve(list.size());
    for (const Record* record : list)
        names.insert(record->m_name_virtual_id);
}

// a --> b --> [bold red]c --> d --> [bold red]c
std::string loop_chain(const std::vector<std::string>& visited, std::vector<std::string>::const_iterator repeated)
{
    std::string chain;
    for (auto it = visited.begin(); it != repeated; ++it)
        chain += *it + " --> ";
    chain += BOLD_RED + *repeated + " --> ";
    for (auto it = std::next(repeated); it != visited.end(); ++it)
        chain += *it + " --> ";
    return chain + BOLD_RED + *repeated;
}

// a --> b --> [bold red]missing
std::string missing_chain(const std::vector<std::string>& visited)
{
    std::string chain;
    for (std::size_t i = 0; i + 1 < visited.size(); ++i)
        chain += visited[i] + " --> ";
    return chain + BOLD_RED + visited.back();
}

}  // namespace

Descriptor_Consistency_Check::Descriptor_Consistency_Check(Application_Descriptor_Manager& manager)
    : m_manager(manager), m_reserved_found(std::size(RESERVED), false)
{
    for (std::size_t i = 0; i < std::size(RESERVED); ++i) {
        if (RESERVED[i].bridge_only && !m_manager.m_bridge_enabled)
            m_reserved_found[i] = true;  // nothing to find
    }
    put_names(*m_manager.inputs_vector_ptr, m_input_names);
    put_names(*m_manager.outputs_vector_ptr, m_output_names);
    m_virtuals_by_name.reserve(m_manager.m_virtual_ios_vector.size());
    for (const IO_Descriptor* io : m_manager.m_virtual_ios_vector)
        m_virtuals_by_name.emplace(io->m_name_virtual_id, io);  // the first of a name wins
}

void Descriptor_Consistency_Check::run_ex()
{
    const std::vector<Application_Descriptor_Mngr*>& files = m_manager.m_input_output_files_mgrs;
    for (std::size_t index = 0; index < files.size(); ++index)
        check_file_ex(index, *files[index]);
    check_reserved_found_ex();
}

void Descriptor_Consistency_Check::log_file_counts(std::size_t index, const Application_Descriptor_Mngr& file) const
{
    log_inf("");
    log_inf(CHECK + "check file --> " + file.xml_path);
    log_inf(CHECK + "\t file_index     :: " + num2str(index));
    log_inf(CHECK + "\t n_outputs      :: " + num2str(file.xml_outputs_manager.n_elements));
    log_inf(CHECK + "\t n_inputs       :: " + num2str(file.xml_inputs_manager.n_elements));
    log_inf(CHECK + "\t n_virtuals     :: " + num2str(file.xml_virtuals_manager.n_elements));
    log_inf(CHECK + "\t n_async_output :: " + num2str(file.xml_async_outputs_manager.n_elements));
    log_inf(CHECK + "\t n_async_input  :: " + num2str(file.xml_async_inputs_manager.n_elements));
    log_inf(CHECK + "\t n_sem_data     :: " + num2str(file.xml_sem_data_groups_manager.n_elements));
    log_inf("");
}

void Descriptor_Consistency_Check::check_file_ex(std::size_t index, const Application_Descriptor_Mngr& file)
{
    log_file_counts(index, file);
    const bool has_slave_entries = file.xml_outputs_manager.n_elements > 0 || file.xml_inputs_manager.n_elements > 0 ||
                                   file.xml_async_outputs_manager.n_elements > 0 ||
                                   file.xml_async_inputs_manager.n_elements > 0;
    if (index != 0 && has_slave_entries)
        fail_ex({CHECK + "In econdary files can be defined only virtuals and sem_data!"});

    for (const auto& io : file.xml_inputs_manager.this_type_vector)
        check_slave_variable_ex(*io, IO_Descriptor::INPUT);
    for (const auto& io : file.xml_outputs_manager.this_type_vector)
        check_slave_variable_ex(*io, IO_Descriptor::OUTPUT);
    for (const auto& io : file.xml_async_inputs_manager.this_type_vector)
        check_async_variable_ex(*io, IO_Descriptor::INPUT);
    for (const auto& io : file.xml_async_outputs_manager.this_type_vector)
        check_async_variable_ex(*io, IO_Descriptor::OUTPUT);
    for (const auto& io : file.xml_virtuals_manager.this_type_vector)
        check_virtual_ex(*io);
    for (const auto& group : file.xml_sem_data_groups_manager.this_type_vector)
        check_group_ex(*group);
}

void Descriptor_Consistency_Check::check_slave_variable_ex(const IO_Descriptor& io, IO_Descriptor::IO_Type kind)
{
    const bool is_input = kind == IO_Descriptor::INPUT;
    const bool valid = io.m_slave_addr != 0 && !io.m_is_alias && (io.m_type != BIT_FSM || io.m_byte_dim == 1);
    if (!valid)
        fail_ex({CHECK + (is_input ? "Invalid Input definition!" : "Invalid Ouput definition!"),
                 CHECK + "\t name_phisyc :: " + io.m_name_physic_id,
                 CHECK + "\t name_virtual :: " + io.m_name_virtual_id,
                 CHECK + "\t slave address :: " + num2str(io.m_slave_addr),
                 CHECK + "\t alias of :: " + io.m_pointed_io_descriptor,
                 CHECK + "\t type :: " + num2str(static_cast<int>(io.m_type)),
                 CHECK + "\t dimension :: " + num2str(io.m_byte_dim)});
    check_shared_field_sizes_ex(io);
    const std::string& name = io.m_name_virtual_id;
    if (!name.empty() && m_cyclic_names.count(name) != 0)
        fail_ex({CHECK + (is_input ? "input" : "output") + " name '" + name + "' is already defined!!"});
    m_cyclic_names.insert(name);
}

void Descriptor_Consistency_Check::check_async_variable_ex(const Async_IO_Descriptor& io,
                                                           IO_Descriptor::IO_Type kind) const
{
    if (io.m_slave_addr == 0)
        fail_ex({CHECK + (kind == IO_Descriptor::INPUT ? "Invalid Async Input definition!"
                                                       : "Invalid Async Output definition!"),
                 CHECK + "\t name_phisyc :: " + io.m_name_physic_id,
                 CHECK + "\t name_virtual :: " + io.m_name_virtual_id,
                 CHECK + "\t slave address :: " + num2str(io.m_slave_addr)});
    if (io.m_name_virtual_id.size() > MAX_NAME_LENGTH)
        fail_ex({CHECK + "name_virtual '" + io.m_name_virtual_id + "'" +
                 too_long(io.m_name_virtual_id.size(), MAX_NAME_LENGTH, "characters")});
}

void Descriptor_Consistency_Check::check_virtual_ex(IO_Descriptor& io)
{
    if (io.m_slave_addr != 0)
        fail_ex({CHECK + "VirtualIO invalid slave address!", CHECK + "\t name_phisyc :: " + io.m_name_physic_id,
                 CHECK + "\t name_virtual :: " + io.m_name_virtual_id,
                 CHECK + "\t slave address :: " + num2str(io.m_slave_addr)});
    check_shared_field_sizes_ex(io);
    if (!m_cyclic_names.insert(io.m_name_virtual_id).second)
        fail_ex({CHECK + "virtualIO name '" + io.m_name_virtual_id + "' is already defined!!"});
    if (io.m_is_alias)
        check_alias_ex(io);
    else
        check_reserved_ex(io);
}

void Descriptor_Consistency_Check::check_alias_ex(IO_Descriptor& io) const
{
    std::vector<std::string> visited;
    try {
        io.m_pointed_type = pointed_type_ex(io.m_name_virtual_id, visited);
    } catch (const std::exception& e) {
        fail_ex({CHECK + "error while checking alias " + io.m_name_virtual_id + " :: " + e.what()});
    }
}

// Rules in the order type, size, default value, read-only.
void Descriptor_Consistency_Check::check_reserved_ex(const IO_Descriptor& io)
{
    for (std::size_t i = 0; i < std::size(RESERVED); ++i) {
        const Reserved_Variable& row = RESERVED[i];
        if (m_reserved_found[i] || io.m_name_virtual_id != row.name)
            continue;
        const std::string head = CHECK + "VirtualIO '" + row.name;
        if (io.m_type != row.type)
            fail_ex({head + "' must be defined as :: " + row.type_text});
        if (row.byte_dim != 0 && io.m_byte_dim != row.byte_dim)
            fail_ex({head + "' dimension must be defined as :: " + num2str(row.byte_dim)});
        if (row.default_single_zero_byte && io.m_default_value.size() != 1)
            fail_ex({head + "' default value size different from 1!"});
        if (row.default_single_zero_byte && io.m_default_value[0] != 0)
            fail_ex({head + "' default value must be 0!"});
        if (row.read_only_text != nullptr && !io.m_is_ro)
            fail_ex({head + row.read_only_text});
        // The bridge writes it: read-only, its framework output could never be taken.
        if (row.bridge_only && io.m_is_ro)
            fail_ex({head + "' must not be defined as Read Only!"});
        m_reserved_found[i] = true;
        return;
    }
}

void Descriptor_Consistency_Check::check_reserved_found_ex() const
{
    for (std::size_t i = 0; i < std::size(RESERVED); ++i) {
        if (!m_reserved_found[i])
            fail_ex({CHECK + "missing VirtualIO '" + RESERVED[i].name +
                     "' --> must be defined as :: " + RESERVED[i].missing_type_text});
    }
}

void Descriptor_Consistency_Check::check_group_ex(const Data_Semaphore_Group& group)
{
    if (group.ring_buffer_dimension > 0) {
        const bool has_tick_first = !group.data.empty() && group.data.front().name == "framework_abs_tick" &&
                                    group.data.front().type == UINT32_FSM;
        if (!has_tick_first)
            fail_ex({"[Xml_Sem_Data_Group_Manager][add_elements] First element of bufferized sem data group '" +
                     group.sem_name + "' must be 'framework_abs_tick' (uint32)"});
    }
    check_group_name_sizes_ex(group);
    if (!m_group_names.insert(group.sem_name).second)
        fail_ex({CHECK + "semaphorized data group name '" + group.sem_name + "' is already defined!!"});
}

// Texts copied into fixed-size shared fields must fit with their zero.
void Descriptor_Consistency_Check::check_shared_field_sizes_ex(const IO_Descriptor& io) const
{
    const std::string& name = io.m_name_virtual_id;
    if (name.size() > MAX_NAME_LENGTH)
        fail_ex({CHECK + "name_virtual '" + name + "'" + too_long(name.size(), MAX_NAME_LENGTH, "characters")});
    const std::string& target = io.m_pointed_io_descriptor;
    if (target.size() > MAX_NAME_LENGTH)
        fail_ex({CHECK + "alias_of '" + target + "' of '" + name + "'" +
                 too_long(target.size(), MAX_NAME_LENGTH, "characters")});
    if (io.m_default_value.size() > MAX_DEFAULT_BYTES)
        fail_ex({CHECK + "default value of '" + name + "'" +
                 too_long(io.m_default_value.size(), MAX_DEFAULT_BYTES, "bytes")});
}

void Descriptor_Consistency_Check::check_group_name_sizes_ex(const Data_Semaphore_Group& group) const
{
    if (group.sem_name.size() > MAX_GROUP_NAME_LENGTH)
        fail_ex({CHECK + "semaphorized data group name '" + group.sem_name + "'" +
                 too_long(group.sem_name.size(), MAX_GROUP_NAME_LENGTH, "characters")});
    for (const Data_Semaphore& member : group.data) {
        if (member.name.size() > MAX_NAME_LENGTH)
            fail_ex({CHECK + "sem data name '" + member.name + "' of group '" + group.sem_name + "'" +
                     too_long(member.name.size(), MAX_NAME_LENGTH, "characters")});
    }
}

IO_Descriptor::IO_Type Descriptor_Consistency_Check::pointed_type_ex(const std::string& name,
                                                                     std::vector<std::string>& visited) const
{
    std::string current = name;
    for (;;) {
        if (visited.size() > m_manager.m_virtual_ios_vector.size() + 1)
            throw std::runtime_error(ALIAS + "pointed_virtual_names is too big, must have missed a loop!");
        const auto repeated = std::find(visited.cbegin(), visited.cend(), current);
        if (repeated != visited.cend()) {
            log_err(ALIAS + "Alias loop found!");
            log_err(ALIAS + loop_chain(visited, repeated));
            throw std::runtime_error(BAD_DESCRIPTOR);
        }
        visited.push_back(current);
        if (m_input_names.count(current) != 0)
            return IO_Descriptor::INPUT;
        if (m_output_names.count(current) != 0)
            return IO_Descriptor::OUTPUT;
        const auto found = m_virtuals_by_name.find(current);
        if (found == m_virtuals_by_name.end()) {
            log_err(ALIAS + "There is no Input/Output/Virtual with name_virtual :: " + current);
            log_err(ALIAS + missing_chain(visited));
            throw std::runtime_error(BAD_DESCRIPTOR);
        }
        const IO_Descriptor& target = *found->second;
        if (!target.m_is_alias) {
            if (target.m_is_ro)
                throw std::runtime_error("cannot point to " + current + " which is read_only!");
            return IO_Descriptor::VIRTUAL;
        }
        current = target.m_pointed_io_descriptor;
    }
}
