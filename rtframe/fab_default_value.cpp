#include "fab_default_value.h"

#include <algorithm>
#include <cstring>
#include <sstream>
#include <stdexcept>

#include "fab_value_types.h"
#include "xelo_string_functions.h"

namespace {

const std::string PREFIX = "[fab_descriptors][IO_Descriptor] ";

// A number of type T; no number, or one out of T's range, is refused.
template <typename T>
T read_number_ex(const std::string& text, const std::string& name)
{
    std::istringstream stream(text);
    T value{};
    if (!(stream >> value))
        throw std::runtime_error(PREFIX + "cannot get default value :: " + name);
    return value;
}

template <typename T>
void store(std::vector<uint8_t>& bytes, T value)
{
    std::memcpy(bytes.data(), &value, sizeof(T));
}

void fill_scalar_ex(std::vector<uint8_t>& bytes, const std::string& text, Type_Definition type, const std::string& name)
{
    switch (type) {
    case BIT_FSM:
    case INT8_FSM:
    case UINT8_FSM:  // read as int32, low 8 bits kept
        store(bytes, static_cast<uint8_t>(read_number_ex<int32_t>(text, name) & 0xFF));
        break;
    case INT16_FSM: store(bytes, read_number_ex<int16_t>(text, name)); break;
    case UINT16_FSM: store(bytes, read_number_ex<uint16_t>(text, name)); break;
    case INT32_FSM: store(bytes, read_number_ex<int32_t>(text, name)); break;
    case UINT32_FSM: store(bytes, read_number_ex<uint32_t>(text, name)); break;
    case FLOAT_FSM: store(bytes, read_number_ex<float>(text, name)); break;
    case DOUBLE_FSM: store(bytes, read_number_ex<double>(text, name)); break;
    case INT64_FSM: store(bytes, read_number_ex<int64_t>(text, name)); break;
    case UINT64_FSM: store(bytes, read_number_ex<uint64_t>(text, name)); break;
    default: throw std::runtime_error("Type not valid for default value");
    }
}

std::string dim_text(std::size_t value)
{
    return XELO_String_Functions::num2str(static_cast<unsigned long>(value));
}

uint8_t hex_byte(const std::string& text)
{
    return static_cast<uint8_t>(std::stoul(text, nullptr, 16) & 0xFF);
}

// "0x" followed by two hexadecimal digits per byte.
void fill_hex_bytes_ex(std::vector<uint8_t>& bytes, const std::string& text, const std::string& name)
{
    const std::size_t length = text.size();
    const std::size_t dim = bytes.size();
    if (length % 2 != 0)
        throw std::runtime_error(PREFIX + "default value of " + name + " is given as bytes but overall length is odd!");
    const std::size_t count = (length - 2) / 2;
    if (count == 0)
        throw std::runtime_error(PREFIX + "default value of " + name +
                                 " is given as bytes but default value dim is 0!");
    if (count > dim)
        throw std::runtime_error(PREFIX + "default value of " + name +
                                 " is given as bytes but default value dim > byte_array dimension! (" +
                                 dim_text(count) + " > " + dim_text(dim) + ")");
    if (count == 1) {
        std::fill(bytes.begin(), bytes.end(), hex_byte(text));
        return;
    }
    for (std::size_t i = 0; i < count; ++i)
        bytes[i] = hex_byte("0x" + text.substr(2 + 2 * i, 2));
}

void fill_byte_array_ex(Default_Value_Bytes& value, const std::string& text, const std::string& name)
{
    if (text.compare(0, 2, "0x") == 0) {
        fill_hex_bytes_ex(value.bytes, text, name);
        return;
    }
    value.is_string = true;
    if (text.size() > value.bytes.size())
        throw std::runtime_error(PREFIX + "default value of " + name +
                                 " is given as a string but string length > byte_array dimension! (" +
                                 dim_text(text.size()) + " > " + dim_text(value.bytes.size()) + ")");
    std::copy(text.begin(), text.end(), value.bytes.begin());
}

template <typename T>
T load(const std::vector<uint8_t>& bytes)
{
    T value;
    std::memcpy(&value, bytes.data(), sizeof(T));
    return value;
}

std::string hex_text(const std::vector<uint8_t>& bytes)
{
    static const char DIGITS[] = "0123456789abcdef";
    std::string text = "0x";
    for (uint8_t byte : bytes) {
        text += DIGITS[byte >> 4];
        text += DIGITS[byte & 0x0F];
    }
    return text;
}

std::string scalar_text_ex(const std::vector<uint8_t>& bytes, Type_Definition type)
{
    using XELO_String_Functions::num2str;
    switch (type) {
    case BIT_FSM:
    case UINT8_FSM: return num2str(static_cast<unsigned>(load<uint8_t>(bytes)));
    case INT8_FSM: return num2str(static_cast<int>(load<int8_t>(bytes)));
    case INT16_FSM: return num2str(load<int16_t>(bytes));
    case UINT16_FSM: return num2str(load<uint16_t>(bytes));
    case INT32_FSM: return num2str(load<int32_t>(bytes));
    case UINT32_FSM: return num2str(load<uint32_t>(bytes));
    case INT64_FSM: return num2str(static_cast<long long>(load<int64_t>(bytes)));
    case UINT64_FSM: return num2str(static_cast<unsigned long long>(load<uint64_t>(bytes)));
    case FLOAT_FSM: return num2str(load<float>(bytes));
    case DOUBLE_FSM: return num2str(static_cast<float>(load<double>(bytes)));
    default: throw std::runtime_error("type not recognized (printing)");
    }
}

}  // namespace

Default_Value_Bytes convert_default_value_ex(const std::string& text, Type_Definition type, unsigned int byte_dim,
                                             const std::string& name)
{
    Default_Value_Bytes value;
    if (type == BYTE_ARRAY_FSM) {
        value.bytes.assign(byte_dim, 0);
        fill_byte_array_ex(value, text, name);
        return value;
    }
    const unsigned int type_size = type_dimension(type);
    if (type_size == 0)
        throw std::runtime_error("Type not valid for default value");
    value.bytes.assign(std::max(type_size, byte_dim), 0);
    fill_scalar_ex(value.bytes, text, type, name);
    return value;
}

std::string default_value_text_ex(const std::vector<uint8_t>& bytes, Type_Definition type, unsigned int byte_dim,
                                  bool is_string)
{
    if (bytes.empty())
        return std::string();
    if (is_string) {
        const std::size_t limit = std::min<std::size_t>(byte_dim, bytes.size());
        const auto end = std::find(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(limit), 0);
        return std::string(bytes.begin(), end);
    }
    if (type == BYTE_ARRAY_FSM)
        return hex_text(bytes);
    if (bytes.size() < type_dimension(type))
        return std::string();
    return scalar_text_ex(bytes, type);
}
