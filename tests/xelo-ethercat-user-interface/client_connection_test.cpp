// Transport and connection of the client API: framing and ids, reply
// matching, the version check, the lifecycle replies, the guards and the
// size check of the master's memories.
#include <gtest/gtest.h>

#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "client_fixture.h"

TEST(ClientHook, ChecksTheVersionWithTheFirstRequest)
{
    Fake_Master_Memories memories;
    Scripted_Master master({version_step()});
    EXPECT_EQ(preliminary_hook(1081), 32);
    EXPECT_TRUE(master.finish().empty());
    // The first request of the process carries id 1; the newline belongs to it.
    ASSERT_EQ(master.datagrams().size(), 1u);
    EXPECT_EQ(master.datagrams()[0], "1#get_system_version\n");
}

TEST(ClientHook, AnotherVersionIsRefusedButTheLibraryStaysHooked)
{
    Fake_Master_Memories memories;
    Scripted_Master master({version_step("31"), {"get_slaves_number\n", "2"}});
    testing::internal::CaptureStdout();
    EXPECT_EQ(preliminary_hook(1081), -1);
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_NE(out.find("ECM_SYSTEM_VERSION: 32\nret_value: 31\nPROJECT_VERSION_MINOR: 32\n\n!!! Error User Lib and Ecm "
                       "System version are not equal !!!"),
              std::string::npos)
        << out;
    EXPECT_EQ(get_slaves_number(), 2);
    EXPECT_TRUE(master.finish().empty());
}

TEST(ClientHook, ASecondHookIsRefused)
{
    Fake_Master_Memories memories;
    Scripted_Master master({version_step()});
    ASSERT_EQ(preliminary_hook(1081), 32);
    testing::internal::CaptureStdout();
    EXPECT_EQ(preliminary_hook(1081), -1);
    EXPECT_NE(testing::internal::GetCapturedStdout().find("!!! Error System Already Connected !!!"), std::string::npos);
    EXPECT_TRUE(master.finish().empty());
}

TEST(ClientHook, RequestsBeforeTheHookAreRefusedWithoutSending)
{
    Fake_Master_Memories memories;
    Scripted_Master master({});
    ECM_Error_Struct error{};
    const std::vector<std::function<int()>> calls = {
        [] { return get_slaves_number(); },
        [&] { return get_last_system_error(&error); },
        [] { return static_cast<int>(get_system_state()); },
        [] { return open_connection_with_master("/tmp/cell.xml"); },
        [] { return reopen_connection(); },
        [] { return close_connection_with_master(); },
        [] { return set_operational_cycle_time_ns(1000000); },
        [] { return go_into_new_state(OP_STATE); },
        [] { return last_unhook(); },
    };
    for (const auto& call : calls)
        EXPECT_EQ(call(), -1);
    EXPECT_TRUE(master.finish().empty());
}

TEST(ClientHook, MemoriesOfAnotherSizeAreRefusedAndNotResized)
{
    Fake_Master_Memories memories;
    // The info memory replaced by one of the wrong size.
    shm_unlink(ecm_shm::INFO_NAME);
    const int fd = create_memory_of_size(ecm_shm::INFO_NAME, sizeof(Shared_Slave_Info_Mem_Region) - 8);
    Scripted_Master master({});
    testing::internal::CaptureStdout();
    EXPECT_EQ(preliminary_hook(1081), -1);
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_NE(out.find("/shmem_info_ethercat"), std::string::npos) << out;
    struct stat st {};
    ASSERT_EQ(fstat(fd, &st), 0);
    EXPECT_EQ(static_cast<std::size_t>(st.st_size), sizeof(Shared_Slave_Info_Mem_Region) - 8);
    close(fd);
    EXPECT_TRUE(master.finish().empty());
}

TEST(ClientHook, AMissingMemoryFailsTheHook)
{
    Fake_Master_Memories memories;
    shm_unlink(ecm_shm::TICK_NAME);
    Scripted_Master master({});
    EXPECT_EQ(preliminary_hook(1081), -1);
    EXPECT_TRUE(master.finish().empty());
}

TEST_F(Hooked_Client, IdsRunTo999ThenZero)
{
    std::vector<Master_Step> steps(1000, Master_Step{"get_slaves_number\n", "3"});
    expect(steps);
    for (int k = 0; k < 1000; ++k)
        ASSERT_EQ(get_slaves_number(), 3) << k;
    const std::vector<std::string> datagrams = m_master->datagrams();
    ASSERT_EQ(datagrams.size(), 1001u);
    // Datagram k carries id k + 1.
    EXPECT_EQ(datagrams[998], "999#get_slaves_number\n");
    EXPECT_EQ(datagrams[999], "0#get_slaves_number\n");
    EXPECT_EQ(datagrams[1000], "1#get_slaves_number\n");
}

