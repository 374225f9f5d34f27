#pragma once

// Framework data objects: a variable of the framework named by its label and
// bound to the process's Framework_Shared_Memory_Manager by setup_ex.
//
// Framework_Variable is the root of every kind (label, id, type, dimension
// and the strict value-type checks); Framework_Cyclic_Variable keeps a copy of
// a cyclic variable's actual and previous value, refreshed once per cycle.

#include <cstdint>
#include <cstring>
#include <ostream>
#include <string>
#include <type_traits>
#include <vector>

#include "framework_types.h"

class Framework_Shared_Memory_Manager;

// Text of a value type in the messages and set-up logs of the data objects.
std::ostream& operator<<(std::ostream& os, Type_Definition type);

// The one Type_Definition that a typed access with value type T accepts.
template <typename T>
struct Framework_Value_Type;

template <Type_Definition Id>
struct Framework_Scalar_Value_Type {
    static constexpr Type_Definition type_id = Id;
    static constexpr bool is_slice = false;
};
template <>
struct Framework_Value_Type<bool> : Framework_Scalar_Value_Type<BIT_FSM> {
};
template <>
struct Framework_Value_Type<int8_t> : Framework_Scalar_Value_Type<INT8_FSM> {
};
template <>
struct Framework_Value_Type<uint8_t> : Framework_Scalar_Value_Type<UINT8_FSM> {
};
template <>
struct Framework_Value_Type<int16_t> : Framework_Scalar_Value_Type<INT16_FSM> {
};
template <>
struct Framework_Value_Type<uint16_t> : Framework_Scalar_Value_Type<UINT16_FSM> {
};
template <>
struct Framework_Value_Type<int32_t> : Framework_Scalar_Value_Type<INT32_FSM> {
};
template <>
struct Framework_Value_Type<uint32_t> : Framework_Scalar_Value_Type<UINT32_FSM> {
};
template <>
struct Framework_Value_Type<double> : Framework_Scalar_Value_Type<DOUBLE_FSM> {
};
template <>
struct Framework_Value_Type<int64_t> : Framework_Scalar_Value_Type<INT64_FSM> {
};
template <>
struct Framework_Value_Type<uint64_t> : Framework_Scalar_Value_Type<UINT64_FSM> {
};
template <>
struct Framework_Value_Type<float> : Framework_Scalar_Value_Type<FLOAT_FSM> {
};

// Where int64_t is long (64-bit hosts), long long and unsigned long long, the
// manager's 64-bit value types, are distinct types of the same width.
namespace framework_value_type_detail {
struct Not_Long_Long;
struct Not_Unsigned_Long_Long;
template <typename Wide, typename Fixed, typename Placeholder>
using Distinct_Or = std::conditional_t<std::is_same_v<Wide, Fixed>, Placeholder, Wide>;
}  // namespace framework_value_type_detail
template <>
struct Framework_Value_Type<
    framework_value_type_detail::Distinct_Or<long long, int64_t, framework_value_type_detail::Not_Long_Long>>
    : Framework_Scalar_Value_Type<INT64_FSM> {
};
template <>
struct Framework_Value_Type<framework_value_type_detail::Distinct_Or<
    unsigned long long, uint64_t, framework_value_type_detail::Not_Unsigned_Long_Long>>
    : Framework_Scalar_Value_Type<UINT64_FSM> {
};

// Byte arrays are read and written as slices: a dimension and an offset.
template <>
struct Framework_Value_Type<std::vector<uint8_t>> {
    static constexpr Type_Definition type_id = BYTE_ARRAY_FSM;
    static constexpr bool is_slice = true;
};
template <>
struct Framework_Value_Type<std::string> {
    static constexpr Type_Definition type_id = BYTE_ARRAY_FSM;
    static constexpr bool is_slice = true;
};

class Framework_Variable {
public:
    Framework_Variable() = delete;
    Framework_Variable(const Framework_Variable&) = delete;
    Framework_Variable& operator=(const Framework_Variable&) = delete;

protected:
    explicit Framework_Variable(std::string label);
    ~Framework_Variable() = default;

    virtual int32_t get_id_ex() = 0;
    virtual Type_Definition get_type_ex() = 0;
    virtual uint32_t get_dimension_ex() = 0;

    // Stores the manager and looks the variable up: id, type, dimension.
    void bind_ex(Framework_Shared_Memory_Manager* frmk_ptr);

