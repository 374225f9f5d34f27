#include <gtest/gtest.h>

#include "xelo_log.h"
#include "xelo_macros_ms.h"

namespace {
struct Stamp_Case {
    long long seconds;
    long nanoseconds;
    const char* text;
};

void PrintTo(const Stamp_Case& c, std::ostream* os)
{
    *os << c.seconds << "s " << c.nanoseconds << "ns";
}

class Timestamp : public ::testing::TestWithParam<Stamp_Case> {};

timespec make_ts(long long s, long ns)
{
    timespec ts{};
    ts.tv_sec = static_cast<time_t>(s);
    ts.tv_nsec = ns;
    return ts;
}
}  // namespace

TEST_P(Timestamp, IsUtcCalendarTextToTheMillisecond)
{
    const timespec ts = make_ts(GetParam().seconds, GetParam().nanoseconds);
    EXPECT_EQ(get_timestamp_from_timespec_no_context_switch(&ts), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Timestamp,
    ::testing::Values(Stamp_Case{0, 0, "1970-01-01 00:00:00.000"}, Stamp_Case{0, 999999999, "1970-01-01 00:00:00.999"},
                      Stamp_Case{0, 5000000, "1970-01-01 00:00:00.005"},
                      Stamp_Case{0, 42000000, "1970-01-01 00:00:00.042"},
                      Stamp_Case{0, 999999, "1970-01-01 00:00:00.000"},
                      Stamp_Case{1609459199, 0, "2020-12-31 23:59:59.000"},  // last second of a leap year
                      Stamp_Case{1609459200, 0, "2021-01-01 00:00:00.000"},
                      Stamp_Case{1582934400, 0, "2020-02-29 00:00:00.000"},
                      Stamp_Case{951782400, 0, "2000-02-29 00:00:00.000"},   // divisible by 400: leap
                      Stamp_Case{4107456000, 0, "2100-02-28 00:00:00.000"},  // divisible by 100: no Feb 29
                      Stamp_Case{4107542400, 0, "2100-03-01 00:00:00.000"},
                      Stamp_Case{1796684790, 42000000, "2026-12-07 23:06:30.042"},
                      Stamp_Case{1704067199, 123456789, "2023-12-31 23:59:59.123"}));

TEST(Log_Line, FormatOfEachLevel)
{
    const timespec ts = make_ts(0, 42000000);
    EXPECT_EQ(format_log_line(Log_Level::INF, "[x] hello", ts),
              "[\033[32m1970-01-01 00:00:00.042 INF\033[0m] [x] hello");
    EXPECT_EQ(format_log_line(Log_Level::WAR, "careful", ts),
              "[\033[33m1970-01-01 00:00:00.042 WAR\033[0m] \033[33mcareful\033[0m");
    EXPECT_EQ(format_log_line(Log_Level::ERR, "broken", ts),
              "[\033[31m1970-01-01 00:00:00.042 ERR\033[0m] \033[31mbroken\033[0m");
}

TEST(Log_Line, WritesOneStampedLineToStandardOutput)
{
    testing::internal::CaptureStdout();
    log_war("queue full");
    const std::string out = testing::internal::GetCapturedStdout();
    ASSERT_FALSE(out.empty());
    EXPECT_EQ(out.back(), '\n');
    EXPECT_EQ(out.find('\n'), out.size() - 1);
    EXPECT_NE(out.find(" WAR\033[0m] \033[33mqueue full\033[0m"), std::string::npos) << out;
}

// A batch writes nothing until it is flushed or destroyed, then all its
// lines at once, in order, each an INF line of its own, and never twice.
TEST(Log_Line, ABatchWritesItsLinesOnceWhenFlushedOrDestroyed)
{
    auto is_inf_line = [](const std::string& line, const std::string& text) {
        return line.find(" INF\033[0m] " + text + "\n") != std::string::npos && line.rfind("[\033[32m", 0) == 0;
    };
    testing::internal::CaptureStdout();
    {
        Log_Batch batch;
        batch.inf("first");
        batch.inf("second");
        log_inf("unbatched");
        std::string written = testing::internal::GetCapturedStdout();
        EXPECT_TRUE(is_inf_line(written, "unbatched")) << written;
        EXPECT_EQ(written.find("first"), std::string::npos) << written;

        testing::internal::CaptureStdout();
        batch.flush();
        batch.flush();
        written = testing::internal::GetCapturedStdout();
        const std::size_t second = written.find("second");
        ASSERT_NE(second, std::string::npos) << written;
        const std::size_t split = written.find('\n') + 1;
        EXPECT_TRUE(is_inf_line(written.substr(0, split), "first")) << written;
        EXPECT_TRUE(is_inf_line(written.substr(split), "second")) << written;

        testing::internal::CaptureStdout();
        batch.inf("third");
    }
    const std::string written = testing::internal::GetCapturedStdout();
    EXPECT_TRUE(is_inf_line(written, "third")) << written;
    EXPECT_EQ(written.find("first"), std::string::npos) << written;
}
