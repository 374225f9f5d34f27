// ecm_cycle_watch [SECONDS]: a client of busmaster in OP with the demo cell.
// Each tick it takes the count as a client does; every half second it steps
// the drive's control word (shutdown, switch on, enable operation) and
// writes a counter to the I/O module's outputs, and prints the ticks taken,
// the drive's status word and the outputs it wrote. Ends with status 1 when
// no tick comes for a second or the master reports a stop (tick -1).
#include <fcntl.h>
#include <semaphore.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <mutex>

#include "robust_mutex.h"
#include "xelo_ethercat_system_types.h"

namespace {
constexpr int DIO_BYTE = 26;
constexpr int DRIVE_BYTE = 27;

template <typename Region>
Region* map_region(const char* name)
{
    const int fd = shm_open(name, O_RDWR, 0);
    if (fd < 0)
        return nullptr;
    void* p = mmap(nullptr, sizeof(Region), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    close(fd);
    return p == MAP_FAILED ? nullptr : static_cast<Region*>(p);
}
}  // namespace

int main(int argc, char** argv)
{
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 3;
    auto* pdo = map_region<Shared_Pdo_Mem_Region>(ecm_shm::PDO_NAME);
    auto* tick = map_region<Shared_Tick_Mem_Region>(ecm_shm::TICK_NAME);
    if (pdo == nullptr || tick == nullptr) {
        std::printf("[ecm_cycle_watch] the master's memories are not there\n");
        return 1;
    }
    Robust_Mutex pdo_mutex(&pdo->shm_mutex, "pdo");
    Robust_Mutex tick_mutex(&tick->shm_mutex, "tick");
    const uint16_t controls[] = {0x0080, 0x0006, 0x0007, 0x000F};
    long ticks = 0;
    for (int step = 0; step < seconds * 2; ++step) {
        const uint16_t control = controls[step < 3 ? step : 3];
        {
            std::lock_guard<Robust_Mutex> lock(pdo_mutex);
            pdo->shm_buf_out[DRIVE_BYTE] = static_cast<uint8_t>(control);
            pdo->shm_buf_out[DRIVE_BYTE + 1] = static_cast<uint8_t>(control >> 8);
            pdo->shm_buf_out[DIO_BYTE] = static_cast<uint8_t>(step);
        }
        for (int i = 0; i < 500; ++i) {
            timespec deadline{};
            clock_gettime(CLOCK_REALTIME, &deadline);
            deadline.tv_sec += 1;
            if (sem_timedwait(&tick->shm_sem_tick_ready, &deadline) != 0) {
                std::printf("[ecm_cycle_watch] no tick for a second\n");
                return 1;
            }
            std::lock_guard<Robust_Mutex> lock(tick_mutex);
            if (tick->tick_count == -1) {
                std::printf("[ecm_cycle_watch] the master stopped the cycle\n");
                return 1;
            }
            ticks += tick->tick_count;
            tick->tick_count = 0;
            tick->client_started_cyclic_op = 1;
        }
        uint16_t status = 0;
        {
            std::lock_guard<Robust_Mutex> lock(pdo_mutex);
            status = static_cast<uint16_t>(pdo->shm_buf_in[DRIVE_BYTE] | (pdo->shm_buf_in[DRIVE_BYTE + 1] << 8));
        }
        std::printf("[ecm_cycle_watch] ticks %6ld  control word 0x%04x  status word 0x%04x  I/O outputs 0x%02x\n",
                    ticks, control, status, step & 0xFF);
    }
    return 0;
}
