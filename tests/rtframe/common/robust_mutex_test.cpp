#include "robust_mutex.h"

#include <gtest/gtest.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "thrown_text.h"

namespace {
struct Shared_Mutex {
    Shared_Mutex()
        : mutex(static_cast<pthread_mutex_t*>(
              mmap(nullptr, sizeof(pthread_mutex_t), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0)))
    {
        Robust_Mutex::init_shared(mutex);
    }
    ~Shared_Mutex()
    {
        pthread_mutex_destroy(mutex);
        munmap(mutex, sizeof(pthread_mutex_t));
    }
    // A child process takes the mutex and dies holding it.
    void die_holding() const
    {
        const pid_t child = fork();
        ASSERT_NE(child, -1);
        if (child == 0) {
            pthread_mutex_lock(mutex);
            _exit(0);
        }
        int status = 0;
        waitpid(child, &status, 0);
    }
    pthread_mutex_t* mutex;
};

struct Recording_Sink final : Lock_Log_Sink {
    void write(Log_Level level, const char* text) noexcept override { lines.emplace_back(level, text); }
    std::vector<std::pair<Log_Level, std::string>> lines;
};
}  // namespace

TEST(Robust_Mutex, WorksWithTheStandardGuards)
{
    Shared_Mutex shared;
    Robust_Mutex mutex(shared.mutex, "guarded");
    {
        std::lock_guard<Robust_Mutex> guard(mutex);
        int other = 0;
        std::thread([&] { other = pthread_mutex_trylock(shared.mutex); }).join();
        EXPECT_EQ(other, EBUSY);
    }
    {
        std::unique_lock<Robust_Mutex> lock(mutex, std::try_to_lock);
        EXPECT_TRUE(lock.owns_lock());
        bool other_got_it = true;
        std::thread([&] { other_got_it = Robust_Mutex(shared.mutex, "guarded").try_lock(); }).join();
        EXPECT_FALSE(other_got_it);
        lock.unlock();
    }
    try {
        std::lock_guard<Robust_Mutex> guard(mutex);
        throw std::runtime_error("inside");
    } catch (const std::runtime_error&) {
    }
    EXPECT_EQ(pthread_mutex_trylock(shared.mutex), 0);
    pthread_mutex_unlock(shared.mutex);
}

// Both ways of taking a mutex whose holder died recover it, with one WAR
// line naming it, through the sink given.
TEST(Robust_Mutex, DeadHolderIsRecoveredByLockAndTryLock)
{
    for (const bool try_lock : {false, true}) {
        Shared_Mutex shared;
        shared.die_holding();
        Recording_Sink sink;
        Robust_Mutex mutex(shared.mutex, "m_shm_cyclic_data.mutex_ptr", "test", &sink);
        if (try_lock)
            EXPECT_TRUE(mutex.try_lock());
        else
            mutex.lock();
        mutex.unlock();
        ASSERT_EQ(sink.lines.size(), 1u) << try_lock;
        EXPECT_EQ(sink.lines[0].first, Log_Level::WAR);
        EXPECT_EQ(sink.lines[0].second,
                  "mutex m_shm_cyclic_data.mutex_ptr was held by a process that died: made consistent, going on");
        std::lock_guard<Robust_Mutex> again(mutex);  // consistent: no second line
        EXPECT_EQ(sink.lines.size(), 1u);
    }
}

TEST(Robust_Mutex, FailuresThrowOnLockAndAreLoggedOnUnlock)
{
    Shared_Mutex shared;
    Recording_Sink sink;
    Robust_Mutex mutex(shared.mutex, "info", "fm_savetask", &sink);
    mutex.lock();
    EXPECT_EQ(thrown_text([&] { mutex.lock(); }),
              std::string("Failed to mutex_lock_ex -> info ") + std::strerror(EDEADLK));
    ASSERT_EQ(sink.lines.size(), 1u);
    EXPECT_EQ(sink.lines[0].second,
              "[fm_savetask] mutex_lock_ex info ret_val = " + std::to_string(EDEADLK) + " " + std::strerror(EDEADLK));

    std::thread([&] { mutex.unlock(); }).join();  // not the holder: logged, not thrown
    ASSERT_EQ(sink.lines.size(), 2u);
    EXPECT_EQ(sink.lines[1].first, Log_Level::ERR);
    EXPECT_NE(sink.lines[1].second.find("mutex_unlock_ex info ret_val = " + std::to_string(EPERM)), std::string::npos);
    mutex.unlock();

    Robust_Mutex detached(nullptr, "m_shm_info.ptr->mutex", nullptr, &sink);
    EXPECT_EQ(thrown_text([&] { detached.lock(); }),
              std::string("Failed to mutex_lock_ex -> m_shm_info.ptr->mutex ") + std::strerror(EINVAL));
    EXPECT_EQ(thrown_text([&] { (void)detached.try_lock(); }),
              std::string("Failed to mutex_trylock_ex -> m_shm_info.ptr->mutex ") + std::strerror(EINVAL));
}

