#pragma once

// Handles of the framework segments as one process holds them: for each
// segment its Shared_Memory_Info (descriptor and sizing status, both -1 when
// not open) beside the typed address of the mapping. The server fills them
// when it creates the segments, a client when it attaches. The bundles only
// describe mappings; whoever fills them owns the mappings.

#include <pthread.h>

#include <cstdint>
#include <vector>

#include "framework_shared_memory.h"

struct Shared_Info_Ptr {
    Shared_Memory_Info shm_info;
    Shared_Info_Struct* ptr = nullptr;
};

struct Shared_Cyclic_Data_Ptrs {
    Shared_Memory_Info mutex_shm_info;
    pthread_mutex_t* mutex_ptr = nullptr;
    Shared_Memory_Info inputs_shm_info;
    uint8_t* inputs_ptr = nullptr;
    Shared_Memory_Info outputs_shm_info;
    uint8_t* outputs_ptr = nullptr;
    Shared_Memory_Info sems_shm_info;
    Shared_Sem_Struct* sems_ptr = nullptr;
};

struct Shared_Application_Data_Ptrs {
    Shared_Memory_Info mutex_shm_info;
    pthread_mutex_t* mutex_ptr = nullptr;
    Shared_Memory_Info app_data_shm_info;
    Shared_Application_Data_Struct* app_data_ptr = nullptr;
};

struct Shared_Async_Data_Ptrs {
    Shared_Memory_Info mutex_shm_info;
    pthread_mutex_t* mutex_ptr = nullptr;
    Shared_Memory_Info input_data_from_framework_shm_info;
    Shared_Async_Input_Data_From_Framework* input_data_from_framework_ptr = nullptr;
    Shared_Memory_Info input_data_to_framework_shm_info;
    Shared_Async_Input_Data_To_Framework* input_data_to_framework_ptr = nullptr;
    Shared_Memory_Info output_data_from_framework_shm_info;
    Shared_Async_Output_Data_From_Framework* output_data_from_framework_ptr = nullptr;
    Shared_Memory_Info output_data_to_framework_shm_info;
    Shared_Async_Output_Data_To_Framework* output_data_to_framework_ptr = nullptr;
};

// The group table and, per group (indexed by group id), its three segments.
struct Shared_Sem_Data_Group {
    Shared_Sem_Data_Group_Struct* share_sem_group_struct = nullptr;
    Shared_Memory_Info sem_data_group_struct_shm_info;
    std::vector<Shared_Sem_Data_Group_Sem_Struct*> semaphores;
    std::vector<Shared_Memory_Info> sem_data_group_struct_sem_shm_info;
    std::vector<Shared_Sem_Data_Group_Data_Info*> data_info;
    std::vector<Shared_Memory_Info> sem_data_group_struct_data_info_shm_info;
    std::vector<uint8_t*> data;
    std::vector<Shared_Memory_Info> sem_data_group_struct_data_shm_info;
};
