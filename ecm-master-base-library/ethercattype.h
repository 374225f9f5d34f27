#pragma once
// Command types of the EtherCAT datagram header, shared by the frame layer
// and the ENI model that stores them.

#include <cstdint>

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

static_assert(sizeof(ec_cmdtype) == 4, "ec_cmdtype is a 32-bit code");
