#include <gtest/gtest.h>

#include <semaphore.h>

#include <mutex>
#include <thread>

#include "eventually.h"
#include "robust_mutex.h"
#include "running_rtframe.h"
#include "xelo_thread_mtx_wrapper.h"

namespace {
using std::chrono::milliseconds;
using std::chrono::seconds;

class Rtframe_Watchdog : public Running_Rtframe {
protected:
    void SetUp() override { start("basic.xml"); }

    static bool wait_until(const std::function<bool()>& done, milliseconds timeout)
    {
        return eventually(done, timeout, milliseconds(2));
    }
};

// A silent application with its watchdog on loses its slot, its outputs go
// back to their defaults and the data groups let go of it.
TEST_F(Rtframe_Watchdog, ASilentApplicationIsExpiredAndEverythingItHeldIsReleased)
{
    Thin_Client victim;
    Thin_Client reader;
    const int dead = victim.take_slot("victim");
    const int alive = reader.take_slot("reader");
    const int dead_id = dead + FRAMEWORK_APPLICATION_ID_OFFSET;
    victim.take_output("counter");
    victim.take_output("drive_control");
    victim.take_output("lamp_red");
    victim.set_output<uint64_t>("counter", 99);
    victim.set_output<uint16_t>("drive_control", 0xBEEF);
    victim.set_output_bit("lamp_red", false);  // negated: stored as a set bit
    Shared_Sem_Data_Group_Struct& g1 = victim.groups().share_sem_group_struct[0];
    Shared_Sem_Data_Group_Sem_Struct* g1_rows = victim.groups().semaphores[0];
    Shared_Sem_Data_Group_Sem_Struct* trace_rows = victim.groups().semaphores[1];
    {
        Robust_Mutex guard_mutex(&g1.mutex, "g1", "test");
        std::lock_guard<Robust_Mutex> guard(guard_mutex);
        g1.rw_app_id = dead_id;                                                   // the victim writes g1
        g1_rows[alive].application_id = alive + FRAMEWORK_APPLICATION_ID_OFFSET;  // the reader reads it
    }
    {
        Robust_Mutex guard_mutex(&victim.groups().share_sem_group_struct[1].mutex, "trace", "test");
        std::lock_guard<Robust_Mutex> guard(guard_mutex);
        trace_rows[dead].application_id = dead_id;  // the victim reads trace
    }
    victim.set_watchdog(3, true);

    ASSERT_TRUE(wait_until([&] { return victim.slot_record(dead).is_assigned == 0; }, seconds(10))) << rtframe->log();
    // Another application goes on being woken.
    ASSERT_TRUE(reader.wait_wakeup(milliseconds(500)));
    ASSERT_TRUE(rtframe->wait_for_log("\t semaphorized data release", seconds(5)));

    const Shared_Sem_Struct freed = victim.slot_record(dead);
    EXPECT_EQ(freed.overflow, -1);
    EXPECT_EQ(freed.start_value, 1u);
    EXPECT_EQ(freed.actual_value, 1u);
    EXPECT_EQ(freed.watchdog_max_value, 1000);
    EXPECT_EQ(freed.watchdog_is_active, 0);

    for (const char* name : {"counter", "drive_control", "lamp_red"}) {
        const Shared_Application_Data_Struct& record = victim.output_record(name);
        EXPECT_EQ(record.application_number_take_rw, -1) << name;
        EXPECT_EQ(record.is_already_rw, 0) << name;
    }
    EXPECT_EQ(victim.get_output<uint64_t>("counter"), 7u);
    EXPECT_EQ(victim.get_output<uint16_t>("drive_control"), 0x1234);
    const Shared_Application_Data_Struct& red = victim.output_record("lamp_red");
    EXPECT_EQ((victim.outputs()[red.byte_offs] >> red.bit_offs) & 1, 0) << "default 1, negated, as at start";

    EXPECT_EQ(g1.rw_app_id, -1);
    EXPECT_EQ(g1.sem_posted, 1);
    EXPECT_EQ(g1.is_posted_from_watchdog, 1);
    EXPECT_EQ(sem_trywait(&g1_rows[alive].sem), 0) << "the reader of the lost writer is woken";
    EXPECT_EQ(trace_rows[dead].application_id, -1);
    EXPECT_EQ(trace_rows[dead].application_has_been_released, 1u);
    EXPECT_EQ(sem_trywait(&trace_rows[dead].sem), 0) << "the victim's own wait in trace is released";

    const std::string log = rtframe->log();
    const std::string expired =
        "WAR] Application " + std::to_string(dead) + " (victim) watchdog (3 cycles) realtime expired!";
    EXPECT_EQ(count_of(log, expired), 1) << log;
    EXPECT_EQ(count_of(log, "WAR] \toutputs release"), 1);
    EXPECT_EQ(count_of(log, "WAR] \t\t output name: counter\n"), 1);
    EXPECT_EQ(count_of(log, "WAR] \t\t output name: drive_control\n"), 1);
    EXPECT_EQ(count_of(log, "WAR] \t output async release"), 1);
    EXPECT_EQ(count_of(log, "WAR] Going to set warning flag and posting an answer on sem data id 0"), 1);
    EXPECT_EQ(count_of(log, "actually posting on sem_data_group[0][" + std::to_string(alive) + "]"), 1);
    EXPECT_EQ(count_of(log, "actually posting on sem_data_group[1][" + std::to_string(dead) + "]"), 1);

    // The slot is free for the next client.
    Thin_Client next;
    EXPECT_EQ(next.take_slot("next"), dead);
}

TEST_F(Rtframe_Watchdog, WithTheWatchdogOffTheOverflowGrowsAndNothingExpires)
{
    Thin_Client silent;
    const int slot = silent.take_slot("silent");
    silent.set_watchdog(3, false);
    ASSERT_TRUE(wait_until([&] { return silent.slot_record(slot).overflow > 10; }, seconds(10)));
    EXPECT_EQ(silent.slot_record(slot).is_assigned, 1);
    EXPECT_EQ(count_of(rtframe->log(), "realtime expired"), 0);
}
}  // namespace
