#pragma once

// Log lines of the cyclic thread in busmaster's log-line format, cut at 240
// characters: the cycle posts them into a ring and a drain thread
// ("xelo_ecat_cyclog") writes them, so that the cycle never waits on
// standard output. A full ring reports its dropped lines as "cyclic thread:
// <n> log lines dropped".

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <string>

#include "ecm_log.h"
#include "rt_log_ring.h"

struct Ecm_Line_Format {
    using Level = Ecm_Log_Level;
    static constexpr std::size_t TEXT_SIZE = 240;
    static std::string line(Ecm_Log_Level level, const char* text, const timespec& stamp)
    {
        return ecm_format_log_line(level, text, stamp.tv_sec);
    }
    static std::string dropped_line(uint64_t count, const timespec& now)
    {
        return ecm_format_log_line(Ecm_Log_Level::WAR, "cyclic thread: " + std::to_string(count) + " log lines dropped",
                                   now.tv_sec);
    }
};

class Cyclic_Log : public Rt_Log_Ring<Ecm_Line_Format> {
public:
    void push(Ecm_Log_Level level, const char* format, ...) noexcept __attribute__((format(printf, 3, 4)));
    void start() { Rt_Log_Ring::start("xelo_ecat_cyclog"); }
};

// True in the cyclic thread: its own acyclic datagrams skip the frame gate,
// which only its own frames open.
bool ecm_in_cyclic_thread();
