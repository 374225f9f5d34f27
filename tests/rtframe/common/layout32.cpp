// Compiled by the test suite with -m32 and for arm-linux-gnueabihf: the shared
// records must have exactly the sizes of the 32-bit ARM target.
#include "framework_shared_memory.h"
#include "xelo_queue.h"

static_assert(__SIZEOF_POINTER__ == 4, "this unit is meant for a 32-bit build");
static_assert(sizeof(Shared_Info_Struct) == 5084, "");
static_assert(sizeof(Shared_Sem_Struct) == 40, "");
static_assert(sizeof(Shared_Application_Data_Struct) == 1129, "");
static_assert(sizeof(Shared_Async_Input_Data_From_Framework) == 529, "");
static_assert(sizeof(Shared_Async_Input_Data_To_Framework) == 1, "");
static_assert(sizeof(Shared_Async_Output_Data_From_Framework) == 522, "");
static_assert(sizeof(Shared_Async_Output_Data_To_Framework) == 13, "");
static_assert(sizeof(Shared_Sem_Data_Group_Struct) == 172, "");
static_assert(sizeof(Shared_Sem_Data_Group_Sem_Struct) == 24, "");
static_assert(sizeof(Shared_Sem_Data_Group_Data_Info) == 616, "");
static_assert(sizeof(Posix_Queue_Msg) == 20, "");
static_assert(sizeof(pthread_mutex_t) == 24 && sizeof(sem_t) == 16 && sizeof(Shared_Timespec) == 8, "");
static_assert(offsetof(Shared_Info_Struct, master_cycle_time) == 24, "");
static_assert(offsetof(Shared_Info_Struct, ready_to_start) == 68, "");
static_assert(offsetof(Shared_Info_Struct, project_version_major) == 76, "");
static_assert(offsetof(Shared_Info_Struct, app_names) == 84, "");
static_assert(offsetof(Shared_Sem_Struct, start_value) == 16, "");
static_assert(offsetof(Shared_Sem_Struct, is_assigned) == 32, "");
static_assert(offsetof(Shared_Sem_Struct, framework_absolute_tick_number) == 36, "");
static_assert(offsetof(Shared_Sem_Data_Group_Struct, mutex) == 148, "");
static_assert(offsetof(Shared_Sem_Data_Group_Sem_Struct, application_id) == 16, "");
static_assert(offsetof(Shared_Sem_Data_Group_Sem_Struct, application_has_been_released) == 20, "");
