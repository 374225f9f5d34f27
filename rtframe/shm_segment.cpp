#include "shm_segment.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <utility>

namespace {
std::string errno_text(int err)
{
    return " err :: " + std::to_string(err) + ", errstring :: " + std::strerror(err);
}
}  // namespace

Shm_Segment::Shm_Segment(std::string name, std::size_t byte_size) : m_name(std::move(name)), m_byte_size(byte_size)
{
    m_fd = shm_open(m_name.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (m_fd == -1)
        throw std::runtime_error("Failed to shmem_open --> " + errno_text(errno));
    m_status = ftruncate(m_fd, static_cast<off_t>(m_byte_size));
    if (m_status == -1) {
        const int err = errno;
        close(m_fd);
        throw std::runtime_error("Failed to shmem_ftruncate --> " + errno_text(err));
    }
    void* data = mmap(nullptr, m_byte_size, PROT_READ | PROT_WRITE, MAP_SHARED, m_fd, 0);
    if (data == MAP_FAILED) {
        const int err = errno;
        close(m_fd);
        throw std::runtime_error(std::string("Failed to shmem_mmap; ") + std::strerror(err));
    }
    m_data = data;
    // A segment left by an earlier run keeps its old bytes: start from zero.
    std::memset(m_data, 0, m_byte_size);
}

Shm_Segment::~Shm_Segment()
{
    munmap(m_data, m_byte_size);
    close(m_fd);
}

void Shm_Segment::unlink()
{
    shm_unlink(m_name.c_str());
}
