#include "framework_cmd_channel.h"

#include <time.h>

#include <sstream>
#include <stdexcept>

#include "xelo_framework_shm_manager.h"
#include "xelo_log.h"
#include "xelo_string_functions.h"

using XELO_String_Functions::num2str;

namespace {
// The codes of a command and of its answer.
const std::string CMD_VALUE = "cmd_value";
const std::string RESP_VALUE = "resp_value";

constexpr long CLIENT_POLL_PERIOD_NS = 500000;

std::string type_text(Type_Definition type)
{
    std::ostringstream text;
    text << type;
    return text.str();
}

std::string code_text(int8_t code)
{
    return num2str(static_cast<int>(code));
}

// The value that a protocol map holds for key, or the error.
template <typename Map>
typename Map::mapped_type find_in_protocol_ex(const Map& map, const typename Map::key_type& key,
                                              const std::string& error)
{
    const auto found = map.find(key);
    if (found == map.end())
        throw std::runtime_error(error);
    return found->second;
}
}  // namespace

// ---- Framework_Cmd_Channel: binding -------------------------------------------------------------

Framework_Cmd_Channel::Framework_Cmd_Channel(std::string label_text, bool is_server)
    : m_is_server(is_server), m_label(std::move(label_text)), id(m_id), label(m_label), is_acquired(m_acquired)
{
}

// Send objects go first, then receive objects.
Framework_Cmd_Channel::~Framework_Cmd_Channel()
{
    m_data_to_send_list.clear();
    m_data_to_recv_list.clear();
}

void Framework_Cmd_Channel::setup_ex(Framework_Shared_Memory_Manager* frmk_ptr)
{
    m_initialized = false;
    m_data_to_send_list.clear();
    m_data_to_recv_list.clear();
    m_n_data_to_recv = 0;
    m_n_data_to_send = 0;
    m_frmk_ptr = frmk_ptr;
    m_id = get_channel_id_ex();

    const std::string tag = "[Framework_Cmd_Channel][setup_ex] ";
    log_inf(tag + (m_is_server ? "Framework_Cmd_Server" : "Framework_Cmd_Client") + " info -->");
    log_inf(tag + "\tchannel label :: " + m_label);
    log_inf(tag + "\tchannel id    :: " + num2str(m_id));
    add_data_objects_ex(m_data_to_recv_list, m_frmk_ptr->get_list_cmd_recv_data_args_ex(m_id),
                        "\t\tData_To_Recv info -->");
    log_inf(tag + "\tn_data to recv :: " + num2str(m_data_to_recv_list.size()));
    add_data_objects_ex(m_data_to_send_list, m_frmk_ptr->get_list_cmd_send_data_args_ex(m_id),
                        "\t\tData_To_Send info -->");
    log_inf(tag + "\tn_data to send :: " + num2str(m_data_to_send_list.size()));

    m_initialized = true;
    m_n_data_to_recv = static_cast<int32_t>(m_data_to_recv_list.size());
    m_n_data_to_send = static_cast<int32_t>(m_data_to_send_list.size());
}

// An object that fails its own set-up stays in the list, to go with the channel.
template <typename Data>
void Framework_Cmd_Channel::add_data_objects_ex(std::vector<std::unique_ptr<Data>>& list,
                                                const std::vector<std::string>& data_labels, const char* header)
{
    for (const std::string& data_label : data_labels) {
        list.push_back(std::unique_ptr<Data>(new Data(m_is_server, m_id, m_label, data_label)));
        Data& data = *list.back();
        data.setup_ex(m_frmk_ptr);
        log_inf(std::string("[Framework_Cmd_Channel][setup_ex] ") + header);
        log_data_object(data, data.cmd_channel_id, data.cmd_channel_label);
    }
}

void Framework_Cmd_Channel::log_data_object(const Framework_Sem_Variable& data, int32_t channel_id,
                                            const std::string& channel_label) const
{
    const std::string tag = "[Framework_Cmd_Channel][setup_ex] \t\t\t";
    log_inf(tag + "id          :: " + num2str(data.id));
    log_inf(tag + "label       :: " + data.label);
    log_inf(tag + "type        :: " + type_text(data.type));
    log_inf(tag + "dim         :: " + num2str(data.dimension));
    log_inf(tag + "cmd_ch_id   :: " + num2str(channel_id));
    log_inf(tag + "cmd_ch_name :: " + channel_label);
}

