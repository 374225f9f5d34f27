// The RTDE client against the simulated controller in this process.
#include <dirent.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <thread>

#include "eventually.h"
#include "robot_sim.h"
#include "rtde.h"
#include "thrown_text.h"

namespace {
using namespace std::chrono_literals;
using rtde_client::RTDE;
using rtde_client::RTDEUtility;

const std::vector<std::string> THREE{"runtime_state", "safety_status_bits", "robot_status_bits"};

int open_descriptors()
{
    int count = 0;
    if (DIR* dir = opendir("/proc/self/fd")) {
        while (readdir(dir) != nullptr)
            ++count;
        closedir(dir);
    }
    return count;
}

class Client : public ::testing::Test {
protected:
    void SetUp() override { start_sim(); }

    void start_sim()
    {
        robot_sim::Config config;
        config.port = 0;
        if (m_port != 0)
            config.port = m_port;
        m_sim = std::make_unique<robot_sim::Robot_Controller_Sim>(config);
        m_port = m_sim->port();
    }

    void ok(const std::string& command) { ASSERT_EQ(m_sim->command(command), "OK") << command; }

    // Connected, version 2, output recipe of the three follower variables.
    std::unique_ptr<RTDE> streaming_client(double frequency = 500)
    {
        auto client = std::make_unique<RTDE>("127.0.0.1", m_port, false);
        client->connect();
        EXPECT_TRUE(client->negotiateProtocolVersion());
        EXPECT_TRUE(client->sendOutputSetup(THREE, frequency));
        client->sendStart();
        EXPECT_TRUE(client->isStarted());
        return client;
    }

    uint16_t m_port = 0;
    std::unique_ptr<robot_sim::Robot_Controller_Sim> m_sim;
};

TEST_F(Client, RequestsAndStateChanges)
{
    RTDE client("127.0.0.1", m_port, false);
    EXPECT_FALSE(client.isConnected());
    client.connect();
    EXPECT_TRUE(client.isConnected());
    EXPECT_TRUE(client.negotiateProtocolVersion());
    EXPECT_TRUE(client.sendInputSetup({"input_int_register_0"}));
    EXPECT_TRUE(client.sendOutputSetup(THREE, 125));
    EXPECT_EQ(client.getOutputTypes(), (std::vector<std::string>{"UINT32", "UINT32", "UINT32"}));
    EXPECT_EQ(client.getOutputNames(), THREE);
    client.sendStart();
    EXPECT_TRUE(client.isStarted());
    EXPECT_TRUE(client.isConnected());
    const std::vector<uint8_t> payload = client.receiveData();
    EXPECT_EQ(payload.size(), 13u);
    client.sendPause();
    EXPECT_FALSE(client.isStarted());
    EXPECT_FALSE(client.isConnected());  // PAUSED
    client.disconnect();
    EXPECT_FALSE(client.isConnected());
}

TEST_F(Client, RefusedVersionAndStartAreReportedAsRefused)
{
    RTDE client("127.0.0.1", m_port, false);
    client.connect();
    ok("refuse_version on");
    EXPECT_FALSE(client.negotiateProtocolVersion());
    ok("refuse_version off");
    EXPECT_TRUE(client.negotiateProtocolVersion());
    EXPECT_TRUE(client.sendOutputSetup(THREE, 125));
    ok("refuse_start 1");
    testing::internal::CaptureStderr();
    client.sendStart();
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("Unable to start synchronization"), std::string::npos) << err;
    EXPECT_FALSE(client.isStarted());
    client.sendStart();
    EXPECT_TRUE(client.isStarted());
}

TEST_F(Client, UnknownOutputNameRefusesTheRecipeAndKeepsTheTypes)
{
    RTDE client("127.0.0.1", m_port, false);
    client.connect();
    EXPECT_FALSE(client.sendOutputSetup({"runtime_state", "no_such_variable"}, 125));
    EXPECT_EQ(client.getOutputTypes(), (std::vector<std::string>{"UINT32", "NOT_FOUND"}));
    EXPECT_TRUE(client.sendOutputSetup({}, 125));  // the empty recipe is accepted
    EXPECT_TRUE(client.getOutputTypes().empty());
}

