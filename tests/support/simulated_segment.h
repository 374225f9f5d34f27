// The options of a simulated segment in a test's own process.
#pragma once

#include "veth_harness.h"

// Real-time priority of simulated slaves: above every thread of the master
// (its cyclic thread runs at the maximum less 3), as hardware answers
// whatever the master's processor does. The master spins at its priority
// while it waits for a reply, so a slave below it could not answer while
// two masters of concurrent cases spun on a machine's two processors. The
// simulator sleeps between frames, so it takes a processor only per frame.
constexpr int SIMULATED_SLAVE_PRIORITY = 98;

// The simulator sleeping between frames, at that priority.
inline ecat_sim::Sim_Options simulated_segment_options()
{
    ecat_sim::Sim_Options options = ecat_sim::Veth_Segment::default_options();
    options.priority = SIMULATED_SLAVE_PRIORITY;
    return options;
}
