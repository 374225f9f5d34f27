// What each XML-RPC method does. Every method assigns its default, tests its
// guard, runs its body inside a handler for standard exceptions and assigns
// its result last; wrong parameter types leave as faults of the library.
#include <time.h>

#include <chrono>
#include <cmath>
#include <mutex>
#include <sstream>
#include <stdexcept>

#include "axes_manager_interface.h"
#include "cell_status.h"
#include "ethercat_info.h"
#include "program_command_manager.h"
#include "xelo_log.h"
#include "xmlrpc_interface.h"

using XmlRpc::XmlRpcValue;

namespace {
constexpr auto COMPLETION_LIMIT = std::chrono::seconds(10);

// Parameters by position; a missing one or another type is a fault.
int int_param(const XmlRpcValue& params, int i)
{
    return static_cast<int>(params[i]);
}

double double_param(const XmlRpcValue& params, int i)
{
    return static_cast<double>(params[i]);
}

bool bool_param(const XmlRpcValue& params, int i)
{
    return static_cast<bool>(params[i]);
}

template <typename T>
std::string text(const T& value)
{
    std::ostringstream out;
    out << value;
    return out.str();
}

// Runs f under the axes-interface lock.
template <typename F>
auto with_axes(F&& f) -> decltype(f())
{
    std::lock_guard<std::mutex> lock(axes_interface_mutex());
    return f();
}

// An axis command answers 0 only once it was handed to the axes interface:
// before the application runs (status 3), or when the call failed, nothing
// was sent and the answer is a fault, never a success.
template <typename Send>
void axis_command_ex(bool in_op, Axes_Manager_Interface* am, const char* method, XmlRpcValue& result, Send&& send)
{
    result = 0;
    if (!in_op)
        throw XmlRpc::XmlRpcException(std::string(method) + ": not sent, the application does not run (status " +
                                      text(get_ondara_program_status()) + ")");
    std::string not_sent;
    try {
        send();
        not_sent = with_axes([am] { return am->get_last_send_error(); });
    } catch (const std::exception& e) {
        log_err(e.what());
        throw XmlRpc::XmlRpcException(std::string(method) + ": " + e.what());
    }
    if (!not_sent.empty())
        throw XmlRpc::XmlRpcException(std::string(method) + ": not sent, " + not_sent);
}

// Polls the axes interface every 10 ms until it reports the last command
// completed; throws after the limit, and when the manager refused the
// command (a refusal also completes it).
void wait_completion_ex(Axes_Manager_Interface* am, const char* method)
{
    const auto deadline = std::chrono::steady_clock::now() + COMPLETION_LIMIT;
    while (!with_axes([am] { return am->is_last_command_completed(); })) {
        if (std::chrono::steady_clock::now() >= deadline)
            throw std::runtime_error(std::string("[OndaraXmlRpc][") + method + "] :: the axes manager did not " +
                                     "complete the command within 10 s");
        const timespec ten_ms{0, 10000000};
        clock_nanosleep(CLOCK_MONOTONIC, 0, &ten_ms, nullptr);
    }
    if (with_axes([am] { return am->is_last_command_refused(); }))
        throw std::runtime_error(std::string("[OndaraXmlRpc][") + method + "] :: the axes manager refused the command");
}

int8_t homing_method_ex(double method, const char* name)
{
    if (!std::isfinite(method) || std::trunc(method) < -128.0 || std::trunc(method) > 127.0)
        throw XmlRpc::XmlRpcException(std::string(name) + ": homing method " + text(method) +
                                      " is not an integer in -128..127");
    return static_cast<int8_t>(std::trunc(method));
}

// A motion value of the robot program: a NaN or an infinity would reach the
// drive as 0 or as its largest raw value, a negative magnitude as 0. Such a
// call is a fault and commands nothing.
enum class Sign { ANY, NOT_NEGATIVE };

double motion_param(const XmlRpcValue& params, int i, const char* method, const char* name, Sign sign)
{
    const double value = double_param(params, i);
    if (!std::isfinite(value))
        throw XmlRpc::XmlRpcException(std::string(method) + ": " + name + " " + text(value) + " is not finite");
    if (sign == Sign::NOT_NEGATIVE && value < 0.0)
        throw XmlRpc::XmlRpcException(std::string(method) + ": " + name + " " + text(value) + " is negative");
    return value;
}

// A method that takes no parameters is a fault when called with some: a
// reset, a quick stop or a detorque of every axis is never sent for a call
// that meant something else.
void no_params(const XmlRpcValue& params, const char* method)
{
    if (params.valid() && params.getType() == XmlRpcValue::TypeArray && params.size() > 0)
        throw XmlRpc::XmlRpcException(std::string(method) + ": takes no parameters (" + text(params.size()) +
                                      " given)");
}

// The axis of a command, checked before anything is sent: a direct command
// on an axis outside the bus would send nothing and answer as if it had; a
// program command runs on the RTDE thread, where an unknown axis would end
// the reading of the robot's packages. The number of axes is known once the
// axes interface is set up; before, the RTDE thread does not run and no
// package takes a command.
int axis_param(const XmlRpcValue& params, Axes_Manager_Interface* am, const char* method)
{
    const int axis = int_param(params, 0);
    if (axis < 0)
        throw XmlRpc::XmlRpcException(std::string(method) + ": axis " + text(axis) + " is negative");
    if (am != nullptr) {
        const int axes = with_axes([am] { return am->axes_count_ex(); });
        if ((axes > 0 || get_ondara_program_status() == OP_MODE) && axis >= axes)
            throw XmlRpc::XmlRpcException(std::string(method) + ": axis " + text(axis) + " out of range (" +
                                          text(axes) + " axes)");
    }
    return axis;
}

// The program methods: an exception from the manager is answered as a fault.
int new_command_ex(Program_Command_Manager* manager, const Program_Commands_Params& params)
{
    if (manager == nullptr)
        throw XmlRpc::XmlRpcException("no program command manager");
    try {
        return manager->new_command(params);
    } catch (const std::exception& e) {
        log_err(e.what());
        throw XmlRpc::XmlRpcException(e.what());
    }
}
}  // namespace

