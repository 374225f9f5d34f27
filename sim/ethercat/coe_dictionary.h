#pragma once

// The object dictionary behind a simulated slave's CoE server, and a table
// implementation of it for the standard objects and simple devices.

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "ecat_wire.h"

namespace ecat_sim {

// What the CoE server needs of a dictionary. Results are 0 or an SDO abort
// code. With complete access the value is the whole object from sub (0 or 1)
// on, subindex 0 as 8 bits plus 8 padding bits.
class Coe_Dictionary {
public:
    virtual ~Coe_Dictionary() = default;
    virtual uint32_t upload(uint16_t index, uint8_t sub, bool complete, uint8_t* out, size_t room, size_t& size) = 0;
    virtual uint32_t download(uint16_t index, uint8_t sub, bool complete, const uint8_t* data, size_t size) = 0;
    // The slave's AL state, for objects writable only in some states.
    virtual void set_al_state(Al_State state) = 0;
};

enum class Access : uint8_t {
    RO,        // read only
    RW,        // read and write in every state
    RW_PREOP,  // writable in PRE-OP only (PDO assignment and mapping)
    WO,        // write only
};

// Entries of fixed bit length (1..64 bits, or byte strings up to 64 bytes),
// kept in a map built once; lookups and value changes do not allocate.
class Table_Dictionary : public Coe_Dictionary {
public:
    static constexpr size_t MAX_VALUE = 64;

    void add(uint16_t index, uint8_t sub, uint16_t bits, Access access, uint64_t value);
    void add_string(uint16_t index, uint8_t sub, Access access, const std::string& text);
    // An array or record: sub 0 (UINT8, the count) plus one entry per value.
    void add_array(uint16_t index, uint16_t bits, Access access, const std::vector<uint64_t>& values,
                   uint8_t capacity = 0, Access count_access = Access::RO);

    bool has(uint16_t index, uint8_t sub) const;
    // Direct access that skips the access rights (the device's own side).
    uint64_t get(uint16_t index, uint8_t sub) const;
    void set(uint16_t index, uint8_t sub, uint64_t value);
    uint16_t bits(uint16_t index, uint8_t sub) const;

    uint32_t upload(uint16_t index, uint8_t sub, bool complete, uint8_t* out, size_t room, size_t& size) override;
    uint32_t download(uint16_t index, uint8_t sub, bool complete, const uint8_t* data, size_t size) override;
    void set_al_state(Al_State state) override { m_state = state; }

private:
    struct Entry {
        uint16_t bits = 0;
        Access access = Access::RO;
        uint8_t size = 0;  // bytes of the value
        uint8_t value[MAX_VALUE] = {};
    };
    using Key = uint32_t;
    static Key key(uint16_t index, uint8_t sub) { return (static_cast<uint32_t>(index) << 8) | sub; }
    const Entry* find(uint16_t index, uint8_t sub) const;
    Entry* find(uint16_t index, uint8_t sub);
    bool object_exists(uint16_t index) const;
    uint32_t check_write(const Entry& entry) const;
    uint32_t write_entry(uint16_t index, uint8_t sub, Entry& entry, const uint8_t* data, size_t size);

    std::map<Key, Entry> m_entries;
    Al_State m_state = AL_INIT;
};

// One mapped object of a PDO layout.
struct Pdo_Entry {
    uint16_t index = 0;  // 0: padding
    uint8_t sub = 0;
    uint8_t bits = 0;
    uint32_t bit_offset = 0;
};

// Process data of one direction laid out from an assignment object
// (0x1C12 or 0x1C13) and the mapping objects it names.
struct Pdo_Layout {
    static constexpr size_t MAX_ENTRIES = 64;
    Pdo_Entry entries[MAX_ENTRIES];
    size_t count = 0;
    uint32_t bits = 0;
    size_t bytes() const { return (bits + 7) / 8; }
    // False when the objects do not form a valid layout (too many entries).
    bool valid = true;
};
Pdo_Layout read_pdo_layout(Coe_Dictionary& dictionary, uint16_t assignment_index);

}  // namespace ecat_sim
