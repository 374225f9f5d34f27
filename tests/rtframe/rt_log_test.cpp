#include <gtest/gtest.h>

#include <string>

#include "child_process.h"
#include "rt_log.h"

namespace {
TEST(Rt_Log, DrainWritesTheLinesInOrderInTheLogFormat)
{
    Rt_Log log;
    log.post(Log_Level::WAR, "[framework] [run_ex] master tick lost = %d", 3);
    log.post_plain("%s", "axis_0_max_torque");
    testing::internal::CaptureStdout();
    EXPECT_EQ(log.drain(), 2u);
    const std::string out = testing::internal::GetCapturedStdout();
    const std::size_t war = out.find(" WAR\033[0m] \033[33m[framework] [run_ex] master tick lost = 3\033[0m\n");
    const std::size_t plain = out.find("\naxis_0_max_torque\n");
    EXPECT_NE(war, std::string::npos) << out;
    EXPECT_NE(plain, std::string::npos) << out;
    EXPECT_LT(war, plain);

    testing::internal::CaptureStdout();
    EXPECT_EQ(log.drain(), 0u) << "nothing is written twice";
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
}

TEST(Rt_Log, AFullRingDropsAndCountsInsteadOfBlocking)
{
    Rt_Log log;
    for (std::size_t i = 0; i < Rt_Log::CAPACITY + 5; ++i)
        log.post(Log_Level::INF, "line %zu", i);
    testing::internal::CaptureStdout();
    EXPECT_EQ(log.drain(), Rt_Log::CAPACITY);
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_NE(out.find("] line 0\n"), std::string::npos);
    EXPECT_NE(out.find("] line " + std::to_string(Rt_Log::CAPACITY - 1) + "\n"), std::string::npos);
    EXPECT_EQ(out.find("] line " + std::to_string(Rt_Log::CAPACITY) + "\n"), std::string::npos);
    EXPECT_EQ(count_of(out, "5 real-time log lines dropped (ring full)"), 1);

    log.post(Log_Level::INF, "after drain");
    testing::internal::CaptureStdout();
    EXPECT_EQ(log.drain(), 1u) << "the ring takes lines again once drained";
    EXPECT_NE(testing::internal::GetCapturedStdout().find("] after drain\n"), std::string::npos);
}

TEST(Rt_Log, LongTextIsCutInsideItsEntry)
{
    Rt_Log log;
    const std::string long_text(2 * Rt_Log::TEXT_SIZE, 'n');
    log.post(Log_Level::ERR, "%s", long_text.c_str());
    testing::internal::CaptureStdout();
    log.drain();
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(count_of(out, std::string(Rt_Log::TEXT_SIZE - 1, 'n')), 1);
    EXPECT_EQ(out.find(std::string(Rt_Log::TEXT_SIZE, 'n')), std::string::npos);
}
}  // namespace
