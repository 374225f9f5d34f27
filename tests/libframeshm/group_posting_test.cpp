// Posting and waiting on a data group between processes attached to
// rtframe -o.
#include <pthread.h>
#include <signal.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fstream>
#include <limits>
#include <regex>
#include <sstream>
#include <thread>

#include "group_test.h"

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {
constexpr int COMMAND = 1;
constexpr int COUNT = 2;
constexpr std::size_t COUNT_OFFSET = 17;  // code (1) and text (16) come first

// The writer of "command" in a process of its own: "post <count>" or
// "post <count> <reader id>" sets count and posts to every reader or to that
// one, answering "posted"; "exit" ends it.
int command_writer(Peer_Process::Link& link)
{
    auto app = attach_application("writer");
    const int g = app->get_sem_data_group_write_id_ex("command", false);
    link.send("ready");
    for (std::string line = link.receive(); line.rfind("post", 0) == 0; line = link.receive()) {
        std::istringstream words(line.substr(4));
        int count = 0;
        int reader = -1;
        words >> count >> reader;
        app->set_sem_data_group_data_ex<int>(g, COUNT, count);
        app->post_sem_data_group_ex(g, false, reader);
        link.send("posted");
    }
    return 0;
}

int published_count(Group_View& groups)
{
    int count;
    std::memcpy(&count, groups.data("command") + COUNT_OFFSET, sizeof(count));
    return count;
}
}  // namespace

class Posting : public Group_Test {
protected:
    Test_Descriptor descriptor() const override
    {
        Test_Descriptor d;
        d.slots = 5;
        return d;
    }

    void SetUp() override
    {
        Group_Test::SetUp();
        first = attach("first");
        second = attach("second");
        ASSERT_EQ(first->get_sem_data_group_read_id_ex("command"), COMMAND);
        ASSERT_EQ(second->get_sem_data_group_read_id_ex("command"), COMMAND);
    }

    void TearDown() override
    {
        first.reset();
        second.reset();
        Group_Test::TearDown();
    }

    void post(Peer_Process& writer, const std::string& arguments)
    {
        writer.send("post " + arguments);
        ASSERT_EQ(writer.receive_ex(), "posted");
    }

    static void finish(Peer_Process& peer)
    {
        peer.send("exit");
        EXPECT_TRUE(exited_with(peer.wait_exit_ex(), 0));
    }

    std::unique_ptr<Framework_Shared_Memory_Manager> first;
    std::unique_ptr<Framework_Shared_Memory_Manager> second;
};

TEST_F(Posting, AGroupWrittenByOneApplicationIsReadByTheOthers)
{
    Peer_Process writer(command_writer);
    ASSERT_EQ(writer.receive_ex(), "ready");
    EXPECT_FALSE(first->wait_sem_data_group_ex(COMMAND, 20, 0, nullptr));
    post(writer, "7");
    for (Framework_Shared_Memory_Manager* reader : {first.get(), second.get()}) {
        EXPECT_EQ(reader->get_sem_data_group_data_ex<int>(COMMAND, COUNT), 0);  // until its wait
        int poster = 0;
        EXPECT_TRUE(reader->wait_sem_data_group_ex(COMMAND, 5000, 0, &poster));
        EXPECT_EQ(reader->get_sem_data_group_data_ex<int>(COMMAND, COUNT), 7);
        EXPECT_EQ(poster, -1);  // not an exclusive post
    }
    finish(writer);
}

