// Latency from the master's tick to a framework client's wake-up: rtframe
// with a master, whose tick semaphore a ticker thread of this program posts
// in the master's tick memory (made of the real records, with a scripted
// command server that brings the "bus" to OP), to the return of a client's
// wait on its framework semaphore. Beside it, measured in the same run, the
// bare three-process chain with the same hops: a ticker process posts a
// process-shared semaphore, a relay process waits on it and posts a second
// one, the client process waits on that. Same period and priorities. Prints
// p50, p99 and max of both and their ratios; it never fails on time.
//
// Run it as root, e.g. build/bench/bench/master_tick_wakeup_bench: it starts
// itself again inside tests/isolate. Build it without sanitizers for
// meaningful figures.
#include <sched.h>
#include <semaphore.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "bench_support.h"
#include "fake_master.h"
#include "quiet_stdout.h"
#include "thin_client.h"

namespace {
using bench::Figures;
using bench::figures_of;
using bench::now_ns;

constexpr int64_t PERIOD_NS = 1000000;  // the cycle of master_tick_wakeup_bench.xml
constexpr int SAMPLES = 5000;
constexpr int WARM_UP = 200;
constexpr int MASTER_PRIORITY = 96;  // busmaster's cyclic thread
constexpr int RELAY_PRIORITY = 95;   // rtframe's real-time thread
constexpr int CLIENT_PRIORITY = 80;

bool set_fifo(int priority)
{
    sched_param param{};
    param.sched_priority = priority;
    return sched_setscheduler(0, SCHED_FIFO, &param) == 0;
}

// Sleeps to the next absolute deadline of the period.
void sleep_until(int64_t deadline_ns)
{
    const timespec at{static_cast<time_t>(deadline_ns / 1000000000LL), static_cast<long>(deadline_ns % 1000000000LL)};
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &at, nullptr) == EINTR) {
    }
}

void post_if_zero(sem_t* sem)
{
    int value = 0;
    sem_getvalue(sem, &value);
    if (value < 1)
        sem_post(sem);
}

// ---- bare chain ------------------------------------------------------------

struct Chain {
    sem_t tick;
    sem_t client;
    int64_t stamp_ns;
    int stop;
};

[[noreturn]] void run_chain_ticker(Chain* chain)
{
    set_fifo(MASTER_PRIORITY);
    int64_t deadline = now_ns() + 10 * PERIOD_NS;
    while (!__atomic_load_n(&chain->stop, __ATOMIC_ACQUIRE)) {
        sleep_until(deadline);
        __atomic_store_n(&chain->stamp_ns, now_ns(), __ATOMIC_RELEASE);
        post_if_zero(&chain->tick);
        deadline += PERIOD_NS;
    }
    _exit(0);
}

[[noreturn]] void run_chain_relay(Chain* chain)
{
    set_fifo(RELAY_PRIORITY);
    while (!__atomic_load_n(&chain->stop, __ATOMIC_ACQUIRE)) {
        timespec deadline{};
        clock_gettime(CLOCK_REALTIME, &deadline);
        deadline.tv_sec += 1;
        if (sem_timedwait(&chain->tick, &deadline) == 0)
            post_if_zero(&chain->client);
    }
    _exit(0);
}

