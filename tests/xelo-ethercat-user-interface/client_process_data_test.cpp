// Process data and tick of the client API, on memories made by the test:
// bit-shifted copies in both directions, the bounds of the image, the tick
// count and the waits with and without time-out.
#include <gtest/gtest.h>

#include <pthread.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "client_fixture.h"

namespace {
class Process_Data : public Hooked_Client {
protected:
    void SetUp() override
    {
        Hooked_Client::SetUp();
        started(3, 3);
    }
    uint8_t* in() { return m_memories.pdo().shm_buf_in; }
    uint8_t* out() { return m_memories.pdo().shm_buf_out; }
};

class Ticks : public Process_Data {
protected:
    void SetUp() override
    {
        Process_Data::SetUp();
        expect({{"go_into_next_state 8\n", "reply_ok"}});
        ASSERT_EQ(go_into_new_state(OP_STATE), 0);
    }
};
}  // namespace

TEST_F(Process_Data, ShiftedInputsAreDeliveredAsOneBitString)
{
    m_memories.set_inputs(1, 10, 3, 2, 16);
    const uint8_t image[] = {0xF8, 0xFF, 0x07};
    std::memcpy(in() + 10, image, sizeof(image));
    uint8_t inputs[2] = {};
    EXPECT_EQ(get_slave_inputs_values(1002, 2, inputs), 0);
    EXPECT_EQ(inputs[0], 0xFF);
    EXPECT_EQ(inputs[1], 0xFF);

    in()[11] = 0x5A;  // bits 3..15 of the field: 0x5A shifted down by 3 and up by 5
    EXPECT_EQ(get_slave_inputs_values_warning_use(1002, 2, inputs), 0);
    EXPECT_EQ(inputs[0], ((0xF8 | (0x5A << 8)) >> 3) & 0xFF);
    EXPECT_EQ(inputs[1], ((0x5A | (0x07 << 8)) >> 3) & 0xFF);
}

TEST_F(Process_Data, OutputWritesTouchExactlyTheSlavesBits)
{
    const struct {
        const char* name;
        int start_bit;
        int bytes;
        int bits;
        std::vector<uint8_t> before;
        std::vector<uint8_t> caller;
        std::vector<uint8_t> after;
    } cases[] = {
        {"4 bits at bit 2, all ones", 2, 1, 4, {0xFF, 0xFF}, {0x0F}, {0xFF, 0xFF}},
        {"4 bits at bit 2, zeros", 2, 1, 4, {0xFF, 0xFF}, {0x00}, {0xC3, 0xFF}},
        {"caller bits beyond the field", 2, 1, 4, {0x00, 0x00}, {0xFF}, {0x3C, 0x00}},
        {"12 bits at bit 0", 0, 2, 12, {0xFF, 0xFF, 0xFF}, {0xAB, 0x0D}, {0xAB, 0xFD, 0xFF}},
        {"16 bits at bit 3 over zeros", 3, 2, 16, {0x00, 0x00, 0x00, 0x00}, {0xFF, 0xFF}, {0xF8, 0xFF, 0x07, 0x00}},
        {"16 bits at bit 3 over ones", 3, 2, 16, {0xFF, 0xFF, 0xFF, 0xFF}, {0x00, 0x00}, {0x07, 0x00, 0xF8, 0xFF}},
        {"whole bytes", 0, 2, 16, {0x11, 0x22, 0x33}, {0xAA, 0xBB}, {0xAA, 0xBB, 0x33}},
    };
    for (const auto& c : cases) {
        m_memories.set_outputs(0, 20, c.start_bit, c.bytes, c.bits);
        std::memset(out() + 16, 0x5C, 16);
        std::memcpy(out() + 20, c.before.data(), c.before.size());
        std::vector<uint8_t> caller = c.caller;
        EXPECT_EQ(set_slave_outputs_values(1001, c.bytes, caller.data()), 0) << c.name;
        EXPECT_EQ(std::vector<uint8_t>(out() + 20, out() + 20 + c.after.size()), c.after) << c.name;
        EXPECT_EQ(out()[19], 0x5C) << c.name;
    }
}

