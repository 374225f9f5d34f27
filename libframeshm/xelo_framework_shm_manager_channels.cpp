// Command channels: a client writes a command into the group
// "<name>_sender" and posts it to the server waiting there; the server
// answers through "<name>_receiver" to that one client. Every step is a
// data-group operation; this file keeps the process's table of channels and
// the mark by which a server says that it waits.

#include <semaphore.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

#include "xelo_framework_shm_manager.h"
#include "xelo_log.h"
#include "xelo_string_functions.h"

using XELO_String_Functions::num2str;

namespace {
constexpr int32_t MAX_PAIR_SEM_IDS = 1000;
constexpr int32_t NOBODY = -1;

template <typename T>
T shared_load(const T& field)
{
    return __atomic_load_n(&field, __ATOMIC_ACQUIRE);
}
}  // namespace

// ---- opening --------------------------------------------------------------------------------

int Framework_Shared_Memory_Manager::get_cmd_channel_id_as_client_ex(std::string cmd_channel_name)
{
    return open_cmd_channel_ex(cmd_channel_name, false);
}

int Framework_Shared_Memory_Manager::get_cmd_channel_id_as_server_ex(std::string cmd_channel_name)
{
    return open_cmd_channel_ex(cmd_channel_name, true);
}

// A client reads answers and writes commands, a server the other way round;
// only the index of the written group is taken here, not the right to write.
int Framework_Shared_Memory_Manager::open_cmd_channel_ex(const std::string& cmd_channel_name, bool as_server)
{
    if (m_pair_sem_last_idx >= MAX_PAIR_SEM_IDS)
        throw std::runtime_error(std::string("[Framework_Shared_Memory_Manager][get_cmd_channel_id_as_") +
                                 (as_server ? "server" : "client") + "] Error : MAX_PAIR_SEM_IDS reached");
    const std::string commands = cmd_channel_name + "_sender";
    const std::string answers = cmd_channel_name + "_receiver";
    const int recv = get_sem_data_group_read_id_ex(as_server ? commands : answers);
    const int send = get_sem_data_group_write_id_ex(as_server ? answers : commands, true);
    for (int32_t i = 0; i < m_pair_sem_last_idx; ++i) {
        const Pair_Sem_Ids& entry = m_pair_sem_ids[static_cast<std::size_t>(i)];
        if (entry.id_to_recv == recv && entry.id_to_send == send)
            return i;
    }
    Pair_Sem_Ids& entry = m_pair_sem_ids[static_cast<std::size_t>(m_pair_sem_last_idx)];
    entry.id_to_send = send;
    entry.id_to_recv = recv;
    entry.app_id_to_reply = NOBODY;
    entry.ack_on_poster_release = as_server ? 0 : 1;
    entry.application_is_server = as_server;
    entry.application_is_client = !as_server;
    return m_pair_sem_last_idx++;
}

// ---- channel check ---------------------------------------------------------------------------

void Framework_Shared_Memory_Manager::check_channel_data_input_param_ex(const char* caller, const char* file, int line,
                                                                        int channel_id, bool check_client,
                                                                        bool check_server) const
{
    check_attached_run_ex(caller);
    std::string message;
    if (channel_id < 0 || channel_id >= m_pair_sem_last_idx) {
        message = "invalid cmd channel id, required :: " + num2str(channel_id) +
                  ", max available :: " + num2str(m_pair_sem_last_idx - 1);
    } else {
        const Pair_Sem_Ids& entry = m_pair_sem_ids[static_cast<std::size_t>(channel_id)];
        if (entry.application_is_server && entry.application_is_client)
            message = "invalid cmd channel configuration (both server and client flags are set!), cmd_channel id  :: " +
                      num2str(channel_id);
        else if (check_server && !entry.application_is_server)
            message = "cmd_channel id not taken as server!, cmd_channel id  :: " + num2str(channel_id);
        else if (check_client && !entry.application_is_client)
            message = "cmd_channel id not taken as client!, cmd_channel id  :: " + num2str(channel_id);
        else
            return;
    }
    throw std::runtime_error(std::string("[Framework_Shared_Memory_Manager][") + caller + "] " + message +
                             ", ( exception @ " + file + ":" + num2str(line) + " )");
}

