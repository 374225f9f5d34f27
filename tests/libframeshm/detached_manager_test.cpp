#include <gtest/gtest.h>

#include <functional>
#include <vector>

#include "test_helpers.h"
#include "xelo_framework_shm_manager.h"

// A manager that is not attached (never, or no more after a failed attach)
// refuses every operation with an exception instead of touching memory.
TEST(Detached_Manager, RefusesEveryOperation)
{
    Framework_Shared_Memory_Manager never;
    Framework_Shared_Memory_Manager failed;
    EXPECT_EQ(thrown_text([&] { failed.init_with_h_compatibility_check_ex("app", 4, 1); }),
              std::string("Failed to shmem_open ") + std::strerror(ENOENT));
    EXPECT_EQ(failed.get_application_number(), -1);

    uint8_t bytes[4] = {};
    struct Case {
        const char* name;
        std::function<void(Framework_Shared_Memory_Manager&)> call;
        std::string text_start;
    };
    const std::vector<Case> cases = {
        {"refresh", [](Framework_Shared_Memory_Manager& m) { m.refresh_data_ex(nullptr); },
         "[Framework_Shared_Memory_Manager][refresh_data_ex] no application slot"},
        {"lookup", [](Framework_Shared_Memory_Manager& m) { m.get_input_id_ex("is_ethercat_master_online"); },
         "Failed to mutex_lock_ex -> m_shm_application_input_data.mutex_ptr"},
        {"has", [](Framework_Shared_Memory_Manager& m) { m.has_output_ex("x"); },
         "Failed to mutex_lock_ex -> m_shm_application_output_data.mutex_ptr"},
        {"read", [](Framework_Shared_Memory_Manager& m) { m.get_input_ex<int>(0, false); },
         "[Framework_Shared_Memory_Manager][get_input_ex] Sorry, input id not valid!"},
        {"write", [](Framework_Shared_Memory_Manager& m) { m.set_output_ex<double>(10000, 1.0); },
         "[Framework_Shared_Memory_Manager][set_output_ex] Sorry, output_id not valid!"},
        {"bytes", [&](Framework_Shared_Memory_Manager& m) { m.set_output_byte_array_ex(10000, bytes, 4, 0); },
         "[Framework_Shared_Memory_Manager][set_output_byte_array_ex] Sorry, output_id not valid!"},
        {"group", [](Framework_Shared_Memory_Manager& m) { m.try_acquire_output_group_ex(1); },
         "Failed to mutex_lock_ex -> m_shm_application_output_data.mutex_ptr"},
        {"period", [](Framework_Shared_Memory_Manager& m) { m.set_refresh_time_ns_ex(1000000); },
         "[Framework_Shared_Memory_Manager][set_refresh_time_ns_ex] no application slot"},
        {"watchdog", [](Framework_Shared_Memory_Manager& m) { m.turn_on_watchdog_ex(); },
         "[Framework_Shared_Memory_Manager][turn_on_watchdog_ex] no application slot"},
        {"save", [](Framework_Shared_Memory_Manager& m) { m.save_cfg_file_ex(); },
         "Failed to mutex_lock_ex -> m_shm_info.ptr->mutex"},
        {"cycle", [](Framework_Shared_Memory_Manager& m) { m.get_master_cycle_time_ns_ex(); },
         "[Framework_Shared_Memory_Manager][get_framework_cycle_time_ns_ex] Sorry, init must be done!!"},
        {"async read", [](Framework_Shared_Memory_Manager& m) { m.get_async_input_ex<short>(0); },
         "[Framework_Shared_Memory_Manager][get_async_input_ex] Sorry, async input id not valid!"},
        {"async claim", [](Framework_Shared_Memory_Manager& m) { m.get_async_output_id_ex("x"); },
         "[Framework_Shared_Memory_Manager][get_async_output_id_ex] async output name is not valid: x"},
        {"reader", [](Framework_Shared_Memory_Manager& m) { m.get_sem_data_group_read_id_ex("g"); },
         "[Framework_Shared_Memory_Manager][get_sem_data_group_read_id_ex] Error semaphorize group data not found... g"},
        {"post", [](Framework_Shared_Memory_Manager& m) { m.post_sem_data_group_ex(0, false, -1); },
         "[Framework_Shared_Memory_Manager][post_sem_data_group_ex] Sorry, sem group_id not valid!"},
        {"wait", [](Framework_Shared_Memory_Manager& m) { m.wait_sem_data_group_ex(0, 1, 0, nullptr); },
         "[Framework_Shared_Memory_Manager][wait_sem_data_group_ex] Sorry, sem group_id not valid!"},
        {"ring", [](Framework_Shared_Memory_Manager& m) { m.get_ring_buffer_next_slot_ex(0, nullptr); },
         "[Framework_Shared_Memory_Manager][get_ring_buffer_next_slot_ex] Sorry, sem group_id not valid!"},
        {"channel", [](Framework_Shared_Memory_Manager& m) { m.get_cmd_channel_id_as_client_ex("c"); },
         "[Framework_Shared_Memory_Manager][get_sem_data_group_read_id_ex] Error semaphorize group data not found... "
         "c_receiver"},
        {"command", [](Framework_Shared_Memory_Manager& m) { m.send_cmd_ex(0); },
         "[Framework_Shared_Memory_Manager][send_cmd_ex] invalid cmd channel id, required :: 0, max available :: -1"},
    };
    for (Framework_Shared_Memory_Manager* manager : {&never, &failed})
        for (const Case& c : cases)
            EXPECT_EQ(thrown_text([&] { c.call(*manager); }).rfind(c.text_start, 0), 0u) << c.name;
}

TEST(Detached_Manager, MutexErrorsCarryTheMutexName)
{
    Framework_Shared_Memory_Manager manager;
    pthread_mutex_t local;
    pthread_mutexattr_t attr;
    pthread_mutexattr_init(&attr);
    pthread_mutexattr_settype(&attr, PTHREAD_MUTEX_ERRORCHECK);
    pthread_mutex_init(&local, &attr);
    EXPECT_EQ(manager.mutex_lock_ex(&local, "local"), 0);
    EXPECT_EQ(thrown_text([&] { manager.mutex_lock_ex(&local, "local"); }),
              std::string("Failed to mutex_lock_ex -> local ") + std::strerror(EDEADLK));
    EXPECT_EQ(manager.mutex_unlock_ex(&local, "local"), 0);
    EXPECT_EQ(thrown_text([&] { manager.mutex_unlock_ex(&local, "local"); }),
              std::string("Failed to mutex_unlock_ex -> local ") + std::strerror(EPERM));
    pthread_mutex_destroy(&local);
    pthread_mutexattr_destroy(&attr);
}
