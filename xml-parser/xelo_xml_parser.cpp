#include "xelo_xml_parser.h"

#include <libxml/tree.h>
#include <libxml/xmlerror.h>

#include <cctype>
#include <sstream>
#include <stdexcept>

namespace XELO_XML {

namespace {

// libxml2 prints parser complaints on standard error besides handing them to
// libxml++, which puts them into its exception; while one parse runs, the
// calling thread's generic handler is silenced so the exception is the only
// report.
class Quiet_Parser_Errors {
public:
    Quiet_Parser_Errors() : m_handler(xmlGenericError), m_context(xmlGenericErrorContext)
    {
        xmlSetGenericErrorFunc(nullptr, &ignore);
    }
    ~Quiet_Parser_Errors() { xmlSetGenericErrorFunc(m_context, m_handler); }
    Quiet_Parser_Errors(const Quiet_Parser_Errors&) = delete;
    Quiet_Parser_Errors& operator=(const Quiet_Parser_Errors&) = delete;

private:
    static void ignore(void*, const char*, ...) {}

    xmlGenericErrorFunc m_handler;
    void* m_context;
};

const std::string not_unique_text(const std::string& path)
{
    return "Error element : " + path + " => not present in the xml file or is not unique!";
}

// One reusable stream per thread: building a string stream costs more than
// parsing a short number.
std::istringstream& conversion_stream(const std::string& text, XML_IO::Manipulator manip)
{
    thread_local std::istringstream stream;
    stream.clear();
    stream.flags(std::ios_base::dec | std::ios_base::skipws);
    stream.str(text);
    stream >> manip;
    return stream;
}

// Standard extraction: leading blanks skipped, the number ends at the first
// character that cannot continue it, no number gives 0.
template <typename T>
T extract(const std::string& text, XML_IO::Manipulator manip)
{
    T value{};
    conversion_stream(text, manip) >> value;
    return value;
}

// The first blank-delimited word.
template <>
std::string extract<std::string>(const std::string& text, XML_IO::Manipulator manip)
{
    std::string value;
    conversion_stream(text, manip) >> value;
    return value;
}

// Read as a number: 0 is false, any other number true, no number false.
template <>
bool extract<bool>(const std::string& text, XML_IO::Manipulator manip)
{
    long long value = 0;
    conversion_stream(text, manip) >> value;
    return value != 0;
}

const xmlpp::Element* as_element(const xmlpp::Node* node)
{
    return dynamic_cast<const xmlpp::Element*>(node);
}

std::string node_text_ex(const xmlpp::Node* node)
{
    const xmlpp::Node::NodeList children = node->get_children();
    if (children.empty())
        return std::string();
    if (children.size() > 1)
        throw std::runtime_error("Error extraction value : multiple values " + std::to_string(children.size()) +
                                 " are present!");
    const xmlpp::Node* child = children.front();
    if (const auto* text = dynamic_cast<const xmlpp::TextNode*>(child))
        return text->get_content();
    if (const auto* comment = dynamic_cast<const xmlpp::CommentNode*>(child))
        return comment->get_content();
    if (const auto* cdata = dynamic_cast<const xmlpp::CdataNode*>(child))
        return cdata->get_content();
    throw std::runtime_error("Node not recognized!");
}

// Attribute values are formatted as a default output string stream writes
// them; 8-bit integers as numbers, not characters.
template <typename T>
std::string attribute_text(const T& value)
{
    std::ostringstream stream;
    stream << value;
    return stream.str();
}

template <>
std::string attribute_text<signed char>(const signed char& value)
{
    return std::to_string(static_cast<int>(value));
}

template <>
std::string attribute_text<unsigned char>(const unsigned char& value)
{
    return std::to_string(static_cast<unsigned>(value));
}

template <>
std::string attribute_text<std::string>(const std::string& value)
{
    return value;
}

int hex_digit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// Next two non-blank characters read as a base-16 number the way stream
// extraction would: no leading digit gives 0, one digit gives its value.
unsigned char next_hex_pair(const std::string& text, std::size_t& pos)
{
    char pair[2] = {'\0', '\0'};
    for (char& c : pair) {
        while (pos < text.size() && std::isspace(static_cast<unsigned char>(text[pos])))
            ++pos;
        if (pos < text.size())
            c = text[pos++];
    }
    const int high = hex_digit(pair[0]);
    if (high < 0)
        return 0;
    const int low = hex_digit(pair[1]);
    return static_cast<unsigned char>(low < 0 ? high : high * 16 + low);
}

}  // namespace

// ---- document ------------------------------------------------------------

void XML_IO::load_ex(const std::string& file_name)
{
    // The parser frees its previous document when it starts.
    m_xml_document = nullptr;
    m_xml_root_node = nullptr;
    m_created_document.reset();
    try {
        const Quiet_Parser_Errors quiet;
        m_xml_parser.parse_file(file_name);
    } catch (const std::exception& e) {
        throw std::runtime_error("Could not parse file : " + file_name + " desc = " + e.what());
    }
    xmlpp::Document* document = m_xml_parser.get_document();
    xmlpp::Element* root = document != nullptr ? document->get_root_node() : nullptr;
    if (root == nullptr)
        throw std::runtime_error("Could not find document root node!");
    m_xml_document = document;
    m_xml_root_node = root;
}

void XML_IO::create_root_node_ex(const std::string& root_name)
{
    auto document = std::make_unique<xmlpp::Document>("1.0");
    m_xml_root_node = document->create_root_node(root_name);
    m_xml_document = document.get();
    m_created_document = std::move(document);
}

xmlpp::Document& XML_IO::document_ex()
{
    if (m_xml_document == nullptr)
        throw std::runtime_error("[XML_IO][write] no xml document to write!");
    return *m_xml_document;
}

void XML_IO::write_to_file(const std::string& file_name, const std::string& encoding)
{
    document_ex().write_to_file(file_name, encoding);
}

void XML_IO::write_to_file_formatted(const std::string& file_name, const std::string& encoding)
{
    document_ex().write_to_file_formatted(file_name, encoding);
}

std::string XML_IO::write_to_string(const std::string& encoding)
{
    return document_ex().write_to_string(encoding);
}

std::string XML_IO::write_to_string_formatted(const std::string& encoding)
{
    return document_ex().write_to_string_formatted(encoding);
}

void XML_IO::write_to_stream(std::ostream& output, const std::string& encoding)
{
    document_ex().write_to_stream(output, encoding);
}

void XML_IO::write_to_stream_formatted(std::ostream& output, const std::string& encoding)
{
    document_ex().write_to_stream_formatted(output, encoding);
}

// ---- lookup and structure ------------------------------------------------

const xmlpp::Node* XML_IO::context_ex(const xmlpp::Node* node) const
{
    if (node != nullptr)
        return node;
    if (m_xml_root_node == nullptr)
        throw std::runtime_error("[XML_IO][find] no xml document loaded!");
    return m_xml_root_node;
}

namespace {

// A path that is one element name without prefix: it selects the child
// elements of that name in no namespace, as XPath does.
bool is_bare_name(const std::string& path)
{
    if (path.empty())
        return false;
    const auto c0 = static_cast<unsigned char>(path[0]);
    if (!(std::isalpha(c0) || c0 == '_'))
        return false;
    for (const char ch : path) {
        const auto c = static_cast<unsigned char>(ch);
        if (!(std::isalnum(c) || c == '_' || c == '-' || c == '.'))
            return false;
    }
    return true;
}

}  // namespace

// Bare names, the common case of every reader, are looked up by walking the
// children, and "." is the context node itself: an XPath evaluation costs far
// more than the few children it scans.
xmlpp::NodeSet XML_IO::find_ex(const std::string& path, const xmlpp::Node* node) const
{
    const xmlpp::Node* context = context_ex(node);
    if (path == ".")
        return xmlpp::NodeSet{const_cast<xmlpp::Node*>(context)};
    if (!is_bare_name(path))
        return context->find(path);
    xmlpp::NodeSet found;
    for (xmlNode* child = context->cobj()->children; child != nullptr; child = child->next) {
        if (child->type == XML_ELEMENT_NODE && child->ns == nullptr &&
            path == reinterpret_cast<const char*>(child->name)) {
            xmlpp::Node::create_wrapper(child);
            found.push_back(static_cast<xmlpp::Node*>(child->_private));
        }
    }
    return found;
}

bool XML_IO::has_element(const std::string& path, const xmlpp::Node* node) const
{
    return !find_ex(path, node).empty();
}

bool XML_IO::has_unique_element(const std::string& path, const xmlpp::Node* node) const
{
    return find_ex(path, node).size() == 1;
}

void XML_IO::assert_has_unique_element_ex(const std::string& path, const xmlpp::Node* node) const
{
    get_node_ex(path, node);
}

xmlpp::Node* XML_IO::get_node_ex(const std::string& path, const xmlpp::Node* node) const
{
    const xmlpp::NodeSet found = find_ex(path, node);
    if (found.size() != 1)
        throw std::runtime_error(not_unique_text(path));
    return found.front();
}

std::vector<xmlpp::Node*> XML_IO::get_nodes_ex(const std::string& path, const xmlpp::Node* node) const
{
    return find_ex(path, node);
}

xmlpp::Element* XML_IO::add_node(const std::string& name, xmlpp::Element* parent)
{
    if (parent == nullptr)
        parent = m_xml_root_node;
    if (parent == nullptr)
        throw std::runtime_error("[XML_IO][add_node] no xml document loaded!");
    return parent->add_child(name);
}

// ---- element text --------------------------------------------------------

std::string XML_IO::get_element_value_ch_ex(const std::string& path, Manipulator, const xmlpp::Node* node) const
{
    return node_text_ex(get_node_ex(path, node));
}

std::string XML_IO::get_element_text_ex(const std::string& path, const xmlpp::Node* node) const
{
    const xmlpp::Node* element = get_node_ex(path, node);
    const xmlpp::Node::NodeList children = element->get_children();
    std::string text;
    for (const xmlpp::Node* child : children) {
        if (const auto* content = dynamic_cast<const xmlpp::TextNode*>(child))
            text += content->get_content();
        else if (const auto* cdata = dynamic_cast<const xmlpp::CdataNode*>(child))
            text += cdata->get_content();
        else if (const auto* comment = dynamic_cast<const xmlpp::CommentNode*>(child))
            text += children.size() == 1 ? std::string(comment->get_content()) : std::string();
        else
            throw std::runtime_error("[XML_IO][get_element_text_ex] Error extraction value : " + element->get_name() +
                                     " => holds the " + (as_element(child) != nullptr ? "element" : "node") + " '" +
                                     child->get_name() + "'!");
    }
    return text;
}

template <typename T>
T XML_IO::get_element_value_ex(const std::string& path, Manipulator manip, const xmlpp::Node* node) const
{
    return extract<T>(get_element_value_ch_ex(path, manip, node), manip);
}

// The whole text, blanks included.
template <>
std::string XML_IO::get_element_value_ex<std::string>(const std::string& path, Manipulator manip,
                                                      const xmlpp::Node* node) const
{
    return get_element_value_ch_ex(path, manip, node);
}

// An element without text gives the value of empty text (0, or "").
template <typename T>
std::list<T> XML_IO::get_elements_values_ex(const std::string& path, Manipulator manip, const xmlpp::Node* node) const
{
    std::list<T> values;
    for (const xmlpp::Node* found : find_ex(path, node)) {
        const xmlpp::Element* element = as_element(found);
        const xmlpp::TextNode* text = element != nullptr ? element->get_child_text() : nullptr;
        values.push_back(extract<T>(text != nullptr ? std::string(text->get_content()) : std::string(), manip));
    }
    return values;
}

template <typename T>
void XML_IO::set_element_value_ex(const T& value, xmlpp::Element* element, Manipulator) const
{
    const std::string text = attribute_text(value);
    if (xmlpp::TextNode* child = element->get_child_text())
        child->set_content(text);
    else
        element->add_child_text(text);
}

std::vector<unsigned char> XML_IO::get_element_hex_byte_array_value_ex(const std::string& path, const xmlpp::Node* node,
                                                                       Endianess endianess) const
{
    const xmlpp::Element* element = as_element(get_node_ex(path, node));
    if (element == nullptr)
        throw std::runtime_error("Node not recognized!");
    const xmlpp::TextNode* child = element->get_child_text();
    if (child == nullptr)
        return {};
    const std::string text = child->get_content();
    const std::size_t count = text.size() / 2;
    std::vector<unsigned char> bytes(count, 0);
    std::size_t pos = 0;
    for (std::size_t k = 0; k < count; ++k) {
        const std::size_t index = endianess == BIG_ENDIAN_FORMAT ? count - 1 - k : k;
        bytes[index] = next_hex_pair(text, pos);
    }
    return bytes;
}

// ---- attributes ----------------------------------------------------------

std::map<std::string, std::string> XML_IO::get_element_properties(const xmlpp::Node* element) const
{
    std::map<std::string, std::string> properties;
    if (const xmlpp::Element* e = as_element(element)) {
        for (const xmlpp::Attribute* attribute : e->get_attributes())
            properties[attribute->get_name()] = attribute->get_value();
    }
    return properties;
}

std::map<std::string, std::string> XML_IO::get_element_properties_ex(const std::string& path,
                                                                     const xmlpp::Node* node) const
{
    return get_element_properties(get_node_ex(path, node));
}

bool XML_IO::has_property(const std::string& name, const xmlpp::Node* element) const
{
    const xmlpp::Element* e = as_element(element);
    return e != nullptr && e->get_attribute(name) != nullptr;
}

bool XML_IO::has_property(const std::string& name, const std::string& path, const xmlpp::Node* node) const
{
    return has_property(name, get_node_ex(path, node));
}

bool XML_IO::assert_has_property_ex(const std::string& name, const std::string& path, const xmlpp::Node* node) const
{
    if (!has_property(name, path, node))
        throw std::runtime_error("Error property : " + name + " => not present in " + path + "!");
    return false;
}

bool XML_IO::assert_has_property_ex(const std::string& name, const xmlpp::Node* element) const
{
    if (!has_property(name, element))
        throw std::runtime_error("Error property : " + name + " => not present!");
    return false;
}

template <typename T>
T XML_IO::get_element_property_ex(const std::string& name, Manipulator manip, const xmlpp::Node* node) const
{
    const xmlpp::Node* context = context_ex(node);
    const xmlpp::Element* element = as_element(context);
    const xmlpp::Attribute* attribute = element != nullptr ? element->get_attribute(name) : nullptr;
    if (attribute == nullptr)
        throw std::runtime_error("Property :" + name + " not present in node : " + std::string(context->get_name()));
    return extract<T>(attribute->get_value(), manip);
}

template <typename T>
void XML_IO::set_attribute_value_ex(const std::string& name, const T& value, xmlpp::Element* element) const
{
    const std::string text = attribute_text(value);
    for (xmlpp::Attribute* attribute : element->get_attributes()) {
        if (attribute->get_name() == name)
            attribute->set_value(text);
    }
}

// ---- instances -----------------------------------------------------------

template int XML_IO::get_element_value_ex<int>(const std::string&, Manipulator, const xmlpp::Node*) const;
template unsigned int XML_IO::get_element_value_ex<unsigned int>(const std::string&, Manipulator,
                                                                 const xmlpp::Node*) const;
template unsigned short XML_IO::get_element_value_ex<unsigned short>(const std::string&, Manipulator,
                                                                     const xmlpp::Node*) const;
template unsigned long long XML_IO::get_element_value_ex<unsigned long long>(const std::string&, Manipulator,
                                                                             const xmlpp::Node*) const;
template bool XML_IO::get_element_value_ex<bool>(const std::string&, Manipulator, const xmlpp::Node*) const;

template std::list<int> XML_IO::get_elements_values_ex<int>(const std::string&, Manipulator, const xmlpp::Node*) const;
template std::list<unsigned int> XML_IO::get_elements_values_ex<unsigned int>(const std::string&, Manipulator,
                                                                              const xmlpp::Node*) const;
template std::list<std::string> XML_IO::get_elements_values_ex<std::string>(const std::string&, Manipulator,
                                                                            const xmlpp::Node*) const;

template void XML_IO::set_element_value_ex<std::string>(const std::string&, xmlpp::Element*, Manipulator) const;

template std::string XML_IO::get_element_property_ex<std::string>(const std::string&, Manipulator,
                                                                  const xmlpp::Node*) const;
template int XML_IO::get_element_property_ex<int>(const std::string&, Manipulator, const xmlpp::Node*) const;
template short XML_IO::get_element_property_ex<short>(const std::string&, Manipulator, const xmlpp::Node*) const;
template unsigned short XML_IO::get_element_property_ex<unsigned short>(const std::string&, Manipulator,
                                                                        const xmlpp::Node*) const;
template unsigned int XML_IO::get_element_property_ex<unsigned int>(const std::string&, Manipulator,
                                                                    const xmlpp::Node*) const;
template long long XML_IO::get_element_property_ex<long long>(const std::string&, Manipulator,
                                                              const xmlpp::Node*) const;
template unsigned long long XML_IO::get_element_property_ex<unsigned long long>(const std::string&, Manipulator,
                                                                                const xmlpp::Node*) const;
template float XML_IO::get_element_property_ex<float>(const std::string&, Manipulator, const xmlpp::Node*) const;
template double XML_IO::get_element_property_ex<double>(const std::string&, Manipulator, const xmlpp::Node*) const;
template bool XML_IO::get_element_property_ex<bool>(const std::string&, Manipulator, const xmlpp::Node*) const;

template void XML_IO::set_attribute_value_ex<int>(const std::string&, const int&, xmlpp::Element*) const;
template void XML_IO::set_attribute_value_ex<signed char>(const std::string&, const signed char&,
                                                          xmlpp::Element*) const;
template void XML_IO::set_attribute_value_ex<unsigned char>(const std::string&, const unsigned char&,
                                                            xmlpp::Element*) const;
template void XML_IO::set_attribute_value_ex<short>(const std::string&, const short&, xmlpp::Element*) const;
template void XML_IO::set_attribute_value_ex<unsigned short>(const std::string&, const unsigned short&,
                                                             xmlpp::Element*) const;
template void XML_IO::set_attribute_value_ex<unsigned int>(const std::string&, const unsigned int&,
                                                           xmlpp::Element*) const;
template void XML_IO::set_attribute_value_ex<long long>(const std::string&, const long long&, xmlpp::Element*) const;
template void XML_IO::set_attribute_value_ex<unsigned long long>(const std::string&, const unsigned long long&,
                                                                 xmlpp::Element*) const;
template void XML_IO::set_attribute_value_ex<float>(const std::string&, const float&, xmlpp::Element*) const;
template void XML_IO::set_attribute_value_ex<double>(const std::string&, const double&, xmlpp::Element*) const;
template void XML_IO::set_attribute_value_ex<std::string>(const std::string&, const std::string&,
                                                          xmlpp::Element*) const;

}  // namespace XELO_XML
