// Command channels and command data before they are bound: every operation
// refuses with its own text, and nothing reaches a manager.

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "framework_cmd_channel.h"
#include "test_helpers.h"

namespace {
// Command data are made by the channels only; these stand in for them.
class Speed_To_Recv : public Framework_Cmd_Data_To_Recv {
public:
    Speed_To_Recv() : Framework_Cmd_Data_To_Recv(true, 3, "tool", "speed") {}
};
class Speed_To_Send : public Framework_Cmd_Data_To_Send {
public:
    Speed_To_Send() : Framework_Cmd_Data_To_Send(false, 3, "tool", "speed") {}
};

const std::string TYPE_CHECK_UNBOUND =
    "[Framework_Variable][check_type_internal_ex] not initalized (label :: speed, id :: -1)";
}  // namespace

TEST(Unbound_Cmd_Data, EveryAccessRefuses)
{
    Speed_To_Recv recv;
    Speed_To_Send send;
    EXPECT_EQ(recv.cmd_channel_id, 3);
    EXPECT_EQ(recv.cmd_channel_label, "tool");
    EXPECT_EQ(send.id, -1);
    EXPECT_EQ(send.type, UNDEFINED_TYPE_FSM);
    EXPECT_EQ(send.dimension, 0u);

    EXPECT_EQ(thrown_text([&] { recv.get_value_ex<int>(); }),
              "[Framework_Cmd_Data_To_Recv][get_value_ex] not initalized (label :: speed, id :: -1)");
    EXPECT_EQ(thrown_text([&] { send.get_value_ex<double>(); }),
              "[Framework_Cmd_Data_To_Send][get_value_ex] not initalized (label :: speed, id :: -1)");
    // writes and byte arrays fail the type check, which holds the bound test
    EXPECT_EQ(thrown_text([&] { send.set_value_ex<int>(1); }), TYPE_CHECK_UNBOUND);
    EXPECT_EQ(thrown_text([&] { send.set_value_ex<std::string>("ab", true, 0); }), TYPE_CHECK_UNBOUND);
    EXPECT_EQ(thrown_text([&] { recv.get_value_ex<std::vector<uint8_t>>(2, 0); }), TYPE_CHECK_UNBOUND);
}

TEST(Unbound_Cmd_Channel, StartsEmptyAndReleasesNothing)
{
    Framework_Cmd_Server server("tool");
    Framework_Cmd_Client client("tool");
    EXPECT_EQ(server.id, -1);
    EXPECT_EQ(client.label, "tool");
    EXPECT_FALSE(server.is_acquired);
    EXPECT_EQ(server.n_cmd_data, 0);
    EXPECT_EQ(client.n_answ_data, 0);
    EXPECT_FALSE(server.has_cmd_protocol);
    EXPECT_FALSE(client.has_answ_protocol);
    // nothing was taken, so nothing is given back (there is no manager to call)
    server.release_ex();
    client.release_ex();
    EXPECT_FALSE(client.is_acquired);
}

