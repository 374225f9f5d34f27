#include "framework_types.h"

#include <stdexcept>

std::string get_type_name_from_type_id_ex(int type_id)
{
    switch (type_id) {
    case UNDEFINED_TYPE_FSM: return "undefined_type";
    case BIT_FSM: return "bit";
    case INT8_FSM: return "int8";
    case UINT8_FSM: return "uint8";
    case INT16_FSM: return "int16";
    case UINT16_FSM: return "uint16";
    case INT32_FSM: return "int32";
    case UINT32_FSM: return "uint32";
    case DOUBLE_FSM: return "double";
    case BYTE_ARRAY_FSM: return "uint8_array[0..n]";
    case INT64_FSM: return "int64";
    case UINT64_FSM: return "uint64";
    case FLOAT_FSM: return "float";
    default:
        throw std::runtime_error("[get_string_name_from_type_id_ex] type id " + std::to_string(type_id) +
                                 " not recognized");
    }
}
