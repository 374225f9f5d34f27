#include <gtest/gtest.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <stdexcept>
#include <thread>

#include "robust_mutex.h"
#include "thrown_text.h"
#include "xelo_thread_mtx_wrapper.h"

namespace {
// A mutex in anonymous shared memory, as the framework keeps them.
struct Shared_Mutex {
    Shared_Mutex()
        : mutex(static_cast<pthread_mutex_t*>(
              mmap(nullptr, sizeof(pthread_mutex_t), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0)))
    {
        init_pthread_mutex_ex(mutex, true, true, true);
    }
    ~Shared_Mutex()
    {
        pthread_mutex_destroy(mutex);
        munmap(mutex, sizeof(pthread_mutex_t));
    }
    pthread_mutex_t* mutex;
};

std::atomic<bool> g_thread_ran{false};
void* mark_ran(void*)
{
    g_thread_ran = true;
    return nullptr;
}
}  // namespace

TEST(Thread_Helpers, SemaphoreIsLeftAtZero)
{
    for (unsigned value : {0u, 1u, 3u}) {
        sem_t sem;
        init_sem_ex(&sem, 0, value, "local");
        int count = -1;
        sem_getvalue(&sem, &count);
        EXPECT_EQ(count, 0) << value;
        sem_destroy(&sem);
    }
}

TEST(Thread_Helpers, NamedThreadRuns)
{
    g_thread_ran = false;
    pthread_t thread;
    pthread_create_and_set_name_ex(&thread, nullptr, mark_ran, nullptr, "fm_realtimetask");
    char name[32] = {};
    pthread_getname_np(thread, name, sizeof(name));
    pthread_join(thread, nullptr);
    EXPECT_TRUE(g_thread_ran);
    // The thread may end before its name is read back; an ended thread reads as empty or its name.
    EXPECT_TRUE(std::string(name).empty() || std::string(name) == "fm_realtimetask") << name;
}

TEST(Thread_Helpers, TooLongThreadNameIsReportedButTheThreadRuns)
{
    g_thread_ran = false;
    pthread_t thread;
    EXPECT_EQ(thrown_text(
                  [&] { pthread_create_and_set_name_ex(&thread, nullptr, mark_ran, nullptr, "a_name_of_16_chr"); }),
              "-- FrameworkTask -> pthread_set_name_np error!!! ");
    pthread_join(thread, nullptr);
    EXPECT_TRUE(g_thread_ran);
}

TEST(Thread_Helpers, RelockAndForeignUnlockAreReportedWithTheMutexName)
{
    Shared_Mutex shared;
    mutex_lock_ex(shared.mutex, "m_shm_info.ptr->mutex", "fm_realtimetask");

    testing::internal::CaptureStdout();
    const std::string relock =
        thrown_text([&] { mutex_lock_ex(shared.mutex, "m_shm_info.ptr->mutex", "fm_realtimetask"); });
    const std::string relock_log = testing::internal::GetCapturedStdout();
    EXPECT_EQ(relock, std::string("Failed to mutex_lock_ex -> m_shm_info.ptr->mutex ") + std::strerror(EDEADLK));
    EXPECT_NE(relock_log.find("[fm_realtimetask] mutex_lock_ex m_shm_info.ptr->mutex ret_val = " +
                              std::to_string(EDEADLK) + " " + std::strerror(EDEADLK)),
              std::string::npos)
        << relock_log;

    std::string foreign;
    std::thread other([&] { foreign = thrown_text([&] { mutex_unlock_ex(shared.mutex, "cyclic_mutex", "other"); }); });
    other.join();
    EXPECT_EQ(foreign, std::string("Failed to mutex_unlock_ex -> cyclic_mutex ") + std::strerror(EPERM));

    mutex_unlock_ex(shared.mutex, "m_shm_info.ptr->mutex", "fm_realtimetask");
}

TEST(Thread_Helpers, DeadHolderDoesNotFreezeTheOthers)
{
    Shared_Mutex shared;
    const pid_t child = fork();
    ASSERT_NE(child, -1);
    if (child == 0) {
        pthread_mutex_lock(shared.mutex);
        _exit(0);  // dies holding the mutex
    }
    int status = 0;
    waitpid(child, &status, 0);

    testing::internal::CaptureStdout();
    mutex_lock_ex(shared.mutex, "/linux_framework_cyclic_mutex", "fm_realtimetask");
    const std::string log = testing::internal::GetCapturedStdout();
    EXPECT_NE(log.find(" WAR"), std::string::npos) << log;
    EXPECT_NE(log.find("/linux_framework_cyclic_mutex"), std::string::npos) << log;
    mutex_unlock_ex(shared.mutex, "/linux_framework_cyclic_mutex", "fm_realtimetask");

    // Consistent again: an ordinary lock and unlock pass without a warning.
    testing::internal::CaptureStdout();
    mutex_lock_ex(shared.mutex, "/linux_framework_cyclic_mutex", "fm_realtimetask");
    mutex_unlock_ex(shared.mutex, "/linux_framework_cyclic_mutex", "fm_realtimetask");
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
}

TEST(Thread_Helpers, AttributeSwitches)
{
    const struct {
        bool pshared, prio_inherit, error_check;
        int expect_pshared, expect_protocol, expect_type, expect_robust;
    } cases[] = {
        {false, false, false, PTHREAD_PROCESS_PRIVATE, PTHREAD_PRIO_NONE, PTHREAD_MUTEX_DEFAULT, PTHREAD_MUTEX_STALLED},
        {true, true, true, PTHREAD_PROCESS_SHARED, PTHREAD_PRIO_INHERIT, PTHREAD_MUTEX_ERRORCHECK,
         PTHREAD_MUTEX_ROBUST},
        {false, true, true, PTHREAD_PROCESS_PRIVATE, PTHREAD_PRIO_INHERIT, PTHREAD_MUTEX_ERRORCHECK,
         PTHREAD_MUTEX_STALLED},
    };
    for (const auto& c : cases) {
        pthread_mutexattr_t attr;
        set_pthread_mutex_attr_ex(&attr, c.pshared, c.prio_inherit, c.error_check);
        int value = -1;
        pthread_mutexattr_getpshared(&attr, &value);
        EXPECT_EQ(value, c.expect_pshared);
        pthread_mutexattr_getprotocol(&attr, &value);
        EXPECT_EQ(value, c.expect_protocol);
        pthread_mutexattr_gettype(&attr, &value);
        EXPECT_EQ(value, c.expect_type);
        pthread_mutexattr_getrobust(&attr, &value);
        EXPECT_EQ(value, c.expect_robust);
        pthread_mutexattr_destroy(&attr);
    }
}

TEST(Thread_Helpers, GuardReleasesOnException)
{
    Shared_Mutex shared;
    try {
        Robust_Mutex guard_mutex(shared.mutex, "guarded", "test");
        std::lock_guard<Robust_Mutex> guard(guard_mutex);
        throw std::runtime_error("inside");
    } catch (const std::runtime_error&) {
    }
    EXPECT_EQ(pthread_mutex_trylock(shared.mutex), 0);
    pthread_mutex_unlock(shared.mutex);
}