// ---- Framework_Cmd_Channel: checks -------------------------------------------------------------

std::string Framework_Cmd_Channel::channel_tag() const
{
    return "cmd_name :: " + m_label + ", is_server :: " + (m_is_server ? "1" : "0");
}

void Framework_Cmd_Channel::check_initialized_ex(const char* method) const
{
    if (!m_initialized)
        throw std::runtime_error(std::string("[Framework_Cmd_Channel][") + method + "] not initalized! " +
                                 channel_tag());
}

void Framework_Cmd_Channel::check_bound_ex(const std::string& head) const
{
    if (!m_initialized)
        throw std::runtime_error(head + " command channel not initialized! label :: " + m_label);
}

// ---- Framework_Cmd_Channel: the data objects ----------------------------------------------------

template <typename Data>
Data* Framework_Cmd_Channel::find_data_object_ex(const std::vector<std::unique_ptr<Data>>& list,
                                                 const std::string& data_label, const char* method,
                                                 const char* what) const
{
    check_initialized_ex(method);
    for (const auto& data : list)
        if (data->label == data_label)
            return data.get();
    throw std::runtime_error(std::string("[Framework_Cmd_Channel][") + method + "] " + data_label +
                             " does not belong to cmd data to " + what + "! (" + channel_tag() + ")");
}

template <typename Data>
std::vector<std::string> Framework_Cmd_Channel::data_labels_ex(const std::vector<std::unique_ptr<Data>>& list,
                                                               const char* method) const
{
    check_initialized_ex(method);
    std::vector<std::string> labels;
    for (const auto& data : list)
        labels.push_back(data->label);
    return labels;
}

Framework_Cmd_Data_To_Recv* Framework_Cmd_Channel::get_cmd_data_to_recv_ptr_ex(const std::string& data_label) const
{
    return find_data_object_ex(m_data_to_recv_list, data_label, "get_cmd_data_to_recv_ptr_ex", "recive");
}

Framework_Cmd_Data_To_Send* Framework_Cmd_Channel::get_cmd_data_to_send_ptr_ex(const std::string& data_label) const
{
    return find_data_object_ex(m_data_to_send_list, data_label, "get_cmd_data_to_send_ptr_ex", "send");
}

uint32_t Framework_Cmd_Channel::get_cmd_data_to_recv_dim_ex(const std::string& data_label)
{
    return get_cmd_data_to_recv_ptr_ex(data_label)->dimension;
}

uint32_t Framework_Cmd_Channel::get_cmd_data_to_send_dim_ex(const std::string& data_label)
{
    return get_cmd_data_to_send_ptr_ex(data_label)->dimension;
}

Type_Definition Framework_Cmd_Channel::get_cmd_data_to_recv_type_ex(const std::string& data_label)
{
    return get_cmd_data_to_recv_ptr_ex(data_label)->type;
}

Type_Definition Framework_Cmd_Channel::get_cmd_data_to_send_type_ex(const std::string& data_label)
{
    return get_cmd_data_to_send_ptr_ex(data_label)->type;
}

std::vector<std::string> Framework_Cmd_Channel::get_cmd_data_to_recv_label_list() const
{
    return data_labels_ex(m_data_to_recv_list, "get_cmd_data_to_recv_label_list");
}

std::vector<std::string> Framework_Cmd_Channel::get_cmd_data_to_send_label_list() const
{
    return data_labels_ex(m_data_to_send_list, "get_cmd_data_to_send_label_list");
}

template <typename T>
T Framework_Cmd_Channel::get_cmd_data_to_recv_value_ex(const std::string& data_label)
{
    return get_cmd_data_to_recv_ptr_ex(data_label)->get_value_ex<T>();
}

