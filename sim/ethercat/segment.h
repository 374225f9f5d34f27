#pragma once

// A segment of simulated slaves: the frame passes every reachable slave in
// processing order, each works on every datagram, and the frame returns.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "segment_config.h"
#include "sim_log.h"
#include "slave_controller.h"

namespace ecat_sim {

class Segment {
public:
    explicit Segment(const Segment_Config& config, uint64_t seed = 0);
    Segment(const Segment&) = delete;
    Segment& operator=(const Segment&) = delete;

    // Works on one Ethernet frame in place. True when the frame goes back to
    // the master (source address marked), false when it is lost or not an
    // EtherCAT frame. Call with mutex() held.
    bool process(uint8_t* frame, size_t size, int64_t now);
    // Watchdogs between frames. Call with mutex() held.
    void housekeeping(int64_t now);
    // The simulator was held off for ns (the whole machine stopped): the
    // devices' own clocks did not run, so the watchdogs do not count it.
    // Call with mutex() held.
    void skip_stall(int64_t ns);

    size_t size() const { return m_slaves.size(); }
    Slave_Controller& slave(size_t position) { return *m_slaves.at(position); }
    const Segment_Config& config() const { return m_config; }
    std::mutex& mutex() { return m_mutex; }
    Sim_Log& log() { return m_log; }

    // A broken link between a slave's port and its neighbour; false for a
    // port without a neighbour.
    bool set_link(size_t position, int port, bool up);
    // Every datagram of the next count answered frames gets a working counter
    // one too high.
    void corrupt_working_counters(uint32_t count) { m_corrupt = count; }
    uint64_t frames() const { return m_frames; }
    uint64_t invalid_frames() const { return m_invalid; }

private:
    int64_t traverse(int slave, int64_t t);
    void datagram(Slave_Controller& slave, uint8_t* dg);

    Segment_Config m_config;
    std::vector<std::unique_ptr<Slave_Controller>> m_slaves;
    std::vector<int> m_child;   // [slave * 4 + port]: the slave on that port, -1 none
    std::vector<bool> m_cable;  // [slave * 4 + port]: link up (not broken)
    std::vector<int> m_visit;
    std::vector<Frame_Times> m_times;
    size_t m_datagrams[128] = {};
    size_t m_datagram_count = 0;
    bool m_lost = false;
    int m_reference = -1;  // first slave with a distributed clock
    uint32_t m_corrupt = 0;
    uint64_t m_frames = 0;
    uint64_t m_invalid = 0;
    std::mutex m_mutex;
    Sim_Log m_log;
};

}  // namespace ecat_sim
