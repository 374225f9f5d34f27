#include "rtde.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <iostream>
#include <stdexcept>

namespace rtde_client {

namespace {
void put_u8(std::string& out, uint8_t value)
{
    out.push_back(static_cast<char>(value));
}

void put_be(std::string& out, uint64_t value, int width)
{
    for (int shift = (width - 1) * 8; shift >= 0; shift -= 8)
        out.push_back(static_cast<char>((value >> shift) & 0xFF));
}

void put_u32(std::string& out, uint32_t value)
{
    put_be(out, value, 4);
}
void put_i32(std::string& out, int32_t value)
{
    put_be(out, static_cast<uint32_t>(value), 4);
}

void put_double(std::string& out, double value)
{
    uint64_t bits = 0;
    std::memcpy(&bits, &value, sizeof(bits));
    put_be(out, bits, 8);
}

std::string names_text(const std::vector<std::string>& names)
{
    std::string text;
    for (const std::string& name : names)
        text += name + ",";
    return text;
}

// The reply text after the recipe id.
std::string reply_text(const std::vector<uint8_t>& payload)
{
    return payload.size() > 1 ? std::string(payload.begin() + 1, payload.end()) : std::string();
}

// The value types a controller names in an output-setup reply.
bool is_output_type(const std::string& type)
{
    static const char* const TYPES[] = {"VECTOR6D", "VECTOR3D", "VECTOR6INT32", "VECTOR6UINT32", "DOUBLE",
                                        "UINT64",   "UINT32",   "INT32",        "BOOL",          "UINT8"};
    for (const char* known : TYPES)
        if (type == known)
            return true;
    return false;
}

void report_empty_reply(uint8_t type)
{
    std::cerr << "RTDE - reply of package type " << static_cast<int>(type) << " without payload skipped" << std::endl;
}
}  // namespace

RTDE::RTDE(const std::string& hostname, int port, bool verbose, std::chrono::milliseconds reply_timeout)
    : hostname_(hostname), port_(port), verbose_(verbose), reply_timeout_(reply_timeout)
{
    setupCallbacks();
}

RTDE::~RTDE()
{
    closeSocket();
}

void RTDE::closeSocket()
{
    if (sock_fd_ >= 0) {
        ::close(sock_fd_);
        sock_fd_ = -1;
    }
}

void RTDE::connect()
{
    closeSocket();
    conn_state_ = DISCONNECTED;
    const std::string failure =
        "Error: Could not connect to: " + hostname_ + " at " + std::to_string(port_) + ", verify the IP";
    sock_fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
    if (sock_fd_ < 0)
        throw std::runtime_error(failure);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port_));
    if (inet_pton(AF_INET, hostname_.c_str(), &address.sin_addr) < 1 ||
        ::connect(sock_fd_, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) < 0) {
        closeSocket();
        throw std::runtime_error(failure);
    }
    conn_state_ = CONNECTED;
    if (verbose_)
        std::cout << "Connected successfully to: " << hostname_ << " at " << port_ << std::endl;
}

void RTDE::disconnect()
{
    closeSocket();
    conn_state_ = DISCONNECTED;
    if (verbose_)
        std::cout << "RTDE - Socket disconnected" << std::endl;
}

bool RTDE::isConnected() const
{
    return conn_state_ == CONNECTED || conn_state_ == STARTED;
}

bool RTDE::isStarted() const
{
    return conn_state_ == STARTED;
}

void RTDE::interrupt()
{
    if (sock_fd_ >= 0)
        ::shutdown(sock_fd_, SHUT_RDWR);
}

bool RTDE::negotiateProtocolVersion()
{
    std::string payload;
    put_be(payload, 2, 2);
    sendAll(RTDE_REQUEST_PROTOCOL_VERSION, payload);
    const Package reply = awaitReply(RTDE_REQUEST_PROTOCOL_VERSION);
    return !reply.payload.empty() && reply.payload[0] != 0;
}