template <typename T>
T Framework_Cmd_Channel::get_cmd_data_to_recv_value_ex(const std::string& data_label, uint32_t dim_given,
                                                       uint32_t offset)
{
    return get_cmd_data_to_recv_ptr_ex(data_label)->get_value_ex<T>(dim_given, offset);
}

template <typename T>
T Framework_Cmd_Channel::get_cmd_data_to_send_value_ex(const std::string& data_label)
{
    return get_cmd_data_to_send_ptr_ex(data_label)->get_value_ex<T>();
}

template <typename T>
T Framework_Cmd_Channel::get_cmd_data_to_send_value_ex(const std::string& data_label, uint32_t dim_given,
                                                       uint32_t offset)
{
    return get_cmd_data_to_send_ptr_ex(data_label)->get_value_ex<T>(dim_given, offset);
}

template <typename T>
void Framework_Cmd_Channel::set_cmd_data_to_send_value_ex(const std::string& data_label, T value)
{
    get_cmd_data_to_send_ptr_ex(data_label)->set_value_ex<T>(value);
}

template <typename T>
void Framework_Cmd_Channel::set_cmd_data_to_send_value_ex(const std::string& data_label, const T& value,
                                                          bool write_whole, uint32_t offset)
{
    get_cmd_data_to_send_ptr_ex(data_label)->set_value_ex<T>(value, write_whole, offset);
}

// ---- Framework_Cmd_Channel: protocol maps -------------------------------------------------------

// The flag is set before any check and stays set when the call fails.
void Framework_Cmd_Channel::init_recv_protocol_ex(int32_t n_recv, const std::string& recv_prefix)
{
    m_has_recv_ptcl = true;
    check_initialized_ex("init_recv_protocol_ex");
    m_map_to_recv.clear();
    check_protocol_size_ex("init_recv_protocol_ex", "recv", n_recv, init_ptcl_ex(recv_prefix, true));
}

void Framework_Cmd_Channel::init_send_protocol_ex(int32_t n_send, const std::string& send_prefix)
{
    m_has_send_ptcl = true;
    check_initialized_ex("init_send_protocol_ex");
    m_map_to_send.clear();
    check_protocol_size_ex("init_send_protocol_ex", "send", n_send, init_ptcl_ex(send_prefix, false));
}

// A map that does not hold the required number of entries keeps what it found.
void Framework_Cmd_Channel::check_protocol_size_ex(const char* method, const char* ptcl, int32_t required,
                                                   int32_t found) const
{
    if (found == required)
        return;
    log_err(std::string("[Framework_Cmd_Channel][") + method + "] Framework_Cmd_Channel " + m_label + " " + ptcl +
            "_ptcl size mismatch! required :: " + num2str(required) + ", found :: " + num2str(found));
    throw std::runtime_error("Framework_Cmd_Channel " + m_label + " " + ptcl + " protocol size mismatch!");
}

// Every input whose label begins with the prefix names one entry: the rest
// of the label is the name, the input's int8 value the code. The lowest input
// id wins a name (send map) or a code (receive map) given twice; every
// matching input counts. Failures of the manager pass through.
int32_t Framework_Cmd_Channel::init_ptcl_ex(const std::string& prefix_ptcl, bool is_recv)
{
    int32_t found_values = 0;
    const int n_inputs = static_cast<int>(m_frmk_ptr->get_input_total_number());
    for (int input = 0; input < n_inputs; ++input) {
        const std::string input_label = m_frmk_ptr->get_input_label_ex(input, false);
        if (input_label.compare(0, prefix_ptcl.size(), prefix_ptcl) != 0)
            continue;
        const std::string name = input_label.substr(prefix_ptcl.size());
        const int8_t code = m_frmk_ptr->get_input_ex<signed char>(m_frmk_ptr->get_input_id_ex(input_label), false);
        if (is_recv)
            m_map_to_recv.emplace(code, name);
        else
            m_map_to_send.emplace(name, code);
        ++found_values;
    }
    return found_values;
}

// ---- Framework_Cmd_Server ---------------------------------------------------------------------------

