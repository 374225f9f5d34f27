// The bridge's data groups and command channels: registration, the name and
// type lists, and the moves between their images and the local framework.
// Each group and each channel is served by one channel thread.
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <stdexcept>
#include <string>
#include <utility>

#include "bridge_framework_interface.h"
#include "bridge_images.h"
#include "xelo_framework_shm_manager.h"
#include "xelo_log.h"

using bridge_images::form_of;
using bridge_images::names_of;
using bridge_images::types_of;

namespace {
const char* const RING_TICK = "framework_abs_tick";
constexpr int ACQUIRE_ATTEMPTS = 5;
constexpr int SERVER_WAIT_POLLS = 20;
constexpr useconds_t SERVER_WAIT_POLL_US = 5000;
// Each poll of the server is taken in short slices: a server that starts
// waiting within one gets the command at once, not at the poll's end.
constexpr useconds_t SERVER_WAIT_SLICE_US = 100;
constexpr useconds_t CLIENT_RETRY_US = 1000;

// A registration refused: its ERR line says why, the exception carries no
// text of its own.
struct Registration_Refused : std::runtime_error {
    Registration_Refused() : std::runtime_error("") {}
};

// Calls visit with a value of the C++ type of a group or channel datum;
// false for BIT, BYTE_ARRAY and unknown types, which groups and channels do
// not move one by one.
template <typename Visit>
bool with_data_type(Type_Definition type, Visit&& visit)
{
    return bridge_images::with_value_type<false>(type, std::forward<Visit>(visit));
}

// The datum's value read from an image and handed to write(T), or taken
// from read() and stored in the image; byte arrays go through the array calls.
template <typename Write, typename Write_Array>
void write_datum(const DataDescriptor& data, const uint8_t* image, Write&& write, Write_Array&& write_array)
{
    const uint8_t* bytes = image + data.byte_offset;
    if (data.type == BYTE_ARRAY_FSM) {
        if (data.byte_len != 0)
            write_array(bytes, static_cast<int>(data.byte_len));
        return;
    }
    with_data_type(data.type, [&](auto kind) {
        using T = decltype(kind);
        write(Container_Traits<T>::build(bytes));
    });
}

template <typename Read, typename Read_Array>
void read_datum(const DataDescriptor& data, uint8_t* image, Read&& read, Read_Array&& read_array)
{
    uint8_t* bytes = image + data.byte_offset;
    if (data.type == BYTE_ARRAY_FSM) {
        if (data.byte_len != 0)
            read_array(bytes, static_cast<int>(data.byte_len));
        return;
    }
    with_data_type(data.type, [&](auto kind) {
        using T = decltype(kind);
        const T value = read(kind);
        std::memcpy(bytes, &value, sizeof(T));
    });
}

uint32_t size_of(const std::vector<uint8_t>& image)
{
    return static_cast<uint32_t>(image.size());
}
}  // namespace

// ---- registration ------------------------------------------------------------------------

void Bridge_Framework_Interface::warn_of_bits(const char* operation, const std::string& item,
                                              const std::vector<DataDescriptor>& data) const
{
    for (const DataDescriptor& datum : data)
        if (datum.type == BIT_FSM)
            log_war(std::string("[Bridge_Framework_Interface][") + operation + "] " + item + ": the BIT datum " +
                    datum.name + " takes its byte in the image, but its value does not cross the bridge");
}

void Bridge_Framework_Interface::add_input_sem_var(std::string name)
{
    add_sem_var(name, true);
}

void Bridge_Framework_Interface::add_output_sem_var(std::string name)
{
    add_sem_var(name, false);
}