TEST(Unbound_Cmd_Channel, EveryOperationRefusesWithItsText)
{
    Framework_Cmd_Server server("tool");
    Framework_Cmd_Client client("tool");
    const std::string server_unbound = " server command channel not initialized! label :: tool";
    const std::string client_unbound = " client command channel not initialized! label :: tool";
    const std::string channel = "[Framework_Cmd_Channel]";
    const std::string server_tag = " not initalized! cmd_name :: tool, is_server :: 1";
    const std::string client_tag = " not initalized! cmd_name :: tool, is_server :: 0";
    const struct {
        std::function<void()> call;
        std::string text;
    } cases[] = {
        {[&] { (void)server.wait_command_ex(1); }, "[Framework_Cmd_Server][wait_command_ex]" + server_unbound},
        {[&] { server.get_last_received_command_ex(); },
         "[Framework_Cmd_Server][get_last_received_command_ex]" + server_unbound},
        {[&] { server.send_answer_ex(int8_t{1}); }, "[Framework_Cmd_Server][send_answer_ex]" + server_unbound},
        {[&] { server.send_answer_ex("done"); },
         "[Framework_Cmd_Server][send_answer_ex] server command channel does not have answer protocol! label :: tool"},
        {[&] { server.get_last_received_command_label_ex(); },
         "[Framework_Cmd_Server][get_last_received_command_label_ex] server command channel does not have answer "
         "protocol! label :: tool"},
        {[&] { (void)server.try_acquire_ex(); }, "[Framework_Cmd_Server][try_acquire_ex]" + server_unbound},
        {[&] { server.get_cmd_data_labels_ex(); }, channel + "[get_cmd_data_to_recv_label_list]" + server_tag},
        {[&] { server.get_answ_data_labels_ex(); }, channel + "[get_cmd_data_to_send_label_list]" + server_tag},
        {[&] { server.get_cmd_data_ex<int>("speed"); }, channel + "[get_cmd_data_to_recv_ptr_ex]" + server_tag},
        {[&] { server.set_answ_data_ex<double>("position", 1.0); },
         channel + "[get_cmd_data_to_send_ptr_ex]" + server_tag},
        {[&] { client.send_command_ex(int8_t{1}, 10); }, "[Framework_Cmd_Client][send_cmd_ex]" + client_unbound},
        {[&] { client.send_command_ex("reset", 10); },
         "[Framework_Cmd_Client][send_cmd_ex] client command channel does not have command protocol! label :: tool"},
        {[&] { (void)client.wait_answer_ex(1); }, "[Framework_Cmd_Client][send_cmd_ex]" + client_unbound},
        {[&] { client.get_last_received_answer_ex(); },
         "[Framework_Cmd_Client][get_last_received_answer_label_ex]" + client_unbound},
        {[&] { client.get_last_received_answer_label_ex(); },
         "[Framework_Cmd_Client][get_last_received_answer_label_ex] client command channel does not have answer "
         "protocol! label :: tool"},
        {[&] { client.clear_command_channel_ex(); },
         "[Framework_Cmd_Client][clear_command_channel_ex]" + client_unbound},
        {[&] { (void)client.try_acquire_ex(); }, "[Framework_Cmd_Client][try_acquire_ex]" + client_unbound},
        {[&] { client.get_answ_data_dim_ex("resp_value"); }, channel + "[get_cmd_data_to_recv_ptr_ex]" + client_tag},
        {[&] { client.get_cmd_data_type_ex("speed"); }, channel + "[get_cmd_data_to_send_ptr_ex]" + client_tag},
    };
    for (const auto& c : cases)
        EXPECT_EQ(thrown_text(c.call), c.text);
}

// A protocol initialiser sets its flag before it refuses, so the name forms
// then reach the empty map.
TEST(Unbound_Cmd_Channel, ProtocolInitialiserSetsItsFlagBeforeRefusing)
{
    Framework_Cmd_Server server("tool");
    Framework_Cmd_Client client("tool");
    EXPECT_EQ(thrown_text([&] { server.init_cmd_ptcl_ex(0, "cmd_"); }),
              "[Framework_Cmd_Channel][init_recv_protocol_ex] not initalized! cmd_name :: tool, is_server :: 1");
    EXPECT_EQ(thrown_text([&] { server.init_answ_ptcl_ex(0, "answ_"); }),
              "[Framework_Cmd_Channel][init_send_protocol_ex] not initalized! cmd_name :: tool, is_server :: 1");
    EXPECT_EQ(thrown_text([&] { client.init_cmd_ptcl_ex(0, "cmd_"); }),
              "[Framework_Cmd_Channel][init_send_protocol_ex] not initalized! cmd_name :: tool, is_server :: 0");
    EXPECT_TRUE(server.has_cmd_protocol);
    EXPECT_TRUE(server.has_answ_protocol);
    EXPECT_TRUE(client.has_cmd_protocol);
    EXPECT_FALSE(client.has_answ_protocol);

    EXPECT_EQ(thrown_text([&] { server.send_answer_ex("done"); }),
              "[Framework_Cmd_Server][send_answer_ex] Cmd_Server tool --> done not present in answer protocol map!");
    EXPECT_EQ(thrown_text([&] { server.get_last_received_command_label_ex(); }),
              "[Framework_Cmd_Server][get_last_received_command_ex] server command channel not initialized! label :: "
              "tool");
    EXPECT_EQ(thrown_text([&] { client.send_command_ex("reset", 1); }),
              "[Framework_Cmd_Client][send_command_ex] Cmd_Client tool --> reset not present in command protocol map!");
}
