// The ring of a buffered data group: a writer in this process appends
// slots, a reader in another process steps through them.
#include <cstring>

#include "group_test.h"

namespace {
constexpr int TRACE = 0;
constexpr int POSITION = 1;
constexpr int COMMAND = 1;
constexpr std::size_t COUNT_OFFSET = 17;

// The reader of "trace" in a process of its own. "read" waits for a post and
// steps through the new slots, "clear" drops the backlog and steps; each
// step sends "<position> <overlap>", the end of the steps "end".
int trace_reader(Peer_Process::Link& link)
{
    auto app = attach_application("reader");
    const int g = app->get_sem_data_group_read_id_ex("trace");
    link.send("ready");
    for (std::string line = link.receive(); line == "read" || line == "clear"; line = link.receive()) {
        if (line == "clear")
            app->clear_ring_buffer_ex(g);
        else if (!app->wait_sem_data_group_ex(g, 5000, 0, nullptr))
            return 3;
        int8_t overlap = -1;
        while (app->get_ring_buffer_next_slot_ex(g, &overlap))
            link.send(std::to_string(static_cast<int>(app->get_sem_data_group_data_ex<double>(g, POSITION))) + " " +
                      std::to_string(overlap));
        link.send(overlap == 0 ? "end" : "end without overlap 0");
    }
    return 0;
}
}  // namespace

class Ring : public Group_Test {
protected:
    Test_Descriptor descriptor() const override
    {
        Test_Descriptor d;
        d.trace_slots = 4;
        return d;
    }

    void SetUp() override
    {
        Group_Test::SetUp();
        writer = attach("writer");
        ASSERT_EQ(writer->get_sem_data_group_write_id_ex("trace", false), TRACE);
        freeze_tick();
    }

    void TearDown() override
    {
        writer.reset();
        Group_Test::TearDown();
    }

    // With a period of 4 s the server leaves the writer's tick alone once
    // it has reloaded the countdown, so that the test can set the tick.
    void freeze_tick()
    {
        writer->set_refresh_time_ns_ex(4000000000u);
        const Shared_Sem_Struct& slot = view->slot(writer->get_application_number());
        ASSERT_TRUE(holds_within([&] { return __atomic_load_n(&slot.actual_value, __ATOMIC_ACQUIRE) > 1; }));
    }

    // A slot stamped with tick, its position the same number.
    void insert(uint32_t tick)
    {
        view->slot(writer->get_application_number()).framework_absolute_tick_number = tick;
        writer->set_sem_data_group_data_ex<double>(TRACE, POSITION, tick);
        writer->insert_ring_buffer_slot_ex(TRACE);
    }

    static std::vector<std::string> steps(Peer_Process& reader, const std::string& how)
    {
        reader.send(how);
        std::vector<std::string> lines;
        for (std::string line = reader.receive_ex(); line.rfind("end", 0) != 0; line = reader.receive_ex())
            lines.push_back(line);
        lines.push_back("end");
        return lines;
    }

    std::unique_ptr<Framework_Shared_Memory_Manager> writer;
};

TEST_F(Ring, SlotsAreReadOldestFirst)
{
    Peer_Process reader(trace_reader);
    ASSERT_EQ(reader.receive_ex(), "ready");
    for (uint32_t tick = 1; tick <= 3; ++tick)
        insert(tick);
    writer->post_sem_data_group_ex(TRACE, false, -1);
    EXPECT_EQ(steps(reader, "read"), (std::vector<std::string>{"1 0", "2 0", "3 0", "end"}));
    reader.send("exit");
    EXPECT_TRUE(exited_with(reader.wait_exit_ex(), 0));
}

