#pragma once

#include <cstdint>
#include <string>

#include "framework_shm_holders.h"
#include "xelo_app_desc_manager.h"

// Saving default values that clients changed back into the descriptor files:
// only outputs and virtual variables are ever written.

// The first output record whose default can be saved: 0, or in master-offline
// mode the number of slave inputs, which lead the outputs list there.
uint32_t first_saved_output_index(const Application_Descriptor_Manager& manager);

// Takes over the default of every output record marked has_to_save (under the
// output-table mutex), clears the marks, and writes each descriptor file that
// holds a changed default. Errors of the XML writer pass through.
void save_data_ex(Application_Descriptor_Manager& manager, Shared_Application_Data_Ptrs* outputs);

// One file: its virtual-I/O section, then its outputs section; the file is
// written (replaced whole) when either wrote a record. True when written.
bool save_descriptor_file_ex(Application_Descriptor_Mngr& file);

// Every record of the section with a changed default gets its element's
// "default_value" attribute rewritten. True when any was.
bool save_section_ex(Xml_IO_Manager& section);

bool save_information_ex(IO_Descriptor& record, const XELO_XML::XML_IO& xml_parser, xmlpp::Element* element);

// The "default_value" text that reads back to exactly the record's default:
// floating-point values in their shortest round-trip form, byte arrays whole.
// Throws "Type not valid for default value" for a type without defaults.
std::string default_value_attribute_text_ex(const IO_Descriptor& record);
