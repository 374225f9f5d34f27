#include "ethercatbase.h"

#include <cerrno>
#include <cstring>
#include <ctime>

#include "nicdrv.h"

namespace {
void put16(uint8_t* p, uint16_t value)
{
    p[0] = static_cast<uint8_t>(value & 0xff);
    p[1] = static_cast<uint8_t>(value >> 8);
}

uint16_t get16(const uint8_t* p)
{
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

constexpr uint16_t EC_HEADER_TYPE = 0x1000;
constexpr uint16_t EC_DATAGRAM_FOLLOWS = 0x8000;

// Datagram at p: header, data, working counter 0. The index byte and the
// interrupt field are left 0.
void write_datagram(uint8_t* p, uint8_t cmd, uint16_t ADP, uint16_t ADO, uint16_t length, const void* data)
{
    p[0] = cmd;
    p[1] = 0;
    put16(p + 2, ADP);
    put16(p + 4, ADO);
    put16(p + 6, length);
    put16(p + 8, 0);
    if (length > 0)
        std::memcpy(p + 10, data, length);
    put16(p + 10 + length, 0);
}

int physical(uint8_t cmd, uint16_t ADP, uint16_t ADO, uint16_t length, void* data, int timeout, char is_priority_cmd)
{
    return ec_send_receive_initcmd(cmd, ADP, ADO, length, data, static_cast<unsigned int>(timeout), is_priority_cmd);
}

int logical(uint8_t cmd, uint32_t LogAdr, uint16_t length, void* data, int timeout, char is_priority_cmd)
{
    return physical(cmd, static_cast<uint16_t>(LogAdr & 0xffff), static_cast<uint16_t>(LogAdr >> 16), length, data,
                    timeout, is_priority_cmd);
}
}  // namespace

int ec_setupdatagram(void* frame, int* ec_txbuflength, uint8_t cmd, uint16_t ADP, uint16_t ADO, uint16_t length,
                     const void* data)
{
    if (length > EC_MAX_ACYCLIC_DATA)
        return -1;
    auto* bytes = static_cast<uint8_t*>(frame);
    ec_setupheader(bytes);
    put16(bytes + EC_ETHERNET_HEADER, static_cast<uint16_t>(EC_HEADER_TYPE + EC_DATAGRAM_OVERHEAD + length));
    write_datagram(bytes + EC_FRAME_HEADER, cmd, ADP, ADO, length, data);
    *ec_txbuflength = length + EC_FRAME_HEADER + EC_DATAGRAM_OVERHEAD;
    return 0;
}

int ec_adddatagram_my(void* frame, int* ec_txbuflength, uint8_t com, uint16_t ADP, uint16_t ADO, uint16_t length,
                      const void* data, int cmd_prev_length)
{
    const int p = *ec_txbuflength;
    if (p + length + EC_DATAGRAM_OVERHEAD > EC_MAXFRAME || cmd_prev_length < EC_DATAGRAM_OVERHEAD ||
        p - cmd_prev_length < EC_FRAME_HEADER)
        return -1;
    auto* bytes = static_cast<uint8_t*>(frame);
    put16(bytes + EC_ETHERNET_HEADER,
          static_cast<uint16_t>(get16(bytes + EC_ETHERNET_HEADER) + length + EC_DATAGRAM_OVERHEAD));
    uint8_t* previous_length_word = bytes + p - cmd_prev_length + 6;
    put16(previous_length_word, static_cast<uint16_t>(get16(previous_length_word) | EC_DATAGRAM_FOLLOWS));
    write_datagram(bytes + p, com, ADP, ADO, length, data);
    *ec_txbuflength = p + length + EC_DATAGRAM_OVERHEAD;
    return 0;
}

int ec_APRD(uint16_t ADP, uint16_t ADO, uint16_t length, void* data, int timeout, char is_priority_cmd)
{
    return physical(EC_CMD_APRD, ADP, ADO, length, data, timeout, is_priority_cmd);
}
int ec_APWR(uint16_t ADP, uint16_t ADO, uint16_t length, void* data, int timeout, char is_priority_cmd)
{
    return physical(EC_CMD_APWR, ADP, ADO, length, data, timeout, is_priority_cmd);
}
int ec_FPRD(uint16_t ADP, uint16_t ADO, uint16_t length, void* data, int timeout, char is_priority_cmd)
{
    return physical(EC_CMD_FPRD, ADP, ADO, length, data, timeout, is_priority_cmd);
}
int ec_FPWR(uint16_t ADP, uint16_t ADO, uint16_t length, void* data, int timeout, char is_priority_cmd)
{
    return physical(EC_CMD_FPWR, ADP, ADO, length, data, timeout, is_priority_cmd);
}
int ec_BRD(uint16_t ADP, uint16_t ADO, uint16_t length, void* data, int timeout, char is_priority_cmd)
{
    return physical(EC_CMD_BRD, ADP, ADO, length, data, timeout, is_priority_cmd);
}
int ec_BWR(uint16_t ADP, uint16_t ADO, uint16_t length, void* data, int timeout, char is_priority_cmd)
{
    return physical(EC_CMD_BWR, ADP, ADO, length, data, timeout, is_priority_cmd);
}
int ec_ARMW(uint16_t ADP, uint16_t ADO, uint16_t length, void* data, int timeout, char is_priority_cmd)
{
    return physical(EC_CMD_ARMW, ADP, ADO, length, data, timeout, is_priority_cmd);
}
int ec_FRMW(uint16_t ADP, uint16_t ADO, uint16_t length, void* data, int timeout, char is_priority_cmd)
{
    return physical(EC_CMD_FRMW, ADP, ADO, length, data, timeout, is_priority_cmd);
}
int ec_LRD(uint32_t LogAdr, uint16_t length, void* data, int timeout, char is_priority_cmd)
{
    return logical(EC_CMD_LRD, LogAdr, length, data, timeout, is_priority_cmd);
}
int ec_LWR(uint32_t LogAdr, uint16_t length, void* data, int timeout, char is_priority_cmd)
{
    return logical(EC_CMD_LWR, LogAdr, length, data, timeout, is_priority_cmd);
}
int ec_LRW(uint32_t LogAdr, uint16_t length, void* data, int timeout, char is_priority_cmd)
{
    return logical(EC_CMD_LRW, LogAdr, length, data, timeout, is_priority_cmd);
}

void ec_resend_pause()
{
    timespec rest{0, EC_RESEND_PAUSE_NS};
    while (clock_nanosleep(CLOCK_MONOTONIC, 0, &rest, &rest) == EINTR) {
    }
}
