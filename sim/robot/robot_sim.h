#pragma once

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <fstream>
#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "robot_sim_variables.h"
#include "rtde_port.h"

namespace robot_sim {

struct Config {
    std::string address = "127.0.0.1";
    uint16_t port = rtde_client::RTDE_PORT;  // 0: any free port
    int control_port = -1;                   // TCP port of the control socket on 127.0.0.1; -1 none, 0 any free
    std::array<uint32_t, 4> controller_version{5, 11, 0, 1};
    std::string dump_path;  // every package received (see "dump" below); empty: none
    bool log_traffic = false;
};

// A robot controller's RTDE server on one address and port: several clients
// at once, each with its own recipes. Protocol version 2; output recipes up
// to 500 Hz streamed on absolute monotonic deadlines while started; input
// recipes hold their variables ("IN_USE" for every other client).
//
// Controlled by text commands (command(), or one line each on the control
// socket, answered by one line "OK ..." or "ERR ..."):
//   state RS SS RB            runtime_state, safety_status_bits, robot_status_bits at once
//   script RS,SS,RB[*N] ...   one step per data package sent (any client), a step
//                             with *N for N packages; the last one stays
//   set NAME V...             any output variable (vectors: all elements)
//   get NAME                  an output, or an input as the clients last wrote it
//   refuse_start N            refuse the next N start requests
//   refuse_version on|off     refuse the protocol version
//   hold_input NAME | release_input NAME    an input held as by a fieldbus
//   unknown NAME              an output variable answered "NOT_FOUND" from now on
//   retype NAME TYPE          an output variable named TYPE in output-setup
//                             replies from now on; its values keep their width
//   hold | resume             stop and resume the stream (clients are not told)
//   text MESSAGE              a text message to every client now
//   text_before_reply MESSAGE a text message in front of the next reply
//   close between | close inside    close every client connection between
//                             packages, or after half a package
//   send short|tiny|oversized|unknown|foreign   to every client: a data package
//                             shorter than its recipe, a size field of 2, a data
//                             package with 8 extra bytes, a package of unknown
//                             type 'X', the values under a recipe id not set up
//   stamp N | stamp off       send time (monotonic clock, s) in output_double_register_N
//   dump PATH | dump off      every package received, one line each: the client's
//                             number (from 1, in order of connection) and the hex bytes
//   log on | log off          an INF line for every package in and out
//   version MA MI BF BU       controller version
//   count                     data packages sent so far ("OK <n>")
//   clients                   connected clients ("OK <n>")
class Robot_Controller_Sim {
public:
    explicit Robot_Controller_Sim(const Config& config);
    ~Robot_Controller_Sim();
    Robot_Controller_Sim(const Robot_Controller_Sim&) = delete;
    Robot_Controller_Sim& operator=(const Robot_Controller_Sim&) = delete;

    uint16_t port() const { return m_port; }
    uint16_t control_port() const { return m_control_port; }

    std::string command(const std::string& line);
    uint64_t packages_sent() const { return m_sent.load(); }
    std::size_t clients() const;

private:
    struct Session;

    void accept_loop();
    void control_loop();
    void serve_control(int fd);
    void reader(Session& session);
    void streamer(Session& session);
    // Reply frames for one request; called under m_mutex.
    std::vector<std::string> handle(Session& session, uint8_t type, const std::string& payload);
    std::string setup_outputs(Session& session, const std::string& payload, std::vector<std::string>& extra);
    std::string setup_inputs(Session& session, const std::string& payload);
    void take_input(Session& session, const std::string& payload, std::vector<std::string>& extra);
    // The next data package of the session's stream: the script's next step
    // applied, the timestamp advanced; stamp_at receives the offset of the
    // send stamp in it (0: none). Called under m_mutex.
    std::string next_package(Session& session, std::size_t& stamp_at);
    // The session's data package of the values as they stand. Under m_mutex.
    std::string data_package(const Session& session, std::size_t& stamp_at);
    bool write(Session& session, const std::string& bytes);
    void end_session(Session& session);
    void reap();
    void record_in(int client, const std::string& bytes);
    void log_out(int client, const std::string& bytes);
    std::vector<std::shared_ptr<Session>> sessions() const;

    // The control commands, one table of word, argument count and handler.
    struct Control_Command;
    struct Command_Call {
        const std::vector<std::string>& words;  // the command's word first
        const std::string& rest;                // the line after the command's word
    };
    static const Control_Command* find_command(const std::string& word, std::size_t argc, const std::string& first);
    std::string command_state(const Command_Call& call);
    std::string command_script(const Command_Call& call);
    std::string command_set(const Command_Call& call);
    std::string command_get(const Command_Call& call);
    std::string command_refuse_start(const Command_Call& call);
    std::string command_refuse_version(const Command_Call& call);
    std::string command_hold_input(const Command_Call& call);  // and release_input
    std::string command_unknown(const Command_Call& call);
    std::string command_retype(const Command_Call& call);
    std::string command_hold(const Command_Call& call);  // and resume
    std::string command_text(const Command_Call& call);
    std::string command_text_before_reply(const Command_Call& call);
    std::string command_close(const Command_Call& call);
    std::string command_send(const Command_Call& call);
    // A package of the faulty kind "send" names, for one session.
    std::string faulty_package(const Session& session, const std::string& kind);
    std::string command_stamp(const Command_Call& call);
    std::string command_dump(const Command_Call& call);
    std::string command_log(const Command_Call& call);
    std::string command_version(const Command_Call& call);
    std::string command_count(const Command_Call& call);
    std::string command_clients(const Command_Call& call);

    Config m_config;
    int m_listen_fd = -1;
    int m_control_fd = -1;
    uint16_t m_port = 0;
    uint16_t m_control_port = 0;
    std::atomic<bool> m_stop{false};
    std::atomic<uint64_t> m_sent{0};

    mutable std::mutex m_mutex;  // everything below
    std::map<std::string, std::vector<double>> m_outputs;
    std::map<std::string, std::vector<double>> m_inputs;
    std::map<std::string, int> m_input_holders;  // name -> client id; 0 held by the controller
    std::set<std::string> m_unknown;
    std::map<std::string, std::string> m_retyped;  // name -> type named in setup replies
    std::vector<std::array<uint32_t, 3>> m_script;
    std::size_t m_script_step = 0;
    int m_refuse_starts = 0;
    bool m_refuse_version = false;
    bool m_hold = false;
    int m_stamp_register = -1;
    std::atomic<bool> m_log{false};
    bool m_timestamp_set = false;
    std::string m_text_before_reply;
    std::array<uint32_t, 4> m_version;
    std::list<std::shared_ptr<Session>> m_sessions;
    int m_next_client = 1;

    std::mutex m_dump_mutex;
    std::ofstream m_dump;

    std::thread m_accept_thread;
    std::thread m_control_thread;
};

}  // namespace robot_sim
