#pragma once
// EtherCAT codes that the ENI model stores and the master acts on: the AL
// states named by cyclic commands and the datagram command types.

#include <cstdint>

enum State_Enum : int32_t {
    NO_STATE = 0,
    INIT_STATE = 1,
    PREOP_STATE = 2,
    SAFEOP_STATE = 4,
    OP_STATE = 8,
};

// Command type of an EtherCAT datagram header.
enum ec_cmdtype : uint32_t {
    EC_CMD_NOP = 0,
    EC_CMD_APRD = 1,
    EC_CMD_APWR = 2,
    EC_CMD_APRW = 3,
    EC_CMD_FPRD = 4,
    EC_CMD_FPWR = 5,
    EC_CMD_FPRW = 6,
    EC_CMD_BRD = 7,
    EC_CMD_BWR = 8,
    EC_CMD_BRW = 9,
    EC_CMD_LRD = 10,
    EC_CMD_LWR = 11,
    EC_CMD_LRW = 12,
    EC_CMD_ARMW = 13,
    EC_CMD_FRMW = 14,
};

static_assert(sizeof(State_Enum) == 4, "State_Enum travels as a 32-bit integer");
static_assert(sizeof(ec_cmdtype) == 4, "ec_cmdtype is a 32-bit code");
