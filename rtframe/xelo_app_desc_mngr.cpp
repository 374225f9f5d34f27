#include "xelo_app_desc_mngr.h"

#include <utility>

#include "xelo_log.h"

Application_Descriptor_Mngr::Application_Descriptor_Mngr(std::string path, IO_Descriptor_List* outputs,
                                                         IO_Descriptor_List* inputs, IO_Descriptor_List* virtual_ios,
                                                         Async_IO_Descriptor_List* async_outputs,
                                                         Async_IO_Descriptor_List* async_inputs,
                                                         Data_Semaphore_Group_List* sem_data_groups)
    : xml_path(std::move(path)), outputs_vector_ptr(outputs), inputs_vector_ptr(inputs),
      virtual_ios_vector_ptr(virtual_ios), async_outputs_vector_ptr(async_outputs),
      async_inputs_vector_ptr(async_inputs), sem_data_groups_vector_ptr(sem_data_groups),
      xml_outputs_manager(&xml_reader, "outputs", "output", IO_Descriptor::OUTPUT, outputs),
      xml_inputs_manager(&xml_reader, "inputs", "input", IO_Descriptor::INPUT, inputs),
      xml_virtuals_manager(&xml_reader, "virtual_ios", "virtual_io", IO_Descriptor::VIRTUAL, virtual_ios),
      xml_async_outputs_manager(&xml_reader, "async_outputs", "async_output", Async_IO_Descriptor::OUTPUT,
                                async_outputs),
      xml_async_inputs_manager(&xml_reader, "async_inputs", "async_input", Async_IO_Descriptor::INPUT, async_inputs),
      xml_sem_data_groups_manager(&xml_reader, "sem_data_group", "sem", 0, sem_data_groups)
{
}

void Application_Descriptor_Mngr::parse_ex()
{
    xml_reader.load_ex(xml_path);
    m_is_parsed = true;
}

void Application_Descriptor_Mngr::init()
{
    log_inf("[Application_Descriptor_Mngr][init] Loading " + xml_path + " data");
    if (!m_is_parsed)
        parse_ex();
    xml_outputs_manager.init();
    xml_inputs_manager.init();
    xml_virtuals_manager.init();
    xml_async_outputs_manager.init();
    xml_async_inputs_manager.init();
    xml_sem_data_groups_manager.init();
}
