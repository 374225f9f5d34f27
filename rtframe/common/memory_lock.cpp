#include "memory_lock.h"

#include <sys/mman.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <fstream>
#include <sstream>
#include <string>

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
namespace {
// The raw system call: the sanitizer's mlock is a no-op too.
int lock_range(uintptr_t start, uintptr_t end)
{
    return static_cast<int>(syscall(SYS_mlock, reinterpret_cast<void*>(start), end - start));
}
}  // namespace

int lock_process_memory()
{
    std::ifstream maps("/proc/self/maps");
    if (!maps) {
        errno = ENOENT;
        return -1;
    }
    int result = 0;
    for (std::string line; std::getline(maps, line);) {
        std::istringstream fields(line);
        std::string range, permissions, offset, device, inode, path;
        fields >> range >> permissions >> offset >> device >> inode >> path;
        if (permissions.size() < 3 || permissions[2] != 'x' || path.empty() || path[0] != '/')
            continue;
        const std::size_t dash = range.find('-');
        const uintptr_t start = std::stoull(range.substr(0, dash), nullptr, 16);
        const uintptr_t end = std::stoull(range.substr(dash + 1), nullptr, 16);
        if (lock_range(start, end) != 0)
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
