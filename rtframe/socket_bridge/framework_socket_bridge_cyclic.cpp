// The correspondence handshake and the cyclic channel on port 60000: the
// slave's client sends its output image once per bridge period, the master's
// server answers with its own.
#include <semaphore.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <stdexcept>

#include "bridge_wire.h"
#include "framework_socket_bridge.h"
#include "robust_mutex.h"
#include "xelo_log.h"

namespace {
const char* const MUTEX_CYCLICS = "mutex_cyclics";
constexpr long LIVENESS_WAIT_MS = 77;

using bridge_wire::get_le32;
using bridge_wire::put_le32;

std::string type_code(Type_Definition type)
{
    return std::to_string(static_cast<int>(type));
}

void check_instance(int instance_id, const char* function)
{
    if (instance_id != 0) {
        log_err(std::string("[Framework_Socket_Bridge][") + function +
                "] invalid instance id :: " + std::to_string(instance_id) + " .. going to terminate");
        std::exit(EXIT_FAILURE);
    }
}

timespec monotonic_after_ex(long milliseconds)
{
    timespec deadline{};
    if (clock_gettime(CLOCK_MONOTONIC, &deadline) != 0)
        throw std::runtime_error("clock_gettime error");
    deadline.tv_nsec += milliseconds * 1000000L;
    if (deadline.tv_nsec >= 1000000000L) {
        deadline.tv_sec += 1;
        deadline.tv_nsec -= 1000000000L;
    }
    return deadline;
}
}  // namespace

// ---- handshake -----------------------------------------------------------------------

uint32_t Framework_Socket_Bridge::send_receive_check_len_to_server(Socket_Client_Tcp* socket, uint32_t own_len)
{
    uint8_t bytes[4];
    put_le32(bytes, own_len);
    socket->send_message_ex(bytes, sizeof(bytes), 0);
    socket->receive_message_ex(bytes, sizeof(bytes), 0);
    return get_le32(bytes);
}

uint32_t Framework_Socket_Bridge::receive_send_check_len_to_server(Socket_Server_Tcp* socket, uint32_t own_len)
{
    uint8_t received[4];
    socket->receive_message_ex(received, sizeof(received), 0);
    uint8_t bytes[4];
    put_le32(bytes, own_len);
    socket->send_message_ex(bytes, sizeof(bytes), 0);
    return get_le32(received);
}

void Framework_Socket_Bridge::send_receive_check_message_to_server(Socket_Client_Tcp* socket,
                                                                   std::vector<std::string> names,
                                                                   std::vector<Type_Definition> types, uint8_t* answers)
{
    std::vector<uint8_t> message;
    for (std::size_t i = 0; i < names.size(); ++i) {
        message.insert(message.end(), names[i].begin(), names[i].end());
        uint8_t code[4];
        put_le32(code, static_cast<uint32_t>(types[i]));
        message.insert(message.end(), code, code + 4);
    }
    socket->send_message_ex(message.data(), static_cast<unsigned>(message.size()), 0);
    socket->receive_message_ex(answers, static_cast<unsigned>(names.size()), 0);
}

void Framework_Socket_Bridge::receive_send_check_message_to_client(Socket_Server_Tcp* socket,
                                                                   std::vector<std::string> names,
                                                                   std::vector<Type_Definition> types, uint8_t* answers)
{
    std::size_t expected = 4 * types.size();
    for (const std::string& name : names)
        expected += name.size();
    std::vector<uint8_t> message(expected);
    socket->receive_message_ex(message.data(), static_cast<unsigned>(expected), 0);
    std::size_t position = 0;
    for (std::size_t k = 0; k < names.size(); ++k) {
        const std::string& name = names[k];
        const bool same_name = std::equal(name.begin(), name.end(), message.begin() + static_cast<long>(position));
        position += name.size();
        const bool same_type = static_cast<int32_t>(get_le32(&message[position])) == static_cast<int32_t>(types[k]);
        position += 4;
        answers[k] = same_name && same_type ? bridge_wire::ITEM_MATCHED : bridge_wire::ITEM_NOT_MATCHED;
    }
    socket->send_message_ex(answers, static_cast<unsigned>(names.size()), 0);
}

// ---- cyclic channel: init ------------------------------------------------------------------

