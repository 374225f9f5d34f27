// The robot-state record and the client's parser table, filled from the
// simulated controller's packages.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <future>
#include <memory>

#include "robot_sim.h"
#include "rtde.h"
#include "rtde_port.h"
#include "thrown_text.h"

namespace {
using namespace std::chrono_literals;
using rtde_client::RobotState;
using rtde_client::RTDE;

enum class Kind { D, I, U, L };  // double, int32, uint32, uint64 elements

struct Field {
    std::string name;
    Kind kind;
    std::size_t count;
    std::function<std::vector<double>(const RobotState&)> get;
};

template <typename T>
std::vector<double> as_doubles(const T& value)
{
    if constexpr (std::is_arithmetic_v<T>)
        return {static_cast<double>(value)};
    else
        return std::vector<double>(value.begin(), value.end());
}

#define FIELD(name, kind, count, Getter)                                                         \
    Field                                                                                        \
    {                                                                                            \
        name, Kind::kind, count, [](const RobotState& s) { return as_doubles(s.get##Getter()); } \
    }
#define REGISTERS(n)                                                 \
    FIELD("output_int_register_" #n, I, 1, Output_int_register_##n), \
        FIELD("output_double_register_" #n, D, 1, Output_double_register_##n)

// Every name of the parser table and the getter of the field it feeds.
const std::vector<Field> FIELDS = {
    FIELD("timestamp", D, 1, Timestamp),
    FIELD("target_q", D, 6, Target_q),
    FIELD("target_qd", D, 6, Target_qd),
    FIELD("target_qdd", D, 6, Target_qdd),
    FIELD("target_current", D, 6, Target_current),
    FIELD("target_moment", D, 6, Target_moment),
    FIELD("actual_q", D, 6, Actual_q),
    FIELD("actual_qd", D, 6, Actual_qd),
    FIELD("actual_current", D, 6, Actual_current),
    FIELD("joint_control_output", D, 6, Joint_control_output),
    FIELD("actual_TCP_pose", D, 6, Actual_TCP_pose),
    FIELD("actual_TCP_speed", D, 6, Actual_TCP_speed),
    FIELD("actual_TCP_force", D, 6, Actual_TCP_force),
    FIELD("target_TCP_pose", D, 6, Target_TCP_pose),
    FIELD("target_TCP_speed", D, 6, Target_TCP_speed),
    FIELD("actual_digital_input_bits", L, 1, Actual_digital_input_bits),
    FIELD("joint_temperatures", D, 6, Joint_temperatures),
    FIELD("actual_execution_time", D, 1, Actual_execution_time),
    FIELD("robot_mode", I, 1, Robot_mode),
    FIELD("robot_status_bits", U, 1, Robot_status),
    FIELD("safety_status_bits", U, 1, Safety_status_bits),
    FIELD("joint_mode", I, 6, Joint_mode),
    FIELD("safety_mode", I, 1, Safety_mode),
    FIELD("actual_tool_accelerometer", D, 3, Actual_tool_accelerometer),
    FIELD("speed_scaling", D, 1, Speed_scaling),
    FIELD("target_speed_fraction", D, 1, Target_speed_fraction),
    FIELD("actual_momentum", D, 1, Actual_momentum),
    FIELD("actual_main_voltage", D, 1, Actual_main_voltage),
    FIELD("actual_robot_voltage", D, 1, Actual_robot_voltage),
    FIELD("actual_robot_current", D, 1, Actual_robot_current),
    FIELD("actual_joint_voltage", D, 6, Actual_joint_voltage),
    FIELD("actual_digital_output_bits", L, 1, Actual_digital_output_bits),
    FIELD("runtime_state", U, 1, Runtime_state),
    FIELD("standard_analog_input0", D, 1, Standard_analog_input_0),
    FIELD("standard_analog_input1", D, 1, Standard_analog_input_1),
    FIELD("standard_analog_output0", D, 1, Standard_analog_output_0),
    FIELD("standard_analog_output1", D, 1, Standard_analog_output_1),
    REGISTERS(0),
    REGISTERS(1),
    REGISTERS(2),
    REGISTERS(3),
    REGISTERS(4),
    REGISTERS(5),
    REGISTERS(6),
    REGISTERS(7),
    REGISTERS(8),
    REGISTERS(9),
    REGISTERS(10),
    REGISTERS(11),
    REGISTERS(12),
    REGISTERS(13),
    REGISTERS(14),
    REGISTERS(15),
    REGISTERS(16),
    REGISTERS(17),
    REGISTERS(18),
    REGISTERS(19),
    REGISTERS(20),
    REGISTERS(21),
    REGISTERS(22),
    REGISTERS(23),
    REGISTERS(24),
    REGISTERS(25),
    REGISTERS(26),
    REGISTERS(27),
    REGISTERS(28),
    REGISTERS(29),
    REGISTERS(30),
    REGISTERS(31),
    REGISTERS(32),
    REGISTERS(33),
    REGISTERS(34),
    REGISTERS(35),
    REGISTERS(36),
    REGISTERS(37),
    REGISTERS(38),
    REGISTERS(39),
    REGISTERS(40),
    REGISTERS(41),
    REGISTERS(42),
    REGISTERS(43),
    REGISTERS(44),
    REGISTERS(45),
    REGISTERS(46),
    REGISTERS(47),
};

// A value of its own for every element of every field.
std::vector<double> value_of(const Field& field, std::size_t index)
{
    std::vector<double> values;
    for (std::size_t k = 0; k < field.count; ++k) {
        const double i = static_cast<double>(index), e = static_cast<double>(k);
        switch (field.kind) {
        case Kind::D: values.push_back(i + 0.25 + e * 0.5); break;
        case Kind::I: values.push_back(-(i + 1) * 10 - e); break;
        case Kind::U: values.push_back(2147483648.0 + i); break;
        case Kind::L: values.push_back(1099511627776.0 + i); break;
        }
    }
    return values;
}

std::string set_command(const Field& field, std::size_t index)
{
    std::string command = "set " + field.name;
    char text[40];
    for (double v : value_of(field, index)) {
        std::snprintf(text, sizeof(text), " %.17g", v);
        command += text;
    }
    return command;
}

TEST(Robot_State, RecipesCoveringEveryNameFillEveryField)
{
    ASSERT_EQ(FIELDS.size(), 133u);
    robot_sim::Config config;
    config.port = 0;
    robot_sim::Robot_Controller_Sim sim(config);
    for (std::size_t i = 0; i < FIELDS.size(); ++i)
        ASSERT_EQ(sim.command(set_command(FIELDS[i], i)), "OK") << FIELDS[i].name;

    RTDE client("127.0.0.1", sim.port(), false);
    client.connect();
    ASSERT_TRUE(client.negotiateProtocolVersion());
    auto state = std::make_shared<RobotState>();
    // Recipes of at most 2048 bytes of names, one package each.
    std::size_t next = 0;
    int recipes = 0;
    while (next < FIELDS.size()) {
        std::vector<std::string> names;
        std::size_t bytes = 0;
        while (next < FIELDS.size() && bytes + FIELDS[next].name.size() + 1 <= 2048) {
            bytes += FIELDS[next].name.size() + 1;
            names.push_back(FIELDS[next++].name);
        }
        ASSERT_TRUE(client.sendOutputSetup(names, 500));
        client.sendStart();
        ASSERT_TRUE(client.isStarted());
        const std::vector<uint8_t> payload = client.receiveData();
        client.sendPause();
        uint32_t offset = 1;
        state->lockUpdateStateMutex();
        for (const std::string& name : names)
            client.getCallbacks().at(name)(state, payload, offset);
        state->unlockUpdateStateMutex();
        EXPECT_EQ(offset, payload.size());
        ++recipes;
    }
    EXPECT_GT(recipes, 1);
    for (std::size_t i = 0; i < FIELDS.size(); ++i)
        EXPECT_EQ(FIELDS[i].get(*state), value_of(FIELDS[i], i)) << FIELDS[i].name;
}

TEST(Robot_State, ParserTableHasOneEntryPerNameAndNoneForTheBitRegisters)
{
    RTDE client("127.0.0.1", rtde_client::RTDE_PORT, false);
    const auto& table = client.getCallbacks();
    EXPECT_EQ(table.size(), 133u);
    for (const Field& field : FIELDS)
        EXPECT_EQ(table.count(field.name), 1u) << field.name;
    EXPECT_EQ(table.count("output_bit_registers0_to_31"), 0u);
    EXPECT_EQ(table.count("output_bit_registers32_to_63"), 0u);
}

TEST(Robot_State, EntriesReadTheirWidthAndRefuseShortPayloads)
{
    RTDE client("127.0.0.1", rtde_client::RTDE_PORT, false);
    const struct {
        const char* name;
        uint32_t width;
    } cases[] = {{"joint_mode", 24},   {"actual_tool_accelerometer", 24}, {"target_q", 48}, {"timestamp", 8},
                 {"runtime_state", 4}, {"actual_digital_input_bits", 8}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto state = std::make_shared<RobotState>();
        const auto& parse = client.getCallbacks().at(c.name);
        uint32_t offset = 2;
        parse(state, std::vector<uint8_t>(2 + c.width + 5, 0), offset);
        EXPECT_EQ(offset, 2 + c.width);
        offset = 2;
        EXPECT_NE(thrown_text([&] { parse(state, std::vector<uint8_t>(2 + c.width - 1, 0), offset); }),
                  "<nothing thrown>");
        EXPECT_EQ(offset, 2u);
    }
}

TEST(Robot_State, GetterWaitsWhileAWriterHoldsTheLock)
{
    RobotState state;
    EXPECT_TRUE(state.getTarget_q().empty());
    EXPECT_EQ(state.getRuntime_state(), 0u);
    ASSERT_TRUE(state.lockUpdateStateMutex());
    auto reader = std::async(std::launch::async, [&] { return state.getTarget_q(); });
    EXPECT_EQ(reader.wait_for(200ms), std::future_status::timeout);
    state.setTarget_q({1, 2, 3, 4, 5, 6});
    ASSERT_TRUE(state.unlockUpdateStateMutex());
    EXPECT_EQ(reader.get(), (std::vector<double>{1, 2, 3, 4, 5, 6}));
}

}  // namespace
