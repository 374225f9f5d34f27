// rtframe with a master, played by the test: the master's memories made of
// the real records, its tick posted by a thread of the test, and a scripted
// command server that expects the requests in order. The request sequence
// to OP, the exchange in both directions (bit-shifted outputs), lost ticks
// with the restart of the bus, single-connection mode, asynchronous
// variables and a master that is not there at start.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "descriptor_templates.h"
#include "eventually.h"
#include "fake_master.h"
#include "thin_client.h"
#include "thrown_text.h"
#include "xelo_framework_shm_manager.h"

namespace {
using std::chrono::milliseconds;
using std::chrono::seconds;

const std::string DIR = "/tmp/cell";
const std::string ENI = DIR + "/cell_eni.xml";

std::string joined(const std::vector<std::string>& lines)
{
    std::string text;
    for (const std::string& line : lines)
        text += line + "\n";
    return text;
}

// The master's cycle: a tick every 2 ms while running.
class Ticker {
public:
    explicit Ticker(Fake_Master_Memories& memories) : m_memories(memories)
    {
        m_thread = std::thread([this] {
            while (!m_end) {
                if (m_running)
                    m_memories.tick();
                std::this_thread::sleep_for(milliseconds(2));
            }
        });
    }
    ~Ticker()
    {
        m_end = true;
        m_thread.join();
    }
    void pause() { m_running = false; }
    void resume() { m_running = true; }

private:
    Fake_Master_Memories& m_memories;
    std::atomic<bool> m_running{true};
    std::atomic<bool> m_end{false};
    std::thread m_thread;
};

// The requests of one pass of the master manager from the restart to OP,
// and the error it reads once in OP.
std::vector<Master_Step> restart_to_op()
{
    return {{"restart_master_comunication_with_slave\n", "restart_master_comunication_ok"},
            {"set_op_cycle_time 2000000\n", "reply_ok"},
            {"set_watchdog_on 50\n", "reply_ok"},
            {"go_into_next_state 4\n", "reply_ok"},
            {"go_into_next_state 8\n", "reply_ok"},
            {"get_last_system_error\n", "4 0 0 0"}};
}

std::vector<Master_Step> hook_start_to_op()
{
    std::vector<Master_Step> steps = {version_step(), {"start_ethercat_master " + ENI + "\n", "started"}};
    for (Master_Step& step : restart_to_op())
        steps.push_back(step);
    return steps;
}

class Master_Mode : public testing::Test {
protected:
    void TearDown() override
    {
        if (rtframe && rtframe_running) {
            EXPECT_EQ(rtframe->stop(), 0) << rtframe->log();
        }
        if (master) {
            const std::vector<std::string> problems = master->finish();
            EXPECT_TRUE(problems.empty()) << joined(problems) << (rtframe ? rtframe->log() : "");
        }
        ticker.reset();
    }

    // The master with its geometry: 1001 has 2 input and 2 output bytes at
    // byte 0; 1002 has 2 output bits at bit 3 of byte 2, whose other bits
    // belong to neighbours.
    void create_master(std::vector<Master_Step> steps)
    {
        if (!memories)
            memories = std::make_unique<Fake_Master_Memories>();
        memories->set_slave_counts(2, 2);
        memories->set_inputs(0, 0, 0, 2, 16);
        memories->set_outputs(0, 0, 0, 2, 16);
        memories->set_outputs(1, 2, 3, 1, 2);
        memories->pdo().shm_buf_in[0] = 0x34;
        memories->pdo().shm_buf_in[1] = 0x12;
        memories->pdo().shm_buf_out[2] = 0x87;
        master = std::make_unique<Scripted_Master>(std::move(steps));
        ticker = std::make_unique<Ticker>(*memories);
    }

    void start_rtframe(bool single_connection)
    {
        const std::string descriptor = install_descriptor("master_cell.xml", DIR);
        std::vector<std::string> arguments = {"-c", descriptor};
        if (single_connection)
            arguments.insert(arguments.begin(), "-s");
        rtframe = std::make_unique<Rtframe_Child>(arguments);
        rtframe_running = true;
    }

