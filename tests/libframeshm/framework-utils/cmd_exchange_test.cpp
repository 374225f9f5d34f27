// Commands with typed arguments between a Framework_Cmd_Client and a
// Framework_Cmd_Server in two processes; the client's wait for a waiting
// server and its time-out; taking and giving back the channel.

#include <chrono>

#include "channel_fixture.h"

using Cmd_Exchange = Channel_Test;

namespace {
const std::string NO_SERVER_WAITING = "[Framework_Shared_Memory_Manager][send_cmd] No server is waiting for a command!";

std::string time_out_text(int timeout_ms)
{
    return "[Framework_Cmd_Client][send_command_ex] No server is waiting for command (client :: tool, timeout [ms] "
           ":: " +
           std::to_string(timeout_ms) + ")";
}

std::string label_or_error(Framework_Cmd_Server& server)
{
    try {
        return server.get_last_received_command_label_ex();
    } catch (const std::runtime_error& e) {
        return std::string("error: ") + e.what();
    }
}

void answer_tool_command(Framework_Cmd_Server& server)
{
    server.set_answ_data_ex<double>("position", server.get_cmd_data_ex<double>("ratio") * 2);
    server.set_answ_data_ex<short>("status", static_cast<short>(-server.get_cmd_data_ex<int>("speed")));
    server.set_answ_data_ex<unsigned int>("total", static_cast<unsigned int>(
                                                       server.get_cmd_data_ex<unsigned long long>("counter")) +
                                                       server.get_cmd_data_ex<unsigned short>("small"));
    server.set_answ_data_ex<long long>("echo", server.get_cmd_data_ex<long long>("offset"));
    server.set_answ_data_ex<float>("scale", server.get_cmd_data_ex<float>("gain") * 2);
    server.set_answ_data_ex<std::vector<uint8_t>>("note", server.get_cmd_data_ex<std::vector<uint8_t>>("name", 8, 2));
}

// The server of channel "tool" in a process of its own, with both protocols.
// It reports "ready", then "got <code> <command name or error>" for each
// command. Commands of the protocol are answered "done", except halt, which
// is answered with the code 7 that the answer protocol lacks. Any other code
// waits for the line "answer" and is answered "refused". Code 0 is answered,
// and the server ends on the line "end": giving the channel up wakes a client
// still waiting for the answer with an error.
int tool_server(Peer_Process::Link& link)
{
    auto app = attach_application("tool_server");
    if (app->refresh_data_ex(nullptr) < 0)
        return 5;
    Framework_Cmd_Server server("tool");
    server.setup_ex(app.get());
    server.init_cmd_ptcl_ex(3, "cmd_ptcl_");
    server.init_answ_ptcl_ex(2, "answ_ptcl_");
    if (!server.try_acquire_ex())
        return 3;
    link.send("ready");
    for (;;) {
        if (!server.wait_command_ex(10000))
            return 4;
        const int8_t code = server.get_last_received_command_ex();
        link.send("got " + std::to_string(code) + " " + label_or_error(server));
        answer_tool_command(server);
        if (code == 3) {
            server.send_answer_ex(int8_t{7});
        } else if (code >= 0 && code <= 2) {
            server.send_answer_ex("done");
        } else if (link.receive() == "answer") {
            server.send_answer_ex("refused");
        }
        if (code == 0)
            return link.receive() == "end" ? 0 : 6;
    }
}

// A client of channel "bare" that sends code 4 without a time-out and
// reports "sending", "sent" and "answer <code>".
int patient_client(Peer_Process::Link& link)
{
    auto app = attach_application("patient");
    Framework_Cmd_Client client("bare");
    client.setup_ex(app.get());
    if (!client.try_acquire_ex())
        return 3;
    link.send("sending");
    client.send_command_ex(int8_t{4}, -1);
    link.send("sent");
    if (!client.wait_answer_ex(10000))
        return 4;
    link.send("answer " + std::to_string(client.get_last_received_answer_ex()));
    return 0;
}

template <typename F>
std::chrono::milliseconds duration_of(F&& f)
{
    const auto start = std::chrono::steady_clock::now();
    f();
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
}
}  // namespace