int Framework_Shared_Memory_Manager::cmd_group(int cmd_id) const
{
    const Pair_Sem_Ids& entry = m_pair_sem_ids[static_cast<std::size_t>(cmd_id)];
    return entry.application_is_client ? entry.id_to_send : entry.id_to_recv;
}

int Framework_Shared_Memory_Manager::answ_group(int cmd_id) const
{
    const Pair_Sem_Ids& entry = m_pair_sem_ids[static_cast<std::size_t>(cmd_id)];
    return entry.application_is_client ? entry.id_to_recv : entry.id_to_send;
}

// ---- ownership --------------------------------------------------------------------------------

bool Framework_Shared_Memory_Manager::try_acquire_cmd_as_client_ex(int cmd_id)
{
    check_channel_data_input_param_ex("try_acquire_cmd_as_client_ex", SOURCE_FILE, __LINE__, cmd_id, true, false);
    return try_acquire_sem_data_group_ex(m_pair_sem_ids[static_cast<std::size_t>(cmd_id)].id_to_send);
}

// The server that takes a channel is not waiting yet: a mark left by a
// server that ended inside its wait is cleared, so that no client sends into
// the void.
bool Framework_Shared_Memory_Manager::try_acquire_cmd_as_server_ex(int cmd_id)
{
    check_channel_data_input_param_ex("try_acquire_cmd_as_server_ex", SOURCE_FILE, __LINE__, cmd_id, false, true);
    const Pair_Sem_Ids& entry = m_pair_sem_ids[static_cast<std::size_t>(cmd_id)];
    if (!try_acquire_sem_data_group_ex(entry.id_to_send))
        return false;
    set_server_waiting_mark_ex(entry.id_to_send, NOBODY);
    set_server_waiting_mark_ex(entry.id_to_recv, NOBODY);
    return true;
}

void Framework_Shared_Memory_Manager::release_cmd_as_client_ex(int cmd_id)
{
    check_channel_data_input_param_ex("release_cmd_as_client_ex", SOURCE_FILE, __LINE__, cmd_id, true, false);
    release_sem_data_group_ex(m_pair_sem_ids[static_cast<std::size_t>(cmd_id)].id_to_send, false);
}

// Clients waiting for an answer learn that none will come.
void Framework_Shared_Memory_Manager::release_cmd_as_server_ex(int cmd_id)
{
    check_channel_data_input_param_ex("release_cmd_as_server_ex", SOURCE_FILE, __LINE__, cmd_id, false, true);
    release_sem_data_group_ex(m_pair_sem_ids[static_cast<std::size_t>(cmd_id)].id_to_send, true);
}

// ---- the exchange -------------------------------------------------------------------------------

void Framework_Shared_Memory_Manager::set_server_waiting_mark_ex(int sem_group_id, int32_t value)
{
    check_sem_data_input_param_ex("set_server_waiting_mark_ex", SOURCE_FILE, __LINE__, sem_group_id, false, false, -1,
                                  -1, -1);
    Shared_Sem_Data_Group_Struct& group = group_record(sem_group_id);
    Robust_Mutex held(&group.mutex, m_sem_data_group_mutex_names[static_cast<std::size_t>(sem_group_id)]);
    std::unique_lock<Robust_Mutex> lock(held);
    __atomic_store_n(&group.is_server_waiting_cmd_setter, value, __ATOMIC_RELEASE);
    lock.unlock();
}

void Framework_Shared_Memory_Manager::clear_server_waiting_mark(int sem_group_id)
{
    if (attached_run_stopped())
        return;  // the record belongs to the next run now
    try {
        set_server_waiting_mark_ex(sem_group_id, NOBODY);
    } catch (const std::exception& e) {
        log_err(std::string("[Framework_Shared_Memory_Manager][wait_cmd_ex] ") + e.what());
    }
}