TEST_F(Hooked_Client, StaleRepliesAheadOfTheRightOneAreSkippedUpToFour)
{
    expect(
        {{"get_slaves_number\n", "3", true, 4}, {"get_slaves_number\n", "4", true, 5}, {"get_slaves_number\n", "5"}});
    EXPECT_EQ(get_slaves_number(), 3);
    // Five stale replies use up the reads: the request fails; its late reply
    // is skipped by the next one.
    EXPECT_EQ(get_slaves_number(), -1);
    EXPECT_EQ(get_slaves_number(), 5);
}

TEST_F(Hooked_Client, AMasterThatDoesNotAnswerFailsTheRequestAfterTwoSeconds)
{
    expect({{"get_slaves_number\n", "", false}});
    testing::internal::CaptureStdout();
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(get_slaves_number(), -1);
    const auto waited = std::chrono::steady_clock::now() - start;
    EXPECT_NE(testing::internal::GetCapturedStdout().find("Error on receive: "), std::string::npos);
    EXPECT_GE(waited, std::chrono::milliseconds(1900));
    EXPECT_LT(waited, std::chrono::milliseconds(4000));
}

TEST_F(Hooked_Client, StartRepliesSetTheFlagsAndCopyTheSlaveCounts)
{
    m_memories.set_slave_counts(3, 2);
    expect({{"start_ethercat_master /tmp/cell.xml\n", "start_only_valid_xml_data"},
            {"get_slave_address drive\n", "1002"}});
    EXPECT_EQ(open_connection_with_master("/tmp/cell.xml"), -1);
    // Configuration valid, master not connected: xml-guarded requests go,
    // master-guarded ones are refused with the guard's message.
    char name[] = "drive";
    EXPECT_EQ(get_slave_address(name), 1002);
    testing::internal::CaptureStdout();
    EXPECT_EQ(set_watchdog_off(), -1);
    EXPECT_NE(testing::internal::GetCapturedStdout().find("!!! System or Master NOT Connected !!!"), std::string::npos);
    // The counts were copied: the active one bounds the addresses.
    int a = 0, b = 0, c = 0;
    expect({{"get_slave_state_info 1002\n", "4 2 2 0"}});
    EXPECT_EQ(get_slave_state_info(1002, &a, &b, &c), 0);
    EXPECT_EQ(get_slave_state_info(1003, &a, &b, &c), -1);

    expect({{"start_ethercat_master /tmp/cell.xml\n", "started"}, {"set_watchdog_off\n", "reply_ok"}});
    EXPECT_EQ(open_connection_with_master("/tmp/cell.xml"), 0);
    EXPECT_EQ(set_watchdog_off(), 0);

    expect({{"start_ethercat_master /tmp/cell.xml\n", "ethercat_master_not_started"}});
    testing::internal::CaptureStdout();
    EXPECT_EQ(open_connection_with_master("/tmp/cell.xml"), -1);
    EXPECT_NE(testing::internal::GetCapturedStdout().find("!!! Error: response not verified !!!"), std::string::npos);
    // Counts cleared: no address is valid any more.
    EXPECT_EQ(get_slave_state_info(1001, &a, &b, &c), -1);
}

TEST_F(Hooked_Client, ConfigurationPathsMustFitTheDatagram)
{
    // "2#start_ethercat_master " + path + "\n" is 500 bytes for a path of 475.
    const std::string fits(475, 'x');
    expect({{"start_ethercat_master " + fits + "\n", "started"}});
    EXPECT_EQ(open_connection_with_master(fits.c_str()), 0);

    testing::internal::CaptureStdout();
    EXPECT_EQ(open_connection_with_master(std::string(477, 'x').c_str()), -1);
    EXPECT_NE(testing::internal::GetCapturedStdout().find("!!! Error: Max filename length exceded ... "),
              std::string::npos);
    // Within the path limit but longer than a datagram with its id: refused,
    // nothing sent.
    testing::internal::CaptureStdout();
    EXPECT_EQ(open_connection_with_master(std::string(476, 'x').c_str()), -1);
    EXPECT_NE(testing::internal::GetCapturedStdout().find("request longer than one datagram"), std::string::npos);
}

