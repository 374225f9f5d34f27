#pragma once
// Writers of the model dump: one "<Name>value</Name>" line per value, nested
// records between an opening and a closing tag, byte strings in lower-case
// hexadecimal without leading zeros.

#include <iomanip>
#include <ostream>
#include <vector>

namespace eni_dump {

template <typename T>
void value(std::ostream& os, const char* name, const T& v)
{
    os << '<' << name << '>' << v << "</" << name << ">\n";
}

inline void truth(std::ostream& os, const char* name, bool v)
{
    value(os, name, v ? 1 : 0);
}

inline void bytes(std::ostream& os, const char* name, const std::vector<unsigned char>& data)
{
    os << '<' << name << '>' << std::hex;
    for (unsigned char byte : data)
        os << static_cast<unsigned>(byte);
    os << std::dec << "</" << name << ">\n";
}

// Opening tag, line end, the record, closing tag.
template <typename T>
void block(std::ostream& os, const char* name, const T& record)
{
    os << '<' << name << ">\n" << record << "</" << name << ">\n";
}

// The record directly behind its opening tag.
template <typename T>
void inline_block(std::ostream& os, const char* name, const T& record)
{
    os << '<' << name << '>' << record << "</" << name << ">\n";
}

inline void attribute(std::ostream& os, const char* name, bool v)
{
    os << "ATT:" << name << '=' << (v ? 1 : 0) << '\n';
}

inline void fixed2(std::ostream& os)
{
    os << std::fixed << std::setprecision(2);
}

}  // namespace eni_dump
