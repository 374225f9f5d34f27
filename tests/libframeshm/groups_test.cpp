// The data-group directory, the typed and byte-array access to the local
// image, and the writer role, against rtframe -o.
#include <pthread.h>

#include <cstring>
#include <thread>

#include "group_test.h"

namespace {
// Groups and data of the test descriptor.
constexpr int TRACE = 0;
constexpr int COMMAND = 1;
constexpr int CODE = 0;
constexpr int TEXT = 1;
constexpr int COUNT = 2;
constexpr int RATIO = 3;

const std::string NOT_THE_WRITER = "Sem data group not taken by this application";
}  // namespace

using Groups = Group_Test;

TEST_F(Groups, GroupsAndDataAreFoundByTheirExactNames)
{
    auto app = attach("directory");
    EXPECT_EQ(app->get_list_sem_data_group_name(), (std::vector<std::string>{"trace", "command"}));
    const std::vector<std::string> data = {"code", "text", "count", "ratio"};
    EXPECT_EQ(app->get_list_sem_data_group_data_name_ex("command"), data);
    EXPECT_EQ(app->get_list_sem_data_group_data_name_from_id_ex(COMMAND), data);
    EXPECT_EQ(app->get_label_sem_data_group_data_from_id_ex("command", TEXT), "text");
    EXPECT_EQ(app->get_sem_data_group_name_from_id_ex(TRACE), "trace");
    EXPECT_EQ(app->get_sem_data_group_read_id_ex("command"), COMMAND);
    EXPECT_EQ(app->get_sem_data_group_write_id_ex("trace", false), TRACE);
    EXPECT_EQ(app->get_sem_data_group_data_id_ex(COMMAND, "count"), COUNT);
    EXPECT_EQ(app->get_sem_data_group_data_id_ex(TRACE, "position"), 1);

    EXPECT_EQ(app->get_sem_data_group_data_dim_ex(COMMAND, RATIO), 8u);
    EXPECT_EQ(app->get_sem_data_group_data_byte_array_dim_ex(COMMAND, TEXT), 16u);
    EXPECT_EQ(app->get_sem_data_group_data_type_ex(COMMAND, CODE), INT8_FSM);
    EXPECT_EQ(app->get_sem_data_group_data_type_ex(COMMAND, TEXT), BYTE_ARRAY_FSM);
    EXPECT_EQ(app->get_sem_data_group_ring_buffer_slot_number_ex(TRACE), 8);
    EXPECT_EQ(app->get_sem_data_group_ring_buffer_slot_number_ex(COMMAND), 0);

    const std::string method = "[Framework_Shared_Memory_Manager][";
    for (const std::string name : {"Command", "comman", "command ", ""}) {
        EXPECT_EQ(thrown_text([&] { app->get_sem_data_group_read_id_ex(name); }),
                  method + "get_sem_data_group_read_id_ex] Error semaphorize group data not found... " + name);
        EXPECT_EQ(thrown_text([&] { app->get_sem_data_group_write_id_ex(name, true); }),
                  method + "get_sem_data_group_write_id_ex] Error semaphorized group data not found... " + name);
        EXPECT_EQ(thrown_text([&] { app->get_list_sem_data_group_data_name_ex(name); }),
                  method + "get_list_sem_data_group_data_name] Error semaphorize group data label is incorrect ... " +
                      name);
    }
    EXPECT_EQ(thrown_text([&] { app->get_label_sem_data_group_data_from_id_ex("nope", 0); }),
              method +
                  "get_label_sem_data_group_data_from_id_ex] Error semaphorize group data label is incorrect "
                  "... nope");
    EXPECT_EQ(thrown_text([&] { app->get_label_sem_data_group_data_from_id_ex("command", 4); }),
              method + "get_label_sem_data_group_data_from_id_ex] Error semaphorize data_found is incorrect ... 4");
    EXPECT_EQ(thrown_text([&] { app->get_sem_data_group_data_id_ex(COMMAND, "Count"); }),
              method +
                  "get_sem_data_group_data_id] Error : semaphore data label 'Count' does not belong to "
                  "sem_data group 'command");
}

// The first datum of a ring slot is the writer's tick, filled by the insert.
TEST_F(Groups, TheTickOfARingIsNotHandedOut)
{
    auto app = attach("tick");
    for (const std::string label : {"framework_abs_tick", "tick_framework"})
        EXPECT_EQ(thrown_text([&] { app->get_sem_data_group_data_id_ex(TRACE, label); }),
                  "Error : it is not possible acquire tick master id")
            << label;
}

