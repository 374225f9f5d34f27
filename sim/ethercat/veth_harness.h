#pragma once

// Test harness: a veth pair in the caller's network namespace (the tests run
// each case in a namespace of its own), the simulator on one end, and a raw
// EtherCAT socket for the other end, where a master (or a test) sits.

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "sim_server.h"

namespace ecat_sim {

// Runs a program and waits for it; throws with its exit status on failure.
void run_command(const std::vector<std::string>& arguments);

// A veth pair, both ends up and passing frames when the constructor
// returns; deleted again by the destructor.
class Veth_Pair {
public:
    Veth_Pair(const std::string& master_end = "ecat0", const std::string& segment_end = "ecat1");
    ~Veth_Pair();
    Veth_Pair(const Veth_Pair&) = delete;
    Veth_Pair& operator=(const Veth_Pair&) = delete;
    const std::string& master_end() const { return m_master; }
    const std::string& segment_end() const { return m_segment; }

private:
    std::string m_master;
    std::string m_segment;
};

// The simulator on the segment end of a fresh veth pair. The options'
// interface is filled in; by default the frame thread sleeps in poll() (the
// machine is shared with other tests) and the control socket is open.
class Veth_Segment {
public:
    explicit Veth_Segment(const Segment_Config& config, Sim_Options options = default_options());
    static Sim_Options default_options();
    // The interface a master opens.
    const std::string& master_interface() const { return m_veth.master_end(); }
    Ecat_Simulator& simulator() { return *m_simulator; }

private:
    Veth_Pair m_veth;
    std::unique_ptr<Ecat_Simulator> m_simulator;
};

// A raw socket on one interface bound to EtherType 0x88A4: what a master uses.
class Raw_Ethernet_Socket {
public:
    explicit Raw_Ethernet_Socket(const std::string& interface);
    ~Raw_Ethernet_Socket();
    Raw_Ethernet_Socket(const Raw_Ethernet_Socket&) = delete;
    Raw_Ethernet_Socket& operator=(const Raw_Ethernet_Socket&) = delete;
    void send(const uint8_t* frame, size_t size);
    // The next frame, or 0 after the time-out; busy-polls when busy is true.
    [[nodiscard]] size_t receive(uint8_t* frame, size_t room, std::chrono::microseconds timeout, bool busy = false);
    int fd() const { return m_fd; }

private:
    int m_fd = -1;
};

}  // namespace ecat_sim
