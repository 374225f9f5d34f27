#pragma once

// The simulator on a network interface: an AF_PACKET socket bound to
// EtherType 0x88A4, a frame thread that answers every EtherCAT frame once
// (busy-polling at SCHED_FIFO by default), a control socket and a logger.

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "segment.h"
#include "sim_control.h"

namespace ecat_sim {

struct Sim_Options {
    std::string interface;
    bool busy_poll = true;      // false: sleep in poll() between frames
    int priority = 0;           // SCHED_FIFO priority of the frame thread, 0 = inherit
    int cpu = -1;               // pin the frame thread to this CPU, -1 = anywhere
    uint16_t control_port = 0;  // 0: the configuration's, else DEFAULT_CONTROL_PORT
    bool control = true;        // open the control socket
    bool log_datagrams = false;
    bool log_transitions = false;
    std::string log_path;  // empty: standard output
    uint64_t seed = 0;     // clock offsets; 0 = random
};

class Ecat_Simulator {
public:
    // Ready to answer when the constructor returns. Throws std::runtime_error.
    Ecat_Simulator(const Segment_Config& config, const Sim_Options& options);
    ~Ecat_Simulator();
    Ecat_Simulator(const Ecat_Simulator&) = delete;
    Ecat_Simulator& operator=(const Ecat_Simulator&) = delete;

    Segment& segment() { return m_segment; }
    uint16_t control_port() const { return m_control_port; }
    // One control command, as over the control socket.
    std::string execute(const std::string& command);

    uint64_t received() const { return m_received.load(); }
    uint64_t answered() const { return m_answered.load(); }

private:
    void frame_thread();
    void control_thread();
    void logger_thread();
    // Byte of a frame where its first datagram's register address begins.
    static constexpr size_t FIRST_ADO_OFFSET = 20;
    bool drop_this_frame(const uint8_t* frame, size_t size);

    // The control commands (sim_control.h), one table of word, scope and
    // handler. A handler receives the command's words and, under the
    // segment's lock, the time and the slave its first argument names.
    enum class Command_Scope;
    struct Control_Command;
    struct Command_Call {
        const std::vector<std::string>& words;
        Slave_Controller* slave;
        size_t position;
        int64_t now;
    };
    static const Control_Command* find_command(const std::string& word);
    size_t slave_position(const std::string& text);
    static Device& command_device(const Command_Call& call);
    std::string command_drop(const Command_Call& call);
    std::string command_drop_fraction(const Command_Call& call);
    std::string command_delay(const Command_Call& call);
    std::string command_log(const Command_Call& call);
    std::string command_stats(const Command_Call& call);
    std::string command_corrupt_wkc(const Command_Call& call);
    std::string command_phase(const Command_Call& call);
    std::string command_state(const Command_Call& call);
    std::string command_refuse(const Command_Call& call);
    std::string command_link(const Command_Call& call);
    std::string command_sdo_abort(const Command_Call& call);
    std::string command_sdo_abort_clear(const Command_Call& call);
    std::string command_emergency(const Command_Call& call);
    std::string command_eeprom_busy(const Command_Call& call);
    std::string command_eeprom_word(const Command_Call& call);
    std::string command_eeprom_nack(const Command_Call& call);
    std::string command_clock_jump(const Command_Call& call);
    std::string command_clock_drift(const Command_Call& call);
    std::string command_error_counter(const Command_Call& call);
    std::string command_set(const Command_Call& call);
    std::string command_get(const Command_Call& call);
    std::string command_fault(const Command_Call& call);
    std::string command_warning(const Command_Call& call);
    std::string command_restart(const Command_Call& call);
    std::string command_read(const Command_Call& call);
    std::string command_eeprom(const Command_Call& call);
    std::string command_outputs(const Command_Call& call);
    std::string command_sdo_log(const Command_Call& call);

    Segment m_segment;
    Sim_Options m_options;
    int m_fd = -1;
    int m_control_fd = -1;
    uint16_t m_control_port = 0;
    FILE* m_log_file = nullptr;
    std::atomic<bool> m_running{true};
    std::atomic<uint64_t> m_received{0};
    std::atomic<uint64_t> m_answered{0};
    std::atomic<uint64_t> m_dropped{0};
    std::atomic<uint32_t> m_drop_next{0};
    std::atomic<int32_t> m_drop_register{-1};  // -1: any frame
    std::atomic<uint32_t> m_drop_per_million{0};
    std::atomic<uint32_t> m_delay_us{0};
    std::minstd_rand m_random{12345};
    std::thread m_frames;
    std::thread m_control;
    std::thread m_logger;
};

int64_t monotonic_ns();

}  // namespace ecat_sim
