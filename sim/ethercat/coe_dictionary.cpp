#include "coe_dictionary.h"

#include <stdexcept>

namespace ecat_sim {

namespace {

uint8_t byte_size(uint16_t bits)
{
    return static_cast<uint8_t>((bits + 7) / 8);
}

}  // namespace

void Table_Dictionary::add(uint16_t index, uint8_t sub, uint16_t bits, Access access, uint64_t value)
{
    if (bits == 0 || bits > 64) {
        throw std::runtime_error("[Table_Dictionary][add] bit length out of range");
    }
    Entry entry;
    entry.bits = bits;
    entry.access = access;
    entry.size = byte_size(bits);
    put64(entry.value, value);
    m_entries[key(index, sub)] = entry;
}

void Table_Dictionary::add_string(uint16_t index, uint8_t sub, Access access, const std::string& text)
{
    if (text.size() > MAX_VALUE) {
        throw std::runtime_error("[Table_Dictionary][add_string] text too long");
    }
    Entry entry;
    entry.bits = static_cast<uint16_t>(text.size() * 8);
    entry.access = access;
    entry.size = static_cast<uint8_t>(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        entry.value[i] = static_cast<uint8_t>(text[i]);
    }
    m_entries[key(index, sub)] = entry;
}

void Table_Dictionary::add_array(uint16_t index, uint16_t bits, Access access, const std::vector<uint64_t>& values,
                                 uint8_t capacity, Access count_access)
{
    const size_t subs = capacity > values.size() ? capacity : values.size();
    add(index, 0, 8, count_access, values.size());
    for (size_t i = 0; i < subs; ++i) {
        add(index, static_cast<uint8_t>(i + 1), bits, access, i < values.size() ? values[i] : 0);
    }
}

const Table_Dictionary::Entry* Table_Dictionary::find(uint16_t index, uint8_t sub) const
{
    auto it = m_entries.find(key(index, sub));
    return it == m_entries.end() ? nullptr : &it->second;
}

Table_Dictionary::Entry* Table_Dictionary::find(uint16_t index, uint8_t sub)
{
    auto it = m_entries.find(key(index, sub));
    return it == m_entries.end() ? nullptr : &it->second;
}

bool Table_Dictionary::object_exists(uint16_t index) const
{
    auto it = m_entries.lower_bound(key(index, 0));
    return it != m_entries.end() && (it->first >> 8) == index;
}

bool Table_Dictionary::has(uint16_t index, uint8_t sub) const
{
    return find(index, sub) != nullptr;
}

uint64_t Table_Dictionary::get(uint16_t index, uint8_t sub) const
{
    const Entry* entry = find(index, sub);
    if (entry == nullptr) {
        throw std::runtime_error("[Table_Dictionary][get] no entry " + std::to_string(index) + ":" +
                                 std::to_string(sub));
    }
    uint8_t bytes[8] = {};
    for (size_t i = 0; i < entry->size && i < 8; ++i) {
        bytes[i] = entry->value[i];
    }
    return get64(bytes);
}

void Table_Dictionary::set(uint16_t index, uint8_t sub, uint64_t value)
{
    Entry* entry = find(index, sub);
    if (entry == nullptr) {
        throw std::runtime_error("[Table_Dictionary][set] no entry " + std::to_string(index) + ":" +
                                 std::to_string(sub));
    }
    uint8_t bytes[8];
    put64(bytes, entry->bits < 64 ? value & ((uint64_t{1} << entry->bits) - 1) : value);
    for (size_t i = 0; i < entry->size && i < 8; ++i) {
        entry->value[i] = bytes[i];
    }
}

uint16_t Table_Dictionary::bits(uint16_t index, uint8_t sub) const
{
    const Entry* entry = find(index, sub);
    return entry == nullptr ? 0 : entry->bits;
}

uint32_t Table_Dictionary::upload(uint16_t index, uint8_t sub, bool complete, uint8_t* out, size_t room, size_t& size)
{
    size = 0;
    if (!object_exists(index)) {
        return abort_code::NO_OBJECT;
    }
    if (!complete) {
        const Entry* entry = find(index, sub);
        if (entry == nullptr) {
            return abort_code::NO_SUBINDEX;
        }
        if (entry->access == Access::WO) {
            return abort_code::WRITE_ONLY;
        }
        if (entry->size > room) {
            return abort_code::TOO_LONG;
        }
        for (size_t i = 0; i < entry->size; ++i) {
            out[i] = entry->value[i];
        }
        size = entry->size;
        return 0;
    }
    const Entry* count = find(index, 0);
    if (count == nullptr || sub > 1) {
        return abort_code::UNSUPPORTED_ACCESS;
    }
    if (sub == 0) {
        if (room < 2) {
            return abort_code::TOO_LONG;
        }
        out[size++] = count->value[0];
        out[size++] = 0;
    }
    for (uint8_t s = 1; s <= count->value[0]; ++s) {
        const Entry* entry = find(index, s);
        if (entry == nullptr) {
            size = 0;
            return abort_code::NO_SUBINDEX;
        }
        if (entry->bits % 8 != 0) {
            size = 0;
            return abort_code::UNSUPPORTED_ACCESS;  // bit-packed records are not served by complete access
        }
        if (size + entry->size > room) {
            size = 0;
            return abort_code::TOO_LONG;
        }
        for (size_t i = 0; i < entry->size; ++i) {
            out[size++] = entry->value[i];
        }
    }
    return 0;
}

uint32_t Table_Dictionary::check_write(const Entry& entry) const
{
    if (entry.access == Access::RO) {
        return abort_code::READ_ONLY;
    }
    if (entry.access == Access::RW_PREOP && m_state != AL_PREOP) {
        return abort_code::WRONG_STATE;
    }
    return 0;
}

uint32_t Table_Dictionary::write_entry(uint16_t index, uint8_t sub, Entry& entry, const uint8_t* data, size_t size)
{
    // The count of an array may not exceed the entries that exist.
    if (sub == 0 && entry.bits == 8 && object_exists(index) && find(index, 1) != nullptr) {
        size_t capacity = 0;
        while (find(index, static_cast<uint8_t>(capacity + 1)) != nullptr && capacity < 255) {
            ++capacity;
        }
        if (data[0] > capacity) {
            return abort_code::VALUE_RANGE;
        }
    }
    for (size_t i = 0; i < entry.size; ++i) {
        entry.value[i] = i < size ? data[i] : 0;
    }
    if (entry.bits < 8) {
        entry.value[0] &= static_cast<uint8_t>((1u << entry.bits) - 1);
    }
    return 0;
}

uint32_t Table_Dictionary::download(uint16_t index, uint8_t sub, bool complete, const uint8_t* data, size_t size)
{
    if (!object_exists(index)) {
        return abort_code::NO_OBJECT;
    }
    if (!complete) {
        Entry* entry = find(index, sub);
        if (entry == nullptr) {
            return abort_code::NO_SUBINDEX;
        }
        if (uint32_t refused = check_write(*entry)) {
            return refused;
        }
        if (size != entry->size) {
            return abort_code::LENGTH_MISMATCH;
        }
        return write_entry(index, sub, *entry, data, size);
    }
    Entry* count = find(index, 0);
    if (count == nullptr || sub > 1) {
        return abort_code::UNSUPPORTED_ACCESS;
    }
    size_t pos = 0;
    uint8_t subs = count->value[0];
    if (sub == 0) {
        if (size < 2) {
            return abort_code::TOO_SHORT;
        }
        subs = data[0];
        pos = 2;
    }
    size_t needed = pos;
    for (uint8_t s = 1; s <= subs; ++s) {
        const Entry* entry = find(index, s);
        if (entry == nullptr) {
            return abort_code::VALUE_RANGE;
        }
        if (uint32_t refused = check_write(*entry)) {
            return refused;
        }
        needed += entry->size;
    }
    if (sub == 0) {
        if (uint32_t refused = check_write(*count)) {
            return refused;
        }
    }
    if (needed != size) {
        return abort_code::LENGTH_MISMATCH;
    }
    for (uint8_t s = 1; s <= subs; ++s) {
        Entry* entry = find(index, s);
        write_entry(index, s, *entry, data + pos, entry->size);
        pos += entry->size;
    }
    if (sub == 0) {
        count->value[0] = subs;
    }
    return 0;
}

Pdo_Layout read_pdo_layout(Coe_Dictionary& dictionary, uint16_t assignment_index)
{
    Pdo_Layout layout;
    uint8_t buffer[8] = {};
    size_t size = 0;
    if (dictionary.upload(assignment_index, 0, false, buffer, sizeof buffer, size) != 0 || size < 1) {
        return layout;  // no such assignment: no process data in this direction
    }
    const uint8_t pdos = buffer[0];
    for (uint8_t p = 1; p <= pdos; ++p) {
        if (dictionary.upload(assignment_index, p, false, buffer, sizeof buffer, size) != 0 || size < 2) {
            layout.valid = false;
            return layout;
        }
        const uint16_t mapping = get16(buffer);
        if (dictionary.upload(mapping, 0, false, buffer, sizeof buffer, size) != 0 || size < 1) {
            layout.valid = false;
            return layout;
        }
        const uint8_t entries = buffer[0];
        for (uint8_t e = 1; e <= entries; ++e) {
            if (dictionary.upload(mapping, e, false, buffer, sizeof buffer, size) != 0 || size < 4 ||
                layout.count == Pdo_Layout::MAX_ENTRIES) {
                layout.valid = false;
                return layout;
            }
            const uint32_t value = get32(buffer);
            Pdo_Entry& entry = layout.entries[layout.count++];
            entry.index = static_cast<uint16_t>(value >> 16);
            entry.sub = static_cast<uint8_t>(value >> 8);
            entry.bits = static_cast<uint8_t>(value);
            entry.bit_offset = layout.bits;
            layout.bits += entry.bits;
        }
    }
    return layout;
}

}  // namespace ecat_sim
