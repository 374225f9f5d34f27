#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <functional>
#include <map>
#include <stdexcept>
#include <string>
#include <type_traits>
#include <vector>

// A CoE object dictionary for simulated EtherCAT devices, independent of any
// framing: objects by index, entries by subindex, each with its data type,
// bit size, access rights, PDO-mappable flag and value bytes (little-endian,
// as they travel in SDOs and PDOs).
//
// Remote access (`read`, `write`, `read_complete`, `write_complete`) checks
// what a device's SDO server checks and answers with a CoE abort code
// (0 = done). Local access (`get`, `set`, `set_bytes`) is the device's own and
// bypasses access rights, device state and hooks.
//
// PDO rules are built in for the standard ranges: entries of the mapping
// objects 0x1600..0x17FF (RxPDO) and 0x1A00..0x1BFF (TxPDO) must name an
// existing, PDO-mappable object of the same bit length (index 0 = padding);
// sub 0 of a mapping may not hold more than `max_pdo_bits` bits; entries of
// the assignment objects 0x1C12 / 0x1C13 must name existing mapping objects
// of their direction. `pdo_layout` resolves an assignment into the entries
// of the process image, `pack_pdo` / `unpack_pdo` move values between the
// dictionary and a process image.
namespace sim {

// CoE data type codes.
enum class Data_Type : uint16_t {
    BOOLEAN = 0x0001,
    INTEGER8 = 0x0002,
    INTEGER16 = 0x0003,
    INTEGER32 = 0x0004,
    UNSIGNED8 = 0x0005,
    UNSIGNED16 = 0x0006,
    UNSIGNED32 = 0x0007,
    REAL32 = 0x0008,
    VISIBLE_STRING = 0x0009,
    OCTET_STRING = 0x000A,
    INTEGER64 = 0x0015,
    UNSIGNED64 = 0x001B,
};

// Bit size of the fixed-size types, 0 for strings.
uint16_t bit_size_of(Data_Type type);

enum class Object_Code : uint8_t { VAR = 7, ARRAY = 8, RECORD = 9 };

enum class Access : uint8_t { ro, rw, wo };

// EtherCAT application-layer states as bits, so that an entry can name the
// set of states in which it may be written.
enum Device_State : uint8_t {
    STATE_INIT = 0x01,
    STATE_PRE_OP = 0x02,
    STATE_SAFE_OP = 0x04,
    STATE_OP = 0x08,
};
constexpr uint8_t ALL_STATES = STATE_INIT | STATE_PRE_OP | STATE_SAFE_OP | STATE_OP;

// CoE SDO abort codes.
namespace abort_code {
constexpr uint32_t NONE = 0;
constexpr uint32_t TOGGLE = 0x05030000;
constexpr uint32_t TIMEOUT = 0x05040000;
constexpr uint32_t UNSUPPORTED_ACCESS = 0x06010000;
constexpr uint32_t WRITE_ONLY = 0x06010001;
constexpr uint32_t READ_ONLY = 0x06010002;
constexpr uint32_t NO_OBJECT = 0x06020000;
constexpr uint32_t NOT_MAPPABLE = 0x06040041;
constexpr uint32_t MAPPING_TOO_LONG = 0x06040042;
constexpr uint32_t LENGTH_MISMATCH = 0x06070010;
constexpr uint32_t TOO_LONG = 0x06070012;
constexpr uint32_t TOO_SHORT = 0x06070013;
constexpr uint32_t NO_SUBINDEX = 0x06090011;
constexpr uint32_t VALUE_RANGE = 0x06090030;
constexpr uint32_t GENERAL = 0x08000000;
constexpr uint32_t CANNOT_STORE = 0x08000020;
constexpr uint32_t DEVICE_STATE = 0x08000022;
}  // namespace abort_code

struct Entry {
    std::string name;
    Data_Type type = Data_Type::UNSIGNED8;
    uint16_t bit_size = 8;  // strings: capacity in bits
    Access access = Access::ro;
    uint8_t write_states = ALL_STATES;  // states in which a remote write is allowed
    bool pdo_mappable = false;
    std::vector<uint8_t> value;  // little-endian
};

// One entry of a process image, as a PDO mapping resolves it.
struct Pdo_Entry {
    uint16_t index = 0;  // 0: padding
    uint8_t subindex = 0;
    uint16_t bit_size = 0;
    uint32_t bit_offset = 0;  // in the process image of the assignment
};

class Object_Dictionary {
public:
    // Called before a remote write is stored, with the subindex and the new
    // bytes; returns 0 to accept or an abort code to refuse. Complete access
    // calls it once per subindex written.
    using Write_Check = std::function<uint32_t(uint8_t subindex, const std::vector<uint8_t>& value)>;
    // Called after a remote write was stored.
    using Write_Hook = std::function<void(uint8_t subindex)>;

    uint32_t max_pdo_bits = 512;

    // Definition. A VAR lives at sub 0. ARRAY and RECORD objects get their
    // sub 0 (UNSIGNED8 count) from `add_object`; entries are added after.
    // Redefining an existing object or entry throws std::logic_error.
    void add_object(uint16_t index, Object_Code code, const std::string& name, Access sub0_access = Access::ro,
                    uint8_t sub0_write_states = ALL_STATES);
    void add_entry(uint16_t index, uint8_t subindex, Entry entry);
    // A VAR of a fixed-size type with its initial value.
    template <typename T>
    void add_var(uint16_t index, const std::string& name, Data_Type type, Access access, T value,
                 bool pdo_mappable = false, uint8_t write_states = ALL_STATES);
    // An entry of an ARRAY/RECORD; sub 0 follows the highest subindex added.
    template <typename T>
    void add_sub(uint16_t index, uint8_t subindex, const std::string& name, Data_Type type, Access access, T value,
                 bool pdo_mappable = false, uint8_t write_states = ALL_STATES);
    void add_string(uint16_t index, const std::string& name, const std::string& text);

