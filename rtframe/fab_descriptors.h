#pragma once

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "framework_types.h"
#include "xelo_xml_parser.h"

// Records of the application descriptor's entries, each built from one entry
// element. A constructor reads every attribute separately, so that one ERR
// line lists all fields of a bad entry before it throws
// "Bad element xml definition".

// One cyclic variable: a slave output ("output"), a slave input ("input") or
// a virtual variable ("virtual_io").
class IO_Descriptor {
public:
    enum IO_Type : int32_t {
        OUTPUT = 0,
        INPUT = 1,
        VIRTUAL = 3,
    };

    IO_Descriptor(const XELO_XML::XML_IO& xml_parser, const xmlpp::Node* root_node, IO_Type io_type);

    std::string m_name_physic_id;
    std::string m_name_virtual_id;
    uint16_t m_slave_addr = 0;  // 0: the framework's virtual area
    uint32_t m_byte_offs = 0;
    uint32_t m_byte_dim = 0;
    uint16_t m_bit_offs = 0;
    Type_Definition m_type = UNDEFINED_TYPE_FSM;
    int32_t m_group_id = -1;
    bool m_is_ro = false;
    bool m_has_default_value = false;
    bool m_is_negated = false;
    int32_t m_io_type;
    bool is_default_value_changed = false;
    std::vector<uint8_t> m_default_value;  // memory byte order
    bool m_is_alias = false;
    std::string m_pointed_io_descriptor;  // virtual name of the aliased variable
    IO_Type m_pointed_type = VIRTUAL;
    bool m_is_default_value_string = false;

private:
    void read_attributes(const XELO_XML::XML_IO& xml_parser, const xmlpp::Node* node, bool& has_to_throw);
    void read_default_value_ex(const xmlpp::Node* node);
    [[noreturn]] void throw_bad_element() const;
};

// One asynchronous variable, moved by an expedited SDO transfer on request.
class Async_IO_Descriptor {
public:
    enum SDO_Type : int32_t {
        OUTPUT = 0,  // download to the slave
        INPUT = 1,   // upload from the slave
        EMCY = 2,
    };

    Async_IO_Descriptor(const XELO_XML::XML_IO& xml_parser, const xmlpp::Node* root_node, SDO_Type type);

    std::string m_name_physic_id;
    std::string m_name_virtual_id;
    uint16_t m_slave_addr = 0;
    int32_t m_index_el = 0;
    int32_t m_sub_index_el = 0;
    int32_t m_dim_data_el = 0;  // 1 to 4 bytes
    Type_Definition m_type = UNDEFINED_TYPE_FSM;
    uint8_t m_sdo_code = 0;

private:
    uint8_t choose_sdo_code_ex(SDO_Type type) const;
    [[noreturn]] void throw_bad_element() const;
};

// One member of a data group.
class Data_Semaphore {
public:
    Data_Semaphore(const XELO_XML::XML_IO& xml_parser, const xmlpp::Node* root_node);

    uint32_t byte_offs = 0;
    uint32_t byte_dim = 0;
    Type_Definition type = UNDEFINED_TYPE_FSM;
    std::string name;
};

// A data group ("sem" entry) with its members ("sem_data" children).
class Data_Semaphore_Group {
public:
    Data_Semaphore_Group(const XELO_XML::XML_IO& xml_parser, const xmlpp::Node* root_node, int _id);

    std::string sem_name;
    int32_t ring_buffer_dimension = 0;  // 0: a single data block
    int32_t flag_only_not_rt = 0;
    int32_t sem_id;  // position in the framework's whole data-group list
    std::vector<Data_Semaphore> data;

private:
    void read_members_ex(const XELO_XML::XML_IO& xml_parser, const xmlpp::Node* root_node);
};

// One line of fixed-width columns per record, without line end.
std::ostream& operator<<(std::ostream& stream, const IO_Descriptor& record);
std::ostream& operator<<(std::ostream& stream, const Async_IO_Descriptor& record);
std::ostream& operator<<(std::ostream& stream, const Data_Semaphore_Group& record);
std::ostream& operator<<(std::ostream& stream, const Data_Semaphore& record);
