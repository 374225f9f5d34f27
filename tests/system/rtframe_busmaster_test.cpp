// rtframe with busmaster on the simulated demo cell (a veth pair in the
// test's namespace): the master-manager thread brings the bus to OP, a
// framework client's output reaches the simulated slave and the slave's
// inputs come back into the framework's input image; asynchronous variables
// read and write the drive's objects through the master's SDO queue; a
// master whose cycle stops is brought back to OP.
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <fstream>
#include <iostream>
#include <memory>
#include <string>

#include "child_process.h"
#include "cia402_enable_steps.h"
#include "eventually.h"
#include "rtframe_child.h"
#include "segment_config.h"
#include "simulated_segment.h"
#include "thin_client.h"
#include "thrown_text.h"
#include "veth_harness.h"
#include "xelo_ethercat_system_types.h"
#include "xelo_framework_shm_manager.h"

namespace {
using namespace std::chrono_literals;

const std::string DIR = "/tmp/cell";
const std::string CONFIG = "/tmp/ecm_system_cfg.xml";
// The demo cell as its ENI describes it: the I/O module without a clock.
const char* const DEMO_CELL = "slave dio device=dio dc=0\nslave drive device=cia402 profile=infranor\n";

bool contains(const std::string& haystack, const std::string& text)
{
    return haystack.find(text) != std::string::npos;
}

// The segment, busmaster in soft real-time mode on its master end, and
// rtframe with the demo cell's descriptor.
class Rtframe_With_Busmaster : public ::testing::Test {
protected:
    Rtframe_With_Busmaster() : m_segment(ecat_sim::parse_segment_config(DEMO_CELL), simulated_segment_options()) {}

    void start(bool single_connection)
    {
        std::ofstream(CONFIG) << "<EcmSystem><SystemConfig><Cfg><EtherCATNetInterface>" << m_segment.master_interface()
                              << "</EtherCATNetInterface><EtheCATUserSocketIpAddr>127.0.0.1</"
                                 "EtheCATUserSocketIpAddr><EtheCATUserSocketPort>500</EtheCATUserSocketPort></Cfg></"
                                 "SystemConfig></EcmSystem>\n";
        mkdir_cell();
        write_file(DIR + "/cell_eni.xml", read_file(DEFAULT_MAPPING_ENI));
        std::string descriptor = read_file(SYSTEM_TEST_DIR "/demo_cell_descriptor.xml");
        for (std::size_t at = descriptor.find("@DIR@"); at != std::string::npos; at = descriptor.find("@DIR@"))
            descriptor.replace(at, 5, DIR);
        write_file(DIR + "/demo_cell_descriptor.xml", descriptor);

        m_master = std::make_unique<Child_Process>(BUSMASTER_BINARY, std::vector<std::string>{"-c", CONFIG, "-s", "5"},
                                                   "/tmp/busmaster.log");
        m_master->wait_ready_ex(probe::udp_port(ecm_protocol::PORT), 10s);
        std::vector<std::string> arguments = {"-c", DIR + "/demo_cell_descriptor.xml"};
        if (single_connection)
            arguments.insert(arguments.begin(), "-s");
        m_rtframe = std::make_unique<Rtframe_Child>(arguments);
        ASSERT_TRUE(m_rtframe->wait_until_ready(60s)) << m_rtframe->log() << m_master->log();
    }
    void TearDown() override
    {
        if (m_rtframe) {
            EXPECT_EQ(m_rtframe->stop(), 0) << m_rtframe->log();
        }
        if (m_master) {
            EXPECT_EQ(m_master->stop(), 128 + SIGTERM) << m_master->log();
        }
    }
    static void mkdir_cell() { std::system(("mkdir -p " + DIR).c_str()); }
    std::string sim(const std::string& command) { return m_segment.simulator().execute(command); }
    std::string logs() const { return m_rtframe->log() + "\n---- busmaster ----\n" + m_master->log(); }
    static bool online(const Thin_Client& client)
    {
        return client.get_input<uint8_t>("is_ethercat_master_online") == 1;
    }

