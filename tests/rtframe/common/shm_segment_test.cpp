#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

#include "framework_shm_segment.h"
#include "thrown_text.h"

// Each case runs with its own private /dev/shm.
namespace {
void create_segment(const char* name, off_t size)
{
    const int fd = shm_open(name, O_RDWR | O_CREAT, 0600);
    ASSERT_NE(fd, -1);
    ASSERT_EQ(ftruncate(fd, size), 0);
    close(fd);
}

off_t segment_size(const char* name)
{
    const int fd = shm_open(name, O_RDONLY, 0);
    struct stat st {};
    fstat(fd, &st);
    close(fd);
    return st.st_size;
}

}  // namespace

TEST(Segment_Opener, MapsAnExistingSegmentOfTheExpectedSize)
{
    create_segment("/linux_framework_cyclic_sems", 3 * sizeof(Shared_Sem_Struct));
    Shared_Memory_Info info;
    Shared_Sem_Struct* sems = nullptr;
    open_and_connect_memory_ex(&info, &sems, "/linux_framework_cyclic_sems", 3);
    ASSERT_NE(info.fd, -1);
    EXPECT_EQ(info.status, 0);
    sems[2].watchdog_max_value = 1000;

    Shared_Memory_Info second;
    Shared_Sem_Struct* again = nullptr;
    open_and_connect_memory_ex(&second, &again, "/linux_framework_cyclic_sems", 3);
    EXPECT_EQ(again[2].watchdog_max_value, 1000);  // the same memory

    close_memory(&info, sems, 3 * sizeof(Shared_Sem_Struct));
    close_memory(&second, again, 3 * sizeof(Shared_Sem_Struct));
    EXPECT_EQ(info.fd, -1);
    close_memory(&info, sems, 3 * sizeof(Shared_Sem_Struct));  // detached: nothing to do
}

TEST(Segment_Opener, MissingSegment)
{
    Shared_Memory_Info info;
    Shared_Info_Struct* ptr = nullptr;
    testing::internal::CaptureStdout();
    const std::string text = thrown_text([&] { open_and_connect_memory_ex(&info, &ptr, "/linux_framework_info", 1); });
    const std::string log = testing::internal::GetCapturedStdout();
    EXPECT_EQ(text, std::string("Failed to shmem_open ") + std::strerror(ENOENT));
    EXPECT_NE(log.find("errno :: " + std::to_string(ENOENT)), std::string::npos) << log;
    EXPECT_EQ(info.fd, -1);
}

TEST(Segment_Opener, SizeMismatchIsRefusedAndTheSegmentKeepsItsSize)
{
    const off_t server_size = 4 * sizeof(Shared_Application_Data_Struct);
    for (int client_count : {3, 5}) {
        create_segment("/linux_framework_app_input_data", server_size);
        Shared_Memory_Info info;
        Shared_Application_Data_Struct* ptr = nullptr;
        const std::string text = thrown_text(
            [&] { open_and_connect_memory_ex(&info, &ptr, "/linux_framework_app_input_data", client_count); });
        EXPECT_NE(text.find("Failed to shmem_size /linux_framework_app_input_data"), std::string::npos) << text;
        EXPECT_NE(text.find(std::to_string(server_size)), std::string::npos) << text;
        EXPECT_EQ(segment_size("/linux_framework_app_input_data"), server_size);
        close_memory(&info, nullptr, 0);
    }
}

TEST(Segment_Opener, OversizedCountIsRefused)
{
    create_segment("/linux_framework_cyclic_inputs", 16);
    Shared_Memory_Info info;
    Shared_Application_Data_Struct* ptr = nullptr;
    for (int count : {-1, 2000000}) {
        const std::string text =
            thrown_text([&] { open_and_connect_memory_ex(&info, &ptr, "/linux_framework_cyclic_inputs", count); });
        EXPECT_NE(text.find("Failed to shmem_size"), std::string::npos) << text;
        close_memory(&info, nullptr, 0);
    }
}
