#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Keeps the process's pages in memory, as its real-time threads need: every
// page now and later (mlockall with MCL_CURRENT and MCL_FUTURE); 0, or -1
// with errno. Under AddressSanitizer or ThreadSanitizer, whose shadow memory
// (terabytes, reserved) cannot be locked and whose runtime turns mlockall
// into a no-op, the code of the process (its code_mappings()) is locked
// instead, so that a path first taken late does not wait for the disk.
int lock_process_memory();

// One executable mapping of a file, as /proc/self/maps lists it.
struct Code_Mapping {
    uintptr_t start = 0;
    uintptr_t end = 0;
    std::string path;
};

// The process's executable mappings of files, in address order.
std::vector<Code_Mapping> code_mappings();