TEST_F(Groups, DiagnosticTextsNameTheGroupAndTheDatum)
{
    auto app = attach("texts");
    EXPECT_EQ(without_source_line(thrown_text([&] { app->get_sem_data_group_name_from_id_ex(7); })),
              "[Framework_Shared_Memory_Manager][get_sem_data_group_name_from_id_ex] Sorry, sem group_id not valid!"
              "\n\t\t\t given sem_group id:: 7"
              "\n\t\t\t Additional SemGroup info.."
              "\n\t\t\t max available sem_data group_id :: 1"
              "\n\t ");
    // flags as digits, a ring counted as buffered
    const std::string text = thrown_text([&] { app->get_sem_data_group_data_ex<double>(TRACE, 5); });
    EXPECT_EQ(without_source_line(text),
              "[Framework_Shared_Memory_Manager][get_sem_data_group_data_ex] Sem group data_id not valid"
              "\n\t\t\t given sem_group id:: 0"
              "\n\t\t\t given sem_group data_id:: 5"
              "\n\t\t\t Additional SemGroup info.."
              "\n\t\t\t sem_group label :: trace"
              "\n\t\t\t sem_group data_dimension :: 12"
              "\n\t\t\t sem_group num of data :: 2"
              "\n\t\t\t sem_group taken by app :: -1"
              "\n\t\t\t sem_group only NOT real-time :: 0"
              "\n\t\t\t sem_group is buffered :: 1"
              "\n\t\t\t sem_group slots num :: 8"
              "\n\t\t\t Additional SemData info.."
              "\n\t\t\t max available sem_group data_id :: 1"
              "\n\t ");
    EXPECT_NE(text.find("( exception @ xelo_framework_shm_manager:"), std::string::npos) << text;
}

TEST_F(Groups, TypedDataNeedTheWriterAndTheDatumSize)
{
    auto writer = attach("writer");
    auto other = attach("other");
    ASSERT_EQ(writer->get_sem_data_group_write_id_ex("command", false), COMMAND);

    writer->set_sem_data_group_data_ex<signed char>(COMMAND, CODE, -5);
    writer->set_sem_data_group_data_ex<double>(COMMAND, RATIO, 0.25);
    writer->set_sem_data_group_data_ex<float>(COMMAND, COUNT, 1.5f);  // any type of the datum's size
    EXPECT_EQ(writer->get_sem_data_group_data_ex<signed char>(COMMAND, CODE), -5);
    EXPECT_EQ(writer->get_sem_data_group_data_ex<double>(COMMAND, RATIO), 0.25);
    const float one_and_a_half = 1.5f;
    int bits;
    std::memcpy(&bits, &one_and_a_half, sizeof(bits));
    EXPECT_EQ(writer->get_sem_data_group_data_ex<int>(COMMAND, COUNT), bits);

    const std::string wrong_size = thrown_text([&] { writer->set_sem_data_group_data_ex<int>(COMMAND, CODE, 1); });
    EXPECT_EQ(wrong_size.rfind("[Framework_Shared_Memory_Manager][set_sem_data_group_data_ex] Sorry, size is not "
                               "correct!!",
                               0),
              0u)
        << wrong_size;
    EXPECT_NE(wrong_size.find("\n\t\t\t given data_size :: 4"), std::string::npos) << wrong_size;
    EXPECT_NE(thrown_text([&] {
                  writer->get_sem_data_group_data_ex<short>(COMMAND, RATIO);
              }).find("Sorry, size is not correct!!"),
              std::string::npos);

    EXPECT_NE(thrown_text([&] {
                  other->set_sem_data_group_data_ex<signed char>(COMMAND, CODE, 1);
              }).find(NOT_THE_WRITER),
              std::string::npos);

    // -1 names no datum: refused, never used as a position in the image.
    const std::string no_datum = "Sem group data_id not valid\n\t\t\t given sem_group data_id:: -1";
    EXPECT_NE(thrown_text([&] { writer->set_sem_data_group_data_ex<double>(COMMAND, -1, 1.0); }).find(no_datum),
              std::string::npos);
    EXPECT_NE(thrown_text([&] { writer->get_sem_data_group_data_ex<double>(COMMAND, -1); }).find(no_datum),
              std::string::npos);
    EXPECT_NE(thrown_text([&] { writer->get_sem_data_group_data_type_ex(COMMAND, -1); }).find(no_datum),
              std::string::npos);
    const uint8_t bytes[3] = {1, 2, 3};
    other->set_sem_data_group_data_byte_array_ex(COMMAND, TEXT, bytes, 3, 0);  // its own image only
    EXPECT_EQ(other->get_sem_data_group_data_ex<signed char>(COMMAND, CODE), 0);
}

