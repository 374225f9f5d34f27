#pragma once

// The socket bridge's view of its own board's framework: the bridged cyclic
// variables, data groups and command channels, each resolved through the
// bridge's own manager, with the byte images that travel to and from the
// peer board. An input item carries data from the peer into the local
// framework; an output item carries local data to the peer.

#include <pthread.h>

#include <cstdint>
#include <map>
#include <ostream>
#include <string>
#include <vector>

#include "framework_types.h"
#include "xelo_log.h"

class Framework_Shared_Memory_Manager;
class Stop_Flag;

struct DataDescriptor {
    std::string name;
    uint32_t local_id = 0;
    unsigned framework_id = 0;
    Type_Definition type = UNDEFINED_TYPE_FSM;
    uint32_t byte_offset = 0;
    unsigned byte_len = 0;
};

struct SemVarDescriptor {
    std::string sem_name;
    uint32_t local_id = 0;
    unsigned sem_id = 0;
    uint32_t ring_buffer_slot_number = 0;
    uint32_t available_ring_buffer_slot_number = 0;
    std::vector<DataDescriptor> sem_data_descriptors;
    std::vector<uint8_t> sem_data_values;
    std::vector<uint8_t> ring_buffer_values;
};

struct CmdDescriptor {
    std::string cmd_name;
    uint32_t local_id = 0;
    unsigned cmd_id = 0;
    std::vector<DataDescriptor> data_recv_descriptors;
    std::vector<DataDescriptor> data_send_descriptors;
    std::vector<uint8_t> data_recv_values;
    std::vector<uint8_t> data_send_values;
};

std::ostream& operator<<(std::ostream& out, Type_Definition type);
std::ostream& operator<<(std::ostream& out, const DataDescriptor& data);
std::ostream& operator<<(std::ostream& out, const SemVarDescriptor& group);
std::ostream& operator<<(std::ostream& out, const CmdDescriptor& command);

class Bridge_Framework_Interface {
public:
    explicit Bridge_Framework_Interface(Framework_Shared_Memory_Manager* framework);
    ~Bridge_Framework_Interface();
    Bridge_Framework_Interface(const Bridge_Framework_Interface&) = delete;
    Bridge_Framework_Interface& operator=(const Bridge_Framework_Interface&) = delete;

    // ---- registration (before any channel thread runs) ------------------------
    void add_input_cyclic_var(std::string name);
    void add_output_cyclic_var(std::string name);

    std::vector<std::string> get_input_cyclic_name_list() const;
    std::vector<Type_Definition> get_input_cyclic_type_list() const;
    std::vector<std::string> get_output_cyclic_name_list() const;
    std::vector<Type_Definition> get_output_cyclic_type_list() const;

    // The bridge becomes the writer of an input group, a reader of an output
    // group, a client of an input command and the server of an output command.
    void add_input_sem_var(std::string name);
    void add_output_sem_var(std::string name);
    void add_input_command(std::string name);
    void add_output_command(std::string name);

    std::vector<std::string> get_input_sem_data_name_list(int index) const;
    std::vector<Type_Definition> get_input_sem_data_type_list(int index) const;
    std::vector<std::string> get_output_sem_data_name_list(int index) const;
    std::vector<Type_Definition> get_output_sem_data_type_list(int index) const;
    std::vector<std::string> get_input_cmd_data_send_name_list(int index) const;
    std::vector<Type_Definition> get_input_cmd_data_send_type_list(int index) const;
    std::vector<std::string> get_input_cmd_data_recv_name_list(int index) const;
    std::vector<Type_Definition> get_input_cmd_data_recv_type_list(int index) const;
    std::vector<std::string> get_output_cmd_data_send_name_list(int index) const;
    std::vector<Type_Definition> get_output_cmd_data_send_type_list(int index) const;
    std::vector<std::string> get_output_cmd_data_recv_name_list(int index) const;
    std::vector<Type_Definition> get_output_cmd_data_recv_type_list(int index) const;

    // ---- cyclic exchange --------------------------------------------------------
    // One bridge period: waits for the bridge's cycle, writes the peer's values
    // into the local outputs and reads the local inputs into the output image.
    // A wait that times out (the framework not cycling yet) is waited again
    // until stop is raised.
    void refresh_data(const Stop_Flag* stop = nullptr);
    // The caller holds the cyclic lock around these.
    void set_input_cyclic_var_data(const unsigned char* buffer);
    void get_output_cyclic_var_data(unsigned char* buffer) const;
    void lock_mutex_cyclics();
    void unlock_mutex_cyclics();
    pthread_mutex_t* mutex_cyclics() { return &m_mutex_cyclics; }
    void set_outputs();
    void get_inputs();
    uint32_t get_input_cyclic_var_data_len() const { return static_cast<uint32_t>(m_input_cyclic_var_values.size()); }
    uint32_t get_output_cyclic_var_data_len() const { return static_cast<uint32_t>(m_output_cyclic_var_values.size()); }

