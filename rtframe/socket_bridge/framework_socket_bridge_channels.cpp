// The data-group channels (port 60100 + entry) and the command channels
// (port 60200 + entry). The board that holds a group's writer, or a
// command's clients, is the output side and connects; the other board is
// the input side and listens. Waits for the local framework are taken in
// slices with a check of the manager between them, so that every loop ends
// soon after the bridge stops.
#include <algorithm>
#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

#include "bridge_wire.h"
#include "framework_socket_bridge.h"
#include "terminal_colour.h"
#include "xelo_log.h"

namespace {
constexpr double WAIT_SLICE_MS = 500.0;
constexpr long IDLE_PAUSE_MS = 100;
constexpr long NO_COMMAND_DATA_PAUSE_MS = 1000;
constexpr const char* MAGENTA = terminal_colour::BOLD_MAGENTA;
constexpr const char* GREEN = terminal_colour::BOLD_GREEN;
constexpr const char* CYAN = terminal_colour::BOLD_CYAN;
constexpr const char* YELLOW = terminal_colour::YELLOW;
using terminal_colour::coloured;
const char* const MISMATCH = "Error in checking correspondance master-slave";

std::string text_of(uint32_t value)
{
    return std::to_string(value);
}

std::string code_of(Type_Definition type)
{
    return std::to_string(static_cast<int>(type));
}

// The first item the peer did not match, or -1.
long first_refused(const std::vector<uint8_t>& answers)
{
    const auto found = std::find(answers.begin(), answers.end(), bridge_wire::ITEM_NOT_MATCHED);
    return found == answers.end() ? -1 : static_cast<long>(found - answers.begin());
}

const char* base_name(const char* path)
{
    const char* slash = std::strrchr(path, '/');
    return slash == nullptr ? path : slash + 1;
}
}  // namespace

// ---- data groups: output side -----------------------------------------------------------------

void Framework_Socket_Bridge::output_sem_data_group_client_socket_init_ex(void* socket_object, int instance_id)
{
    auto* socket = static_cast<Socket_Client_Tcp*>(socket_object);
    Bridge_Framework_Interface& bfi = m_bridge_framework_interface;
    const unsigned index = static_cast<unsigned>(instance_id);
    const std::string name = bfi.output_semaphorized_data[index].sem_name;
    try {
        const int port = bridge_wire::SEM_DATA_PORT_BASE + instance_id;
        log_inf(coloured(MAGENTA, "Trying to setup sem data group " + name + " client socket " + peer_address() + ":" +
                                      std::to_string(port)));
        socket->set_up_socket(peer_address(), port, bridge_wire::SOCKET_TIMEOUT_MS, true);
        log_inf(coloured(GREEN, "Sem data group " + name + " client socket setup correctly"));
        log_inf(coloured(CYAN, "Checking server correspondance of sem data group " + name + " data"));
        const uint32_t own = bfi.get_output_sem_data_len(index);
        const uint32_t server = send_receive_check_len_to_server(socket, own);
        if (server != own) {
            log_err("Sem data group " + name + " data len = " + text_of(own) + " in client while " + text_of(server) +
                    " in server");
            throw std::runtime_error(MISMATCH);
        }
        const std::vector<std::string> names = bfi.get_output_sem_data_name_list(instance_id);
        const std::vector<Type_Definition> types = bfi.get_output_sem_data_type_list(instance_id);
        std::vector<uint8_t> answers(names.size());
        send_receive_check_message_to_server(socket, names, types, answers.data());
        if (const long k = first_refused(answers); k >= 0) {
            log_err("Sem data group " + name + " data name " + names[k] + " of type " + code_of(types[k]) +
                    " not found in client at pos " + std::to_string(k));
            throw std::runtime_error(MISMATCH);
        }
        log_inf(coloured(GREEN, "Server correspondance of sem data group " + name + " data correctly checked"));
    } catch (const std::exception& error) {
        log_err(
            "[Framework_Socket_Bridge][output_sem_data_group_client_socket_init_ex] error while setting up sem "
            "data group " +
            name + " client socket: " + error.what());
        socket->close_socket();
        throw std::exception();
    }
}

