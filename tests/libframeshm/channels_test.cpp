// Command channels between a client in this process and a server in
// another, both attached to rtframe -o.
#include <signal.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <functional>
#include <limits>

#include "group_test.h"

namespace {
const std::string NO_SERVER = "[Framework_Shared_Memory_Manager][send_cmd] No server is waiting for a command!";
const std::string RELEASED_BY_FRAMEWORK = "released from framework!!";

// Data of "axis_sender" and "axis_receiver".
constexpr int CODE = 0, TARGET = 1, NAME = 2;
constexpr int RESULT = 0, POSITION = 1, NOTE = 2;

// The server of channel "axis" in a process of its own. It answers each
// command with result = 2 x code, position = target + 1 and the name
// reversed as note. It reports "ready <application number>", "got <code>"
// for each command taken and "answered" for each answer sent. A negative
// code makes it wait for a line first: "answer" or "release" (give the
// channel up and end). Code 0 is answered and ends it.
int axis_server(Peer_Process::Link& link)
{
    auto app = attach_application("axis_server");
    const int id = app->get_cmd_channel_id_as_server_ex("axis");
    if (!app->try_acquire_cmd_as_server_ex(id))
        return 3;
    link.send("ready " + std::to_string(app->get_application_number()));
    for (;;) {
        if (!app->wait_cmd_ex(id, 10000))
            return 4;
        const signed char code = app->get_cmd_data_ex<signed char>(id, CODE);
        link.send("got " + std::to_string(code));
        if (code < 0 && link.receive() == "release") {
            app->release_cmd_as_server_ex(id);
            return 0;
        }
        uint8_t name[8];
        app->get_cmd_data_byte_array_ex(id, NAME, name, 8, 0);
        std::reverse(name, name + 8);
        app->set_answ_data_ex<signed char>(id, RESULT, static_cast<signed char>(2 * code));
        app->set_answ_data_ex<double>(id, POSITION, app->get_cmd_data_ex<double>(id, TARGET) + 1);
        app->set_answ_data_byte_array_ex(id, NOTE, name, 8, 0);
        try {
            app->send_answer_ex(id);
        } catch (const std::exception& e) {
            link.send(std::string("refused: ") + e.what());
            continue;
        }
        link.send("answered");
        if (code == 0)
            return 0;
    }
}

std::string text_of(const uint8_t (&bytes)[8])
{
    return std::string(reinterpret_cast<const char*>(bytes), 8);
}
}  // namespace

class Channels : public Group_Test {
protected:
    Test_Descriptor descriptor() const override
    {
        Test_Descriptor d;
        d.with_channel = true;
        return d;
    }

    void SetUp() override
    {
        Group_Test::SetUp();
        client = attach("client");
        id = client->get_cmd_channel_id_as_client_ex("axis");
        ASSERT_TRUE(client->try_acquire_cmd_as_client_ex(id));
    }

    void TearDown() override
    {
        client.reset();
        Group_Test::TearDown();
    }

    // Starts the server; its application number.
    int start(Peer_Process& server)
    {
        const std::string ready = server.receive_ex();
        EXPECT_EQ(ready.rfind("ready ", 0), 0u) << ready;
        return std::stoi(ready.substr(6));
    }

    void set_command(signed char code)
    {
        client->set_cmd_data_ex<signed char>(id, CODE, code);
        client->set_cmd_data_ex<double>(id, TARGET, 1.5);
        const uint8_t name[8] = {'a', 'b', 'c', 'd', 'e', 'f', 'g', 'h'};
        client->set_cmd_data_byte_array_ex(id, NAME, name, 8, 0);
    }

    bool server_waits()
    {
        return holds_within([&] { return client->is_server_waiting_for_command_ex(id); });
    }

    // Sends code 0, which the server answers before it ends.
    void stop(Peer_Process& server)
    {
        set_command(0);
        ASSERT_TRUE(server_waits());
        EXPECT_TRUE(client->send_cmd_and_wait_answer_ex(id, 5000));
        EXPECT_EQ(server.receive_ex(), "got 0");
        EXPECT_EQ(server.receive_ex(), "answered");
        EXPECT_TRUE(exited_with(server.wait_exit_ex(), 0));
    }

    std::unique_ptr<Framework_Shared_Memory_Manager> client;
    int id = -1;
};

