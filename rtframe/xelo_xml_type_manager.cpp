#include "xelo_xml_type_manager.h"

#include <stdexcept>

#include "xelo_log.h"
#include "xelo_string_functions.h"

std::string Xml_Section_Traits<IO_Descriptor>::label_ex(IO_Descriptor::IO_Type kind)
{
    switch (kind) {
    case IO_Descriptor::OUTPUT: return "output";
    case IO_Descriptor::INPUT: return "input";
    case IO_Descriptor::VIRTUAL: return "virtual_io";
    }
    throw std::runtime_error("[Xml_IO_Manager][add_elements] invalid type :: " +
                             XELO_String_Functions::num2str(static_cast<int>(kind)));
}

std::string Xml_Section_Traits<Async_IO_Descriptor>::label_ex(Async_IO_Descriptor::SDO_Type kind)
{
    switch (kind) {
    case Async_IO_Descriptor::OUTPUT: return "async_output";
    case Async_IO_Descriptor::INPUT: return "async_input";
    case Async_IO_Descriptor::EMCY: return "async_emcy";
    }
    throw std::runtime_error("[Xml_Async_IO_Manager][add_elements] invalid type :: " +
                             XELO_String_Functions::num2str(static_cast<int>(kind)));
}

void log_section_missing(const std::string& reader, const std::string& label)
{
    log_war(reader + "No " + label + " found ");
}

void log_section_adding(const std::string& reader, const std::string& label)
{
    log_inf(reader + "adding " + label + " elements..");
}