XmlRpcWrapper::XmlRpcWrapper(const std::string& name, Axes_Manager_Interface* am_iface, XmlRpc::XmlRpcServer* server,
                             Program_Command_Manager* manager, Ethercat_Info* info)
    : XmlRpc::XmlRpcServerMethod(name, server), m_am_iface(am_iface), cmd_manager(manager), eth_info(info)
{
}

bool XmlRpcWrapper::guard_op() const
{
    return get_ondara_program_status() == OP_MODE && m_am_iface != nullptr;
}

bool XmlRpcWrapper::guard_bus() const
{
    return get_ondara_program_status() > UNINITIALIZED && eth_info != nullptr;
}

// Fixed answers.
#define CELL_FIXED_ANSWER(Class, value)                               \
    void Class::execute(XmlRpcValue& /*params*/, XmlRpcValue& result) \
    {                                                                 \
        result = value;                                               \
    }
CELL_FIXED_ANSWER(GetCommissioningScalingParam, 1)
CELL_FIXED_ANSWER(GetPosScalingNum, 1)
CELL_FIXED_ANSWER(GetVelScalingDenom, 1)
CELL_FIXED_ANSWER(GetVelScalingNum, 1)
CELL_FIXED_ANSWER(GetAccScalingDenom, 1)
CELL_FIXED_ANSWER(GetAccScalingNum, 1)
CELL_FIXED_ANSWER(GetDigitalInputsOutputs, 1)
CELL_FIXED_ANSWER(MoveToPosLimitSwitch, 0)
CELL_FIXED_ANSWER(MoveToNegLimitSwitch, 0)
CELL_FIXED_ANSWER(ReadLastWarning, 0)
CELL_FIXED_ANSWER(SendHaltRequest, 0)
CELL_FIXED_ANSWER(ActivateDebugMode, 0)
CELL_FIXED_ANSWER(GetPositiveLimitSwitchDetected, 0)
CELL_FIXED_ANSWER(GetNegativeLimitSwitchDetected, 0)
#undef CELL_FIXED_ANSWER

// Version, identifier, status and stop.
void GetVersionNumber::execute(XmlRpcValue& /*params*/, XmlRpcValue& result)
{
    try {
        result = std::to_string(4) + "." + std::to_string(1) + "." + std::to_string(0);
    } catch (const std::exception& e) {
        log_err(e.what());
        result = std::string();
    }
}