std::vector<int64_t> measure_bare_chain()
{
    void* memory = mmap(nullptr, sizeof(Chain), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
    auto* chain = static_cast<Chain*>(memory);
    sem_init(&chain->tick, 1, 0);
    sem_init(&chain->client, 1, 0);
    chain->stamp_ns = 0;
    chain->stop = 0;
    const pid_t relay = fork();
    if (relay == 0)
        run_chain_relay(chain);
    const pid_t ticker = fork();
    if (ticker == 0)
        run_chain_ticker(chain);
    std::vector<int64_t> latencies;
    for (int i = 0; i < SAMPLES + WARM_UP; ++i) {
        while (sem_wait(&chain->client) != 0) {
        }
        const int64_t woken = now_ns();
        if (i >= WARM_UP)
            latencies.push_back(woken - __atomic_load_n(&chain->stamp_ns, __ATOMIC_ACQUIRE));
    }
    __atomic_store_n(&chain->stop, 1, __ATOMIC_RELEASE);
    waitpid(ticker, nullptr, 0);
    waitpid(relay, nullptr, 0);
    sem_destroy(&chain->tick);
    sem_destroy(&chain->client);
    munmap(memory, sizeof(Chain));
    return latencies;
}

// ---- framework with a master ----------------------------------------------------

// The master's cycle: stamps, then counts the tick and posts the semaphore
// as busmaster's cyclic thread does.
class Master_Ticker {
public:
    explicit Master_Ticker(Fake_Master_Memories& memories) : m_memories(memories)
    {
        m_thread = std::thread([this] {
            set_fifo(MASTER_PRIORITY);
            int64_t deadline = now_ns() + PERIOD_NS;
            while (!m_end) {
                sleep_until(deadline);
                m_stamp_ns.store(now_ns(), std::memory_order_release);
                m_memories.tick();
                deadline += PERIOD_NS;
            }
        });
    }
    ~Master_Ticker()
    {
        m_end = true;
        m_thread.join();
    }
    int64_t stamp_ns() const { return m_stamp_ns.load(std::memory_order_acquire); }

private:
    Fake_Master_Memories& m_memories;
    std::atomic<int64_t> m_stamp_ns{0};
    std::atomic<bool> m_end{false};
    std::thread m_thread;
};

std::vector<Master_Step> steps_to_op()
{
    return {version_step(),
            {"start_ethercat_master /tmp/none.xml\n", "started"},
            {"restart_master_comunication_with_slave\n", "restart_master_comunication_ok"},
            {"set_op_cycle_time 1000000\n", "reply_ok"},
            {"set_watchdog_on 20\n", "reply_ok"},
            {"go_into_next_state 4\n", "reply_ok"},
            {"go_into_next_state 8\n", "reply_ok"},
            {"get_last_system_error\n", "4 0 0 0"}};
}

std::vector<int64_t> measure_framework(const Master_Ticker& ticker)
{
    std::vector<int64_t> latencies;
    std::unique_ptr<Thin_Client> attached;
    {
        Quiet_Stdout quiet;
        attached = std::make_unique<Thin_Client>();
    }
    Thin_Client& client = *attached;
    client.take_slot("master_tick_bench", 1);
    // Wait until the framework is online: its wake-ups follow the master.
    for (int k = 0; k < 5000 && client.get_input<uint8_t>("is_ethercat_master_online") != 1; ++k)
        static_cast<void>(client.wait_wakeup(std::chrono::milliseconds(10)));  // the loop polls the input
    for (int i = 0; i < SAMPLES + WARM_UP; ++i) {
        if (!client.wait_wakeup(std::chrono::seconds(2)))
            break;
        const int64_t woken = now_ns();
        if (i >= WARM_UP)
            latencies.push_back(woken - ticker.stamp_ns());
    }
    return latencies;
}

bool queue_limit_ok()
{
    long msg_max = 0;
    std::ifstream("/proc/sys/fs/mqueue/msg_max") >> msg_max;
    return msg_max >= 1000;
}

void print_row(const char* name, const Figures& f)
{
    std::printf("%-36s p50 %8.1f us   p99 %8.1f us   max %8.1f us\n", name, f.p50 / 1000.0, f.p99 / 1000.0,
                f.max / 1000.0);
}

int run()
{
    if (!queue_limit_ok()) {
        std::printf("fs.mqueue.msg_max is below 1000\n");
        return EXIT_FAILURE;
    }
    if (!set_fifo(CLIENT_PRIORITY))
        std::printf("warning: no SCHED_FIFO for the client (%s): figures include time-sharing noise\n",
                    std::strerror(errno));
    std::printf("%d wake-ups per chain, period %lld us\n", SAMPLES, static_cast<long long>(PERIOD_NS / 1000));

    const std::vector<int64_t> bare = measure_bare_chain();

    std::vector<int64_t> framework;
    int status = -1;
    std::string log;
    std::vector<std::string> problems;
    {
        Fake_Master_Memories memories;
        memories.set_slave_counts(1, 1);
        memories.set_inputs(0, 0, 0, 2, 16);
        memories.set_outputs(0, 0, 0, 2, 16);
        Scripted_Master master(steps_to_op());
        Master_Ticker ticker(memories);
        Rtframe_Child rtframe({"-s", "-c", BENCH_DESCRIPTOR}, "/tmp/master_tick_wakeup_bench.log");
        if (!rtframe.wait_until_ready(std::chrono::seconds(30))) {
            std::printf("rtframe did not start\nrtframe log:\n%s\n", rtframe.log().c_str());
            return EXIT_FAILURE;
        }
        framework = measure_framework(ticker);
        status = bench::stop_rtframe(rtframe);
        log = rtframe.log();
        problems = master.finish();
    }
    if (framework.size() < static_cast<std::size_t>(SAMPLES) || !problems.empty()) {
        std::printf("the framework client was not woken %d times after the master reached OP\n", SAMPLES);
        for (const std::string& problem : problems)
            std::printf("master: %s\n", problem.c_str());
        std::printf("rtframe log:\n%s\n", log.c_str());
        return EXIT_FAILURE;
    }

    const Figures bare_figures = figures_of(bare);
    const Figures framework_figures = figures_of(framework);
    print_row("bare three-process chain", bare_figures);
    print_row("master tick -> rtframe -> client", framework_figures);
    const double median_ratio = static_cast<double>(framework_figures.p50) / static_cast<double>(bare_figures.p50);
    const double p99_ratio = static_cast<double>(framework_figures.p99) / static_cast<double>(bare_figures.p99);
    std::printf("median ratio rtframe / bare: %.2f (%s 1.5)\n", median_ratio, median_ratio <= 1.5 ? "within" : "ABOVE");
    std::printf("p99 ratio rtframe / bare:    %.2f (%s 2.0)\n", p99_ratio, p99_ratio <= 2.0 ? "within" : "ABOVE");
    return bench::report_rtframe_exit(status);
}
}  // namespace

int main(int argc, char** argv)
{
    return bench::run_isolated(argc, argv, run);
}
