#pragma once

#include <string>
#include <vector>

#include "fab_descriptors.h"
#include "xelo_xml_parser.h"
#include "xelo_xml_type_manager.h"

using IO_Descriptor_List = std::vector<IO_Descriptor*>;
using Async_IO_Descriptor_List = std::vector<Async_IO_Descriptor*>;
using Data_Semaphore_Group_List = std::vector<Data_Semaphore_Group*>;

// Reads one descriptor file: parses it and appends the entries of its six
// sections to the shared lists. Owns its document and its section readers
// (and through them the records); the lists belong to the caller.
class Application_Descriptor_Mngr {
public:
    Application_Descriptor_Mngr(std::string xml_path, IO_Descriptor_List* outputs, IO_Descriptor_List* inputs,
                                IO_Descriptor_List* virtual_ios, Async_IO_Descriptor_List* async_outputs,
                                Async_IO_Descriptor_List* async_inputs, Data_Semaphore_Group_List* sem_data_groups);
    Application_Descriptor_Mngr(const Application_Descriptor_Mngr&) = delete;
    Application_Descriptor_Mngr& operator=(const Application_Descriptor_Mngr&) = delete;

    // Parses the file unless it already is, then reads the sections in order.
    void init();

    std::string xml_path;
    IO_Descriptor_List* outputs_vector_ptr;
    IO_Descriptor_List* inputs_vector_ptr;
    IO_Descriptor_List* virtual_ios_vector_ptr;
    Async_IO_Descriptor_List* async_outputs_vector_ptr;
    Async_IO_Descriptor_List* async_inputs_vector_ptr;
    Data_Semaphore_Group_List* sem_data_groups_vector_ptr;

    XELO_XML::XML_IO xml_reader;
    Xml_IO_Manager xml_outputs_manager;
    Xml_IO_Manager xml_inputs_manager;
    Xml_IO_Manager xml_virtuals_manager;
    Xml_Async_IO_Manager xml_async_outputs_manager;
    Xml_Async_IO_Manager xml_async_inputs_manager;
    Xml_Sem_Data_Group_Manager xml_sem_data_groups_manager;

protected:
    // Parses the file once; node pointers taken from the document stay valid
    // for the life of this object.
    void parse_ex();

private:
    bool m_is_parsed = false;
};