    ecat_sim::Veth_Segment m_segment;
    std::unique_ptr<Child_Process> m_master;
    std::unique_ptr<Rtframe_Child> m_rtframe;
};
}  // namespace

// Not single-connection: should the bus of this loaded machine drop out of
// OP meanwhile, rtframe brings it back and the checks wait for that.
TEST_F(Rtframe_With_Busmaster, OutputsReachTheSlaveAndInputsComeBack)
{
    start(false);
    Thin_Client client;
    client.take_slot("demo_client");
    ASSERT_TRUE(eventually([&] { return online(client); }, 20s)) << logs();
    // The request sequence to OP, as busmaster saw it.
    const std::string master_log = m_master->log();
    EXPECT_TRUE(contains(m_rtframe->log(), "XELO_Framework_ex::open_master_comunication_channel ... DONE")) << logs();
    EXPECT_TRUE(contains(master_log, "ECM_Master::set_watchdog_on_ex -> 100")) << master_log;
    EXPECT_TRUE(eventually([&] { return contains(sim("read 0 0x130 2"), "08 00"); }, 20s));
    EXPECT_TRUE(eventually([&] { return contains(sim("read 1 0x130 2"), "08 00"); }, 20s));
    EXPECT_TRUE(eventually([&] { return client.get_input_text("last_ethercat_master_error_msg") == "no error"; }, 20s));

    // A client's output on the I/O module's outputs.
    client.take_output("dio_out");
    client.set_output<uint8_t>("dio_out", 0xA5);
    EXPECT_TRUE(eventually([&] { return sim("read 0 0x0f00 1") == "OK A5"; }, 20s)) << sim("read 0 0x0f00 1");
    // The module's inputs in the framework's input image.
    ASSERT_TRUE(contains(sim("set 0 0x6000 3 1"), "OK"));
    EXPECT_TRUE(eventually([&] { return client.get_input<uint8_t>("dio_in") == 0x04; }, 20s));
    // The drive's status word comes in; a control word goes out to it.
    EXPECT_TRUE(eventually([&] { return (client.get_input<uint16_t>("drive_status") & 0x0040) != 0; }, 20s))
        << client.get_input<uint16_t>("drive_status");
    client.take_output("drive_control");
    client.set_output<uint16_t>("drive_control", 0x0006);  // shutdown: ready to switch on
    EXPECT_TRUE(eventually([&] { return (client.get_input<uint16_t>("drive_status") & 0x006F) == 0x0021; }, 20s))
        << client.get_input<uint16_t>("drive_status");
    // Woken every tick.
    client.discard_pending_wakeup();
    for (int k = 0; k < 100; ++k)
        ASSERT_TRUE(client.wait_wakeup(500ms));
}

TEST_F(Rtframe_With_Busmaster, AStoppedCycleIsBroughtBackToOp)
{
    start(false);
    Thin_Client client;
    client.take_slot("watcher");
    ASSERT_TRUE(eventually([&] { return online(client); }, 20s)) << logs();
    // Lost frames stop the master's cycle after its fault limit. A loaded
    // machine can make rtframe restart the bus on its own first (a late
    // tick); the frames are then dropped again once it is back online.
    const std::string stopped = "[framework] [run_ex] master tick lost = -1";
    bool stopped_by_drops = false;
    for (int attempt = 0; attempt < 3 && !stopped_by_drops; ++attempt) {
        ASSERT_TRUE(eventually([&] { return online(client); }, 30s)) << logs();
        sim("drop 30");
        stopped_by_drops = m_rtframe->wait_for_log(stopped, 10s);
    }
    ASSERT_TRUE(stopped_by_drops) << logs();
    EXPECT_TRUE(m_rtframe->wait_for_log("Try to restart.. ", 10s)) << logs();
    EXPECT_TRUE(eventually([&] { return !online(client); }, 5s));
    // Back in OP, the data moves again.
    ASSERT_TRUE(eventually([&] { return online(client); }, 30s)) << logs();
    EXPECT_TRUE(m_rtframe->wait_for_log("XELO_Framework_ex::open_master_comunication_channel ... DONE", 1s, 2));
    client.take_output("dio_out");
    client.set_output<uint8_t>("dio_out", 0x3C);
    EXPECT_TRUE(eventually([&] { return sim("read 0 0x0f00 1") == "OK 3C"; }, 5s)) << sim("read 0 0x0f00 1");
}

