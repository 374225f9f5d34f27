// A shared-memory segment mapped read-only as a record, the way a client of
// the programs under test sees it.
#pragma once

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <stdexcept>
#include <string>

template <typename Record>
class Read_Only_Segment {
public:
    explicit Read_Only_Segment(const std::string& name)
    {
        const int fd = shm_open(name.c_str(), O_RDONLY, 0);
        if (fd < 0)
            throw std::runtime_error("no segment " + name);
        void* p = mmap(nullptr, sizeof(Record), PROT_READ, MAP_SHARED, fd, 0);
        close(fd);
        if (p == MAP_FAILED)
            throw std::runtime_error("cannot map the segment " + name);
        m_record = static_cast<const Record*>(p);
    }
    ~Read_Only_Segment() { munmap(const_cast<Record*>(m_record), sizeof(Record)); }
    Read_Only_Segment(const Read_Only_Segment&) = delete;
    Read_Only_Segment& operator=(const Read_Only_Segment&) = delete;
    const Record& operator*() const { return *m_record; }
    const Record* operator->() const { return m_record; }

private:
    const Record* m_record = nullptr;
};
