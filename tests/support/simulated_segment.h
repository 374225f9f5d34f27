// The options of a simulated segment in a test's own process.
#pragma once

#include "veth_harness.h"

// Real-time priority of simulated slaves: ecatsim's own default, above the
// test's threads, the master's socket thread (55) and the other programs'
// client threads, so that a slave answers within the master's 1 ms register
// wait while the machine's other real-time work keeps its processors busy;
// below the master's cyclic and SDO threads (the maximum less 3 and less 5),
// which a simulator at 98 slowed down on a loaded machine.
constexpr int SIMULATED_SLAVE_PRIORITY = 80;

// The simulator sleeping between frames, at that priority.
inline ecat_sim::Sim_Options simulated_segment_options()
{
    ecat_sim::Sim_Options options = ecat_sim::Veth_Segment::default_options();
    options.priority = SIMULATED_SLAVE_PRIORITY;
    return options;
}