bool Framework_Shared_Memory_Manager::is_server_waiting_for_command_ex(int cmd_id)
{
    check_channel_data_input_param_ex("is_server_waiting_for_command_ex", SOURCE_FILE, __LINE__, cmd_id, true, false);
    const int g = m_pair_sem_ids[static_cast<std::size_t>(cmd_id)].id_to_send;
    check_sem_data_input_param_ex("is_server_waiting_for_command_ex", SOURCE_FILE, __LINE__, g, false, false, -1, -1,
                                  -1);
    return shared_load(group_record(g).is_server_waiting_cmd_setter) != NOBODY;
}

void Framework_Shared_Memory_Manager::send_cmd_ex(int cmd_id)
{
    check_channel_data_input_param_ex("send_cmd_ex", SOURCE_FILE, __LINE__, cmd_id, true, false);
    const int g = m_pair_sem_ids[static_cast<std::size_t>(cmd_id)].id_to_send;
    check_sem_data_input_param_ex("send_cmd_ex", SOURCE_FILE, __LINE__, g, false, false, -1, -1, -1);
    if (shared_load(group_record(g).is_server_waiting_cmd_setter) == NOBODY)
        throw std::runtime_error("[Framework_Shared_Memory_Manager][send_cmd] No server is waiting for a command!");
    post_sem_data_group_ex(g, true, -1);
}

bool Framework_Shared_Memory_Manager::wait_answer_ex(int cmd_id, double timeout_ms)
{
    check_channel_data_input_param_ex("wait_answer_ex", SOURCE_FILE, __LINE__, cmd_id, true, false);
    const Pair_Sem_Ids& entry = m_pair_sem_ids[static_cast<std::size_t>(cmd_id)];
    return wait_sem_data_group_ex(entry.id_to_recv, timeout_ms, entry.ack_on_poster_release, nullptr);
}

bool Framework_Shared_Memory_Manager::send_cmd_and_wait_answer_ex(int cmd_id, double timeout_ms)
{
    send_cmd_ex(cmd_id);
    return wait_answer_ex(cmd_id, timeout_ms);
}

// The server is marked as waiting for exactly as long as it is inside the
// wait, whichever way the wait ends.
bool Framework_Shared_Memory_Manager::wait_cmd_ex(int cmd_id, double timeout_ms)
{
    check_channel_data_input_param_ex("wait_cmd_ex", SOURCE_FILE, __LINE__, cmd_id, false, true);
    Pair_Sem_Ids& entry = m_pair_sem_ids[static_cast<std::size_t>(cmd_id)];
    const int g = entry.id_to_recv;
    set_server_waiting_mark_ex(g, my_application_id());
    bool received;
    try {
        received = wait_sem_data_group_ex(g, timeout_ms, entry.ack_on_poster_release, &entry.app_id_to_reply);
    } catch (...) {
        clear_server_waiting_mark(g);
        throw;
    }
    set_server_waiting_mark_ex(g, NOBODY);
    return received;
}

// Only the client whose command was taken, and only while it still holds
// the command group, gets the answer.
void Framework_Shared_Memory_Manager::send_answer_ex(int cmd_id)
{
    check_channel_data_input_param_ex("send_answer_ex", SOURCE_FILE, __LINE__, cmd_id, false, true);
    const Pair_Sem_Ids& entry = m_pair_sem_ids[static_cast<std::size_t>(cmd_id)];
    check_sem_data_input_param_ex("send_answer_ex", SOURCE_FILE, __LINE__, entry.id_to_recv, false, false, -1, -1, -1);
    const int32_t holder = shared_load(group_record(entry.id_to_recv).rw_app_id);
    if (entry.app_id_to_reply == NOBODY || holder != entry.app_id_to_reply)
        throw std::runtime_error(
            "[Framework_Shared_Memory_Manager][send_answer] Error, application that sent command "
            "has not taken the _sender semaphore anymore");
    post_sem_data_group_ex(entry.id_to_send, false, entry.app_id_to_reply);
}

