// The wrapper every py_ function runs in: what reaches the error ring and the
// slot, whatever is thrown, also when memory runs out, and that a thread's
// cancellation still ends the thread.

#include <gtest/gtest.h>
#include <pthread.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <functional>
#include <new>
#include <stdexcept>
#include <string>

#include "allocation_hooks.h"
#include "xelo_framework_shm_manager_ctypes.h"
#include "xelo_framework_shm_manager_ctypes_call.h"

using namespace xelo_shm_ctypes;

namespace {
constexpr uint32_t UNTOUCHED = 0xDEAD;
const std::string UNKNOWN_TEXT = "[xelo_shm_manager_ctypes] exception of a type not derived from std::exception";

std::string ring_text(uint32_t slot)
{
    char buffer[ERROR_STRING_MAX_LENGTH];
    py_get_error_string(slot, buffer);
    return buffer;
}

struct Foreign_Error {
    int code;
};

struct Thrown {
    const char* name;
    std::function<void()> thrower;
    std::string stored;
};

void PrintTo(const Thrown& thrown, std::ostream* out)
{
    *out << thrown.name;
}

class Guarded_Call : public testing::TestWithParam<Thrown> {};
}  // namespace

TEST_P(Guarded_Call, AnyExceptionBecomesTheDefaultAndARingSlot)
{
    uint32_t slot = UNTOUCHED;
    const int result = guarded(&slot, -7, [&] {
        GetParam().thrower();
        return 1;
    });
    EXPECT_EQ(result, -7);
    ASSERT_GE(slot, 1u);
    ASSERT_LE(slot, ERROR_RING_SIZE);
    EXPECT_EQ(ring_text(slot), GetParam().stored);
}

INSTANTIATE_TEST_SUITE_P(
    Thrown, Guarded_Call,
    testing::Values(Thrown{"runtime_error", [] { throw std::runtime_error("runtime text"); }, "runtime text"},
                    Thrown{"logic_error", [] { throw std::out_of_range("range text"); }, "range text"},
                    Thrown{"bad_alloc", [] { throw std::bad_alloc(); }, "std::bad_alloc"},
                    Thrown{"int", [] { throw 42; }, UNKNOWN_TEXT},
                    Thrown{"c_string", [] { throw "text"; }, UNKNOWN_TEXT},
                    Thrown{"foreign_class", [] { throw Foreign_Error{3}; }, UNKNOWN_TEXT}),
    [](const testing::TestParamInfo<Thrown>& param_info) { return std::string(param_info.param.name); });

TEST(Guarded_Call_Result, SuccessClearsTheSlotAndVoidCallsReportToo)
{
    uint32_t slot = UNTOUCHED;
    EXPECT_EQ(guarded(&slot, -1, [] { return 5; }), 5);
    EXPECT_EQ(slot, 0u);

    slot = UNTOUCHED;
    guarded(&slot, [] { throw 1; });
    EXPECT_EQ(ring_text(slot), UNKNOWN_TEXT);
    guarded(&slot, [] {});
    EXPECT_EQ(slot, 0u);
}

TEST(Error_Ring_Without_Memory, AMessageIsStillStoredAsFarAsTheSlotHoldsIt)
{
    const std::string long_text(3 * ERROR_STRING_MAX_LENGTH, 'x');
    const std::runtime_error prepared(long_text);
    uint32_t slot = UNTOUCHED;
    fail_allocations(true);
    guarded(&slot, [&] { throw prepared; });
    fail_allocations(false);
    ASSERT_GE(slot, 1u);
    EXPECT_EQ(ring_text(slot), long_text.substr(0, ERROR_STRING_MAX_LENGTH - 1));
}

namespace {
std::atomic<bool> g_blocked{false};

void* blocked_in_guarded_call(void* slot)
{
    guarded(static_cast<uint32_t*>(slot), [] {
        g_blocked = true;
        for (;;)
            pause();  // a cancellation point
    });
    return nullptr;
}
}  // namespace

TEST(Guarded_Call_Cancellation, ACancelledThreadEndsAsCancelled)
{
    uint32_t slot = UNTOUCHED;
    pthread_t thread;
    ASSERT_EQ(pthread_create(&thread, nullptr, blocked_in_guarded_call, &slot), 0);
    while (!g_blocked)
        usleep(1000);
    ASSERT_EQ(pthread_cancel(thread), 0);
    void* result = nullptr;
    ASSERT_EQ(pthread_join(thread, &result), 0);
    EXPECT_EQ(result, PTHREAD_CANCELED);
    EXPECT_EQ(slot, UNTOUCHED);
}