TEST_F(Process_Data, NeighboursSharingAByteKeepTheirBits)
{
    // Slave 1001: bits 0-2 of byte 0; slave 1002: 13 bits from bit 3.
    m_memories.set_outputs(0, 0, 0, 1, 3);
    m_memories.set_outputs(1, 0, 3, 2, 13);
    uint8_t first = 0x05;
    uint8_t second[2] = {0xFF, 0xFF};
    ASSERT_EQ(set_slave_outputs_values(1001, 1, &first), 0);
    ASSERT_EQ(set_slave_outputs_values(1002, 2, second), 0);
    EXPECT_EQ(out()[0], 0xFD);
    EXPECT_EQ(out()[1], 0xFF);
    first = 0x02;
    ASSERT_EQ(set_slave_outputs_values(1001, 1, &first), 0);
    EXPECT_EQ(out()[0], 0xFA);
    second[0] = 0;
    second[1] = 0;
    ASSERT_EQ(set_slave_outputs_values(1002, 2, second), 0);
    EXPECT_EQ(out()[0], 0x02);
    EXPECT_EQ(out()[1], 0x00);
}

TEST_F(Process_Data, CopiesOutsideTheSlavesPlaceOrTheImageAreRefused)
{
    uint8_t bytes[4] = {1, 2, 3, 4};
    m_memories.set_inputs(0, 0, 0, 2, 16);
    m_memories.set_outputs(0, 0, 0, 2, 16);
    // Another byte count than the slave's: nothing copied.
    EXPECT_EQ(set_slave_outputs_values(1001, 3, bytes), -1);
    EXPECT_EQ(out()[0], 0);
    EXPECT_EQ(get_slave_inputs_values(1001, 1, bytes), -1);
    EXPECT_EQ(bytes[0], 1);
    // No place, no inputs, address beyond the active count.
    m_memories.set_inputs(1, -1, 0, 2, 16);
    EXPECT_EQ(get_slave_inputs_values(1002, 2, bytes), -1);
    EXPECT_EQ(get_slave_inputs_values(1003, 2, bytes), -1);
    EXPECT_EQ(get_slave_inputs_values(1004, 2, bytes), -1);
    // A place that runs past the 4096-byte image.
    m_memories.set_outputs(2, 4095, 0, 2, 16);
    EXPECT_EQ(set_slave_outputs_values(1003, 2, bytes), -1);
    m_memories.set_inputs(2, 4000, 9, 2, 16);
    EXPECT_EQ(get_slave_inputs_values(1003, 2, bytes), -1);
    // The last byte of the image, shifted: the byte past it reads as 0.
    m_memories.set_inputs(2, 4095, 4, 1, 4);
    in()[4095] = 0xA0;
    EXPECT_EQ(get_slave_inputs_values(1003, 1, bytes), 0);
    EXPECT_EQ(bytes[0], 0x0A);
    m_memories.set_outputs(2, 4095, 4, 1, 4);
    bytes[0] = 0x0F;
    EXPECT_EQ(set_slave_outputs_values(1003, 1, bytes), 0);
    EXPECT_EQ(out()[4095], 0xF0);
}

TEST_F(Process_Data, SizesAndCountsComeFromTheSlaveInfoMemory)
{
    m_memories.set_inputs(1, 4, 0, 6, 48, 3);
    m_memories.set_outputs(1, 2, 0, 4, 32, 2);
    EXPECT_EQ(get_slave_input_byte_dim(1002), 6);
    EXPECT_EQ(get_slave_input_num(1002), 3);
    EXPECT_EQ(get_slave_output_byte_dim(1002), 4);
    EXPECT_EQ(get_slave_output_num(1002), 2);
    EXPECT_EQ(get_slave_input_byte_dim(1004), -1);
    EXPECT_EQ(get_slave_input_byte_dim(1000), -1);
    // The position is found through configaddress.
    m_memories.info().configaddress[1] = 1009;
    EXPECT_EQ(get_slave_input_byte_dim(1002), -1);
}

TEST_F(Process_Data, CallerLockedCopiesRunUnderBothMutexes)
{
    m_memories.set_inputs(0, 0, 0, 1, 8);
    m_memories.set_outputs(0, 0, 0, 1, 8);
    in()[0] = 0x42;
    ASSERT_EQ(lock_ecm_master_mutex_warning_use(), 0);
    // Both mutexes are held: the master's try-lock fails meanwhile.
    std::thread master([&] {
        EXPECT_EQ(pthread_mutex_trylock(&m_memories.info().shm_mutex), EBUSY);
        EXPECT_EQ(pthread_mutex_trylock(&m_memories.pdo().shm_mutex), EBUSY);
    });
    master.join();
    uint8_t value = 0;
    EXPECT_EQ(get_slave_inputs_values_warning_use(1001, 1, &value), 0);
    EXPECT_EQ(value, 0x42);
    value = 0x24;
    EXPECT_EQ(set_slave_outputs_value_warning_use(1001, 1, &value), 0);
    ASSERT_EQ(unlock_ecm_master_mutex_warning_use(), 0);
    EXPECT_EQ(out()[0], 0x24);
    EXPECT_EQ(pthread_mutex_trylock(&m_memories.pdo().shm_mutex), 0);
    pthread_mutex_unlock(&m_memories.pdo().shm_mutex);
}

