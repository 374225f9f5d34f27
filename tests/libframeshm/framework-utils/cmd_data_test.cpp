// Command channels bound by label, and their command data: identity, strict
// value types, byte-array slices and lookups by label.

#include <functional>
#include <vector>

#include "channel_fixture.h"

using Cmd_Data = Channel_Test;

namespace {
const std::string TYPE_CHECK = "[Framework_Variable][check_type_internal_ex] invalid given type! ";
const std::string DIM_CHECK = "[Framework_Variable][check_dim_internal_ex] name byte array invalid ";
const std::string BYTE_ARRAY_TEXT = "byte_array (std::vector<uint8_t> / std::string)";

using Bytes = std::vector<uint8_t>;
}  // namespace

TEST_F(Cmd_Data, BindingLogsTheChannelAndEveryDatum)
{
    Framework_Cmd_Server server("bare");
    testing::internal::CaptureStdout();
    server.setup_ex(manager.get());
    const std::vector<std::string> log = log_texts(testing::internal::GetCapturedStdout());

    const std::string tag = "[Framework_Cmd_Channel][setup_ex] ";
    const std::string id = std::to_string(server.id);
    const auto datum = [&](const std::string& header, const std::string& label) {
        return std::vector<std::string>{tag + "\t\t" + header + " info -->",   tag + "\t\t\tid          :: 0",
                                        tag + "\t\t\tlabel       :: " + label, tag + "\t\t\ttype        :: int8",
                                        tag + "\t\t\tdim         :: 1",        tag + "\t\t\tcmd_ch_id   :: " + id,
                                        tag + "\t\t\tcmd_ch_name :: bare"};
    };
    std::vector<std::string> expected = {tag + "Framework_Cmd_Server info -->", tag + "\tchannel label :: bare",
                                         tag + "\tchannel id    :: " + id};
    for (const std::string& line : datum("Data_To_Recv", "cmd_value"))
        expected.push_back(line);
    expected.push_back(tag + "\tn_data to recv :: 1");
    for (const std::string& line : datum("Data_To_Send", "resp_value"))
        expected.push_back(line);
    expected.push_back(tag + "\tn_data to send :: 1");
    EXPECT_EQ(log, expected);

    EXPECT_EQ(server.get_cmd_data_labels_ex(), std::vector<std::string>{"cmd_value"});
    EXPECT_EQ(server.n_cmd_data, 1);
    EXPECT_EQ(server.n_answ_data, 1);
    EXPECT_FALSE(server.is_acquired);
}

TEST_F(Cmd_Data, EachSideNamesTheDataOfBothGroups)
{
    auto server = bound<Framework_Cmd_Server>("tool", manager.get());
    auto client = bound<Framework_Cmd_Client>("tool", manager.get());
    const std::vector<std::string> command = {"cmd_value", "speed",  "gain",  "ratio",
                                              "counter",   "offset", "small", "name"};
    const std::vector<std::string> answer = {"resp_value", "position", "status", "total", "echo", "scale", "note"};
    EXPECT_EQ(server->get_cmd_data_labels_ex(), command);
    EXPECT_EQ(server->get_answ_data_labels_ex(), answer);
    EXPECT_EQ(client->get_cmd_data_labels_ex(), command);
    EXPECT_EQ(client->get_answ_data_labels_ex(), answer);
    EXPECT_EQ(server->n_cmd_data, 8);
    EXPECT_EQ(server->n_answ_data, 7);
    EXPECT_EQ(client->n_cmd_data, 8);
    EXPECT_EQ(client->n_answ_data, 7);
    EXPECT_NE(server->id, client->id);

    const struct {
        const char* label;
        bool is_command;
        Type_Definition type;
        uint32_t dimension;
    } data[] = {
        {"cmd_value", true, INT8_FSM, 1}, {"gain", true, FLOAT_FSM, 4},    {"counter", true, UINT64_FSM, 8},
        {"offset", true, INT64_FSM, 8},   {"small", true, UINT16_FSM, 2},  {"name", true, BYTE_ARRAY_FSM, 10},
        {"status", false, INT16_FSM, 2},  {"total", false, UINT32_FSM, 4}, {"note", false, BYTE_ARRAY_FSM, 8},
    };
    for (const auto& d : data) {
        const auto type = [&](auto& side) {
            return d.is_command ? side.get_cmd_data_type_ex(d.label) : side.get_answ_data_type_ex(d.label);
        };
        const auto dimension = [&](auto& side) {
            return d.is_command ? side.get_cmd_data_dim_ex(d.label) : side.get_answ_data_dim_ex(d.label);
        };
        EXPECT_EQ(type(*server), d.type) << d.label;
        EXPECT_EQ(type(*client), d.type) << d.label;
        EXPECT_EQ(dimension(*server), d.dimension) << d.label;
        EXPECT_EQ(dimension(*client), d.dimension) << d.label;
    }
}