    // ---- data groups (index: the group's place in its list) ---------------------
    // Input group: the image into the local group, then a post to every reader.
    void set_input_sem_data(unsigned int index, const unsigned char* buffer);
    // Input group: the image as the next ring slot (straight into the shared
    // data of a group without ring), not posted.
    void insert_ring_buffer_slot(unsigned int index, const unsigned char* buffer);
    void post_input_sem_data_group(unsigned int index);
    // Output group: the values the last wait (or the last slot taken) left.
    void get_output_sem_data(unsigned int index, unsigned char* buffer);
    // Output group: the pending ring slots, oldest first, at most the ring's
    // worth; none for a group without ring.
    void get_all_ring_buffer_slots(unsigned int index);
    void get_output_sem_data_ring_buffer_slot(unsigned int index, unsigned int slot, unsigned char* buffer) const;
    // Output group: true after a post, false when timeout_ms (> 0) passed.
    [[nodiscard]] bool wait_sem(unsigned int index, double timeout_ms);
    uint32_t get_input_sem_data_len(unsigned int index) const;
    uint32_t get_output_sem_data_len(unsigned int index) const;
    uint32_t get_output_sem_available_ring_buffer_slots(unsigned int index) const;
    uint32_t get_input_sem_ring_buffer_slots(unsigned int index) const;

    // ---- command channels ----------------------------------------------------------
    // Output command: the server side, up to 5 attempts; throws when refused.
    void acquire_cmd_as_server(unsigned int index);
    // Output command: true when a local client sent a command within timeout_ms.
    [[nodiscard]] bool wait_cmd(unsigned int index, double timeout_ms);
    void release_cmd_as_server(unsigned int index);
    // Output command: the server side given back without waking the clients
    // that wait for an answer: their timed waits run out.
    void give_back_cmd_as_server(unsigned int index);
    void get_output_cmd_recv_data(unsigned int index, unsigned char* buffer);
    void send_output_cmd_data_answer(unsigned int index, const unsigned char* buffer);
    // Input command: the peer's command to the local server (client side
    // taken for it); throws when the server does not take it. Its INF lines
    // go to lines when given (written before any WAR line; the caller writes
    // the rest once the command is on its way), else out before it returns.
    void send_input_cmd_data(unsigned int index, const unsigned char* buffer, Log_Batch* lines = nullptr);
    // Input command: 1 when the local server answered within timeout_ms (the
    // answer collected, the client side given back), 0 otherwise (the client
    // side stays taken). log_wait: the line that announces the wait. lines
    // as above: written before the wait; the lines of a collected answer
    // stay in it for the caller to write once the answer is on its way.
    int wait_input_cmd_data_answer(unsigned int index, float timeout_ms, bool log_wait = true,
                                   Log_Batch* lines = nullptr);
    void get_input_cmd_answ_data(unsigned int index, unsigned char* buffer) const;
    uint32_t get_input_cmd_send_data_len(unsigned int index) const;
    uint32_t get_input_cmd_recv_data_len(unsigned int index) const;
    uint32_t get_output_cmd_send_data_len(unsigned int index) const;
    uint32_t get_output_cmd_recv_data_len(unsigned int index) const;

    // Releases the rights held on groups and channels and empties every list.
    void cleanup();

    const std::vector<DataDescriptor>& input_cyclic_descriptors() const { return m_input_cyclic_var_descriptors; }
    const std::vector<DataDescriptor>& output_cyclic_descriptors() const { return m_output_cyclic_var_descriptors; }

private:
    int wait_cycle(const Stop_Flag* stop);
    unsigned byte_len_ex(Type_Definition type, unsigned byte_array_dim) const;
    void add_sem_var(const std::string& name, bool input);
    void add_command(const std::string& name, bool input);
    void warn_of_bits(const char* operation, const std::string& item, const std::vector<DataDescriptor>& data) const;
    void write_sem_data(SemVarDescriptor& group, const unsigned char* buffer);
    void read_sem_data(const SemVarDescriptor& group, uint8_t* image);
    static void append(std::vector<DataDescriptor>& descriptors, std::vector<uint8_t>& image, DataDescriptor datum);

    Framework_Shared_Memory_Manager* m_framework;
    std::vector<uint8_t> m_input_cyclic_var_values;
    std::vector<DataDescriptor> m_input_cyclic_var_descriptors;
    std::vector<uint8_t> m_output_cyclic_var_values;
    std::vector<DataDescriptor> m_output_cyclic_var_descriptors;
    std::vector<CmdDescriptor> m_input_cmds;
    std::vector<SemVarDescriptor> m_input_semaphorized_data;
    std::vector<CmdDescriptor> m_output_cmds;
    std::vector<SemVarDescriptor> m_output_semaphorized_data;
    std::map<Type_Definition, uint8_t> m_var_type_byte_len_map;
    pthread_mutex_t m_mutex_cyclics;
    pthread_mutex_t m_mutex_tick_time;
    // Per output command: the id of its answer group ("<name>_receiver"),
    // whose writer the server side is.
    std::vector<int> m_output_cmd_answer_groups;

public:
    const std::vector<CmdDescriptor>& input_cmds;
    const std::vector<SemVarDescriptor>& input_semaphorized_data;
    const std::vector<CmdDescriptor>& output_cmds;
    const std::vector<SemVarDescriptor>& output_semaphorized_data;
};
