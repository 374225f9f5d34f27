#pragma once

// Wire records and codes of an EtherCAT segment as its slave controllers see
// them. All multi-byte fields after the Ethernet header are little-endian.

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace ecat_sim {

constexpr uint16_t ETHERTYPE_ECAT = 0x88A4;
constexpr size_t ETH_HEADER_SIZE = 14;
constexpr size_t ECAT_HEADER_SIZE = 2;
constexpr size_t DATAGRAM_HEADER_SIZE = 10;
constexpr size_t WKC_SIZE = 2;
constexpr size_t MAX_FRAME_SIZE = 1518;
constexpr size_t MAX_DATAGRAM_DATA = 1486;
constexpr uint8_t REPLY_SOURCE_MARK = 0x02;  // set in the first source-address byte of every reply

// EtherCAT header: bits 0-10 length of the datagrams, bits 12-15 type.
constexpr uint16_t ECAT_LENGTH_MASK = 0x07FF;
constexpr uint16_t ECAT_TYPE_DATAGRAMS = 1;

// Datagram header, offsets from the datagram's start.
constexpr size_t DG_CMD = 0;
constexpr size_t DG_INDEX = 1;
constexpr size_t DG_ADP = 2;
constexpr size_t DG_ADO = 4;
constexpr size_t DG_LENGTH = 6;
constexpr size_t DG_IRQ = 8;
constexpr size_t DG_DATA = 10;
constexpr uint16_t DG_LENGTH_MASK = 0x07FF;
constexpr uint16_t DG_CIRCULATING = 0x4000;
constexpr uint16_t DG_MORE = 0x8000;

enum Command : uint8_t {
    CMD_NOP = 0,
    CMD_APRD = 1,
    CMD_APWR = 2,
    CMD_APRW = 3,
    CMD_FPRD = 4,
    CMD_FPWR = 5,
    CMD_FPRW = 6,
    CMD_BRD = 7,
    CMD_BWR = 8,
    CMD_BRW = 9,
    CMD_LRD = 10,
    CMD_LWR = 11,
    CMD_LRW = 12,
    CMD_ARMW = 13,
    CMD_FRMW = 14,
};
constexpr uint8_t CMD_LAST = CMD_FRMW;

// Register addresses of a slave controller.
namespace reg {
constexpr uint16_t TYPE = 0x0000;
constexpr uint16_t REVISION = 0x0001;
constexpr uint16_t BUILD = 0x0002;
constexpr uint16_t FMMU_COUNT = 0x0004;
constexpr uint16_t SM_COUNT = 0x0005;
constexpr uint16_t RAM_SIZE = 0x0006;
constexpr uint16_t PORT_DESCRIPTOR = 0x0007;
constexpr uint16_t FEATURES = 0x0008;
constexpr uint16_t STATION_ADDRESS = 0x0010;
constexpr uint16_t STATION_ALIAS = 0x0012;
constexpr uint16_t DL_CONTROL = 0x0100;
constexpr uint16_t DL_STATUS = 0x0110;
constexpr uint16_t AL_CONTROL = 0x0120;
constexpr uint16_t AL_STATUS = 0x0130;
constexpr uint16_t AL_STATUS_CODE = 0x0134;
constexpr uint16_t PDI_CONTROL = 0x0140;
constexpr uint16_t ESC_CONFIG = 0x0141;
constexpr uint16_t EVENT_MASK = 0x0200;
constexpr uint16_t EVENT_REQUEST = 0x0210;
constexpr uint16_t RX_ERROR = 0x0300;            // 4 x 2 bytes
constexpr uint16_t FORWARDED_RX_ERROR = 0x0308;  // 4 x 1 byte
constexpr uint16_t PU_ERROR = 0x030C;
constexpr uint16_t PDI_ERROR = 0x030D;
constexpr uint16_t LOST_LINK = 0x0310;  // 4 x 1 byte
constexpr uint16_t WD_DIVIDER = 0x0400;
constexpr uint16_t WD_PDI_TIME = 0x0410;
constexpr uint16_t WD_PD_TIME = 0x0420;
constexpr uint16_t WD_PD_STATUS = 0x0440;
constexpr uint16_t WD_PD_COUNTER = 0x0442;
constexpr uint16_t SII_CONFIG = 0x0500;
constexpr uint16_t SII_PDI = 0x0501;
constexpr uint16_t SII_CONTROL = 0x0502;
constexpr uint16_t SII_ADDRESS = 0x0504;
constexpr uint16_t SII_DATA = 0x0508;
constexpr uint16_t FMMU_BASE = 0x0600;
constexpr uint16_t FMMU_SIZE = 16;
constexpr uint16_t SM_BASE = 0x0800;
constexpr uint16_t SM_SIZE = 8;
constexpr uint16_t DC_RECEIVE_TIME = 0x0900;  // 4 x 4 bytes, ports 0-3
constexpr uint16_t DC_SYSTEM_TIME = 0x0910;
constexpr uint16_t DC_RECEIVE_TIME_PU = 0x0918;
constexpr uint16_t DC_SYSTEM_OFFSET = 0x0920;
constexpr uint16_t DC_SYSTEM_DELAY = 0x0928;
constexpr uint16_t DC_TIME_DIFFERENCE = 0x092C;
constexpr uint16_t DC_SPEED_START = 0x0930;
constexpr uint16_t DC_CYCLIC_CONTROL = 0x0980;
constexpr uint16_t DC_ACTIVATION = 0x0981;
constexpr uint16_t DC_SYNC_PULSE = 0x0982;
constexpr uint16_t DC_ACTIVATION_STATUS = 0x0984;
constexpr uint16_t DC_START_TIME = 0x0990;  // read: next SYNC0
constexpr uint16_t DC_NEXT_SYNC1 = 0x0998;
constexpr uint16_t DC_SYNC0_CYCLE = 0x09A0;
constexpr uint16_t DC_SYNC1_CYCLE = 0x09A4;
constexpr uint16_t DIGITAL_OUTPUT = 0x0F00;
constexpr uint16_t RAM = 0x1000;
}  // namespace reg

// Sync manager record (0x0800 + 8 n).
namespace sm {
constexpr uint16_t START = 0;
constexpr uint16_t LENGTH = 2;
constexpr uint16_t CONTROL = 4;
constexpr uint16_t STATUS = 5;
constexpr uint16_t ACTIVATE = 6;
constexpr uint16_t PDI_CONTROL = 7;
constexpr uint8_t MODE_MASK = 0x03;
constexpr uint8_t MODE_BUFFERED = 0x00;
constexpr uint8_t MODE_MAILBOX = 0x02;
constexpr uint8_t DIRECTION_MASK = 0x0C;
constexpr uint8_t DIRECTION_MASTER_READS = 0x00;
constexpr uint8_t DIRECTION_MASTER_WRITES = 0x04;
constexpr uint8_t CONTROL_WATCHDOG = 0x40;
constexpr uint8_t STATUS_WRITTEN = 0x01;
constexpr uint8_t STATUS_READ = 0x02;
constexpr uint8_t STATUS_MAILBOX_FULL = 0x08;
constexpr uint8_t STATUS_LAST_BUFFER_NONE = 0x30;
constexpr uint8_t ACTIVATE_ENABLE = 0x01;
constexpr uint8_t ACTIVATE_REPEAT = 0x02;
constexpr uint8_t PDI_DEACTIVATED = 0x01;
constexpr uint8_t PDI_REPEAT_ACK = 0x02;
}  // namespace sm

// FMMU record (0x0600 + 16 n).
namespace fmmu {
constexpr uint16_t LOGICAL_START = 0;
constexpr uint16_t LENGTH = 4;
constexpr uint16_t LOGICAL_START_BIT = 6;
constexpr uint16_t LOGICAL_STOP_BIT = 7;
constexpr uint16_t PHYSICAL_START = 8;
constexpr uint16_t PHYSICAL_START_BIT = 10;
constexpr uint16_t TYPE = 11;
constexpr uint16_t ACTIVATE = 12;
constexpr uint8_t TYPE_READ = 0x01;
constexpr uint8_t TYPE_WRITE = 0x02;
}  // namespace fmmu

// SII control/status word (0x0502).
namespace sii {
constexpr uint16_t WRITE_ENABLE = 0x0001;
constexpr uint16_t READ_SIZE_8 = 0x0040;
constexpr uint16_t COMMAND_MASK = 0x0700;
constexpr uint16_t COMMAND_IDLE = 0x0000;
constexpr uint16_t COMMAND_READ = 0x0100;
constexpr uint16_t COMMAND_WRITE = 0x0200;
constexpr uint16_t COMMAND_RELOAD = 0x0400;
constexpr uint16_t ERROR_CHECKSUM = 0x0800;
constexpr uint16_t ERROR_NOT_LOADED = 0x1000;
constexpr uint16_t ERROR_ACK = 0x2000;
constexpr uint16_t ERROR_WRITE_ENABLE = 0x4000;
constexpr uint16_t ERROR_MASK = 0x7800;
constexpr uint16_t BUSY = 0x8000;
// Word addresses of the contents.
constexpr uint16_t WORD_PDI_CONTROL = 0x0000;
constexpr uint16_t WORD_SYNC_PULSE = 0x0002;
constexpr uint16_t WORD_ALIAS = 0x0004;
constexpr uint16_t WORD_CHECKSUM = 0x0007;
constexpr uint16_t WORD_VENDOR = 0x0008;
constexpr uint16_t WORD_PRODUCT = 0x000A;
constexpr uint16_t WORD_REVISION = 0x000C;
constexpr uint16_t WORD_SERIAL = 0x000E;
constexpr uint16_t WORD_MBX_RECEIVE_OFFSET = 0x0018;
constexpr uint16_t WORD_MBX_RECEIVE_SIZE = 0x0019;
constexpr uint16_t WORD_MBX_SEND_OFFSET = 0x001A;
constexpr uint16_t WORD_MBX_SEND_SIZE = 0x001B;
constexpr uint16_t WORD_MBX_PROTOCOLS = 0x001C;
constexpr uint16_t WORD_SIZE = 0x003E;
constexpr uint16_t WORD_VERSION = 0x003F;
constexpr uint16_t WORD_CATEGORIES = 0x0040;
constexpr uint16_t CHECKSUM_DISABLED = 0x88A4;
constexpr uint16_t PROTOCOL_COE = 0x0004;
constexpr uint16_t CATEGORY_STRINGS = 10;
constexpr uint16_t CATEGORY_GENERAL = 30;
constexpr uint16_t CATEGORY_FMMU = 40;
constexpr uint16_t CATEGORY_SM = 41;
constexpr uint16_t CATEGORY_END = 0xFFFF;
}  // namespace sii

enum Al_State : uint8_t {
    AL_INIT = 1,
    AL_PREOP = 2,
    AL_BOOT = 3,
    AL_SAFEOP = 4,
    AL_OP = 8,
};
constexpr uint16_t AL_STATE_MASK = 0x000F;
constexpr uint16_t AL_ERROR = 0x0010;  // status: error indication; control: acknowledge

namespace al_code {
constexpr uint16_t NONE = 0x0000;
constexpr uint16_t UNSPECIFIED = 0x0001;
constexpr uint16_t INVALID_TRANSITION = 0x0011;
constexpr uint16_t UNKNOWN_STATE = 0x0012;
constexpr uint16_t BOOT_NOT_SUPPORTED = 0x0013;
constexpr uint16_t INVALID_MAILBOX_CONFIG = 0x0016;
constexpr uint16_t INVALID_SM_CONFIG = 0x0017;
constexpr uint16_t SM_WATCHDOG = 0x001B;
constexpr uint16_t INVALID_OUTPUT_CONFIG = 0x001D;
constexpr uint16_t INVALID_INPUT_CONFIG = 0x001E;
constexpr uint16_t INVALID_WATCHDOG_CONFIG = 0x001F;
constexpr uint16_t INVALID_DC_SETUP = 0x0030;
}  // namespace al_code

// Mailbox header (6 bytes) and the protocols carried in it.
namespace mbx {
constexpr size_t HEADER_SIZE = 6;
constexpr size_t LENGTH = 0;
constexpr size_t ADDRESS = 2;
constexpr size_t CHANNEL_PRIORITY = 4;
constexpr size_t TYPE_COUNTER = 5;
constexpr uint8_t TYPE_ERROR = 0x0;
constexpr uint8_t TYPE_COE = 0x3;
constexpr uint8_t TYPE_MASK = 0x0F;
constexpr uint8_t COUNTER_SHIFT = 4;
constexpr uint8_t COUNTER_MASK = 0x07;
constexpr uint16_t ERROR_SERVICE = 0x0001;
constexpr uint16_t ERROR_SYNTAX = 1;
constexpr uint16_t ERROR_UNSUPPORTED_PROTOCOL = 2;
constexpr uint16_t ERROR_INVALID_CHANNEL = 3;
constexpr uint16_t ERROR_SERVICE_NOT_SUPPORTED = 4;
constexpr uint16_t ERROR_INVALID_HEADER = 5;
constexpr uint16_t ERROR_SIZE_TOO_SHORT = 6;
constexpr uint16_t ERROR_NO_MEMORY = 7;
constexpr uint16_t ERROR_INVALID_SIZE = 8;
}  // namespace mbx

// CoE header (2 bytes after the mailbox header) and SDO frames.
namespace coe {
constexpr size_t HEADER = mbx::HEADER_SIZE;           // 2 bytes: number, service in bits 12-15
constexpr size_t SDO_COMMAND = mbx::HEADER_SIZE + 2;  // then index (2), subindex (1), 4 data bytes
constexpr size_t SDO_INDEX = SDO_COMMAND + 1;
constexpr size_t SDO_SUBINDEX = SDO_COMMAND + 3;
constexpr size_t SDO_DATA = SDO_COMMAND + 4;
constexpr size_t SDO_SEGMENT_DATA = SDO_COMMAND + 1;
constexpr size_t SDO_FRAME_SIZE = 10;  // CoE header, command, index, subindex, 4 data bytes
constexpr uint8_t SERVICE_EMERGENCY = 1;
constexpr uint8_t SERVICE_SDO_REQUEST = 2;
constexpr uint8_t SERVICE_SDO_RESPONSE = 3;
constexpr uint8_t SERVICE_SDO_INFO = 8;
// Command specifier in bits 5-7 of the SDO command byte.
constexpr uint8_t CCS_DOWNLOAD_SEGMENT = 0;
constexpr uint8_t CCS_DOWNLOAD_INITIATE = 1;
constexpr uint8_t CCS_UPLOAD_INITIATE = 2;
constexpr uint8_t CCS_UPLOAD_SEGMENT = 3;
constexpr uint8_t CS_ABORT = 4;
constexpr uint8_t SCS_UPLOAD_SEGMENT = 0;
constexpr uint8_t SCS_DOWNLOAD_SEGMENT = 1;
constexpr uint8_t SCS_UPLOAD_INITIATE = 2;
constexpr uint8_t SCS_DOWNLOAD_INITIATE = 3;
constexpr uint8_t SIZE_INDICATED = 0x01;
constexpr uint8_t EXPEDITED = 0x02;
constexpr uint8_t COMPLETE_ACCESS = 0x10;
constexpr uint8_t TOGGLE = 0x10;
constexpr uint8_t LAST_SEGMENT = 0x01;
constexpr uint8_t ABORT = 0x80;
}  // namespace coe

namespace abort_code {
constexpr uint32_t TOGGLE = 0x05030000;
constexpr uint32_t TIMEOUT = 0x05040000;
constexpr uint32_t BAD_COMMAND = 0x05040001;
constexpr uint32_t UNSUPPORTED_ACCESS = 0x06010000;
constexpr uint32_t WRITE_ONLY = 0x06010001;
constexpr uint32_t READ_ONLY = 0x06010002;
constexpr uint32_t NO_OBJECT = 0x06020000;
constexpr uint32_t NOT_MAPPABLE = 0x06040041;
constexpr uint32_t MAPPING_TOO_LONG = 0x06040042;
constexpr uint32_t LENGTH_MISMATCH = 0x06070010;
constexpr uint32_t TOO_LONG = 0x06070012;
constexpr uint32_t TOO_SHORT = 0x06070013;
constexpr uint32_t NO_SUBINDEX = 0x06090011;
constexpr uint32_t VALUE_RANGE = 0x06090030;
constexpr uint32_t GENERAL = 0x08000000;
constexpr uint32_t CANNOT_STORE = 0x08000020;
constexpr uint32_t WRONG_STATE = 0x08000022;
}  // namespace abort_code

// The layouts above, checked where they are declared.
static_assert(DG_DATA == DATAGRAM_HEADER_SIZE, "datagram data follow the 10-byte header");
static_assert(ETH_HEADER_SIZE + ECAT_HEADER_SIZE + DATAGRAM_HEADER_SIZE + MAX_DATAGRAM_DATA + WKC_SIZE == 1514,
              "one datagram of the largest size fills an Ethernet frame without its check sequence");
static_assert(reg::SM_SIZE == 8 && reg::FMMU_SIZE == 16, "sync manager and FMMU records");
static_assert(coe::SDO_COMMAND == 8 && coe::SDO_INDEX == 9 && coe::SDO_SUBINDEX == 11 && coe::SDO_DATA == 12,
              "SDO fields follow the 6-byte mailbox header and the 2-byte CoE header");
static_assert(coe::SDO_SEGMENT_DATA == 9, "segment data follow the command byte");

// Little-endian access to byte buffers.
inline uint16_t get16(const uint8_t* p)
{
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}
inline uint32_t get32(const uint8_t* p)
{
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
           (static_cast<uint32_t>(p[3]) << 24);
}
inline uint64_t get64(const uint8_t* p)
{
    return get32(p) | (static_cast<uint64_t>(get32(p + 4)) << 32);
}
inline void put16(uint8_t* p, uint16_t v)
{
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}
inline void put32(uint8_t* p, uint32_t v)
{
    put16(p, static_cast<uint16_t>(v));
    put16(p + 2, static_cast<uint16_t>(v >> 16));
}
inline void put64(uint8_t* p, uint64_t v)
{
    put32(p, static_cast<uint32_t>(v));
    put32(p + 4, static_cast<uint32_t>(v >> 32));
}

}  // namespace ecat_sim