std::tuple<uint32_t, uint32_t, uint32_t, uint32_t> RTDE::getControllerVersion()
{
    sendAll(RTDE_GET_URCONTROL_VERSION, "");
    const Package reply = awaitReply(RTDE_GET_URCONTROL_VERSION);
    if (reply.payload.size() < 16) {
        std::cerr << "RTDE - controller version reply of " << reply.payload.size() << " bytes skipped" << std::endl;
        return {0, 0, 0, 0};
    }
    uint32_t offset = 0;
    const uint32_t major = RTDEUtility::getUInt32(reply.payload, offset);
    const uint32_t minor = RTDEUtility::getUInt32(reply.payload, offset);
    const uint32_t bugfix = RTDEUtility::getUInt32(reply.payload, offset);
    const uint32_t build = RTDEUtility::getUInt32(reply.payload, offset);
    return {major, minor, bugfix, build};
}

bool RTDE::sendInputSetup(const std::vector<std::string>& variables)
{
    sendAll(RTDE_CONTROL_PACKAGE_SETUP_INPUTS, names_text(variables));
    awaitReply(RTDE_CONTROL_PACKAGE_SETUP_INPUTS);
    return true;
}

bool RTDE::sendOutputSetup(const std::vector<std::string>& variables, double frequency)
{
    output_names_ = variables;
    std::string payload;
    put_double(payload, frequency);
    payload += names_text(variables);
    sendAll(RTDE_CONTROL_PACKAGE_SETUP_OUTPUTS, payload);
    const Package reply = awaitReply(RTDE_CONTROL_PACKAGE_SETUP_OUTPUTS);
    if (reply.payload.empty() || output_types_.size() != variables.size())
        return false;
    for (const std::string& type : output_types_)
        if (!is_output_type(type))
            return false;
    return true;
}

void RTDE::sendStart()
{
    sendAll(RTDE_CONTROL_PACKAGE_START, "");
    awaitReply(RTDE_CONTROL_PACKAGE_START);
}

void RTDE::sendPause()
{
    sendAll(RTDE_CONTROL_PACKAGE_PAUSE, "");
    awaitReply(RTDE_CONTROL_PACKAGE_PAUSE);
}

void RTDE::sendAll(uint8_t type, const std::string& payload)
{
    if (sock_fd_ < 0)
        throw std::runtime_error("[RTDE][sendAll] not connected");
    if (payload.size() > 0xFFFF - 3)
        throw std::runtime_error("[RTDE][sendAll] payload of " + std::to_string(payload.size()) +
                                 " bytes does not fit in one package");
    std::string package;
    put_be(package, payload.size() + 3, 2);
    put_u8(package, type);
    package += payload;
    std::size_t sent = 0;
    while (sent < package.size()) {
        const ssize_t n = ::send(sock_fd_, package.data() + sent, package.size() - sent, MSG_NOSIGNAL);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            throw std::runtime_error(std::string("[RTDE][sendAll] send: ") + std::strerror(errno));
        }
        sent += static_cast<std::size_t>(n);
    }
}

void RTDE::lost(const std::string& what)
{
    conn_state_ = DISCONNECTED;
    interrupt();
    throw std::runtime_error("[RTDE][receive] " + what);
}

void RTDE::readExact(uint8_t* buffer, std::size_t count, bool inside_package, const Deadline* deadline)
{
    std::size_t got = 0;
    while (got < count) {
        if (deadline != nullptr) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(*deadline - std::chrono::steady_clock::now());
            pollfd readable{sock_fd_, POLLIN, 0};
            const int ready = left.count() > 0 ? ::poll(&readable, 1, static_cast<int>(left.count())) : 0;
            if (ready < 0 && errno == EINTR)
                continue;
            if (ready < 0)
                lost(std::string("poll: ") + std::strerror(errno));
            if (ready == 0)
                lost("no reply within " + std::to_string(reply_timeout_.count()) + " ms (" + std::to_string(got) +
                     " of " + std::to_string(count) + " bytes" + (inside_package ? " of a package" : " of a header") +
                     ")");
        }
        const ssize_t n = ::read(sock_fd_, buffer + got, count - got);
        if (n > 0) {
            got += static_cast<std::size_t>(n);
        } else if (n == 0) {
            if (inside_package || got > 0)
                lost("connection closed by the controller inside a package (" + std::to_string(got) + " of " +
                     std::to_string(count) + " bytes)");
            lost("connection closed by the controller");
        } else if (errno != EINTR) {
            lost(std::string("read: ") + std::strerror(errno));
        }
    }
}

