#pragma once

#include <cstdint>
#include <functional>

#include "framework_shared_memory.h"

// Serves the save request of the info record: a client marks output records
// (their has_to_save) and raises has_to_save of the info record, both under
// the info mutex. While the request is raised, one pass runs save, which
// takes over and clears the marks of the records from first_output on and
// writes the descriptor files. The request is lowered, under the info mutex,
// only when no record from first_output on is marked any more: a record
// marked while a pass ran is saved by one more pass, never dropped.
// Returns the number of passes (0 when nothing was requested); exceptions of
// save and of the mutex pass to the caller with the request still raised.
int serve_save_request_ex(Shared_Info_Struct* info, const Shared_Application_Data_Struct* outputs, uint32_t outputs_num,
                          uint32_t first_output, const std::function<void()>& save);
