#include "object_dictionary.h"

#include <algorithm>

namespace sim {

namespace {

bool is_string(Data_Type type)
{
    return type == Data_Type::VISIBLE_STRING || type == Data_Type::OCTET_STRING;
}

uint32_t byte_size(const Entry& entry)
{
    return (entry.bit_size + 7u) / 8u;
}

// Bit-granular copies, little-endian bit order as in a process image.
void put_bits(uint8_t* image, uint32_t offset, const std::vector<uint8_t>& value, uint16_t bits)
{
    for (uint32_t i = 0; i < bits; ++i) {
        const bool bit = (value[i / 8] >> (i % 8)) & 1u;
        const uint32_t at = offset + i;
        if (bit)
            image[at / 8] = static_cast<uint8_t>(image[at / 8] | (1u << (at % 8)));
        else
            image[at / 8] = static_cast<uint8_t>(image[at / 8] & ~(1u << (at % 8)));
    }
}

std::vector<uint8_t> take_bits(const uint8_t* image, uint32_t offset, uint16_t bits)
{
    std::vector<uint8_t> value((bits + 7u) / 8u, 0);
    for (uint32_t i = 0; i < bits; ++i) {
        const uint32_t at = offset + i;
        if ((image[at / 8] >> (at % 8)) & 1u)
            value[i / 8] = static_cast<uint8_t>(value[i / 8] | (1u << (i % 8)));
    }
    return value;
}

std::string hex(uint32_t value)
{
    static const char digits[] = "0123456789ABCDEF";
    std::string text = "0x";
    for (int shift = 12; shift >= 0; shift -= 4)
        text += digits[(value >> shift) & 0xF];
    return text;
}

}  // namespace

uint16_t bit_size_of(Data_Type type)
{
    switch (type) {
    case Data_Type::BOOLEAN: return 1;
    case Data_Type::INTEGER8:
    case Data_Type::UNSIGNED8: return 8;
    case Data_Type::INTEGER16:
    case Data_Type::UNSIGNED16: return 16;
    case Data_Type::INTEGER32:
    case Data_Type::UNSIGNED32:
    case Data_Type::REAL32: return 32;
    case Data_Type::INTEGER64:
    case Data_Type::UNSIGNED64: return 64;
    case Data_Type::VISIBLE_STRING:
    case Data_Type::OCTET_STRING: return 0;
    }
    return 0;
}

bool is_rx_mapping(uint16_t index)
{
    return index >= 0x1600 && index <= 0x17FF;
}
bool is_tx_mapping(uint16_t index)
{
    return index >= 0x1A00 && index <= 0x1BFF;
}

void Object_Dictionary::add_object(uint16_t index, Object_Code code, const std::string& name, Access sub0_access,
                                   uint8_t sub0_write_states)
{
    if (m_objects.count(index))
        throw std::logic_error("[Object_Dictionary][add_object] object exists: " + hex(index));
    Object& object = m_objects[index];
    object.code = code;
    object.name = name;
    if (code != Object_Code::VAR)
        object.entries[0] =
            Entry{"number of entries", Data_Type::UNSIGNED8, 8, sub0_access, sub0_write_states, false, {0}};
}

void Object_Dictionary::add_entry(uint16_t index, uint8_t subindex, Entry entry)
{
    auto found = m_objects.find(index);
    if (found == m_objects.end())
        throw std::logic_error("[Object_Dictionary][add_entry] no object " + hex(index));
    Object& object = found->second;
    if (object.code == Object_Code::VAR ? subindex != 0 || object.entries.count(0) != 0
                                        : subindex == 0 || object.entries.count(subindex) != 0)
        throw std::logic_error("[Object_Dictionary][add_entry] bad subindex " + std::to_string(subindex) + " of " +
                               hex(index));
    if (!is_string(entry.type) && entry.value.size() != byte_size(entry))
        throw std::logic_error("[Object_Dictionary][add_entry] value size does not match the type at " + hex(index));
    object.entries[subindex] = std::move(entry);
    if (object.code != Object_Code::VAR) {
        Entry& count = object.entries[0];
        count.value[0] = std::max<uint8_t>(count.value[0], subindex);
    }
}

void Object_Dictionary::add_string(uint16_t index, const std::string& name, const std::string& text)
{
    add_object(index, Object_Code::VAR, name);
    add_entry(index, 0,
              Entry{name, Data_Type::VISIBLE_STRING, static_cast<uint16_t>(text.size() * 8), Access::ro, ALL_STATES,
                    false, std::vector<uint8_t>(text.begin(), text.end())});
}

bool Object_Dictionary::has_object(uint16_t index) const
{
    return m_objects.count(index) != 0;
}

const Entry* Object_Dictionary::find(uint16_t index, uint8_t subindex) const
{
    auto object = m_objects.find(index);
    if (object == m_objects.end())
        return nullptr;
    auto entry = object->second.entries.find(subindex);
    return entry == object->second.entries.end() ? nullptr : &entry->second;
}

Object_Code Object_Dictionary::object_code(uint16_t index) const
{
    return m_objects.at(index).code;
}

std::vector<uint16_t> Object_Dictionary::indexes() const
{
    std::vector<uint16_t> all;
    for (const auto& object : m_objects)
        all.push_back(object.first);
    return all;
}

void Object_Dictionary::set_write_check(uint16_t index, Write_Check check)
{
    m_objects.at(index).check = std::move(check);
}

void Object_Dictionary::set_write_hook(uint16_t index, Write_Hook hook)
{
    m_objects.at(index).hook = std::move(hook);
}

Entry& Object_Dictionary::entry_ref(uint16_t index, uint8_t subindex)
{
    auto object = m_objects.find(index);
    if (object == m_objects.end())
        throw std::out_of_range("[Object_Dictionary][entry] no object " + hex(index));
    auto entry = object->second.entries.find(subindex);
    if (entry == object->second.entries.end())
        throw std::out_of_range("[Object_Dictionary][entry] no subindex " + std::to_string(subindex) + " of " +
                                hex(index));
    return entry->second;
}

const Entry& Object_Dictionary::entry_ref(uint16_t index, uint8_t subindex) const
{
    return const_cast<Object_Dictionary*>(this)->entry_ref(index, subindex);
}

std::vector<uint8_t> Object_Dictionary::get_bytes(uint16_t index, uint8_t subindex) const
{
    return entry_ref(index, subindex).value;
}

void Object_Dictionary::set_bytes(uint16_t index, uint8_t subindex, const std::vector<uint8_t>& value)
{
    Entry& entry = entry_ref(index, subindex);
    if (is_string(entry.type) ? value.size() > byte_size(entry) : value.size() != byte_size(entry))
        throw std::invalid_argument("[Object_Dictionary][set_bytes] size mismatch at " + hex(index));
    entry.value = value;
}

uint32_t Object_Dictionary::read(uint16_t index, uint8_t subindex, std::vector<uint8_t>& out) const
{
    auto object = m_objects.find(index);
    if (object == m_objects.end())
        return abort_code::NO_OBJECT;
    auto entry = object->second.entries.find(subindex);
    if (entry == object->second.entries.end())
        return abort_code::NO_SUBINDEX;
    if (entry->second.access == Access::wo)
        return abort_code::WRITE_ONLY;
    out = entry->second.value;
    return abort_code::NONE;
}

uint32_t Object_Dictionary::check_write(uint16_t index, uint8_t subindex, const Object& object, const Entry& entry,
                                        const std::vector<uint8_t>& data) const
{
    if (entry.access == Access::ro)
        return abort_code::READ_ONLY;
    if ((entry.write_states & m_state) == 0)
        return abort_code::DEVICE_STATE;
    if (is_string(entry.type)) {
        if (data.size() > byte_size(entry))
            return abort_code::TOO_LONG;
    } else if (data.size() != byte_size(entry)) {
        return abort_code::LENGTH_MISMATCH;
    }
    if (object.code != Object_Code::VAR && subindex == 0) {
        const uint8_t highest = object.entries.rbegin()->first;
        if (data[0] > highest)
            return abort_code::VALUE_RANGE;
    }
    if (const uint32_t pdo = check_pdo_rules(index, subindex, object, data))
        return pdo;
    if (object.check)
        return object.check(subindex, data);
    return abort_code::NONE;
}

// Bits mapped by the first `count` entries of a mapping object.
uint32_t Object_Dictionary::mapping_bits(uint16_t mapping_index, uint8_t count, uint32_t& bits) const
{
    bits = 0;
    for (uint8_t sub = 1; sub <= count; ++sub) {
        const Entry* entry = find(mapping_index, sub);
        if (!entry)
            return abort_code::VALUE_RANGE;
        bits += from_bytes<uint32_t>(entry->value) & 0xFFu;
    }
    return abort_code::NONE;
}

uint32_t Object_Dictionary::check_pdo_rules(uint16_t index, uint8_t subindex, const Object& object,
                                            const std::vector<uint8_t>& data) const
{
    (void)object;
    const bool mapping = is_rx_mapping(index) || is_tx_mapping(index);
    if (mapping && subindex != 0) {
        const uint32_t value = from_bytes<uint32_t>(data);
        const uint16_t mapped = static_cast<uint16_t>(value >> 16);
        const uint8_t mapped_sub = static_cast<uint8_t>(value >> 8);
        const uint8_t bits = static_cast<uint8_t>(value);
        if (mapped == 0)
            return abort_code::NONE;  // padding
        const Entry* target = find(mapped, mapped_sub);
        if (!target)
            return has_object(mapped) ? abort_code::NO_SUBINDEX : abort_code::NO_OBJECT;
        if (!target->pdo_mappable)
            return abort_code::NOT_MAPPABLE;
        const bool rx = is_rx_mapping(index);
        if (rx ? target->access == Access::ro : target->access == Access::wo)
            return abort_code::NOT_MAPPABLE;
        if (bits != target->bit_size)
            return abort_code::LENGTH_MISMATCH;
        return abort_code::NONE;
    }
    if (mapping && subindex == 0) {
        uint32_t bits = 0;
        if (const uint32_t abort = mapping_bits(index, data[0], bits))
            return abort;
        if (bits > max_pdo_bits)
            return abort_code::MAPPING_TOO_LONG;
        return abort_code::NONE;
    }
    if ((index == 0x1C12 || index == 0x1C13) && subindex != 0) {
        const uint16_t pdo = from_bytes<uint16_t>(data);
        if (pdo == 0)
            return abort_code::NONE;
        const bool ok = index == 0x1C12 ? is_rx_mapping(pdo) : is_tx_mapping(pdo);
        if (!ok || !has_object(pdo))
            return abort_code::VALUE_RANGE;
    }
    return abort_code::NONE;
}

uint32_t Object_Dictionary::write(uint16_t index, uint8_t subindex, const std::vector<uint8_t>& data)
{
    auto object = m_objects.find(index);
    if (object == m_objects.end())
        return abort_code::NO_OBJECT;
    auto entry = object->second.entries.find(subindex);
    if (entry == object->second.entries.end())
        return abort_code::NO_SUBINDEX;
    if (const uint32_t abort = check_write(index, subindex, object->second, entry->second, data))
        return abort;
    entry->second.value = data;
    if (object->second.hook)
        object->second.hook(subindex);
    return abort_code::NONE;
}

uint32_t Object_Dictionary::read_complete(uint16_t index, uint8_t first_subindex, std::vector<uint8_t>& out) const
{
    auto object = m_objects.find(index);
    if (object == m_objects.end())
        return abort_code::NO_OBJECT;
    if (object->second.code == Object_Code::VAR || first_subindex > 1)
        return abort_code::UNSUPPORTED_ACCESS;
    const uint8_t count = object->second.entries.at(0).value[0];
    uint32_t bits = first_subindex == 0 ? 16 : 0;
    for (uint8_t sub = 1; sub <= count; ++sub) {
        const Entry* entry = find(index, sub);
        if (!entry)
            continue;  // a gap in a record is skipped
        if (entry->access == Access::wo)
            return abort_code::WRITE_ONLY;
        bits += entry->bit_size;
    }
    out.assign((bits + 7) / 8, 0);
    uint32_t offset = 0;
    if (first_subindex == 0) {
        out[0] = count;
        offset = 16;
    }
    for (uint8_t sub = 1; sub <= count; ++sub) {
        const Entry* entry = find(index, sub);
        if (!entry)
            continue;
        put_bits(out.data(), offset, entry->value, entry->bit_size);
        offset += entry->bit_size;
    }
    return abort_code::NONE;
}

uint32_t Object_Dictionary::write_complete(uint16_t index, uint8_t first_subindex, const std::vector<uint8_t>& data)
{
    auto found = m_objects.find(index);
    if (found == m_objects.end())
        return abort_code::NO_OBJECT;
    Object& object = found->second;
    if (object.code == Object_Code::VAR || first_subindex > 1)
        return abort_code::UNSUPPORTED_ACCESS;

    // The count that governs the entries: the written one from sub 0, else the current.
    uint32_t offset = 0;
    uint8_t count = object.entries.at(0).value[0];
    if (first_subindex == 0) {
        if (data.size() < 2)
            return abort_code::TOO_SHORT;
        count = data[0];
        offset = 16;
        if (count > object.entries.rbegin()->first)
            return abort_code::VALUE_RANGE;
    }
    uint32_t bits = offset;
    for (uint8_t sub = 1; sub <= count; ++sub)
        if (const Entry* entry = find(index, sub))
            bits += entry->bit_size;
    if (data.size() * 8 < bits)
        return abort_code::TOO_SHORT;
    if (data.size() > (bits + 7) / 8)
        return abort_code::TOO_LONG;

    // Check every part first so that a refused write changes nothing. Sub 0
    // is checked against the entries as they will be after the write.
    std::map<uint8_t, std::vector<uint8_t>> values;
    uint32_t at = offset;
    for (uint8_t sub = 1; sub <= count; ++sub) {
        const Entry* entry = find(index, sub);
        if (!entry)
            continue;
        values[sub] = take_bits(data.data(), at, entry->bit_size);
        at += entry->bit_size;
        if (const uint32_t abort = check_write(index, sub, object, *entry, values[sub]))
            return abort;
    }
    if (first_subindex == 0) {
        const Entry& sub0 = object.entries.at(0);
        if (sub0.access == Access::ro)
            return abort_code::READ_ONLY;
        if ((sub0.write_states & m_state) == 0)
            return abort_code::DEVICE_STATE;
        if (is_rx_mapping(index) || is_tx_mapping(index)) {
            uint32_t mapped = 0;
            for (const auto& value : values)
                mapped += from_bytes<uint32_t>(value.second) & 0xFFu;
            if (mapped > max_pdo_bits)
                return abort_code::MAPPING_TOO_LONG;
        }
        if (object.check) {
            if (const uint32_t abort = object.check(0, {count}))
                return abort;
        }
    }
    for (const auto& value : values) {
        object.entries.at(value.first).value = value.second;
        if (object.hook)
            object.hook(value.first);
    }
    if (first_subindex == 0) {
        object.entries.at(0).value[0] = count;
        if (object.hook)
            object.hook(0);
    }
    return abort_code::NONE;
}

std::vector<Pdo_Entry> Object_Dictionary::pdo_layout(uint16_t assignment_index) const
{
    std::vector<Pdo_Entry> layout;
    const uint8_t pdos = get<uint8_t>(assignment_index, 0);
    uint32_t offset = 0;
    for (uint8_t p = 1; p <= pdos; ++p) {
        const uint16_t mapping = get<uint16_t>(assignment_index, p);
        if (!has_object(mapping))
            throw std::runtime_error("[Object_Dictionary][pdo_layout] assigned PDO missing: " + hex(mapping));
        const uint8_t entries = get<uint8_t>(mapping, 0);
        for (uint8_t e = 1; e <= entries; ++e) {
            const uint32_t value = get<uint32_t>(mapping, e);
            Pdo_Entry entry;
            entry.index = static_cast<uint16_t>(value >> 16);
            entry.subindex = static_cast<uint8_t>(value >> 8);
            entry.bit_size = static_cast<uint8_t>(value);
            entry.bit_offset = offset;
            if (entry.index != 0) {
                const Entry* target = find(entry.index, entry.subindex);
                if (!target || target->bit_size != entry.bit_size)
                    throw std::runtime_error("[Object_Dictionary][pdo_layout] bad entry " + hex(entry.index) + " in " +
                                             hex(mapping));
            }
            offset += entry.bit_size;
            layout.push_back(entry);
        }
    }
    return layout;
}

uint32_t Object_Dictionary::image_bytes(const std::vector<Pdo_Entry>& layout)
{
    if (layout.empty())
        return 0;
    return (layout.back().bit_offset + layout.back().bit_size + 7) / 8;
}

void Object_Dictionary::pack_pdo(const std::vector<Pdo_Entry>& layout, uint8_t* image, size_t size) const
{
    if (image_bytes(layout) > size)
        throw std::invalid_argument("[Object_Dictionary][pack_pdo] image too small");
    for (const Pdo_Entry& entry : layout)
        if (entry.index != 0)
            put_bits(image, entry.bit_offset, entry_ref(entry.index, entry.subindex).value, entry.bit_size);
}

void Object_Dictionary::unpack_pdo(const std::vector<Pdo_Entry>& layout, const uint8_t* image, size_t size)
{
    if (image_bytes(layout) > size)
        throw std::invalid_argument("[Object_Dictionary][unpack_pdo] image too small");
    for (const Pdo_Entry& entry : layout)
        if (entry.index != 0)
            entry_ref(entry.index, entry.subindex).value = take_bits(image, entry.bit_offset, entry.bit_size);
}

}  // namespace sim