RTDE::Package RTDE::readPackage(const Deadline* deadline)
{
    if (sock_fd_ < 0)
        throw std::runtime_error("[RTDE][receive] not connected");
    uint8_t header[3];
    readExact(header, sizeof(header), false, deadline);
    const std::size_t size = (static_cast<std::size_t>(header[0]) << 8) | header[1];
    if (size < 3)
        lost("package size " + std::to_string(size) + " below 3: framing lost");
    Package package{header[2], std::vector<uint8_t>(size - 3)};
    if (!package.payload.empty())
        readExact(package.payload.data(), package.payload.size(), true, deadline);
    return package;
}

void RTDE::handle(const Package& package)
{
    switch (package.type) {
    case RTDE_CONTROL_PACKAGE_SETUP_INPUTS:
        if (package.payload.empty())
            report_empty_reply(package.type);
        else if (reply_text(package.payload).find("IN_USE") != std::string::npos)
            throw std::runtime_error(
                "One of the RTDE input registers are already in use! Currently you must disable the EtherNet/IP "
                "adapter, PROFINET or any MODBUS unit configured on the robot. This might change in the future.");
        break;
    case RTDE_CONTROL_PACKAGE_SETUP_OUTPUTS: {
        if (package.payload.empty()) {
            report_empty_reply(package.type);
            break;
        }
        output_recipe_id_ = package.payload[0];
        output_types_.clear();
        const std::string text = reply_text(package.payload);
        std::size_t begin = 0;
        for (std::size_t comma = text.find(','); comma != std::string::npos; comma = text.find(',', begin)) {
            output_types_.push_back(text.substr(begin, comma - begin));
            begin = comma + 1;
        }
        if (begin < text.size())
            output_types_.push_back(text.substr(begin));
        break;
    }
    case RTDE_CONTROL_PACKAGE_PAUSE:
        if (package.payload.empty())
            report_empty_reply(package.type);
        else if (package.payload[0] != 0)
            conn_state_ = PAUSED;
        else
            std::cerr << "Unable to pause synchronization" << std::endl;
        break;
    case RTDE_CONTROL_PACKAGE_START:
        if (package.payload.empty()) {
            report_empty_reply(package.type);
        } else if (package.payload[0] != 0) {
            conn_state_ = STARTED;
            if (verbose_)
                std::cout << "RTDE synchronization started" << std::endl;
        } else {
            std::cerr << "Unable to start synchronization" << std::endl;
        }
        break;
    case RTDE_REQUEST_PROTOCOL_VERSION:
    case RTDE_GET_URCONTROL_VERSION:
        if (package.payload.empty())
            report_empty_reply(package.type);
        break;
    default:  // text messages, data packages, unknown types
        break;
    }
}

void RTDE::receive()
{
    handle(readPackage());
}

RTDE::Package RTDE::awaitReply(uint8_t type)
{
    const Deadline deadline = std::chrono::steady_clock::now() + reply_timeout_;
    for (;;) {
        Package package = readPackage(&deadline);
        if (package.type == type) {
            handle(package);
            return package;
        }
    }
}

std::vector<uint8_t> RTDE::receiveData()
{
    for (;;) {
        Package package = readPackage();
        if (package.type == RTDE_DATA_PACKAGE)
            return std::move(package.payload);
    }
}

