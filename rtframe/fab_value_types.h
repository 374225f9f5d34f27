#pragma once

#include <string>

#include "framework_types.h"

// Value-type words of the descriptor files, the byte size of each type in the
// framework's images, and the column formatter of the listing.

// Exact match of the word; an unknown word gives UNDEFINED_TYPE_FSM.
Type_Definition typestring2typedescriptor(const std::string& type_string);

// The word of the type; "default return type" for any other code.
std::string typedescriptor2typestring(Type_Definition type);

// Bytes one variable of the type takes; 0 for byte arrays (their size is
// declared per entry) and for unknown codes.
unsigned int type_dimension(Type_Definition type);

// label + " :: " + value, cut to width - 3 characters plus ".." when it does
// not fit, then padded with blanks to width + 1 characters.
std::string build_string(const std::string& label, const std::string& value, const unsigned int& width);