void Framework_Shared_Memory_Manager::clear_cmd_from_client_ex(int cmd_id)
{
    check_channel_data_input_param_ex("clear_cmd_from_client_ex", SOURCE_FILE, __LINE__, cmd_id, true, false);
    const Pair_Sem_Ids& entry = m_pair_sem_ids[static_cast<std::size_t>(cmd_id)];
    check_sem_data_input_param_ex("clear_cmd_from_client_ex", SOURCE_FILE, __LINE__, entry.id_to_send, false, false, -1,
                                  -1, -1);
    const int32_t holder = shared_load(group_record(entry.id_to_send).rw_app_id);
    if (holder != my_application_id()) {
        log_inf("Framework_Shared_Memory_Manager::clear_cmd_from_client -> rw_app_id =" + num2str(holder) +
                " app_num_with_offset = " + num2str(my_application_id()) + ", nothing to do");
        return;
    }
    drain_own_group_semaphore_ex(entry.id_to_send, "while cleaning id_to_send ");
    drain_own_group_semaphore_ex(entry.id_to_recv, "while cleaning id_to_recv ");
}

void Framework_Shared_Memory_Manager::drain_own_group_semaphore_ex(int sem_group_id, const char* getvalue_error)
{
    const std::string method = "[Framework_Shared_Memory_Manager][clear_cmd_from_client] ";
    sem_t* sem = &own_group_row_ex(sem_group_id, "clear_cmd_from_client_ex").sem;
    const std::string me = num2str(my_application_id());
    int value = 0;
    if (sem_getvalue(sem, &value) != 0) {
        const int err = errno;
        throw std::runtime_error(method + "Failed to sem getvalue " + me + std::strerror(err));
    }
    while (value > 0) {
        if (sem_trywait(sem) != 0) {
            const int err = errno;
            if (err != EAGAIN)
                throw std::runtime_error(method + "Failed to sem_wait... " + std::strerror(err));
            log_inf("Framework_Shared_Memory_Manager::clear_cmd_from_client -> sem_trywait() EAGAIN");
        }
        if (sem_getvalue(sem, &value) != 0) {
            const int err = errno;
            throw std::runtime_error(method + "Failed to sem getvalue " + getvalue_error + me + std::strerror(err));
        }
    }
}

// ---- data description ------------------------------------------------------------------------------

int Framework_Shared_Memory_Manager::get_cmd_data_id_to_send_ex(int cmd_id, std::string data_label)
{
    check_channel_data_input_param_ex("get_cmd_data_id_to_send_ex", SOURCE_FILE, __LINE__, cmd_id, false, false);
    return get_sem_data_group_data_id_ex(m_pair_sem_ids[static_cast<std::size_t>(cmd_id)].id_to_send, data_label);
}

int Framework_Shared_Memory_Manager::get_cmd_data_id_to_recv_ex(int cmd_id, std::string data_label)
{
    check_channel_data_input_param_ex("get_cmd_data_id_to_recv_ex", SOURCE_FILE, __LINE__, cmd_id, false, false);
    return get_sem_data_group_data_id_ex(m_pair_sem_ids[static_cast<std::size_t>(cmd_id)].id_to_recv, data_label);
}

Type_Definition Framework_Shared_Memory_Manager::get_send_data_type_ex(int cmd_id, int data_id)
{
    check_channel_data_input_param_ex("get_send_data_type_ex", SOURCE_FILE, __LINE__, cmd_id, false, false);
    const int g = m_pair_sem_ids[static_cast<std::size_t>(cmd_id)].id_to_send;
    check_sem_datum_param_ex("get_send_data_type_ex", SOURCE_FILE, __LINE__, g, false, false, data_id, -1, -1);
    return datum_record(g, data_id).type;
}

Type_Definition Framework_Shared_Memory_Manager::get_recv_data_type_ex(int cmd_id, int data_id)
{
    check_channel_data_input_param_ex("get_recv_data_type_ex", SOURCE_FILE, __LINE__, cmd_id, false, false);
    const int g = m_pair_sem_ids[static_cast<std::size_t>(cmd_id)].id_to_recv;
    check_sem_datum_param_ex("get_recv_data_type_ex", SOURCE_FILE, __LINE__, g, false, false, data_id, -1, -1);
    return datum_record(g, data_id).type;
}

