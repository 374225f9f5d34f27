#include "fab_descriptors.h"

#include <sstream>
#include <stdexcept>

#include "fab_default_value.h"
#include "fab_value_types.h"
#include "xelo_log.h"
#include "xelo_string_functions.h"

using XELO_String_Functions::num2str;

namespace {

const char* const BAD_ELEMENT = "Bad element xml definition";
const char* const LINE = "\n\t\t\t ";

// Runs one attribute read; a failed read marks the entry bad and lets the
// caller go on with the next attribute, so the report lists them all.
template <typename Read>
bool guarded_read(bool& has_to_throw, Read&& read)
{
    try {
        read();
        return true;
    } catch (const std::exception&) {
        has_to_throw = true;
        return false;
    }
}

std::string text_attribute(const XELO_XML::XML_IO& xml, const xmlpp::Node* node, const char* name)
{
    return xml.get_element_property_ex<std::string>(name, node);
}

Type_Definition type_attribute(const XELO_XML::XML_IO& xml, const xmlpp::Node* node)
{
    return typestring2typedescriptor(text_attribute(xml, node, "type"));
}

// The whole value, blanks included: a text default is kept as written.
std::string whole_attribute(const xmlpp::Node* node, const char* name)
{
    const auto* element = dynamic_cast<const xmlpp::Element*>(node);
    return element != nullptr ? std::string(element->get_attribute_value(name)) : std::string();
}

std::string hex_text(uint32_t value)
{
    std::ostringstream stream;
    stream << std::hex << value;
    return stream.str();
}

}  // namespace

// ---- IO_Descriptor -------------------------------------------------------

IO_Descriptor::IO_Descriptor(const XELO_XML::XML_IO& xml_parser, const xmlpp::Node* root_node, IO_Type io_type)
    : m_io_type(io_type)
{
    bool has_to_throw = false;
    read_attributes(xml_parser, root_node, has_to_throw);
    if (!m_is_alias && xml_parser.has_property("default_value", root_node))
        read_default_value_ex(root_node);
    if (has_to_throw)
        throw_bad_element();
}

void IO_Descriptor::read_attributes(const XELO_XML::XML_IO& xml, const xmlpp::Node* node, bool& has_to_throw)
{
    guarded_read(has_to_throw, [&] { m_name_virtual_id = text_attribute(xml, node, "name_virtual"); });
    if (m_io_type != VIRTUAL) {
        guarded_read(has_to_throw, [&] { m_name_physic_id = text_attribute(xml, node, "name_physic"); });
        guarded_read(has_to_throw,
                     [&] { m_slave_addr = xml.get_element_property_ex<unsigned short>("slave_address", node); });
    }
    guarded_read(has_to_throw, [&] {
        if (xml.has_property("alias_of", node)) {
            m_pointed_io_descriptor = text_attribute(xml, node, "alias_of");
            m_is_alias = true;
        }
    });
    if (m_slave_addr != 0) {
        guarded_read(has_to_throw,
                     [&] { m_byte_offs = xml.get_element_property_ex<unsigned short>("byte_offset", node); });
        guarded_read(has_to_throw,
                     [&] { m_bit_offs = xml.get_element_property_ex<unsigned short>("bit_offset", node); });
        const bool has_dim = guarded_read(has_to_throw, [&] {
            m_byte_dim = xml.get_element_property_ex<unsigned short>("byte_dimension", node);
        });
        if (!has_dim && m_is_alias)
            throw_bad_element();
    }
    // An alias stands for the variable it names: type, group, flags and
    // default come from there.
    if (m_is_alias)
        return;
    guarded_read(has_to_throw, [&] { m_type = type_attribute(xml, node); });
    if (m_type == BYTE_ARRAY_FSM)
        guarded_read(has_to_throw,
                     [&] { m_byte_dim = xml.get_element_property_ex<unsigned short>("byte_dimension", node); });
    guarded_read(has_to_throw, [&] { m_group_id = xml.get_element_property_ex<int>("group_id", node); });
    guarded_read(has_to_throw, [&] { m_is_ro = xml.get_element_property_ex<int>("is_ro", node) != 0; });
    guarded_read(has_to_throw, [&] { m_is_negated = xml.get_element_property_ex<int>("is_negated", node) != 0; });
}

void IO_Descriptor::read_default_value_ex(const xmlpp::Node* node)
{
    m_has_default_value = true;
    try {
        Default_Value_Bytes value =
            convert_default_value_ex(whole_attribute(node, "default_value"), m_type, m_byte_dim, m_name_virtual_id);
        m_default_value = std::move(value.bytes);
        m_is_default_value_string = value.is_string;
    } catch (const std::exception& e) {
        log_err(e.what());
        throw_bad_element();
    }
}

