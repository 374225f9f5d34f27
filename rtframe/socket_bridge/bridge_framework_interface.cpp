#include "bridge_framework_interface.h"

#include <unistd.h>

#include <cstring>
#include <mutex>
#include <sstream>
#include <stdexcept>
#include <utility>

#include "bridge_images.h"
#include "robust_mutex.h"
#include "stop_flag.h"
#include "xelo_framework_shm_manager.h"
#include "xelo_log.h"
#include "xelo_thread_mtx_wrapper.h"

namespace {
const char* const MUTEX_CYCLICS = "mutex_cyclics";
const char* const MUTEX_CYCLICS_OWNER = "";
// refresh_data_ex: the wait for the cycle timed out.
constexpr int REFRESH_TIMED_OUT = -2;
}  // namespace

using bridge_images::form_of;
using bridge_images::names_of;
using bridge_images::types_of;

// ---- stream forms of the registration lines -------------------------------------

std::ostream& operator<<(std::ostream& out, Type_Definition type)
{
    static const char* const NAMES[] = {
        "UNDEFINED_TYPE_FSM", "BIT",   "INT8",   "UINT8", "INT16", "UINT16", "INT32", "UINT32", "DOUBLE",
        "BYTE_ARRAY",         "INT64", "UINT64", "FLOAT"};
    const int code = static_cast<int>(type);
    if (code < -1 || code > 11)
        return out << "VAR TYPE NOT RECOGNIZED";
    return out << NAMES[code + 1];
}

std::ostream& operator<<(std::ostream& out, const DataDescriptor& data)
{
    return out << "name :: " << data.name << ", local_id :: " << data.local_id
               << ", framework_id :: " << data.framework_id << ", type :: " << data.type
               << ", byte_offset :: " << data.byte_offset << ", byte_len :: " << data.byte_len;
}

std::ostream& operator<<(std::ostream& out, const SemVarDescriptor& group)
{
    out << "name :: " << group.sem_name << ", local_id :: " << group.local_id << ", framework_id :: " << group.sem_id
        << ", sem data descriptors --> ";
    for (const DataDescriptor& data : group.sem_data_descriptors)
        out << data << ", ";
    return out;
}

std::ostream& operator<<(std::ostream& out, const CmdDescriptor& command)
{
    out << "  name :: " << command.cmd_name << ", local_id :: " << command.local_id
        << ", framework_id :: " << command.cmd_id << ", recv data descriptors --> ";
    for (const DataDescriptor& data : command.data_recv_descriptors)
        out << data << ", ";
    out << ", send data descriptors --> ";
    for (const DataDescriptor& data : command.data_send_descriptors)
        out << data << ", ";
    return out;
}

// ---- Bridge_Framework_Interface --------------------------------------------------

Bridge_Framework_Interface::Bridge_Framework_Interface(Framework_Shared_Memory_Manager* framework)
    : m_framework(framework), m_var_type_byte_len_map{{BIT_FSM, 1},    {INT8_FSM, 1},  {UINT8_FSM, 1},  {INT16_FSM, 2},
                                                      {UINT16_FSM, 2}, {INT32_FSM, 4}, {UINT32_FSM, 4}, {FLOAT_FSM, 4},
                                                      {DOUBLE_FSM, 8}, {INT64_FSM, 8}, {UINT64_FSM, 8}},
      input_cmds(m_input_cmds), input_semaphorized_data(m_input_semaphorized_data), output_cmds(m_output_cmds),
      output_semaphorized_data(m_output_semaphorized_data)
{
    init_pthread_mutex_ex(&m_mutex_cyclics, true, true, true);
    init_pthread_mutex_ex(&m_mutex_tick_time, true, true, true);
}

// The mutexes live in this object: nothing else can hold them once it goes.
Bridge_Framework_Interface::~Bridge_Framework_Interface()
{
    pthread_mutex_destroy(&m_mutex_cyclics);
    pthread_mutex_destroy(&m_mutex_tick_time);
}

unsigned Bridge_Framework_Interface::byte_len_ex(Type_Definition type, unsigned byte_array_dim) const
{
    if (type == BYTE_ARRAY_FSM)
        return byte_array_dim;
    const auto found = m_var_type_byte_len_map.find(type);
    if (found == m_var_type_byte_len_map.end())
        throw std::runtime_error("Type " + std::to_string(static_cast<int>(type)) + " not found in map typ -> len");
    return found->second;
}

