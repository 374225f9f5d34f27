#include "framework_shm_segment.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <limits>
#include <stdexcept>

#include "xelo_log.h"

namespace {
[[noreturn]] void fail(const std::string& what, int err)
{
    log_inf("errno :: " + std::to_string(err));
    throw std::runtime_error(what + std::strerror(err));
}
}  // namespace

void* open_and_connect_memory_bytes_ex(Shared_Memory_Info* shm_info, const std::string& rt_name, int memory_mult_size,
                                       std::size_t record_size)
{
    shm_info->fd = -1;
    log_inf("\t " + rt_name);
    shm_info->fd = shm_open(rt_name.c_str(), O_RDWR, 0600);
    if (shm_info->fd == -1)
        fail("Failed to shmem_open ", errno);
    log_inf("\t fd: " + std::to_string(shm_info->fd));

    const int64_t size = static_cast<int64_t>(memory_mult_size) * static_cast<int64_t>(record_size);
    if (memory_mult_size < 0 || size > std::numeric_limits<int32_t>::max())
        throw std::runtime_error("Failed to shmem_size " + rt_name + " :: " + std::to_string(memory_mult_size) +
                                 " records of " + std::to_string(record_size) + " bytes do not fit a segment");

    struct stat st {};
    shm_info->status = fstat(shm_info->fd, &st);
    if (shm_info->status == -1)
        fail("Failed to shmem_fstat ", errno);
    if (st.st_size != size)
        throw std::runtime_error("Failed to shmem_size " + rt_name + " :: the segment holds " +
                                 std::to_string(st.st_size) + " bytes, this client expects " + std::to_string(size) +
                                 " (server and client built for different record layouts?)");

    void* ptr = mmap(nullptr, static_cast<std::size_t>(size), PROT_READ | PROT_WRITE, MAP_SHARED, shm_info->fd, 0);
    if (ptr == MAP_FAILED)
        fail("Failed to shmem_pdo_mmap -> ", errno);
    return ptr;
}

void close_memory(Shared_Memory_Info* shm_info, void* ptr, std::size_t byte_size)
{
    if (shm_info->fd == -1)
        return;
    if (ptr != nullptr && ptr != MAP_FAILED && byte_size != 0)
        munmap(ptr, byte_size);
    close(shm_info->fd);
    shm_info->fd = -1;
}
