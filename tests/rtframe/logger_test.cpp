#include <gtest/gtest.h>

#include <sys/stat.h>

#include <regex>
#include <thread>

#include "running_rtframe.h"
#include "xelo_queue.h"

namespace {
using std::chrono::milliseconds;
using std::chrono::seconds;

const char* const LOG_FILE = "/tmp/framework_logger.log";

bool wait_for_file_match(const std::regex& pattern, seconds timeout)
{
    const auto end = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < end) {
        if (std::regex_search(read_file(LOG_FILE), pattern))
            return true;
        std::this_thread::sleep_for(milliseconds(10));
    }
    return false;
}

class Rtframe_Logger : public Running_Rtframe {};

// The queue's messages reach the file, which is flushed whenever the queue
// runs idle and so can be read while rtframe runs.
TEST_F(Rtframe_Logger, QueueMessagesBecomeLinesOfTheLogFile)
{
    start("basic.xml");
    Thin_Client client;
    const int slot = client.take_slot("traced");
    ASSERT_TRUE(client.wait_wakeup(seconds(5)));
    EXPECT_EQ(read_file(LOG_FILE), "") << "nothing is logged while the switches are off";

    Posix_Queue_Message_Writer writer;
    writer.open_ex(true);
    ASSERT_TRUE(writer.send_queue_cyclic_wait_ex(103, 0));
    ASSERT_TRUE(writer.send_queue_sem_post_ex(QUEUE_SERVER_APPLICATION_ID, 2, 0));
    const std::string stamp = R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3})";
    EXPECT_TRUE(wait_for_file_match(std::regex("(^|\n)" + stamp + " 103 w\n"), seconds(5))) << read_file(LOG_FILE);
    EXPECT_TRUE(wait_for_file_match(std::regex("(^|\n)" + stamp + " X P 2\n"), seconds(5))) << read_file(LOG_FILE);

    // With refresh logging on, the server reports its own posts (a post is
    // made only when the client took the previous one).
    client.set_output<uint8_t>("enable_refresh_logging", 1);
    const std::regex own_post(stamp + " X p " + std::to_string(slot) + "\n");
    bool found = false;
    for (int i = 0; i < 2000 && !found; ++i) {
        ASSERT_TRUE(client.wait_wakeup(seconds(1)));
        found = std::regex_search(read_file(LOG_FILE), own_post);
    }
    EXPECT_TRUE(found) << read_file(LOG_FILE);
}

TEST_F(Rtframe_Logger, ALogFileThatCannotBeOpenedIsAnErrorNamingItsPath)
{
    ASSERT_EQ(mkdir(LOG_FILE, 0755), 0);
    start("basic.xml");
    EXPECT_TRUE(rtframe->wait_for_log("ERR] [QueueReaderThreadStartup] cannot open the log file " +
                                          std::string(LOG_FILE) + " --> Is a directory",
                                      seconds(5)))
        << rtframe->log();
    EXPECT_TRUE(rtframe->wait_for_log("ERR] LOGGING QUEUE THREAD EXITING!!...", seconds(5)));
    Thin_Client client;
    client.take_slot("still_served");
    EXPECT_TRUE(client.wait_wakeup(seconds(5))) << "the cycle does not depend on the logger";
    expected_errors = 2;
}
}  // namespace