// One delivery per post, sent whole: the slot count, then one group image
// (count 0) or the collected ring slots, oldest first.
void Framework_Socket_Bridge::output_sem_data_group_client_socket_run_ex(void* socket_object, int instance_id)
{
    auto* socket = static_cast<Socket_Client_Tcp*>(socket_object);
    Bridge_Framework_Interface& bfi = m_bridge_framework_interface;
    const unsigned index = static_cast<unsigned>(instance_id);
    const SemVarDescriptor& group = bfi.output_semaphorized_data[index];
    const std::string name = group.sem_name;
    const std::string manager_stopped = "output sem data group client " + name + " --> manager not running";
    try {
        const std::size_t image = bfi.get_output_sem_data_len(index);
        const std::size_t slots = std::max<std::size_t>(group.ring_buffer_slot_number, 1);
        std::vector<uint8_t> delivery(bridge_wire::SLOT_COUNT_BYTES + slots * image, 0);
        uint8_t* images = delivery.data() + bridge_wire::SLOT_COUNT_BYTES;
        for (;;) {
            check_stop();
            throw_if_thread_manager_is_not_running(manager_stopped);
            if (!bfi.wait_sem(index, WAIT_SLICE_MS))
                continue;
            // A stopping framework wakes every semaphore: that is no post.
            check_stop();
            bfi.get_all_ring_buffer_slots(index);
            const uint32_t count = bfi.get_output_sem_available_ring_buffer_slots(index);
            bridge_wire::put_le32(delivery.data(), count);
            if (count == 0) {
                std::fill(images, images + image, 0);
                bfi.get_output_sem_data(index, images);
            } else {
                for (uint32_t k = 0; k < count; ++k)
                    bfi.get_output_sem_data_ring_buffer_slot(index, k, images + k * image);
            }
            const std::size_t length = bridge_wire::SLOT_COUNT_BYTES + std::max<uint32_t>(count, 1) * image;
            socket->send_message_ex(delivery.data(), static_cast<unsigned>(length), 0);
        }
    } catch (const std::exception& error) {
        log_err(
            "[Framework_Socket_Bridge][output_sem_data_group_client_socket_run_ex] error while setting up sem data "
            "group " +
            name + " client socket: " + error.what());
        socket->close_socket_at_once();
        throw std::exception();
    }
}

// ---- data groups: input side --------------------------------------------------------------------

void Framework_Socket_Bridge::input_sem_data_group_server_socket_init_ex(void* socket_object, int instance_id)
{
    auto* socket = static_cast<Socket_Server_Tcp*>(socket_object);
    Bridge_Framework_Interface& bfi = m_bridge_framework_interface;
    const unsigned index = static_cast<unsigned>(instance_id);
    const std::string name = bfi.input_semaphorized_data[index].sem_name;
    try {
        bfi.post_input_sem_data_group(index);
        const int port = bridge_wire::SEM_DATA_PORT_BASE + instance_id;
        log_inf(coloured(MAGENTA, "Trying to setup sem data group " + name + " server socket " + own_address() + ":" +
                                      std::to_string(port)));
        socket->set_up_socket(own_address(), port, true, bridge_wire::SOCKET_TIMEOUT_MS, bridge_wire::MAX_CONNECTIONS,
                              true);
        log_inf(coloured(GREEN, "Sem data group " + name + " server socket setup correctly"));
        log_inf(coloured(YELLOW, "Sem data group " + name + " server socket waiting new connection"));
        socket->wait_connection_ex(nullptr, nullptr);
        log_inf(coloured(GREEN, "Sem data group " + name + " server socket new connection arrived"));
        log_inf(coloured(CYAN, "Checking client correspondance of sem data group " + name + " data"));
        const uint32_t own = bfi.get_input_sem_data_len(index);
        const uint32_t client = receive_send_check_len_to_server(socket, own);
        if (client != own) {
            log_err("Sem data group " + name + " data len = " + text_of(own) + " in server while " + text_of(client) +
                    " in client");
            throw std::runtime_error(MISMATCH);
        }
        const std::vector<std::string> names = bfi.get_input_sem_data_name_list(instance_id);
        const std::vector<Type_Definition> types = bfi.get_input_sem_data_type_list(instance_id);
        std::vector<uint8_t> answers(names.size());
        receive_send_check_message_to_client(socket, names, types, answers.data());
        if (const long k = first_refused(answers); k >= 0) {
            log_err("Sem data group " + name + " data name " + names[k] + " of type " + code_of(types[k]) +
                    " not found in client at pos " + std::to_string(k));
            throw std::runtime_error(MISMATCH);
        }
        log_inf(coloured(GREEN, "Client correspondance of sem data group " + name + " data correctly checked"));
    } catch (const std::exception& error) {
        log_err(
            "[Framework_Socket_Bridge][input_sem_data_group_server_socket_init_ex] error while setting up sem "
            "data group " +
            name + " server socket: " + error.what());
        socket->close_socket();
        throw std::exception();
    }
}

