#include "fab_value_types.h"

#include <algorithm>
#include <iterator>
#include <unordered_map>

namespace {

struct Type_Row {
    Type_Definition type;
    const char* word;
    unsigned int dimension;
};

// Indexed by the type code.
constexpr Type_Row TYPE_TABLE[] = {
    {BIT_FSM, "bit", 1},       {INT8_FSM, "int8", 1},     {UINT8_FSM, "uint8", 1},
    {INT16_FSM, "int16", 2},   {UINT16_FSM, "uint16", 2}, {INT32_FSM, "int32", 4},
    {UINT32_FSM, "uint32", 4}, {DOUBLE_FSM, "double", 8}, {BYTE_ARRAY_FSM, "uint8_array[0..n]", 0},
    {INT64_FSM, "int64", 8},   {UINT64_FSM, "uint64", 8}, {FLOAT_FSM, "float", 4},
};

const Type_Row* row_of(Type_Definition type)
{
    const auto code = static_cast<int>(type);
    if (code < 0 || code >= static_cast<int>(std::size(TYPE_TABLE)))
        return nullptr;
    return &TYPE_TABLE[code];
}

}  // namespace

Type_Definition typestring2typedescriptor(const std::string& type_string)
{
    static const std::unordered_map<std::string, Type_Definition> words = [] {
        std::unordered_map<std::string, Type_Definition> table;
        for (const Type_Row& row : TYPE_TABLE)
            table.emplace(row.word, row.type);
        table.emplace("uint8_array[0..7]", BYTE_ARRAY_FSM);
        table.emplace("uint16_array[0..7]", BYTE_ARRAY_FSM);
        return table;
    }();
    const auto found = words.find(type_string);
    return found == words.end() ? UNDEFINED_TYPE_FSM : found->second;
}

std::string typedescriptor2typestring(Type_Definition type)
{
    const Type_Row* row = row_of(type);
    return row != nullptr ? row->word : "default return type";
}

unsigned int type_dimension(Type_Definition type)
{
    const Type_Row* row = row_of(type);
    return row != nullptr ? row->dimension : 0;
}

std::string build_string(const std::string& label, const std::string& value, const unsigned int& width)
{
    std::string s = label + " :: " + value;
    if (width >= 1 && s.size() >= width) {
        if (width >= 3)
            s.resize(std::min<std::size_t>(s.size(), width - 3));
        s += "..";
    }
    while (s.size() <= width)
        s += ' ';
    return s;
}
