#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace robot_sim {

enum class Value_Type { BOOL, UINT8, UINT32, INT32, UINT64, DOUBLE, VECTOR3D, VECTOR6D, VECTOR6INT32 };

struct Variable {
    std::string name;
    Value_Type type;
    bool output;  // readable by clients (output recipe); else writable (input recipe)
};

// Every variable the controller knows.
const std::vector<Variable>& all_variables();
const Variable* find_variable(const std::string& name);

const char* type_name(Value_Type type);
std::size_t element_count(Value_Type type);
std::size_t byte_width(Value_Type type);

}  // namespace robot_sim
