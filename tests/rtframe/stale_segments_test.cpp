#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstring>
#include <vector>

#include "running_rtframe.h"

namespace {
// A segment as a crashed run may leave it: any size, any bytes.
void leave_segment(const char* name, std::size_t size, uint8_t fill)
{
    const int fd = shm_open(name, O_RDWR | O_CREAT, 0600);
    ASSERT_NE(fd, -1);
    ASSERT_EQ(ftruncate(fd, static_cast<off_t>(size)), 0);
    void* data = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    ASSERT_NE(data, MAP_FAILED);
    std::memset(data, fill, size);
    munmap(data, size);
    close(fd);
}

uint32_t ready_to_start_of_info_segment()
{
    const int fd = shm_open("/linux_framework_info", O_RDONLY, 0);
    if (fd == -1)
        return 0xDEAD;
    void* data = mmap(nullptr, sizeof(Shared_Info_Struct), PROT_READ, MAP_SHARED, fd, 0);
    close(fd);
    const uint32_t ready = static_cast<const Shared_Info_Struct*>(data)->ready_to_start;
    munmap(data, sizeof(Shared_Info_Struct));
    return ready;
}

class Rtframe_Stale_Segments : public Running_Rtframe {};

TEST_F(Rtframe_Stale_Segments, AStaleReadyFlagIsLoweredBeforeAnythingElse)
{
    leave_segment("/linux_framework_info", sizeof(Shared_Info_Struct), 0x01);
    ASSERT_NE(ready_to_start_of_info_segment(), 0u);
    Rtframe_Child child({"-o", "-s", "-c", "/tmp/missing.xml"});  // a pass that fails at once
    EXPECT_EQ(child.wait_exit(), 0);
    EXPECT_EQ(ready_to_start_of_info_segment(), 0u);
}

TEST_F(Rtframe_Stale_Segments, StaleBytesNeverReachTheImagesOrTables)
{
    leave_segment("/linux_framework_cyclic_outputs", 4096, 0xFF);
    leave_segment("/linux_framework_cyclic_inputs", 7, 0xFF);
    leave_segment("/linux_framework_app_output_data", 3 * sizeof(Shared_Application_Data_Struct), 0xFF);
    leave_segment("/linux_framework_sem_data_group_datag1", 10, 0xFF);
    start("basic.xml");
    Thin_Client client;  // sizes match the new counts
    EXPECT_EQ(client.get_output<uint16_t>("drive_control"), 0x1234);
    EXPECT_EQ(client.get_output<uint64_t>("counter"), 7u);
    EXPECT_EQ(client.get_input<int32_t>("serial"), 42);
    const Shared_Application_Data_Struct& lamp = client.output_record("lamp_green");
    EXPECT_EQ(client.outputs()[lamp.byte_offs], 1) << "the other bits of a bit output's byte are 0, not stale";
    for (uint32_t i = 0; i < client.info().application_data_outputs_num; ++i) {
        EXPECT_EQ(client.output_table()[i].has_to_save, 0);
        EXPECT_EQ(client.output_table()[i].is_modified, 0);
    }
}
}  // namespace
