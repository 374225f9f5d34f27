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

// The eleven scalar value types of the typed accesses, the one list from
// which every per-type set of functions is generated. A row:
// X(manager type, fixed-width type, type id, script type, cyclic script
//   suffix, data script suffix)
// FRAMEWORK_SMALL_INTEGER_VALUE_TYPES: the integers of at most 32 bits;
// FRAMEWORK_DATA_VALUE_TYPES: every type but the bit.
#define FRAMEWORK_SMALL_INTEGER_VALUE_TYPES(X)                          \
    X(signed char, int8_t, INT8_FSM, int8_t, int8_t, int8)              \
    X(unsigned char, uint8_t, UINT8_FSM, uint8_t, uint8_t, uint8)       \
    X(short, int16_t, INT16_FSM, int16_t, int16_t, int16)               \
    X(unsigned short, uint16_t, UINT16_FSM, uint16_t, uint16_t, uint16) \
    X(int, int32_t, INT32_FSM, int32_t, int32_t, int32)                 \
    X(unsigned int, uint32_t, UINT32_FSM, uint32_t, uint32_t, uint32)
#define FRAMEWORK_DATA_VALUE_TYPES(X)                                       \
    FRAMEWORK_SMALL_INTEGER_VALUE_TYPES(X)                                  \
    X(long long, int64_t, INT64_FSM, int64_t, int64_t, int64)               \
    X(unsigned long long, uint64_t, UINT64_FSM, uint64_t, uint64_t, uint64) \
    X(float, float, FLOAT_FSM, float, float_t, float)                       \
    X(double, double, DOUBLE_FSM, double, double_t, double)
#define FRAMEWORK_VALUE_TYPES(X)                \
    X(bool, bool, BIT_FSM, uint8_t, bit_t, bit) \
    FRAMEWORK_DATA_VALUE_TYPES(X)

#define FRAMEWORK_SCALAR_TRAITS(manager_type, fixed_type, type_id, ...)                              \
    template <>                                                                                      \
    struct Container_Traits<manager_type> : container_traits_detail::Scalar<manager_type, type_id> { \
    };
FRAMEWORK_DATA_VALUE_TYPES(FRAMEWORK_SCALAR_TRAITS)
#undef FRAMEWORK_SCALAR_TRAITS

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
