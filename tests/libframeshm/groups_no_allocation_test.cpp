// Posting and waiting, rings, commands and asynchronous requests allocate
// nothing once the groups, channels and variables are looked up.
#include <atomic>
#include <thread>

#include "allocation_hooks.h"
#include "rtframe_test.h"

namespace {
constexpr int TRACE = 0, COMMAND = 1;
constexpr int POSITION = 1, TEXT = 1, COUNT = 2;
constexpr int CYCLES = 50;
}  // namespace

class Groups_No_Allocation : public Rtframe_Test {
protected:
    Test_Descriptor descriptor() const override
    {
        Test_Descriptor d;
        d.with_channel = true;
        return d;
    }
};

TEST_F(Groups_No_Allocation, PostsWaitsRingsCommandsAndAsynchronousRequests)
{
    auto writer = attach("writer");
    auto reader = attach("reader");
    auto server = attach("server");
    ASSERT_EQ(writer->get_sem_data_group_write_id_ex("command", false), COMMAND);
    ASSERT_EQ(writer->get_sem_data_group_write_id_ex("trace", false), TRACE);
    ASSERT_EQ(reader->get_sem_data_group_read_id_ex("command"), COMMAND);
    ASSERT_EQ(reader->get_sem_data_group_read_id_ex("trace"), TRACE);
    const int client_channel = writer->get_cmd_channel_id_as_client_ex("axis");
    ASSERT_TRUE(writer->try_acquire_cmd_as_client_ex(client_channel));
    const int server_channel = server->get_cmd_channel_id_as_server_ex("axis");
    ASSERT_TRUE(server->try_acquire_cmd_as_server_ex(server_channel));
    const int input = reader->get_async_input_id_ex("error_code");
    const int output = reader->get_async_output_id_ex("max_torque");

    std::atomic<bool> served{true};
    std::thread serving([&] {
        for (int i = 0; i < CYCLES && served; ++i) {
            served = server->wait_cmd_ex(server_channel, 5000);
            server->set_answ_data_ex<signed char>(server_channel, 0,
                                                  server->get_cmd_data_ex<signed char>(server_channel, 0));
            server->send_answer_ex(server_channel);
        }
    });

    uint8_t bytes[16] = {};
    double sum = 0;
    int poster = 0;
    int8_t overlap = 0;
    const long before = allocation_count();
    for (int cycle = 0; cycle < CYCLES; ++cycle) {
        writer->set_sem_data_group_data_ex<int>(COMMAND, COUNT, cycle);
        bytes[cycle % 16] = static_cast<uint8_t>(cycle);
        writer->set_sem_data_group_data_byte_array_ex(COMMAND, TEXT, bytes, 16, 0);
        writer->post_sem_data_group_ex(COMMAND, false, -1);
        ASSERT_TRUE(reader->wait_sem_data_group_ex(COMMAND, 1000, 0, &poster));
        sum += reader->get_sem_data_group_data_ex<int>(COMMAND, COUNT);
        reader->get_sem_data_group_data_byte_array_ex(COMMAND, TEXT, bytes, 8, 4);

        writer->set_sem_data_group_data_ex<double>(TRACE, POSITION, cycle);
        writer->insert_ring_buffer_slot_ex(TRACE);
        writer->post_sem_data_group_ex(TRACE, false, -1);
        ASSERT_TRUE(reader->wait_sem_data_group_ex(TRACE, 1000, 0, nullptr));
        while (reader->get_ring_buffer_next_slot_ex(TRACE, &overlap))
            sum += reader->get_sem_data_group_data_ex<double>(TRACE, POSITION);

        while (!writer->is_server_waiting_for_command_ex(client_channel) && served) {
        }
        writer->set_cmd_data_ex<signed char>(client_channel, 0, static_cast<signed char>(cycle));
        ASSERT_TRUE(writer->send_cmd_and_wait_answer_ex(client_channel, 1000));
        sum += writer->get_answ_data_ex<signed char>(client_channel, 0);

        reader->refresh_async_input_ex(input);
        sum += reader->is_async_input_refresh_ex(input, nullptr);  // pending: nobody serves it
        sum += reader->get_async_input_ex<unsigned short>(input);
        reader->set_async_output_ex<unsigned short>(output, static_cast<unsigned short>(cycle));
        sum += reader->is_async_output_set_ex(output, nullptr);
    }
    const long allocations = allocation_count() - before;
    serving.join();
    EXPECT_EQ(allocations, 0);
    EXPECT_TRUE(served);
    EXPECT_GT(sum, 0.0);  // the values were read
}