    bool has_object(uint16_t index) const;
    const Entry* find(uint16_t index, uint8_t subindex) const;
    Object_Code object_code(uint16_t index) const;  // throws std::out_of_range
    std::vector<uint16_t> indexes() const;

    void set_write_check(uint16_t index, Write_Check check);
    void set_write_hook(uint16_t index, Write_Hook hook);

    // The device's application-layer state (for `write_states`).
    void set_state(Device_State state) { m_state = state; }
    Device_State state() const { return m_state; }

    // Remote access: abort code, 0 when done.
    uint32_t read(uint16_t index, uint8_t subindex, std::vector<uint8_t>& out) const;
    uint32_t write(uint16_t index, uint8_t subindex, const std::vector<uint8_t>& data);
    // Complete access from sub 0 (count in 8 bits plus 8 padding bits, then
    // the entries 1..count packed bit by bit) or from sub 1 (the entries only).
    uint32_t read_complete(uint16_t index, uint8_t first_subindex, std::vector<uint8_t>& out) const;
    uint32_t write_complete(uint16_t index, uint8_t first_subindex, const std::vector<uint8_t>& data);

    // Local access: throws std::out_of_range for an unknown entry and
    // std::invalid_argument for a size that does not match.
    template <typename T>
    T get(uint16_t index, uint8_t subindex = 0) const;
    template <typename T>
    void set(uint16_t index, uint8_t subindex, T value);
    template <typename T>
    void set(uint16_t index, T value)
    {
        set<T>(index, 0, value);
    }
    std::vector<uint8_t> get_bytes(uint16_t index, uint8_t subindex) const;
    void set_bytes(uint16_t index, uint8_t subindex, const std::vector<uint8_t>& value);

    // Entries of the process image of an assignment object (0x1C12 / 0x1C13),
    // with their bit offsets; throws std::runtime_error on a broken mapping.
    std::vector<Pdo_Entry> pdo_layout(uint16_t assignment_index) const;
    static uint32_t image_bytes(const std::vector<Pdo_Entry>& layout);
    // Copies entry values into a process image / out of one (padding skipped).
    void pack_pdo(const std::vector<Pdo_Entry>& layout, uint8_t* image, size_t size) const;
    void unpack_pdo(const std::vector<Pdo_Entry>& layout, const uint8_t* image, size_t size);

private:
    struct Object {
        Object_Code code = Object_Code::VAR;
        std::string name;
        std::map<uint8_t, Entry> entries;
        Write_Check check;
        Write_Hook hook;
    };

    uint32_t check_write(uint16_t index, uint8_t subindex, const Object& object, const Entry& entry,
                         const std::vector<uint8_t>& data) const;
    uint32_t check_pdo_rules(uint16_t index, uint8_t subindex, const Object& object,
                             const std::vector<uint8_t>& data) const;
    uint32_t mapping_bits(uint16_t mapping_index, uint8_t count, uint32_t& bits) const;
    Entry& entry_ref(uint16_t index, uint8_t subindex);
    const Entry& entry_ref(uint16_t index, uint8_t subindex) const;

    std::map<uint16_t, Object> m_objects;
    Device_State m_state = STATE_PRE_OP;
};

bool is_rx_mapping(uint16_t index);
bool is_tx_mapping(uint16_t index);

// Little-endian bytes of a value and back.
template <typename T>
std::vector<uint8_t> to_bytes(T value)
{
    static_assert(std::is_trivially_copyable<T>::value, "plain values only");
    std::vector<uint8_t> bytes(sizeof(T));
    std::memcpy(bytes.data(), &value, sizeof(T));  // the simulated hosts are little-endian
    return bytes;
}

template <typename T>
T from_bytes(const std::vector<uint8_t>& bytes)
{
    static_assert(std::is_trivially_copyable<T>::value, "plain values only");
    if (bytes.size() != sizeof(T))
        throw std::invalid_argument("[Object_Dictionary][from_bytes] size mismatch");
    T value;
    std::memcpy(&value, bytes.data(), sizeof(T));
    return value;
}

template <typename T>
void Object_Dictionary::add_var(uint16_t index, const std::string& name, Data_Type type, Access access, T value,
                                bool pdo_mappable, uint8_t write_states)
{
    add_object(index, Object_Code::VAR, name);
    add_entry(index, 0, Entry{name, type, bit_size_of(type), access, write_states, pdo_mappable, to_bytes(value)});
}

template <typename T>
void Object_Dictionary::add_sub(uint16_t index, uint8_t subindex, const std::string& name, Data_Type type,
                                Access access, T value, bool pdo_mappable, uint8_t write_states)
{
    add_entry(index, subindex,
              Entry{name, type, bit_size_of(type), access, write_states, pdo_mappable, to_bytes(value)});
}

template <typename T>
T Object_Dictionary::get(uint16_t index, uint8_t subindex) const
{
    return from_bytes<T>(entry_ref(index, subindex).value);
}

template <typename T>
void Object_Dictionary::set(uint16_t index, uint8_t subindex, T value)
{
    Entry& entry = entry_ref(index, subindex);
    if (entry.value.size() != sizeof(T))
        throw std::invalid_argument("[Object_Dictionary][set] size mismatch at " + std::to_string(index) + ":" +
                                    std::to_string(subindex));
    entry.value = to_bytes(value);
}

}  // namespace sim