unsigned Framework_Shared_Memory_Manager::get_send_data_dim_ex(int cmd_id, int data_id)
{
    check_channel_data_input_param_ex("get_send_data_dim_ex", SOURCE_FILE, __LINE__, cmd_id, false, false);
    const int g = m_pair_sem_ids[static_cast<std::size_t>(cmd_id)].id_to_send;
    check_sem_datum_param_ex("get_send_data_dim_ex", SOURCE_FILE, __LINE__, g, false, false, data_id, -1, -1);
    return datum_record(g, data_id).byte_dim;
}

unsigned Framework_Shared_Memory_Manager::get_recv_data_dim_ex(int cmd_id, int data_id)
{
    check_channel_data_input_param_ex("get_recv_data_dim_ex", SOURCE_FILE, __LINE__, cmd_id, false, false);
    const int g = m_pair_sem_ids[static_cast<std::size_t>(cmd_id)].id_to_recv;
    check_sem_datum_param_ex("get_recv_data_dim_ex", SOURCE_FILE, __LINE__, g, false, false, data_id, -1, -1);
    return datum_record(g, data_id).byte_dim;
}

unsigned Framework_Shared_Memory_Manager::get_cmd_data_dim_ex(int cmd_id, int data_id)
{
    check_channel_data_input_param_ex("get_cmd_data_dim_ex", SOURCE_FILE, __LINE__, cmd_id, false, false);
    return get_sem_data_group_data_dim_ex(cmd_group(cmd_id), data_id);
}

unsigned Framework_Shared_Memory_Manager::get_answ_data_dim_ex(int cmd_id, int data_id)
{
    check_channel_data_input_param_ex("get_answ_data_dim_ex", SOURCE_FILE, __LINE__, cmd_id, false, false);
    return get_sem_data_group_data_dim_ex(answ_group(cmd_id), data_id);
}

Type_Definition Framework_Shared_Memory_Manager::get_cmd_data_type_ex(int cmd_id, int data_id)
{
    check_channel_data_input_param_ex("get_cmd_data_type_ex", SOURCE_FILE, __LINE__, cmd_id, false, false);
    return get_sem_data_group_data_type_ex(cmd_group(cmd_id), data_id);
}

Type_Definition Framework_Shared_Memory_Manager::get_answ_data_type_ex(int cmd_id, int data_id)
{
    check_channel_data_input_param_ex("get_answ_data_type_ex", SOURCE_FILE, __LINE__, cmd_id, false, false);
    return get_sem_data_group_data_type_ex(answ_group(cmd_id), data_id);
}

unsigned Framework_Shared_Memory_Manager::get_cmd_data_byte_array_dim_ex(int cmd_id, int data_id, bool as_client)
{
    check_channel_data_input_param_ex("get_cmd_data_byte_array_dim_ex", SOURCE_FILE, __LINE__, cmd_id, as_client,
                                      !as_client);
    return get_sem_data_group_data_byte_array_dim_ex(cmd_group(cmd_id), data_id);
}

unsigned Framework_Shared_Memory_Manager::get_answ_data_byte_array_dim_ex(int cmd_id, int data_id, bool as_client)
{
    check_channel_data_input_param_ex("get_answ_data_byte_array_dim_ex", SOURCE_FILE, __LINE__, cmd_id, as_client,
                                      !as_client);
    return get_sem_data_group_data_byte_array_dim_ex(answ_group(cmd_id), data_id);
}

std::vector<std::string> Framework_Shared_Memory_Manager::get_list_cmd_send_data_args_ex(int cmd_id)
{
    check_channel_data_input_param_ex("get_list_cmd_send_data_args_ex", SOURCE_FILE, __LINE__, cmd_id, false, false);
    return get_list_sem_data_group_data_name_from_id_ex(m_pair_sem_ids[static_cast<std::size_t>(cmd_id)].id_to_send);
}