void Bridge_Framework_Interface::append(std::vector<DataDescriptor>& descriptors, std::vector<uint8_t>& image,
                                        DataDescriptor datum)
{
    datum.local_id = static_cast<uint32_t>(descriptors.size());
    datum.byte_offset = static_cast<uint32_t>(image.size());
    image.resize(image.size() + datum.byte_len, 0);
    descriptors.push_back(std::move(datum));
}

void Bridge_Framework_Interface::add_input_cyclic_var(std::string name)
{
    if (!m_framework->has_output_ex(name)) {
        log_err("[Bridge_Framework_Interface][add_input_cyclic_var] var name  " + name + " not found in framework");
        sleep(1);
        throw std::runtime_error("var not found in framework");
    }
    DataDescriptor datum;
    datum.name = name;
    const int id = m_framework->get_output_rw_id_ex(name, false);
    datum.framework_id = static_cast<unsigned>(id);
    datum.type = static_cast<Type_Definition>(m_framework->get_output_type_ex(id, false));
    datum.byte_len =
        byte_len_ex(datum.type, datum.type == BYTE_ARRAY_FSM ? m_framework->get_output_dim_ex(id, false) : 0);
    append(m_input_cyclic_var_descriptors, m_input_cyclic_var_values, std::move(datum));
    log_inf("[Bridge_Framework_Interface][add_input_cyclic_var] input cyclic var correctly added: " +
            form_of(m_input_cyclic_var_descriptors.back()));
}

void Bridge_Framework_Interface::add_output_cyclic_var(std::string name)
{
    if (!m_framework->has_input_ex(name)) {
        log_err("[Bridge_Framework_Interface][add_output_cyclic_var] var name  " + name + " not found in framework");
        sleep(1);
        throw std::runtime_error("var not found in framework");
    }
    DataDescriptor datum;
    datum.name = name;
    const int id = m_framework->get_input_id_ex(name);
    datum.framework_id = static_cast<unsigned>(id);
    datum.type = static_cast<Type_Definition>(m_framework->get_input_type_ex(id));
    datum.byte_len = byte_len_ex(datum.type, datum.type == BYTE_ARRAY_FSM ? m_framework->get_input_dim_ex(id) : 0);
    append(m_output_cyclic_var_descriptors, m_output_cyclic_var_values, std::move(datum));
    log_inf("[Bridge_Framework_Interface][add_output_cyclic_var] output cyclic var correctly added: " +
            form_of(m_output_cyclic_var_descriptors.back()));
}

std::vector<std::string> Bridge_Framework_Interface::get_input_cyclic_name_list() const
{
    return names_of(m_input_cyclic_var_descriptors);
}

std::vector<Type_Definition> Bridge_Framework_Interface::get_input_cyclic_type_list() const
{
    return types_of(m_input_cyclic_var_descriptors);
}

std::vector<std::string> Bridge_Framework_Interface::get_output_cyclic_name_list() const
{
    return names_of(m_output_cyclic_var_descriptors);
}

std::vector<Type_Definition> Bridge_Framework_Interface::get_output_cyclic_type_list() const
{
    return types_of(m_output_cyclic_var_descriptors);
}

int Bridge_Framework_Interface::wait_cycle(const Stop_Flag* stop)
{
    uint32_t tick = 0;
    for (;;) {
        const int missed = m_framework->refresh_data_ex(&tick);
        if (missed != REFRESH_TIMED_OUT)
            return missed;
        if (stop == nullptr || stop->is_set())
            return missed;
        log_war(
            "[Bridge_Framework_Interface][refresh_data] no framework cycle within the refresh time-out, waiting "
            "again");
    }
}

void Bridge_Framework_Interface::refresh_data(const Stop_Flag* stop)
{
    int missed = wait_cycle(stop);
    if (missed > 0) {
        log_war("[Bridge_Framework_Interface][refresh_data] tick lost !!!!!!!  --->  " + std::to_string(missed));
        missed = wait_cycle(stop);
    }
    if (missed < 0) {
        log_err("Process released by framework.... Exiting!!!!");
        throw std::runtime_error("Process socket bridge released by framework");
    }
    Robust_Mutex held(&m_mutex_cyclics, MUTEX_CYCLICS, MUTEX_CYCLICS_OWNER);
    std::lock_guard<Robust_Mutex> lock(held);
    set_outputs();
    get_inputs();
}