// A master that died holding the memories' mutexes leaves them to the
// client, which makes them consistent, says so and goes on.
TEST_F(Process_Data, MutexesOfADeadHolderAreRecoveredWithAWarning)
{
    const auto die_holding = [](std::vector<pthread_mutex_t*> mutexes) {
        const pid_t child = fork();
        ASSERT_NE(child, -1);
        if (child == 0) {
            for (pthread_mutex_t* mutex : mutexes)
                pthread_mutex_lock(mutex);
            _exit(0);
        }
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
    };
    const std::string info_war =
        "mutex ptr_info_shmem->shm_mutex was held by a process that died: made consistent, going on";
    const std::string pdo_war =
        "mutex ptr_pdo_shmem->shm_mutex was held by a process that died: made consistent, going on";
    m_memories.set_inputs(0, 0, 0, 1, 8);
    in()[0] = 0x42;
    pthread_mutex_t* info = &m_memories.info().shm_mutex;
    pthread_mutex_t* pdo = &m_memories.pdo().shm_mutex;
    const struct {
        const char* name;
        std::vector<pthread_mutex_t*> held;
        std::function<void()> call;
        std::vector<std::string> lines;
    } cases[] = {
        {"a request under the info mutex", {info}, [] { EXPECT_EQ(get_slave_input_byte_dim(1001), 1); }, {info_war}},
        {"a copy under both mutexes",
         {info, pdo},
         [] {
             uint8_t value = 0;
             EXPECT_EQ(get_slave_inputs_values(1001, 1, &value), 0);
             EXPECT_EQ(value, 0x42);
         },
         {info_war, pdo_war}},
        {"the caller's lock of both",
         {info, pdo},
         [] {
             EXPECT_EQ(lock_ecm_master_mutex_warning_use(), 0);
             EXPECT_EQ(unlock_ecm_master_mutex_warning_use(), 0);
         },
         {info_war, pdo_war}},
    };
    for (const auto& c : cases) {
        die_holding(c.held);
        testing::internal::CaptureStdout();
        c.call();
        const std::string log = testing::internal::GetCapturedStdout();
        for (const std::string& line : c.lines)
            EXPECT_NE(log.find(line), std::string::npos) << c.name << "\n" << log;
        for (pthread_mutex_t* mutex : {info, pdo}) {
            EXPECT_EQ(pthread_mutex_trylock(mutex), 0) << c.name << ": released and consistent";
            pthread_mutex_unlock(mutex);
        }
    }
}

TEST_F(Process_Data, WaitsOutsideOpSleepTenMillisecondsAndFail)
{
    m_memories.tick();
    for (int timed = 0; timed < 2; ++timed) {
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(timed ? wait_master_tick_with_timeout(1000) : wait_master_tick(), -1);
        EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(10));
    }
}

TEST_F(Ticks, TheCountTellsTheCyclesSinceTheLastReadAndIsReset)
{
    m_memories.tick(3);
    EXPECT_EQ(wait_master_tick(), 3);
    EXPECT_EQ(m_memories.tick_region().tick_count, 0);
    EXPECT_EQ(m_memories.tick_region().client_started_cyclic_op, 1);
    m_memories.tick();
    m_memories.tick_region().previus_tick_alert = SHM_OUT_NOT_USED;
    Master_Alerts alert = NULL_ALERT;
    EXPECT_EQ(wait_master_tick_and_alerts(&alert), 1);
    EXPECT_EQ(alert, SHM_OUT_NOT_USED);
}

TEST_F(Ticks, WaitWithTimeOutReturnsMinusTwoWhenNoTickCame)
{
    testing::internal::CaptureStdout();
    EXPECT_EQ(wait_master_tick_with_timeout(0), -2);
    EXPECT_NE(testing::internal::GetCapturedStdout().find("sem_timedwait :: timout elapsed "), std::string::npos);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(wait_master_tick_with_timeout(30), -2);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(30));
}

TEST_F(Ticks, WaitWithTimeOutWakesOnTheTick)
{
    std::thread master([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        m_memories.tick();
    });
    EXPECT_EQ(wait_master_tick_with_timeout(2000), 1);
    master.join();
}

TEST_F(Ticks, AStoppedCycleEndsOpForTheWaits)
{
    m_memories.stop_cycle();
    EXPECT_EQ(wait_master_tick_with_timeout(1000), -1);
    EXPECT_EQ(m_memories.tick_region().tick_count, -1);
    // The flag is clear now: no wait blocks any more.
    m_memories.tick();
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(wait_master_tick(), -1);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(10));
}
