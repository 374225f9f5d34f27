#pragma once

// Log of the simulator: records of datagrams and AL transitions written by
// the frame thread into a fixed ring (never blocking, never allocating) and
// turned into text lines by a slow reader.

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <string>

namespace ecat_sim {

struct Log_Record {
    enum Kind : uint8_t { DATAGRAM, AL_TRANSITION, FRAME_DROPPED };
    Kind kind = DATAGRAM;
    int64_t time_ns = 0;
    // DATAGRAM
    uint8_t command = 0;
    uint8_t index = 0;
    uint16_t adp = 0;
    uint16_t ado = 0;
    uint16_t length = 0;
    uint16_t wkc = 0;
    // AL_TRANSITION
    uint16_t slave = 0;
    uint8_t from = 0;
    uint8_t to = 0;
    uint16_t code = 0;
};

// One producer at a time (the holder of the segment's lock), one reader.
class Sim_Log {
public:
    static constexpr size_t CAPACITY = 4096;
    void set_enabled(bool datagrams, bool transitions)
    {
        m_datagrams.store(datagrams, std::memory_order_relaxed);
        m_transitions.store(transitions, std::memory_order_relaxed);
    }
    bool datagrams() const { return m_datagrams.load(std::memory_order_relaxed); }
    bool transitions() const { return m_transitions.load(std::memory_order_relaxed); }
    // False when the ring is full (the record is counted as lost).
    bool push(const Log_Record& record);
    bool pop(Log_Record& record);
    uint64_t lost() const { return m_lost.load(std::memory_order_relaxed); }
    static std::string format(const Log_Record& record);

private:
    Log_Record m_ring[CAPACITY];
    std::atomic<size_t> m_head{0};
    std::atomic<size_t> m_tail{0};
    std::atomic<uint64_t> m_lost{0};
    std::atomic<bool> m_datagrams{false};
    std::atomic<bool> m_transitions{false};
};

}  // namespace ecat_sim