void RTDE::send(const RobotCommand& command)
{
    using Type = RobotCommand::Type;
    const Type type = command.type_;
    std::string payload;
    put_u8(payload, command.recipe_id_);
    put_u32(payload, type == RobotCommand::WATCHDOG ? static_cast<uint32_t>(RobotCommand::NO_CMD) : type);
    switch (type) {
    case RobotCommand::SET_INPUT_INT_REGISTER: put_i32(payload, command.reg_int_val_); break;
    case RobotCommand::SET_INPUT_DOUBLE_REGISTER: put_double(payload, command.reg_double_val_); break;
    case RobotCommand::FORCE_MODE:
        put_i32(payload, command.force_mode_type_);
        for (int32_t selected : command.selection_vector_)
            put_i32(payload, selected);
        break;
    case RobotCommand::GET_ACTUAL_JOINT_POSITIONS_HISTORY: put_u32(payload, command.steps_); break;
    default: break;
    }
    for (double value : command.val_)
        put_double(payload, value);
    switch (type) {
    case RobotCommand::MOVEJ:
    case RobotCommand::MOVEJ_IK:
    case RobotCommand::MOVEL:
    case RobotCommand::MOVEL_FK:
    case RobotCommand::MOVE_PATH: put_i32(payload, command.async_); break;
    case RobotCommand::MOVEC: put_i32(payload, command.movec_mode_); break;
    case RobotCommand::SET_STD_DIGITAL_OUT:
        put_u8(payload, command.std_digital_out_mask_);
        put_u8(payload, command.std_digital_out_);
        break;
    case RobotCommand::SET_CONF_DIGITAL_OUT:
        put_u8(payload, command.configurable_digital_out_mask_);
        put_u8(payload, command.configurable_digital_out_);
        break;
    case RobotCommand::SET_TOOL_DIGITAL_OUT:
        put_u8(payload, command.std_tool_out_mask_);
        put_u8(payload, command.std_tool_out_);
        break;
    case RobotCommand::SET_SPEED_SLIDER:
        put_i32(payload, command.speed_slider_mask_);
        put_double(payload, command.speed_slider_fraction_);
        break;
    case RobotCommand::SET_STD_ANALOG_OUT:
        put_u8(payload, command.std_analog_output_mask_);
        put_u8(payload, command.std_analog_output_type_);
        put_double(payload, command.std_analog_output_0_);
        put_double(payload, command.std_analog_output_1_);
        break;
    default: break;
    }
    sendAll(RTDE_DATA_PACKAGE, payload);
}

