#include "sim_log.h"

#include <cstdio>

namespace ecat_sim {

bool Sim_Log::push(const Log_Record& record)
{
    const size_t head = m_head.load(std::memory_order_relaxed);
    const size_t tail = m_tail.load(std::memory_order_acquire);
    if (head - tail == CAPACITY) {
        m_lost.fetch_add(1, std::memory_order_relaxed);
        return false;
    }
    m_ring[head % CAPACITY] = record;
    m_head.store(head + 1, std::memory_order_release);
    return true;
}

bool Sim_Log::pop(Log_Record& record)
{
    const size_t tail = m_tail.load(std::memory_order_relaxed);
    if (tail == m_head.load(std::memory_order_acquire)) {
        return false;
    }
    record = m_ring[tail % CAPACITY];
    m_tail.store(tail + 1, std::memory_order_release);
    return true;
}

std::string Sim_Log::format(const Log_Record& r)
{
    static const char* const names[] = {"NOP", "APRD", "APWR", "APRW", "FPRD", "FPWR", "FPRW", "BRD",
                                        "BWR", "BRW",  "LRD",  "LWR",  "LRW",  "ARMW", "FRMW"};
    char line[160];
    const double seconds = static_cast<double>(r.time_ns) / 1e9;
    switch (r.kind) {
    case Log_Record::DATAGRAM:
        std::snprintf(line, sizeof line, "%.6f datagram %s index %u adp 0x%04X ado 0x%04X length %u wkc %u", seconds,
                      r.command < 15 ? names[r.command] : "?", r.index, r.adp, r.ado, r.length, r.wkc);
        break;
    case Log_Record::AL_TRANSITION:
        std::snprintf(line, sizeof line, "%.6f slave %u AL %u -> %u code 0x%04X", seconds, r.slave, r.from, r.to,
                      r.code);
        break;
    case Log_Record::FRAME_DROPPED: std::snprintf(line, sizeof line, "%.6f frame not answered", seconds); break;
    }
    return line;
}

}  // namespace ecat_sim