void Bridge_Framework_Interface::add_sem_var(const std::string& name, bool input)
{
    const std::string head =
        std::string("[Bridge_Framework_Interface][") + (input ? "add_input_sem_var" : "add_output_sem_var") + "] ";
    std::vector<SemVarDescriptor>& list = input ? m_input_semaphorized_data : m_output_semaphorized_data;
    SemVarDescriptor group;
    group.sem_name = name;
    group.local_id = static_cast<uint32_t>(list.size());
    int sem_id = 0;
    try {
        sem_id = input ? m_framework->get_sem_data_group_write_id_ex(name, false)
                       : m_framework->get_sem_data_group_read_id_ex(name);
    } catch (const std::exception& error) {
        log_err(head + "sem group var name  " + name + " not found in framework :: " + error.what());
        throw Registration_Refused();
    }
    group.sem_id = static_cast<unsigned>(sem_id);
    // Taken over after a restart of the bridge: the posts of the set-up
    // must carry the values delivered last, and a ring goes on where it was.
    if (input)
        m_framework->load_published_sem_data_group_ex(sem_id);
    const int slots = m_framework->get_sem_data_group_ring_buffer_slot_number_ex(sem_id);
    group.ring_buffer_slot_number = slots > 0 ? static_cast<uint32_t>(slots) : 0;
    for (const std::string& datum_name : m_framework->get_list_sem_data_group_data_name_from_id_ex(sem_id)) {
        if (datum_name == RING_TICK)
            continue;
        DataDescriptor datum;
        datum.name = datum_name;
        try {
            datum.framework_id = static_cast<unsigned>(m_framework->get_sem_data_group_data_id_ex(sem_id, datum_name));
        } catch (const std::exception& error) {
            log_err(head + "var name  " + datum_name + " not found in framework :: " + error.what());
            throw Registration_Refused();
        }
        const int id = static_cast<int>(datum.framework_id);
        datum.type = m_framework->get_sem_data_group_data_type_ex(sem_id, id);
        datum.byte_len =
            byte_len_ex(datum.type, datum.type == BYTE_ARRAY_FSM
                                        ? m_framework->get_sem_data_group_data_byte_array_dim_ex(sem_id, id)
                                        : 0);
        append(group.sem_data_descriptors, group.sem_data_values, std::move(datum));
    }
    group.ring_buffer_values.assign(std::size_t{group.ring_buffer_slot_number} * group.sem_data_values.size(), 0);
    warn_of_bits(input ? "add_input_sem_var" : "add_output_sem_var", "sem group " + name, group.sem_data_descriptors);
    list.push_back(std::move(group));
    log_inf(head + (input ? "input sem correctly added: " : "output sem data correctly added: ") +
            form_of(list.back()));
}

void Bridge_Framework_Interface::add_input_command(std::string name)
{
    add_command(name, true);
}

void Bridge_Framework_Interface::add_output_command(std::string name)
{
    add_command(name, false);
}

