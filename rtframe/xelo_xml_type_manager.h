#pragma once

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "fab_descriptors.h"
#include "xelo_xml_parser.h"

// What differs between the three kinds of section: the name in log lines,
// the entry label of a kind, and how a record is built.
template <typename T>
struct Xml_Section_Traits;

template <>
struct Xml_Section_Traits<IO_Descriptor> {
    static constexpr const char* reader = "[Xml_IO_Manager][add_elements] ";
    static std::string label_ex(IO_Descriptor::IO_Type kind);
    static std::unique_ptr<IO_Descriptor> build(const XELO_XML::XML_IO& xml, const xmlpp::Node* node,
                                                IO_Descriptor::IO_Type kind, int)
    {
        return std::make_unique<IO_Descriptor>(xml, node, kind);
    }
};

template <>
struct Xml_Section_Traits<Async_IO_Descriptor> {
    static constexpr const char* reader = "[Xml_Async_IO_Manager][add_elements] ";
    static std::string label_ex(Async_IO_Descriptor::SDO_Type kind);
    static std::unique_ptr<Async_IO_Descriptor> build(const XELO_XML::XML_IO& xml, const xmlpp::Node* node,
                                                      Async_IO_Descriptor::SDO_Type kind, int)
    {
        return std::make_unique<Async_IO_Descriptor>(xml, node, kind);
    }
};

// A group gets its index in the whole data-group list.
template <>
struct Xml_Section_Traits<Data_Semaphore_Group> {
    static constexpr const char* reader = "[Xml_Sem_Data_Group_Manager][add_elements] ";
    static std::string label_ex(int) { return "sem_data_group"; }
    static std::unique_ptr<Data_Semaphore_Group> build(const XELO_XML::XML_IO& xml, const xmlpp::Node* node, int,
                                                       int list_index)
    {
        return std::make_unique<Data_Semaphore_Group>(xml, node, list_index);
    }
};

void log_section_missing(const std::string& reader, const std::string& label);
void log_section_adding(const std::string& reader, const std::string& label);

// Reads one section of one descriptor file: the single section element below
// the root and every entry element directly below it. Owns the records it
// builds; the shared list only points to them.
template <typename T, typename E>
class Xml_Type_Manager {
public:
    Xml_Type_Manager(XELO_XML::XML_IO* xml_reader, std::string root_node_type, std::string node_type, E type_descriptor,
                     std::vector<T*>* all_type_vector)
        : m_xml_reader_ptr(xml_reader), m_root_node_type_string(std::move(root_node_type)),
          m_node_type_string(std::move(node_type)), m_type_descriptor(type_descriptor),
          m_all_type_vector_ptr(all_type_vector)
    {
    }
    Xml_Type_Manager(const Xml_Type_Manager&) = delete;
    Xml_Type_Manager& operator=(const Xml_Type_Manager&) = delete;

    void init()
    {
        try {
            m_root_note = m_xml_reader_ptr->get_node_ex(m_root_node_type_string);
        } catch (const std::exception&) {
            has_values = false;  // reported by add_elements
        }
        if (has_values)
            m_nodes = m_xml_reader_ptr->get_nodes_ex(m_node_type_string, m_root_note);
        add_elements();
    }

    void add_elements()
    {
        using Traits = Xml_Section_Traits<T>;
        const std::string label = Traits::label_ex(m_type_descriptor);
        if (!has_values) {
            log_section_missing(Traits::reader, label);
            return;
        }
        log_section_adding(Traits::reader, label);
        const int first_index = static_cast<int>(m_all_type_vector_ptr->size());
        for (xmlpp::Node* node : m_nodes) {
            std::unique_ptr<T> record =
                Traits::build(*m_xml_reader_ptr, node, m_type_descriptor, first_index + n_elements);
            m_all_type_vector_ptr->push_back(record.get());
            this_type_vector.push_back(std::move(record));
            m_used_nodes_ptr.push_back(node);
            ++n_elements;
        }
    }

    bool has_values = true;
    int n_elements = 0;
    XELO_XML::XML_IO* m_xml_reader_ptr;
    std::string m_root_node_type_string;
    std::string m_node_type_string;
    E m_type_descriptor;
    std::vector<T*>* m_all_type_vector_ptr;
    std::vector<xmlpp::Node*> m_nodes;
    xmlpp::Node* m_root_note = nullptr;
    std::vector<xmlpp::Node*> m_used_nodes_ptr;  // entry element of each record
    std::vector<std::unique_ptr<T>> this_type_vector;
};

using Xml_IO_Manager = Xml_Type_Manager<IO_Descriptor, IO_Descriptor::IO_Type>;
using Xml_Async_IO_Manager = Xml_Type_Manager<Async_IO_Descriptor, Async_IO_Descriptor::SDO_Type>;
using Xml_Sem_Data_Group_Manager = Xml_Type_Manager<Data_Semaphore_Group, int>;