    void start(bool single_connection, std::vector<Master_Step> steps = hook_start_to_op())
    {
        create_master(std::move(steps));
        start_rtframe(single_connection);
        ASSERT_TRUE(rtframe->wait_until_ready(seconds(30))) << rtframe->log();
    }

    bool online(Thin_Client& client) { return client.get_input<uint8_t>("is_ethercat_master_online") == 1; }

    std::unique_ptr<Fake_Master_Memories> memories;
    std::unique_ptr<Scripted_Master> master;
    std::unique_ptr<Ticker> ticker;
    std::unique_ptr<Rtframe_Child> rtframe;
    bool rtframe_running = false;
};
}  // namespace

TEST_F(Master_Mode, BringsTheMasterToOpAndExchangesEveryTick)
{
    start(true);
    ASSERT_TRUE(eventually([&] { return master->served() == 8; }, seconds(10))) << rtframe->log();
    const std::string log = rtframe->log();
    for (const char* line :
         {"XELO_Framework_ex::reopen_connection( ... )", "XELO_Framework_ex::set_watchdog_on ( 50 )",
          "XELO_Framework_ex::go_safeop_state ( ... )", "XELO_Framework_ex::go_operational_state ( ... )",
          "XELO_Framework_ex::open_master_comunication_channel ... DONE", "XELO_Framework_ex::wait some error..."})
        EXPECT_NE(log.find(line), std::string::npos) << line << "\n" << log;

    Thin_Client client;
    client.take_slot("exchange");
    ASSERT_TRUE(client.wait_wakeup(seconds(5)));
    EXPECT_TRUE(online(client));
    EXPECT_EQ(client.get_input_text("last_ethercat_master_error_msg"), "no error");
    // Inputs come in from the master's image.
    EXPECT_TRUE(eventually([&] { return client.get_input<uint16_t>("drive_status") == 0x1234; }));
    memories->pdo().shm_buf_in[0] = 0x78;
    EXPECT_TRUE(eventually([&] { return client.get_input<uint16_t>("drive_status") == 0x1278; }));
    // Outputs go out: the defaults first (drive 6; lamp_green 1, lamp_red
    // negated 0 at bits 3-4 of byte 2, its neighbours' bits kept), then a
    // client's value.
    const uint8_t* out = memories->pdo().shm_buf_out;
    EXPECT_TRUE(eventually([&] { return out[0] == 6 && out[1] == 0; }));
    EXPECT_EQ(out[2], 0x8F);
    client.take_output("drive_control");
    client.set_output<uint16_t>("drive_control", 0xBEEF);
    client.set_output_bit("lamp_red", false);  // negated: the slave's bit goes to 1
    EXPECT_TRUE(eventually([&] { return out[0] == 0xEF && out[1] == 0xBE; }));
    EXPECT_TRUE(eventually([&] { return out[2] == 0x9F; })) << int(out[2]);
}

