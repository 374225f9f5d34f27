#pragma once

#include <cstddef>
#include <cstdint>

#include "framework_shared_memory.h"

// Writes an output's default value into the cyclic output image, at start-up
// and when the output's owner is released. A BIT_FSM record sets or clears
// its bit (bit_offs, 0 = least significant) from the default's first byte,
// inverted when negated, leaving the other bits; any other type copies the
// first byte_dim bytes of the default (at most the 100 it holds). Aliases
// have no default of their own, and a record that does not lie inside the
// image is never written: both return false. The caller holds the cyclic
// mutex whenever clients may be attached.
bool write_output_default(const Shared_Application_Data_Struct& record, uint8_t* image, std::size_t image_size);
