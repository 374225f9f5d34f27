// The master's mutex helpers and the record of its last error.
#include <gtest/gtest.h>

#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <thread>

#include "thrown_text.h"
#include "xelo_ethercat_master_class.h"

namespace {
// Whether another thread finds the mutex held.
bool held(pthread_mutex_t* mutex)
{
    int result = 0;
    std::thread other([&] {
        result = pthread_mutex_trylock(mutex);
        if (result == 0)
            pthread_mutex_unlock(mutex);
    });
    other.join();
    return result == EBUSY;
}
}  // namespace

TEST(MasterMutex, UnlockSwitchOffLeavesTheMutexLocked)
{
    ECM_Master master;
    pthread_mutex_t mutex;
    master.init_pthread_mutex_ex(&mutex, false, true, true);
    master.mutex_lock_ex(&mutex, "m_test_mutex");
    testing::internal::CaptureStdout();
    master.mutex_unlock_ex(&mutex, "m_test_mutex", false);
    const std::string log = testing::internal::GetCapturedStdout();
    EXPECT_NE(log.find(" WAR:"), std::string::npos) << log;
    EXPECT_NE(log.find("\t mutex_unlock_ex...m_test_mutex not to do!"), std::string::npos) << log;
    EXPECT_TRUE(held(&mutex));
    master.mutex_unlock_ex(&mutex, "m_test_mutex", true);
    EXPECT_FALSE(held(&mutex));
}

TEST(MasterMutex, DoubleLockThrowsNamingTheMutex)
{
    ECM_Master master;
    pthread_mutex_t mutex;
    master.init_pthread_mutex_ex(&mutex, false, true, true);
    master.mutex_lock_ex(&mutex, "m_mutex_change_state");
    EXPECT_EQ(thrown_text([&] { master.mutex_lock_ex(&mutex, "m_mutex_change_state"); }),
              std::string("Failed to mutex_lock_ex -> m_mutex_change_state ") + std::strerror(EDEADLK));
    master.mutex_unlock_ex(&mutex, "m_mutex_change_state", true);
}

TEST(MasterMutex, ForeignUnlockThrowsNamingTheMutex)
{
#if defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "the thread sanitizer reports the refused unlock that this case makes on purpose";
#endif
    ECM_Master master;
    pthread_mutex_t mutex;
    master.init_pthread_mutex_ex(&mutex, false, true, true);
    master.mutex_lock_ex(&mutex, "m_mutex_change_state");
    std::string foreign;
    std::thread other(
        [&] { foreign = thrown_text([&] { master.mutex_unlock_ex(&mutex, "m_mutex_change_state", true); }); });
    other.join();
    EXPECT_EQ(foreign, std::string("Failed to mutex_unlock_ex -> m_mutex_change_state ") + std::strerror(EPERM));
    master.mutex_unlock_ex(&mutex, "m_mutex_change_state", true);
}

TEST(MasterMutex, InitialisingOverAnInitialisedMutexSucceeds)
{
    ECM_Master master;
    pthread_mutex_t mutex;
    master.init_pthread_mutex_ex(&mutex, true, true, true);
    master.init_pthread_mutex_ex(&mutex, true, true, true);
    Robust_Mutex shm_mutex = ecm_mutex(&mutex, "shm_mutex");
    std::lock_guard<Robust_Mutex> guard(shm_mutex);
    EXPECT_TRUE(held(&mutex));
}

TEST(MasterMutex, SharedMutexLeftLockedByADeadProcessIsRecovered)
{
    ECM_Master master;
    auto* mutex = static_cast<pthread_mutex_t*>(
        mmap(nullptr, sizeof(pthread_mutex_t), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0));
    ASSERT_NE(mutex, MAP_FAILED);
    master.init_pthread_mutex_ex(mutex, true, true, true);
    const pid_t child = fork();
    if (child == 0) {
        pthread_mutex_lock(mutex);
        _exit(0);
    }
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));

    testing::internal::CaptureStdout();
    master.mutex_lock_ex(mutex, "m_process_data_exchange_shmem->shm_mutex");
    const std::string log = testing::internal::GetCapturedStdout();
    EXPECT_NE(log.find("m_process_data_exchange_shmem->shm_mutex"), std::string::npos) << log;
    master.mutex_unlock_ex(mutex, "m_process_data_exchange_shmem->shm_mutex", true);
    master.mutex_lock_ex(mutex, "m_process_data_exchange_shmem->shm_mutex");
    master.mutex_unlock_ex(mutex, "m_process_data_exchange_shmem->shm_mutex", true);
    munmap(mutex, sizeof(pthread_mutex_t));
}

TEST(MasterLastError, WaitPeriodAndCyclicFrameErrorsStayUntilCleared)
{
    struct Step {
        Ec_Master_Error_Type type;
        EC_Master_Error_Code code;
        int slave;
        Ec_Master_Error_Type kept_type;
        int kept_slave;
    };
    const Step steps[] = {
        {ECAT_STATE, ACTUAL_STATE_NO_CORRECT, 1002, ECAT_STATE, 1002},
        {ECAT_XML_FILE, NOT_FOUND, 0, ECAT_XML_FILE, 0},  // ordinary errors are overwritten
        {ECAT_CYCLIC_FRAME, NO_WATCHDOG_CHECK, 0, ECAT_CYCLIC_FRAME, 0},
        {ECAT_STATE, NO_FRAME_READ, 1003, ECAT_CYCLIC_FRAME, 0},  // sticky
        {XENOMAI_WAIT_PERIOD_TIMEOUT_EXCEEDED, NULL_CODE, 1001, ECAT_CYCLIC_FRAME, 0},
        {NOT_ERROR_PRESENT, NULL_CODE, 0, NOT_ERROR_PRESENT, 0},  // cleared
        {XENOMAI_WAIT_PERIOD_TIMEOUT_EXCEEDED, NULL_CODE, 1004, XENOMAI_WAIT_PERIOD_TIMEOUT_EXCEEDED, 1004},
        {START_DC_FAILED, NULL_CODE, 1001, XENOMAI_WAIT_PERIOD_TIMEOUT_EXCEEDED, 1004},
    };
    ECM_Master master;
    for (const Step& s : steps) {
        master.set_last_master_error(s.type, s.code, s.slave);
        Ec_Master_Error_Type type{};
        EC_Master_Error_Code code{};
        int slave = -1;
        master.get_last_error(&type, &code, &slave);
        EXPECT_EQ(type, s.kept_type) << s.type;
        EXPECT_EQ(slave, s.kept_slave) << s.type;
    }
}
