#include <fcntl.h>
#include <gtest/gtest.h>
#include <mqueue.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "thrown_text.h"
#include "xelo_macros_ms.h"
#include "xelo_queue.h"

// Every case runs in its own IPC namespace: the queue name is private to it.
namespace {
std::string text_of(const Posix_Queue_Msg& msg)
{
    std::ostringstream out;
    out << msg;
    return out.str();
}

Posix_Queue_Msg message_at(Message_Type type, int app, int group)
{
    Posix_Queue_Msg msg;
    msg.message_type = type;
    msg.ts = Shared_Timespec{0, 42000000};
    msg.application_id = app;
    msg.sem_data_group_id = group;
    return msg;
}

void fill_queue(Posix_Queue_Message_Writer& writer, int count)
{
    for (int i = 0; i < count; ++i)
        ASSERT_TRUE(writer.send_queue_cyclic_wait_ex(100 + i, 0));
}
}  // namespace

TEST(Posix_Queue_Msg, TextOfEachType)
{
    const std::string stamp = "1970-01-01 00:00:00.042";
    EXPECT_EQ(text_of(message_at(CYCLIC_SEMAPHORE_WAIT, 103, 9)), stamp + " 103 w");
    EXPECT_EQ(text_of(message_at(CYCLIC_SEMAPHORE_POST, -2, 3)), stamp + " X p 3");
    EXPECT_EQ(text_of(message_at(SEM_DATA_SEMAPHORE_WAIT, 101, 4)), stamp + " 101 W 4");
    EXPECT_EQ(text_of(message_at(SEM_DATA_SEMAPHORE_POST, 105, 0)), stamp + " 105 P 0");
    EXPECT_EQ(thrown_text([] { text_of(message_at(static_cast<Message_Type>(4), 100, 0)); }),
              "message type not recognized!");
}

TEST(Posix_Queue_Msg, ConstructorsStampAndDefault)
{
    const Posix_Queue_Msg empty;
    EXPECT_EQ(empty.ts.tv_sec, 0);
    EXPECT_EQ(empty.application_id, -1);
    EXPECT_EQ(empty.sem_data_group_id, -1);

    timespec before{};
    clock_gettime(CLOCK_REALTIME, &before);
    const Posix_Queue_Msg msg(SEM_DATA_SEMAPHORE_POST, 104, 7, true);
    EXPECT_EQ(msg.message_type, SEM_DATA_SEMAPHORE_POST);
    EXPECT_EQ(msg.application_id, 104);
    EXPECT_EQ(msg.sem_data_group_id, 7);
    EXPECT_GE(msg.ts.tv_sec, static_cast<int32_t>(before.tv_sec));
    EXPECT_LT(msg.ts.tv_nsec, 1000000000);
}

TEST(Queue_Deadline, CarriesWholeSecondsAndKeepsFractions)
{
    const timespec now{100, 600000000};
    timespec deadline = queue_deadline_from(now, 1500.0f);
    EXPECT_EQ(deadline.tv_sec, 102);
    EXPECT_EQ(deadline.tv_nsec, 100000000);
    deadline = queue_deadline_from(now, 0.05f);
    EXPECT_EQ(deadline.tv_sec, 100);
    EXPECT_NEAR(deadline.tv_nsec, 600050000, 10);
}

TEST(Posix_Queue, WriterBeforeTheQueueExistsFails)
{
    Posix_Queue_Message_Writer writer;
    EXPECT_EQ(thrown_text([&] { writer.open_ex(true); }),
              "cannot open writer queue, name :: /linux_framework_queue --> No such file or directory");
    EXPECT_FALSE(writer.is_open());
}

TEST(Posix_Queue, MessagesArriveInOrderWithTheirFields)
{
    Posix_Queue_Message_Reader reader;
    reader.open_ex(true, 20, 1000);
    EXPECT_EQ(reader.get_queue_max_msg_number_ex(), 1000u);
    EXPECT_EQ(reader.get_queue_max_msg_size_ex(), 20u);
    Posix_Queue_Message_Writer writer;
    writer.open_ex(true);

    EXPECT_TRUE(writer.send_queue_cyclic_wait_ex(103, 0.05f));
    EXPECT_TRUE(writer.send_queue_cyclic_post_ex(3, 0.05f));
    EXPECT_TRUE(writer.send_queue_sem_wait_ex(101, 2, 0));
    EXPECT_TRUE(writer.send_queue_sem_post_ex(102, 5, 0));
    EXPECT_EQ(reader.get_queue_current_msg_number_ex(), 4u);

    const std::tuple<Message_Type, int, int> expected[] = {
        {CYCLIC_SEMAPHORE_WAIT, 103, -1},
        {CYCLIC_SEMAPHORE_POST, -2, 3},
        {SEM_DATA_SEMAPHORE_WAIT, 101, 2},
        {SEM_DATA_SEMAPHORE_POST, 102, 5},
    };
    for (const auto& [type, app, group] : expected) {
        Posix_Queue_Msg msg;
        ASSERT_TRUE(reader.recv_queue_msg_ex(&msg, 1.0f));
        EXPECT_EQ(msg.message_type, type);
        EXPECT_EQ(msg.application_id, app);
        EXPECT_EQ(msg.sem_data_group_id, group);
        EXPECT_GT(msg.ts.tv_sec, 0);
    }
    Posix_Queue_Msg none;
    EXPECT_FALSE(reader.recv_queue_msg_ex(&none, 1.0f));
}