void RTDE::setupCallbacks()
{
    using details::setupCallback;
    using U = RTDEUtility;
    using S = RobotState;
    details::cb_map& m = cb_map_;

    setupCallback(m, "timestamp", &S::setTimestamp, &U::getDouble);
    setupCallback(m, "actual_execution_time", &S::setActual_execution_time, &U::getDouble);
    setupCallback(m, "speed_scaling", &S::setSpeed_scaling, &U::getDouble);
    setupCallback(m, "target_speed_fraction", &S::setTarget_speed_fraction, &U::getDouble);
    setupCallback(m, "actual_momentum", &S::setActual_momentum, &U::getDouble);
    setupCallback(m, "actual_main_voltage", &S::setActual_main_voltage, &U::getDouble);
    setupCallback(m, "actual_robot_voltage", &S::setActual_robot_voltage, &U::getDouble);
    setupCallback(m, "actual_robot_current", &S::setActual_robot_current, &U::getDouble);
    setupCallback(m, "standard_analog_input0", &S::setStandard_analog_input_0, &U::getDouble);
    setupCallback(m, "standard_analog_input1", &S::setStandard_analog_input_1, &U::getDouble);
    setupCallback(m, "standard_analog_output0", &S::setStandard_analog_output_0, &U::getDouble);
    setupCallback(m, "standard_analog_output1", &S::setStandard_analog_output_1, &U::getDouble);

    setupCallback(m, "robot_mode", &S::setRobot_mode, &U::getInt32);
    setupCallback(m, "safety_mode", &S::setSafety_mode, &U::getInt32);

    setupCallback(m, "runtime_state", &S::setRuntime_state, &U::getUInt32);
    setupCallback(m, "robot_status_bits", &S::setRobot_status, &U::getUInt32);
    setupCallback(m, "safety_status_bits", &S::setSafety_status_bits, &U::getUInt32);

    setupCallback(m, "actual_digital_input_bits", &S::setActual_digital_input_bits, &U::getUInt64);
    setupCallback(m, "actual_digital_output_bits", &S::setActual_digital_output_bits, &U::getUInt64);

    setupCallback(m, "target_q", &S::setTarget_q, &U::unpackVector6d);
    setupCallback(m, "target_qd", &S::setTarget_qd, &U::unpackVector6d);
    setupCallback(m, "target_qdd", &S::setTarget_qdd, &U::unpackVector6d);
    setupCallback(m, "actual_q", &S::setActual_q, &U::unpackVector6d);
    setupCallback(m, "actual_qd", &S::setActual_qd, &U::unpackVector6d);
    setupCallback(m, "actual_TCP_pose", &S::setActual_TCP_pose, &U::unpackVector6d);
    setupCallback(m, "actual_TCP_speed", &S::setActual_TCP_speed, &U::unpackVector6d);
    setupCallback(m, "target_TCP_pose", &S::setTarget_TCP_pose, &U::unpackVector6d);
    setupCallback(m, "target_TCP_speed", &S::setTarget_TCP_speed, &U::unpackVector6d);
    setupCallback(m, "joint_control_output", &S::setJoint_control_output, &U::unpackVector6d);
    setupCallback(m, "joint_temperatures", &S::setJoint_temperatures, &U::unpackVector6d);
    setupCallback(m, "actual_TCP_force", &S::setActual_TCP_force, &U::unpackVector6d);
    setupCallback(m, "target_current", &S::setTarget_current, &U::unpackVector6d);
    setupCallback(m, "actual_current", &S::setActual_current, &U::unpackVector6d);
    setupCallback(m, "target_moment", &S::setTarget_moment, &U::unpackVector6d);
    setupCallback(m, "actual_joint_voltage", &S::setActual_joint_voltage, &U::unpackVector6d);

    setupCallback(m, "actual_tool_accelerometer", &S::setActual_tool_accelerometer, &U::unpackVector3d);
    setupCallback(m, "joint_mode", &S::setJoint_mode, &U::unpackVector6Int32);

    // clang-format off
#define RTDE_REGISTER_PAIR(n)                                                                  \
    setupCallback(m, "output_int_register_" #n, &S::setOutput_int_register_##n, &U::getInt32); \
    setupCallback(m, "output_double_register_" #n, &S::setOutput_double_register_##n, &U::getDouble);
#define RTDE_REGISTER_TEN(t)                                                          \
    RTDE_REGISTER_PAIR(t##0) RTDE_REGISTER_PAIR(t##1) RTDE_REGISTER_PAIR(t##2)        \
    RTDE_REGISTER_PAIR(t##3) RTDE_REGISTER_PAIR(t##4) RTDE_REGISTER_PAIR(t##5)        \
    RTDE_REGISTER_PAIR(t##6) RTDE_REGISTER_PAIR(t##7) RTDE_REGISTER_PAIR(t##8)        \
    RTDE_REGISTER_PAIR(t##9)
    RTDE_REGISTER_PAIR(0) RTDE_REGISTER_PAIR(1) RTDE_REGISTER_PAIR(2) RTDE_REGISTER_PAIR(3)
    RTDE_REGISTER_PAIR(4) RTDE_REGISTER_PAIR(5) RTDE_REGISTER_PAIR(6) RTDE_REGISTER_PAIR(7)
    RTDE_REGISTER_PAIR(8) RTDE_REGISTER_PAIR(9)
    RTDE_REGISTER_TEN(1) RTDE_REGISTER_TEN(2) RTDE_REGISTER_TEN(3)
    RTDE_REGISTER_PAIR(40) RTDE_REGISTER_PAIR(41) RTDE_REGISTER_PAIR(42) RTDE_REGISTER_PAIR(43)
    RTDE_REGISTER_PAIR(44) RTDE_REGISTER_PAIR(45) RTDE_REGISTER_PAIR(46) RTDE_REGISTER_PAIR(47)
#undef RTDE_REGISTER_TEN
#undef RTDE_REGISTER_PAIR
    // clang-format on
}

}  // namespace rtde_client