TEST_F(Channels, ACommandWithDataIsServedAndAnsweredByAnotherProcess)
{
    EXPECT_FALSE(client->is_server_waiting_for_command_ex(id));
    EXPECT_EQ(thrown_text([&] { client->send_cmd_ex(id); }), NO_SERVER);

    Peer_Process server(axis_server);
    const int server_number = start(server);
    set_command(21);
    // what this client is about to send reads back, byte arrays too
    EXPECT_EQ(client->get_cmd_data_to_send_ex<signed char>(id, CODE), 21);
    uint8_t name[8] = {};
    client->get_cmd_data_byte_array_to_send_ex(id, NAME, name, 8, 0);
    EXPECT_EQ(text_of(name), "abcdefgh");

    ASSERT_TRUE(server_waits());
    EXPECT_TRUE(client->send_cmd_and_wait_answer_ex(id, 5000));
    EXPECT_EQ(server.receive_ex(), "got 21");
    EXPECT_EQ(server.receive_ex(), "answered");
    EXPECT_EQ(client->get_answ_data_ex<signed char>(id, RESULT), 42);
    EXPECT_EQ(client->get_answ_data_ex<double>(id, POSITION), 2.5);
    uint8_t note[8] = {};
    client->get_answ_data_byte_array_ex(id, NOTE, note, 8, 0);
    EXPECT_EQ(text_of(note), "hgfedcba");

    // while the server works on a command it does not wait for the next one
    set_command(-3);
    ASSERT_TRUE(server_waits());
    client->send_cmd_ex(id);
    EXPECT_EQ(server.receive_ex(), "got -3");
    EXPECT_FALSE(client->is_server_waiting_for_command_ex(id));
    EXPECT_EQ(thrown_text([&] { client->send_cmd_ex(id); }), NO_SERVER);
    EXPECT_EQ(groups->semaphore_value("axis_sender", server_number), 0);  // nothing posted
    EXPECT_FALSE(client->wait_answer_ex(id, 20));
    server.send("answer");
    EXPECT_TRUE(client->wait_answer_ex(id, 5000));
    EXPECT_EQ(client->get_answ_data_ex<signed char>(id, RESULT), -6);
    EXPECT_EQ(server.receive_ex(), "answered");
    stop(server);
}

TEST_F(Channels, NoAnswerForAClientThatLetTheChannelGo)
{
    Peer_Process server(axis_server);
    start(server);
    set_command(-1);
    ASSERT_TRUE(server_waits());
    client->send_cmd_ex(id);
    EXPECT_EQ(server.receive_ex(), "got -1");
    client->release_cmd_as_client_ex(id);
    server.send("answer");
    EXPECT_EQ(server.receive_ex(),
              "refused: [Framework_Shared_Memory_Manager][send_answer] Error, application that sent command has not "
              "taken the _sender semaphore anymore");
    EXPECT_FALSE(client->wait_answer_ex(id, 20));
    ASSERT_TRUE(client->try_acquire_cmd_as_client_ex(id));
    stop(server);
}

TEST_F(Channels, AServerThatGivesTheChannelUpEndsTheWaitForItsAnswer)
{
    Peer_Process server(axis_server);
    start(server);
    set_command(-2);
    ASSERT_TRUE(server_waits());
    client->send_cmd_ex(id);
    EXPECT_EQ(server.receive_ex(), "got -2");
    server.send("release");
    EXPECT_TRUE(exited_with(server.wait_exit_ex(), 0));
    const std::string text = thrown_text([&] { client->wait_answer_ex(id, 5000); });
    EXPECT_EQ(text.rfind("[Framework_Shared_Memory_Manager][wait_sem_data_group_ex] application supposed to post has "
                         "been released",
                         0),
              0u)
        << text;
    EXPECT_EQ(groups->group("axis_receiver").rw_app_id, -1);
    EXPECT_EQ(groups->group("axis_receiver").is_posted_from_watchdog, 0);
}

