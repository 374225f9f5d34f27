// The client API against busmaster as a child process, for what needs no
// bus: the hook with its version check, the memories busmaster created (of
// the records' sizes), requests and their guards, the tick waits outside OP,
// and a master started again after a kill.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <semaphore.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <ctime>
#include <fstream>
#include <future>
#include <memory>
#include <string>
#include <thread>

#include "child_process.h"
#include "xelo_ethercat_user_interface.h"

namespace {
const std::string CONFIG = "/tmp/ecm_system_cfg.xml";

class Client_And_Busmaster : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::ofstream(CONFIG)
            << "<EcmSystem><SystemConfig><Cfg><EtherCATNetInterface>ecm0</EtherCATNetInterface>"
               "<EtheCATUserSocketIpAddr>127.0.0.1</EtheCATUserSocketIpAddr>"
               "<EtheCATUserSocketPort>500</EtheCATUserSocketPort></Cfg></SystemConfig></EcmSystem>\n";
        m_master = std::make_unique<Child_Process>(BUSMASTER_BINARY, std::vector<std::string>{"-c", CONFIG},
                                                   "/tmp/busmaster.log");
        m_master->wait_ready_ex(probe::udp_port(ecm_protocol::PORT), std::chrono::seconds(10));
    }
    void TearDown() override { EXPECT_EQ(m_master->stop(), 128 + SIGTERM) << m_master->log(); }

    void start_master_again_after_a_kill()
    {
        ASSERT_EQ(m_master->stop(std::chrono::seconds(20), SIGKILL), 128 + SIGKILL);
        m_master = std::make_unique<Child_Process>(BUSMASTER_BINARY, std::vector<std::string>{"-c", CONFIG},
                                                   "/tmp/busmaster-2.log");
        m_master->wait_ready_ex(probe::udp_port(ecm_protocol::PORT), std::chrono::seconds(10));
    }

    std::unique_ptr<Child_Process> m_master;
};

// sem_timedwait on sem for up to seconds; 0 or the errno.
int timed_wait(sem_t* sem, int seconds)
{
    timespec deadline{};
    clock_gettime(CLOCK_REALTIME, &deadline);
    deadline.tv_sec += seconds;
    int rc;
    while ((rc = sem_timedwait(sem, &deadline)) != 0 && errno == EINTR) {
    }
    return rc == 0 ? 0 : errno;
}

std::size_t size_of(const char* name)
{
    const int fd = shm_open(name, O_RDONLY, 0);
    struct stat st {};
    const int rc = fd == -1 ? -1 : fstat(fd, &st);
    if (fd != -1)
        close(fd);
    return rc == 0 ? static_cast<std::size_t>(st.st_size) : 0;
}
}  // namespace

TEST_F(Client_And_Busmaster, HooksAndAsksWhatNeedsNoBus)
{
    ASSERT_EQ(preliminary_hook(1081), ecm_protocol::SYSTEM_VERSION) << m_master->log();
    // The memories are busmaster's, of the records' sizes, left as they were.
    EXPECT_EQ(size_of(ecm_shm::PDO_NAME), sizeof(Shared_Pdo_Mem_Region));
    EXPECT_EQ(size_of(ecm_shm::INFO_NAME), sizeof(Shared_Slave_Info_Mem_Region));
    EXPECT_EQ(size_of(ecm_shm::TICK_NAME), sizeof(Shared_Tick_Mem_Region));

    EXPECT_EQ(get_system_state(), SOCKET_OPENED);
    ECM_Error_Struct error{ECAT_STATE, NOT_FOUND, 5};
    EXPECT_EQ(get_last_system_error(&error), 0);
    EXPECT_EQ(error.error_type, NOT_ERROR_PRESENT);
    EXPECT_EQ(error.error_code, NULL_CODE);
    int resent = -1, consecutive = -1;
    EXPECT_EQ(get_frame_resend_info(&resent, &consecutive), 0);
    EXPECT_EQ(resent, 0);
    EXPECT_EQ(consecutive, 0);

    // Without a started bus the guards refuse the master's requests.
    testing::internal::CaptureStdout();
    EXPECT_EQ(go_into_new_state(OP_STATE), -1);
    EXPECT_EQ(set_operational_cycle_time_ns(1000000), -1);
    EXPECT_NE(testing::internal::GetCapturedStdout().find("!!! System or Master NOT Connected !!!"), std::string::npos);

    // Tick waits outside OP: 10 ms, -1, with and without time-out.
    for (int timed = 0; timed < 2; ++timed) {
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(timed ? wait_master_tick_with_timeout(100) : wait_master_tick(), -1);
        EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(10));
    }
    EXPECT_EQ(last_unhook(), 0);
}

// A client still waiting on the tick of a killed master when a new master
// starts keeps a working semaphore: the new master's memories are new ones
// (the client maps them when it connects again), never the old ones
// initialised again under a waiter, which loses the waiter's wake-ups.
TEST_F(Client_And_Busmaster, AMasterStartedAgainLeavesTheKilledMastersTickToItsWaiter)
{
    ASSERT_EQ(preliminary_hook(1081), ecm_protocol::SYSTEM_VERSION) << m_master->log();
    const int fd = shm_open(ecm_shm::TICK_NAME, O_RDWR, 0);
    ASSERT_NE(fd, -1);
    void* mapped = mmap(nullptr, sizeof(Shared_Tick_Mem_Region), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    close(fd);
    ASSERT_NE(mapped, MAP_FAILED);
    sem_t* tick = &static_cast<Shared_Tick_Mem_Region*>(mapped)->shm_sem_tick_ready;

    std::atomic<bool> waiting{false};
    auto waiter = std::async(std::launch::async, [&] {
        waiting = true;
        return timed_wait(tick, 20);
    });
    while (!waiting)
        std::this_thread::yield();
    start_master_again_after_a_kill();  // the waiter sleeps in the semaphore meanwhile

    ASSERT_EQ(sem_post(tick), 0);
    EXPECT_EQ(waiter.get(), 0) << "the wake-up was lost";
    munmap(mapped, sizeof(Shared_Tick_Mem_Region));
    EXPECT_EQ(last_unhook(), 0);
}
