#pragma once
// What the benchmarks against rtframe share: the clock they stamp with, the
// figures they print, starting rtframe -o and stopping it with its exit
// status checked (Rtframe_Child of the test support), and running isolated.
//
// Isolated: run as root, a benchmark starts itself again inside
// tests/isolate (own IPC, mount and network namespaces, a private /tmp and
// /dev/shm, a logging-queue limit of 1000 messages), so that its rtframe and
// segments never meet a framework that runs on the machine.
#include <fcntl.h>
#include <pthread.h>
#include <sched.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <string>
#include <vector>

#include "framework_thread.h"
#include "rtframe_child.h"

namespace bench {

inline int64_t now_ns()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec * 1000000000LL + ts.tv_nsec;
}

struct Figures {
    int64_t p50, p99, max;
};

inline Figures figures_of(std::vector<int64_t> samples)
{
    std::sort(samples.begin(), samples.end());
    const auto at = [&](double q) { return samples[static_cast<std::size_t>(q * (samples.size() - 1))]; };
    return {at(0.50), at(0.99), samples.back()};
}

// rtframe -o -s -c descriptor with its output in log_path, once it is ready;
// null (and the log printed) when it ends first or is not ready in time.
inline std::unique_ptr<Rtframe_Child> start_rtframe(const std::string& descriptor, const std::string& log_path)
{
    if (access("/dev/shm/linux_framework_info", F_OK) == 0) {
        std::printf("a framework is running already (/dev/shm/linux_framework_info): stop it first\n");
        return nullptr;
    }
    auto rtframe = std::make_unique<Rtframe_Child>(offline_server_arguments(descriptor), log_path);
    if (!rtframe->wait_until_ready(std::chrono::seconds(30))) {
        std::printf("rtframe did not start\nrtframe log:\n%s\n", rtframe->log().c_str());
        return nullptr;
    }
    return rtframe;
}

// SIGTERM to rtframe; its exit status (128 + the signal when a signal ended
// it, -1 when it did not end in time).
inline int stop_rtframe(Rtframe_Child& rtframe)
{
    return rtframe.stop(std::chrono::seconds(30));
}

// The last line of a benchmark: rtframe's exit status; EXIT_SUCCESS when it
// is 0.
inline int report_rtframe_exit(int status)
{
    std::printf("rtframe exit status: %d\n", status);
    return status == 0 ? EXIT_SUCCESS : EXIT_FAILURE;
}

// Holds every CPU's idle states at an exit latency of 0 µs while it lives
// (/dev/cpu_dma_latency, as real-time latency measurements run). A thread
// woken on another CPU then costs what the software path costs, not the wake
// of a halted (virtual) CPU, which a bare baseline whose two threads take
// turns on one CPU never pays.
class Idle_Latency_Hold {
public:
    Idle_Latency_Hold() : m_fd(open("/dev/cpu_dma_latency", O_WRONLY | O_CLOEXEC))
    {
        const int32_t zero = 0;
        if (m_fd >= 0 && write(m_fd, &zero, sizeof(zero)) != static_cast<ssize_t>(sizeof(zero))) {
            close(m_fd);
            m_fd = -1;
        }
    }
    ~Idle_Latency_Hold()
    {
        if (m_fd >= 0)
            close(m_fd);
    }
    Idle_Latency_Hold(const Idle_Latency_Hold&) = delete;
    Idle_Latency_Hold& operator=(const Idle_Latency_Hold&) = delete;

    bool held() const { return m_fd >= 0; }
    // One line saying whether the hold was had, for every measurement alike.
    void print() const
    {
        std::printf("CPU idle states: %s\n", held() ? "held at an exit latency of 0 us for every measurement"
                                                    : "NOT held (/dev/cpu_dma_latency not writable)");
    }

private:
    int m_fd;
};

// While it lives, the calling thread runs under SCHED_FIFO at priority (0:
// the normal policy); afterwards under the normal policy. A bare part then
// runs its threads in the class of the threads it stands for.
class Thread_Policy {
public:
    explicit Thread_Policy(int priority) : m_had(set(priority)) {}
    ~Thread_Policy() { set(0); }
    Thread_Policy(const Thread_Policy&) = delete;
    Thread_Policy& operator=(const Thread_Policy&) = delete;

    bool had() const { return m_had; }

private:
    static bool set(int priority)
    {
        if (priority > 0)
            return set_fifo_priority(priority) == 0;
        const sched_param normal{};
        return pthread_setschedparam(pthread_self(), SCHED_OTHER, &normal) == 0;
    }

    bool m_had;
};

// Runs run() when this process already is the isolated one, else starts this
// program again inside tests/isolate (and does not come back on success).
inline int run_isolated(int argc, char** argv, int (*run)())
{
    static constexpr const char* ISOLATED = "--isolated";
    if (argc > 1 && std::strcmp(argv[1], ISOLATED) == 0)
        return run();
    char self[4096] = {};
    if (readlink("/proc/self/exe", self, sizeof(self) - 1) <= 0) {
        std::printf("cannot find this program's path\n");
        return EXIT_FAILURE;
    }
    execl(CELL_ISOLATE, CELL_ISOLATE, self, ISOLATED, static_cast<char*>(nullptr));
    std::printf("cannot start %s (%s): run this benchmark as root\n", CELL_ISOLATE, std::strerror(errno));
    return EXIT_FAILURE;
}

}  // namespace bench
