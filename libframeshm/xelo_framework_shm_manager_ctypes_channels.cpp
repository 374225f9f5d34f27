// Script interface for the command channels: opening a channel as client or
// server, taking and releasing it, sending and waiting for commands and
// answers, the data of both directions and the lists of their names.

#include <stdexcept>
#include <string>
#include <vector>

#include "xelo_framework_shm_manager.h"
#include "xelo_framework_shm_manager_ctypes.h"
#include "xelo_framework_shm_manager_ctypes_call.h"

using Manager = Framework_Shared_Memory_Manager;
using namespace xelo_shm_ctypes;

namespace {
constexpr unsigned int INVALID_CHANNEL_ID = 0;
constexpr unsigned int INVALID_DATA_ID = 0;
constexpr int INVALID_BYTE_ARRAY_DIM = 0;
// A script's command waits for its answer without limit.
constexpr double WAIT_WITHOUT_LIMIT = 0;
}  // namespace

// ---- opening, ownership, protocol --------------------------------------------------------

unsigned int py_get_cmd_channel_id_as_client(Manager* memory_manager, uint32_t* error_occurred,
                                             const char* cmd_channel_name)
{
    return guarded_call(memory_manager, error_occurred, INVALID_CHANNEL_ID, [&](Manager& m) {
        return static_cast<unsigned int>(
            m.get_cmd_channel_id_as_client_ex(text_of_ex(cmd_channel_name, "cmd_channel_name")));
    });
}

unsigned int py_get_cmd_channel_id_as_server(Manager* memory_manager, uint32_t* error_occurred,
                                             const char* cmd_channel_name)
{
    return guarded_call(memory_manager, error_occurred, INVALID_CHANNEL_ID, [&](Manager& m) {
        return static_cast<unsigned int>(
            m.get_cmd_channel_id_as_server_ex(text_of_ex(cmd_channel_name, "cmd_channel_name")));
    });
}

uint8_t py_try_acquire_cmd_as_client(Manager* memory_manager, uint32_t* error_occurred, int cmd_id)
{
    return guarded_call(memory_manager, error_occurred, uint8_t{0},
                        [&](Manager& m) { return static_cast<uint8_t>(m.try_acquire_cmd_as_client_ex(cmd_id)); });
}

uint8_t py_try_acquire_cmd_as_server(Manager* memory_manager, uint32_t* error_occurred, int cmd_id)
{
    return guarded_call(memory_manager, error_occurred, uint8_t{0},
                        [&](Manager& m) { return static_cast<uint8_t>(m.try_acquire_cmd_as_server_ex(cmd_id)); });
}

void py_release_cmd_as_client(Manager* memory_manager, uint32_t* error_occurred, int cmd_id)
{
    guarded_call(memory_manager, error_occurred, [&](Manager& m) { m.release_cmd_as_client_ex(cmd_id); });
}

void py_release_cmd_as_server(Manager* memory_manager, uint32_t* error_occurred, int cmd_id)
{
    guarded_call(memory_manager, error_occurred, [&](Manager& m) { m.release_cmd_as_server_ex(cmd_id); });
}

uint8_t py_is_server_waiting_for_command(Manager* memory_manager, uint32_t* error_occurred, int cmd_id)
{
    return guarded_call(memory_manager, error_occurred, uint8_t{0},
                        [&](Manager& m) { return static_cast<uint8_t>(m.is_server_waiting_for_command_ex(cmd_id)); });
}

void py_send_cmd(Manager* memory_manager, uint32_t* error_occurred, int cmd_id)
{
    guarded_call(memory_manager, error_occurred, [&](Manager& m) { m.send_cmd_ex(cmd_id); });
}

void py_send_cmd_and_wait_answer(Manager* memory_manager, uint32_t* error_occurred, int cmd_id)
{
    guarded_call(memory_manager, error_occurred,
                 [&](Manager& m) { m.send_cmd_and_wait_answer_ex(cmd_id, WAIT_WITHOUT_LIMIT); });
}

uint8_t py_wait_answer(Manager* memory_manager, uint32_t* error_occurred, int cmd_id, double timeout_ms)
{
    return guarded_call(memory_manager, error_occurred, uint8_t{0},
                        [&](Manager& m) { return static_cast<uint8_t>(m.wait_answer_ex(cmd_id, timeout_ms)); });
}

uint8_t py_wait_cmd(Manager* memory_manager, uint32_t* error_occurred, int cmd_id, double timeout_ms)
{
    return guarded_call(memory_manager, error_occurred, uint8_t{0},
                        [&](Manager& m) { return static_cast<uint8_t>(m.wait_cmd_ex(cmd_id, timeout_ms)); });
}

void py_send_answer(Manager* memory_manager, uint32_t* error_occurred, int cmd_id)
{
    guarded_call(memory_manager, error_occurred, [&](Manager& m) { m.send_answer_ex(cmd_id); });
}