void IO_Descriptor::throw_bad_element() const
{
    log_err(std::string("[fab_descriptors][IO_Descriptor] Bad element xml definition :") + LINE +
            "name_physic   :: " + m_name_physic_id + LINE + "slave_addr    :: " + num2str(m_slave_addr) + LINE +
            "name_virtual  :: " + m_name_virtual_id + LINE + "type          :: " + typedescriptor2typestring(m_type) +
            LINE + "byte_offs     :: " + num2str(m_byte_offs) + LINE + "bit_offs      :: " + num2str(m_bit_offs) +
            LINE + "byte_dim      :: " + num2str(m_byte_dim) + LINE + "group_id      :: " + num2str(m_group_id) + LINE +
            "is_ro         :: " + num2str(m_is_ro) + LINE + "is_negated    :: " + num2str(m_is_negated) + LINE +
            "alias_of      :: " + m_pointed_io_descriptor);
    throw std::runtime_error(BAD_ELEMENT);
}

// ---- Async_IO_Descriptor -------------------------------------------------

Async_IO_Descriptor::Async_IO_Descriptor(const XELO_XML::XML_IO& xml, const xmlpp::Node* node, SDO_Type type)
{
    bool has_to_throw = false;
    guarded_read(has_to_throw, [&] { m_name_physic_id = text_attribute(xml, node, "name_physic"); });
    guarded_read(has_to_throw, [&] { m_name_virtual_id = text_attribute(xml, node, "name_virtual"); });
    guarded_read(has_to_throw,
                 [&] { m_slave_addr = xml.get_element_property_ex<unsigned short>("slave_address", node); });
    guarded_read(has_to_throw, [&] {
        m_index_el = static_cast<int32_t>(xml.get_element_property_ex<unsigned int>("index_hex", std::hex, node));
    });
    guarded_read(has_to_throw, [&] { m_sub_index_el = xml.get_element_property_ex<unsigned short>("subindex", node); });
    const bool has_dim = guarded_read(has_to_throw, [&] {
        m_dim_data_el = xml.get_element_property_ex<unsigned short>("data_dimension", node);
    });
    guarded_read(has_to_throw, [&] { m_type = type_attribute(xml, node); });

    if (m_name_virtual_id.find("__emcy_") != std::string::npos) {
        log_war("\t[Async_IO_Descriptor] Input Type CHANGE -> Async_IO_Descriptor::EMCY ");
        m_sdo_code = 0xFF;
    } else if (has_dim) {
        // Without a dimension there is nothing to choose from; the report
        // below names the entry.
        m_sdo_code = choose_sdo_code_ex(type);
    }
    if (has_to_throw)
        throw_bad_element();
}

// Expedited SDO command specifiers with size indicated, by data size.
uint8_t Async_IO_Descriptor::choose_sdo_code_ex(SDO_Type type) const
{
    static constexpr uint8_t UPLOAD[4] = {0x4F, 0x4B, 0x47, 0x43};
    static constexpr uint8_t DOWNLOAD[4] = {0x2F, 0x2B, 0x27, 0x23};
    switch (type) {
    case INPUT:
    case OUTPUT:
        if (m_dim_data_el < 1 || m_dim_data_el > 4)
            throw std::runtime_error("data_dimension not valid ");
        return (type == INPUT ? UPLOAD : DOWNLOAD)[m_dim_data_el - 1];
    case EMCY: return 0xFF;
    default: throw std::runtime_error("sdo type not valid");
    }
}

void Async_IO_Descriptor::throw_bad_element() const
{
    log_err(std::string("[fab_descriptors][Async_IO_Descriptor] Bad element xml definition :") + LINE +
            "name_physic_id  :: " + m_name_physic_id + LINE + "name_virtual_id :: " + m_name_virtual_id + LINE +
            "slave_addr      :: " + num2str(m_slave_addr) + LINE + "index_el  _     :: " + num2str(m_index_el) + LINE +
            "sub_index_el    :: " + num2str(m_sub_index_el) + LINE + "dim_data_el     :: " + num2str(m_dim_data_el) +
            LINE + "type            :: " + typedescriptor2typestring(m_type));
    throw std::runtime_error(BAD_ELEMENT);
}

// ---- data groups ---------------------------------------------------------

