// The robotsim program: command line, start-up failures and stopping.
#include <gtest/gtest.h>

#include <chrono>

#include "robot_sim.h"
#include "robotsim_child.h"
#include "thrown_text.h"

namespace {
using namespace std::chrono_literals;

struct Refused_Line {
    const char* name;
    std::vector<std::string> arguments;
    const char* complaint;
};

TEST(Robotsim, RefusesBadCommandLinesWithStatus2)
{
    const Refused_Line cases[] = {
        {"unknown option", {"--bogus"}, "usage:"},
        {"bad controller version", {"--controller-version", "1.2"}, "bad controller version 1.2"},
        {"port out of range", {"--port", "70000"}, "bad port 70000"},
        {"stray argument", {"extra"}, "unexpected argument extra"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Robotsim_Child sim(30004, 30005, c.arguments);
        EXPECT_EQ(sim.wait_exit(), 2);
        EXPECT_NE(sim.log().find(c.complaint), std::string::npos) << sim.log();
    }
}

TEST(Robotsim, PrintsOneReadyLineAndStopsWithStatus0)
{
    Robotsim_Child sim(30004, 30005);
    sim.wait_ready_ex();
    EXPECT_NE(sim.log().find("INF] [robotsim] ready: RTDE on 127.0.0.1:30004, control on 127.0.0.1:30005\n"),
              std::string::npos)
        << sim.log();
    EXPECT_EQ(sim.control("clients"), "OK 0");
    EXPECT_EQ(sim.stop(), 0);
}

TEST(Robotsim, PortInUseEndsWithStatus1AndAnErrLine)
{
    Robotsim_Child first(30004, 30005);
    first.wait_ready_ex();
    Robotsim_Child second(30004, 30006, {}, "/tmp/robotsim_second.log");
    EXPECT_EQ(second.wait_exit(), 1);
    EXPECT_NE(second.log().find("ERR] [robotsim] [Robot_Controller_Sim][Robot_Controller_Sim] bind 127.0.0.1:30004: "
                                "Address already in use"),
              std::string::npos)
        << second.log();
    EXPECT_EQ(first.stop(), 0);
}

TEST(Robot_Controller_Sim, AnyFreePortAndNoControlSocket)
{
    robot_sim::Config config;
    config.port = 0;
    robot_sim::Robot_Controller_Sim sim(config);
    EXPECT_NE(sim.port(), 0);
    EXPECT_EQ(sim.control_port(), 0);
    EXPECT_EQ(sim.command("count"), "OK 0");
    config.port = sim.port();
    EXPECT_NE(thrown_text([&] { robot_sim::Robot_Controller_Sim again(config); }).find("Address already in use"),
              std::string::npos);
}

}  // namespace