// The server's watchdog expires while it waits for a command: the server
// frees it from the group, its wait fails, and clients must not see it
// waiting any more.
TEST_F(Channels, TheWaitingMarkGoesWithAFailedWait)
{
    Peer_Process server([](Peer_Process::Link& link) {
        auto app = attach_application("axis_server");
        const int channel = app->get_cmd_channel_id_as_server_ex("axis");
        app->try_acquire_cmd_as_server_ex(channel);
        app->set_watchdog_value_ex(50);
        app->turn_on_watchdog_ex();
        app->refresh_data_ex(nullptr);
        link.send("ready " + std::to_string(app->get_application_number()));
        try {
            app->wait_cmd_ex(channel, 0);
        } catch (const std::exception& e) {
            link.send(e.what());
            return 0;
        }
        return 3;
    });
    start(server);
    const std::string text = server.receive_ex();
    EXPECT_NE(text.find(RELEASED_BY_FRAMEWORK), std::string::npos) << text;
    EXPECT_TRUE(exited_with(server.wait_exit_ex(), 0));
    EXPECT_FALSE(client->is_server_waiting_for_command_ex(id));
    EXPECT_EQ(groups->group("axis_sender").is_server_waiting_cmd_setter, -1);
    EXPECT_EQ(thrown_text([&] { client->send_cmd_ex(id); }), NO_SERVER);
}

TEST_F(Channels, ALateAnswerIsDrainedByTheClear)
{
    Peer_Process server(axis_server);
    start(server);
    set_command(-4);
    ASSERT_TRUE(server_waits());
    client->send_cmd_ex(id);
    EXPECT_EQ(server.receive_ex(), "got -4");
    EXPECT_FALSE(client->wait_answer_ex(id, 20));
    server.send("answer");
    EXPECT_EQ(server.receive_ex(), "answered");
    client->clear_cmd_from_client_ex(id);
    EXPECT_FALSE(client->wait_answer_ex(id, 20));
    stop(server);

    client->release_cmd_as_client_ex(id);
    testing::internal::CaptureStdout();
    client->clear_cmd_from_client_ex(id);
    const std::string log = testing::internal::GetCapturedStdout();
    EXPECT_NE(log.find(
                  "Framework_Shared_Memory_Manager::clear_cmd_from_client -> rw_app_id =-1 app_num_with_offset = " +
                  std::to_string(100 + client->get_application_number()) + ", nothing to do"),
              std::string::npos)
        << log;
}

TEST_F(Channels, TheChannelTableAndItsChecks)
{
    EXPECT_EQ(client->get_cmd_channel_id_as_client_ex("axis"), id);
    const int served = client->get_cmd_channel_id_as_server_ex("axis");
    EXPECT_NE(served, id);
    EXPECT_EQ(client->get_cmd_channel_id_as_server_ex("axis"), served);
    EXPECT_EQ(thrown_text([&] { client->get_cmd_channel_id_as_client_ex("nope"); }),
              "[Framework_Shared_Memory_Manager][get_sem_data_group_read_id_ex] Error semaphorize group data not "
              "found... nope_receiver");

    const std::string method = "[Framework_Shared_Memory_Manager][";
    struct Case {
        std::function<void()> call;
        std::string text;
    };
    const Case cases[] = {
        {[&] { client->send_cmd_ex(2); }, "send_cmd_ex] invalid cmd channel id, required :: 2, max available :: 1"},
        {[&] { client->wait_cmd_ex(-1, 1); },
         "wait_cmd_ex] invalid cmd channel id, required :: -1, max available :: 1"},
        {[&] { client->get_cmd_data_ex<int>(id, CODE); },
         "get_cmd_data_ex] cmd_channel id not taken as server!, cmd_channel id  :: " + std::to_string(id)},
        {[&] { client->send_cmd_ex(served); },
         "send_cmd_ex] cmd_channel id not taken as client!, cmd_channel id  :: " + std::to_string(served)},
        {[&] { client->get_answ_data_byte_array_dim_ex(served, NOTE, true); },
         "get_answ_data_byte_array_dim_ex] cmd_channel id not taken as client!, cmd_channel id  :: " +
             std::to_string(served)},
    };
    for (const Case& c : cases) {
        const std::string text = thrown_text(c.call);
        EXPECT_EQ(text.rfind(method + c.text + ", ( exception @ xelo_framework_shm_manager:", 0), 0u) << text;
    }

    // the two sides see the groups the other way round
    const std::vector<std::string> commands = {"code", "target", "name"};
    const std::vector<std::string> answers = {"result", "position", "note"};
    EXPECT_EQ(client->get_list_cmd_send_data_args_ex(id), commands);
    EXPECT_EQ(client->get_list_cmd_recv_data_args_ex(id), answers);
    EXPECT_EQ(client->get_list_cmd_recv_data_args_ex(served), commands);
    EXPECT_EQ(client->get_cmd_data_id_to_send_ex(id, "name"), NAME);
    EXPECT_EQ(client->get_cmd_data_id_to_recv_ex(served, "name"), NAME);
    EXPECT_EQ(client->get_send_data_type_ex(id, TARGET), DOUBLE_FSM);
    EXPECT_EQ(client->get_recv_data_dim_ex(id, POSITION), 8u);
    EXPECT_EQ(client->get_cmd_data_dim_ex(served, NAME), 8u);
    EXPECT_EQ(client->get_answ_data_type_ex(id, RESULT), INT8_FSM);
    EXPECT_EQ(client->get_answ_data_type_ex(served, RESULT), INT8_FSM);
    EXPECT_EQ(client->get_cmd_data_byte_array_dim_ex(served, NAME, false), 8u);

    // no command taken: nobody to answer, not every reader
    ASSERT_TRUE(client->try_acquire_cmd_as_server_ex(served));
    client->release_cmd_as_client_ex(id);
    EXPECT_EQ(thrown_text([&] { client->send_answer_ex(served); }),
              "[Framework_Shared_Memory_Manager][send_answer] Error, application that sent command has not taken the "
              "_sender semaphore anymore");
    EXPECT_FALSE(client->wait_answer_ex(id, 20));

    // a group's flags in a text are digits
    const std::string text = thrown_text([&] { client->get_cmd_data_ex<int>(served, CODE); });
    EXPECT_NE(text.find("\n\t\t\t sem_group only NOT real-time :: 1\n\t\t\t sem_group is buffered :: 0\n"),
              std::string::npos)
        << text;
}

