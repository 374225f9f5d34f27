#pragma once

#include <memory>
#include <vector>

#include "fab_descriptors.h"
#include "xelo_xml_parser.h"

// Builds IO_Descriptor records for tests: each starts as a plain virtual
// uint8 read from a one-entry document and is then set field by field.
class Io_Record_Factory {
public:
    Io_Record_Factory();
    IO_Descriptor& make();

private:
    XELO_XML::XML_IO m_xml;
    std::vector<std::unique_ptr<IO_Descriptor>> m_records;
};