// A delivery reaches the local group only once all of it has arrived. Of
// its slots only the local ring's worth of the newest is kept (the ring
// would overwrite the others anyway); a group without ring keeps the last.
void Framework_Socket_Bridge::input_sem_data_group_server_socket_run_ex(void* socket_object, int instance_id)
{
    auto* socket = static_cast<Socket_Server_Tcp*>(socket_object);
    Bridge_Framework_Interface& bfi = m_bridge_framework_interface;
    const unsigned index = static_cast<unsigned>(instance_id);
    const std::string name = bfi.input_semaphorized_data[index].sem_name;
    const std::string manager_stopped =
        "input sem data group server " + name + " --> manager not running after socket server timeout";
    try {
        const std::size_t image = bfi.get_input_sem_data_len(index);
        const uint32_t kept_slots = std::max<uint32_t>(bfi.get_input_sem_ring_buffer_slots(index), 1);
        std::vector<uint8_t> kept(kept_slots * image, 0);
        uint8_t count_bytes[bridge_wire::SLOT_COUNT_BYTES];
        for (;;) {
            check_stop();
            throw_if_thread_manager_is_not_running(manager_stopped);
            // Only a time-out that got no byte at all is an idle peer.
            if (!socket->try_receive_message_ex(count_bytes, sizeof(count_bytes), 0)) {
                pause_ms(IDLE_PAUSE_MS);
                continue;
            }
            const uint32_t count = bridge_wire::get_le32(count_bytes);
            if (count == 0) {
                socket->receive_message_ex(kept.data(), static_cast<unsigned>(image), 0);
                bfi.set_input_sem_data(index, kept.data());
                continue;
            }
            // However many slots the peer announces and sends, a stop ends
            // the delivery between two of them.
            if (image != 0)
                for (uint64_t k = 0; k < count; ++k) {
                    check_stop();
                    throw_if_thread_manager_is_not_running(manager_stopped);
                    socket->receive_message_ex(kept.data() + (k % kept_slots) * image, static_cast<unsigned>(image), 0);
                }
            const uint64_t first = count - std::min<uint64_t>(count, kept_slots);
            for (uint64_t k = first; k < count; ++k)
                bfi.insert_ring_buffer_slot(index, kept.data() + (k % kept_slots) * image);
            bfi.post_input_sem_data_group(index);
        }
    } catch (const std::exception& error) {
        log_err(
            "[Framework_Socket_Bridge][input_sem_data_group_server_socket_run_ex] error while setting up sem data "
            "group " +
            name + " server socket: " + error.what());
        socket->close_socket_at_once();
        throw std::exception();
    }
}