TEST(Posix_Queue, FullQueueDropsAfterTheTimeOut)
{
    Posix_Queue_Message_Reader reader;
    reader.open_ex(true, 20, 4);
    Posix_Queue_Message_Writer writer;
    writer.open_ex(true);
    fill_queue(writer, 4);

    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(writer.send_queue_cyclic_wait_ex(100, 0.05f));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
    EXPECT_EQ(reader.get_queue_current_msg_number_ex(), 4u);

    Posix_Queue_Message_Writer non_blocking;
    non_blocking.open_ex(false);
    EXPECT_FALSE(non_blocking.send_queue_cyclic_wait_ex(100, 0));
}

TEST(Posix_Queue, BlockingSendWithoutTimeOutWaitsForRoom)
{
    Posix_Queue_Message_Reader reader;
    reader.open_ex(true, 20, 2);
    Posix_Queue_Message_Writer writer;
    writer.open_ex(true);
    fill_queue(writer, 2);

    std::thread drain([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        Posix_Queue_Msg msg;
        reader.recv_queue_msg_ex(&msg, 0);
    });
    EXPECT_TRUE(writer.send_queue_sem_post_ex(100, 1, 0));
    drain.join();
    EXPECT_EQ(reader.get_queue_current_msg_number_ex(), 2u);
}

TEST(Posix_Queue, TimeOutOnNonBlockingQueueIsRefused)
{
    Posix_Queue_Message_Reader reader;
    reader.open_ex(false, 20, 10);
    Posix_Queue_Message_Writer writer;
    writer.open_ex(false);
    const std::string text = "queue /linux_framework_queue is non_blocking!, timeout_ms must be default one!";
    EXPECT_EQ(thrown_text([&] { writer.send_queue_cyclic_wait_ex(100, 0.05f); }), text);
    Posix_Queue_Msg msg;
    EXPECT_EQ(thrown_text([&] { reader.recv_queue_msg_ex(&msg, 1.0f); }), text);
    EXPECT_EQ(reader.get_queue_current_msg_number_ex(), 0u);
    EXPECT_FALSE(reader.recv_queue_msg_ex(&msg, 0));  // empty, returns at once
}

TEST(Posix_Queue, ShorterMessageIsASizeMismatch)
{
    Posix_Queue_Message_Reader reader;
    reader.open_ex(true, 30, 10);
    const mqd_t raw = mq_open(FRAMEWORK_QUEUE_NAME, O_WRONLY);
    ASSERT_NE(raw, static_cast<mqd_t>(-1));
    const char shorter[10] = {};
    ASSERT_EQ(mq_send(raw, shorter, sizeof(shorter), 0), 0);
    mq_close(raw);
    Posix_Queue_Msg msg;
    EXPECT_EQ(thrown_text([&] { reader.recv_queue_msg_ex(&msg, 1.0f); }),
              "reader queue size mismatch, name :: /linux_framework_queue, recived size :: 10, expected :: 20");
}

TEST(Posix_Queue, ReaderCloseRemovesTheQueue)
{
    Posix_Queue_Message_Writer writer;
    {
        Posix_Queue_Message_Reader reader;
        reader.open_ex(true, 20, 10);
        reader.close();
        EXPECT_FALSE(reader.is_open());
        reader.close();  // a second close touches nothing
    }
    EXPECT_NE(thrown_text([&] { writer.open_ex(true); }).find("cannot open writer queue"), std::string::npos);
}

TEST(Posix_Queue, ReaderReopenReplacesAStaleQueue)
{
    Posix_Queue_Message_Reader first;
    first.open_ex(true, 20, 10);
    Posix_Queue_Message_Writer writer;
    writer.open_ex(true);
    ASSERT_TRUE(writer.send_queue_cyclic_wait_ex(100, 0));

    Posix_Queue_Message_Reader second;
    second.open_ex(true, 20, 10);
    EXPECT_EQ(second.get_queue_current_msg_number_ex(), 0u);
}

TEST(Posix_Queue, SystemLimitBelowTheCapacityIsNamedInTheError)
{
    // Only this case's IPC namespace sees the lowered limit.
    {
        std::ofstream("/proc/sys/fs/mqueue/msg_max") << 10;
    }
    Posix_Queue_Message_Reader reader;
    const std::string text = thrown_text([&] { reader.open_ex(true, 20, 1000); });
    EXPECT_NE(text.find("cannot open reader queue, name :: /linux_framework_queue --> "), std::string::npos) << text;
    EXPECT_NE(text.find("fs.mqueue.msg_max"), std::string::npos) << text;
    EXPECT_NE(text.find("sysctl -w fs.mqueue.msg_max=1000"), std::string::npos) << text;
    EXPECT_FALSE(reader.is_open());
}

TEST(Posix_Queue, LinuxQueueStubsDoNothing)
{
    Posix_Queue_Message_Writer writer;
    writer.open_linux_ex(true);
    EXPECT_FALSE(writer.send_linux_queue_cyclic_wait_ex(100, 0));
    EXPECT_EQ(writer.get_linux_queue_max_msg_number_ex(), 0u);
    Posix_Queue_Message_Reader reader;
    Posix_Queue_Msg msg;
    EXPECT_FALSE(reader.recv_linux_queue_msg_ex(&msg, 0));
    EXPECT_NE(thrown_text([&] {
                  reader.open_linux_ex(true, 20, 10);
              }).find("cannot open reader linux queue, name :: NotAvailable --> "),
              std::string::npos);
}
