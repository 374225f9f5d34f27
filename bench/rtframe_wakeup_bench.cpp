// Wake-up latency of a framework client: from the framework's tick (the
// expiration of rtframe's offline timer) to the client's return from its
// semaphore wait, beside a bare chain measured in the same run: a ticker
// process woken by its own timer posts a process-shared semaphore that the
// client process waits on. Same period, same priorities, same client.
// Prints p50, p99 and max of both and the ratio of the medians; it never
// fails on time.
//
// Run it as root, e.g. build/bench/rtframe_wakeup_bench: it starts itself
// again inside tests/isolate (see bench_support.h). Build it without
// sanitizers for meaningful figures.
#include <dirent.h>
#include <fcntl.h>
#include <sched.h>
#include <semaphore.h>
#include <sys/mman.h>
#include <sys/timerfd.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "bench_support.h"
#include "quiet_stdout.h"
#include "thin_client.h"

namespace {
using bench::Figures;
using bench::figures_of;
using bench::now_ns;

constexpr int64_t PERIOD_NS = 500000;  // the cycle of rtframe_wakeup_bench.xml
constexpr int SAMPLES = 10000;
constexpr int WARM_UP = 200;
constexpr int TICKER_PRIORITY = 95;  // as rtframe's real-time thread
constexpr int CLIENT_PRIORITY = 80;

bool set_fifo(int priority)
{
    sched_param param{};
    param.sched_priority = priority;
    return sched_setscheduler(0, SCHED_FIFO, &param) == 0;
}

// ---- bare chain ------------------------------------------------------------

struct Chain {
    sem_t sem;
    int64_t first_expiration_ns;
    uint64_t expirations;
    int stop;
};

[[noreturn]] void run_ticker(Chain* chain)
{
    set_fifo(TICKER_PRIORITY);
    const int fd = timerfd_create(CLOCK_MONOTONIC, TFD_CLOEXEC);
    itimerspec timer_value{};
    timer_value.it_value.tv_sec = chain->first_expiration_ns / 1000000000LL;
    timer_value.it_value.tv_nsec = chain->first_expiration_ns % 1000000000LL;
    timer_value.it_interval.tv_nsec = PERIOD_NS;
    timerfd_settime(fd, TFD_TIMER_ABSTIME, &timer_value, nullptr);
    while (!__atomic_load_n(&chain->stop, __ATOMIC_ACQUIRE)) {
        uint64_t count = 0;
        if (read(fd, &count, sizeof(count)) != sizeof(count))
            break;
        __atomic_add_fetch(&chain->expirations, count, __ATOMIC_RELEASE);
        int value = 0;
        sem_getvalue(&chain->sem, &value);
        if (value < 1)
            sem_post(&chain->sem);
    }
    _exit(0);
}

std::vector<int64_t> measure_bare_chain()
{
    void* memory = mmap(nullptr, sizeof(Chain), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
    auto* chain = static_cast<Chain*>(memory);
    sem_init(&chain->sem, 1, 0);
    chain->first_expiration_ns = now_ns() + 20000000;
    chain->expirations = 0;
    chain->stop = 0;
    const pid_t ticker = fork();
    if (ticker == 0)
        run_ticker(chain);
    std::vector<int64_t> latencies;
    for (int i = 0; i < SAMPLES + WARM_UP; ++i) {
        while (sem_wait(&chain->sem) != 0) {
        }
        const int64_t woken = now_ns();
        const uint64_t expirations = __atomic_load_n(&chain->expirations, __ATOMIC_ACQUIRE);
        const int64_t tick = chain->first_expiration_ns + static_cast<int64_t>(expirations - 1) * PERIOD_NS;
        if (i >= WARM_UP)
            latencies.push_back(woken - tick);
    }
    __atomic_store_n(&chain->stop, 1, __ATOMIC_RELEASE);
    waitpid(ticker, nullptr, 0);
    sem_destroy(&chain->sem);
    munmap(memory, sizeof(Chain));
    return latencies;
}

// ---- framework -------------------------------------------------------------

// The next expiration of rtframe's timer, from its timerfd's fdinfo
// ("it_value: (sec, nsec)", the time left), read between two clock reads.
bool read_timer_phase(pid_t pid, int64_t& next_expiration_ns)
{
    const std::string fd_dir = "/proc/" + std::to_string(pid) + "/fd";
    DIR* dir = opendir(fd_dir.c_str());
    if (dir == nullptr)
        return false;
    std::string timer_fd;
    while (dirent* entry = readdir(dir)) {
        char target[64] = {};
        const std::string link = fd_dir + "/" + entry->d_name;
        if (readlink(link.c_str(), target, sizeof(target) - 1) > 0 && std::strcmp(target, "anon_inode:[timerfd]") == 0)
            timer_fd = entry->d_name;
    }
    closedir(dir);
    if (timer_fd.empty())
        return false;
    for (int attempt = 0; attempt < 1000; ++attempt) {
        const int64_t before = now_ns();
        std::ifstream info("/proc/" + std::to_string(pid) + "/fdinfo/" + timer_fd);
        std::string line;
        long long sec = 0, nsec = 0;
        while (std::getline(info, line))
            if (std::sscanf(line.c_str(), "it_value: (%lld, %lld)", &sec, &nsec) == 2)
                break;
        const int64_t after = now_ns();
        // (0, 0): expired, not yet read by rtframe; a slow read: try again.
        if ((sec != 0 || nsec != 0) && after - before < 20000) {
            next_expiration_ns = (before + after) / 2 + sec * 1000000000LL + nsec;
            return true;
        }
    }
    return false;
}

std::vector<int64_t> measure_framework(pid_t rtframe)
{
    std::vector<int64_t> latencies;
    std::unique_ptr<Thin_Client> attached;
    {
        Quiet_Stdout quiet;
        attached = std::make_unique<Thin_Client>();
    }
    Thin_Client& client = *attached;
    client.take_slot("wakeup_bench", 1);
    uint32_t tick = 0;
    if (!client.wait_wakeup(std::chrono::seconds(10), &tick))  // the first tick follows rtframe's start pause
        return latencies;
    int64_t next_expiration = 0;
    if (!read_timer_phase(rtframe, next_expiration)) {
        std::printf("cannot read the phase of rtframe's timer\n");
        return latencies;
    }
    int64_t base = 0;  // the expiration of tick 0
    for (int i = 0; i < SAMPLES + WARM_UP; ++i) {
        if (!client.wait_wakeup(std::chrono::seconds(2), &tick))
            break;
        const int64_t woken = now_ns();
        if (i == 0) {
            // The latest expiration of the timer's grid at or before the wake-up.
            const int64_t behind = ((woken - next_expiration) % PERIOD_NS + PERIOD_NS) % PERIOD_NS;
            base = woken - behind - static_cast<int64_t>(tick) * PERIOD_NS;
        }
        if (i >= WARM_UP)
            latencies.push_back(woken - (base + static_cast<int64_t>(tick) * PERIOD_NS));
    }
    return latencies;
}

bool queue_limit_ok()
{
    long msg_max = 0;
    std::ifstream("/proc/sys/fs/mqueue/msg_max") >> msg_max;
    if (msg_max >= 1000)
        return true;
    std::ofstream("/proc/sys/fs/mqueue/msg_max") << 1000;
    std::ifstream("/proc/sys/fs/mqueue/msg_max") >> msg_max;
    return msg_max >= 1000;
}

void print_row(const char* name, const Figures& f)
{
    std::printf("%-28s p50 %8.1f us   p99 %8.1f us   max %8.1f us\n", name, f.p50 / 1000.0, f.p99 / 1000.0,
                f.max / 1000.0);
}
int run()
{
    if (!queue_limit_ok()) {
        std::printf("fs.mqueue.msg_max is below 1000: run 'sysctl -w fs.mqueue.msg_max=1000' as root\n");
        return EXIT_FAILURE;
    }
    if (!set_fifo(CLIENT_PRIORITY))
        std::printf("warning: no SCHED_FIFO for the client (%s): figures include time-sharing noise\n",
                    std::strerror(errno));
    std::printf("%d wake-ups per chain, period %" PRId64 " us\n", SAMPLES, PERIOD_NS / 1000);

    const std::vector<int64_t> bare = measure_bare_chain();

    const std::unique_ptr<Rtframe_Child> rtframe =
        bench::start_rtframe(BENCH_DESCRIPTOR, "/tmp/rtframe_wakeup_bench.log");
    if (!rtframe)
        return EXIT_FAILURE;
    const std::vector<int64_t> framework = measure_framework(rtframe->pid());
    const int status = bench::stop_rtframe(*rtframe);
    if (framework.size() < static_cast<std::size_t>(SAMPLES)) {
        std::printf("the framework client was not woken %d times\nrtframe log:\n%s\n", SAMPLES, rtframe->log().c_str());
        return EXIT_FAILURE;
    }

    const Figures bare_figures = figures_of(bare);
    const Figures framework_figures = figures_of(framework);
    print_row("bare two-hop chain", bare_figures);
    print_row("rtframe tick -> client", framework_figures);
    const double ratio = static_cast<double>(framework_figures.p50) / static_cast<double>(bare_figures.p50);
    std::printf("median ratio rtframe / bare: %.2f (%s 1.5)\n", ratio, ratio <= 1.5 ? "within" : "ABOVE");
    return bench::report_rtframe_exit(status);
}
}  // namespace

int main(int argc, char** argv)
{
    return bench::run_isolated(argc, argv, run);
}