TEST_F(Groups, ByteArrayRangesAreChecked)
{
    auto app = attach("arrays");
    ASSERT_EQ(app->get_sem_data_group_read_id_ex("command"), COMMAND);
    uint8_t buffer[17] = {};
    struct Case {
        int data_id;
        int size;
        int offset;
        const char* refusal;  // nullptr: accepted
    };
    const Case cases[] = {
        {TEXT, 16, 0, nullptr},
        {TEXT, 4, 12, nullptr},
        {TEXT, 4, 13, "Sorry, combination size + offset is not correct!!"},
        {TEXT, 1, 16, "Sorry, offset is not correct!!"},
        {TEXT, 0, 0, "Sorry, size is not correct!!"},
        {TEXT, 17, 0, "Sorry, size is not correct!!"},
        {TEXT, -1, 0, "Sorry, size is not correct!!\n\t\t\t given output_size :: -1"},
        {TEXT, 16, -1, "Sorry, offset is not correct!!\n\t\t\t given sem_group id:: "},
        {CODE, 1, 0, "Sorry, sem_data_id type is not BYTE_ARRAY!"},
        {4, 1, 0, "Sem group data_id not valid"},
        {-1, 16, 0, "Sem group data_id not valid\n\t\t\t given sem_group data_id:: -1"},
        {-1, -1, -1, "Sem group data_id not valid\n\t\t\t given sem_group data_id:: -1"},
    };
    for (const Case& c : cases) {
        for (const bool write : {true, false}) {
            const std::string text = thrown_text([&] {
                if (write)
                    app->set_sem_data_group_data_byte_array_ex(COMMAND, c.data_id, buffer, c.size, c.offset);
                else
                    app->get_sem_data_group_data_byte_array_ex(COMMAND, c.data_id, buffer, c.size, c.offset);
            });
            const std::string operation =
                write ? "set_sem_data_group_data_byte_array_ex" : "get_sem_data_group_data_byte_array_ex";
            if (c.refusal == nullptr)
                EXPECT_EQ(text, "<nothing thrown>") << operation << " " << c.size << "@" << c.offset;
            else
                EXPECT_EQ(text.rfind("[Framework_Shared_Memory_Manager][" + operation + "] " + c.refusal, 0), 0u)
                    << text;
        }
    }

    const uint8_t hello[5] = {'h', 'e', 'l', 'l', 'o'};
    app->set_sem_data_group_data_byte_array_ex(COMMAND, TEXT, hello, 5, 3);
    uint8_t back[5] = {};
    app->get_sem_data_group_data_byte_array_ex(COMMAND, TEXT, back, 5, 3);
    EXPECT_EQ(std::memcmp(back, hello, 5), 0);

    auto stranger = attach("stranger");  // reads no group
    EXPECT_NE(thrown_text([&] {
                  stranger->get_sem_data_group_data_byte_array_ex(COMMAND, TEXT, back, 5, 0);
              }).find("Sorry, sem_id is not my sem_group_id"),
              std::string::npos);
}

// Every group's image is there from the attach on, whatever role the
// application takes (or none).
TEST_F(Groups, LocalImagesExistRightAfterTheAttach)
{
    auto app = attach("fresh");
    const uint8_t bytes[16] = {9, 9, 9};
    app->set_sem_data_group_data_byte_array_ex(COMMAND, TEXT, bytes, 16, 0);
    EXPECT_EQ(app->get_sem_data_group_data_ex<double>(COMMAND, RATIO), 0.0);
    EXPECT_EQ(app->get_sem_data_group_data_ex<double>(TRACE, 1), 0.0);
    int8_t overlap = -1;
    EXPECT_FALSE(app->get_ring_buffer_next_slot_ex(TRACE, &overlap));
    EXPECT_EQ(overlap, 0);  // written on the first step too
    EXPECT_FALSE(app->get_ring_buffer_next_slot_ex(TRACE, nullptr));
}

