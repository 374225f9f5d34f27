#include <gtest/gtest.h>

#include <string>

#include "child_process.h"
#include "cyclic_log.h"

namespace {
// The cycle's lines in busmaster's own format, cut at 240 characters; a
// full ring counts the lines it dropped in one WAR line of its own.
TEST(Cyclic_Log, WritesBusmastersLinesAndCountsWhatAFullRingDropped)
{
    Cyclic_Log log;
    log.push(Ecm_Log_Level::WAR, "m_counter_cycle %d Period missed: %ld", 7, 2L);
    log.push(Ecm_Log_Level::INF, "%s", std::string(300, 'n').c_str());
    for (std::size_t i = 2; i < Cyclic_Log::CAPACITY + 4; ++i)
        log.push(Ecm_Log_Level::INF, "slave : %zu", i);
    testing::internal::CaptureStdout();
    log.stop();
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(out.rfind("[\x1b[33m", 0), 0u) << out;
    EXPECT_NE(out.find(" WAR:\x1b[0m] \x1b[33mm_counter_cycle 7 Period missed: 2\x1b[0m\n"), std::string::npos);
    EXPECT_NE(out.find(" INF:\x1b[0m] " + std::string(239, 'n') + "\n"), std::string::npos);
    EXPECT_EQ(out.find(std::string(240, 'n')), std::string::npos);
    EXPECT_NE(out.find("] slave : " + std::to_string(Cyclic_Log::CAPACITY - 1) + "\n"), std::string::npos);
    EXPECT_EQ(out.find("] slave : " + std::to_string(Cyclic_Log::CAPACITY) + "\n"), std::string::npos);
    EXPECT_EQ(count_of(out, " WAR:\x1b[0m] \x1b[33mcyclic thread: 4 log lines dropped\x1b[0m\n"), 1) << out;
}
}  // namespace