TEST_F(Posting, APostToOneReaderWakesOnlyThatReader)
{
    Peer_Process writer(command_writer);
    ASSERT_EQ(writer.receive_ex(), "ready");
    const int second_id = 100 + second->get_application_number();
    post(writer, "3 " + std::to_string(second_id));
    EXPECT_EQ(groups->group("command").last_post_app_id_to_answ, second_id);
    EXPECT_TRUE(second->wait_sem_data_group_ex(COMMAND, 5000, 0, nullptr));
    EXPECT_EQ(second->get_sem_data_group_data_ex<int>(COMMAND, COUNT), 3);
    EXPECT_FALSE(first->wait_sem_data_group_ex(COMMAND, 20, 0, nullptr));

    // ids of no application: published, nobody woken
    for (const int nobody : {99, 100 + view->slot_count()}) {
        post(writer, "4 " + std::to_string(nobody));
        EXPECT_EQ(groups->group("command").last_post_app_id_to_answ, nobody);
        EXPECT_EQ(published_count(*groups), 4);
        EXPECT_EQ(groups->semaphore_value("command", first->get_application_number()), 0);
        EXPECT_EQ(groups->semaphore_value("command", second->get_application_number()), 0);
    }
    finish(writer);
}

TEST_F(Posting, TwoPostsBeforeAWaitWakeTheReaderOnceWithTheLatestData)
{
    Peer_Process writer(command_writer);
    ASSERT_EQ(writer.receive_ex(), "ready");
    post(writer, "1");
    post(writer, "2");
    EXPECT_EQ(groups->semaphore_value("command", first->get_application_number()), 1);
    EXPECT_TRUE(first->wait_sem_data_group_ex(COMMAND, 5000, 0, nullptr));
    EXPECT_EQ(first->get_sem_data_group_data_ex<int>(COMMAND, COUNT), 2);
    EXPECT_FALSE(first->wait_sem_data_group_ex(COMMAND, 20, 0, nullptr));

    // taking the reader role again drops the wake-up still pending
    EXPECT_EQ(groups->semaphore_value("command", second->get_application_number()), 1);
    EXPECT_EQ(second->get_sem_data_group_read_id_ex("command"), COMMAND);
    EXPECT_FALSE(second->wait_sem_data_group_ex(COMMAND, 20, 0, nullptr));
    finish(writer);
}

TEST_F(Posting, ATimedWaitWithoutPostReturnsFalsePromptly)
{
    const auto start = Clock::now();
    EXPECT_FALSE(first->wait_sem_data_group_ex(COMMAND, 0.5, 0, nullptr));
    const auto waited = Clock::now() - start;
    EXPECT_GE(waited, 500us);
    EXPECT_LT(waited, 1s);  // promptly: far from blocking, whatever the load
}

// A time-out that is not a number would wait forever: refused.
TEST_F(Posting, ANaNTimeOutIsRefused)
{
    const double nan = std::numeric_limits<double>::quiet_NaN();
    EXPECT_EQ(thrown_text([&] { first->wait_sem_data_group_ex(COMMAND, nan, 0, nullptr); }),
              std::string("[Framework_Shared_Memory_Manager][wait_sem_data_group_ex] time-out is not a number: ") +
                  std::strerror(EINVAL));
}

TEST_F(Posting, AnUntimedWaitBlocksUntilThePost)
{
    Peer_Process reader([](Peer_Process::Link& link) {
        auto app = attach_application("sleeper");
        const int g = app->get_sem_data_group_read_id_ex("command");
        link.send("ready");
        for (const double no_limit : {0.0, -1.0}) {
            if (!app->wait_sem_data_group_ex(g, no_limit, 0, nullptr))
                return 3;
            link.send("woke " + std::to_string(app->get_sem_data_group_data_ex<int>(g, COUNT)));
        }
        return 0;
    });
    ASSERT_EQ(reader.receive_ex(), "ready");
    auto writer = attach("writer");
    ASSERT_EQ(writer->get_sem_data_group_write_id_ex("command", false), COMMAND);
    for (int count = 1; count <= 2; ++count) {
        EXPECT_TRUE(reader.is_silent_for(100));
        writer->set_sem_data_group_data_ex<int>(COMMAND, COUNT, count);
        writer->post_sem_data_group_ex(COMMAND, false, -1);
        EXPECT_EQ(reader.receive_ex(), "woke " + std::to_string(count));
    }
    EXPECT_TRUE(exited_with(reader.wait_exit_ex(), 0));
}