void GetOndaraId::execute(XmlRpcValue& /*params*/, XmlRpcValue& result)
{
    result = std::string();
    try {
        result = ::get_ondara_id();
    } catch (const std::exception& e) {
        log_err(e.what());
    }
}

void GetOndaraProgramStatus::execute(XmlRpcValue& /*params*/, XmlRpcValue& result)
{
    result = 0;
    result = ::get_ondara_program_status();
}

void StopOndara::execute(XmlRpcValue& /*params*/, XmlRpcValue& result)
{
    log_inf("[OndaraXmlRpc][stop_ondara] :: stopping ONDARA!");
    result = 0;
    if (::get_ondara_program_status() == OP_MODE)
        end_process(0);
}

// Bus information.
void GetEthercatOnlineSlavesNumber::execute(XmlRpcValue& /*params*/, XmlRpcValue& result)
{
    result = 1;
    if (!guard_bus())
        return;
    try {
        result = eth_info->get_n_slaves_on_ethercat_network();
    } catch (const std::exception& e) {
        log_err(e.what());
    }
}

void GetEthercatXmlIndex::execute(XmlRpcValue& /*params*/, XmlRpcValue& result)
{
    result = -1;
    if (!guard_bus())
        return;
    try {
        result = eth_info->get_xml_idx();
    } catch (const std::exception& e) {
        log_err(e.what());
    }
}

void GetEthercatSlaveType::execute(XmlRpcValue& params, XmlRpcValue& result)
{
    result = 0;
    if (!guard_bus())
        return;
    try {
        const int slave = int_param(params, 0);
        result = static_cast<int>(eth_info->get_drive_idxs_ith_value(slave));
    } catch (const std::exception& e) {
        log_err(e.what());
    }
}

void GetEthercatSlaveVendorId::execute(XmlRpcValue& params, XmlRpcValue& result)
{
    result = get_eth_slave_vendor_id(0);
    if (!guard_bus())
        return;
    try {
        const int slave = int_param(params, 0);
        result = get_eth_slave_vendor_id(eth_info->get_drive_idxs_ith_value(slave));
    } catch (const std::exception& e) {
        log_err(e.what());
    }
}

void GetEthercatSlaveProductCode::execute(XmlRpcValue& params, XmlRpcValue& result)
{
    result = get_eth_slave_product_code(0);
    if (!guard_bus())
        return;
    try {
        const int slave = int_param(params, 0);
        result = get_eth_slave_product_code(eth_info->get_drive_idxs_ith_value(slave));
    } catch (const std::exception& e) {
        log_err(e.what());
    }
}

// Axis queries.
void GetAxesManagerStatus::execute(XmlRpcValue& /*params*/, XmlRpcValue& result)
{
    result = -1;
    if (::get_ondara_program_status() != OP_MODE) {
        result = 3;
        return;
    }
    if (!guard_op())
        return;
    try {
        result = with_axes([this] { return m_am_iface->get_axes_manager_status_ex(); });
    } catch (const std::exception& e) {
        log_err(e.what());
    }
}

void GetActualPos::execute(XmlRpcValue& params, XmlRpcValue& result)
{
    result = 0.0;
    if (!guard_op())
        return;
    try {
        const int axis = int_param(params, 0);
        result = with_axes([&] { return m_am_iface->get_axis_actual_position_ex(axis); });
    } catch (const std::exception& e) {
        log_err(e.what());
    }
}

void GetActualVel::execute(XmlRpcValue& params, XmlRpcValue& result)
{
    result = 0.0;
    if (!guard_op())
        return;
    try {
        const int axis = int_param(params, 0);
        result = with_axes([&] { return m_am_iface->get_axis_actual_velocity_ex(axis); });
    } catch (const std::exception& e) {
        log_err(e.what());
    }
}

void GetAxStatus::execute(XmlRpcValue& params, XmlRpcValue& result)
{
    result = -4;
    if (!guard_op())
        return;
    try {
        const int axis = int_param(params, 0);
        result = with_axes([&] { return m_am_iface->get_axis_status_ex(axis); });
    } catch (const std::exception& e) {
        log_err(e.what());
    }
}

void ReadLastError::execute(XmlRpcValue& params, XmlRpcValue& result)
{
    result = 0;
    if (!guard_op())
        return;
    try {
        const int axis = int_param(params, 0);
        result = with_axes([&] { return m_am_iface->get_axis_error_code_ex(axis); });
    } catch (const std::exception& e) {
        log_err(e.what());
    }
}

