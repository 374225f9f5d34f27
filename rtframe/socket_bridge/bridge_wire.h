#pragma once

// What crosses between two bridged boards: the ports of the channels, the
// socket settings both ends use and the token of an empty cyclic image.
// Handshake integers are little-endian: a 4-byte image size, then per item
// its name's raw bytes and its 4-byte type code; the answer is one byte per
// item (1 matched, 0 not).

#include <cstdint>

namespace bridge_wire {
constexpr int CYCLIC_PORT = 60000;
constexpr int SEM_DATA_PORT_BASE = 60100;  // + group entry index
constexpr int COMMAND_PORT_BASE = 60200;   // + command entry index
constexpr int SOCKET_TIMEOUT_MS = 2000;
constexpr int MAX_CONNECTIONS = 1;
// An empty client image: the first period carries FIRST_TOKEN each way, later
// periods carry NEXT_TOKEN from the client.
constexpr uint8_t FIRST_TOKEN = 1;
constexpr uint8_t NEXT_TOKEN = 0;
constexpr uint8_t ITEM_MATCHED = 1;
constexpr uint8_t ITEM_NOT_MATCHED = 0;
// A data-group delivery opens with the number of ring slots that follow (0:
// one group image follows instead); command and answer blocks carry the
// images alone.
constexpr uint32_t SLOT_COUNT_BYTES = 4;

inline void put_le32(uint8_t* bytes, uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        bytes[i] = static_cast<uint8_t>(value >> (8 * i));
}

inline uint32_t get_le32(const uint8_t* bytes)
{
    uint32_t value = 0;
    for (int i = 0; i < 4; ++i)
        value |= static_cast<uint32_t>(bytes[i]) << (8 * i);
    return value;
}
}  // namespace bridge_wire