void Bridge_Framework_Interface::set_input_cyclic_var_data(const unsigned char* buffer)
{
    if (!m_input_cyclic_var_values.empty())
        std::memcpy(m_input_cyclic_var_values.data(), buffer, m_input_cyclic_var_values.size());
}

void Bridge_Framework_Interface::get_output_cyclic_var_data(unsigned char* buffer) const
{
    if (!m_output_cyclic_var_values.empty())
        std::memcpy(buffer, m_output_cyclic_var_values.data(), m_output_cyclic_var_values.size());
}

void Bridge_Framework_Interface::lock_mutex_cyclics()
{
    mutex_lock_ex(&m_mutex_cyclics, MUTEX_CYCLICS, MUTEX_CYCLICS_OWNER);
}

void Bridge_Framework_Interface::unlock_mutex_cyclics()
{
    mutex_unlock_ex(&m_mutex_cyclics, MUTEX_CYCLICS, MUTEX_CYCLICS_OWNER);
}

void Bridge_Framework_Interface::set_outputs()
{
    for (const DataDescriptor& data : m_input_cyclic_var_descriptors) {
        const uint8_t* bytes = m_input_cyclic_var_values.data() + data.byte_offset;
        const int id = static_cast<int>(data.framework_id);
        if (data.type == BYTE_ARRAY_FSM) {
            m_framework->set_output_byte_array_ex(id, bytes, static_cast<int>(data.byte_len), 0);
            continue;
        }
        bridge_images::with_value_type(data.type, [&](auto kind) {
            using T = decltype(kind);
            m_framework->set_output_ex<T>(id, Container_Traits<T>::build(bytes));
        });
    }
}

void Bridge_Framework_Interface::get_inputs()
{
    for (const DataDescriptor& data : m_output_cyclic_var_descriptors) {
        uint8_t* bytes = m_output_cyclic_var_values.data() + data.byte_offset;
        const int id = static_cast<int>(data.framework_id);
        if (data.type == BYTE_ARRAY_FSM) {
            m_framework->get_input_byte_array_ex(id, bytes, static_cast<int>(data.byte_len), 0);
            continue;
        }
        bridge_images::with_value_type(data.type, [&](auto kind) {
            using T = decltype(kind);
            const T value = m_framework->get_input_ex<T>(id, false);
            if constexpr (std::is_same_v<T, bool>)
                *bytes = value ? 1 : 0;
            else
                std::memcpy(bytes, &value, sizeof(T));
        });
    }
}

namespace {
// A right the framework already took back (its watchdog released the
// bridge) or that a channel gave back: said in one line, never thrown.
template <typename Release>
void release_right(const char* kind, const std::string& name, Release release)
{
    try {
        release();
    } catch (const std::exception& error) {
        const std::string text = error.what();
        log_inf("[Bridge_Framework_Interface][cleanup] " + std::string(kind) + " " + name +
                " not held any more :: " + text.substr(0, text.find('\n')));
    }
}
}  // namespace

void Bridge_Framework_Interface::cleanup()
{
    log_inf("[Bridge_Framework_Interface][cleanup] Cleaning up framework memories");
    for (const SemVarDescriptor& group : m_input_semaphorized_data)
        release_right("input sem group", group.sem_name,
                      [&] { m_framework->release_sem_data_group_ex(static_cast<int>(group.sem_id), false); });
    for (const CmdDescriptor& command : m_input_cmds)
        release_right("input command client side", command.cmd_name,
                      [&] { m_framework->release_cmd_as_client_ex(static_cast<int>(command.cmd_id)); });
    for (const CmdDescriptor& command : m_output_cmds)
        release_right("output command server side", command.cmd_name,
                      [&] { m_framework->release_cmd_as_server_ex(static_cast<int>(command.cmd_id)); });
    m_input_semaphorized_data.clear();
    m_output_semaphorized_data.clear();
    m_input_cmds.clear();
    m_output_cmds.clear();
    m_output_cmd_answer_groups.clear();
    Robust_Mutex held(&m_mutex_cyclics, MUTEX_CYCLICS, MUTEX_CYCLICS_OWNER);
    std::lock_guard<Robust_Mutex> lock(held);
    m_input_cyclic_var_descriptors.clear();
    m_input_cyclic_var_values.clear();
    m_output_cyclic_var_descriptors.clear();
    m_output_cyclic_var_values.clear();
}
