#pragma once

#include <sys/types.h>

// Hooks into the global operator new and delete of a test binary that links
// cell::allocation_hooks, which replaces their plain, array and sized forms
// with ones that take their memory from malloc. Link it only into the
// binaries that want it: the replacement covers every allocation of the
// program, those of the libraries under test included.

// Allocations through operator new since the program started, in every
// thread.
long allocation_count();

// Counts the allocations made, in every thread, while the guard lives.
class Allocation_Count {
public:
    Allocation_Count() : m_start(allocation_count()) {}
    Allocation_Count(const Allocation_Count&) = delete;
    Allocation_Count& operator=(const Allocation_Count&) = delete;
    long count() const { return allocation_count() - m_start; }

private:
    long m_start;
};

// Counts the allocations of one thread (its kernel id, as gettid gives it)
// from zero, until stop_watching_thread.
void watch_thread(pid_t thread);
void stop_watching_thread();
long watched_thread_allocations();

// While set, every operator new throws std::bad_alloc.
void fail_allocations(bool fail);
