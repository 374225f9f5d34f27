#pragma once

#include "robust_mutex.h"
#include "rt_log_ring.h"
#include "xelo_log.h"

// Log lines of the real-time thread in the log-line format, cut at 640
// characters; the thread that reads the logging queue drains them, and a
// full ring reports its dropped lines as "real-time log lines dropped".
// A lock's lines are queued like any other.
class Rt_Log final : public Rt_Log_Ring<Xelo_Line_Format<640>>, public Lock_Log_Sink {
public:
    void write(Log_Level level, const char* text) noexcept override;
};
