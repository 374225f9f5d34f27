// Processes attached to an earlier run of rtframe take no part in the next
// one, although the data-group segments (and so the channels) stay linked
// from run to run: a stop wakes their waits with an error, and their next
// group or channel operation fails instead of receiving.
#include <string>

#include "group_test.h"

namespace {
constexpr int COMMAND = 1;
constexpr int COUNT = 2;
const std::string STOPPED = "the framework this application attached to has stopped!!";

// Data of "axis_sender" and "axis_receiver".
constexpr int CODE = 0;
constexpr int RESULT = 0;

enum class Role { CHANNEL_SERVER, GROUP_READER };

// A peer of the first run: server of channel "axis" or reader of group
// "command". It says "ready", then waits with no time limit, at once or each
// time it is told "wait", and reports how each wait ended: "received" or the
// text of its failure. Any other line ends it.
int earlier_peer(Peer_Process::Link& link, Role role, bool wait_at_once)
{
    auto app = attach_application(role == Role::CHANNEL_SERVER ? "old_server" : "old_reader");
    int id = -1;
    if (role == Role::CHANNEL_SERVER) {
        id = app->get_cmd_channel_id_as_server_ex("axis");
        if (!app->try_acquire_cmd_as_server_ex(id))
            return 3;
    } else {
        id = app->get_sem_data_group_read_id_ex("command");
    }
    link.send("ready");
    for (bool wait = wait_at_once;; wait = false) {
        if (!wait && link.receive() != "wait")
            return 0;
        try {
            const bool received =
                role == Role::CHANNEL_SERVER ? app->wait_cmd_ex(id, 0) : app->wait_sem_data_group_ex(id, 0, 0, nullptr);
            link.send(received ? "received" : "timed out");
        } catch (const std::exception& e) {
            link.send(e.what());
        }
    }
}

// The server of channel "axis" in the new run: answers code c with 2 c and
// reports "got <code>"; code 0 ends it.
int new_server(Peer_Process::Link& link)
{
    auto app = attach_application("new_server");
    const int id = app->get_cmd_channel_id_as_server_ex("axis");
    if (!app->try_acquire_cmd_as_server_ex(id))
        return 3;
    link.send("ready");
    for (;;) {
        if (!app->wait_cmd_ex(id, 10000))
            return 4;
        const signed char code = app->get_cmd_data_ex<signed char>(id, CODE);
        app->set_answ_data_ex<signed char>(id, RESULT, static_cast<signed char>(2 * code));
        app->send_answer_ex(id);
        link.send("got " + std::to_string(code));
        if (code == 0)
            return 0;
    }
}

// The writer of "command" in the new run: "post <count>" posts count to
// every reader and answers "posted"; any other line ends it.
int new_writer(Peer_Process::Link& link)
{
    auto app = attach_application("new_writer");
    const int g = app->get_sem_data_group_write_id_ex("command", false);
    link.send("ready");
    for (std::string line = link.receive(); line.rfind("post ", 0) == 0; line = link.receive()) {
        app->set_sem_data_group_data_ex<int>(g, COUNT, std::stoi(line.substr(5)));
        app->post_sem_data_group_ex(g, false, -1);
        link.send("posted");
    }
    return 0;
}

struct Earlier_Run_Case {
    const char* name;
    Role role;
    bool waiting_at_stop;
};
}  // namespace

class Earlier_Run : public Group_Test, public testing::WithParamInterface<Earlier_Run_Case> {
protected:
    Test_Descriptor descriptor() const override
    {
        Test_Descriptor d;
        d.slots = 4;
        d.with_channel = true;
        return d;
    }

    // The new run's exchange: 20 commands on the channel, or 20 posts to
    // the group, each taken by the new peer or this process and nobody else.
    void exchange_in_new_run(const Earlier_Run_Case& c)
    {
        auto app = attach("new_client");
        if (c.role == Role::CHANNEL_SERVER) {
            Peer_Process server(new_server);
            ASSERT_EQ(server.receive_ex(), "ready");
            const int id = app->get_cmd_channel_id_as_client_ex("axis");
            ASSERT_TRUE(app->try_acquire_cmd_as_client_ex(id));
            for (int code = 20; code >= 0; --code) {
                app->set_cmd_data_ex<signed char>(id, CODE, static_cast<signed char>(code));
                ASSERT_TRUE(holds_within([&] { return app->is_server_waiting_for_command_ex(id); })) << code;
                EXPECT_TRUE(app->send_cmd_and_wait_answer_ex(id, 5000)) << code;
                EXPECT_EQ(app->get_answ_data_ex<signed char>(id, RESULT), 2 * code);
                EXPECT_EQ(server.receive_ex(), "got " + std::to_string(code));
            }
            EXPECT_TRUE(exited_with(server.wait_exit_ex(), 0));
        } else {
            ASSERT_EQ(app->get_sem_data_group_read_id_ex("command"), COMMAND);
            Peer_Process writer(new_writer);
            ASSERT_EQ(writer.receive_ex(), "ready");
            for (int count = 1; count <= 20; ++count) {
                writer.send("post " + std::to_string(count));
                ASSERT_EQ(writer.receive_ex(), "posted");
                EXPECT_TRUE(app->wait_sem_data_group_ex(COMMAND, 5000, 0, nullptr)) << count;
                EXPECT_EQ(app->get_sem_data_group_data_ex<int>(COMMAND, COUNT), count);
            }
            writer.send("exit");
            EXPECT_TRUE(exited_with(writer.wait_exit_ex(), 0));
        }
    }
};

TEST_P(Earlier_Run, TakesNoPartInTheNext)
{
    const Earlier_Run_Case c = GetParam();
    Peer_Process old([&](Peer_Process::Link& link) { return earlier_peer(link, c.role, c.waiting_at_stop); });
    ASSERT_EQ(old.receive_ex(), "ready");
    if (c.waiting_at_stop) {
        if (c.role == Role::CHANNEL_SERVER)
            ASSERT_TRUE(holds_within([&] { return groups->group("axis_sender").is_server_waiting_cmd_setter != -1; }));
        else
            EXPECT_TRUE(old.is_silent_for(100));  // inside its wait
    }

    restart_server();
    if (!c.waiting_at_stop)
        old.send("wait");
    const std::string failure = old.receive_ex();
    EXPECT_NE(failure.find(STOPPED), std::string::npos) << failure;
    old.send("wait");  // once more, in the new run: refused again at once
    const std::string again = old.receive_ex();
    EXPECT_NE(again.find(STOPPED), std::string::npos) << again;

    exchange_in_new_run(c);  // with the old peer still alive
    EXPECT_TRUE(old.is_silent_for(50));
    old.send("exit");
    EXPECT_TRUE(exited_with(old.wait_exit_ex(), 0));
}

INSTANTIATE_TEST_SUITE_P(Peers, Earlier_Run,
                         testing::Values(Earlier_Run_Case{"ServerWaitingAtStop", Role::CHANNEL_SERVER, true},
                                         Earlier_Run_Case{"ServerWaitingAfterRestart", Role::CHANNEL_SERVER, false},
                                         Earlier_Run_Case{"ReaderWaitingAtStop", Role::GROUP_READER, true},
                                         Earlier_Run_Case{"ReaderWaitingAfterRestart", Role::GROUP_READER, false}),
                         [](const testing::TestParamInfo<Earlier_Run_Case>& param) { return param.param.name; });
