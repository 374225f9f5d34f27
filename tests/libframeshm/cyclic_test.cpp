#include <semaphore.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <functional>
#include <thread>

#include "eventually.h"
#include "rtframe_test.h"
#include "test_helpers.h"

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {
int occurrences(const std::string& text, const std::string& what)
{
    int count = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++count;
    return count;
}

int sem_value(sem_t* sem)
{
    int value = -1;
    sem_getvalue(sem, &value);
    return value;
}
}  // namespace

class Cyclic : public Rtframe_Test {
protected:
    // Refreshes until the server has looped the written virtual outputs back
    // to the inputs (one framework cycle after the writer's refresh).
    template <typename Arrived>
    void refresh_until(Framework_Shared_Memory_Manager& manager, Arrived arrived)
    {
        for (int i = 0; i < 200 && !arrived(); ++i)
            ASSERT_GE(manager.refresh_data_ex(nullptr), 0);
        ASSERT_TRUE(arrived());
    }
};

TEST_F(Cyclic, RefreshWakesOncePerPeriodAndCountsMissedPeriods)
{
    auto manager = attach("cyclic");
    ASSERT_GE(manager->refresh_data_ex(nullptr), 0);  // the wake-up pending since the attach
    uint32_t previous = 0;
    ASSERT_GE(manager->refresh_data_ex(&previous), 0);
    for (int i = 0; i < 20; ++i) {
        uint32_t tick = 0;
        ASSERT_GE(manager->refresh_data_ex(&tick), 0);
        EXPECT_GT(tick, previous);
        previous = tick;
    }
    std::this_thread::sleep_for(30ms);
    uint32_t tick = 0;
    EXPECT_GE(manager->refresh_data_ex(&tick), 10);  // about 30 missed periods
    EXPECT_GE(tick - previous, 20u);

    uint8_t online = 9;
    ASSERT_GE(manager->refresh_data_and_get_ec_master_state_ex(&online, nullptr), 0);
    EXPECT_EQ(online, 1);  // the simulated master counts as online
}

TEST_F(Cyclic, TimedOutRefreshKeepsThePendingWrites)
{
    auto writer = attach("writer");
    auto reader = attach("reader");
    const int output = writer->get_output_rw_id_ex("v_u32", false);
    const int input = reader->get_input_id_ex("v_u32");
    writer->set_refresh_time_ns_ex(3000000000u);  // a wake-up every 3 s, refreshes give up after 2 s

    // Align with the server's 3 s period: a refresh that had to wait took a fresh wake-up.
    bool aligned = false;
    for (int i = 0; i < 5 && !aligned; ++i) {
        const auto start = Clock::now();
        aligned = writer->refresh_data_ex(nullptr) >= 0 && Clock::now() - start > 100ms;
    }
    ASSERT_TRUE(aligned);

    writer->set_output_ex<unsigned int>(output, 77);
    testing::internal::CaptureStdout();
    const auto start = Clock::now();
    const int timed_out = writer->refresh_data_ex(nullptr);
    const auto waited = Clock::now() - start;
    const std::string log = testing::internal::GetCapturedStdout();
    EXPECT_EQ(timed_out, -2);
    EXPECT_GE(waited, 1900ms);
    EXPECT_LT(waited, 10s);
    EXPECT_EQ(occurrences(log,
                          "[Framework_Shared_Memory_Manager][refresh_data_ex] application refresh sem post "
                          "timeout"),
              1)
        << log;
    for (int i = 0; i < 5; ++i)
        ASSERT_GE(reader->refresh_data_ex(nullptr), 0);
    EXPECT_EQ(reader->get_input_ex<unsigned int>(input, true), 32u);  // still the default

    EXPECT_GE(writer->refresh_data_ex(nullptr), 0);
    refresh_until(*reader, [&] { return reader->get_input_ex<unsigned int>(input, true) == 77u; });
}

