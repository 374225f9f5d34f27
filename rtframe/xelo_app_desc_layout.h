#pragma once

#include <cstdint>

#include "xelo_app_desc_mngr.h"

// Places the variables of the framework's virtual area and the members of
// the data groups, and builds the framework's inputs and outputs lists.
// Every variable takes whole bytes and follows the previous one without gap.

// Master-offline mode: every slave input and output moves into the virtual
// area (inputs from the last one, then outputs in order); afterwards both
// lists hold the inputs followed by the outputs. xml_inputs_num receives the
// number of slave inputs.
void move_slave_variables_to_virtual_area_ex(IO_Descriptor_List& inputs, IO_Descriptor_List& outputs, int32_t& offset,
                                             int32_t& xml_inputs_num);

// Writable plain virtual variables first, then read-only ones, then aliases
// (which take no room); each is appended to the lists it can be read from or
// written through.
void lay_out_virtual_area_ex(IO_Descriptor_List& virtuals, IO_Descriptor_List& inputs, IO_Descriptor_List& outputs,
                             int32_t& offset, bool master_offline);

// Members of each group from offset 0, in their order.
void lay_out_sem_data_groups_ex(const Data_Semaphore_Group_List& groups);
