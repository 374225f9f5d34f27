// Hold time of the cyclic mutex inside Framework_Shared_Memory_Manager::
// refresh_data_ex, beside a bare lock pair around the two image copies, for
// images of 64 B and 4 KB. A fake server in the segments posts the wake-ups.
//
// The hold time is taken by wrapping this process's pthread_mutex_lock and
// pthread_mutex_unlock: from the return of the lock to the call of the
// unlock of the one watched mutex, measured the same way for both.
//
// The segments have the system's fixed names: run it in private namespaces,
//   tests/isolate build/<dir>/bench/frameshm_refresh_bench

#include <dlfcn.h>
#include <pthread.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fstream>
#include <string>
#include <vector>

#include "fake_framework.h"
#include "xelo_framework_shm_manager.h"

namespace {
using Lock_Function = int (*)(pthread_mutex_t*);

struct Hold_Timer {
    Lock_Function real_lock = nullptr;
    Lock_Function real_unlock = nullptr;
    pthread_mutex_t* watched = nullptr;
    uint64_t locked_at = 0;
    std::vector<uint64_t> samples;  // reserved before a run: recording never allocates
};
Hold_Timer g_timer;

uint64_t now_ns()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<uint64_t>(now.tv_sec) * 1000000000ULL + static_cast<uint64_t>(now.tv_nsec);
}

void resolve_real_functions()
{
    if (g_timer.real_lock == nullptr)
        g_timer.real_lock = reinterpret_cast<Lock_Function>(dlsym(RTLD_NEXT, "pthread_mutex_lock"));
    if (g_timer.real_unlock == nullptr)
        g_timer.real_unlock = reinterpret_cast<Lock_Function>(dlsym(RTLD_NEXT, "pthread_mutex_unlock"));
}
}  // namespace

extern "C" int pthread_mutex_lock(pthread_mutex_t* mutex)
{
    resolve_real_functions();
    const int result = g_timer.real_lock(mutex);
    if (mutex == g_timer.watched)
        g_timer.locked_at = now_ns();
    return result;
}

extern "C" int pthread_mutex_unlock(pthread_mutex_t* mutex)
{
    resolve_real_functions();
    if (mutex == g_timer.watched && g_timer.samples.size() < g_timer.samples.capacity())
        g_timer.samples.push_back(now_ns() - g_timer.locked_at);
    return g_timer.real_unlock(mutex);
}

namespace {
constexpr int CYCLES = 20000;
constexpr int WARM_UP = 2000;
constexpr int WRITES_PER_CYCLE = 4;

// The manager's own mapping of the cyclic mutex: the one that is not the
// fake server's.
pthread_mutex_t* manager_cyclic_mutex(const pthread_mutex_t* server_mapping)
{
    std::ifstream maps("/proc/self/maps");
    for (std::string line; std::getline(maps, line);) {
        if (line.find("/dev/shm/linux_framework_cyclic_mutex") == std::string::npos)
            continue;
        auto* start = reinterpret_cast<pthread_mutex_t*>(std::stoull(line.substr(0, line.find('-')), nullptr, 16));
        if (start != server_mapping)
            return start;
    }
    return nullptr;
}

struct Figures {
    uint64_t median;
    double mean;
};

Figures figures(std::vector<uint64_t> samples)
{
    std::sort(samples.begin(), samples.end());
    double sum = 0;
    for (const uint64_t s : samples)
        sum += static_cast<double>(s);
    return Figures{samples[samples.size() / 2], sum / static_cast<double>(samples.size())};
}

template <typename Cycle>
Figures measure(pthread_mutex_t* watched, Cycle cycle)
{
    for (int i = 0; i < WARM_UP; ++i)
        cycle(i);
    g_timer.samples.clear();
    g_timer.samples.reserve(CYCLES);
    g_timer.watched = watched;
    for (int i = 0; i < CYCLES; ++i)
        cycle(i);
    g_timer.watched = nullptr;
    return figures(g_timer.samples);
}

void run(uint32_t image_bytes)
{
    Fake_Framework::Layout layout;
    layout.input_bytes = image_bytes;
    layout.output_bytes = image_bytes;
    for (uint32_t offset = 0; offset + 4 <= image_bytes; offset += 4)
        layout.outputs.push_back({"out_" + std::to_string(offset / 4), UINT32_FSM, offset, 4, 0, false});
    Fake_Framework server(layout);

    Framework_Shared_Memory_Manager manager;
    manager.init_with_h_compatibility_check_ex("bench", XELO_FRAMEWORK_SHM_MANAGER_VERSION_MAJOR,
                                               XELO_FRAMEWORK_SHM_MANAGER_VERSION_MINOR);
    int ids[WRITES_PER_CYCLE];
    for (int i = 0; i < WRITES_PER_CYCLE; ++i)
        ids[i] = manager.get_output_rw_id_ex("out_" + std::to_string(i), false);
    const int slot = manager.get_application_number();

    const Figures refresh = measure(manager_cyclic_mutex(server.cyclic_mutex()), [&](int cycle) {
        for (const int id : ids)
            manager.set_output_ex<unsigned int>(id, static_cast<unsigned>(cycle));
        server.post(slot);
        manager.refresh_data_ex(nullptr);
    });

    std::vector<uint8_t> input(image_bytes);
    std::vector<uint8_t> output(image_bytes);
    const Figures bare = measure(server.cyclic_mutex(), [&](int) {
        pthread_mutex_lock(server.cyclic_mutex());
        std::memcpy(input.data(), server.input_image(), image_bytes);
        std::memcpy(output.data(), server.output_image(), image_bytes);
        pthread_mutex_unlock(server.cyclic_mutex());
    });

    const double ratio = static_cast<double>(refresh.median) / static_cast<double>(bare.median);
    std::printf(
        "image %5u B, %d outputs written per cycle: refresh_data_ex holds the cyclic mutex %6llu ns "
        "(median; mean %.0f), a bare lock pair around the two copies %6llu ns (median; mean %.0f): "
        "ratio %.2f (target within 3x: %s)\n",
        image_bytes, WRITES_PER_CYCLE, static_cast<unsigned long long>(refresh.median), refresh.mean,
        static_cast<unsigned long long>(bare.median), bare.mean, ratio, ratio <= 3.0 ? "yes" : "NO");
}
}  // namespace

int main()
{
    struct stat st {};
    if (stat("/dev/shm/linux_framework_info", &st) == 0) {
        std::fprintf(stderr, "a framework runs here: start the benchmark through tests/isolate\n");
        return 1;
    }
    resolve_real_functions();
    for (const uint32_t bytes : {64u, 4096u})
        run(bytes);
    return 0;
}