    template <typename T>
    void check_type_ok_ex() const
    {
        static_assert(!Framework_Value_Type<T>::is_slice, "byte arrays are checked with a dimension and offset");
        check_type_internal_ex<T>();
    }
    template <typename T>
    void check_type_ok_ex(uint32_t dim_given, uint32_t offset) const
    {
        static_assert(Framework_Value_Type<T>::is_slice, "only byte arrays have a dimension and offset");
        check_type_internal_ex<T>();
        check_dim_internal_ex(dim_given, offset);
    }
    template <typename T>
    void check_type_internal_ex() const
    {
        check_type_id_ex(Framework_Value_Type<T>::type_id);
    }
    void check_dim_internal_ex(uint32_t dim_given, uint32_t offset) const;

    // " (label :: <label>, id :: <id>)", the tail of a message about this object.
    std::string object_tag() const;

    Framework_Shared_Memory_Manager* m_frmk_ptr = nullptr;
    std::string m_label;
    int32_t m_id = -1;
    bool m_initialized = false;
    Type_Definition m_type = UNDEFINED_TYPE_FSM;
    uint32_t m_dimension = 0;

private:
    void check_type_id_ex(Type_Definition accepted) const;

public:
    const std::string& label;
    const int32_t& id;
    const Type_Definition& type;
    const uint32_t& dimension;
};

class Framework_Cyclic_Variable : public Framework_Variable {
public:
    virtual void refresh_ex() = 0;

    // Whether the last refresh changed any byte of the value.
    bool is_changed() const;

    // Scalars: bool, int8_t .. uint64_t, float, double. For a byte vector or a
    // string these read the whole variable.
    template <typename T>
    T get_value_ex() const;
    template <typename T>
    T get_previous_value_ex() const;

    // Byte vector or string: dim_given bytes from offset; 0 reads the whole
    // variable. A string ends before its first zero byte.
    template <typename T>
    T get_value_ex(uint32_t dim_given, uint32_t offset) const;
    template <typename T>
    T get_previous_value_ex(uint32_t dim_given, uint32_t offset) const;

protected:
    explicit Framework_Cyclic_Variable(std::string label);
    virtual ~Framework_Cyclic_Variable();

    // Binding common to every cyclic kind: look up, size the buffers, take
    // the first value through refresh_ex.
    void setup_common_ex(Framework_Shared_Memory_Manager* frmk_ptr);
    // Logs the set-up lines of the input and output kinds.
    void log_setup(const std::string& tag, const std::string& indent, const std::string& title) const;
    void move_actual_to_previous();

    template <typename T>
    T read_scalar_ex(const std::vector<uint8_t>& bytes) const
    {
        check_type_ok_ex<T>();
        return load_scalar<T>(bytes);
    }
    template <typename T>
    T read_slice_ex(const std::vector<uint8_t>& bytes, uint32_t dim_given, uint32_t offset) const;

    // A scalar sits in the first bytes in native byte order; a BIT is one
    // byte, zero or not.
    template <typename T>
    static T load_scalar(const std::vector<uint8_t>& bytes)
    {
        if constexpr (std::is_same_v<T, bool>) {
            return bytes[0] != 0;
        } else {
            T value;
            std::memcpy(&value, bytes.data(), sizeof(T));
            return value;
        }
    }
    template <typename T>
    static void store_scalar(std::vector<uint8_t>& bytes, T value)
    {
        if constexpr (std::is_same_v<T, bool>)
            bytes[0] = value ? 1 : 0;
        else
            std::memcpy(bytes.data(), &value, sizeof(T));
    }

    template <typename T>
    struct Type_Tag {
        using type = T;
    };
    // Calls visit(Type_Tag<T>()) with the manager's value type of a scalar
    // type; false for a byte array or a type outside the enumeration.
    template <typename Visitor>
    static bool visit_scalar_type(Type_Definition type, Visitor&& visit)
    {
        switch (type) {
        case BIT_FSM: visit(Type_Tag<bool>()); return true;
        case INT8_FSM: visit(Type_Tag<signed char>()); return true;
        case UINT8_FSM: visit(Type_Tag<unsigned char>()); return true;
        case INT16_FSM: visit(Type_Tag<short>()); return true;
        case UINT16_FSM: visit(Type_Tag<unsigned short>()); return true;
        case INT32_FSM: visit(Type_Tag<int>()); return true;
        case UINT32_FSM: visit(Type_Tag<unsigned int>()); return true;
        case DOUBLE_FSM: visit(Type_Tag<double>()); return true;
        case INT64_FSM: visit(Type_Tag<long long>()); return true;
        case UINT64_FSM: visit(Type_Tag<unsigned long long>()); return true;
        case FLOAT_FSM: visit(Type_Tag<float>()); return true;
        default: return false;
        }
    }

    std::vector<uint8_t> m_actual_shm_value;
    std::vector<uint8_t> m_previous_shm_value;
};
