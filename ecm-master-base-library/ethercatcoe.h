#pragma once

// The acyclic mailbox of a slave (SyncManager 0 written by the master,
// SyncManager 1 read by it), CoE SDO uploads and downloads over it
// (expedited, normal, segmented) and the process-wide error list that
// collects SDO aborts, unexpected replies and CoE emergencies. Free functions;
// a slave is named by its configured address, its mailbox geometry and its
// mailbox counter, all kept by the caller. Nothing here throws: results are
// working counters (> 0 success), 0 or a negative exchange result.

#include <sys/time.h>

#include <cstdint>

constexpr int EC_MAXMBX = 1024;                           // mailbox buffer
constexpr int EC_MBX_HEADER = 6;                          // mailbox header
constexpr int EC_SDO_HEADER = EC_MBX_HEADER + 6;          // + CANopen word, command, index, subindex
constexpr int EC_SDO_SEGMENT_HEADER = EC_MBX_HEADER + 3;  // + CANopen word, command
constexpr uint32_t EC_MBX_REGISTER_TIMEOUT_US = 1000;
constexpr long EC_MBX_POLL_SLEEP_NS = 400000;

constexpr uint8_t ECT_MBXT_ERR = 0;
constexpr uint8_t ECT_MBXT_COE = 3;
constexpr uint16_t ECT_COES_EMERGENCY = 1;
constexpr uint16_t ECT_COES_SDOREQ = 2;
constexpr uint16_t ECT_COES_SDORES = 3;

constexpr uint8_t ECT_SDO_UP_REQ = 0x40;
constexpr uint8_t ECT_SDO_UP_REQ_CA = 0x50;
constexpr uint8_t ECT_SDO_SEG_UP_REQ = 0x60;
constexpr uint8_t ECT_SDO_DOWN_INIT = 0x21;
constexpr uint8_t ECT_SDO_DOWN_EXP = 0x23;
constexpr uint8_t ECT_SDO_DOWN_INIT_CA = 0x31;
constexpr uint8_t ECT_SDO_SEG_DOWN_REQ = 0x00;
constexpr uint8_t ECT_SDO_ABORT = 0x80;

// Result codes of the _get_code variants.
constexpr uint8_t EC_SDO_CODE_DOWNLOAD_OK = 0x60;
constexpr uint8_t EC_SDO_CODE_FAILED = 0x80;

// Failed sends or receives tolerated in a row within one segmented upload.
constexpr int EC_SDO_SEGMENT_RETRIES = 10;

using ec_mbxbuft = uint8_t[EC_MAXMBX];

enum ec_err_type : int32_t {
    EC_ERR_TYPE_SDO_ERROR = 0,
    EC_ERR_TYPE_EMERGENCY = 1,
    EC_ERR_TYPE_PACKET_ERROR = 3,
    EC_ERR_TYPE_SDOINFO_ERROR = 4,
    EC_ERR_TYPE_FOE_ERROR = 5,
    EC_ERR_TYPE_FOE_BUF2SMALL = 6,
    EC_ERR_TYPE_FOE_PACKETNUMBER = 7,
};

// Packet error codes.
constexpr uint16_t EC_PACKET_ERROR_UNEXPECTED_FRAME = 1;
constexpr uint16_t EC_PACKET_ERROR_BUFFER_TOO_SMALL = 3;

struct ec_errort {
    timeval Time{};
    bool Signal = false;
    uint16_t Slave = 0;
    uint16_t Index = 0;
    uint8_t SubIdx = 0;
    ec_err_type Etype = EC_ERR_TYPE_SDO_ERROR;
    // SDO error: the abort code; packet error: ErrorCode; emergency: the
    // five emergency fields.
    int32_t AbortCode = 0;
    uint16_t ErrorCode = 0;
    uint8_t ErrorReg = 0;
    uint8_t b1 = 0;
    uint16_t w1 = 0;
    uint16_t w2 = 0;
};

constexpr int EC_MAXELIST = 64;

struct ec_eringt {
    int16_t head = 0;
    int16_t tail = 0;
    ec_errort Error[EC_MAXELIST + 1]{};
};

