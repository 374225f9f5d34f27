// The options of a simulated segment in a test's own process.
#pragma once

#include "veth_harness.h"

// Real-time priority of simulated slaves: above every thread of the master
// (its cyclic thread runs at the maximum less 3) and of the test, so that a
// slave answers within the master's 1 ms register wait however busy the
// machine's other real-time threads keep its processors.
constexpr int SIMULATED_SLAVE_PRIORITY = 98;

// The simulator sleeping between frames, at that priority.
inline ecat_sim::Sim_Options simulated_segment_options()
{
    ecat_sim::Sim_Options options = ecat_sim::Veth_Segment::default_options();
    options.priority = SIMULATED_SLAVE_PRIORITY;
    return options;
}