Framework_Cmd_Server::Framework_Cmd_Server(std::string channel_name)
    : Framework_Cmd_Channel(std::move(channel_name), true), n_cmd_data(m_n_data_to_recv), n_answ_data(m_n_data_to_send),
      has_cmd_protocol(m_has_recv_ptcl), has_answ_protocol(m_has_send_ptcl)
{
}

Framework_Cmd_Server::~Framework_Cmd_Server()
{
    try {
        release_ex();
    } catch (const std::exception&) {
    }
}

int32_t Framework_Cmd_Server::get_channel_id_ex()
{
    return m_frmk_ptr->get_cmd_channel_id_as_server_ex(m_label);
}

bool Framework_Cmd_Server::try_acquire_ex()
{
    check_bound_ex("[Framework_Cmd_Server][try_acquire_ex] server");
    m_acquired = m_frmk_ptr->try_acquire_cmd_as_server_ex(m_id);
    return m_acquired;
}

void Framework_Cmd_Server::release_ex()
{
    if (!m_acquired)
        return;
    m_frmk_ptr->release_cmd_as_server_ex(m_id);
    m_acquired = false;
}

std::vector<std::string> Framework_Cmd_Server::get_cmd_data_labels_ex() const
{
    return get_cmd_data_to_recv_label_list();
}

std::vector<std::string> Framework_Cmd_Server::get_answ_data_labels_ex() const
{
    return get_cmd_data_to_send_label_list();
}

uint32_t Framework_Cmd_Server::get_cmd_data_dim_ex(const std::string& data_label)
{
    return get_cmd_data_to_recv_dim_ex(data_label);
}

uint32_t Framework_Cmd_Server::get_answ_data_dim_ex(const std::string& data_label)
{
    return get_cmd_data_to_send_dim_ex(data_label);
}

Type_Definition Framework_Cmd_Server::get_cmd_data_type_ex(const std::string& data_label)
{
    return get_cmd_data_to_recv_type_ex(data_label);
}

Type_Definition Framework_Cmd_Server::get_answ_data_type_ex(const std::string& data_label)
{
    return get_cmd_data_to_send_type_ex(data_label);
}

template <typename T>
T Framework_Cmd_Server::get_cmd_data_ex(const std::string& data_label)
{
    return get_cmd_data_to_recv_value_ex<T>(data_label);
}

template <typename T>
T Framework_Cmd_Server::get_cmd_data_ex(const std::string& data_label, uint32_t dim_given, uint32_t offset)
{
    return get_cmd_data_to_recv_value_ex<T>(data_label, dim_given, offset);
}

template <typename T>
T Framework_Cmd_Server::get_answ_data_ex(const std::string& data_label)
{
    return get_cmd_data_to_send_value_ex<T>(data_label);
}

template <typename T>
T Framework_Cmd_Server::get_answ_data_ex(const std::string& data_label, uint32_t dim_given, uint32_t offset)
{
    return get_cmd_data_to_send_value_ex<T>(data_label, dim_given, offset);
}

template <typename T>
void Framework_Cmd_Server::set_answ_data_ex(const std::string& data_label, T value)
{
    set_cmd_data_to_send_value_ex<T>(data_label, value);
}

template <typename T>
void Framework_Cmd_Server::set_answ_data_ex(const std::string& data_label, const T& value, bool write_whole,
                                            uint32_t offset)
{
    set_cmd_data_to_send_value_ex<T>(data_label, value, write_whole, offset);
}

std::map<int8_t, std::string> Framework_Cmd_Server::init_cmd_ptcl_ex(int32_t n_cmds, const std::string& cmd_ptcl_prefix)
{
    init_recv_protocol_ex(n_cmds, cmd_ptcl_prefix);
    return m_map_to_recv;
}

std::map<std::string, int8_t> Framework_Cmd_Server::init_answ_ptcl_ex(int32_t n_answs,
                                                                      const std::string& answ_ptcl_prefix)
{
    init_send_protocol_ex(n_answs, answ_ptcl_prefix);
    return m_map_to_send;
}

bool Framework_Cmd_Server::wait_command_ex(double timeout_ms)
{
    check_bound_ex("[Framework_Cmd_Server][wait_command_ex] server");
    return m_frmk_ptr->wait_cmd_ex(m_id, timeout_ms);
}

