#include "rtframe_child.h"

#include <sstream>

#include "framework_shared_memory.h"

namespace {
Child_Process::Probe framework_ready()
{
    return probe::segment(framework_names::INFO, sizeof(Shared_Info_Struct), [](const void* info) {
        return __atomic_load_n(&static_cast<const Shared_Info_Struct*>(info)->ready_to_start, __ATOMIC_ACQUIRE) == 1;
    });
}
}  // namespace

Rtframe_Child::Rtframe_Child(const std::vector<std::string>& arguments, const std::string& log_path)
    : m_child(RTFRAME_BINARY, arguments, log_path)
{
}

bool Rtframe_Child::wait_until_ready(std::chrono::milliseconds timeout) const
{
    return m_child.wait_ready(framework_ready(), timeout) == Child_Process::Readiness::READY;
}

void Rtframe_Child::wait_ready_ex(std::chrono::milliseconds timeout) const
{
    m_child.wait_ready_ex(framework_ready(), timeout);
}

std::vector<std::string> offline_server_arguments(const std::string& descriptor_path)
{
    return {"-o", "-s", "-c", descriptor_path};
}

int error_lines(const std::string& log)
{
    int count = 0;
    std::istringstream lines(log);
    for (std::string line; std::getline(lines, line);)
        count += line.find("ERR]") != std::string::npos &&
                 line.find("queue, name :: /linux_framework_queue") == std::string::npos;
    return count;
}