// After the detach the counts stay, the segments are gone.
TEST_F(Groups, ADetachedManagerRefusesGroupsAndAsynchronousVariables)
{
    auto app = attach("gone");
    ASSERT_EQ(app->get_sem_data_group_read_id_ex("command"), COMMAND);
    const int input = app->get_async_input_id_ex("error_code");
    app->unlink();
    EXPECT_EQ(
        thrown_text([&] {
            app->get_sem_data_group_data_ex<double>(COMMAND, RATIO);
        }).rfind("[Framework_Shared_Memory_Manager][get_sem_data_group_data_ex] Sorry, sem group_id not valid!", 0),
        0u);
    EXPECT_EQ(thrown_text([&] {
                  app->wait_sem_data_group_ex(COMMAND, 1, 0, nullptr);
              }).rfind("[Framework_Shared_Memory_Manager][wait_sem_data_group_ex] Sorry, sem group_id not valid!", 0),
              0u);
    EXPECT_EQ(thrown_text([&] {
                  app->refresh_async_input_ex(input);
              }).rfind("[Framework_Shared_Memory_Manager][refresh_async_input_ex] Sorry, async input id not valid!", 0),
              0u);
    EXPECT_TRUE(app->get_list_sem_data_group_name().empty());
}

TEST_F(Groups, OneWriterPerGroup)
{
    auto first = attach("first");
    auto second = attach("second");
    const int first_id = 100 + first->get_application_number();
    const int second_id = 100 + second->get_application_number();
    Shared_Sem_Data_Group_Struct& command = groups->group("command");

    ASSERT_EQ(first->get_sem_data_group_write_id_ex("command", false), COMMAND);
    EXPECT_EQ(command.rw_app_id, first_id);
    const std::string taken = thrown_text([&] { second->get_sem_data_group_write_id_ex("command", false); });
    EXPECT_EQ(taken.rfind("[Framework_Shared_Memory_Manager][get_sem_data_group_write_id_ex] Error semaphorize group "
                          "data is already taken in writing",
                          0),
              0u)
        << taken;
    EXPECT_EQ(second->get_sem_data_group_write_id_ex("command", true), COMMAND);
    EXPECT_FALSE(second->try_acquire_sem_data_group_ex(COMMAND));
    EXPECT_NE(thrown_text([&] { second->release_sem_data_group_ex(COMMAND, false); }).find(NOT_THE_WRITER),
              std::string::npos);
    EXPECT_EQ(command.rw_app_id, first_id);

    testing::internal::CaptureStdout();
    EXPECT_EQ(first->get_sem_data_group_write_id_ex("command", false), COMMAND);
    EXPECT_TRUE(first->try_acquire_sem_data_group_ex(COMMAND));
    const std::string log = testing::internal::GetCapturedStdout();
    EXPECT_NE(log.find(
                  "[Framework_Shared_Memory_Manager][get_sem_data_group_write_id_ex] sema_data_groupcommandalready "
                  "taken by application " +
                  std::to_string(first_id)),
              std::string::npos)
        << log;

    first->release_sem_data_group_ex(COMMAND, false);
    EXPECT_EQ(command.rw_app_id, -1);
    command.is_posted_from_watchdog = 1;  // left from a lost writer
    EXPECT_TRUE(second->try_acquire_sem_data_group_ex(COMMAND));
    EXPECT_EQ(command.rw_app_id, second_id);
    EXPECT_EQ(command.is_posted_from_watchdog, 0);
    EXPECT_FALSE(first->try_acquire_sem_data_group_ex(COMMAND));
}

// A writer that comes between the first look and the lock makes the attempt
// fail as if the group had been taken before.
TEST_F(Groups, TryAcquireThatLosesTheRaceReturnsFalse)
{
    auto app = attach("late");
    Shared_Sem_Data_Group_Struct& command = groups->group("command");
    ASSERT_EQ(pthread_mutex_lock(&command.mutex), 0);
    bool acquired = true;
    std::string error;
    std::thread attempt([&] { error = thrown_text([&] { acquired = app->try_acquire_sem_data_group_ex(COMMAND); }); });
    // a waiter on a priority-inheriting mutex sets the futex's waiters bit
    const bool blocked = holds_within([&] {
        return (static_cast<unsigned>(__atomic_load_n(&command.mutex.__data.__lock, __ATOMIC_ACQUIRE)) & 0x80000000u) !=
               0;
    });
    command.rw_app_id = 199;
    pthread_mutex_unlock(&command.mutex);
    attempt.join();
    ASSERT_TRUE(blocked);
    EXPECT_EQ(error, "<nothing thrown>");
    EXPECT_FALSE(acquired);
    EXPECT_EQ(command.rw_app_id, 199);
    command.rw_app_id = -1;
}