int8_t Framework_Cmd_Server::get_last_received_command_ex()
{
    check_bound_ex("[Framework_Cmd_Server][get_last_received_command_ex] server");
    return get_cmd_data_ex<int8_t>(CMD_VALUE);
}

std::string Framework_Cmd_Server::get_last_received_command_label_ex()
{
    const std::string head = "[Framework_Cmd_Server][get_last_received_command_label_ex] ";
    if (!m_has_recv_ptcl)
        throw std::runtime_error(head + "server command channel does not have answer protocol! label :: " + m_label);
    const int8_t code = get_last_received_command_ex();
    return find_in_protocol_ex(m_map_to_recv, code,
                               head + "Cmd_Server " + m_label + " --> recived value " + code_text(code) +
                                   " not present in command protocol map!");
}

void Framework_Cmd_Server::send_answer_ex(int8_t answ)
{
    check_bound_ex("[Framework_Cmd_Server][send_answer_ex] server");
    set_answ_data_ex<int8_t>(RESP_VALUE, answ);
    m_frmk_ptr->send_answer_ex(m_id);
}

void Framework_Cmd_Server::send_answer_ex(const std::string& answ)
{
    const std::string head = "[Framework_Cmd_Server][send_answer_ex] ";
    if (!m_has_send_ptcl)
        throw std::runtime_error(head + "server command channel does not have answer protocol! label :: " + m_label);
    send_answer_ex(
        find_in_protocol_ex(m_map_to_send, answ,
                            head + "Cmd_Server " + m_label + " --> " + answ + " not present in answer protocol map!"));
}

// ---- Framework_Cmd_Client ---------------------------------------------------------------------------

Framework_Cmd_Client::Framework_Cmd_Client(std::string channel_name)
    : Framework_Cmd_Channel(std::move(channel_name), false), n_cmd_data(m_n_data_to_send),
      n_answ_data(m_n_data_to_recv), has_cmd_protocol(m_has_send_ptcl), has_answ_protocol(m_has_recv_ptcl)
{
}

Framework_Cmd_Client::~Framework_Cmd_Client()
{
    try {
        release_ex();
    } catch (const std::exception&) {
    }
}

int32_t Framework_Cmd_Client::get_channel_id_ex()
{
    return m_frmk_ptr->get_cmd_channel_id_as_client_ex(m_label);
}

bool Framework_Cmd_Client::try_acquire_ex()
{
    check_bound_ex("[Framework_Cmd_Client][try_acquire_ex] client");
    m_acquired = m_frmk_ptr->try_acquire_cmd_as_client_ex(m_id);
    return m_acquired;
}

void Framework_Cmd_Client::release_ex()
{
    if (!m_acquired)
        return;
    m_frmk_ptr->release_cmd_as_client_ex(m_id);
    m_acquired = false;
}

std::vector<std::string> Framework_Cmd_Client::get_cmd_data_labels_ex() const
{
    return get_cmd_data_to_send_label_list();
}

std::vector<std::string> Framework_Cmd_Client::get_answ_data_labels_ex() const
{
    return get_cmd_data_to_recv_label_list();
}

uint32_t Framework_Cmd_Client::get_cmd_data_dim_ex(const std::string& data_label)
{
    return get_cmd_data_to_send_dim_ex(data_label);
}

uint32_t Framework_Cmd_Client::get_answ_data_dim_ex(const std::string& data_label)
{
    return get_cmd_data_to_recv_dim_ex(data_label);
}

Type_Definition Framework_Cmd_Client::get_cmd_data_type_ex(const std::string& data_label)
{
    return get_cmd_data_to_send_type_ex(data_label);
}

Type_Definition Framework_Cmd_Client::get_answ_data_type_ex(const std::string& data_label)
{
    return get_cmd_data_to_recv_type_ex(data_label);
}

template <typename T>
T Framework_Cmd_Client::get_cmd_data_ex(const std::string& data_label)
{
    return get_cmd_data_to_send_value_ex<T>(data_label);
}