TEST_F(Cyclic, TypedValuesRoundTripThroughTheServer)
{
    auto writer = attach("writer");
    auto reader = attach("reader");
    std::vector<std::function<void()>> checks;
    auto write = [&](const char* label, auto value, auto default_value) {
        using T = decltype(value);
        const int output = writer->get_output_rw_id_ex(label, false);
        EXPECT_EQ(writer->get_output_default_value_ex<T>(output), default_value) << label;
        writer->set_output_ex<T>(output, default_value);
        writer->set_output_ex<T>(output, value);  // only the last write goes out
        const int input = reader->get_input_id_ex(label);
        checks.push_back(
            [&reader, input, value, label] { EXPECT_EQ(reader->get_input_ex<T>(input, true), value) << label; });
    };
    write("v_bool", true, false);
    write("v_i8", static_cast<signed char>(-100), static_cast<signed char>(-8));
    write("v_u8", static_cast<unsigned char>(200), static_cast<unsigned char>(8));
    write("v_i16", static_cast<short>(-30000), static_cast<short>(-16));
    write("v_u16", static_cast<unsigned short>(60000), static_cast<unsigned short>(16));
    write("v_i32", -2000000000, -32);
    write("v_u32", 4000000000u, 32u);
    write("v_i64", -9000000000000000000LL, -64LL);
    write("v_u64", 18000000000000000000ULL, 64ULL);
    write("v_float", 3.25f, 1.5f);
    write("v_double", -1e300, 2.25);
    ASSERT_GE(writer->refresh_data_ex(nullptr), 0);
    const int last = reader->get_input_id_ex("v_double");
    refresh_until(*reader, [&] { return reader->get_input_ex<double>(last, true) == -1e300; });
    for (const auto& check : checks)
        check();
}

TEST_F(Cyclic, NegatedBitsReadAndWriteInverted)
{
    auto writer = attach("writer");
    auto reader = attach("reader");
    const int negated = writer->get_output_rw_id_ex("neg_bit", false);  // bit 2, negated
    const int plain = writer->get_output_rw_id_ex("pos_bit", false);    // bit 5
    const uint8_t* negated_byte = view->output_image() + view->output_record("neg_bit")->byte_offs;
    const uint8_t* plain_byte = view->output_image() + view->output_record("pos_bit")->byte_offs;

    writer->set_output_ex<bool>(negated, true);
    writer->set_output_ex<bool>(plain, true);
    ASSERT_GE(writer->refresh_data_ex(nullptr), 0);
    EXPECT_EQ(*negated_byte & 0x04, 0);  // true is a cleared bit
    EXPECT_EQ(*plain_byte & 0x20, 0x20);
    EXPECT_TRUE(writer->get_output_ex<bool>(negated, true));
    EXPECT_EQ(writer->get_output_ex<unsigned char>(negated, true) & 0x04, 0);  // the raw byte
    const int negated_input = reader->get_input_id_ex("neg_bit");
    refresh_until(*reader, [&] { return reader->get_input_ex<bool>(negated_input, true); });

    writer->set_output_ex<bool>(negated, false);
    ASSERT_GE(writer->refresh_data_ex(nullptr), 0);
    EXPECT_EQ(*negated_byte & 0x04, 0x04);
    EXPECT_FALSE(writer->get_output_ex<bool>(negated, true));
    refresh_until(*reader, [&] { return !reader->get_input_ex<bool>(negated_input, true); });
}

