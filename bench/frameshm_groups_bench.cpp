// Latency of data groups and command channels between two processes
// attached to rtframe -o, beside a bare baseline measured in the same run:
// two processes that ping-pong over two process-shared semaphores.
//   post -> wake: from just before post_sem_data_group_ex in the writer to
//     the return of wait_sem_data_group_ex in the reader (bare: from
//     sem_post to the return of the peer's sem_wait);
//   command round trip, the server already waiting: set the command,
//     send_cmd_ex, the server's wait_cmd_ex / send_answer_ex, the client's
//     wait_answer_ex (bare: post, the peer's wait and post back, wait).
// Prints p50, p99 and max of each and the ratios of the medians; it never
// fails on time.
//
// Run it as root, e.g. build/bench/frameshm_groups_bench: it starts itself
// again inside tests/isolate (see bench_support.h). Build it without
// sanitizers for meaningful figures.
#include <fcntl.h>
#include <sched.h>
#include <semaphore.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "bench_support.h"
#include "quiet_stdout.h"
#include "xelo_framework_shm_manager.h"

namespace {
using bench::Figures;
using bench::figures_of;
using bench::now_ns;

constexpr int SAMPLES = 10000;
constexpr int WARM_UP = 500;
constexpr int TOTAL = SAMPLES + WARM_UP;
constexpr int PRIORITY = 80;
constexpr const char* RTFRAME_LOG = "/tmp/frameshm_groups_bench.log";

void print_row(const char* name, const Figures& f)
{
    std::printf("%-34s p50 %8.1f us   p99 %8.1f us   max %8.1f us\n", name, f.p50 / 1000.0, f.p99 / 1000.0,
                f.max / 1000.0);
}

// Shared by the bench processes: an anonymous mapping inherited by fork.
struct Shared {
    sem_t ping, pong;  // the bare baseline
    sem_t ready, ack;  // hand-shakes outside the measured spans
    int64_t sent_ns;
    int64_t one_way[TOTAL];
};

void wait_sem(sem_t* sem)
{
    while (sem_wait(sem) != 0 && errno == EINTR) {
    }
}

bool wait_sem_for(sem_t* sem, int seconds)
{
    timespec deadline{};
    clock_gettime(CLOCK_REALTIME, &deadline);
    deadline.tv_sec += seconds;
    int rc;
    while ((rc = sem_timedwait(sem, &deadline)) != 0 && errno == EINTR) {
    }
    return rc == 0;
}

std::unique_ptr<Framework_Shared_Memory_Manager> attach(const std::string& name)
{
    Quiet_Stdout quiet;
    auto manager = std::make_unique<Framework_Shared_Memory_Manager>();
    manager->init_with_h_compatibility_check_ex(name, XELO_FRAMEWORK_SHM_MANAGER_VERSION_MAJOR,
                                                XELO_FRAMEWORK_SHM_MANAGER_VERSION_MINOR);
    return manager;
}

// A worker process; its output is dropped, its result is its exit status.
pid_t fork_worker(Shared* shared, int (*body)(Shared*))
{
    std::fflush(stdout);
    const pid_t pid = fork();
    if (pid != 0)
        return pid;
    const int null = open("/dev/null", O_WRONLY);
    dup2(null, STDOUT_FILENO);
    int status = 2;
    try {
        status = body(shared);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "worker: %s\n", e.what());
    }
    _exit(status);
}

bool worker_ended_well(pid_t pid, const char* name)
{
    int status = 0;
    waitpid(pid, &status, 0);
    const bool ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    if (!ok)
        std::printf("%s ended with status %d\n", name, status);
    return ok;
}

// ---- bare baseline ---------------------------------------------------------------

int bare_echo(Shared* s)
{
    for (int i = 0; i < TOTAL; ++i) {
        wait_sem(&s->ping);
        s->one_way[i] = now_ns() - s->sent_ns;
        sem_post(&s->pong);
    }
    return 0;
}

bool measure_bare(Shared* s, std::vector<int64_t>& one_way, std::vector<int64_t>& round_trip)
{
    const pid_t echo = fork_worker(s, bare_echo);
    for (int i = 0; i < TOTAL; ++i) {
        const int64_t start = now_ns();
        s->sent_ns = start;
        sem_post(&s->ping);
        wait_sem(&s->pong);
        if (i >= WARM_UP)
            round_trip.push_back(now_ns() - start);
    }
    one_way.assign(s->one_way + WARM_UP, s->one_way + TOTAL);
    return worker_ended_well(echo, "the bare echo");
}

// ---- post -> wake ------------------------------------------------------------------

int group_reader(Shared* s)
{
    auto app = attach("bench_reader");
    const int g = app->get_sem_data_group_read_id_ex("bench");
    const int stamp = app->get_sem_data_group_data_id_ex(g, "stamp");
    sem_post(&s->ready);
    for (int i = 0; i < TOTAL; ++i) {
        if (!app->wait_sem_data_group_ex(g, 0, 0, nullptr))
            return 3;
        s->one_way[i] = now_ns() - app->get_sem_data_group_data_ex<long long>(g, stamp);
        sem_post(&s->ack);
    }
    return 0;
}