TEST_F(Client, ReceiveReadsOnePackageWhileRequestsWaitForTheirReply)
{
    RTDE client("127.0.0.1", m_port, false);
    client.connect();
    EXPECT_TRUE(client.sendOutputSetup(THREE, 125));
    // receive() alone: the text message is one package, the reply the next.
    ok("text_before_reply first");
    client.sendAll(RTDE::RTDE_CONTROL_PACKAGE_START, "");
    client.receive();
    EXPECT_FALSE(client.isStarted());
    client.receive();
    EXPECT_TRUE(client.isStarted());
    // A request reads past text messages and data packages to its reply.
    ok("text_before_reply second");
    ok("text between");
    EXPECT_TRUE(client.sendOutputSetup({"timestamp"}, 500));
    EXPECT_EQ(client.getOutputTypes(), std::vector<std::string>{"DOUBLE"});
    EXPECT_EQ(client.receiveData().size(), 9u);  // the new recipe from the first package on
}

TEST_F(Client, InputInUseThrowsTheControllersText)
{
    RTDE first("127.0.0.1", m_port, false);
    first.connect();
    EXPECT_TRUE(first.sendInputSetup({"input_int_register_0", "input_double_register_3"}));
    RTDE second("127.0.0.1", m_port, false);
    second.connect();
    EXPECT_EQ(thrown_text([&] {
                  second.sendInputSetup({"input_double_register_3"});
              }).rfind("One of the RTDE input registers are already in use!", 0),
              0u);
    EXPECT_TRUE(second.sendInputSetup({"input_int_register_1"}));
    first.disconnect();  // its inputs are free again
    EXPECT_TRUE(eventually([&] { return m_sim->clients() == 1; }));
    EXPECT_TRUE(second.sendInputSetup({"input_double_register_3"}));
}

TEST_F(Client, LossIsReportedOnceAndReadsNoFurther)
{
    for (const char* command : {"close between", "close inside", "send tiny"}) {
        SCOPED_TRACE(command);
        auto client = streaming_client();
        client->receiveData();
        ok("hold");
        ok(command);
        std::string text;
        try {
            for (int i = 0; i < 1000; ++i)  // packages in flight come first
                client->receiveData();
        } catch (const std::runtime_error& e) {
            text = e.what();
        }
        EXPECT_EQ(text.rfind("[RTDE][receive] ", 0), 0u) << text;
        EXPECT_FALSE(client->isConnected());
        EXPECT_EQ(thrown_text([&] { client->receiveData(); }).rfind("[RTDE][receive] ", 0), 0u);
        ok("resume");
    }
}

TEST_F(Client, SendToAClosedPeerIsAnErrorNotASignal)
{
    auto client = streaming_client();
    ok("close between");
    RTDE::RobotCommand command;
    command.type_ = RTDE::RobotCommand::WATCHDOG;
    std::string text;
    EXPECT_TRUE(eventually([&] {
        text = thrown_text([&] { client->send(command); });
        return text != "<nothing thrown>";
    }));
    EXPECT_EQ(text.rfind("[RTDE][sendAll] send: ", 0), 0u) << text;
}

TEST_F(Client, SocketIsClosedOnFailedConnectDisconnectAndReconnect)
{
    // The simulator's end of a connection is closed once it has seen the
    // client go: counts settle.
    const int before = open_descriptors();
    const auto settles_at = [](int count) { return eventually([&] { return open_descriptors() == count; }); };
    {
        RTDE nobody("127.0.0.2", m_port, false);
        for (int i = 0; i < 10; ++i)
            EXPECT_EQ(thrown_text([&] { nobody.connect(); }),
                      "Error: Could not connect to: 127.0.0.2 at " + std::to_string(m_port) + ", verify the IP");
        RTDE bad_address("not.an.address", m_port, false);
        EXPECT_NE(thrown_text([&] { bad_address.connect(); }), "<nothing thrown>");
        EXPECT_EQ(open_descriptors(), before);
        RTDE client("127.0.0.1", m_port, false);
        for (int i = 0; i < 10; ++i)
            client.connect();                 // a connected socket is replaced, not leaked
        EXPECT_TRUE(settles_at(before + 2));  // the client's and the simulator's end
        client.disconnect();
        EXPECT_TRUE(settles_at(before));
        client.connect();
        EXPECT_TRUE(settles_at(before + 2));
    }
    EXPECT_TRUE(settles_at(before));  // the destructor closed the last one
}