// The server (output command) receives command data and sends answer data,
// the client (input command) the other way round; a byte array's length
// comes from the side of the channel that gave its type.
void Bridge_Framework_Interface::add_command(const std::string& name, bool input)
{
    const std::string head =
        std::string("[Bridge_Framework_Interface][") + (input ? "add_input_command" : "add_output_command") + "] ";
    std::vector<CmdDescriptor>& list = input ? m_input_cmds : m_output_cmds;
    CmdDescriptor command;
    command.cmd_name = name;
    command.local_id = static_cast<uint32_t>(list.size());
    int cmd_id = 0;
    int answer_group = -1;
    try {
        cmd_id = input ? m_framework->get_cmd_channel_id_as_client_ex(name)
                       : m_framework->get_cmd_channel_id_as_server_ex(name);
        if (!input)
            answer_group = m_framework->get_sem_data_group_write_id_ex(name + "_receiver", true);
    } catch (const std::exception& error) {
        log_err(head + (input ? "cmd name " : "cmd name  ") + name + " not found in framework :: " + error.what());
        throw Registration_Refused();
    }
    command.cmd_id = static_cast<unsigned>(cmd_id);
    auto add_data = [&](bool receiving) {
        const std::vector<std::string> names = receiving ? m_framework->get_list_cmd_recv_data_args_ex(cmd_id)
                                                         : m_framework->get_list_cmd_send_data_args_ex(cmd_id);
        for (const std::string& datum_name : names) {
            DataDescriptor datum;
            datum.name = datum_name;
            try {
                datum.framework_id =
                    static_cast<unsigned>(receiving ? m_framework->get_cmd_data_id_to_recv_ex(cmd_id, datum_name)
                                                    : m_framework->get_cmd_data_id_to_send_ex(cmd_id, datum_name));
            } catch (const std::exception& error) {
                log_err(head + (input && receiving ? "data name " : "data name  ") + datum_name +
                        " not found in framework for command " + name + " :: " + error.what());
                throw Registration_Refused();
            }
            const int id = static_cast<int>(datum.framework_id);
            datum.type = receiving ? m_framework->get_recv_data_type_ex(cmd_id, id)
                                   : m_framework->get_send_data_type_ex(cmd_id, id);
            unsigned array_dim = 0;
            if (datum.type == BYTE_ARRAY_FSM) {
                // Command data: what a server receives and a client sends.
                const bool command_data = receiving != input;
                array_dim = command_data ? m_framework->get_cmd_data_byte_array_dim_ex(cmd_id, id, input)
                                         : m_framework->get_answ_data_byte_array_dim_ex(cmd_id, id, input);
            }
            datum.byte_len = byte_len_ex(datum.type, array_dim);
            if (receiving)
                append(command.data_recv_descriptors, command.data_recv_values, std::move(datum));
            else
                append(command.data_send_descriptors, command.data_send_values, std::move(datum));
        }
    };
    add_data(true);
    add_data(false);
    const char* operation = input ? "add_input_command" : "add_output_command";
    warn_of_bits(operation, "command " + name + " received data", command.data_recv_descriptors);
    warn_of_bits(operation, "command " + name + " sent data", command.data_send_descriptors);
    list.push_back(std::move(command));
    if (!input)
        m_output_cmd_answer_groups.push_back(answer_group);
    log_inf(head + (input ? "input command correctly added: " : "output command correctly added: ") +
            form_of(list.back()));
}

// ---- name and type lists -------------------------------------------------------------------

std::vector<std::string> Bridge_Framework_Interface::get_input_sem_data_name_list(int index) const
{
    return names_of(m_input_semaphorized_data[static_cast<std::size_t>(index)].sem_data_descriptors);
}

std::vector<Type_Definition> Bridge_Framework_Interface::get_input_sem_data_type_list(int index) const
{
    return types_of(m_input_semaphorized_data[static_cast<std::size_t>(index)].sem_data_descriptors);
}

std::vector<std::string> Bridge_Framework_Interface::get_output_sem_data_name_list(int index) const
{
    return names_of(m_output_semaphorized_data[static_cast<std::size_t>(index)].sem_data_descriptors);
}

std::vector<Type_Definition> Bridge_Framework_Interface::get_output_sem_data_type_list(int index) const
{
    return types_of(m_output_semaphorized_data[static_cast<std::size_t>(index)].sem_data_descriptors);
}

std::vector<std::string> Bridge_Framework_Interface::get_input_cmd_data_send_name_list(int index) const
{
    return names_of(m_input_cmds[static_cast<std::size_t>(index)].data_send_descriptors);
}

std::vector<Type_Definition> Bridge_Framework_Interface::get_input_cmd_data_send_type_list(int index) const
{
    return types_of(m_input_cmds[static_cast<std::size_t>(index)].data_send_descriptors);
}

std::vector<std::string> Bridge_Framework_Interface::get_input_cmd_data_recv_name_list(int index) const
{
    return names_of(m_input_cmds[static_cast<std::size_t>(index)].data_recv_descriptors);
}

std::vector<Type_Definition> Bridge_Framework_Interface::get_input_cmd_data_recv_type_list(int index) const
{
    return types_of(m_input_cmds[static_cast<std::size_t>(index)].data_recv_descriptors);
}

