#pragma once

#include <string>
#include <vector>

#include "framework_shared_memory.h"
#include "framework_shm_holders.h"

// A test's own mapping of the running server's data groups: the group
// records, each group's semaphore rows and data, to look at what no library
// call shows (writer, marks and flags, pending wake-ups, published bytes).
class Group_View {
public:
    Group_View();
    ~Group_View();
    Group_View(const Group_View&) = delete;
    Group_View& operator=(const Group_View&) = delete;

    Shared_Sem_Data_Group_Struct& group(const std::string& name);
    Shared_Sem_Data_Group_Sem_Struct& row(const std::string& name, int application_number);
    int semaphore_value(const std::string& name, int application_number);
    const uint8_t* data(const std::string& name);

private:
    int index_of(const std::string& name) const;
    std::size_t data_bytes(int g) const;

    Shared_Info_Ptr m_info;
    Shared_Sem_Data_Group m_groups;
    int m_count = 0;
    int m_slots = 0;
};
