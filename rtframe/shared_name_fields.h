#pragma once

#include <cstddef>
#include <string>

// Names that the server copies into fixed-size, zero-terminated fields of
// the shared records: variable and datum labels and alias targets (500
// bytes), group names (100 bytes). The descriptor loader refuses longer ones;
// the copy checks again, so that no field is ever left without its zero.
//
// Copies text into the field, zero-padded; throws when it does not fit with
// a terminating zero (what names the field in the text).
void copy_name_ex(char* field, std::size_t field_size, const std::string& text, const char* what);
