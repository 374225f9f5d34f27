#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <map>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "eventually.h"
#include "rt_log_ring.h"
#include "xelo_log.h"

namespace {
// Lines in a format of their own, short enough to show the cut; every line
// formatted is also recorded, so a test can see that a drain happened while
// standard output is still captured.
struct Test_Format {
    enum class Level { LOW, HIGH };
    static constexpr std::size_t TEXT_SIZE = 16;
    static std::string line(Level level, const char* text, const timespec&)
    {
        const std::string made = (level == Level::HIGH ? "high " : "low ") + std::string(text);
        record(made);
        return made;
    }
    static std::string dropped_line(uint64_t count, const timespec&) { return "dropped " + std::to_string(count); }

    static void record(const std::string& line)
    {
        std::lock_guard<std::mutex> guard(mutex);
        formatted.push_back(line);
    }
    static bool was_formatted(const std::string& line)
    {
        std::lock_guard<std::mutex> guard(mutex);
        return std::find(formatted.begin(), formatted.end(), line) != formatted.end();
    }
    static inline std::mutex mutex;
    static inline std::vector<std::string> formatted;
};
using Test_Ring = Rt_Log_Ring<Test_Format>;
using Level = Test_Format::Level;

std::vector<std::string> lines_of(const std::string& text)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

TEST(Rt_Log_Ring, DrainWritesEachPostedLineOnceInOrderInItsFormat)
{
    Test_Ring ring;
    ring.post(Level::HIGH, "tick %d", 3);
    ring.post_plain("%s", "as it is");
    ring.post(Level::LOW, "done");
    testing::internal::CaptureStdout();
    EXPECT_EQ(ring.drain(), 3u);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "high tick 3\nas it is\nlow done\n");

    testing::internal::CaptureStdout();
    EXPECT_EQ(ring.drain(), 0u);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
}

TEST(Rt_Log_Ring, AFullRingDropsTheNewestLinesAndTheNextDrainCountsThem)
{
    Test_Ring ring;
    for (std::size_t i = 0; i < Test_Ring::CAPACITY + 3; ++i)
        ring.post(Level::LOW, "%zu", i);
    testing::internal::CaptureStdout();
    EXPECT_EQ(ring.drain(), Test_Ring::CAPACITY);
    const std::vector<std::string> lines = lines_of(testing::internal::GetCapturedStdout());
    ASSERT_EQ(lines.size(), Test_Ring::CAPACITY + 1);
    EXPECT_EQ(lines.front(), "low 0");
    EXPECT_EQ(lines[Test_Ring::CAPACITY - 1], "low " + std::to_string(Test_Ring::CAPACITY - 1));
    EXPECT_EQ(lines.back(), "dropped 3");

    ring.post(Level::LOW, "again");
    testing::internal::CaptureStdout();
    EXPECT_EQ(ring.drain(), 1u);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "low again\n") << "no count without a new drop";
}

TEST(Rt_Log_Ring, ATextIsCutAtItsRoom)
{
    Test_Ring ring;
    ring.post(Level::LOW, "%s", std::string(3 * Test_Ring::TEXT_SIZE, 'n').c_str());
    testing::internal::CaptureStdout();
    ring.drain();
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "low " + std::string(Test_Ring::TEXT_SIZE - 1, 'n') + "\n");
}

