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
}  // namespace bridge_wire