// The channel table outlives a detach; the groups do not.
TEST_F(Channels, ADetachedClientRefusesItsChannel)
{
    client->unlink();
    const std::string gone = "Sorry, sem group_id not valid!";
    EXPECT_NE(thrown_text([&] { client->is_server_waiting_for_command_ex(id); }).find(gone), std::string::npos);
    EXPECT_NE(thrown_text([&] { client->send_cmd_ex(id); }).find(gone), std::string::npos);
    EXPECT_NE(thrown_text([&] { client->clear_cmd_from_client_ex(id); }).find(gone), std::string::npos);
    EXPECT_NE(thrown_text([&] { client->wait_answer_ex(id, 1); }).find(gone), std::string::npos);
}

TEST_F(Channels, ANaNTimeOutIsRefusedByBothWaits)
{
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const int served = client->get_cmd_channel_id_as_server_ex("axis");
    for (const auto& wait : {std::function<void()>([&] { client->wait_answer_ex(id, nan); }),
                             std::function<void()>([&] { client->wait_cmd_ex(served, nan); })}) {
        const std::string text = thrown_text(wait);
        EXPECT_NE(text.find("time-out is not a number: " + std::string(std::strerror(EINVAL))), std::string::npos)
            << text;
    }
    EXPECT_EQ(groups->group("axis_sender").is_server_waiting_cmd_setter, -1);  // the refused wait left no mark
}

// A server killed inside its wait, its watchdog on: the watchdog frees its
// slot and with it the mark that it waits, so that no command is lost
// silently.
TEST_F(Channels, AKilledServerNoLongerLooksWaiting)
{
    Peer_Process server([](Peer_Process::Link& link) {
        auto app = attach_application("axis_server");
        const int channel = app->get_cmd_channel_id_as_server_ex("axis");
        if (!app->try_acquire_cmd_as_server_ex(channel))
            return 3;
        app->set_watchdog_value_ex(50);
        app->turn_on_watchdog_ex();
        app->refresh_data_ex(nullptr);
        link.send("ready " + std::to_string(app->get_application_number()));
        app->wait_cmd_ex(channel, 0);
        return 4;
    });
    const int server_number = start(server);
    ASSERT_TRUE(server_waits());
    const int status = server.kill_ex(SIGKILL);  // killed inside wait_cmd
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << status;
    ASSERT_TRUE(slot_freed(server_number));
    EXPECT_EQ(groups->group("axis_sender").is_server_waiting_cmd_setter, -1);
    set_command(5);
    for (int send = 0; send < 3; ++send) {
        EXPECT_FALSE(client->is_server_waiting_for_command_ex(id)) << send;
        EXPECT_EQ(thrown_text([&] { client->send_cmd_ex(id); }), NO_SERVER) << send;
    }
}