// Producers and a drain racing: no line is written twice or torn, each
// thread's lines keep their order, and every line is written or counted.
TEST(Rt_Log_Ring, LinesOfManyThreadsAreWrittenOnceInTheirThreadsOrderOrCounted)
{
    constexpr int THREADS = 4;
    constexpr int LINES = 2000;
    Test_Ring ring;
    testing::internal::CaptureStdout();
    std::atomic<int> running{THREADS};
    std::vector<std::thread> producers;
    for (int t = 0; t < THREADS; ++t)
        producers.emplace_back([&ring, &running, t] {
            for (int i = 0; i < LINES; ++i)
                ring.post(Level::LOW, "%d %d", t, i);
            --running;
        });
    while (running > 0)
        ring.drain();
    for (std::thread& producer : producers)
        producer.join();
    ring.drain();
    const std::vector<std::string> lines = lines_of(testing::internal::GetCapturedStdout());

    std::map<int, int> last;
    long written = 0;
    long dropped = 0;
    for (const std::string& line : lines) {
        int t = -1, i = -1;
        long count = 0;
        if (std::sscanf(line.c_str(), "dropped %ld", &count) == 1) {
            dropped += count;
            continue;
        }
        ASSERT_EQ(std::sscanf(line.c_str(), "low %d %d", &t, &i), 2) << line;
        ASSERT_TRUE(t >= 0 && t < THREADS) << line;
        const auto before = last.find(t);
        EXPECT_TRUE(before == last.end() || before->second < i) << line;
        last[t] = i;
        ++written;
    }
    EXPECT_EQ(written + dropped, long{THREADS} * LINES);
}

TEST(Rt_Log_Ring, TheDrainThreadWritesUnaskedAndStopWritesWhatIsLeft)
{
    testing::internal::CaptureStdout();
    {
        Test_Ring ring;
        ring.start("test_drain");
        ring.post(Level::HIGH, "early");
        EXPECT_TRUE(eventually([] { return Test_Format::was_formatted("high early"); }));
        ring.post(Level::HIGH, "late");
        ring.stop();
        EXPECT_TRUE(Test_Format::was_formatted("high late"));
        ring.post(Level::HIGH, "at the end");
    }
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "high early\nhigh late\nhigh at the end\n");
}

// While the test holds standard output, a real-time log thread still goes
// on: its lines wait in the ring. Lines written directly afterwards follow
// them.
TEST(Realtime_Log_Thread, NeverWaitsOnStandardOutputAndDirectLinesFollowItsLines)
{
    testing::internal::CaptureStdout();
    std::atomic<bool> logged{false};
    flockfile(stdout);
    std::thread cycle([&logged] {
        const Realtime_Log_Thread realtime_lines;
        log_inf("from the cycle");
        Log_Batch batch;
        batch.inf("batched in the cycle");
        batch.flush();
        logged = true;
    });
    const bool went_on = eventually([&logged] { return logged.load(); });
    funlockfile(stdout);
    cycle.join();
    EXPECT_TRUE(went_on) << "the real-time thread waited for standard output";
    log_war("written directly");
    const std::string out = testing::internal::GetCapturedStdout();
    const std::size_t cycle_line = out.find(" INF\033[0m] from the cycle\n");
    const std::size_t batch_line = out.find(" INF\033[0m] batched in the cycle\n");
    const std::size_t direct_line = out.find("\033[33mwritten directly\033[0m\n");
    ASSERT_NE(cycle_line, std::string::npos) << out;
    ASSERT_NE(batch_line, std::string::npos) << out;
    ASSERT_NE(direct_line, std::string::npos) << out;
    EXPECT_LT(cycle_line, batch_line);
    EXPECT_LT(batch_line, direct_line);
}

void log_in_the_ring(const char* text)
{
    dup2(STDERR_FILENO, STDOUT_FILENO);  // a death test sees the standard error
    std::thread([text] {
        const Realtime_Log_Thread realtime_lines;
        log_inf(text);
    }).join();
}

// The lines still in the ring when the process exits are written, and
// flush_log_lines writes them before an _exit.
TEST(Realtime_Log_Thread, LinesLeftAtExitOrFlushedBeforeAnUnderscoreExitAreWritten)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            log_in_the_ring("left at exit");
            std::exit(0);
        },
        testing::ExitedWithCode(0), "left at exit");
    EXPECT_EXIT(
        {
            log_in_the_ring("flushed before _exit");
            flush_log_lines();
            _exit(1);
        },
        testing::ExitedWithCode(1), "flushed before _exit");
}
}  // namespace