TEST_F(Cmd_Exchange, ACommandWithArgumentsIsServedInAnotherProcessAndAnswered)
{
    auto client = bound<Framework_Cmd_Client>("tool", manager.get());
    client->init_cmd_ptcl_ex(3, "cmd_ptcl_");
    client->init_answ_ptcl_ex(2, "answ_ptcl_");
    ASSERT_TRUE(client->try_acquire_ex());
    Peer_Process server(tool_server);
    ASSERT_EQ(server.receive_ex(), "ready");

    client->clear_command_channel_ex();
    client->set_cmd_data_ex<int>("speed", 1234);
    client->set_cmd_data_ex<float>("gain", 0.75f);
    client->set_cmd_data_ex<double>("ratio", 2.25);
    client->set_cmd_data_ex<unsigned long long>("counter", 0x100000005ULL);
    client->set_cmd_data_ex<long long>("offset", -7000000000LL);
    client->set_cmd_data_ex<unsigned short>("small", 40);
    client->set_cmd_data_ex<std::string>("name", "0123456789", true, 0);
    client->send_command_ex("get_info", 5000);
    ASSERT_TRUE(client->wait_answer_ex(5000));
    EXPECT_EQ(server.receive_ex(), "got 2 get_info");

    EXPECT_EQ(client->get_last_received_answer_ex(), 1);
    EXPECT_EQ(client->get_last_received_answer_label_ex(), "done");
    EXPECT_EQ(client->get_answ_data_ex<double>("position"), 4.5);
    EXPECT_EQ(client->get_answ_data_ex<short>("status"), -1234);
    EXPECT_EQ(client->get_answ_data_ex<unsigned int>("total"), 45u);
    EXPECT_EQ(client->get_answ_data_ex<long long>("echo"), -7000000000LL);
    EXPECT_EQ(client->get_answ_data_ex<float>("scale"), 1.5f);
    EXPECT_EQ(client->get_answ_data_ex<std::string>("note"), "23456789");

    // an answer code that the answer protocol lacks
    client->send_command_ex("halt", 5000);
    ASSERT_TRUE(client->wait_answer_ex(5000));
    EXPECT_EQ(server.receive_ex(), "got 3 halt");
    EXPECT_EQ(client->get_last_received_answer_ex(), 7);
    EXPECT_EQ(
        thrown_text([&] { client->get_last_received_answer_label_ex(); }),
        "[Framework_Cmd_Client][get_last_received_answer_label_ex] Cmd_Servertool --> recived value 7 not present "
        "in answer protocol map!");

    // a command that the command protocol lacks; while the server holds it,
    // no server waits and the answer does not come
    client->send_command_ex(int8_t{-1}, 5000);
    EXPECT_EQ(server.receive_ex(),
              "got -1 error: [Framework_Cmd_Server][get_last_received_command_label_ex] Cmd_Server tool --> recived "
              "value -1 not present in command protocol map!");
    EXPECT_FALSE(client->wait_answer_ex(50));
    EXPECT_EQ(thrown_text([&] { client->send_command_ex(int8_t{1}, 5); }), time_out_text(5));
    server.send("answer");
    ASSERT_TRUE(client->wait_answer_ex(5000));
    EXPECT_EQ(client->get_last_received_answer_label_ex(), "refused");

    client->send_command_ex(int8_t{0}, 5000);
    ASSERT_TRUE(client->wait_answer_ex(5000));
    EXPECT_EQ(server.receive_ex(),
              "got 0 error: [Framework_Cmd_Server][get_last_received_command_label_ex] Cmd_Server "
              "tool --> recived value 0 not present in command protocol map!");
    server.send("end");
    EXPECT_TRUE(exited_with(server.wait_exit_ex(), 0));
}

