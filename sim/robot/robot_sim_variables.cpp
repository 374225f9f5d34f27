#include "robot_sim_variables.h"

#include <unordered_map>

namespace robot_sim {

namespace {
std::vector<Variable> build()
{
    std::vector<Variable> table;
    auto out = [&](Value_Type type, std::initializer_list<const char*> names) {
        for (const char* name : names)
            table.push_back({name, type, true});
    };
    auto in = [&](Value_Type type, std::initializer_list<const char*> names) {
        for (const char* name : names)
            table.push_back({name, type, false});
    };
    out(Value_Type::DOUBLE,
        {"timestamp", "actual_execution_time", "speed_scaling", "target_speed_fraction", "actual_momentum",
         "actual_main_voltage", "actual_robot_voltage", "actual_robot_current", "standard_analog_input0",
         "standard_analog_input1", "standard_analog_output0", "standard_analog_output1"});
    out(Value_Type::VECTOR6D,
        {"target_q", "target_qd", "target_qdd", "target_current", "target_moment", "actual_q", "actual_qd",
         "actual_current", "joint_control_output", "actual_TCP_pose", "actual_TCP_speed", "actual_TCP_force",
         "target_TCP_pose", "target_TCP_speed", "joint_temperatures", "actual_joint_voltage"});
    out(Value_Type::UINT64, {"actual_digital_input_bits", "actual_digital_output_bits"});
    out(Value_Type::INT32, {"robot_mode", "safety_mode"});
    out(Value_Type::UINT32, {"runtime_state", "robot_status_bits", "safety_status_bits", "output_bit_registers0_to_31",
                             "output_bit_registers32_to_63"});
    out(Value_Type::VECTOR6INT32, {"joint_mode"});
    out(Value_Type::VECTOR3D, {"actual_tool_accelerometer"});
    for (int i = 0; i < 48; ++i)
        table.push_back({"output_int_register_" + std::to_string(i), Value_Type::INT32, true});
    for (int i = 0; i < 48; ++i)
        table.push_back({"output_double_register_" + std::to_string(i), Value_Type::DOUBLE, true});

    in(Value_Type::UINT32, {"speed_slider_mask", "input_bit_registers0_to_31", "input_bit_registers32_to_63"});
    in(Value_Type::DOUBLE, {"speed_slider_fraction", "standard_analog_output_0", "standard_analog_output_1"});
    in(Value_Type::UINT8,
       {"standard_digital_output_mask", "standard_digital_output", "configurable_digital_output_mask",
        "configurable_digital_output", "standard_analog_output_mask", "standard_analog_output_type"});
    for (int i = 0; i < 48; ++i)
        table.push_back({"input_int_register_" + std::to_string(i), Value_Type::INT32, false});
    for (int i = 0; i < 48; ++i)
        table.push_back({"input_double_register_" + std::to_string(i), Value_Type::DOUBLE, false});
    return table;
}
}  // namespace

const std::vector<Variable>& all_variables()
{
    static const std::vector<Variable> table = build();
    return table;
}

const Variable* find_variable(const std::string& name)
{
    static const std::unordered_map<std::string, const Variable*> index = [] {
        std::unordered_map<std::string, const Variable*> map;
        for (const Variable& variable : all_variables())
            map[variable.name] = &variable;
        return map;
    }();
    const auto it = index.find(name);
    return it == index.end() ? nullptr : it->second;
}

const char* type_name(Value_Type type)
{
    switch (type) {
    case Value_Type::BOOL: return "BOOL";
    case Value_Type::UINT8: return "UINT8";
    case Value_Type::UINT32: return "UINT32";
    case Value_Type::INT32: return "INT32";
    case Value_Type::UINT64: return "UINT64";
    case Value_Type::DOUBLE: return "DOUBLE";
    case Value_Type::VECTOR3D: return "VECTOR3D";
    case Value_Type::VECTOR6D: return "VECTOR6D";
    case Value_Type::VECTOR6INT32: return "VECTOR6INT32";
    }
    return "?";
}

std::size_t element_count(Value_Type type)
{
    switch (type) {
    case Value_Type::VECTOR3D: return 3;
    case Value_Type::VECTOR6D:
    case Value_Type::VECTOR6INT32: return 6;
    default: return 1;
    }
}

std::size_t byte_width(Value_Type type)
{
    switch (type) {
    case Value_Type::BOOL:
    case Value_Type::UINT8: return 1;
    case Value_Type::UINT32:
    case Value_Type::INT32: return 4;
    case Value_Type::UINT64:
    case Value_Type::DOUBLE: return 8;
    case Value_Type::VECTOR3D:
    case Value_Type::VECTOR6INT32: return 24;
    case Value_Type::VECTOR6D: return 48;
    }
    return 0;
}

}  // namespace robot_sim