TEST_F(Cmd_Data, LabelsMatchExactlyAndOnTheirSideOnly)
{
    auto server = bound<Framework_Cmd_Server>("tool", manager.get());
    auto client = bound<Framework_Cmd_Client>("tool", manager.get());
    const std::string channel = "[Framework_Cmd_Channel]";
    const struct {
        std::function<void()> call;
        std::string text;
    } cases[] = {
        {[&] { client->get_cmd_data_ex<int>("Speed"); },
         channel + "[get_cmd_data_to_send_ptr_ex] Speed does not belong to cmd data to send! (cmd_name :: tool, "
                   "is_server :: 0)"},
        {[&] { client->get_answ_data_dim_ex("speed"); },
         channel + "[get_cmd_data_to_recv_ptr_ex] speed does not belong to cmd data to recive! (cmd_name :: tool, "
                   "is_server :: 0)"},
        {[&] { server->get_cmd_data_type_ex("resp_value"); },
         channel + "[get_cmd_data_to_recv_ptr_ex] resp_value does not belong to cmd data to recive! (cmd_name :: "
                   "tool, is_server :: 1)"},
        {[&] { server->set_answ_data_ex<int>("speed", 1); },
         channel + "[get_cmd_data_to_send_ptr_ex] speed does not belong to cmd data to send! (cmd_name :: tool, "
                   "is_server :: 1)"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(thrown_text(c.call), c.text);
}

TEST_F(Cmd_Data, ValueTypesMustMatchExactly)
{
    auto server = bound<Framework_Cmd_Server>("tool", manager.get());
    auto client = bound<Framework_Cmd_Client>("tool", manager.get());
    ASSERT_TRUE(client->try_acquire_ex());
    ASSERT_TRUE(server->try_acquire_ex());
    client->set_cmd_data_ex<int>("speed", 5);
    client->set_cmd_data_ex<unsigned long long>("counter", 6);

    const struct {
        std::function<void()> call;
        const char* label;
        const char* type_text;
    } cases[] = {
        {[&] { client->set_cmd_data_ex<unsigned int>("speed", 1); }, "speed", "int32"},
        {[&] { client->set_cmd_data_ex<double>("gain", 1.0); }, "gain", "float"},
        {[&] { client->set_cmd_data_ex<unsigned char>("cmd_value", 1); }, "cmd_value", "int8"},
        {[&] { client->set_cmd_data_ex<long long>("counter", 1); }, "counter", "uint64"},
        {[&] { client->get_cmd_data_ex<unsigned short>("name"); }, "name", BYTE_ARRAY_TEXT.c_str()},
        {[&] { client->get_answ_data_ex<unsigned long long>("echo"); }, "echo", "int64"},
        {[&] { client->get_answ_data_ex<std::string>("status"); }, "status", "int16"},
        {[&] { server->get_cmd_data_ex<int>("small"); }, "small", "uint16"},
        {[&] {
             server->set_answ_data_ex<Bytes>("total", Bytes{1, 2, 3, 4}, true, 0);
         },
         "total", "uint32"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(thrown_text(c.call), TYPE_CHECK + c.label + " need type :: " + c.type_text);
    // a refused write leaves the value alone
    EXPECT_EQ(client->get_cmd_data_ex<int>("speed"), 5);
    EXPECT_EQ(client->get_cmd_data_ex<unsigned long long>("counter"), 6u);
}

TEST_F(Cmd_Data, EachSideReadsBackWhatItIsAboutToSend)
{
    auto server = bound<Framework_Cmd_Server>("tool", manager.get());
    auto client = bound<Framework_Cmd_Client>("tool", manager.get());
    ASSERT_TRUE(client->try_acquire_ex());
    ASSERT_TRUE(server->try_acquire_ex());
    client->set_cmd_data_ex<float>("gain", -0.25f);
    client->set_cmd_data_ex<long long>("offset", -9000000000LL);
    server->set_answ_data_ex<double>("position", 12.5);
    server->set_answ_data_ex<short>("status", -300);
    EXPECT_EQ(client->get_cmd_data_ex<float>("gain"), -0.25f);
    EXPECT_EQ(client->get_cmd_data_ex<long long>("offset"), -9000000000LL);
    EXPECT_EQ(server->get_answ_data_ex<double>("position"), 12.5);
    EXPECT_EQ(server->get_answ_data_ex<short>("status"), -300);

    // the values sit in the manager's copy of the group each side writes
    const int gain = manager->get_cmd_data_id_to_send_ex(client->id, "gain");
    const int position = manager->get_cmd_data_id_to_send_ex(server->id, "position");
    EXPECT_EQ(manager->get_cmd_data_to_send_ex<float>(client->id, gain), -0.25f);
    EXPECT_EQ(manager->get_answ_data_to_send_ex<double>(server->id, position), 12.5);

    // typed writes need the group held, as the manager rules
    auto other = attach_application("other");
    auto late = bound<Framework_Cmd_Client>("tool", other.get());
    EXPECT_NE(thrown_text([&] {
                  late->set_cmd_data_ex<int>("speed", 1);
              }).find("Sem data group not taken by this application"),
              std::string::npos);
}

TEST_F(Cmd_Data, ByteArraysAreWrittenAndReadInSlices)
{
    auto client = bound<Framework_Cmd_Client>("tool", manager.get());
    auto server = bound<Framework_Cmd_Server>("tool", manager.get());
    const Bytes counting = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
    client->set_cmd_data_ex<Bytes>("name", counting);
    EXPECT_EQ(client->get_cmd_data_ex<Bytes>("name"), counting);

    client->set_cmd_data_ex<std::string>("name", "abc", false, 2);
    EXPECT_EQ(client->get_cmd_data_ex<Bytes>("name"), (Bytes{1, 2, 'a', 'b', 'c', 6, 7, 8, 9, 10}));
    client->set_cmd_data_ex<std::string>("name", "abc", true, 2);
    EXPECT_EQ(client->get_cmd_data_ex<Bytes>("name"), (Bytes{0, 0, 'a', 'b', 'c', 0, 0, 0, 0, 0}));
    client->set_cmd_data_ex<Bytes>("name", Bytes{'X', 'Y'}, false, 0);
    EXPECT_EQ(client->get_cmd_data_ex<Bytes>("name", 4, 2), (Bytes{'a', 'b', 'c', 0}));
    // a string keeps every byte of the slice, zero bytes too
    EXPECT_EQ(client->get_cmd_data_ex<std::string>("name", 0, 0), std::string("XYabc\0\0\0\0\0", 10));
    EXPECT_EQ(client->get_cmd_data_ex<std::string>("name", 3, 1), "Yab");

    const struct {
        std::function<void()> call;
        std::string text;
    } refused[] = {
        {[&] { client->get_cmd_data_ex<Bytes>("name", 11, 0); }, "dimension! given :: 11, required >= 1 && <= 10"},
        {[&] { client->set_cmd_data_ex<std::string>("name", "", true, 0); },
         "dimension! given :: 0, required >= 1 && <= 10"},
        {[&] { client->get_cmd_data_ex<std::string>("name", 1, 10); }, "offset! given :: 10, required >= 0 && <= 9"},
        {[&] { client->set_cmd_data_ex<std::string>("name", "abc", true, 8); },
         "dimension & offset combination! given dim :: 3, given offset :: 8. required dim + offset <= 10"},
        // a dimension of 0 stands for the whole datum, also with an offset
        {[&] { client->get_cmd_data_ex<Bytes>("name", 0, 2); },
         "dimension & offset combination! given dim :: 10, given offset :: 2. required dim + offset <= 10"},
    };
    for (const auto& r : refused)
        EXPECT_EQ(thrown_text(r.call), DIM_CHECK + r.text);
    EXPECT_EQ(client->get_cmd_data_ex<std::string>("name", 5, 0), "XYabc");

    // on a server a send object writes the answer data
    server->set_answ_data_ex<std::string>("note", "hello");
    EXPECT_EQ(server->get_answ_data_ex<std::string>("note"), std::string("hello\0\0\0", 8));
    EXPECT_EQ(server->get_answ_data_ex<Bytes>("note", 3, 1), (Bytes{'e', 'l', 'l'}));
}

TEST_F(Cmd_Data, AChannelThatCannotBeOpenedStaysUnbound)
{
    Framework_Cmd_Client client("nothing");
    EXPECT_EQ(thrown_text([&] { client.setup_ex(manager.get()); }),
              "[Framework_Shared_Memory_Manager][get_sem_data_group_read_id_ex] Error semaphorize group data not "
              "found... nothing_receiver");
    EXPECT_EQ(thrown_text([&] { client.get_cmd_data_labels_ex(); }),
              "[Framework_Cmd_Channel][get_cmd_data_to_send_label_list] not initalized! cmd_name :: nothing, "
              "is_server :: 0");
}

TEST_F(Cmd_Data, ASecondBindingBuildsTheDataAnew)
{
    Framework_Cmd_Client client("tool");
    client.setup_ex(manager.get());
    const int32_t first_id = client.id;
    client.setup_ex(manager.get());
    EXPECT_EQ(client.id, first_id);
    EXPECT_EQ(client.n_cmd_data, 8);
    EXPECT_EQ(client.get_cmd_data_labels_ex().size(), 8u);
}
