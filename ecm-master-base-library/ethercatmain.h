#pragma once

// The cyclic process-data exchange: the whole cyclic command list as
// consecutive datagrams of one frame per cycle.

#include <cstdint>

// One cyclic command, packed.
struct __attribute__((packed)) Cycle_Command_Struct {
    uint8_t com;           // EtherCAT command code
    uint16_t ADP;          // address; low 16 bits of a logical address
    uint16_t ADO;          // register offset; high 16 bits of a logical address
    uint16_t length;       // data bytes
    int ptr_data_use;      // 0: data held by the command; 1: data in the process-data output image
    uint8_t* data;         // the length bytes sent
    int in_or_out_offset;  // the command's data offset from the configuration
    int wrk_expected;      // working counter the reply must carry
};

// Sum of (length + 12) over the list, 0 for num_cmds < 1; the frame is 16
// bytes longer.
int ec_get_ethercat_frame_data_dim(const Cycle_Command_Struct* cycle_cmds, int num_cmds);

// One cyclic exchange. Sends nothing and returns 0 when the list is empty or
// carries no data; returns -3 without sending when the list does not fit one
// frame. On a working counter > 0 of the last datagram the returned
// datagrams (frame byte 16 on) are copied into process_data, which must hold
// 4096 bytes, and the acyclic window of this cycle opens.
int ec_send_receive_cycle_processdata(const Cycle_Command_Struct* cycle_cmds, int num_cmds, uint8_t* process_data,
                                      int cycle_frame_time_ns, unsigned int frame_time_out_us);