void GetIsTargetReached::execute(XmlRpcValue& /*params*/, XmlRpcValue& result)
{
    result = false;
    if (!guard_op())
        return;
    try {
        // Reached only at the target: a command that ended with the error
        // flag (refused, or stopped short on a disabled axis), or that was
        // never sent, is not.
        result = with_axes([this] {
            return m_am_iface->is_last_command_completed() && !m_am_iface->get_is_in_error_ex() &&
                   m_am_iface->get_last_send_error().empty();
        });
    } catch (const std::exception& e) {
        log_err(e.what());
    }
}

void GetIsQuickStopActive::execute(XmlRpcValue& params, XmlRpcValue& result)
{
    result = false;
    if (!guard_op())
        return;
    try {
        const int axis = int_param(params, 0);
        const bool active = with_axes([&] { return m_am_iface->get_axis_status_ex(axis); }) == 23;
        log_inf(std::string("[Ondara][GetIsQuickStopActive] : quickstop active: ") + (active ? "1" : "0"));
        result = active;
    } catch (const std::exception& e) {
        log_err(e.what());
    }
}

void GetIsSafetyActive::execute(XmlRpcValue& /*params*/, XmlRpcValue& result)
{
    result = false;
    if (!guard_op())
        return;
    try {
        result = with_axes([this] { return m_am_iface->is_any_safety_active(); });
    } catch (const std::exception& e) {
        log_err(e.what());
    }
}

void GetLimitSwitchDetected::execute(XmlRpcValue& /*params*/, XmlRpcValue& result)
{
    result = false;
    if (!guard_op())
        return;
    try {
        result = with_axes([this] { return m_am_iface->is_any_limit_switch_detected(); });
    } catch (const std::exception& e) {
        log_err(e.what());
    }
}

// Axis commands.
void ResetAxes::execute(XmlRpcValue& params, XmlRpcValue& result)
{
    axis_command_ex(guard_op(), m_am_iface, "reset_axes", result, [&] {
        no_params(params, "reset_axes");
        log_inf("[OndaraXmlRpc][reset_axes] :: reset all axes");
        with_axes([this] { m_am_iface->reset_ex(); });
        wait_completion_ex(m_am_iface, "reset_axes");
    });
}

void SendQuickStopRequest::execute(XmlRpcValue& params, XmlRpcValue& result)
{
    axis_command_ex(guard_op(), m_am_iface, "send_quick_stop_request", result, [&] {
        no_params(params, "send_quick_stop_request");
        log_inf("[OndaraXmlRpc][send_quick_stop_request] :: sending quick stop request for all axes");
        with_axes([this] { m_am_iface->perform_quickstop_for_all_axes_ex(); });
        wait_completion_ex(m_am_iface, "send_quick_stop_request");
    });
}

void DetorqueAxes::execute(XmlRpcValue& params, XmlRpcValue& result)
{
    axis_command_ex(guard_op(), m_am_iface, "detorque_axes", result, [&] {
        no_params(params, "detorque_axes");
        log_inf("[OndaraXmlRpc][detorque_axes] :: detorque all axes");
        with_axes([this] { m_am_iface->perform_detorque_for_all_axes_ex(); });
    });
}

void DoHoming::execute(XmlRpcValue& params, XmlRpcValue& result)
{
    axis_command_ex(guard_op(), m_am_iface, "do_homing", result, [&] {
        const int axis = axis_param(params, m_am_iface, "do_homing");
        Axes_Manager_Homing homing{};
        homing.method = homing_method_ex(double_param(params, 1), "do_homing");
        homing.zero_search_velocity = motion_param(params, 2, "do_homing", "zero search velocity", Sign::NOT_NEGATIVE);
        homing.acceleration = motion_param(params, 3, "do_homing", "acceleration", Sign::NOT_NEGATIVE);
        homing.switch_search_velocity =
            motion_param(params, 4, "do_homing", "switch search velocity", Sign::NOT_NEGATIVE);
        log_inf("[OndaraXmlRpc][do_homing] :: doing homing for axis " + text(axis));
        with_axes([&] { m_am_iface->do_axis_homing_ex(axis, homing); });
    });
}