// The next mailbox counter: 1..7 cyclic, 0 and anything from 7 up give 1.
uint8_t ec_nextmbxcnt(uint8_t cnt);
// Zeroes the first 1023 bytes of the buffer.
void ec_clearmbx(ec_mbxbuft* mbx);

// Waits for the write mailbox to be empty, then writes mbx_l bytes of mbx.
// The write's working counter; 0 when the mailbox stayed full, the length
// is 0 or it exceeds the buffer.
int ec_mbxsend_ecm(uint16_t configadr, uint16_t mbx_l, uint16_t mbx_wo, ec_mbxbuft* mbx, uint32_t timeout_us);
// Waits for the read mailbox to be full, then reads mbx_l bytes into mbx;
// a mailbox error reply is repeated (repeat request) until the deadline. A
// CoE emergency is printed, pushed to the error list and returned as the
// message. The read's working counter (> 0), or 0 on time-out.
int ec_mbxreceive_ecm(uint16_t configadr, uint16_t mbx_l, uint16_t mbx_ro, ec_mbxbuft* mbx, uint32_t timeout_us);

// SDO download of size bytes; > 0 success, 0 on an abort or a wrong reply,
// the mailbox layer's value (<= 0) when sending or receiving failed.
int ec_SDOwrite_ecm(uint16_t configadr, uint16_t mbx_l, uint16_t mbx_wo, uint16_t mbx_ro, uint8_t* mbx_cnt,
                    uint16_t index, uint8_t subindex, bool CA, int psize, const void* p, uint32_t timeout_us);
// SDO upload into p; *psize is the room on entry and the bytes received on
// success. Results as ec_SDOwrite_ecm.
int ec_SDOread_ecm(uint16_t configadr, uint16_t mbx_l, uint16_t mbx_wo, uint16_t mbx_ro, uint8_t* mbx_cnt,
                   uint16_t index, uint8_t subindex, bool CA, int* psize, void* p, uint32_t timeout_us);

// As ec_SDOwrite_ecm; *code becomes 0x60 on success and 0x80 otherwise, an
// abort's code goes to abort_code (4 bytes, least significant first). Bytes
// of p not yet put into a frame when the transfer fails are zeroed.
int ec_SDOwrite_get_code_ecm(uint16_t configadr, uint16_t mbx_l, uint16_t mbx_wo, uint16_t mbx_ro, uint8_t* mbx_cnt,
                             uint16_t index, uint8_t subindex, bool CA, int psize, void* p, uint32_t timeout_us,
                             uint8_t* code, uint8_t* abort_code);
// As ec_SDOread_ecm; on failure *code becomes 0x80: an abort puts its code
// (4 bytes, least significant first) at the start of p and sets *psize to 4,
// so p must hold 4 bytes even when less room is asked for; any other failure
// zeroes the first *psize bytes. On success *code is left as it was.
int ec_SDOread_get_code_ecm(uint16_t configadr, uint16_t mbx_l, uint16_t mbx_wo, uint16_t mbx_ro, uint8_t* mbx_cnt,
                            uint16_t index, uint8_t subindex, bool CA, int* psize, void* p, uint32_t timeout_us,
                            uint8_t* code);
// Sends nothing: one mailbox receive (so a waiting emergency is printed and
// pushed); *code is 1 when a message was read, else 0. The receive's result.
int ec_emcy_SDOread_get_code_ecm(uint16_t configadr, uint16_t mbx_l, uint16_t mbx_wo, uint16_t mbx_ro, uint8_t* mbx_cnt,
                                 uint16_t index, uint8_t subindex, bool CA, int* psize, void* p, uint32_t timeout_us,
                                 uint8_t* code);

// The error list: a ring of 64 usable entries; when full the oldest is
// dropped. Pushes and pops are serialised.
void ec_pusherror(const ec_errort* Ec);
bool ec_poperror(ec_errort* Ec);
void ec_SDOerror(uint16_t configadr, uint16_t index, uint8_t subidx, int32_t AbortCode);
void ec_packeterror(uint16_t configadr, uint16_t index, uint8_t subidx, uint16_t ErrorCode);
// Set whenever an SDO error or a packet error is recorded.
bool ec_get_EcatError();
void ec_clear_EcatError();
