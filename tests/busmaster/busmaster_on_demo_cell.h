// busmaster as a child process against the simulated demo cell on a veth
// pair, as the cyclic tests run it: the I/O module without a clock, the drive
// the reference clock.
#pragma once

#include <gtest/gtest.h>

#include <csignal>
#include <memory>
#include <regex>
#include <string>
#include <vector>

#include "child_process.h"
#include "master_request.h"
#include "segment_config.h"
#include "simulated_segment.h"
#include "system_config.h"
#include "veth_harness.h"
#include "xelo_ethercat_system_types.h"

namespace demo_cell {

inline const std::string CONFIG = "/tmp/ecm_system_cfg.xml";
inline const std::string LOG = "/tmp/busmaster.log";
inline const char* const DEMO_CELL = "slave dio device=dio dc=0\nslave drive device=cia402 profile=infranor\n";

inline bool contains(const std::string& haystack, const std::string& text)
{
    return haystack.find(text) != std::string::npos;
}

// The frame count of the simulator's "stats" reply, -1 when it has none.
inline long long frames_received(const std::string& stats)
{
    std::smatch m;
    if (!std::regex_search(stats, m, std::regex("received ([0-9]+)")))
        return -1;
    return std::stoll(m[1]);
}

// The segment and its system configuration; start_master() runs busmaster
// on it, and the test's end stops it with SIGTERM.
class Busmaster_On_Demo_Cell : public ::testing::Test {
protected:
    Busmaster_On_Demo_Cell() : m_segment(ecat_sim::parse_segment_config(DEMO_CELL), simulated_segment_options())
    {
        write_system_config(CONFIG, m_segment.master_interface(), "127.0.0.1", "500");
    }
    // busmaster with these arguments, ready when its command port is bound.
    void start_master(const std::vector<std::string>& arguments)
    {
        m_master = std::make_unique<Child_Process>(BUSMASTER_BINARY, arguments, LOG);
        m_master->wait_ready_ex(probe::udp_port(ecm_protocol::PORT), std::chrono::seconds(10));
    }
    void TearDown() override { EXPECT_EQ(m_master->stop(), 128 + SIGTERM) << m_master->log(); }

public:
    std::string sim(const std::string& command) { return m_segment.simulator().execute(command); }
    std::string log() const { return m_master->log(); }

protected:
    ecat_sim::Veth_Segment m_segment;
    std::unique_ptr<Child_Process> m_master;
};

}  // namespace demo_cell
