#pragma once
// Files and documents for the ENI reader's tests: a private directory,
// whole ENI documents assembled from their sections, and snippets loaded
// into an XML reader so that one model class can be built from its element.

#include <libxml++/libxml++.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>

#include "thrown_text.h"
#include "xelo_ethercat_cfg.h"
#include "xelo_xml_parser.h"

class Eni_Temp_Dir {
public:
    Eni_Temp_Dir()
    {
        char dir[] = "/tmp/eni_test_XXXXXX";
        if (mkdtemp(dir) == nullptr)
            throw std::runtime_error("mkdtemp failed");
        m_dir = dir;
    }
    ~Eni_Temp_Dir()
    {
        std::error_code ignored;
        std::filesystem::remove_all(m_dir, ignored);
    }
    Eni_Temp_Dir(const Eni_Temp_Dir&) = delete;
    Eni_Temp_Dir& operator=(const Eni_Temp_Dir&) = delete;

    std::string write(const std::string& name, const std::string& content) const
    {
        const std::string path = m_dir + "/" + name;
        std::ofstream(path) << content;
        return path;
    }
    const std::string& path() const { return m_dir; }

private:
    std::string m_dir;
};

inline std::string read_file(const std::string& path)
{
    std::ifstream in(path);
    if (!in)
        throw std::runtime_error("cannot read " + path);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// A complete ENI document with the given slaves, master init commands,
// cyclic frames and process image.
inline std::string eni_document(const std::string& slaves, const std::string& master_extra = "",
                                const std::string& cyclic = "", const std::string& image = "")
{
    return "<?xml version=\"1.0\"?>\n<EtherCATConfig><Config><Master><Info><Name>m</Name>"
           "<Destination>ffffffffffff</Destination><Source>000000000000</Source></Info>" +
           master_extra + "</Master>" + slaves + "<Cyclic>" + cyclic + "</Cyclic><ProcessImage>" + image +
           "</ProcessImage></Config></EtherCATConfig>\n";
}

// A slave whose Info is complete, with the given further children.
inline std::string eni_slave(const std::string& children, const std::string& vendor = "2")
{
    return "<Slave><Info><Name>s</Name><PhysAddr>1001</PhysAddr><AutoIncAddr>0</AutoIncAddr><Physics>YY</Physics>"
           "<VendorId>" +
           vendor + "</VendorId><ProductCode>1</ProductCode><RevisionNo>0</RevisionNo><SerialNo>0</SerialNo></Info>" +
           children + "</Slave>";
}

// One element loaded on its own; root() is that element.
class Eni_Snippet {
public:
    explicit Eni_Snippet(const std::string& xml_text)
    {
        m_xml.load_ex(m_dir.write("snippet.xml", "<?xml version=\"1.0\"?>\n" + xml_text));
    }
    const XELO_XML::XML_IO& xml() const { return m_xml; }
    const xmlpp::Node* root() const { return m_xml.get_node_ex("/*"); }

    template <typename T>
    T build() const
    {
        return T(m_xml, root());
    }

private:
    Eni_Temp_Dir m_dir;
    XELO_XML::XML_IO m_xml;
};

template <typename T>
std::string dump_of(const T& value)
{
    std::ostringstream out;
    out << value;
    return out.str();
}

inline std::string not_unique(const std::string& name)
{
    return "Error element : " + name + " => not present in the xml file or is not unique!";
}