template <typename T>
T Framework_Cmd_Client::get_cmd_data_ex(const std::string& data_label, uint32_t dim_given, uint32_t offset)
{
    return get_cmd_data_to_send_value_ex<T>(data_label, dim_given, offset);
}

template <typename T>
T Framework_Cmd_Client::get_answ_data_ex(const std::string& data_label)
{
    return get_cmd_data_to_recv_value_ex<T>(data_label);
}

template <typename T>
T Framework_Cmd_Client::get_answ_data_ex(const std::string& data_label, uint32_t dim_given, uint32_t offset)
{
    return get_cmd_data_to_recv_value_ex<T>(data_label, dim_given, offset);
}

template <typename T>
void Framework_Cmd_Client::set_cmd_data_ex(const std::string& data_label, T value)
{
    set_cmd_data_to_send_value_ex<T>(data_label, value);
}

template <typename T>
void Framework_Cmd_Client::set_cmd_data_ex(const std::string& data_label, const T& value, bool write_whole,
                                           uint32_t offset)
{
    set_cmd_data_to_send_value_ex<T>(data_label, value, write_whole, offset);
}

std::map<int8_t, std::string> Framework_Cmd_Client::init_answ_ptcl_ex(int32_t n_answs,
                                                                      const std::string& answ_ptcl_prefix)
{
    init_recv_protocol_ex(n_answs, answ_ptcl_prefix);
    return m_map_to_recv;
}

std::map<std::string, int8_t> Framework_Cmd_Client::init_cmd_ptcl_ex(int32_t n_cmds, const std::string& cmd_ptcl_prefix)
{
    init_send_protocol_ex(n_cmds, cmd_ptcl_prefix);
    return m_map_to_send;
}

void Framework_Cmd_Client::clear_command_channel_ex()
{
    check_bound_ex("[Framework_Cmd_Client][clear_command_channel_ex] client");
    m_frmk_ptr->clear_cmd_from_client_ex(m_id);
}

// The code is written before any waiting: a send that fails leaves it in the
// command data.
void Framework_Cmd_Client::send_command_ex(int8_t cmd, int32_t timeout_ms)
{
    check_bound_ex("[Framework_Cmd_Client][send_cmd_ex] client");
    set_cmd_data_ex<int8_t>(CMD_VALUE, cmd);
    if (timeout_ms != 0)
        wait_for_server_ex(timeout_ms);
    m_frmk_ptr->send_cmd_ex(m_id);
}

// The time-out is a budget of 2 x timeout_ms polls 0.5 ms apart after the
// first one, not a deadline; a negative time-out polls without limit.
void Framework_Cmd_Client::wait_for_server_ex(int32_t timeout_ms)
{
    const int64_t n_retry = 2 * int64_t{timeout_ms};
    int64_t current_retry = 0;
    while (!m_frmk_ptr->is_server_waiting_for_command_ex(m_id)) {
        ++current_retry;
        if (timeout_ms > 0 && current_retry > n_retry)
            throw std::runtime_error(
                "[Framework_Cmd_Client][send_command_ex] No server is waiting for command "
                "(client :: " +
                m_label + ", timeout [ms] :: " + num2str(timeout_ms) + ")");
        const timespec pause = {0, CLIENT_POLL_PERIOD_NS};
        clock_nanosleep(CLOCK_REALTIME, 0, &pause, nullptr);
    }
}

void Framework_Cmd_Client::send_command_ex(const std::string& cmd, int32_t timeout_ms)
{
    if (!m_has_send_ptcl)
        throw std::runtime_error(
            "[Framework_Cmd_Client][send_cmd_ex] client command channel does not have command protocol! label :: " +
            m_label);
    send_command_ex(find_in_protocol_ex(m_map_to_send, cmd,
                                        "[Framework_Cmd_Client][send_command_ex] Cmd_Client " + m_label + " --> " +
                                            cmd + " not present in command protocol map!"),
                    timeout_ms);
}

bool Framework_Cmd_Client::wait_answer_ex(double timeout_ms)
{
    check_bound_ex("[Framework_Cmd_Client][send_cmd_ex] client");
    return m_frmk_ptr->wait_answer_ex(m_id, timeout_ms);
}