void py_clear_cmd_from_client(Manager* memory_manager, uint32_t* error_occurred, int cmd_id)
{
    guarded_call(memory_manager, error_occurred, [&](Manager& m) { m.clear_cmd_from_client_ex(cmd_id); });
}

// ---- data directory ----------------------------------------------------------------------

unsigned int py_get_cmd_data_id_to_send(Manager* memory_manager, uint32_t* error_occurred, int cmd_id,
                                        const char* data_label)
{
    return guarded_call(memory_manager, error_occurred, INVALID_DATA_ID, [&](Manager& m) {
        return static_cast<unsigned int>(m.get_cmd_data_id_to_send_ex(cmd_id, text_of_ex(data_label, "data_label")));
    });
}

unsigned int py_get_cmd_data_id_to_recv(Manager* memory_manager, uint32_t* error_occurred, int cmd_id,
                                        const char* data_label)
{
    return guarded_call(memory_manager, error_occurred, INVALID_DATA_ID, [&](Manager& m) {
        return static_cast<unsigned int>(m.get_cmd_data_id_to_recv_ex(cmd_id, text_of_ex(data_label, "data_label")));
    });
}

Type_Definition py_get_send_data_type(Manager* memory_manager, uint32_t* error_occurred, int cmd_id, int data_id)
{
    return guarded_call(memory_manager, error_occurred, UNDEFINED_TYPE_FSM,
                        [&](Manager& m) { return m.get_send_data_type_ex(cmd_id, data_id); });
}

Type_Definition py_get_recv_data_type(Manager* memory_manager, uint32_t* error_occurred, int cmd_id, int data_id)
{
    return guarded_call(memory_manager, error_occurred, UNDEFINED_TYPE_FSM,
                        [&](Manager& m) { return m.get_recv_data_type_ex(cmd_id, data_id); });
}

namespace {
// The names one per line, without a newline behind the last, zero-filled to
// the end of the caller's list buffer.
std::string name_list_ex(const std::vector<std::string>& names, const char* empty_text)
{
    if (names.empty())
        throw std::runtime_error(empty_text);
    std::string list = names.front();
    for (std::size_t i = 1; i < names.size(); ++i)
        list.append("\n").append(names[i]);
    return zero_filled(std::move(list), LIST_STRING_MAX_LENGTH);
}
}  // namespace

void py_get_list_cmd_send_data_args(Manager* memory_manager, uint32_t* error_occurred, int cmd_id, char* return_string)
{
    guarded_text_call(memory_manager, error_occurred, return_string, LIST_STRING_MAX_LENGTH, "id_not_valid",
                      [&](Manager& m) {
                          return name_list_ex(m.get_list_cmd_send_data_args_ex(cmd_id), "send data args is empty");
                      });
}

void py_get_list_cmd_recv_data_args(Manager* memory_manager, uint32_t* error_occurred, int cmd_id, char* return_string)
{
    guarded_text_call(memory_manager, error_occurred, return_string, LIST_STRING_MAX_LENGTH, "id_not_valid",
                      [&](Manager& m) {
                          return name_list_ex(m.get_list_cmd_recv_data_args_ex(cmd_id), "recv data args is empty");
                      });
}

int py_get_cmd_data_args_max_string_length()
{
    return static_cast<int>(LIST_STRING_MAX_LENGTH);
}

// ---- byte arrays -------------------------------------------------------------------------

void py_set_cmd_data_byte_array(Manager* memory_manager, uint32_t* error_occurred, int sem_group_id, int data_id,
                                const uint8_t* byte_array, int byte_dim, unsigned int byte_offset)
{
    guarded_call(memory_manager, error_occurred, [&](Manager& m) {
        m.set_cmd_data_byte_array_ex(sem_group_id, data_id, byte_array, byte_dim, byte_offset_of_ex(byte_offset));
    });
}

void py_set_answ_data_byte_array(Manager* memory_manager, uint32_t* error_occurred, int sem_group_id, int data_id,
                                 const uint8_t* byte_array, int byte_dim, unsigned int byte_offset)
{
    guarded_call(memory_manager, error_occurred, [&](Manager& m) {
        m.set_answ_data_byte_array_ex(sem_group_id, data_id, byte_array, byte_dim, byte_offset_of_ex(byte_offset));
    });
}

void py_get_cmd_data_byte_array(Manager* memory_manager, uint32_t* error_occurred, int sem_group_id, int data_id,
                                uint8_t* byte_array, int byte_dim, int byte_offset)
{
    guarded_call(memory_manager, error_occurred, [&](Manager& m) {
        m.get_cmd_data_byte_array_ex(sem_group_id, data_id, byte_array, byte_dim, byte_offset);
    });
}

void py_get_answ_data_byte_array(Manager* memory_manager, uint32_t* error_occurred, int sem_group_id, int data_id,
                                 uint8_t* byte_array, int byte_dim, unsigned int byte_offset)
{
    guarded_call(memory_manager, error_occurred, [&](Manager& m) {
        m.get_answ_data_byte_array_ex(sem_group_id, data_id, byte_array, byte_dim, byte_offset_of_ex(byte_offset));
    });
}

