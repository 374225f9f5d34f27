// The cyclic channel between two boards: values of every type, a mismatch,
// a killed slave and a link down.
#include "two_boards_fixture.h"

TEST_F(Two_Boards_Test, ValuesOfEveryTypeCrossBothWaysOnceTheBridgeRuns)
{
    short_running_delay = false;  // the bridge's own 5 s, timed below
    start_master();
    start_slave();
    ASSERT_TRUE(master->wait_for_log("Client correspondance of input cyclics correctly checked", 30s)) << master->log();
    const auto connected = std::chrono::steady_clock::now();
    EXPECT_TRUE(
        slave->wait_for_log("[Framework_Socket_Bridge][cyclic_client_socket_init_ex] Cyclics client socket "
                            "setup correctly",
                            5s))
        << slave->log();
    EXPECT_TRUE(master->wait_for_log("Client correspondance of output cyclics correctly checked", 1s));
    ASSERT_TRUE(master->wait_until_ready(20s)) << master->log();
    const auto waited = std::chrono::steady_clock::now() - connected;
    EXPECT_GE(waited, 4500ms);
    EXPECT_LE(waited, 12s);
    EXPECT_TRUE(master->wait_for_log(RUNNING_1, 1s));
    ASSERT_TRUE(slave_ready(20s)) << slave->log();
    EXPECT_TRUE(slave->wait_for_log(RUNNING_1, 1s));
    exchange_values(Values{});
}

// A type changed on the slave: both boards repeat their length lines at
// every retry and never let clients in.
TEST_F(Two_Boards_Test, AMismatchKeepsBothBoardsRetryingAndNotReady)
{
    slave_changes = {
        {"name_virtual=\"to_slave_int32\" type=\"int32\"", "name_virtual=\"to_slave_int32\" type=\"int16\""}};
    SetUp();
    start_master();
    start_slave();
    EXPECT_TRUE(master->wait_for_log("ERR] Output cyclics len = ", 30s, 3)) << master->log();
    EXPECT_TRUE(
        slave->wait_for_log("ERR] [Framework_Socket_Bridge][cyclic_client_socket_init_ex] Input cyclics len ", 30s, 3))
        << slave->log();
    EXPECT_FALSE(info_segment_ready());
    EXPECT_FALSE(slave_ready(1s));
    EXPECT_EQ(count_of(master->log(), RUNNING_1), 0);
    EXPECT_EQ(count_of(slave->log(), RUNNING_1), 0);
}

// The slave killed: the master stops its bridge, the outputs it held return
// to their defaults, it attaches again, and values flow once the slave is
// back; threads and descriptors do not pile up over the passes.
TEST_F(Two_Boards_Test, ASlaveKilledAndRestartedIsBridgedAgain)
{
    start_master();
    start_slave();
    ASSERT_TRUE(master->wait_until_ready(30s)) << master->log();
    ASSERT_TRUE(slave_ready(20s)) << slave->log();
    exchange_values(Values{});
    const std::string pid = std::to_string(master->pid());
    const int threads = entries("/proc/" + pid + "/task");
    const int descriptors = entries("/proc/" + pid + "/fd");

    EXPECT_EQ(slave->stop(10s, SIGKILL), 128 + SIGKILL);
    slave.reset();
    EXPECT_TRUE(master->wait_for_log("Thread cyclics_server [6] is stopped", 5s)) << master->log();
    EXPECT_TRUE(master->wait_for_log(RUNNING_0, 5s)) << master->log();
    {
        Framework_Shared_Memory_Manager& m = master_client();
        const int id = m.get_input_id_ex("to_master_int32");
        uint32_t tick = 0;
        EXPECT_TRUE(
            eventually([&] { return m.refresh_data_ex(&tick) >= 0 && m.get_input_ex<int>(id, false) == -32; }, 10s))
            << master->log();
    }
    EXPECT_TRUE(master->wait_for_log("Manager thread framework init done..", 10s)) << master->log();

    start_slave();
    ASSERT_TRUE(master->wait_for_log(RUNNING_1, 30s, 2)) << master->log();
    ASSERT_TRUE(slave_ready(20s)) << slave->log();
    Values other;
    other.int32 = 123456;
    other.bytes = "again!!!";
    exchange_values(other);
    EXPECT_EQ(entries("/proc/" + pid + "/task"), threads);
    EXPECT_EQ(entries("/proc/" + pid + "/fd"), descriptors);
}

// The link down: both boards stop within about 2 s; up again: both recover.
TEST_F(Two_Boards_Test, ALinkDownAndUpStopsAndRecoversBothBoards)
{
    start_master();
    start_slave();
    ASSERT_TRUE(master->wait_until_ready(30s)) << master->log();
    ASSERT_TRUE(slave_ready(20s)) << slave->log();
    ASSERT_EQ(std::system("ip link set cell_a down"), 0);
    const auto down = std::chrono::steady_clock::now();
    EXPECT_TRUE(master->wait_for_log("Thread cyclics_server [6] is stopped", 4s)) << master->log();
    EXPECT_TRUE(slave->wait_for_log("Thread cyclics_client [6] is stopped", 4s)) << slave->log();
    EXPECT_LT(std::chrono::steady_clock::now() - down, 3500ms);
    EXPECT_TRUE(master->wait_for_log(RUNNING_0, 2s));
    ASSERT_EQ(std::system("ip link set cell_a up"), 0);
    EXPECT_TRUE(master->wait_for_log(RUNNING_1, 40s, 2)) << master->log();
    EXPECT_TRUE(slave->wait_for_log(RUNNING_1, 40s, 2)) << slave->log();
    exchange_values(Values{});
}
