#include "allocation_hooks.h"

#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <new>

// The replaced operators take their memory from malloc, which the
// sanitizer's own operators would otherwise report as mismatched on release.
extern "C" const char* __asan_default_options()
{
    return "alloc_dealloc_mismatch=0";
}

namespace {
std::atomic<long> g_allocations{0};
std::atomic<pid_t> g_watched_thread{0};
std::atomic<long> g_watched_allocations{0};
std::atomic<bool> g_fail{false};
}  // namespace

long allocation_count()
{
    return g_allocations.load();
}

void watch_thread(pid_t thread)
{
    g_watched_allocations = 0;
    g_watched_thread = thread;
}

void stop_watching_thread()
{
    g_watched_thread = 0;
}

long watched_thread_allocations()
{
    return g_watched_allocations.load();
}

void fail_allocations(bool fail)
{
    g_fail = fail;
}

void* operator new(std::size_t size)
{
    if (g_fail.load(std::memory_order_relaxed))
        throw std::bad_alloc();
    g_allocations.fetch_add(1, std::memory_order_relaxed);
    const pid_t watched = g_watched_thread.load(std::memory_order_relaxed);
    if (watched != 0 && gettid() == watched)
        g_watched_allocations.fetch_add(1, std::memory_order_relaxed);
    if (void* memory = std::malloc(size != 0 ? size : 1))
        return memory;
    throw std::bad_alloc();
}

void* operator new[](std::size_t size)
{
    return operator new(size);
}

void operator delete(void* memory) noexcept
{
    std::free(memory);
}

void operator delete[](void* memory) noexcept
{
    std::free(memory);
}

void operator delete(void* memory, std::size_t) noexcept
{
    std::free(memory);
}

void operator delete[](void* memory, std::size_t) noexcept
{
    std::free(memory);
}
