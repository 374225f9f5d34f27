#include "robot_sim_wire.h"

#include <cstring>

namespace robot_sim::wire {

void put_uint(std::string& out, uint64_t value, std::size_t width)
{
    for (std::size_t i = width; i-- > 0;)
        out.push_back(static_cast<char>(static_cast<uint8_t>(value >> (8 * i))));
}

void put_double(std::string& out, double value)
{
    uint64_t bits = 0;
    std::memcpy(&bits, &value, 8);
    put_uint(out, bits, 8);
}

uint64_t get_uint(const uint8_t* bytes, std::size_t width)
{
    uint64_t value = 0;
    for (std::size_t i = 0; i < width; ++i)
        value = value << 8 | bytes[i];
    return value;
}

double get_double(const uint8_t* bytes)
{
    const uint64_t bits = get_uint(bytes, 8);
    double value = 0;
    std::memcpy(&value, &bits, 8);
    return value;
}

std::string package(uint8_t type, const std::string& payload)
{
    std::string out;
    put_uint(out, payload.size() + HEADER_SIZE, 2);
    out.push_back(static_cast<char>(type));
    return out + payload;
}

std::string text_message(const std::string& message, const std::string& source, uint8_t level)
{
    const std::string m = message.substr(0, 255);
    const std::string s = source.substr(0, 255);
    std::string payload;
    put_uint(payload, m.size(), 1);
    payload += m;
    put_uint(payload, s.size(), 1);
    payload += s;
    put_uint(payload, level, 1);
    return package(TEXT_MESSAGE, payload);
}

void put_value(std::string& out, Value_Type type, const std::vector<double>& elements)
{
    const std::size_t count = element_count(type);
    for (std::size_t i = 0; i < count; ++i) {
        const double v = i < elements.size() ? elements[i] : 0.0;
        switch (type) {
        case Value_Type::BOOL:
        case Value_Type::UINT8: put_uint(out, static_cast<uint8_t>(v), 1); break;
        case Value_Type::UINT32: put_uint(out, static_cast<uint32_t>(static_cast<int64_t>(v)), 4); break;
        case Value_Type::INT32:
        case Value_Type::VECTOR6INT32:
            put_uint(out, static_cast<uint32_t>(static_cast<int32_t>(static_cast<int64_t>(v))), 4);
            break;
        case Value_Type::UINT64: put_uint(out, static_cast<uint64_t>(v), 8); break;
        case Value_Type::DOUBLE:
        case Value_Type::VECTOR3D:
        case Value_Type::VECTOR6D: put_double(out, v); break;
        }
    }
}

std::vector<double> get_value(Value_Type type, const uint8_t* bytes)
{
    std::vector<double> elements;
    const std::size_t count = element_count(type);
    const std::size_t width = byte_width(type) / count;
    for (std::size_t i = 0; i < count; ++i, bytes += width) {
        switch (type) {
        case Value_Type::INT32:
        case Value_Type::VECTOR6INT32:
            elements.push_back(static_cast<int32_t>(static_cast<uint32_t>(get_uint(bytes, 4))));
            break;
        case Value_Type::DOUBLE:
        case Value_Type::VECTOR3D:
        case Value_Type::VECTOR6D: elements.push_back(get_double(bytes)); break;
        default: elements.push_back(static_cast<double>(get_uint(bytes, width))); break;
        }
    }
    return elements;
}

std::string hex(const std::string& bytes)
{
    static const char digits[] = "0123456789ABCDEF";
    std::string text;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (i > 0)
            text.push_back(' ');
        const auto b = static_cast<uint8_t>(bytes[i]);
        text.push_back(digits[b >> 4]);
        text.push_back(digits[b & 0xF]);
    }
    return text;
}

}  // namespace robot_sim::wire