void Framework_Socket_Bridge::cyclic_server_socket_init_ex(void* socket_object, int instance_id)
{
    check_instance(instance_id, "cyclic_server_socket_init_ex");
    const std::string head = "[Framework_Socket_Bridge][cyclic_server_socket_init_ex] ";
    auto* socket = static_cast<Socket_Server_Tcp*>(socket_object);
    Bridge_Framework_Interface& bfi = m_bridge_framework_interface;
    try {
        // Images longer than a socket buffer go in packs: the bytes on the wire are the same.
        socket->set_up_socket(m_master_socket_address, bridge_wire::CYCLIC_PORT, true, bridge_wire::SOCKET_TIMEOUT_MS,
                              bridge_wire::MAX_CONNECTIONS, true);
        socket->wait_connection_ex(nullptr, nullptr);
        log_inf("Cyclics server socket new connection arrived");
        log_inf(head + "Checking client correspondance of output cyclics");
        const uint32_t own_output = bfi.get_output_cyclic_var_data_len();
        const uint32_t client_input = receive_send_check_len_to_server(socket, own_output);
        if (client_input != own_output) {
            log_err("Output cyclics len = " + std::to_string(own_output) + " in server while " +
                    std::to_string(client_input) + " in client");
            throw std::runtime_error("Error in checking correspondance master-slave");
        }
        std::vector<std::string> names = bfi.get_output_cyclic_name_list();
        std::vector<Type_Definition> types = bfi.get_output_cyclic_type_list();
        std::vector<uint8_t> answers(names.size());
        receive_send_check_message_to_client(socket, names, types, answers.data());
        for (std::size_t k = 0; k < answers.size(); ++k)
            if (answers[k] == bridge_wire::ITEM_NOT_MATCHED) {
                log_err(head + "Output cyclic " + names[k] + " not found as input cyclic in client of type " +
                        type_code(types[k]) + " at pos " + std::to_string(k));
                throw std::runtime_error("Error in checking correspondance master-slave");
            }
        log_inf(head + "Client correspondance of output cyclics correctly checked");
        log_inf("Checking client correspondance of input cyclics ");
        const uint32_t own_input = bfi.get_input_cyclic_var_data_len();
        const uint32_t client_output = receive_send_check_len_to_server(socket, own_input);
        if (client_output != own_input) {
            log_err(head + "Input cyclics len = " + std::to_string(own_input) + " in server while " +
                    std::to_string(client_output) + " in client");
            throw std::runtime_error("Error in checking correspondance master-slave");
        }
        names = bfi.get_input_cyclic_name_list();
        types = bfi.get_input_cyclic_type_list();
        answers.assign(names.size(), 0);
        receive_send_check_message_to_client(socket, names, types, answers.data());
        for (std::size_t k = 0; k < answers.size(); ++k)
            if (answers[k] == bridge_wire::ITEM_NOT_MATCHED) {
                log_err(head + "Input cyclic " + names[k] + " not found as output cyclic in client of type " +
                        type_code(types[k]) + " at pos " + std::to_string(k));
                throw std::runtime_error("Error in checking correspondance master-slave");
            }
        log_inf("Client correspondance of input cyclics correctly checked");
    } catch (const std::exception& error) {
        log_err(head + "error while setting up cyclics server socket: " + error.what());
        socket->close_socket();
        throw std::exception();
    }
}

void Framework_Socket_Bridge::cyclic_client_socket_init_ex(void* socket_object, int instance_id)
{
    check_instance(instance_id, "cyclic_client_socket_run_ex");
    const std::string head = "[Framework_Socket_Bridge][cyclic_client_socket_init_ex] ";
    auto* socket = static_cast<Socket_Client_Tcp*>(socket_object);
    Bridge_Framework_Interface& bfi = m_bridge_framework_interface;
    try {
        socket->set_up_socket(m_master_socket_address, bridge_wire::CYCLIC_PORT, bridge_wire::SOCKET_TIMEOUT_MS, true);
        log_inf(head + "Cyclics client socket setup correctly");
        const uint32_t own_input = bfi.get_input_cyclic_var_data_len();
        const uint32_t server_output = send_receive_check_len_to_server(socket, own_input);
        if (server_output != own_input) {
            log_err(head + "Input cyclics len " + std::to_string(own_input) + " in client while " +
                    std::to_string(server_output) + " in server");
            throw std::runtime_error("Error in checking input correspondance master-slave");
        }
        std::vector<std::string> names = bfi.get_input_cyclic_name_list();
        std::vector<Type_Definition> types = bfi.get_input_cyclic_type_list();
        std::vector<uint8_t> answers(names.size());
        send_receive_check_message_to_server(socket, names, types, answers.data());
        for (std::size_t k = 0; k < answers.size(); ++k)
            if (answers[k] == bridge_wire::ITEM_NOT_MATCHED)
                log_err(head + "Input cyclic " + names[k] + " not found as output cyclic in server of type " +
                        type_code(types[k]) + " at pos " + std::to_string(k));
        const uint32_t own_output = bfi.get_output_cyclic_var_data_len();
        const uint32_t server_input = send_receive_check_len_to_server(socket, own_output);
        if (server_input != own_output) {
            log_err(head + "Output cyclics len = " + std::to_string(own_output) + " in client while " +
                    std::to_string(server_input) + " in server");
            throw std::runtime_error("Error in checking output correspondance master-slave");
        }
        names = bfi.get_output_cyclic_name_list();
        types = bfi.get_output_cyclic_type_list();
        answers.assign(names.size(), 0);
        send_receive_check_message_to_server(socket, names, types, answers.data());
        for (std::size_t k = 0; k < answers.size(); ++k)
            if (answers[k] == bridge_wire::ITEM_NOT_MATCHED)
                log_err(head + "output cyclic " + names[k] + " not found as input cyclic in server of type " +
                        type_code(types[k]) + "at pos " + std::to_string(k));
    } catch (const std::exception& error) {
        log_err(head + "error while setting up cyclics client socket :: " + error.what());
        socket->close_socket();
        throw std::exception();
    }
}