std::vector<std::string> Bridge_Framework_Interface::get_output_cmd_data_send_name_list(int index) const
{
    return names_of(m_output_cmds[static_cast<std::size_t>(index)].data_send_descriptors);
}

std::vector<Type_Definition> Bridge_Framework_Interface::get_output_cmd_data_send_type_list(int index) const
{
    return types_of(m_output_cmds[static_cast<std::size_t>(index)].data_send_descriptors);
}

std::vector<std::string> Bridge_Framework_Interface::get_output_cmd_data_recv_name_list(int index) const
{
    return names_of(m_output_cmds[static_cast<std::size_t>(index)].data_recv_descriptors);
}

std::vector<Type_Definition> Bridge_Framework_Interface::get_output_cmd_data_recv_type_list(int index) const
{
    return types_of(m_output_cmds[static_cast<std::size_t>(index)].data_recv_descriptors);
}

// ---- data groups ------------------------------------------------------------------------------

void Bridge_Framework_Interface::write_sem_data(SemVarDescriptor& group, const unsigned char* buffer)
{
    if (!group.sem_data_values.empty())
        std::memcpy(group.sem_data_values.data(), buffer, group.sem_data_values.size());
    const int sem_id = static_cast<int>(group.sem_id);
    for (const DataDescriptor& data : group.sem_data_descriptors) {
        const int id = static_cast<int>(data.framework_id);
        write_datum(
            data, group.sem_data_values.data(),
            [&](auto value) { m_framework->set_sem_data_group_data_ex(sem_id, id, value); },
            [&](const uint8_t* bytes, int length) {
                m_framework->set_sem_data_group_data_byte_array_ex(sem_id, id, bytes, length, 0);
            });
    }
}

void Bridge_Framework_Interface::read_sem_data(const SemVarDescriptor& group, uint8_t* image)
{
    const int sem_id = static_cast<int>(group.sem_id);
    for (const DataDescriptor& data : group.sem_data_descriptors) {
        const int id = static_cast<int>(data.framework_id);
        read_datum(
            data, image, [&](auto kind) { return m_framework->get_sem_data_group_data_ex<decltype(kind)>(sem_id, id); },
            [&](uint8_t* bytes, int length) {
                m_framework->get_sem_data_group_data_byte_array_ex(sem_id, id, bytes, length, 0);
            });
    }
}

void Bridge_Framework_Interface::set_input_sem_data(unsigned int index, const unsigned char* buffer)
{
    SemVarDescriptor& group = m_input_semaphorized_data[index];
    write_sem_data(group, buffer);
    m_framework->post_sem_data_group_ex(static_cast<int>(group.sem_id), false, -1);
}

void Bridge_Framework_Interface::insert_ring_buffer_slot(unsigned int index, const unsigned char* buffer)
{
    SemVarDescriptor& group = m_input_semaphorized_data[index];
    write_sem_data(group, buffer);
    m_framework->insert_ring_buffer_slot_ex(static_cast<int>(group.sem_id));
}

void Bridge_Framework_Interface::post_input_sem_data_group(unsigned int index)
{
    m_framework->post_sem_data_group_ex(static_cast<int>(m_input_semaphorized_data[index].sem_id), false, -1);
}

void Bridge_Framework_Interface::get_output_sem_data(unsigned int index, unsigned char* buffer)
{
    SemVarDescriptor& group = m_output_semaphorized_data[index];
    read_sem_data(group, group.sem_data_values.data());
    if (!group.sem_data_values.empty())
        std::memcpy(buffer, group.sem_data_values.data(), group.sem_data_values.size());
}

