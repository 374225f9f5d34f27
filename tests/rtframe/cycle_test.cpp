#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "robust_mutex.h"
#include "running_rtframe.h"
#include "xelo_thread_mtx_wrapper.h"

namespace {
using std::chrono::milliseconds;
using std::chrono::seconds;

class Rtframe_Cycle : public Running_Rtframe {
protected:
    void SetUp() override { start("basic.xml"); }
};

TEST_F(Rtframe_Cycle, AClientIsWokenEveryPeriodWithTheTickAdvancing)
{
    constexpr uint32_t PERIOD = 10;
    Thin_Client client;
    client.take_slot("every_tenth", PERIOD);
    uint32_t previous = 0;
    ASSERT_TRUE(client.wait_wakeup(seconds(5), &previous));
    int exactly_one_period = 0;
    for (int i = 0; i < 20; ++i) {
        uint32_t tick = 0;
        ASSERT_TRUE(client.wait_wakeup(milliseconds(500), &tick));
        // Never sooner than a period; later when a wake-up was taken late or
        // the tick itself came late (the tick counts every timer period).
        EXPECT_GE(tick - previous, PERIOD) << "wake-up " << i;
        exactly_one_period += tick - previous == PERIOD;
        previous = tick;
    }
    EXPECT_GE(exactly_one_period, 10);
}

TEST_F(Rtframe_Cycle, VirtualOutputsShowOnTheirInputsOneTickLater)
{
    Thin_Client client;
    client.take_slot("writer");
    ASSERT_TRUE(client.wait_wakeup(seconds(5)));
    client.take_output("counter");
    client.set_output<uint64_t>("counter", 123456789012ULL);
    client.set_output<uint16_t>("drive_control", 0xBEEF);  // a slave output, virtual in offline mode
    client.set_output_bit("lamp_red", false);
    // Two wake-ups from now the exchange surely ran after the writes.
    client.discard_pending_wakeup();
    ASSERT_TRUE(client.wait_wakeup(milliseconds(500)));
    ASSERT_TRUE(client.wait_wakeup(milliseconds(500)));
    EXPECT_EQ(client.get_input<uint64_t>("counter"), 123456789012ULL);
    EXPECT_EQ(client.get_input<uint16_t>("drive_control"), 0xBEEF);
    const Shared_Application_Data_Struct& lamp = client.input_record("lamp_red");
    EXPECT_EQ((client.inputs()[lamp.byte_offs] >> lamp.bit_offs) & 1, 1) << "negated: false is stored as a set bit";
}

TEST_F(Rtframe_Cycle, StatusVariablesAndDefaultsAreInTheImages)
{
    Thin_Client client;
    EXPECT_EQ(client.get_input<uint8_t>("is_ethercat_master_online"), 0) << "no tick yet";
    client.take_slot("status");
    ASSERT_TRUE(client.wait_wakeup(seconds(5)));
    EXPECT_EQ(client.get_input<uint8_t>("is_ethercat_master_online"), 1);
    EXPECT_EQ(client.get_input<int16_t>("last_ethercat_master_error_type"), 0);
    EXPECT_EQ(client.get_input<int16_t>("last_ethercat_master_error_code"), 0);
    EXPECT_EQ(client.get_input_text("last_ethercat_master_error_msg"), "Ethercat master simulation");
    EXPECT_EQ(client.get_input<int32_t>("serial"), 42) << "read-only virtual input with its default";
    // Outputs start with their defaults, a negated bit inverted; the loop-back
    // has brought them to the inputs as well.
    EXPECT_EQ(client.get_output<uint16_t>("drive_control"), 0x1234);
    EXPECT_EQ(client.get_output<double>("speed"), 1.5);
    EXPECT_EQ(client.get_input<uint64_t>("counter"), 7u);
    EXPECT_EQ(client.get_input_text("label"), "abc");
    const std::vector<uint8_t> outputs = client.outputs();
    const Shared_Application_Data_Struct& red = client.output_record("lamp_red");
    const Shared_Application_Data_Struct& green = client.output_record("lamp_green");
    EXPECT_EQ((outputs[red.byte_offs] >> red.bit_offs) & 1, 0) << "default 1, negated";
    EXPECT_EQ((outputs[green.byte_offs] >> green.bit_offs) & 1, 1);
}

// A child process takes the cyclic mutex and is killed while holding it.
pid_t start_holder_of(pthread_mutex_t* mutex)
{
    int ready[2];
    if (pipe(ready) != 0)
        return -1;
    const pid_t pid = fork();
    if (pid == 0) {
        pthread_mutex_lock(mutex);
        const char byte = 1;
        if (write(ready[1], &byte, 1) == 1)
            pause();
        _exit(0);
    }
    char byte = 0;
    const bool locked = read(ready[0], &byte, 1) == 1;
    close(ready[0]);
    close(ready[1]);
    return locked ? pid : -1;
}

TEST_F(Rtframe_Cycle, AClientKilledHoldingTheCyclicMutexDoesNotStopTheCycle)
{
    Thin_Client client;
    client.take_slot("survivor");
    ASSERT_TRUE(client.wait_wakeup(seconds(5)));
    const pid_t holder = start_holder_of(client.cyclic_mutex());
    ASSERT_GT(holder, 0);
    kill(holder, SIGKILL);
    waitpid(holder, nullptr, 0);
    for (int i = 0; i < 10; ++i)
        ASSERT_TRUE(client.wait_wakeup(milliseconds(500))) << "wake-up " << i << " after the kill";
    EXPECT_TRUE(rtframe->wait_for_log(
        "WAR] mutex m_shm_xeno_cyclic_data.mutex_ptr was held by a process that died: made consistent, going on",
        seconds(5)))
        << rtframe->log();
    Robust_Mutex guard_mutex(client.cyclic_mutex(), "cyclic", "test");
    std::lock_guard<Robust_Mutex> guard(guard_mutex);  // usable by clients again
}
}  // namespace