// ---- cyclic channel: run -------------------------------------------------------------------

void Framework_Socket_Bridge::cyclic_client_socket_run_ex(void* socket_object, int instance_id)
{
    check_instance(instance_id, "cyclic_client_socket_run_ex");
    auto* socket = static_cast<Socket_Client_Tcp*>(socket_object);
    Bridge_Framework_Interface& bfi = m_bridge_framework_interface;
    const std::string manager_stopped = "cyclic client --> manager not running after sem timeout";
    try {
        const uint32_t output_len = bfi.get_output_cyclic_var_data_len();
        const uint32_t input_len = bfi.get_input_cyclic_var_data_len();
        std::vector<uint8_t> send_buffer(std::max<uint32_t>(output_len, 1), 0);
        std::vector<uint8_t> receive_buffer(std::max<uint32_t>(input_len, 1), 0);
        const uint32_t send_len = output_len == 0 ? 1 : output_len;
        bool token_sent = false;
        for (;;) {
            timespec deadline = monotonic_after_ex(LIVENESS_WAIT_MS);
            while (sem_clockwait(&m_sem_cyclics_socket_update, CLOCK_MONOTONIC, &deadline) != 0) {
                const int error = errno;
                if (error == ETIMEDOUT) {
                    check_stop();
                    throw_if_thread_manager_is_not_running(manager_stopped);
                    deadline = monotonic_after_ex(LIVENESS_WAIT_MS);
                } else if (error != EINTR) {
                    log_err("errno :: " + std::to_string(error));
                    throw std::runtime_error("cyclic_client_socket_run_ex fail to sem_wait ");
                }
            }
            if (output_len == 0 && !token_sent) {
                uint8_t token = bridge_wire::FIRST_TOKEN;
                socket->send_message_ex(&token, 1, 0);
                socket->receive_message_ex(&token, 1, 0);
                token_sent = true;
                continue;
            }
            std::fill(send_buffer.begin(), send_buffer.end(), 0);
            std::fill(receive_buffer.begin(), receive_buffer.end(), 0);
            Robust_Mutex held(bfi.mutex_cyclics(), MUTEX_CYCLICS, "");
            std::lock_guard<Robust_Mutex> lock(held);
            bfi.get_output_cyclic_var_data(send_buffer.data());
            socket->send_message_ex(send_buffer.data(), send_len, 0);
            socket->receive_message_ex(receive_buffer.data(), input_len, 0);
            bfi.set_input_cyclic_var_data(receive_buffer.data());
        }
    } catch (const std::exception& error) {
        log_err(std::string("[Framework_Socket_Bridge][cyclic_client_socket_run_ex] error while running cyclics socket "
                            "thread :: ") +
                error.what());
        socket->close_socket_at_once();
        throw std::exception();
    }
}

void Framework_Socket_Bridge::cyclic_server_socket_run_ex(void* socket_object, int instance_id)
{
    check_instance(instance_id, "cyclic_server_socket_init_ex");
    auto* socket = static_cast<Socket_Server_Tcp*>(socket_object);
    Bridge_Framework_Interface& bfi = m_bridge_framework_interface;
    const std::string manager_stopped = "cyclic server --> manager not running after socket server timeout";
    try {
        const uint32_t input_len = bfi.get_input_cyclic_var_data_len();
        const uint32_t output_len = bfi.get_output_cyclic_var_data_len();
        std::vector<uint8_t> receive_buffer(std::max<uint32_t>(input_len, 1), 0);
        std::vector<uint8_t> send_buffer(std::max<uint32_t>(output_len, 1), 0);
        const uint32_t receive_len = input_len == 0 ? 1 : input_len;
        if (input_len == 0) {
            throw_if_thread_manager_is_not_running(manager_stopped);
            uint8_t token = 0;
            socket->receive_message_ex(&token, 1, 0);
            token = bridge_wire::FIRST_TOKEN;
            socket->send_message_ex(&token, 1, 0);
        }
        for (;;) {
            check_stop();
            throw_if_thread_manager_is_not_running(manager_stopped);
            // The whole message arrives before anything reaches the image.
            socket->receive_message_ex(receive_buffer.data(), receive_len, 0);
            {
                Robust_Mutex held(bfi.mutex_cyclics(), MUTEX_CYCLICS, "");
                std::lock_guard<Robust_Mutex> lock(held);
                if (input_len != 0)
                    bfi.set_input_cyclic_var_data(receive_buffer.data());
                bfi.get_output_cyclic_var_data(send_buffer.data());
            }
            socket->send_message_ex(send_buffer.data(), output_len, 0);
        }
    } catch (const std::exception& error) {
        log_err(std::string("[Framework_Socket_Bridge][cyclic_server_socket_run_ex] error while running cyclics socket "
                            "thread :: ") +
                error.what());
        socket->close_socket_at_once();
        throw std::exception();
    }
}
