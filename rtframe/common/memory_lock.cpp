#include "memory_lock.h"

#include <sys/mman.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

std::vector<Code_Mapping> code_mappings()
{
    std::vector<Code_Mapping> mappings;
    std::ifstream maps("/proc/self/maps");
    for (std::string line; std::getline(maps, line);) {
        std::istringstream fields(line);
        std::string range, permissions, offset, device, inode, path;
        fields >> range >> permissions >> offset >> device >> inode >> path;
        if (permissions.size() < 3 || permissions[2] != 'x' || path.empty() || path[0] != '/')
            continue;
        const std::size_t dash = range.find('-');
        mappings.push_back({static_cast<uintptr_t>(std::stoull(range.substr(0, dash), nullptr, 16)),
                            static_cast<uintptr_t>(std::stoull(range.substr(dash + 1), nullptr, 16)), path});
    }
    return mappings;
}

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
int lock_process_memory()
{
    int result = 0;
    for (const Code_Mapping& code : code_mappings()) {
        // The raw system call: the sanitizer's mlock does nothing either.
        if (syscall(SYS_mlock, reinterpret_cast<void*>(code.start), code.end - code.start) != 0)
            result = -1;
    }
    return result;
}
#else
int lock_process_memory()
{
    return mlockall(MCL_CURRENT | MCL_FUTURE);
}
#endif