TEST_F(Client, StreamRunsAtTheRecipeFrequency)
{
    // The controller's own timestamps are 4 ms apart (a late package is
    // skipped, never sent twice); the arrivals keep the same pace.
    RTDE client("127.0.0.1", m_port, false);
    client.connect();
    ASSERT_TRUE(client.sendOutputSetup({"timestamp"}, 250));
    client.sendStart();
    std::vector<double> stamps;
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < 250; ++i) {
        uint32_t offset = 1;
        stamps.push_back(RTDEUtility::getDouble(client.receiveData(), offset));
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::vector<double> gaps;
    for (std::size_t i = 1; i < stamps.size(); ++i)
        gaps.push_back(stamps[i] - stamps[i - 1]);
    std::nth_element(gaps.begin(), gaps.begin() + static_cast<long>(gaps.size() / 2), gaps.end());
    EXPECT_NEAR(gaps[gaps.size() / 2], 0.004, 0.0002);
    EXPECT_GT(seconds, 0.9);
    EXPECT_LT(seconds, 1.3);
}

// ---- big-endian readers ------------------------------------------------------

TEST(Utility, ReadersDecodeBigEndianAndRefuseShortPayloads)
{
    const std::vector<uint8_t> bytes{0x40, 0x5F, 0x40, 0, 0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFE, 0, 0, 0, 1, 0, 0,
                                     0,    2,    0,    0, 0, 3, 0, 0, 0,    4,    0,    0,    0, 5, 0, 0, 0, 6};
    uint32_t offset = 0;
    EXPECT_EQ(RTDEUtility::getDouble(bytes, offset), 125.0);
    EXPECT_EQ(RTDEUtility::getInt32(bytes, offset), -2);
    offset = 8;
    EXPECT_EQ(RTDEUtility::getUInt32(bytes, offset), 0xFFFFFFFEu);
    offset = 8;
    EXPECT_EQ(RTDEUtility::getUInt64(bytes, offset), 0xFFFFFFFE00000001ull);
    offset = 12;
    EXPECT_EQ(RTDEUtility::unpackVector6Int32(bytes, offset), (std::vector<int32_t>{1, 2, 3, 4, 5, 6}));
    EXPECT_EQ(offset, 36u);

    struct Case {
        const char* name;
        std::function<void(uint32_t&)> read;
        uint32_t width;
    };
    const std::vector<uint8_t> seven(7), twenty_three(23), forty_seven(47);
    const Case cases[] = {
        {"getDouble", [&](uint32_t& o) { RTDEUtility::getDouble(seven, o); }, 8},
        {"getUInt64", [&](uint32_t& o) { RTDEUtility::getUInt64(seven, o); }, 8},
        {"getUInt32", [&](uint32_t& o) { RTDEUtility::getUInt32(seven, o); }, 4},
        {"getInt32", [&](uint32_t& o) { RTDEUtility::getInt32(seven, o); }, 4},
        {"unpackVector3d", [&](uint32_t& o) { RTDEUtility::unpackVector3d(twenty_three, o); }, 24},
        {"unpackVector6Int32", [&](uint32_t& o) { RTDEUtility::unpackVector6Int32(twenty_three, o); }, 24},
        {"unpackVector6d", [&](uint32_t& o) { RTDEUtility::unpackVector6d(forty_seven, o); }, 48},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        uint32_t o = c.width == 4 ? 4 : 0;  // 3 bytes left for the 4-byte readers
        const uint32_t at = o;
        EXPECT_EQ(thrown_text([&] { c.read(o); }).rfind(std::string("[RTDEUtility][") + c.name + "]", 0), 0u);
        EXPECT_EQ(o, at);
    }
}

}  // namespace
