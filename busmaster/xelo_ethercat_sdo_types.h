#pragma once

// One SDO request queued for the SDO manager thread, and after the transfer
// its result; the operation codes the queue accepts.

#include <cstdint>
#include <vector>

struct SDOTypemanage {
    uint16_t conf_addr = 0;      // configured station address of the slave
    int index_el = 0;            // CoE object index (16 bits on the wire)
    int sub_index_el = 0;        // subindex (8 bits on the wire)
    int dim_data_el = 0;         // data bytes
    unsigned char sdo_code = 0;  // request: operation code; result: the code the transfer reported
    std::vector<unsigned char> data_el;
};

namespace ecm_sdo {
// Data bytes one blocking or queued transfer moves at most.
constexpr int BUFFER_SIZE = 50;

constexpr unsigned char DOWNLOAD_1 = 0x2F;
constexpr unsigned char DOWNLOAD_2 = 0x2B;
constexpr unsigned char DOWNLOAD_3 = 0x27;
constexpr unsigned char DOWNLOAD_4 = 0x23;
constexpr unsigned char UPLOAD_1 = 0x4F;
constexpr unsigned char UPLOAD_2 = 0x4B;
constexpr unsigned char UPLOAD_3 = 0x47;
constexpr unsigned char UPLOAD_4 = 0x43;
constexpr unsigned char EMERGENCY_POLL = 0xFF;
constexpr unsigned char DOWNLOAD_BIT = 0x20;
constexpr unsigned char UPLOAD_BIT = 0x40;
// Result codes: a download done, a transfer failed or aborted.
constexpr unsigned char RESULT_DOWNLOAD_OK = 0x60;
constexpr unsigned char RESULT_FAILED = 0x80;

// Size that goes with an operation code; -1 for 0xFF (any) and for codes the
// checked queue refuses.
constexpr int size_of_code(unsigned char code)
{
    switch (code) {
    case DOWNLOAD_1:
    case UPLOAD_1: return 1;
    case DOWNLOAD_2:
    case UPLOAD_2: return 2;
    case DOWNLOAD_3:
    case UPLOAD_3: return 3;
    case DOWNLOAD_4:
    case UPLOAD_4: return 4;
    default: return -1;
    }
}
}  // namespace ecm_sdo