void MoveToTargetVel::execute(XmlRpcValue& params, XmlRpcValue& result)
{
    axis_command_ex(guard_op(), m_am_iface, "move_to_target_vel", result, [&] {
        const int axis = axis_param(params, m_am_iface, "move_to_target_vel");
        const Axes_Manager_Target_Velocity target{motion_param(params, 1, "move_to_target_vel", "velocity", Sign::ANY),
                                                  motion_param(params, 2, "move_to_target_vel", "acceleration",
                                                               Sign::NOT_NEGATIVE)};
        log_inf("[OndaraXmlRpc][move_to_target_vel] :: moving axis " + text(axis) +
                " with speed = " + text(target.velocity) + " and acceleration = " + text(target.acceleration));
        with_axes([&] { m_am_iface->move_axis_to_target_velocity_ex(axis, target); });
    });
}

void MoveToTargetPos::execute(XmlRpcValue& params, XmlRpcValue& result)
{
    axis_command_ex(guard_op(), m_am_iface, "move_to_target_pos", result, [&] {
        const int axis = axis_param(params, m_am_iface, "move_to_target_pos");
        const Axes_Manager_Target_Position target{motion_param(params, 1, "move_to_target_pos", "position", Sign::ANY),
                                                  motion_param(params, 2, "move_to_target_pos", "velocity",
                                                               Sign::NOT_NEGATIVE),
                                                  motion_param(params, 3, "move_to_target_pos", "acceleration",
                                                               Sign::NOT_NEGATIVE)};
        log_inf("[OndaraXmlRpc][move_to_target_pos] :: moving axis " + text(axis) +
                " with speed = " + text(target.velocity) + " and acceleration = " + text(target.acceleration));
        const bool relative = bool_param(params, 5);
        log_inf("[OndaraXmlRpc][move_to_target_pos] :: axis " + text(axis) +
                ": target position = " + text(target.position) + (relative ? " (relative)" : " (absolute)"));
        if (relative)
            with_axes([&] { m_am_iface->move_axis_to_relative_target_position_ex(axis, target); });
        else
            with_axes([&] { m_am_iface->move_axis_to_absolute_target_position_ex(axis, target); });
    });
}

// Commissioning information: asks the drive's information, waits, reads.
namespace {
template <typename T, typename Read>
void commissioning(Axes_Manager_Interface* am, const XmlRpcValue& params, XmlRpcValue& result, const char* method,
                   Read read)
{
    try {
        const int axis = int_param(params, 0);
        with_axes([am] { am->refresh_info(); });
        wait_completion_ex(am, method);
        const T value = read(axis);
        result = value;
    } catch (const std::exception& e) {
        log_err(e.what());
    }
}
}  // namespace

void GetCommissioningVel::execute(XmlRpcValue& params, XmlRpcValue& result)
{
    result = 0.0;
    if (!guard_op())
        return;
    commissioning<double>(m_am_iface, params, result, "get_commissioning_vel", [this](int axis) {
        const double max = with_axes([&] { return m_am_iface->get_info_max_vel(axis); });
        const int resolution = with_axes([&] { return m_am_iface->get_info_vel_resolution(axis); });
        log_inf("[Ondara][GetCommissioningVel] : maximum velocity = " + text(max));
        log_inf("[Ondara][GetCommissioningVel] : velocity resolution = " + text(resolution));
        return max / std::pow(10.0, static_cast<double>(resolution));
    });
}

void GetCommissioningAcc::execute(XmlRpcValue& params, XmlRpcValue& result)
{
    result = 0.0;
    if (!guard_op())
        return;
    commissioning<double>(m_am_iface, params, result, "get_commissioning_acc", [this](int axis) {
        const double value = with_axes([&] { return m_am_iface->get_info_max_acc(axis); });
        log_inf("[Ondara][GetCommissioningAcc] : maximum acceleration = " + text(value));
        return value;
    });
}

void GetCommissioningHomingMethod::execute(XmlRpcValue& params, XmlRpcValue& result)
{
    result = 0;
    if (!guard_op())
        return;
    commissioning<int>(m_am_iface, params, result, "get_commissioning_homing_method", [this](int axis) {
        const int value = with_axes([&] { return m_am_iface->get_info_homing_method(axis); });
        log_inf("[Ondara][GetCommissioningHomingMethod] : commissioning homing method = " + text(value));
        return value;
    });
}

