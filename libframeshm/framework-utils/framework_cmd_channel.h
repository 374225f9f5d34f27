#pragma once

// Command channels: a client sends a command (an int8 code "cmd_value" with
// named arguments) through the group "<label>_sender" to the server waiting
// there, which answers (an int8 code "resp_value" with named answer data)
// through "<label>_receiver" to that client alone.
//
// Framework_Cmd_Channel binds a channel by its label and owns one command
// data object per item of its two groups; recv and send in its names are
// seen from the object (a server receives commands and sends answers). It
// also keeps two optional protocol maps between names and codes, read from
// the framework inputs whose labels begin with a prefix: the input's name
// after the prefix is the name, its int8 value the code.

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "framework_cmd_data.h"
#include "framework_types.h"

class Framework_Shared_Memory_Manager;

class Framework_Cmd_Channel {
public:
    Framework_Cmd_Channel() = delete;
    Framework_Cmd_Channel(const Framework_Cmd_Channel&) = delete;
    Framework_Cmd_Channel& operator=(const Framework_Cmd_Channel&) = delete;
    // Not virtual: a channel is destroyed as its own side's class.
    ~Framework_Cmd_Channel();

    // Opens the channel on its side and builds the data objects of both
    // groups. Called again, it builds them anew.
    void setup_ex(Framework_Shared_Memory_Manager* frmk_ptr);

    virtual void release_ex() = 0;
    [[nodiscard]] virtual bool try_acquire_ex() = 0;

protected:
    Framework_Cmd_Channel(std::string label, bool is_server);

    // Opens the channel in the manager as this side; the channel id.
    virtual int32_t get_channel_id_ex() = 0;

    uint32_t get_cmd_data_to_recv_dim_ex(const std::string& data_label);
    uint32_t get_cmd_data_to_send_dim_ex(const std::string& data_label);
    Type_Definition get_cmd_data_to_recv_type_ex(const std::string& data_label);
    Type_Definition get_cmd_data_to_send_type_ex(const std::string& data_label);
    std::vector<std::string> get_cmd_data_to_recv_label_list() const;
    std::vector<std::string> get_cmd_data_to_send_label_list() const;

    // T: the ten arithmetic types, std::vector<uint8_t> or std::string (see
    // the data objects for the byte-array forms).
    template <typename T>
    T get_cmd_data_to_recv_value_ex(const std::string& data_label);
    template <typename T>
    T get_cmd_data_to_recv_value_ex(const std::string& data_label, uint32_t dim_given, uint32_t offset);
    template <typename T>
    T get_cmd_data_to_send_value_ex(const std::string& data_label);
    template <typename T>
    T get_cmd_data_to_send_value_ex(const std::string& data_label, uint32_t dim_given, uint32_t offset);
    template <typename T>
    void set_cmd_data_to_send_value_ex(const std::string& data_label, T value);
    template <typename T>
    void set_cmd_data_to_send_value_ex(const std::string& data_label, const T& value, bool write_whole,
                                       uint32_t offset);

    // Rebuild a protocol map from the inputs labelled recv_prefix (send_prefix)
    // + name; throw when the number of such inputs is not the one required.
    void init_recv_protocol_ex(int32_t n_recv, const std::string& recv_prefix);
    void init_send_protocol_ex(int32_t n_send, const std::string& send_prefix);

    // Throws head + " command channel not initialized! label :: " + label unless
    // the channel is bound.
    void check_bound_ex(const std::string& head) const;

private:
    Framework_Cmd_Data_To_Recv* get_cmd_data_to_recv_ptr_ex(const std::string& data_label) const;
    Framework_Cmd_Data_To_Send* get_cmd_data_to_send_ptr_ex(const std::string& data_label) const;
    // The receive and send lists share their look-ups: method names the caller
    // in the error texts, what the list (" does not belong to cmd data to <what>!").
    template <typename Data>
    Data* find_data_object_ex(const std::vector<std::unique_ptr<Data>>& list, const std::string& data_label,
                              const char* method, const char* what) const;
    template <typename Data>
    std::vector<std::string> data_labels_ex(const std::vector<std::unique_ptr<Data>>& list, const char* method) const;
    // Fills the receive (send) map from the matching inputs; their number.
    int32_t init_ptcl_ex(const std::string& prefix_ptcl, bool is_recv);
    // " cmd_name :: <label>, is_server :: <0|1>"
    std::string channel_tag() const;
    void check_initialized_ex(const char* method) const;
    template <typename Data>
    void add_data_objects_ex(std::vector<std::unique_ptr<Data>>& list, const std::vector<std::string>& data_labels,
                             const char* header);
    void log_data_object(const Framework_Sem_Variable& data, int32_t channel_id,
                         const std::string& channel_label) const;
    void check_protocol_size_ex(const char* method, const char* ptcl, int32_t required, int32_t found) const;

    bool m_is_server;
    std::vector<std::unique_ptr<Framework_Cmd_Data_To_Recv>> m_data_to_recv_list;
    std::vector<std::unique_ptr<Framework_Cmd_Data_To_Send>> m_data_to_send_list;

protected:
    bool m_initialized = false;
    int32_t m_id = -1;
    std::string m_label;
    bool m_acquired = false;
    int32_t m_n_data_to_recv = 0;
    int32_t m_n_data_to_send = 0;
    Framework_Shared_Memory_Manager* m_frmk_ptr = nullptr;
    bool m_has_recv_ptcl = false;
    bool m_has_send_ptcl = false;
    std::map<std::string, int8_t> m_map_to_send;
    std::map<int8_t, std::string> m_map_to_recv;

public:
    const int32_t& id;
    const std::string& label;
    const bool& is_acquired;
};

