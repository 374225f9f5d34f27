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
}  // namespace bridge_images