void GetCommissioningHomingVel::execute(XmlRpcValue& params, XmlRpcValue& result)
{
    result = 0.0;
    if (!guard_op())
        return;
    commissioning<double>(m_am_iface, params, result, "get_commissioning_homing_vel", [this](int axis) {
        const double value = with_axes([&] { return m_am_iface->get_info_homing_vel(axis); });
        log_inf("[Ondara][GetCommissioningHomingVel] : commissioning homing velocity = " + text(value));
        return value;
    });
}

void GetCommissioningHomingAcc::execute(XmlRpcValue& params, XmlRpcValue& result)
{
    result = 0.0;
    if (!guard_op())
        return;
    commissioning<double>(m_am_iface, params, result, "get_commissioning_homing_acc", [this](int axis) {
        const double value = with_axes([&] { return m_am_iface->get_info_homing_acc(axis); });
        log_inf("[Ondara][GetCommissioningHomingAcc] : commissioning homing acceleration = " + text(value));
        return value;
    });
}

void GetCommissioningHomingSwitchVel::execute(XmlRpcValue& params, XmlRpcValue& result)
{
    result = 0.0;
    if (!guard_op())
        return;
    commissioning<double>(m_am_iface, params, result, "get_commissioning_homing_switch_vel", [this](int axis) {
        const double value = with_axes([&] { return m_am_iface->get_info_homing_switch_vel(axis); });
        log_inf("[Ondara][GetCommissioningHomingSwitchVel] : commissioning homing switch velocity = " + text(value));
        return value;
    });
}

// Program commands.
void ProgramMoveToTargetPosition::execute(XmlRpcValue& params, XmlRpcValue& result)
{
    Program_Commands_Params command;
    const char* const method = "program_move_to_target_position";
    command.axis_id = axis_param(params, m_am_iface, method);
    command.position = motion_param(params, 1, method, "position", Sign::ANY);
    command.velocity = motion_param(params, 2, method, "velocity", Sign::NOT_NEGATIVE);
    command.acceleration = motion_param(params, 3, method, "acceleration", Sign::NOT_NEGATIVE);
    command.cmd_id = MOVE_TO_POSITION;
    log_inf(
        "[XmlRpcInterface][ProgramMoveToTargetPosition] : a program_move_to_target_position request arrived "
        "(cmd_id : " +
        text(static_cast<int>(MOVE_TO_POSITION)) + ")");
    result = new_command_ex(cmd_manager, command);
}

void ProgramMoveToTargetVelocity::execute(XmlRpcValue& params, XmlRpcValue& result)
{
    Program_Commands_Params command;
    const char* const method = "program_move_to_target_velocity";
    command.axis_id = axis_param(params, m_am_iface, method);
    command.velocity = motion_param(params, 1, method, "velocity", Sign::ANY);
    command.acceleration = motion_param(params, 2, method, "acceleration", Sign::NOT_NEGATIVE);
    command.cmd_id = MOVE_TO_VELOCITY;
    log_inf(
        "[XmlRpcInterface][ProgramMoveToTargetVelocity] : a program_move_to_target_velocity request arrived "
        "(cmd_id : " +
        text(static_cast<int>(MOVE_TO_VELOCITY)) + ")");
    result = new_command_ex(cmd_manager, command);
}

void ProgramDoHoming::execute(XmlRpcValue& params, XmlRpcValue& result)
{
    Program_Commands_Params command;
    const char* const method = "program_do_homing";
    command.axis_id = axis_param(params, m_am_iface, method);
    command.homing_method = homing_method_ex(int_param(params, 1), method);
    command.homing_zero_search_velocity = motion_param(params, 2, method, "zero search velocity", Sign::NOT_NEGATIVE);
    command.homing_acceleration = motion_param(params, 3, method, "acceleration", Sign::NOT_NEGATIVE);
    command.homing_switch_search_velocity =
        motion_param(params, 4, method, "switch search velocity", Sign::NOT_NEGATIVE);
    command.cmd_id = PRG_DO_HOMING;
    log_inf("[XmlRpcInterface][ProgramDoHoming] : a program_do_homing request arrived (cmd_id : " +
            text(static_cast<int>(PRG_DO_HOMING)) + ")");
    result = new_command_ex(cmd_manager, command);
}

void ProgramGetState::execute(XmlRpcValue& /*params*/, XmlRpcValue& result)
{
    result = new_command_ex(cmd_manager, Program_Commands_Params{});
}
