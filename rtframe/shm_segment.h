#pragma once

#include <cstddef>
#include <string>

// Server side of one framework segment: created (or opened again when a
// segment of that name is left over) with mode 0600, sized, zero-filled and
// mapped shared. The owner unmaps and closes it; only unlink() removes the
// name from the system. Failures throw std::runtime_error.
class Shm_Segment {
public:
    Shm_Segment(std::string name, std::size_t byte_size);
    ~Shm_Segment();
    Shm_Segment(const Shm_Segment&) = delete;
    Shm_Segment& operator=(const Shm_Segment&) = delete;

    void* data() const { return m_data; }
    std::size_t byte_size() const { return m_byte_size; }
    int fd() const { return m_fd; }
    int status() const { return m_status; }
    const std::string& name() const { return m_name; }

    // Removes the name; the mapping stays valid until the owner goes.
    void unlink();

private:
    std::string m_name;
    std::size_t m_byte_size;
    int m_fd = -1;
    int m_status = -1;
    void* m_data = nullptr;
};