TEST_F(Cyclic, ByteArraySlicesGoOutWholeAndNegativeOffsetsAreRefused)
{
    auto writer = attach("writer");
    auto reader = attach("reader");
    const int output = writer->get_output_rw_id_ex("v_bytes", false);
    const int input = reader->get_input_id_ex("v_bytes");
    const uint8_t slice[4] = {9, 8, 7, 6};
    writer->set_output_byte_array_ex(output, slice, 4, 3);
    ASSERT_GE(writer->refresh_data_ex(nullptr), 0);
    const std::vector<uint8_t> expected = {1, 2, 0, 9, 8, 7, 6, 0, 0, 0};
    const uint8_t* shared = view->output_image() + view->output_record("v_bytes")->byte_offs;
    EXPECT_EQ(std::vector<uint8_t>(shared, shared + 10), expected);

    std::vector<uint8_t> read(10, 0xEE);
    refresh_until(*reader, [&] {
        reader->get_input_byte_array_ex(input, read.data(), 10, 0);
        return read == expected;
    });
    std::vector<uint8_t> tail(2, 0xEE);
    reader->get_input_byte_array_ex(input, tail.data(), 2, 5);
    EXPECT_EQ(tail, (std::vector<uint8_t>{7, 6}));

    std::vector<uint8_t> untouched(10, 0xEE);
    EXPECT_EQ(thrown_text([&] { reader->get_input_byte_array_ex(input, untouched.data(), 10, -1); }),
              "[Framework_Shared_Memory_Manager][get_input_byte_array_ex] given byte_offset :: -1");
    EXPECT_EQ(untouched, std::vector<uint8_t>(10, 0xEE));
    const uint8_t whole[10] = {};
    EXPECT_NE(thrown_text([&] {
                  writer->set_output_byte_array_ex(output, whole, 10, -1);
              }).find("Sorry, offset is not correct!!"),
              std::string::npos);
    EXPECT_NE(thrown_text([&] {
                  writer->set_output_byte_array_ex(output, whole, 10, -1);
              }).find("\n\t\t\t given output_size :: 10\n\t\t\t given output_offset :: -1\n"),
              std::string::npos);
    EXPECT_NE(thrown_text([&] {
                  writer->get_output_byte_array_ex(output, untouched.data(), 10, -1);
              }).find("Sorry, offset is not correct!!"),
              std::string::npos);
    EXPECT_EQ(untouched, std::vector<uint8_t>(10, 0xEE));
    writer->get_output_byte_array_ex(output, read.data(), 10, 0);
    EXPECT_EQ(read, expected);  // the refused write changed nothing
}

TEST_F(Cyclic, TheOverflowIsTakenUnderTheCyclicMutex)
{
    auto manager = attach("overflow");
    ASSERT_GE(manager->refresh_data_ex(nullptr), 0);
    Shared_Sem_Struct& slot = view->slot(manager->get_application_number());
    ASSERT_TRUE(eventually([&] { return sem_value(&slot.sem) == 1; }));  // a wake-up is pending

    ASSERT_EQ(pthread_mutex_lock(view->cyclic_mutex()), 0);  // stalls the server's exchange too
    std::this_thread::sleep_for(20ms);                       // a tick under way ends
    slot.overflow = 5;
    std::atomic<int> result{-100};
    std::thread refresh([&] { result = manager->refresh_data_ex(nullptr); });
    const bool taken = eventually([&] { return sem_value(&slot.sem) == 0; });
    std::this_thread::sleep_for(20ms);  // the refresh is now waiting for the mutex
    slot.overflow = 7;
    ASSERT_EQ(pthread_mutex_unlock(view->cyclic_mutex()), 0);
    refresh.join();
    EXPECT_TRUE(taken);
    EXPECT_GE(result, 7);  // read after the unlock (5 was there when the wake-up was taken)
}

TEST_F(Cyclic, LoggingSwitchIsReportedOncePerChange)
{
    auto manager = attach("logging");
    const int enable = manager->get_output_rw_id_ex("enable_refresh_logging", false);
    testing::internal::CaptureStdout();
    manager->set_output_ex<unsigned char>(enable, 1);
    for (int i = 0; i < 20; ++i)
        ASSERT_GE(manager->refresh_data_ex(nullptr), 0);
    manager->set_output_ex<unsigned char>(enable, 0);
    for (int i = 0; i < 20; ++i)
        ASSERT_GE(manager->refresh_data_ex(nullptr), 0);
    const std::string log = testing::internal::GetCapturedStdout();
    const std::string line = "[Framework_Shared_Memory_Manager][refresh_data_ex] refresh logging enable --> ";
    EXPECT_EQ(occurrences(log, line + "1"), 1) << log;
    EXPECT_EQ(occurrences(log, line + "0"), 1) << log;
    EXPECT_EQ(occurrences(log, "send_queue_timeout!"), 0) << log;
}
