#include "cell_status.h"

#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <iostream>

namespace {
std::atomic<int8_t> program_status{UNINITIALIZED};
std::mutex id_mutex;
std::string device_id;
}  // namespace

int get_ondara_program_status()
{
    return program_status.load();
}

void raise_ondara_program_status(Ondara_Program_Status status)
{
    int8_t current = program_status.load();
    while (current < status && !program_status.compare_exchange_weak(current, status)) {
    }
}

std::string get_ondara_id()
{
    std::lock_guard<std::mutex> lock(id_mutex);
    return device_id;
}

void set_ondara_id(const std::string& id)
{
    std::lock_guard<std::mutex> lock(id_mutex);
    device_id = id;
}

std::mutex& axes_interface_mutex()
{
    static std::mutex mutex;
    return mutex;
}

void end_process(int code)
{
    std::fflush(stdout);
    std::cout.flush();
    ::_exit(code);
}