// The non-throwing guard recovers a dead holder's mutex as lock() does,
// holds it for its scope and tells failures as values.
TEST(Nothrow_Lock, RecoversADeadHolderAndTellsFailuresAsValues)
{
    Shared_Mutex shared;
    shared.die_holding();
    Recording_Sink sink;
    const auto held_elsewhere = [&] {
        int other = 0;
        std::thread([&] {
            other = pthread_mutex_trylock(shared.mutex);
            if (other == 0)
                pthread_mutex_unlock(shared.mutex);
        }).join();
        return other == EBUSY;
    };
    {
        Nothrow_Lock lock(Robust_Mutex(shared.mutex, "ptr_info_shmem->shm_mutex", nullptr, &sink));
        EXPECT_TRUE(lock.owns_lock());
        EXPECT_EQ(lock.error(), 0);
        ASSERT_EQ(sink.lines.size(), 1u);
        EXPECT_EQ(sink.lines[0].first, Log_Level::WAR);
        EXPECT_EQ(sink.lines[0].second,
                  "mutex ptr_info_shmem->shm_mutex was held by a process that died: made consistent, going on");
        EXPECT_TRUE(held_elsewhere());

        Nothrow_Lock again(Robust_Mutex(shared.mutex, "ptr_info_shmem->shm_mutex", nullptr, &sink));
        EXPECT_FALSE(again.owns_lock());
        EXPECT_EQ(again.error(), EDEADLK);
        ASSERT_EQ(sink.lines.size(), 2u);
        EXPECT_EQ(sink.lines[1].second, "mutex_lock_ex ptr_info_shmem->shm_mutex ret_val = " + std::to_string(EDEADLK) +
                                            " " + std::strerror(EDEADLK));
    }
    EXPECT_FALSE(held_elsewhere()) << "the scope's end releases it";
    {
        Nothrow_Lock lock(Robust_Mutex(shared.mutex, "m_mutex_lib", nullptr, &sink));
        EXPECT_EQ(lock.unlock(), 0);
        EXPECT_FALSE(lock.owns_lock());
        EXPECT_FALSE(held_elsewhere());
    }
    EXPECT_EQ(sink.lines.size(), 2u);

    Nothrow_Lock detached(Robust_Mutex(nullptr, "m_mutex_lib", nullptr, &sink));
    EXPECT_FALSE(detached.owns_lock());
    EXPECT_EQ(detached.error(), EINVAL);
}

// A component's own failure texts: the sink's failed() sees every failed
// operation with the mutex, its owner and the code.
TEST(Robust_Mutex, FailuresReachTheSinksOwnFailureText)
{
    struct Own_Text_Sink final : Lock_Log_Sink {
        void write(Log_Level, const char* text) noexcept override { lines.emplace_back(text); }
        void failed(Lock_Operation operation, const char* name, const char* owner, int code) noexcept override
        {
            lines.push_back(std::to_string(static_cast<int>(operation)) + " " + name + " " + owner + " " +
                            std::to_string(code));
        }
        std::vector<std::string> lines;
    };
    Shared_Mutex shared;
    Own_Text_Sink sink;
    Robust_Mutex mutex(shared.mutex, "m_incoming_cmd_mutex", "axmngr_cmd_th", &sink);
    mutex.lock();
    EXPECT_EQ(thrown_text([&] { mutex.lock(); }),
              std::string("Failed to mutex_lock_ex -> m_incoming_cmd_mutex ") + std::strerror(EDEADLK));
    std::thread([&] { EXPECT_EQ(mutex.unlock_code(), EPERM); }).join();
    mutex.unlock();
    const std::vector<std::string> expected = {
        "0 m_incoming_cmd_mutex axmngr_cmd_th " + std::to_string(EDEADLK),
        "2 m_incoming_cmd_mutex axmngr_cmd_th " + std::to_string(EPERM),
    };
    EXPECT_EQ(sink.lines, expected);
}