TEST_F(Rtframe_With_Busmaster, AsynchronousVariablesReadAndWriteTheDrivesObjects)
{
    start(false);
    Thin_Client watcher;
    watcher.take_slot("watcher");
    ASSERT_TRUE(eventually([&] { return online(watcher); }, 20s)) << logs();
    Framework_Shared_Memory_Manager app;
    app.init_with_h_compatibility_check_ex("async", XELO_FRAMEWORK_SHM_MANAGER_VERSION_MAJOR,
                                           XELO_FRAMEWORK_SHM_MANAGER_VERSION_MINOR);
    const int window = app.get_async_input_id_ex("following_error_window");
    const int vendor = app.get_async_input_id_ex("vendor_id");
    const int time_out = app.get_async_input_id_ex("following_error_time_out");
    const int window_set = app.get_async_output_id_ex("following_error_window_set");

    // Polls a request once per cycle until it is done. Should the bus of this
    // loaded machine drop out of OP meanwhile (a late tick makes rtframe
    // restart it), the poll answers at once with the master offline, or the
    // master refuses pushes (an error without an abort code) while it holds
    // the error of that. The request is then made again once the bus is back.
    const auto complete = [&](auto request, auto done, auto error_code) {
        for (int attempt = 0; attempt < 10; ++attempt) {
            ASSERT_TRUE(eventually([&] { return online(watcher); }, 30s)) << logs();
            // The polls read the master's state from the application's own
            // copy of the inputs: bring it up to date first.
            ASSERT_GE(app.refresh_data_ex(nullptr), 0);
            request();
            uint8_t master_online = 0;
            const std::string failure = thrown_text([&] {
                while (done(&master_online) == 0)
                    ASSERT_GE(app.refresh_data_ex(nullptr), 0);
            });
            if (failure != "<nothing thrown>" && error_code() == 0) {
                std::cout << "request refused (attempt " << attempt << "): " << failure << std::endl;
                // rtframe restarts the master after a refused push: wait for
                // that to begin (it need not).
                (void)eventually([&] { return !online(watcher); }, 5s);
                continue;
            }
            ASSERT_EQ(failure, "<nothing thrown>") << logs();
            if (master_online != 0)
                return;
        }
        FAIL() << "the master never stayed online for one request\n" << logs();
    };
    const auto read = [&](int id) {
        complete([&] { app.refresh_async_input_ex(id); },
                 [&](uint8_t* master_online) { return app.is_async_input_refresh_ex(id, master_online); },
                 [&] { return app.get_async_input_refresh_error_ex(id); });
        EXPECT_EQ(app.get_async_input_refresh_error_ex(id), 0u) << id;
    };

    // A write reaches the drive's dictionary and a read brings it back.
    complete([&] { app.set_async_output_ex<unsigned int>(window_set, 123456u); },
             [&](uint8_t* master_online) { return app.is_async_output_set_ex(window_set, master_online); },
             [&] { return app.get_async_output_set_error_ex(window_set); });
    EXPECT_EQ(app.get_async_output_set_error_ex(window_set), 0u);
    const std::string in_drive = sim("get 1 0x6065 0");
    EXPECT_EQ(in_drive.substr(in_drive.rfind(' ') + 1), "123456") << in_drive;
    read(window);
    EXPECT_EQ(app.get_async_input_ex<unsigned int>(window), 123456u);
    // A value changed in the drive comes in; reads of other sizes and objects.
    ASSERT_EQ(sim("set 1 0x6065 0 777").substr(0, 2), "OK");
    ASSERT_EQ(sim("set 1 0x6066 0 4660").substr(0, 2), "OK");
    read(window);
    read(vendor);
    read(time_out);
    EXPECT_EQ(app.get_async_input_ex<unsigned int>(window), 777u);
    EXPECT_EQ(app.get_async_input_ex<unsigned int>(vendor), 130u);
    EXPECT_EQ(app.get_async_input_ex<unsigned short>(time_out), 4660);

    // An aborted read reaches the variable as an error with its abort code.
    ASSERT_EQ(sim("sdo_abort 1 0x6066 * 0x06010002").substr(0, 2), "OK");
    std::string failure = "<nothing thrown>";
    for (int attempt = 0; attempt < 10; ++attempt) {
        ASSERT_TRUE(eventually([&] { return online(watcher); }, 30s)) << logs();
        ASSERT_GE(app.refresh_data_ex(nullptr), 0);
        app.refresh_async_input_ex(time_out);
        uint8_t master_online = 0;
        failure = thrown_text([&] {
            while (app.is_async_input_refresh_ex(time_out, &master_online) == 0)
                ASSERT_GE(app.refresh_data_ex(nullptr), 0);
        });
        if (failure != "<nothing thrown>" ? app.get_async_input_refresh_error_ex(time_out) != 0 : master_online != 0)
            break;
        std::cout << "aborted read not served (attempt " << attempt << "): " << failure << std::endl;
        (void)eventually([&] { return !online(watcher); }, 5s);
    }
    EXPECT_NE(failure, "<nothing thrown>");
    EXPECT_EQ(app.get_async_input_refresh_error_ex(time_out), 0x06010002u) << failure << "\n" << logs();
    // The queue goes on serving.
    ASSERT_EQ(sim("sdo_abort_clear 1").substr(0, 2), "OK");
    read(time_out);
    EXPECT_EQ(app.get_async_input_ex<unsigned short>(time_out), 4660);
}

