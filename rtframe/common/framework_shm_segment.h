#pragma once

#include <string>

#include "framework_shared_memory.h"

// Client side of a framework segment: opens the existing segment rt_name,
// checks that it holds exactly record_size x memory_mult_size bytes and maps
// it. A client never creates or resizes a segment: one of another layout is
// refused instead of being shrunk under the server. Throws std::runtime_error.
void* open_and_connect_memory_bytes_ex(Shared_Memory_Info* shm_info, const std::string& rt_name, int memory_mult_size,
                                       std::size_t record_size);

template <typename T>
void open_and_connect_memory_ex(Shared_Memory_Info* shm_info, T** shm_ptr, const std::string& rt_name,
                                int memory_mult_size)
{
    *shm_ptr = static_cast<T*>(open_and_connect_memory_bytes_ex(shm_info, rt_name, memory_mult_size, sizeof(T)));
}

// Unmaps and closes one segment; nothing when fd is -1. Marks it detached.
void close_memory(Shared_Memory_Info* shm_info, void* ptr, std::size_t byte_size);