// ---- commands: input side -----------------------------------------------------------------------

void Framework_Socket_Bridge::input_cmd_server_socket_init_ex(void* socket_object, int instance_id)
{
    auto* socket = static_cast<Socket_Server_Tcp*>(socket_object);
    Bridge_Framework_Interface& bfi = m_bridge_framework_interface;
    const unsigned index = static_cast<unsigned>(instance_id);
    const std::string name = bfi.input_cmds[index].cmd_name;
    try {
        const int port = bridge_wire::COMMAND_PORT_BASE + instance_id;
        log_inf(coloured(MAGENTA, "Trying to setup cmd " + name + " server socket " + own_address() + ":" +
                                      std::to_string(port)));
        socket->set_up_socket(own_address(), port, true, bridge_wire::SOCKET_TIMEOUT_MS, bridge_wire::MAX_CONNECTIONS,
                              true);
        log_inf(coloured(GREEN, "Cmd " + name + " server socket setup correctly"));
        log_inf(coloured(YELLOW, "Cmd " + name + " server socket waiting new connection"));
        socket->wait_connection_ex(nullptr, nullptr);
        log_inf(coloured(GREEN, "Cmd " + name + " server socket new connection arrived"));

        log_inf(coloured(CYAN, "Checking client correspondance of recive data for command " + name));
        const uint32_t own_command = bfi.get_input_cmd_send_data_len(index);
        const uint32_t client_command = receive_send_check_len_to_server(socket, own_command);
        if (client_command != own_command) {
            log_err("Cmd " + name + " receive data len = " + text_of(own_command) + " in server while " +
                    text_of(client_command) + " in client ");
            throw std::runtime_error(MISMATCH);
        }
        std::vector<std::string> names = bfi.get_input_cmd_data_send_name_list(instance_id);
        std::vector<Type_Definition> types = bfi.get_input_cmd_data_send_type_list(instance_id);
        std::vector<uint8_t> answers(names.size());
        receive_send_check_message_to_client(socket, names, types, answers.data());
        if (const long k = first_refused(answers); k >= 0) {
            log_err("Cmd " + name + " receive data name " + names[k] + " of type " + code_of(types[k]) +
                    " not found in client at pos " + std::to_string(k));
            throw std::runtime_error(MISMATCH);
        }
        log_inf(coloured(GREEN, "Client correspondance of receive data for command " + name + " correctly checked"));

        log_inf(coloured(CYAN, "Checking client correspondance of send data for command " + name));
        const uint32_t own_answer = bfi.get_input_cmd_recv_data_len(index);
        const uint32_t client_answer = receive_send_check_len_to_server(socket, own_answer);
        if (client_answer != own_answer) {
            log_err("Cmd " + name + " send data len = " + text_of(own_answer) + " in server while " +
                    text_of(client_answer) + " in client");
            throw std::runtime_error(MISMATCH);
        }
        names = bfi.get_input_cmd_data_recv_name_list(instance_id);
        types = bfi.get_input_cmd_data_recv_type_list(instance_id);
        answers.assign(names.size(), 0);
        receive_send_check_message_to_client(socket, names, types, answers.data());
        if (const long k = first_refused(answers); k >= 0) {
            log_err("Cmd " + name + " send data name " + names[k] + " of type " + code_of(types[k]) +
                    " not found in client at pos " + std::to_string(k));
            throw std::runtime_error(MISMATCH);
        }
        log_inf(coloured(GREEN, "Client correspondance of send data for command " + name + " correctly checked"));
    } catch (const std::exception& error) {
        log_err(std::string("[Framework_Socket_Bridge][input_cmd_server_socket_init_ex] error while setting up input "
                            "cmd server thread :: ") +
                error.what());
        socket->close_socket();
        throw std::exception();
    }
}