int py_get_cmd_data_byte_array_dim_as_client(Manager* memory_manager, uint32_t* error_occurred, int sem_group_id,
                                             int data_id)
{
    return guarded_call(memory_manager, error_occurred, INVALID_BYTE_ARRAY_DIM, [&](Manager& m) {
        return static_cast<int>(m.get_cmd_data_byte_array_dim_ex(sem_group_id, data_id, true));
    });
}

int py_get_cmd_data_byte_array_dim_as_server(Manager* memory_manager, uint32_t* error_occurred, int sem_group_id,
                                             int data_id)
{
    return guarded_call(memory_manager, error_occurred, INVALID_BYTE_ARRAY_DIM, [&](Manager& m) {
        return static_cast<int>(m.get_cmd_data_byte_array_dim_ex(sem_group_id, data_id, false));
    });
}

int py_get_answ_data_byte_array_dim_as_client(Manager* memory_manager, uint32_t* error_occurred, int sem_group_id,
                                              int data_id)
{
    return guarded_call(memory_manager, error_occurred, INVALID_BYTE_ARRAY_DIM, [&](Manager& m) {
        return static_cast<int>(m.get_answ_data_byte_array_dim_ex(sem_group_id, data_id, true));
    });
}

int py_get_answ_data_byte_array_dim_as_server(Manager* memory_manager, uint32_t* error_occurred, int sem_group_id,
                                              int data_id)
{
    return guarded_call(memory_manager, error_occurred, INVALID_BYTE_ARRAY_DIM, [&](Manager& m) {
        return static_cast<int>(m.get_answ_data_byte_array_dim_ex(sem_group_id, data_id, false));
    });
}

// ---- typed data --------------------------------------------------------------------------

namespace {
// Command data: written by the client, read by the server.
template <typename Value, typename Script>
void write_cmd_datum(Manager* memory_manager, uint32_t* error_occurred, int cmd_id, int data_id, Script data_value)
{
    guarded_call(memory_manager, error_occurred,
                 [&](Manager& m) { m.set_cmd_data_ex<Value>(cmd_id, data_id, static_cast<Value>(data_value)); });
}

template <typename Script, typename Value>
Script read_cmd_datum(Manager* memory_manager, uint32_t* error_occurred, int cmd_id, int data_id)
{
    return guarded_call(memory_manager, error_occurred, Script{},
                        [&](Manager& m) { return static_cast<Script>(m.get_cmd_data_ex<Value>(cmd_id, data_id)); });
}

// Answer data: written by the server, read by the client.
template <typename Value, typename Script>
void write_answer_datum(Manager* memory_manager, uint32_t* error_occurred, int cmd_id, int data_id, Script data_value)
{
    guarded_call(memory_manager, error_occurred,
                 [&](Manager& m) { m.set_answ_data_ex<Value>(cmd_id, data_id, static_cast<Value>(data_value)); });
}

template <typename Script, typename Value>
Script read_answer_datum(Manager* memory_manager, uint32_t* error_occurred, int cmd_id, int data_id)
{
    return guarded_call(memory_manager, error_occurred, Script{},
                        [&](Manager& m) { return static_cast<Script>(m.get_answ_data_ex<Value>(cmd_id, data_id)); });
}
}  // namespace

#define XELO_SHM_CTYPES_DEFINE_CHANNEL_VALUE(manager_type, fixed_type, type_id, script_type, cyclic_suffix, suffix)  \
    void py_set_cmd_data_##suffix(Manager* memory_manager, uint32_t* error_occurred, int cmd_id, int data_id,        \
                                  script_type data_value)                                                            \
    {                                                                                                                \
        write_cmd_datum<manager_type>(memory_manager, error_occurred, cmd_id, data_id, data_value);                  \
    }                                                                                                                \
    script_type py_get_cmd_data_##suffix(Manager* memory_manager, uint32_t* error_occurred, int cmd_id, int data_id) \
    {                                                                                                                \
        return read_cmd_datum<script_type, manager_type>(memory_manager, error_occurred, cmd_id, data_id);           \
    }                                                                                                                \
    void py_set_answer_data_##suffix(Manager* memory_manager, uint32_t* error_occurred, int cmd_id, int data_id,     \
                                     script_type data_value)                                                         \
    {                                                                                                                \
        write_answer_datum<manager_type>(memory_manager, error_occurred, cmd_id, data_id, data_value);               \
    }                                                                                                                \
    script_type py_get_answer_data_##suffix(Manager* memory_manager, uint32_t* error_occurred, int cmd_id,           \
                                            int data_id)                                                             \
    {                                                                                                                \
        return read_answer_datum<script_type, manager_type>(memory_manager, error_occurred, cmd_id, data_id);        \
    }

XELO_SHM_CTYPES_DATA_VALUE_TYPES(XELO_SHM_CTYPES_DEFINE_CHANNEL_VALUE)
#undef XELO_SHM_CTYPES_DEFINE_CHANNEL_VALUE