std::vector<std::string> Framework_Shared_Memory_Manager::get_list_cmd_recv_data_args_ex(int cmd_id)
{
    check_channel_data_input_param_ex("get_list_cmd_recv_data_args_ex", SOURCE_FILE, __LINE__, cmd_id, false, false);
    return get_list_sem_data_group_data_name_from_id_ex(m_pair_sem_ids[static_cast<std::size_t>(cmd_id)].id_to_recv);
}

// ---- typed data ---------------------------------------------------------------------------------------

template <typename T>
void Framework_Shared_Memory_Manager::set_cmd_data_ex(int cmd_id, int data_id, T data_value)
{
    check_channel_data_input_param_ex("set_cmd_data_ex", SOURCE_FILE, __LINE__, cmd_id, true, false);
    set_sem_data_group_data_ex<T>(m_pair_sem_ids[static_cast<std::size_t>(cmd_id)].id_to_send, data_id, data_value);
}

template <typename T>
void Framework_Shared_Memory_Manager::set_answ_data_ex(int cmd_id, int data_id, T data_value)
{
    check_channel_data_input_param_ex("set_answ_data_ex", SOURCE_FILE, __LINE__, cmd_id, false, true);
    set_sem_data_group_data_ex<T>(m_pair_sem_ids[static_cast<std::size_t>(cmd_id)].id_to_send, data_id, data_value);
}

template <typename T>
T Framework_Shared_Memory_Manager::get_cmd_data_ex(int cmd_id, int data_id)
{
    check_channel_data_input_param_ex("get_cmd_data_ex", SOURCE_FILE, __LINE__, cmd_id, false, true);
    return get_sem_data_group_data_ex<T>(m_pair_sem_ids[static_cast<std::size_t>(cmd_id)].id_to_recv, data_id);
}

template <typename T>
T Framework_Shared_Memory_Manager::get_answ_data_ex(int cmd_id, int data_id)
{
    check_channel_data_input_param_ex("get_answ_data_ex", SOURCE_FILE, __LINE__, cmd_id, true, false);
    return get_sem_data_group_data_ex<T>(m_pair_sem_ids[static_cast<std::size_t>(cmd_id)].id_to_recv, data_id);
}

template <typename T>
T Framework_Shared_Memory_Manager::get_cmd_data_to_send_ex(int cmd_id, int data_id)
{
    check_channel_data_input_param_ex("get_cmd_data_to_send_ex", SOURCE_FILE, __LINE__, cmd_id, true, false);
    return get_sem_data_group_data_ex<T>(m_pair_sem_ids[static_cast<std::size_t>(cmd_id)].id_to_send, data_id);
}

template <typename T>
T Framework_Shared_Memory_Manager::get_answ_data_to_send_ex(int cmd_id, int data_id)
{
    check_channel_data_input_param_ex("get_answ_data_to_send_ex", SOURCE_FILE, __LINE__, cmd_id, false, true);
    return get_sem_data_group_data_ex<T>(m_pair_sem_ids[static_cast<std::size_t>(cmd_id)].id_to_send, data_id);
}

#define FRAMEWORK_SHM_CMD_TYPED_ACCESS(T)                                             \
    template void Framework_Shared_Memory_Manager::set_cmd_data_ex<T>(int, int, T);   \
    template void Framework_Shared_Memory_Manager::set_answ_data_ex<T>(int, int, T);  \
    template T Framework_Shared_Memory_Manager::get_cmd_data_ex<T>(int, int);         \
    template T Framework_Shared_Memory_Manager::get_answ_data_ex<T>(int, int);        \
    template T Framework_Shared_Memory_Manager::get_cmd_data_to_send_ex<T>(int, int); \
    template T Framework_Shared_Memory_Manager::get_answ_data_to_send_ex<T>(int, int);

