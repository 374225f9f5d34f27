#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

// Value type of every framework variable; stored as int32 in every shared table.
enum Type_Definition : int32_t {
    UNDEFINED_TYPE_FSM = -1,
    BIT_FSM = 0,
    INT8_FSM = 1,
    UINT8_FSM = 2,
    INT16_FSM = 3,
    UINT16_FSM = 4,
    INT32_FSM = 5,
    UINT32_FSM = 6,
    DOUBLE_FSM = 7,
    BYTE_ARRAY_FSM = 8,
    INT64_FSM = 9,
    UINT64_FSM = 10,
    FLOAT_FSM = 11,
};
static_assert(sizeof(Type_Definition) == 4, "Type_Definition is stored as int32");

// "bit", "int8", ... ; throws for a value outside the enumeration.
std::string get_type_name_from_type_id_ex(int type_id);

// Type id and byte size of each value type a typed accessor may use.
template <typename T>
struct Container_Traits;

namespace container_traits_detail {
template <typename T, Type_Definition Id>
struct Scalar {
    static constexpr Type_Definition type_id = Id;
    static constexpr unsigned dim = sizeof(T);
    static T build(const void* raw)
    {
        T value;
        std::memcpy(&value, raw, sizeof(T));
        return value;
    }
    static T create_new() { return T(); }
};
}  // namespace container_traits_detail

template <>
struct Container_Traits<bool> {
    static constexpr Type_Definition type_id = BIT_FSM;
    static constexpr unsigned dim = 1;
    static bool build(const void* raw) { return *static_cast<const uint8_t*>(raw) != 0; }
    static bool create_new() { return false; }
};

template <>
struct Container_Traits<signed char> : container_traits_detail::Scalar<signed char, INT8_FSM> {
};
template <>
struct Container_Traits<unsigned char> : container_traits_detail::Scalar<unsigned char, UINT8_FSM> {
};
template <>
struct Container_Traits<short> : container_traits_detail::Scalar<short, INT16_FSM> {
};
template <>
struct Container_Traits<unsigned short> : container_traits_detail::Scalar<unsigned short, UINT16_FSM> {
};
template <>
struct Container_Traits<int> : container_traits_detail::Scalar<int, INT32_FSM> {
};
template <>
struct Container_Traits<unsigned int> : container_traits_detail::Scalar<unsigned int, UINT32_FSM> {
};
template <>
struct Container_Traits<double> : container_traits_detail::Scalar<double, DOUBLE_FSM> {
};
template <>
struct Container_Traits<long long> : container_traits_detail::Scalar<long long, INT64_FSM> {
};
template <>
struct Container_Traits<unsigned long long> : container_traits_detail::Scalar<unsigned long long, UINT64_FSM> {
};
template <>
struct Container_Traits<float> : container_traits_detail::Scalar<float, FLOAT_FSM> {
};

template <>
struct Container_Traits<std::vector<unsigned char>> {
    static constexpr Type_Definition type_id = BYTE_ARRAY_FSM;
    static unsigned dim(const std::vector<unsigned char>& c) { return static_cast<unsigned>(c.size()); }
    static const unsigned char* data(const std::vector<unsigned char>& c) { return c.data(); }
    static std::vector<unsigned char> build(const void* raw, unsigned length)
    {
        const auto* bytes = static_cast<const unsigned char*>(raw);
        return std::vector<unsigned char>(bytes, bytes + length);
    }
    static std::vector<unsigned char> create_new(unsigned length) { return std::vector<unsigned char>(length, 0); }
};

template <>
struct Container_Traits<std::string> {
    static constexpr Type_Definition type_id = BYTE_ARRAY_FSM;
    static unsigned dim(const std::string& c) { return static_cast<unsigned>(c.size()); }
    static const unsigned char* data(const std::string& c) { return reinterpret_cast<const unsigned char*>(c.data()); }
    // The text up to the first zero byte, never looking past length bytes.
    static std::string build(const void* raw, unsigned length)
    {
        const auto* text = static_cast<const char*>(raw);
        const void* zero = std::memchr(text, 0, length);
        return std::string(text, zero ? static_cast<const char*>(zero) - text : length);
    }
    static std::string create_new(unsigned length) { return std::string(length, '\0'); }
};