// A signal that the process handles does not end a wait, timed or not.
TEST_F(Posting, ASignalDoesNotEndAWait)
{
    struct sigaction ignore {};
    ignore.sa_handler = [](int) {};
    sigemptyset(&ignore.sa_mask);
    struct sigaction previous {};
    ASSERT_EQ(sigaction(SIGUSR1, &ignore, &previous), 0);
    auto writer = attach("writer");
    ASSERT_EQ(writer->get_sem_data_group_write_id_ex("command", false), COMMAND);

    std::atomic<int> woken{0};
    std::string error;
    std::thread waiting([&] {
        error = thrown_text([&] {
            for (const double timeout_ms : {5000.0, 0.0})
                if (first->wait_sem_data_group_ex(COMMAND, timeout_ms, 0, nullptr))
                    ++woken;
        });
    });
    for (int round = 1; round <= 2; ++round) {
        for (int i = 0; i < 10; ++i) {
            pthread_kill(waiting.native_handle(), SIGUSR1);
            std::this_thread::sleep_for(5ms);
        }
        writer->post_sem_data_group_ex(COMMAND, false, -1);
        EXPECT_TRUE(holds_within([&] { return woken == round || !error.empty(); }));
    }
    waiting.join();
    sigaction(SIGUSR1, &previous, nullptr);
    EXPECT_EQ(error, "<nothing thrown>");
    EXPECT_EQ(woken, 2);
}

// With "enable_sem_data_logging" on, posts and waits reach the server's log
// as records of the application that made them.
TEST_F(Posting, PostsAndWaitsAreLoggedByTheServerWhenAsked)
{
    auto writer = attach("writer");
    ASSERT_EQ(writer->get_sem_data_group_write_id_ex("command", false), COMMAND);
    writer->set_output_ex<unsigned char>(writer->get_output_rw_id_ex("enable_sem_data_logging", false), 1);
    for (Framework_Shared_Memory_Manager* app : {writer.get(), first.get()}) {
        const int logging = app->get_input_id_ex("enable_sem_data_logging");
        EXPECT_TRUE(holds_within([&] {
            return app->refresh_data_ex(nullptr) >= 0 && app->get_input_ex<unsigned char>(logging, false) == 1;
        }));
        ASSERT_GE(app->refresh_data_ex(nullptr), 0);  // the switch follows the image of the refresh before
    }
    writer->post_sem_data_group_ex(COMMAND, false, -1);
    ASSERT_TRUE(first->wait_sem_data_group_ex(COMMAND, 5000, 0, nullptr));

    const std::string stamp = R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} )";
    const std::regex post(stamp + std::to_string(100 + writer->get_application_number()) + " P 1\n");
    const std::regex wait(stamp + std::to_string(100 + first->get_application_number()) + " W 1\n");
    std::string log;
    EXPECT_TRUE(holds_within([&] {
        std::ifstream file("/tmp/framework_logger.log");
        std::stringstream text;
        text << file.rdbuf();
        log = text.str();
        return std::regex_search(log, post) && std::regex_search(log, wait);
    })) << log;
}