#define FRAMEWORK_SHM_CMD_TYPED_ACCESS_ROW(manager_type, ...) FRAMEWORK_SHM_CMD_TYPED_ACCESS(manager_type)
FRAMEWORK_DATA_VALUE_TYPES(FRAMEWORK_SHM_CMD_TYPED_ACCESS_ROW)
#undef FRAMEWORK_SHM_CMD_TYPED_ACCESS_ROW
#undef FRAMEWORK_SHM_CMD_TYPED_ACCESS

// ---- byte arrays ----------------------------------------------------------------------------------------

void Framework_Shared_Memory_Manager::set_cmd_data_byte_array_ex(int cmd_id, int data_id, const uint8_t* array_out,
                                                                 int byte_dim, int byte_offset)
{
    check_channel_data_input_param_ex("set_cmd_data_byte_array_ex", SOURCE_FILE, __LINE__, cmd_id, true, false);
    set_sem_data_group_data_byte_array_ex(m_pair_sem_ids[static_cast<std::size_t>(cmd_id)].id_to_send, data_id,
                                          array_out, byte_dim, byte_offset);
}

void Framework_Shared_Memory_Manager::set_answ_data_byte_array_ex(int cmd_id, int data_id, const uint8_t* array_out,
                                                                  int byte_dim, int byte_offset)
{
    check_channel_data_input_param_ex("set_answ_data_byte_array_ex", SOURCE_FILE, __LINE__, cmd_id, false, true);
    set_sem_data_group_data_byte_array_ex(m_pair_sem_ids[static_cast<std::size_t>(cmd_id)].id_to_send, data_id,
                                          array_out, byte_dim, byte_offset);
}

void Framework_Shared_Memory_Manager::get_cmd_data_byte_array_ex(int cmd_id, int data_id, uint8_t* array_in,
                                                                 int byte_dim, int byte_offset)
{
    check_channel_data_input_param_ex("get_cmd_data_byte_array_ex", SOURCE_FILE, __LINE__, cmd_id, false, true);
    read_sem_data_group_byte_array_ex("get_sem_data_group_data_byte_array_ex",
                                      m_pair_sem_ids[static_cast<std::size_t>(cmd_id)].id_to_recv, data_id, array_in,
                                      byte_dim, byte_offset, true);
}

void Framework_Shared_Memory_Manager::get_answ_data_byte_array_ex(int cmd_id, int data_id, uint8_t* array_in,
                                                                  int byte_dim, int byte_offset)
{
    check_channel_data_input_param_ex("get_answ_data_byte_array_ex", SOURCE_FILE, __LINE__, cmd_id, true, false);
    read_sem_data_group_byte_array_ex("get_sem_data_group_data_byte_array_ex",
                                      m_pair_sem_ids[static_cast<std::size_t>(cmd_id)].id_to_recv, data_id, array_in,
                                      byte_dim, byte_offset, true);
}

// The group this side writes is not one it reads: its own bytes are read back
// without the reader check.
void Framework_Shared_Memory_Manager::get_cmd_data_byte_array_to_send_ex(int cmd_id, int data_id, uint8_t* array_in,
                                                                         int byte_dim, int byte_offset)
{
    check_channel_data_input_param_ex("get_cmd_data_byte_array_to_send_ex", SOURCE_FILE, __LINE__, cmd_id, true, false);
    read_sem_data_group_byte_array_ex("get_cmd_data_byte_array_to_send_ex",
                                      m_pair_sem_ids[static_cast<std::size_t>(cmd_id)].id_to_send, data_id, array_in,
                                      byte_dim, byte_offset, false);
}

void Framework_Shared_Memory_Manager::get_answ_data_byte_array_to_send_ex(int cmd_id, int data_id, uint8_t* array_in,
                                                                          int byte_dim, int byte_offset)
{
    check_channel_data_input_param_ex("get_answ_data_byte_array_to_send_ex", SOURCE_FILE, __LINE__, cmd_id, false,
                                      true);
    read_sem_data_group_byte_array_ex("get_answ_data_byte_array_to_send_ex",
                                      m_pair_sem_ids[static_cast<std::size_t>(cmd_id)].id_to_send, data_id, array_in,
                                      byte_dim, byte_offset, false);
}