// The count is checked before a slot is taken: a slot taken is never left unread.
void Bridge_Framework_Interface::get_all_ring_buffer_slots(unsigned int index)
{
    SemVarDescriptor& group = m_output_semaphorized_data[index];
    group.available_ring_buffer_slot_number = 0;
    if (group.ring_buffer_slot_number == 0)
        return;
    const std::size_t image = group.sem_data_values.size();
    int8_t overlap = 0;
    while (group.available_ring_buffer_slot_number < group.ring_buffer_slot_number &&
           m_framework->get_ring_buffer_next_slot_ex(static_cast<int>(group.sem_id), &overlap)) {
        read_sem_data(group, group.ring_buffer_values.data() + group.available_ring_buffer_slot_number * image);
        ++group.available_ring_buffer_slot_number;
        log_inf("[Bridge_Framework_Interface][get_all_ring_buffer_slots] sem_id :: " + std::to_string(group.sem_id) +
                ", read ring_buffer_slots" + std::to_string(group.available_ring_buffer_slot_number));
    }
}

void Bridge_Framework_Interface::get_output_sem_data_ring_buffer_slot(unsigned int index, unsigned int slot,
                                                                      unsigned char* buffer) const
{
    const SemVarDescriptor& group = m_output_semaphorized_data[index];
    const std::size_t image = group.sem_data_values.size();
    if (image != 0)
        std::memcpy(buffer, group.ring_buffer_values.data() + slot * image, image);
}

bool Bridge_Framework_Interface::wait_sem(unsigned int index, double timeout_ms)
{
    return m_framework->wait_sem_data_group_ex(static_cast<int>(m_output_semaphorized_data[index].sem_id), timeout_ms,
                                               0, nullptr);
}

uint32_t Bridge_Framework_Interface::get_input_sem_data_len(unsigned int index) const
{
    return size_of(m_input_semaphorized_data[index].sem_data_values);
}

uint32_t Bridge_Framework_Interface::get_output_sem_data_len(unsigned int index) const
{
    return size_of(m_output_semaphorized_data[index].sem_data_values);
}

uint32_t Bridge_Framework_Interface::get_output_sem_available_ring_buffer_slots(unsigned int index) const
{
    return m_output_semaphorized_data[index].available_ring_buffer_slot_number;
}

uint32_t Bridge_Framework_Interface::get_input_sem_ring_buffer_slots(unsigned int index) const
{
    return m_input_semaphorized_data[index].ring_buffer_slot_number;
}

// ---- command channels -----------------------------------------------------------------------------

void Bridge_Framework_Interface::acquire_cmd_as_server(unsigned int index)
{
    const CmdDescriptor& command = m_output_cmds[index];
    for (int attempt = 0; attempt < ACQUIRE_ATTEMPTS; ++attempt) {
        bool taken = false;
        try {
            taken = m_framework->try_acquire_cmd_as_server_ex(static_cast<int>(command.cmd_id));
        } catch (const std::exception& error) {
            throw std::runtime_error("Cmd " + command.cmd_name +
                                     " NOT ACQUIRABLE (max attempts not reached!!) -- Throwing exc.. " + error.what());
        }
        if (taken)
            return;
    }
    throw std::runtime_error("Cmd " + command.cmd_name + " NOT ACQUIRABLE after " + std::to_string(ACQUIRE_ATTEMPTS));
}

bool Bridge_Framework_Interface::wait_cmd(unsigned int index, double timeout_ms)
{
    return m_framework->wait_cmd_ex(static_cast<int>(m_output_cmds[index].cmd_id), timeout_ms);
}

void Bridge_Framework_Interface::release_cmd_as_server(unsigned int index)
{
    m_framework->release_cmd_as_server_ex(static_cast<int>(m_output_cmds[index].cmd_id));
}

void Bridge_Framework_Interface::give_back_cmd_as_server(unsigned int index)
{
    m_framework->release_sem_data_group_ex(m_output_cmd_answer_groups[index], false);
}