// The server side: takes the channel, waits for a command, reads its code
// and arguments, writes the answer data and answers the client that sent it.
class Framework_Cmd_Server final : public Framework_Cmd_Channel {
public:
    explicit Framework_Cmd_Server(std::string channel_name);
    // Gives the channel back first; never throws.
    ~Framework_Cmd_Server();
    Framework_Cmd_Server() = delete;
    Framework_Cmd_Server(const Framework_Cmd_Server&) = delete;
    Framework_Cmd_Server& operator=(const Framework_Cmd_Server&) = delete;

    // Wakes clients waiting for an answer: none will come.
    void release_ex() override;
    [[nodiscard]] bool try_acquire_ex() override;

    std::vector<std::string> get_cmd_data_labels_ex() const;
    std::vector<std::string> get_answ_data_labels_ex() const;
    uint32_t get_cmd_data_dim_ex(const std::string& data_label);
    uint32_t get_answ_data_dim_ex(const std::string& data_label);
    Type_Definition get_cmd_data_type_ex(const std::string& data_label);
    Type_Definition get_answ_data_type_ex(const std::string& data_label);

    template <typename T>
    T get_cmd_data_ex(const std::string& data_label);
    template <typename T>
    T get_cmd_data_ex(const std::string& data_label, uint32_t dim_given, uint32_t offset);
    template <typename T>
    T get_answ_data_ex(const std::string& data_label);
    template <typename T>
    T get_answ_data_ex(const std::string& data_label, uint32_t dim_given, uint32_t offset);
    template <typename T>
    void set_answ_data_ex(const std::string& data_label, T value);
    template <typename T>
    void set_answ_data_ex(const std::string& data_label, const T& value, bool write_whole, uint32_t offset);

    // code -> command name
    std::map<int8_t, std::string> init_cmd_ptcl_ex(int32_t n_cmds, const std::string& cmd_ptcl_prefix);
    // answer name -> code
    std::map<std::string, int8_t> init_answ_ptcl_ex(int32_t n_answs, const std::string& answ_ptcl_prefix);

    // false when no command came within timeout_ms; 0 or less waits without
    // limit.
    [[nodiscard]] bool wait_command_ex(double timeout_ms);
    int8_t get_last_received_command_ex();
    std::string get_last_received_command_label_ex();
    void send_answer_ex(int8_t answ);
    void send_answer_ex(const std::string& answ);

private:
    int32_t get_channel_id_ex() override;

public:
    const int32_t& n_cmd_data;
    const int32_t& n_answ_data;
    const bool& has_cmd_protocol;
    const bool& has_answ_protocol;
};

// The client side: takes the channel, writes the arguments, sends a command
// once a server waits for it, waits for the answer and reads it.
class Framework_Cmd_Client final : public Framework_Cmd_Channel {
public:
    explicit Framework_Cmd_Client(std::string channel_name);
    // Gives the channel back first; never throws.
    ~Framework_Cmd_Client();
    Framework_Cmd_Client() = delete;
    Framework_Cmd_Client(const Framework_Cmd_Client&) = delete;
    Framework_Cmd_Client& operator=(const Framework_Cmd_Client&) = delete;

    void release_ex() override;
    [[nodiscard]] bool try_acquire_ex() override;

    std::vector<std::string> get_cmd_data_labels_ex() const;
    std::vector<std::string> get_answ_data_labels_ex() const;
    uint32_t get_cmd_data_dim_ex(const std::string& data_label);
    uint32_t get_answ_data_dim_ex(const std::string& data_label);
    Type_Definition get_cmd_data_type_ex(const std::string& data_label);
    Type_Definition get_answ_data_type_ex(const std::string& data_label);

    template <typename T>
    T get_cmd_data_ex(const std::string& data_label);
    template <typename T>
    T get_cmd_data_ex(const std::string& data_label, uint32_t dim_given, uint32_t offset);
    template <typename T>
    T get_answ_data_ex(const std::string& data_label);
    template <typename T>
    T get_answ_data_ex(const std::string& data_label, uint32_t dim_given, uint32_t offset);
    template <typename T>
    void set_cmd_data_ex(const std::string& data_label, T value);
    template <typename T>
    void set_cmd_data_ex(const std::string& data_label, const T& value, bool write_whole, uint32_t offset);

    // code -> answer name
    std::map<int8_t, std::string> init_answ_ptcl_ex(int32_t n_answs, const std::string& answ_ptcl_prefix);
    // command name -> code
    std::map<std::string, int8_t> init_cmd_ptcl_ex(int32_t n_cmds, const std::string& cmd_ptcl_prefix);

    // Drops what earlier exchanges left pending on the channel.
    void clear_command_channel_ex();
    // Writes the code, then polls every 0.5 ms until a server waits and sends.
    // timeout_ms > 0 bounds the polls, 0 sends at once (failing when no
    // server waits), a negative time-out polls without limit.
    void send_command_ex(int8_t cmd, int32_t timeout_ms);
    void send_command_ex(const std::string& cmd, int32_t timeout_ms);
    // false when no answer came within timeout_ms; 0 or less waits without
    // limit.
    [[nodiscard]] bool wait_answer_ex(double timeout_ms);
    int8_t get_last_received_answer_ex();
    std::string get_last_received_answer_label_ex();

private:
    int32_t get_channel_id_ex() override;
    void wait_for_server_ex(int32_t timeout_ms);

public:
    const int32_t& n_cmd_data;
    const int32_t& n_answ_data;
    const bool& has_cmd_protocol;
    const bool& has_answ_protocol;
};
