// Whether the framework run that this process attached to has ended.

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include "xelo_framework_shm_manager.h"

namespace {
uint64_t monotonic_ns()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<uint64_t>(now.tv_sec) * 1000000000ULL + static_cast<uint64_t>(now.tv_nsec);
}
}  // namespace

void Framework_Shared_Memory_Manager::note_exchange()
{
    m_last_exchange_ns.store(monotonic_ns(), std::memory_order_relaxed);
}

// The name of the info segment no longer leads to the object mapped at the
// attach: a new run created its own, or the run removed it.
bool Framework_Shared_Memory_Manager::info_segment_replaced() const
{
    struct stat mapped {};
    if (m_shm_info.shm_info.fd == -1 || fstat(m_shm_info.shm_info.fd, &mapped) != 0)
        return false;
    const int fd = shm_open(framework_names::INFO, O_RDONLY | O_CLOEXEC, 0600);
    if (fd == -1)
        return true;
    struct stat named {};
    const bool same = fstat(fd, &named) == 0 && named.st_dev == mapped.st_dev && named.st_ino == mapped.st_ino;
    close(fd);
    return !same;
}

bool Framework_Shared_Memory_Manager::attached_run_ended() const
{
    if (!m_init_done)
        return false;
    if (attached_run_stopped() || info_segment_replaced())
        return true;
    return monotonic_ns() - m_last_exchange_ns.load(std::memory_order_relaxed) > RUN_SILENCE_LIMIT_NS;
}