// A command block reaches the local server only whole; a command without
// command data never travels, and its side only idles.
void Framework_Socket_Bridge::input_cmd_server_socket_run_ex(void* socket_object, int instance_id)
{
    auto* socket = static_cast<Socket_Server_Tcp*>(socket_object);
    Bridge_Framework_Interface& bfi = m_bridge_framework_interface;
    const unsigned index = static_cast<unsigned>(instance_id);
    const std::string name = bfi.input_cmds[index].cmd_name;
    const std::string manager_stopped =
        "input cmd server " + name + " --> manager not running after socket server timeout";
    try {
        const uint32_t command_len = bfi.get_input_cmd_send_data_len(index);
        const uint32_t answer_len = bfi.get_input_cmd_recv_data_len(index);
        std::vector<uint8_t> command(command_len, 0);
        std::vector<uint8_t> answer(answer_len, 0);
        if (command_len == 0) {
            for (;;) {
                check_stop();
                throw_if_thread_manager_is_not_running(manager_stopped);
                pause_ms(NO_COMMAND_DATA_PAUSE_MS);
            }
        }
        for (;;) {
            check_stop();
            throw_if_thread_manager_is_not_running(manager_stopped);
            if (!socket->try_receive_message_ex(command.data(), command_len, 0)) {
                pause_ms(IDLE_PAUSE_MS);
                continue;
            }
            // The lines of the exchange go through the real-time ring and
            // are written once the answer is on its way.
            Log_Batch lines;
            bfi.send_input_cmd_data(index, command.data(), &lines);
            bool announce = true;
            while (bfi.wait_input_cmd_data_answer(index, static_cast<float>(WAIT_SLICE_MS), announce, &lines) == 0) {
                announce = false;
                check_stop();
                throw_if_thread_manager_is_not_running(manager_stopped);
            }
            bfi.get_input_cmd_answ_data(index, answer.data());
            socket->send_message_ex(answer.data(), answer_len, 0);
            lines.flush();
            wake_log_drain();
        }
    } catch (const std::exception& error) {
        log_err(std::string("[Framework_Socket_Bridge][input_cmd_server_socket_run_ex] error while runnning cmd server "
                            "thread :: ") +
                error.what());
        socket->close_socket_at_once();
        throw std::exception();
    }
}

// ---- commands: output side ----------------------------------------------------------------------

