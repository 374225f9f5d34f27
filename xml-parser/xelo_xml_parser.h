#pragma once

#include <libxml++/libxml++.h>

#include <cstdint>
#include <ios>
#include <list>
#include <map>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

namespace XELO_XML {

// Reads and writes one XML document through libxml++.
//
// Paths are XPath expressions evaluated with a context node; a null context
// node means the root element of the current document. Getters that ask for
// one element require the path to match exactly one node. Typed values are
// extracted through a string stream after applying the given base manipulator
// (std::dec or std::hex); overloads without a manipulator read decimal text.
// Every failure is a std::runtime_error.
class XML_IO {
public:
    enum Endianess : uint32_t {
        LITTLE_ENDIAN_FORMAT = 0,
        BIG_ENDIAN_FORMAT = 1,
    };

    using Manipulator = std::ios_base& (*)(std::ios_base&);

    XML_IO() = default;
    XML_IO(const XML_IO&) = delete;
    XML_IO& operator=(const XML_IO&) = delete;

    // ---- document --------------------------------------------------------
    void load_ex(const std::string& file_name);
    void create_root_node_ex(const std::string& root_name);

    void write_to_file(const std::string& file_name, const std::string& encoding);
    void write_to_file_formatted(const std::string& file_name, const std::string& encoding);
    std::string write_to_string(const std::string& encoding);
    std::string write_to_string_formatted(const std::string& encoding);
    void write_to_stream(std::ostream& output, const std::string& encoding);
    void write_to_stream_formatted(std::ostream& output, const std::string& encoding);

    // ---- lookup and structure -------------------------------------------
    bool has_element(const std::string& path, const xmlpp::Node* node = nullptr) const;
    bool has_unique_element(const std::string& path, const xmlpp::Node* node = nullptr) const;
    void assert_has_unique_element_ex(const std::string& path, const xmlpp::Node* node = nullptr) const;
    xmlpp::Node* get_node_ex(const std::string& path, const xmlpp::Node* node = nullptr) const;
    std::vector<xmlpp::Node*> get_nodes_ex(const std::string& path, const xmlpp::Node* node = nullptr) const;
    xmlpp::Element* add_node(const std::string& name, xmlpp::Element* parent = nullptr);

    // ---- element text ----------------------------------------------------
    std::string get_element_value_ch_ex(const std::string& path, Manipulator manip,
                                        const xmlpp::Node* node = nullptr) const;

    // The text of the unique element at path as exporters split it: its
    // text and CDATA children joined in document order, comments skipped (a
    // comment alone is the text, as above). Any other child, an element
    // above all, throws naming the element.
    std::string get_element_text_ex(const std::string& path, const xmlpp::Node* node = nullptr) const;

    template <typename T>
    T get_element_value_ex(const std::string& path, Manipulator manip, const xmlpp::Node* node = nullptr) const;
    template <typename T>
    T get_element_value_ex(const std::string& path, const xmlpp::Node* node = nullptr) const
    {
        return get_element_value_ex<T>(path, std::dec, node);
    }

    template <typename T>
    std::list<T> get_elements_values_ex(const std::string& path, Manipulator manip,
                                        const xmlpp::Node* node = nullptr) const;
    template <typename T>
    std::list<T> get_elements_values_ex(const std::string& path, const xmlpp::Node* node = nullptr) const
    {
        return get_elements_values_ex<T>(path, std::dec, node);
    }

    template <typename T>
    void set_element_value_ex(const T& value, xmlpp::Element* element, Manipulator manip) const;

    std::vector<unsigned char> get_element_hex_byte_array_value_ex(const std::string& path, const xmlpp::Node* node,
                                                                   Endianess endianess) const;

    // ---- attributes ------------------------------------------------------
    std::map<std::string, std::string> get_element_properties(const xmlpp::Node* element) const;
    std::map<std::string, std::string> get_element_properties_ex(const std::string& path,
                                                                 const xmlpp::Node* node = nullptr) const;

    bool has_property(const std::string& name, const xmlpp::Node* element) const;
    bool has_property(const std::string& name, const std::string& path, const xmlpp::Node* node = nullptr) const;

    // Both return false when the attribute is there and throw otherwise.
    bool assert_has_property_ex(const std::string& name, const std::string& path,
                                const xmlpp::Node* node = nullptr) const;
    bool assert_has_property_ex(const std::string& name, const xmlpp::Node* element) const;

    // The attribute of the context node itself.
    template <typename T>
    T get_element_property_ex(const std::string& name, Manipulator manip, const xmlpp::Node* node = nullptr) const;
    template <typename T>
    T get_element_property_ex(const std::string& name, const xmlpp::Node* node = nullptr) const
    {
        return get_element_property_ex<T>(name, std::dec, node);
    }

    // Changes only attributes that exist; never adds one.
    template <typename T>
    void set_attribute_value_ex(const std::string& name, const T& value, xmlpp::Element* element) const;

private:
    const xmlpp::Node* context_ex(const xmlpp::Node* node) const;
    xmlpp::NodeSet find_ex(const std::string& path, const xmlpp::Node* node) const;
    xmlpp::Document& document_ex();

    xmlpp::Document* m_xml_document = nullptr;
    xmlpp::DomParser m_xml_parser;
    xmlpp::Element* m_xml_root_node = nullptr;
    // The document made by create_root_node_ex; parsed documents belong to the parser.
    std::unique_ptr<xmlpp::Document> m_created_document;
};

// Element text read as a string is the whole text, blanks included.
template <>
std::string XML_IO::get_element_value_ex<std::string>(const std::string& path, Manipulator manip,
                                                      const xmlpp::Node* node) const;

}  // namespace XELO_XML