Data_Semaphore::Data_Semaphore(const XELO_XML::XML_IO& xml, const xmlpp::Node* node)
{
    bool has_to_throw = false;
    guarded_read(has_to_throw, [&] { name = text_attribute(xml, node, "data_name"); });
    guarded_read(has_to_throw, [&] { type = type_attribute(xml, node); });
    if (type == BYTE_ARRAY_FSM)
        guarded_read(has_to_throw,
                     [&] { byte_dim = xml.get_element_property_ex<unsigned int>("byte_dimension", node); });
    if (!has_to_throw)
        return;
    log_err(std::string("[fab_descriptors][Data_Semaphore] Bad element xml definition :") + LINE +
            "sem data name :: " + name + LINE + "sem data type :: " + typedescriptor2typestring(type) + LINE +
            "byte_dim      :: " + num2str(byte_dim));
    throw std::runtime_error(BAD_ELEMENT);
}

Data_Semaphore_Group::Data_Semaphore_Group(const XELO_XML::XML_IO& xml, const xmlpp::Node* node, int _id) : sem_id(_id)
{
    bool has_to_throw = false;
    guarded_read(has_to_throw, [&] { sem_name = text_attribute(xml, node, "sem_name"); });
    guarded_read(has_to_throw, [&] { ring_buffer_dimension = xml.get_element_property_ex<int>("ring_buffer", node); });
    guarded_read(has_to_throw, [&] { flag_only_not_rt = xml.get_element_property_ex<int>("flag_only_not_rt", node); });
    if (ring_buffer_dimension < 0)  // a ring needs a slot count, not a negative size
        has_to_throw = true;
    if (has_to_throw) {
        log_err(std::string("[fab_descriptors][Data_Semaphore_Group] Bad element xml definition :") + LINE +
                "sem_name              :: " + sem_name + LINE + "ring_buffer_dimension :: " +
                num2str(ring_buffer_dimension) + LINE + "flag_only_not_rt      :: " + num2str(flag_only_not_rt));
        throw std::runtime_error(BAD_ELEMENT);
    }
    read_members_ex(xml, node);
}

void Data_Semaphore_Group::read_members_ex(const XELO_XML::XML_IO& xml, const xmlpp::Node* root_node)
{
    try {
        for (const xmlpp::Node* member : xml.get_nodes_ex("sem_data", root_node))
            data.emplace_back(xml, member);
    } catch (const std::exception&) {
        // The member has logged its own report.
        throw std::runtime_error("[fab_descriptors][Data_Semaphore_Group] error in sem data group data list :: " +
                                 sem_name);
    }
}

// ---- listing columns -----------------------------------------------------

std::ostream& operator<<(std::ostream& stream, const IO_Descriptor& r)
{
    stream << build_string("virtual_id", r.m_name_virtual_id, 50);
    if (r.m_is_alias)
        return stream << build_string("alias_of", r.m_pointed_io_descriptor, 60);
    return stream << build_string("phisic_id", r.m_name_physic_id, 25)
                  << build_string("slave_addr", num2str(r.m_slave_addr), 25)
                  << build_string("type", typedescriptor2typestring(r.m_type), 20)
                  << build_string("byte_dim", num2str(r.m_byte_dim), 18)
                  << build_string("byte_offs", num2str(r.m_byte_offs), 20)
                  << build_string("bit_offs", num2str(r.m_bit_offs), 15)
                  << build_string("group_id", num2str(r.m_group_id), 15)
                  << build_string("is_negated", num2str(r.m_is_negated), 16)
                  << build_string("is_ro", num2str(r.m_is_ro), 15)
                  << build_string("default",
                                  default_value_text_ex(r.m_default_value, r.m_type, r.m_byte_dim,
                                                        r.m_is_default_value_string),
                                  25);
}

std::ostream& operator<<(std::ostream& stream, const Async_IO_Descriptor& r)
{
    return stream << build_string("phisic_id", r.m_name_physic_id, 35)
                  << build_string("virtual_id", r.m_name_virtual_id, 50)
                  << build_string("slave_addr", num2str(r.m_slave_addr), 20)
                  << build_string("index_el", hex_text(static_cast<uint32_t>(r.m_index_el)), 25)
                  << build_string("subindex_el", num2str(r.m_sub_index_el), 25)
                  << build_string("dim_data_el", num2str(r.m_dim_data_el), 25)
                  << build_string("type", typedescriptor2typestring(r.m_type), 18)
                  << build_string("sdo_code", hex_text(r.m_sdo_code), 25);
}

std::ostream& operator<<(std::ostream& stream, const Data_Semaphore_Group& r)
{
    return stream << build_string("name", r.sem_name, 45) << build_string("sem_id", num2str(r.sem_id), 20);
}

std::ostream& operator<<(std::ostream& stream, const Data_Semaphore& r)
{
    return stream << build_string("name", r.name, 45) << build_string("byte_offs", num2str(r.byte_offs), 20)
                  << build_string("byte_dim", num2str(r.byte_dim), 20)
                  << build_string("type", typedescriptor2typestring(r.type), 18);
}