// The reader's last step took slot 3 (tick 9); the writer then appends six
// slots (ticks 10 to 15) over the four of the ring and posts once.
TEST_F(Ring, AnOverrunRestartsAtTheOldestSlot)
{
    Peer_Process reader(trace_reader);
    ASSERT_EQ(reader.receive_ex(), "ready");
    insert(6);
    insert(7);
    writer->post_sem_data_group_ex(TRACE, false, -1);
    EXPECT_EQ(steps(reader, "read"), (std::vector<std::string>{"6 0", "7 0", "end"}));
    insert(8);
    insert(9);
    writer->post_sem_data_group_ex(TRACE, false, -1);
    EXPECT_EQ(steps(reader, "read"), (std::vector<std::string>{"8 0", "9 0", "end"}));

    for (uint32_t tick = 10; tick <= 15; ++tick)
        insert(tick);
    writer->post_sem_data_group_ex(TRACE, false, -1);
    EXPECT_EQ(steps(reader, "read"), (std::vector<std::string>{"12 1", "13 0", "14 0", "15 0", "end"}));
    reader.send("exit");
    EXPECT_TRUE(exited_with(reader.wait_exit_ex(), 0));
}

TEST_F(Ring, AClearDropsTheBacklogUntilTheNextPost)
{
    Peer_Process reader(trace_reader);
    ASSERT_EQ(reader.receive_ex(), "ready");
    insert(1);
    insert(2);
    writer->post_sem_data_group_ex(TRACE, false, -1);
    EXPECT_EQ(steps(reader, "clear"), (std::vector<std::string>{"end"}));
    EXPECT_EQ(steps(reader, "read"), (std::vector<std::string>{"end"}));  // the post of the cleared slots
    insert(3);
    writer->post_sem_data_group_ex(TRACE, false, -1);
    EXPECT_EQ(steps(reader, "read"), (std::vector<std::string>{"3 0", "end"}));
    reader.send("exit");
    EXPECT_TRUE(exited_with(reader.wait_exit_ex(), 0));
}

TEST_F(Ring, AGroupWithoutRing)
{
    auto reader = attach("reader");
    ASSERT_EQ(reader->get_sem_data_group_read_id_ex("command"), COMMAND);
    EXPECT_EQ(thrown_text([&] { reader->get_ring_buffer_next_slot_ex(COMMAND, nullptr); }),
              "Sorry, sem_group is not a ring buffer");
    EXPECT_EQ(thrown_text([&] { reader->clear_ring_buffer_ex(COMMAND); }),
              "[Framework_Shared_Memory_Manager][clear_ring_buffer] semaphorized data not ringbuffered :: 'command'");
    EXPECT_NE(thrown_text([&] {
                  reader->insert_ring_buffer_slot_ex(COMMAND);
              }).find("Sem data group not taken by this application"),
              std::string::npos);

    // the writer's insert goes straight to the shared data, without a post
    ASSERT_EQ(writer->get_sem_data_group_write_id_ex("command", false), COMMAND);
    writer->set_sem_data_group_data_ex<int>(COMMAND, 2, 41);
    writer->insert_ring_buffer_slot_ex(COMMAND);
    int published;
    std::memcpy(&published, groups->data("command") + COUNT_OFFSET, sizeof(published));
    EXPECT_EQ(published, 41);
    EXPECT_FALSE(reader->wait_sem_data_group_ex(COMMAND, 20, 0, nullptr));
}

// Positions beyond one byte: a ring of 300 slots holds 300 snapshots.
class Long_Ring : public Ring {
protected:
    Test_Descriptor descriptor() const override
    {
        Test_Descriptor d;
        d.trace_slots = 300;
        return d;
    }
};

TEST_F(Long_Ring, EverySlotIsReadOnce)
{
    Peer_Process reader(trace_reader);
    ASSERT_EQ(reader.receive_ex(), "ready");
    std::vector<std::string> expected;
    for (uint32_t tick = 1; tick <= 299; ++tick) {
        insert(tick);
        expected.push_back(std::to_string(tick) + " 0");
    }
    expected.push_back("end");
    writer->post_sem_data_group_ex(TRACE, false, -1);
    EXPECT_EQ(steps(reader, "read"), expected);
    insert(300);
    insert(301);
    writer->post_sem_data_group_ex(TRACE, false, -1);
    EXPECT_EQ(steps(reader, "read"), (std::vector<std::string>{"300 0", "301 0", "end"}));
    reader.send("exit");
    EXPECT_TRUE(exited_with(reader.wait_exit_ex(), 0));
}
