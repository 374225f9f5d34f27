#pragma once

// EtherCAT datagrams laid into frames, and the acyclic datagram commands.
// Each command sends one datagram in one frame and returns the working
// counter of the reply (>= 0) or a negative result of the exchange; on a
// working counter > 0 the length data bytes of the reply are copied back into
// data, for writes as well as reads. is_priority_cmd non-zero skips the gate.

#include <cstdint>

#include "ethercattype.h"

// A whole one-datagram frame into frame, its byte length into
// *ec_txbuflength. 0, or -1 (nothing written) when length exceeds 1490.
int ec_setupdatagram(void* frame, int* ec_txbuflength, uint8_t cmd, uint16_t ADP, uint16_t ADO, uint16_t length,
                     const void* data);

// Appends a datagram behind the frame's last one, whose data length + 12 is
// cmd_prev_length. 0, or -1 (nothing written) when the frame would exceed
// 1518 bytes.
int ec_adddatagram_my(void* frame, int* ec_txbuflength, uint8_t com, uint16_t ADP, uint16_t ADO, uint16_t length,
                      const void* data, int cmd_prev_length);

int ec_APRD(uint16_t ADP, uint16_t ADO, uint16_t length, void* data, int timeout, char is_priority_cmd);
int ec_APWR(uint16_t ADP, uint16_t ADO, uint16_t length, void* data, int timeout, char is_priority_cmd);
int ec_FPRD(uint16_t ADP, uint16_t ADO, uint16_t length, void* data, int timeout, char is_priority_cmd);
int ec_FPWR(uint16_t ADP, uint16_t ADO, uint16_t length, void* data, int timeout, char is_priority_cmd);
int ec_BRD(uint16_t ADP, uint16_t ADO, uint16_t length, void* data, int timeout, char is_priority_cmd);
int ec_BWR(uint16_t ADP, uint16_t ADO, uint16_t length, void* data, int timeout, char is_priority_cmd);
int ec_ARMW(uint16_t ADP, uint16_t ADO, uint16_t length, void* data, int timeout, char is_priority_cmd);
int ec_FRMW(uint16_t ADP, uint16_t ADO, uint16_t length, void* data, int timeout, char is_priority_cmd);
// Logical commands: the low 16 bits of LogAdr go into ADP, the high into ADO.
int ec_LRD(uint32_t LogAdr, uint16_t length, void* data, int timeout, char is_priority_cmd);
int ec_LWR(uint32_t LogAdr, uint16_t length, void* data, int timeout, char is_priority_cmd);
int ec_LRW(uint32_t LogAdr, uint16_t length, void* data, int timeout, char is_priority_cmd);

// A reply lost or late: a single acyclic exchange goes out again, as an init
// command does, after the same pause, EC_ACYCLIC_RESENDS times at most.
constexpr int EC_ACYCLIC_RESENDS = 3;
constexpr long EC_RESEND_PAUSE_NS = 10000000;  // 10 ms
void ec_resend_pause();

// Calls exchange (one datagram command: its working counter or a negative
// result) until the result is at least least_wkc or the resends are used up;
// the last result.
template <typename Exchange>
int ec_exchange_with_resends(Exchange exchange, int least_wkc = 0)
{
    int wkc = exchange();
    for (int resend = 0; resend < EC_ACYCLIC_RESENDS && wkc < least_wkc; ++resend) {
        ec_resend_pause();
        wkc = exchange();
    }
    return wkc;
}
