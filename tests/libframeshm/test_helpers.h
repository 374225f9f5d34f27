#pragma once

#include <dirent.h>

#include <fstream>
#include <stdexcept>
#include <string>

#include "thrown_text.h"

// Mappings of framework segments and open descriptors of this process.
inline int framework_mapping_count()
{
    std::ifstream maps("/proc/self/maps");
    int count = 0;
    for (std::string line; std::getline(maps, line);)
        if (line.find("/dev/shm/linux_framework") != std::string::npos)
            ++count;
    return count;
}

inline int open_descriptor_count()
{
    DIR* dir = opendir("/proc/self/fd");
    int count = 0;
    while (readdir(dir) != nullptr)
        ++count;
    closedir(dir);
    return count;
}
