#include <gtest/gtest.h>

#include <dirent.h>
#include <sys/stat.h>

#include <fstream>
#include <string>

#include "descriptor_templates.h"
#include "in_process_framework.h"
#include "thin_client.h"

namespace {
int entries_of(const char* dir_path)
{
    DIR* dir = opendir(dir_path);
    int count = 0;
    while (dirent* entry = readdir(dir))
        count += entry->d_name[0] != '.';
    closedir(dir);
    return count;
}

int framework_mappings()
{
    std::ifstream maps("/proc/self/maps");
    int count = 0;
    for (std::string line; std::getline(maps, line);)
        count += line.find("/dev/shm/linux_framework") != std::string::npos;
    return count;
}

struct Process_Counts {
    int threads = entries_of("/proc/self/task");
    int descriptors = entries_of("/proc/self/fd");
    int mappings = framework_mappings();
};

// One pass of the restart loop run in this process. A pass either runs until
// a stop request (raised once its clients could attach) or ends by itself
// because a segment cannot be created (a directory stands in its way).
void run_pass(const std::string& descriptor, bool fail_in_segments)
{
    const std::string blocker = "/dev/shm/linux_framework_async_mutex";
    if (fail_in_segments)
        mkdir(blocker.c_str(), 0700);
    else
        rmdir(blocker.c_str());
    In_Process_Framework pass(descriptor);
    if (fail_in_segments) {
        EXPECT_TRUE(pass.wait_ended(std::chrono::seconds(20)));
    } else {
        EXPECT_TRUE(Thin_Client::wait_until_ready(std::chrono::seconds(20)));
    }
}

TEST(Rtframe_Restart_Passes, FiftyPassesLeaveNoThreadDescriptorOrMappingBehind)
{
    const std::string descriptor = install_descriptor("basic.xml", "/tmp/cell");
    run_pass(descriptor, false);  // first use of the process-wide parts
    run_pass(descriptor, true);
    const Process_Counts before;
    for (int pass = 0; pass < 50; ++pass) {
        const bool fail = pass % 2 == 1;
        run_pass(descriptor, fail);
        ASSERT_EQ(framework_mappings(), 0) << "pass " << pass;
        struct stat st {};
        ASSERT_NE(stat("/dev/shm/linux_framework_info", &st), 0) << "pass " << pass << " left its info segment";
    }
    rmdir("/dev/shm/linux_framework_async_mutex");
    const Process_Counts after;
    EXPECT_EQ(after.threads, before.threads);
    EXPECT_EQ(after.descriptors, before.descriptors);
    EXPECT_EQ(after.mappings, 0);
}
}  // namespace