int8_t Framework_Cmd_Client::get_last_received_answer_ex()
{
    check_bound_ex("[Framework_Cmd_Client][get_last_received_answer_label_ex] client");
    return get_answ_data_ex<int8_t>(RESP_VALUE);
}

std::string Framework_Cmd_Client::get_last_received_answer_label_ex()
{
    const std::string head = "[Framework_Cmd_Client][get_last_received_answer_label_ex] ";
    if (!m_has_recv_ptcl)
        throw std::runtime_error(head + "client command channel does not have answer protocol! label :: " + m_label);
    const int8_t code = get_last_received_answer_ex();
    return find_in_protocol_ex(m_map_to_recv, code,
                               head + "Cmd_Server" + m_label + " --> recived value " + code_text(code) +
                                   " not present in answer protocol map!");
}

// ---- template instances ------------------------------------------------------------------------------

#define FRAMEWORK_CMD_CHANNEL_VALUE(T)                                                            \
    template T Framework_Cmd_Channel::get_cmd_data_to_recv_value_ex<T>(const std::string&);       \
    template T Framework_Cmd_Channel::get_cmd_data_to_send_value_ex<T>(const std::string&);       \
    template void Framework_Cmd_Channel::set_cmd_data_to_send_value_ex<T>(const std::string&, T); \
    template T Framework_Cmd_Server::get_cmd_data_ex<T>(const std::string&);                      \
    template T Framework_Cmd_Server::get_answ_data_ex<T>(const std::string&);                     \
    template void Framework_Cmd_Server::set_answ_data_ex<T>(const std::string&, T);               \
    template T Framework_Cmd_Client::get_cmd_data_ex<T>(const std::string&);                      \
    template T Framework_Cmd_Client::get_answ_data_ex<T>(const std::string&);                     \
    template void Framework_Cmd_Client::set_cmd_data_ex<T>(const std::string&, T);

#define FRAMEWORK_CMD_CHANNEL_SLICE(T)                                                                          \
    FRAMEWORK_CMD_CHANNEL_VALUE(T)                                                                              \
    template T Framework_Cmd_Channel::get_cmd_data_to_recv_value_ex<T>(const std::string&, uint32_t, uint32_t); \
    template T Framework_Cmd_Channel::get_cmd_data_to_send_value_ex<T>(const std::string&, uint32_t, uint32_t); \
    template void Framework_Cmd_Channel::set_cmd_data_to_send_value_ex<T>(const std::string&, const T&, bool,   \
                                                                          uint32_t);                            \
    template T Framework_Cmd_Server::get_cmd_data_ex<T>(const std::string&, uint32_t, uint32_t);                \
    template T Framework_Cmd_Server::get_answ_data_ex<T>(const std::string&, uint32_t, uint32_t);               \
    template void Framework_Cmd_Server::set_answ_data_ex<T>(const std::string&, const T&, bool, uint32_t);      \
    template T Framework_Cmd_Client::get_cmd_data_ex<T>(const std::string&, uint32_t, uint32_t);                \
    template T Framework_Cmd_Client::get_answ_data_ex<T>(const std::string&, uint32_t, uint32_t);               \
    template void Framework_Cmd_Client::set_cmd_data_ex<T>(const std::string&, const T&, bool, uint32_t);

#define FRAMEWORK_CMD_CHANNEL_VALUE_ROW(manager_type, fixed_type, ...) FRAMEWORK_CMD_CHANNEL_VALUE(manager_type)
FRAMEWORK_DATA_VALUE_TYPES(FRAMEWORK_CMD_CHANNEL_VALUE_ROW)
#undef FRAMEWORK_CMD_CHANNEL_VALUE_ROW
FRAMEWORK_CMD_CHANNEL_SLICE(std::vector<uint8_t>)
FRAMEWORK_CMD_CHANNEL_SLICE(std::string)
#undef FRAMEWORK_CMD_CHANNEL_SLICE
#undef FRAMEWORK_CMD_CHANNEL_VALUE