TEST_F(Master_Mode, LostTicksRestartTheBusAndTheErrorReachesTheClients)
{
    std::vector<Master_Step> steps = hook_start_to_op();
    // No tick within the window: the master manager reads the error, takes
    // the bus to INIT and back to OP without a pause.
    steps.push_back({"get_last_system_error\n", "4 1 0 0"});
    steps.push_back({"go_into_next_state 1\n", "reply_ok"});
    for (Master_Step& step : restart_to_op())
        steps.push_back(step);
    // The master's cycle stopped on a fault (-1): the real-time thread reads
    // the error first, then the master manager; a pair outside the table.
    steps.push_back({"get_last_system_error\n", "4 10 1 1002"});
    steps.push_back({"get_last_system_error\n", "4 10 1 1002"});
    steps.push_back({"go_into_next_state 1\n", "reply_ok"});
    for (Master_Step& step : restart_to_op())
        steps.push_back(step);
    const std::size_t total = steps.size();
    start(false, steps);

    Thin_Client client;
    client.take_slot("watcher");
    ASSERT_TRUE(eventually([&] { return online(client); }, seconds(5)));

    ticker->pause();
    ASSERT_TRUE(rtframe->wait_for_log("[framework] [run_ex] master tick lost = -2", seconds(5))) << rtframe->log();
    EXPECT_TRUE(rtframe->wait_for_log("[framework] [run_ex] timeout on wait syncro tick  ", seconds(5)));
    EXPECT_TRUE(rtframe->wait_for_log("Try to restart.. ", seconds(5)));
    EXPECT_TRUE(eventually([&] { return !online(client); }));
    EXPECT_TRUE(eventually(
        [&] { return client.get_input_text("last_ethercat_master_error_msg") == "master synchro tick loss"; }));
    // Clients are still woken while the master is away.
    client.discard_pending_wakeup();
    EXPECT_TRUE(client.wait_wakeup(milliseconds(500)));
    ticker->resume();
    ASSERT_TRUE(eventually([&] { return master->served() == 16; }, seconds(10))) << rtframe->log();
    EXPECT_TRUE(eventually([&] { return online(client); }));
    EXPECT_TRUE(eventually([&] { return client.get_input_text("last_ethercat_master_error_msg") == "no error"; }));

    ticker->pause();
    memories->stop_cycle();
    ASSERT_TRUE(rtframe->wait_for_log("[framework] [run_ex] master tick lost = -1", seconds(5))) << rtframe->log();
    EXPECT_TRUE(eventually([&] {
        return client.get_input_text("last_ethercat_master_error_msg") ==
               "Error on master state change (10) / not found (1)";
    }));
    EXPECT_EQ(client.get_input<int16_t>("last_ethercat_master_error_type"), 10);
    EXPECT_EQ(client.get_input<int16_t>("last_ethercat_master_error_code"), 1);
    memories->tick_region().tick_count = 0;
    ticker->resume();
    ASSERT_TRUE(eventually([&] { return master->served() == total; }, seconds(10))) << rtframe->log();
    EXPECT_TRUE(eventually([&] { return online(client); }));
}

TEST_F(Master_Mode, InSingleConnectionModeALostTickEndsRtframe)
{
    start(true);
    ASSERT_TRUE(eventually([&] { return master->served() == 8; }, seconds(10))) << rtframe->log();
    ticker->pause();
    EXPECT_EQ(rtframe->wait_exit(seconds(20)), 0) << rtframe->log();
    rtframe_running = false;
    const std::string log = rtframe->log();
    EXPECT_NE(log.find("XELO_Framework_ex::reactivate_master_manager_thread ... single_connection active, Framework "
                       "will terminate"),
              std::string::npos)
        << log;
    EXPECT_NE(log.find("Master Unhook Done"), std::string::npos) << log;
    EXPECT_EQ(log.find("Try to restart.. "), std::string::npos) << log;
}