TEST_F(Hooked_Client, RestartRepliesTable)
{
    started(3, 3);
    const struct {
        const char* reply;
        int result;
        bool xml_valid_after;
        bool master_after;
    } cases[] = {
        {"restart_master_comunication_ok", 0, true, true},
        {"start_only_valid_xml_data", -1, true, false},
        {"restart_master_comunication_ok", 0, true, true},
        {"no_bus", -1, false, false},
    };
    for (const auto& c : cases) {
        expect({{"restart_master_comunication_with_slave\n", c.reply}});
        EXPECT_EQ(reopen_connection(), c.result) << c.reply;
        // Probe the flags through the guards of two requests.
        if (c.xml_valid_after)
            expect({{"check_slaves_link\n", "reply_ok"}});
        EXPECT_EQ(check_slaves_link(), c.xml_valid_after ? 0 : -1) << c.reply;
        if (c.master_after)
            expect({{"set_watchdog_off\n", "reply_ok"}});
        EXPECT_EQ(set_watchdog_off(), c.master_after ? 0 : -1) << c.reply;
    }
    // Refused without a valid configuration, nothing sent.
    EXPECT_EQ(reopen_connection(), -1);
}

TEST_F(Hooked_Client, StopClearsTheConnectionAndUnhookEndsTheLibrarysUse)
{
    started();
    expect({{"stop_ethercat_master\n", "ethercat_master_not_stopped"}, {"stop_ethercat_master\n", "stopped"}});
    EXPECT_EQ(close_connection_with_master(), -1);
    EXPECT_EQ(close_connection_with_master(), 0);
    EXPECT_EQ(close_connection_with_master(), -1);  // guard: master not connected
    testing::internal::CaptureStdout();
    EXPECT_EQ(last_unhook(), 0);
    EXPECT_NE(testing::internal::GetCapturedStdout().find("\tuser_interface mutex destroy ... "), std::string::npos);
    EXPECT_EQ(get_slaves_number(), -1);
    // The process can hook again.
    expect({version_step(), {"get_slaves_number\n", "3"}});
    EXPECT_EQ(preliminary_hook(1081), 32);
    EXPECT_EQ(get_slaves_number(), 3);
}

TEST(ClientHook, AMasterStartedAgainIsMappedAfreshAtTheNextStart)
{
    auto memories = std::make_unique<Fake_Master_Memories>();
    Scripted_Master master({version_step(), {"start_ethercat_master /tmp/cell.xml\n", "started"}});
    ASSERT_EQ(preliminary_hook(1081), 32);
    // The master ends and starts again: new memories of the same names.
    memories.reset();
    memories = std::make_unique<Fake_Master_Memories>();
    memories->set_slave_counts(2, 2);
    memories->set_inputs(1, 0, 0, 6, 48);
    ASSERT_EQ(open_connection_with_master("/tmp/cell.xml"), 0);
    EXPECT_EQ(get_slave_input_byte_dim(1002), 6);
    memories->pdo().shm_buf_in[0] = 0x5A;
    uint8_t inputs[6] = {};
    EXPECT_EQ(get_slave_inputs_values(1002, 6, inputs), 0);
    EXPECT_EQ(inputs[0], 0x5A);
    EXPECT_TRUE(master.finish().empty());
}

// A master that ended: the connected socket reports it with the next
// receive, long before the time-out of a master that is there but silent.
TEST(ClientHook, ARequestToAMasterThatEndedFailsAtOnce)
{
    Fake_Master_Memories memories;
    auto master = std::make_unique<Scripted_Master>(std::vector<Master_Step>{version_step()});
    ASSERT_EQ(preliminary_hook(1081), 32);
    EXPECT_TRUE(master->finish().empty());
    master.reset();
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(get_system_state(), SYSTEM_SETUP_FAILED);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1500));
}

// A state change takes as long as the bus needs; a stop of the process
// ends its wait at once, and every request fails until the next hook.
TEST_F(Hooked_Client, ACancelEndsAWaitForTheMastersReplyAndLaterRequestsUntilTheNextHook)
{
    started();
    expect({{"go_into_next_state 1\n", "", false}});
    std::thread stopper([] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        cancel_master_requests();
    });
    EXPECT_EQ(go_into_new_state(INIT_STATE), -1);
    stopper.join();
    EXPECT_EQ(get_slaves_number(), -1);
    EXPECT_EQ(m_master->datagrams().size(), 3u);  // version, start, state change: nothing after the cancel
    EXPECT_EQ(last_unhook(), 0);
    expect({version_step(), {"get_slaves_number\n", "3"}});
    EXPECT_EQ(preliminary_hook(1081), 32);
    EXPECT_EQ(get_slaves_number(), 3);
}