void Framework_Socket_Bridge::output_cmd_client_socket_init_ex(void* socket_object, int instance_id)
{
    auto* socket = static_cast<Socket_Client_Tcp*>(socket_object);
    Bridge_Framework_Interface& bfi = m_bridge_framework_interface;
    const unsigned index = static_cast<unsigned>(instance_id);
    const std::string name = bfi.output_cmds[index].cmd_name;
    try {
        const int port = bridge_wire::COMMAND_PORT_BASE + instance_id;
        log_inf(coloured(MAGENTA, "Trying to setup cmd " + name + " client socket " + peer_address() + ":" +
                                      std::to_string(port)));
        socket->set_up_socket(peer_address(), port, bridge_wire::SOCKET_TIMEOUT_MS, true);
        log_inf(coloured(GREEN, "Cmd " + name + " client socket setup correctly"));

        log_inf(coloured(CYAN, "Checking server correspondance of recive data for command " + name));
        const uint32_t own_command = bfi.get_output_cmd_recv_data_len(index);
        const uint32_t server_command = send_receive_check_len_to_server(socket, own_command);
        if (server_command != own_command) {
            log_err("Cmd " + name + " receive data len = " + text_of(own_command) + " in client while " +
                    text_of(server_command) + " in server");
            throw std::runtime_error(std::string(MISMATCH) + "[" + base_name(__FILE__) +
                                     ":output_cmd_client_socket_init_ex:" + std::to_string(__LINE__) + "]");
        }
        std::vector<std::string> names = bfi.get_output_cmd_data_recv_name_list(instance_id);
        std::vector<Type_Definition> types = bfi.get_output_cmd_data_recv_type_list(instance_id);
        std::vector<uint8_t> answers(names.size());
        send_receive_check_message_to_server(socket, names, types, answers.data());
        if (const long k = first_refused(answers); k >= 0) {
            log_err("Cmd " + name + " recive data name " + names[k] + " of type " + code_of(types[k]) +
                    " not found in client at pos " + std::to_string(k));
            throw std::runtime_error("Error in checking correspondance slave-master");
        }
        log_inf(coloured(GREEN, "Server correspondance of recive data for command " + name + " correctly checked"));

        log_inf(coloured(CYAN, "Checking server correspondance of send data for command " + name));
        const uint32_t own_answer = bfi.get_output_cmd_send_data_len(index);
        const uint32_t server_answer = send_receive_check_len_to_server(socket, own_answer);
        if (server_answer != own_answer) {
            log_err("Cmd " + name + " send data len = " + text_of(own_answer) + " in client while " +
                    text_of(server_answer) + " in server");
            throw std::runtime_error("Error in checking correspondance slave-master");
        }
        names = bfi.get_output_cmd_data_send_name_list(instance_id);
        types = bfi.get_output_cmd_data_send_type_list(instance_id);
        answers.assign(names.size(), 0);
        send_receive_check_message_to_server(socket, names, types, answers.data());
        if (const long k = first_refused(answers); k >= 0) {
            log_err("Cmd " + name + " send data name " + names[k] + " of type " + code_of(types[k]) +
                    " not found in client at pos " + std::to_string(k));
            throw std::runtime_error("Error in checking correspondance slave-master");
        }
        log_inf(coloured(GREEN, "Server correspondance of send data for command " + name + " correctly checked"));
    } catch (const std::exception& error) {
        log_err(
            "[Framework_Socket_Bridge][output_cmd_client_socket_init_ex] error while setting up output cmd client " +
            name + " server socket: " + error.what());
        socket->close_socket();
        throw std::exception();
    }
}

// On a failure the server side is given back without waking the client
// that waits for the answer: its timed wait runs out as for a silent server.
void Framework_Socket_Bridge::output_cmd_client_socket_run_ex(void* socket_object, int instance_id)
{
    auto* socket = static_cast<Socket_Client_Tcp*>(socket_object);
    Bridge_Framework_Interface& bfi = m_bridge_framework_interface;
    const unsigned index = static_cast<unsigned>(instance_id);
    const std::string name = bfi.output_cmds[index].cmd_name;
    const std::string manager_stopped = "output cmd client " + name + " --> manager not running";
    bool serving = false;
    try {
        const uint32_t command_len = bfi.get_output_cmd_recv_data_len(index);
        const uint32_t answer_len = bfi.get_output_cmd_send_data_len(index);
        std::vector<uint8_t> command(command_len, 0);
        std::vector<uint8_t> answer(answer_len, 0);
        bfi.acquire_cmd_as_server(index);
        serving = true;
        for (;;) {
            check_stop();
            throw_if_thread_manager_is_not_running(manager_stopped);
            if (!bfi.wait_cmd(index, WAIT_SLICE_MS))
                continue;
            check_stop();
            bfi.get_output_cmd_recv_data(index, command.data());
            socket->send_message_ex(command.data(), command_len, 0);
            socket->receive_message_ex(answer.data(), answer_len, 0);
            bfi.send_output_cmd_data_answer(index, answer.data());
        }
    } catch (const std::exception& error) {
        log_err("[Framework_Socket_Bridge][output_cmd_client_socket_run_ex] error running output cmd client thread" +
                name + " server socket: " + error.what());
        if (serving) {
            try {
                bfi.give_back_cmd_as_server(index);
            } catch (const std::exception& release_error) {
                const std::string text = release_error.what();
                log_war("[Framework_Socket_Bridge][output_cmd_client_socket_run_ex] server side of " + name +
                        " not held any more :: " + text.substr(0, text.find('\n')));
            }
        }
        socket->close_socket_at_once();
        throw std::exception();
    }
}
