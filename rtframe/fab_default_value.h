#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "framework_types.h"

// A variable's default value as the bytes it has in memory (processor byte
// order), converted from the text of its "default_value" attribute.
struct Default_Value_Bytes {
    std::vector<uint8_t> bytes;
    bool is_string = false;  // a byte array given as plain text
};

// Scalars take max(type size, byte_dim) bytes, zero-padded, so a slave
// variable declared wider than its type never reads past its default; byte
// arrays take byte_dim bytes. Throws std::runtime_error naming the variable.
Default_Value_Bytes convert_default_value_ex(const std::string& text, Type_Definition type, unsigned int byte_dim,
                                             const std::string& name);

// The default as the listing shows it; empty when there is none (or fewer
// bytes than the type needs). Throws "type not recognized (printing)".
std::string default_value_text_ex(const std::vector<uint8_t>& bytes, Type_Definition type, unsigned int byte_dim,
                                  bool is_string);
