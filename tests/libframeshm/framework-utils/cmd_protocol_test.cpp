// Protocol maps of the command channels: names and codes read from the
// framework inputs whose labels begin with a prefix.

#include <map>

#include "channel_fixture.h"

using Cmd_Protocol = Channel_Test;

using Code_Names = std::map<int8_t, std::string>;
using Name_Codes = std::map<std::string, int8_t>;

TEST_F(Cmd_Protocol, MapsAreReadFromTheInputsThatBeginWithThePrefix)
{
    auto server = bound<Framework_Cmd_Server>("tool", manager.get());
    auto client = bound<Framework_Cmd_Client>("tool", manager.get());

    // x_cmd_ptcl_fake holds the prefix, but not at its start
    EXPECT_EQ(server->init_cmd_ptcl_ex(3, "cmd_ptcl_"), (Code_Names{{1, "reset"}, {2, "get_info"}, {3, "halt"}}));
    EXPECT_EQ(client->init_cmd_ptcl_ex(3, "cmd_ptcl_"), (Name_Codes{{"get_info", 2}, {"halt", 3}, {"reset", 1}}));
    EXPECT_EQ(server->init_answ_ptcl_ex(2, "answ_ptcl_"), (Name_Codes{{"done", 1}, {"refused", -1}}));
    EXPECT_EQ(client->init_answ_ptcl_ex(2, "answ_ptcl_"), (Code_Names{{-1, "refused"}, {1, "done"}}));
    EXPECT_TRUE(server->has_cmd_protocol);
    EXPECT_TRUE(server->has_answ_protocol);
    EXPECT_TRUE(client->has_cmd_protocol);
    EXPECT_TRUE(client->has_answ_protocol);

    // two inputs with one code both count; the lower input id keeps the code
    EXPECT_EQ(server->init_cmd_ptcl_ex(2, "dup_ptcl_"), (Code_Names{{5, "a"}}));
    EXPECT_EQ(client->init_cmd_ptcl_ex(2, "dup_ptcl_"), (Name_Codes{{"a", 5}, {"b", 5}}));
    // a map is built anew on each call
    EXPECT_EQ(client->init_cmd_ptcl_ex(0, "no_such_prefix_"), Name_Codes{});
}

TEST_F(Cmd_Protocol, ACountMismatchIsLoggedAndKeepsWhatWasFound)
{
    auto client = bound<Framework_Cmd_Client>("tool", manager.get());
    ASSERT_TRUE(client->try_acquire_ex());
    testing::internal::CaptureStdout();
    const std::string refused = thrown_text([&] { client->init_cmd_ptcl_ex(4, "cmd_ptcl_"); });
    const std::vector<std::string> log = log_texts(testing::internal::GetCapturedStdout());
    EXPECT_EQ(refused, "Framework_Cmd_Channel tool send protocol size mismatch!");
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0],
              "\033[31m[Framework_Cmd_Channel][init_send_protocol_ex] Framework_Cmd_Channel tool send_ptcl size "
              "mismatch! required :: 4, found :: 3\033[0m");
    EXPECT_TRUE(client->has_cmd_protocol);

    // "halt" is in the partial map: the send gets as far as waiting for a server
    EXPECT_EQ(thrown_text([&] { client->send_command_ex("halt", 1); }),
              "[Framework_Cmd_Client][send_command_ex] No server is waiting for command (client :: tool, timeout [ms] "
              ":: 1)");
    EXPECT_EQ(client->get_cmd_data_ex<int8_t>("cmd_value"), 3);

    auto server = bound<Framework_Cmd_Server>("tool", manager.get());
    EXPECT_EQ(thrown_text([&] { server->init_answ_ptcl_ex(1, "answ_ptcl_"); }),
              "Framework_Cmd_Channel tool send protocol size mismatch!");
    EXPECT_EQ(thrown_text([&] { server->init_cmd_ptcl_ex(4, "cmd_ptcl_"); }),
              "Framework_Cmd_Channel tool recv protocol size mismatch!");
}

TEST_F(Cmd_Protocol, AnInputThatIsNoCodeFailsWithTheManagersMessage)
{
    auto server = bound<Framework_Cmd_Server>("tool", manager.get());
    const std::string refused = thrown_text([&] { server->init_cmd_ptcl_ex(1, "wide_ptcl_"); });
    EXPECT_EQ(refused.rfind("[Framework_Shared_Memory_Manager][get_input_ex] Sorry, size is not correct!!", 0), 0u)
        << refused;
    EXPECT_NE(refused.find("input_label :: wide_ptcl_a"), std::string::npos) << refused;
}
