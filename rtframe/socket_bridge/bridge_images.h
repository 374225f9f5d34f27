#pragma once

// Helpers of the bridge's item records shared by its source files.

#include <sstream>
#include <string>
#include <vector>

#include "bridge_framework_interface.h"

namespace bridge_images {
inline std::vector<std::string> names_of(const std::vector<DataDescriptor>& descriptors)
{
    std::vector<std::string> names;
    names.reserve(descriptors.size());
    for (const DataDescriptor& data : descriptors)
        names.push_back(data.name);
    return names;
}

inline std::vector<Type_Definition> types_of(const std::vector<DataDescriptor>& descriptors)
{
    std::vector<Type_Definition> types;
    types.reserve(descriptors.size());
    for (const DataDescriptor& data : descriptors)
        types.push_back(data.type);
    return types;
}

// The stream form of a record, for the registration lines.
template <typename T>
std::string form_of(const T& value)
{
    std::ostringstream text;
    text << value;
    return text.str();
}
// Calls visit with a value of the C++ type that carries a framework type:
// bool for BIT (unless with_bit is false), signed char for INT8, ... ; false
// for any other type.
template <bool with_bit = true, typename Visit>
bool with_value_type(Type_Definition type, Visit&& visit)
{
    switch (type) {
    case BIT_FSM:
        if constexpr (with_bit) {
            visit(bool{});
            return true;
        }
        return false;
    case INT8_FSM: visit(static_cast<signed char>(0)); return true;
    case UINT8_FSM: visit(static_cast<unsigned char>(0)); return true;
    case INT16_FSM: visit(short{}); return true;
    case UINT16_FSM: visit(static_cast<unsigned short>(0)); return true;
    case INT32_FSM: visit(int{}); return true;
    case UINT32_FSM: visit(unsigned{}); return true;
    case DOUBLE_FSM: visit(double{}); return true;
    case INT64_FSM: visit(static_cast<long long>(0)); return true;
    case UINT64_FSM: visit(static_cast<unsigned long long>(0)); return true;
    case FLOAT_FSM: visit(float{}); return true;
    default: return false;
    }
}
}  // namespace bridge_images