TEST_F(Master_Mode, AsynchronousVariablesBecomeQueuedSdoTransfers)
{
    start(true);
    ASSERT_TRUE(eventually([&] { return master->served() == 8; }, seconds(10))) << rtframe->log();
    Framework_Shared_Memory_Manager app;
    app.init_with_h_compatibility_check_ex("async", XELO_FRAMEWORK_SHM_MANAGER_VERSION_MAJOR,
                                           XELO_FRAMEWORK_SHM_MANAGER_VERSION_MINOR);
    const int input = app.get_async_input_id_ex("error_code");
    const int output = app.get_async_output_id_ex("max_torque");
    const auto poll = [&](auto done) {
        for (;;) {
            if (done() != 0)
                return;
            ASSERT_GE(app.refresh_data_ex(nullptr), 0);
        }
    };

    // A read: pushed with the variable's bytes, its reply collected in the
    // same tick (0x603F, upload of 2 bytes: 0x4B; reply 0x4B with 12345).
    master->add({{"push_sdo_into_queue 1001 24639 0 75 2 0 0\n", "reply_ok"},
                 {"pop_sdo_from_queue\n", "1 1001 24639 0 75 2 57 48"}});
    app.refresh_async_input_ex(input);
    poll([&] { return app.is_async_input_refresh_ex(input, nullptr); });
    EXPECT_EQ(app.get_async_input_ex<unsigned short>(input), 12345);
    EXPECT_EQ(app.get_async_input_refresh_error_ex(input), 0u);

    // A write of 1500 (0x6072, download of 2 bytes: 0x2B), confirmed 0x60.
    master->add({{"push_sdo_into_queue 1001 24690 0 43 2 220 5\n", "reply_ok"},
                 {"pop_sdo_from_queue\n", "0"},
                 {"pop_sdo_from_queue\n", "1 1001 24690 0 96 0"}});
    app.set_async_output_ex<unsigned short>(output, 1500);
    poll([&] { return app.is_async_output_set_ex(output, nullptr); });
    EXPECT_EQ(app.get_async_output_set_error_ex(output), 0u);

    // An abort reaches the variable as an error with its abort code.
    master->add({{"push_sdo_into_queue 1001 24639 0 75 2 57 48\n", "reply_ok"},
                 {"pop_sdo_from_queue\n", "1 1001 24639 0 128 4 0 0 2 6"}});
    app.refresh_async_input_ex(input);
    EXPECT_NE(thrown_text([&] { poll([&] { return app.is_async_input_refresh_ex(input, nullptr); }); }),
              "<nothing thrown>");
    EXPECT_EQ(app.get_async_input_refresh_error_ex(input), 0x06020000u);

    // A push the master refuses fails that request; the cycle goes on.
    master->add({{"push_sdo_into_queue 1001 24690 0 43 2 221 5\n", "reply_error"}});
    app.set_async_output_ex<unsigned short>(output, 1501);
    EXPECT_NE(thrown_text([&] { poll([&] { return app.is_async_output_set_ex(output, nullptr); }); }),
              "<nothing thrown>");
    for (int k = 0; k < 3; ++k)
        EXPECT_GE(app.refresh_data_ex(nullptr), 0);
    EXPECT_NE(rtframe->log().find("Failed to push sdo max_torque"), std::string::npos);
}

TEST_F(Master_Mode, AMasterThatIsDownAtStartIsWaitedFor)
{
    start_rtframe(true);
    ASSERT_TRUE(rtframe->wait_for_log("master not reachable, hook retried every second", seconds(30)))
        << rtframe->log();
    create_master(hook_start_to_op());
    ASSERT_TRUE(rtframe->wait_until_ready(seconds(30))) << rtframe->log();
    Thin_Client client;
    EXPECT_TRUE(eventually([&] { return online(client); }, seconds(5)));
}

// A master whose memories are there but which does not answer: the hook's
// version request and the state request that follows get no reply, the
// hook is tried again. The pass that started meanwhile finds no slave and
// ends; the next one comes up.
TEST_F(Master_Mode, AMasterThatDoesNotAnswerAtStartIsWaitedFor)
{
    std::vector<Master_Step> steps = {{"get_system_version\n", "", false}, {"get_system_state\n", "", false}};
    for (Master_Step& step : hook_start_to_op())
        steps.push_back(step);
    create_master(steps);
    start_rtframe(false);
    ASSERT_TRUE(rtframe->wait_for_log("master not reachable, hook retried every second", seconds(30)))
        << rtframe->log();
    ASSERT_TRUE(rtframe->wait_until_ready(seconds(30))) << rtframe->log();
    Thin_Client client;
    EXPECT_TRUE(eventually([&] { return online(client); }, seconds(5)));
}