void Bridge_Framework_Interface::get_output_cmd_recv_data(unsigned int index, unsigned char* buffer)
{
    CmdDescriptor& command = m_output_cmds[index];
    const int cmd_id = static_cast<int>(command.cmd_id);
    for (const DataDescriptor& data : command.data_recv_descriptors) {
        const int id = static_cast<int>(data.framework_id);
        read_datum(
            data, command.data_recv_values.data(),
            [&](auto kind) { return m_framework->get_cmd_data_ex<decltype(kind)>(cmd_id, id); },
            [&](uint8_t* bytes, int length) { m_framework->get_cmd_data_byte_array_ex(cmd_id, id, bytes, length, 0); });
    }
    if (!command.data_recv_values.empty())
        std::memcpy(buffer, command.data_recv_values.data(), command.data_recv_values.size());
}

void Bridge_Framework_Interface::send_output_cmd_data_answer(unsigned int index, const unsigned char* buffer)
{
    CmdDescriptor& command = m_output_cmds[index];
    const int cmd_id = static_cast<int>(command.cmd_id);
    if (!command.data_send_values.empty())
        std::memcpy(command.data_send_values.data(), buffer, command.data_send_values.size());
    for (const DataDescriptor& data : command.data_send_descriptors) {
        const int id = static_cast<int>(data.framework_id);
        write_datum(
            data, command.data_send_values.data(),
            [&](auto value) { m_framework->set_answ_data_ex(cmd_id, id, value); },
            [&](const uint8_t* bytes, int length) {
                m_framework->set_answ_data_byte_array_ex(cmd_id, id, bytes, length, 0);
            });
    }
    m_framework->send_answer_ex(cmd_id);
}

void Bridge_Framework_Interface::send_input_cmd_data(unsigned int index, const unsigned char* buffer, Log_Batch* lines)
{
    CmdDescriptor& command = m_input_cmds[index];
    const int cmd_id = static_cast<int>(command.cmd_id);
    const std::string& name = command.cmd_name;
    const std::string head = "[Bridge_Framework_Interface][send_input_cmd_data] Cmd " + name;
    if (!command.data_send_values.empty())
        std::memcpy(command.data_send_values.data(), buffer, command.data_send_values.size());
    bool taken = false;
    for (int attempt = 0; attempt < ACQUIRE_ATTEMPTS && !taken; ++attempt) {
        try {
            taken = m_framework->try_acquire_cmd_as_client_ex(cmd_id);
        } catch (const std::exception& error) {
            throw std::runtime_error("Channel " + name +
                                     " NOT ACQUIRABLE (max attempts not reached!!)! Throwing exc.. " + error.what());
        }
        if (!taken)
            usleep(CLIENT_RETRY_US);
    }
    if (!taken)
        throw std::runtime_error("Channel " + name + " NOT ACQUIRABLE after " + std::to_string(ACQUIRE_ATTEMPTS) +
                                 " attempts  ");
    Log_Batch own_lines;
    Log_Batch& batch = lines != nullptr ? *lines : own_lines;
    try {
        // A post left on the answer group (a server that gave its side
        // back marks its readers) would end the next wait for an answer.
        m_framework->clear_cmd_from_client_ex(cmd_id);
        batch.inf(head + " message read from socket");
        for (const DataDescriptor& data : command.data_send_descriptors) {
            const int id = static_cast<int>(data.framework_id);
            write_datum(
                data, command.data_send_values.data(),
                [&](auto value) { m_framework->set_cmd_data_ex(cmd_id, id, value); },
                [&](const uint8_t* bytes, int length) {
                    m_framework->set_cmd_data_byte_array_ex(cmd_id, id, bytes, length, 0);
                });
            batch.inf(head + " set data " + data.name);
        }
        batch.inf(head + " sending command");
        // Each poll the server lets pass whole is a WAR line; after 20 the
        // send goes anyway, and the manager refuses it.
        bool waiting = m_framework->is_server_waiting_for_command_ex(cmd_id);
        for (int waited = 0; !waiting && waited < SERVER_WAIT_POLLS;) {
            batch.flush();
            const auto poll_end = std::chrono::steady_clock::now() + std::chrono::microseconds(SERVER_WAIT_POLL_US);
            do {
                usleep(SERVER_WAIT_SLICE_US);
                waiting = m_framework->is_server_waiting_for_command_ex(cmd_id);
            } while (!waiting && std::chrono::steady_clock::now() < poll_end);
            if (waiting)
                break;
            ++waited;
            log_war("timeout_counter :: " + std::to_string(waited) +
                    ", timeout_counter_threshold :: " + std::to_string(SERVER_WAIT_POLLS));
        }
        m_framework->send_cmd_ex(cmd_id);
    } catch (const std::exception& error) {
        batch.flush();
        try {
            m_framework->release_cmd_as_client_ex(cmd_id);
        } catch (const std::exception& release_error) {
            log_err(head + " client side not given back :: " + release_error.what());
        }
        throw std::runtime_error("Channel " + name + " error while exchanging commans! Throwing exc.. " + error.what());
    }
}

