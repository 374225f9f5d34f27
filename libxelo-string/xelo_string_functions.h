#pragma once

#include <sstream>
#include <string>
#include <vector>

// Small text helpers shared by every deliverable.
namespace XELO_String_Functions {

std::string bool2str(bool value);

// Fixed-point text: width (0 = none), fill on the left, precision digits.
std::string num2str(double value, int width, char fill, int precision);

// Default floating-point text, zero-padded to width (0 = no padding).
std::string num2str(double value, int width);

// The value as a default-formatted string stream writes it (an unsigned
// char is written as the character itself).
template <typename T>
std::string num2str(const T& value)
{
    std::ostringstream stream;
    stream << value;
    return stream.str();
}

// Splits at any character of delimiters; no empty tokens are produced.
std::vector<std::string> tokenize(const std::string& str, const std::string& delimiters);

}  // namespace XELO_String_Functions
