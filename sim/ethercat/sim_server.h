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
