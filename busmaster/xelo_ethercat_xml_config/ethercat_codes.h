#pragma once
// EtherCAT codes that the ENI model stores and the master acts on: the AL
// states named by cyclic commands (shared with the master's clients) and the
// datagram command types.

#include "ethercattype.h"
#include "xelo_ethercat_system_types.h"