bool measure_post_to_wake(Shared* s, Framework_Shared_Memory_Manager& writer, std::vector<int64_t>& one_way)
{
    const pid_t reader = fork_worker(s, group_reader);
    if (!wait_sem_for(&s->ready, 30)) {
        kill(reader, SIGKILL);
        return worker_ended_well(reader, "the group reader");
    }
    const int g = writer.get_sem_data_group_write_id_ex("bench", false);
    const int stamp = writer.get_sem_data_group_data_id_ex(g, "stamp");
    for (int i = 0; i < TOTAL; ++i) {
        writer.set_sem_data_group_data_ex<long long>(g, stamp, now_ns());
        writer.post_sem_data_group_ex(g, false, -1);
        wait_sem(&s->ack);
    }
    one_way.assign(s->one_way + WARM_UP, s->one_way + TOTAL);
    return worker_ended_well(reader, "the group reader");
}

// ---- command round trip ---------------------------------------------------------------

// Answers every command with its code; code 0 ends it.
int command_server(Shared* s)
{
    auto app = attach("bench_server");
    const int channel = app->get_cmd_channel_id_as_server_ex("bench_cmd");
    if (!app->try_acquire_cmd_as_server_ex(channel))
        return 3;
    sem_post(&s->ready);
    for (;;) {
        if (!app->wait_cmd_ex(channel, 0))
            return 4;
        const signed char code = app->get_cmd_data_ex<signed char>(channel, 0);
        app->set_answ_data_ex<signed char>(channel, 0, code);
        app->send_answer_ex(channel);
        if (code == 0)
            return 0;
    }
}

bool measure_command(Shared* s, Framework_Shared_Memory_Manager& client, std::vector<int64_t>& round_trip)
{
    const pid_t server = fork_worker(s, command_server);
    if (!wait_sem_for(&s->ready, 30)) {
        kill(server, SIGKILL);
        return worker_ended_well(server, "the command server");
    }
    const int channel = client.get_cmd_channel_id_as_client_ex("bench_cmd");
    client.try_acquire_cmd_as_client_ex(channel);
    for (int i = 0; i <= TOTAL; ++i) {
        while (!client.is_server_waiting_for_command_ex(channel))
            sched_yield();
        const int64_t start = now_ns();
        client.set_cmd_data_ex<signed char>(channel, 0, static_cast<signed char>(i == TOTAL ? 0 : 1));
        client.send_cmd_ex(channel);
        client.wait_answer_ex(channel, 0);
        if (i >= WARM_UP && i < TOTAL)
            round_trip.push_back(now_ns() - start);
    }
    return worker_ended_well(server, "the command server");
}

// ---- results ---------------------------------------------------------------------------

void print_ratio(const char* what, const Figures& framework, const Figures& bare, double limit)
{
    const double ratio = static_cast<double>(framework.p50) / static_cast<double>(bare.p50);
    std::printf("%s: median ratio %.2f", what, ratio);
    if (limit > 0)
        std::printf(" (%s %.0fx)", ratio <= limit ? "within" : "ABOVE", limit);
    std::printf("\n");
}

int run()
{
    const std::unique_ptr<Rtframe_Child> rtframe = bench::start_rtframe(BENCH_DESCRIPTOR, RTFRAME_LOG);
    if (!rtframe)
        return EXIT_FAILURE;
    sched_param param{};
    param.sched_priority = PRIORITY;
    if (sched_setscheduler(0, SCHED_FIFO, &param) != 0)
        std::printf("warning: no SCHED_FIFO (%s): figures include time-sharing noise\n", std::strerror(errno));

    void* memory = mmap(nullptr, sizeof(Shared), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
    auto* shared = static_cast<Shared*>(memory);
    for (sem_t* sem : {&shared->ping, &shared->pong, &shared->ready, &shared->ack})
        sem_init(sem, 1, 0);

    std::vector<int64_t> bare_one_way, bare_round_trip, post_to_wake, command;
    bool ok = false;
    try {
        auto app = attach("bench_client");
        ok = measure_bare(shared, bare_one_way, bare_round_trip) && measure_post_to_wake(shared, *app, post_to_wake) &&
             measure_command(shared, *app, command);
        Quiet_Stdout quiet;
        app.reset();
    } catch (const std::exception& e) {
        std::printf("failed: %s\n", e.what());
    }
    const int status = bench::stop_rtframe(*rtframe);
    munmap(memory, sizeof(Shared));
    if (!ok) {
        std::printf("rtframe log:\n%s\n", rtframe->log().c_str());
        return EXIT_FAILURE;
    }

    std::printf("%d samples each, two processes at SCHED_FIFO %d beside rtframe -o\n", SAMPLES, PRIORITY);
    const Figures bare_post = figures_of(bare_one_way);
    const Figures bare_ping_pong = figures_of(bare_round_trip);
    const Figures group = figures_of(post_to_wake);
    const Figures round_trip = figures_of(command);
    print_row("bare sem_post -> sem_wait", bare_post);
    print_row("data group post -> wait", group);
    print_row("bare semaphore ping-pong", bare_ping_pong);
    print_row("command round trip", round_trip);
    print_ratio("post -> wake / bare post -> wake", group, bare_post, 0);
    print_ratio("command round trip / bare ping-pong", round_trip, bare_ping_pong, 3);
    return bench::report_rtframe_exit(status);
}
}  // namespace

int main(int argc, char** argv)
{
    return bench::run_isolated(argc, argv, run);
}