TEST_F(Master_Mode, AMasterStartedAgainIsConnectedAgain)
{
    std::vector<Master_Step> steps = hook_start_to_op();
    // The master process ends and starts again with new memories: its tick
    // stops, the restart finds no configuration, the master manager starts
    // the ENI file again and brings the new bus to OP.
    steps.push_back({"get_last_system_error\n", "4 1 0 0"});
    steps.push_back({"go_into_next_state 1\n", "reply_error"});
    steps.push_back({"restart_master_comunication_with_slave\n", "ethercat_master_not_started"});
    steps.push_back({"get_last_system_error\n", "4 0 0 0"});
    steps.push_back({"get_system_state\n", "2"});
    steps.push_back({"start_ethercat_master " + ENI + "\n", "started"});
    for (Master_Step& step : restart_to_op())
        steps.push_back(step);
    const std::size_t total = steps.size();
    start(false, steps);
    Thin_Client client;
    client.take_slot("watcher");
    ASSERT_TRUE(eventually([&] { return online(client); }, seconds(5)));

    ticker.reset();
    memories.reset();
    ASSERT_TRUE(rtframe->wait_for_log("Try to restart.. ", seconds(5))) << rtframe->log();
    memories = std::make_unique<Fake_Master_Memories>();
    memories->set_slave_counts(2, 2);
    memories->set_inputs(0, 0, 0, 2, 16);
    memories->set_outputs(0, 0, 0, 2, 16);
    memories->set_outputs(1, 2, 3, 1, 2);
    memories->pdo().shm_buf_in[0] = 0x21;
    memories->pdo().shm_buf_in[1] = 0x43;
    ticker = std::make_unique<Ticker>(*memories);
    ASSERT_TRUE(eventually([&] { return master->served() == total; }, seconds(15))) << rtframe->log();
    EXPECT_TRUE(eventually([&] { return online(client); }));
    // The exchange runs on the new memories.
    EXPECT_TRUE(eventually([&] { return client.get_input<uint16_t>("drive_status") == 0x4321; }));
    EXPECT_TRUE(eventually([&] { return memories->pdo().shm_buf_out[0] == 6; }));
}

// Requests queued before a loss get no reply: the count of replies still
// expected starts again from 0 once the connection is open again.
TEST_F(Master_Mode, RepliesExpectedBeforeALossAreNotAskedForAfterIt)
{
    std::vector<Master_Step> steps = hook_start_to_op();
    steps.push_back({"push_sdo_into_queue 1001 24639 0 75 2 0 0\n", "reply_ok"});
    steps.push_back({"pop_sdo_from_queue\n", "0", true, 0, true});
    steps.push_back({"get_last_system_error\n", "4 1 0 0"});
    steps.push_back({"go_into_next_state 1\n", "reply_ok"});
    for (Master_Step& step : restart_to_op())
        steps.push_back(step);
    const std::size_t total = steps.size();
    start(false, steps);
    Framework_Shared_Memory_Manager app;
    app.init_with_h_compatibility_check_ex("async", XELO_FRAMEWORK_SHM_MANAGER_VERSION_MAJOR,
                                           XELO_FRAMEWORK_SHM_MANAGER_VERSION_MINOR);
    app.refresh_async_input_ex(app.get_async_input_id_ex("error_code"));
    ASSERT_TRUE(eventually([&] { return master->served() >= 10; }, seconds(5))) << rtframe->log();
    ticker->pause();
    ASSERT_TRUE(rtframe->wait_for_log("Try to restart.. ", seconds(5))) << rtframe->log();
    ticker->resume();
    ASSERT_TRUE(eventually([&] { return master->served() == total; }, seconds(10))) << rtframe->log();
    // A few hundred ticks in OP again: no request of the old one.
    Thin_Client client;
    client.take_slot("watcher");
    ASSERT_TRUE(eventually([&] { return online(client); }, seconds(5)));
    for (int k = 0; k < 200; ++k)
        ASSERT_TRUE(client.wait_wakeup(milliseconds(500)));
}