int Bridge_Framework_Interface::wait_input_cmd_data_answer(unsigned int index, float timeout_ms, bool log_wait,
                                                           Log_Batch* lines)
{
    CmdDescriptor& command = m_input_cmds[index];
    const int cmd_id = static_cast<int>(command.cmd_id);
    const std::string& name = command.cmd_name;
    Log_Batch own_lines;
    Log_Batch& batch = lines != nullptr ? *lines : own_lines;
    if (log_wait)
        batch.inf("[Bridge_Framework_Interface][wait_input_cmd_data_answer] waiting " + name + " anwer");
    batch.flush();
    try {
        if (!m_framework->wait_answer_ex(cmd_id, static_cast<double>(timeout_ms)))
            return 0;
        const std::string head = "[Bridge_Framework_Interface][wait_input_cmd_data_answer] Cmd " + name;
        batch.inf(head + " received answer");
        for (const DataDescriptor& data : command.data_recv_descriptors) {
            const int id = static_cast<int>(data.framework_id);
            read_datum(
                data, command.data_recv_values.data(),
                [&](auto kind) { return m_framework->get_answ_data_ex<decltype(kind)>(cmd_id, id); },
                [&](uint8_t* bytes, int length) {
                    m_framework->get_answ_data_byte_array_ex(cmd_id, id, bytes, length, 0);
                });
            batch.inf(head + " read data " + data.name);
        }
        m_framework->release_cmd_as_client_ex(cmd_id);
        return 1;
    } catch (const std::exception& error) {
        batch.flush();
        try {
            m_framework->release_cmd_as_client_ex(cmd_id);
        } catch (const std::exception& release_error) {
            log_err("[Bridge_Framework_Interface][wait_input_cmd_data_answer] Cmd " + name +
                    " client side not given back :: " + release_error.what());
        }
        throw std::runtime_error("Channel " + name + " error while exchanging commans! Throwing exc.. " + error.what());
    }
}

void Bridge_Framework_Interface::get_input_cmd_answ_data(unsigned int index, unsigned char* buffer) const
{
    const CmdDescriptor& command = m_input_cmds[index];
    if (!command.data_recv_values.empty())
        std::memcpy(buffer, command.data_recv_values.data(), command.data_recv_values.size());
}

uint32_t Bridge_Framework_Interface::get_input_cmd_send_data_len(unsigned int index) const
{
    return size_of(m_input_cmds[index].data_send_values);
}

uint32_t Bridge_Framework_Interface::get_input_cmd_recv_data_len(unsigned int index) const
{
    return size_of(m_input_cmds[index].data_recv_values);
}

uint32_t Bridge_Framework_Interface::get_output_cmd_send_data_len(unsigned int index) const
{
    return size_of(m_output_cmds[index].data_send_values);
}

uint32_t Bridge_Framework_Interface::get_output_cmd_recv_data_len(unsigned int index) const
{
    return size_of(m_output_cmds[index].data_recv_values);
}
