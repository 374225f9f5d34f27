#pragma once

#include <cstddef>
#include <cstdint>

// CRC-8 of the slave information interface's configuration area (words 0-6,
// low byte first): polynomial x^8 + x^2 + x + 1, initial value 0xFF, most
// significant bit first, no reflection, no final XOR.
uint8_t ec_sii_crc8(const uint8_t* data, std::size_t length);