// rtframe killed while a client holds the drive in operation enabled: the
// master's watchdog ends the cycle and takes the slaves to INIT, and the
// drive performs its communication-loss reaction: standing, in Fault.
TEST_F(Rtframe_With_Busmaster, AKilledRtframeLeavesTheDriveStandingDisabled)
{
    start(false);
    Thin_Client client;
    client.take_slot("drive_client");
    ASSERT_TRUE(eventually([&] { return online(client); }, 20s)) << logs();
    client.take_output("drive_control");
    for (const Cia402_Enable_Step& step : cia402_enable_steps_without_switch_on()) {
        client.set_output<uint16_t>("drive_control", step.control);
        ASSERT_TRUE(
            eventually([&] { return (client.get_input<uint16_t>("drive_status") & step.mask) == step.status; }, 20s))
            << step.control << ": " << client.get_input<uint16_t>("drive_status");
    }

    ASSERT_EQ(kill(m_rtframe->pid(), SIGKILL), 0);
    EXPECT_EQ(m_rtframe->wait_exit(), 128 + SIGKILL);
    m_rtframe.reset();
    const auto status = [&] {
        const std::string reply = sim("get 1 0x6041 0");
        return std::stoi(reply.substr(reply.rfind(' ') + 1));
    };
    EXPECT_TRUE(eventually([&] { return (status() & 0x4F) == 0x08; }, 20s)) << status() << "\n" << m_master->log();
    EXPECT_EQ(sim("get 1 0x606C 0"), "OK 0");
    EXPECT_TRUE(contains(sim("read 1 0x130 2"), "01 00")) << sim("read 1 0x130 2");
}
