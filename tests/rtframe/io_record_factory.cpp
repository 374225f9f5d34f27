#include "io_record_factory.h"

#include <fstream>
#include <string>

Io_Record_Factory::Io_Record_Factory()
{
    const std::string path = "/tmp/io_record_factory.xml";
    std::ofstream(path)
        << R"(<d><virtual_io name_virtual="x" type="uint8" group_id="-1" is_ro="0" is_negated="0"/></d>)";
    m_xml.load_ex(path);
}

IO_Descriptor& Io_Record_Factory::make()
{
    m_records.push_back(
        std::make_unique<IO_Descriptor>(m_xml, m_xml.get_node_ex("virtual_io"), IO_Descriptor::VIRTUAL));
    return *m_records.back();
}