// Once the framework watchdog freed its slot, an application neither posts
// nor takes a role: its number may already name the next application.
TEST_F(Posting, AnApplicationWhoseSlotWasFreedNoLongerPosts)
{
    auto old = attach("old");
    const int n = old->get_application_number();
    ASSERT_EQ(old->get_sem_data_group_write_id_ex("command", false), COMMAND);
    old->set_watchdog_value_ex(5);
    old->turn_on_watchdog_ex();
    ASSERT_GE(old->refresh_data_ex(nullptr), 0);
    ASSERT_TRUE(slot_freed(n));
    EXPECT_EQ(old->refresh_data_ex(nullptr), -1);
    auto next = attach("next");
    ASSERT_EQ(next->get_application_number(), n);
    ASSERT_EQ(next->get_sem_data_group_write_id_ex("command", false), COMMAND);
    EXPECT_TRUE(first->wait_sem_data_group_ex(COMMAND, 5000, 0, nullptr));  // the wake-up of the lost writer

    old->set_sem_data_group_data_ex<int>(COMMAND, COUNT, 9);  // its own image
    const std::string released = "application slot was released by the framework watchdog";
    EXPECT_NE(thrown_text([&] { old->post_sem_data_group_ex(COMMAND, false, -1); }).find(released), std::string::npos);
    EXPECT_NE(thrown_text([&] { old->get_sem_data_group_read_id_ex("trace"); }).find(released), std::string::npos);
    EXPECT_NE(thrown_text([&] { old->try_acquire_sem_data_group_ex(0); }).find(released), std::string::npos);
    EXPECT_EQ(thrown_text([&] { old->wait_sem_data_group_ex(COMMAND, 20, 0, nullptr); }),
              "[Framework_Shared_Memory_Manager][wait_sem_data_group_ex] this application has been released from "
              "framework!!");
    EXPECT_FALSE(first->wait_sem_data_group_ex(COMMAND, 20, 0, nullptr));
    EXPECT_NE(published_count(*groups), 9);
}

// The writer stops refreshing with its watchdog on; the server frees its
// slot and wakes the readers. The parameter: the reader asks to learn of it.
class Lost_Writer : public Posting, public testing::WithParamInterface<int> {};

TEST_P(Lost_Writer, WakesItsReadersOnce)
{
    const int ack_on_poster_release = GetParam();
    Peer_Process writer([](Peer_Process::Link& link) {
        auto app = attach_application("doomed");
        app->get_sem_data_group_write_id_ex("command", false);
        app->set_watchdog_value_ex(5);
        app->turn_on_watchdog_ex();
        app->refresh_data_ex(nullptr);
        link.send(std::to_string(app->get_application_number()));
        link.receive();  // no refresh any more until told to end
        return 0;
    });
    const int n = std::stoi(writer.receive_ex());
    ASSERT_TRUE(slot_freed(n));
    Shared_Sem_Data_Group_Struct& command = groups->group("command");
    EXPECT_EQ(command.rw_app_id, -1);
    EXPECT_EQ(command.is_posted_from_watchdog, 1);

    testing::internal::CaptureStdout();
    const std::string text =
        thrown_text([&] { EXPECT_FALSE(first->wait_sem_data_group_ex(COMMAND, 100, ack_on_poster_release, nullptr)); });
    const std::string log = testing::internal::GetCapturedStdout();
    EXPECT_NE(log.find("[Framework_Shared_Memory_Manager][wait_sem_data_group] semdata group 1 is is posted from "
                       "watchdog"),
              std::string::npos)
        << log;
    if (ack_on_poster_release != 0) {
        EXPECT_EQ(text.rfind("[Framework_Shared_Memory_Manager][wait_sem_data_group_ex] application supposed to post "
                             "has been released",
                             0),
                  0u)
            << text;
    } else {
        EXPECT_EQ(text, "<nothing thrown>");
        EXPECT_NE(log.find("[Framework_Shared_Memory_Manager][wait_sem_data_group_ex] sem_data_group 1 unexpected "
                           "behaviour!!"),
                  std::string::npos)
            << log;
    }
    EXPECT_EQ(command.is_posted_from_watchdog, 0);
    // the other reader finds the flag cleared: its wake-up is an ordinary one
    EXPECT_TRUE(second->wait_sem_data_group_ex(COMMAND, 5000, 1, nullptr));
    finish(writer);
}

INSTANTIATE_TEST_SUITE_P(AckOnPosterRelease, Lost_Writer, testing::Values(0, 1),
                         [](const testing::TestParamInfo<int>& param) {
                             return param.param != 0 ? std::string("Asked") : std::string("NotAsked");
                         });