TEST_F(Cmd_Exchange, WithNoServerWaitingTheSendTimesOut)
{
    auto client = bound<Framework_Cmd_Client>("tool", manager.get());
    ASSERT_TRUE(client->try_acquire_ex());
    const struct {
        int8_t code;
        int32_t timeout_ms;
        std::string text;
    } cases[] = {
        {11, 0, NO_SERVER_WAITING},  // no poll: the manager's own refusal
        {12, 1, time_out_text(1)},
        {13, 40, time_out_text(40)},
    };
    for (const auto& c : cases) {
        std::string text;
        const auto took =
            duration_of([&] { text = thrown_text([&] { client->send_command_ex(c.code, c.timeout_ms); }); });
        EXPECT_EQ(text, c.text);
        // 2 x timeout_ms sleeps of at least 0.5 ms each
        EXPECT_GE(took.count(), c.timeout_ms);
        // the code of the failed send stays in the command data
        EXPECT_EQ(client->get_cmd_data_ex<int8_t>("cmd_value"), c.code);
    }

    // a server in wait_command_ex receives nothing either
    auto server = bound<Framework_Cmd_Server>("tool", manager.get());
    ASSERT_TRUE(server->try_acquire_ex());
    EXPECT_FALSE(server->wait_command_ex(20));
}

TEST_F(Cmd_Exchange, WithoutATimeOutTheClientWaitsForAServer)
{
    Peer_Process patient(patient_client);
    ASSERT_EQ(patient.receive_ex(), "sending");
    EXPECT_TRUE(patient.is_silent_for(200));

    auto server = bound<Framework_Cmd_Server>("bare", manager.get());
    ASSERT_TRUE(server->try_acquire_ex());
    ASSERT_TRUE(server->wait_command_ex(5000));
    EXPECT_EQ(patient.receive_ex(), "sent");
    EXPECT_EQ(server->get_last_received_command_ex(), 4);
    server->send_answer_ex(int8_t{-2});
    EXPECT_EQ(patient.receive_ex(), "answer -2");
    EXPECT_TRUE(exited_with(patient.wait_exit_ex(), 0));
}

TEST_F(Cmd_Exchange, WithoutCodeDataTheCodeOperationsFailBeforeAnyPoll)
{
    auto client = bound<Framework_Cmd_Client>("nocode", manager.get());
    auto server = bound<Framework_Cmd_Server>("nocode", manager.get());
    ASSERT_TRUE(client->try_acquire_ex());
    EXPECT_EQ(thrown_text([&] { client->send_command_ex(int8_t{1}, 5000); }),
              "[Framework_Cmd_Channel][get_cmd_data_to_send_ptr_ex] cmd_value does not belong to cmd data to send! "
              "(cmd_name :: nocode, is_server :: 0)");
    EXPECT_EQ(thrown_text([&] { server->get_last_received_command_ex(); }),
              "[Framework_Cmd_Channel][get_cmd_data_to_recv_ptr_ex] cmd_value does not belong to cmd data to recive! "
              "(cmd_name :: nocode, is_server :: 1)");
    EXPECT_EQ(thrown_text([&] { client->get_last_received_answer_ex(); }),
              "[Framework_Cmd_Channel][get_cmd_data_to_recv_ptr_ex] resp_value does not belong to cmd data to "
              "recive! (cmd_name :: nocode, is_server :: 0)");
}

TEST_F(Cmd_Exchange, TheChannelIsTakenAndGivenBackByItsObjects)
{
    auto second = attach_application("second");
    auto other = bound<Framework_Cmd_Client>("tool", second.get());
    {
        auto holder = bound<Framework_Cmd_Client>("tool", manager.get());
        ASSERT_TRUE(holder->try_acquire_ex());
        EXPECT_TRUE(holder->is_acquired);
        EXPECT_FALSE(other->try_acquire_ex());
        EXPECT_FALSE(other->is_acquired);
        // an object that did not take the channel gives nothing back
        other->release_ex();
        EXPECT_FALSE(other->try_acquire_ex());
    }
    // the destroyed holder gave the channel back
    ASSERT_TRUE(other->try_acquire_ex());
    other->release_ex();
    EXPECT_FALSE(other->is_acquired);
    auto next = bound<Framework_Cmd_Client>("tool", manager.get());
    ASSERT_TRUE(next->try_acquire_ex());
    // a second release gives back nothing, above all not the next holder's hold
    other->release_ex();
    EXPECT_FALSE(other->try_acquire_ex());

    auto server = bound<Framework_Cmd_Server>("tool", manager.get());
    ASSERT_TRUE(server->try_acquire_ex());
    auto other_server = bound<Framework_Cmd_Server>("tool", second.get());
    EXPECT_FALSE(other_server->try_acquire_ex());
    server.reset();
    EXPECT_TRUE(other_server->try_acquire_ex());
}
