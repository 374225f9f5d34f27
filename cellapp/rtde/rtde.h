#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <tuple>
#include <unordered_map>
#include <vector>

#include "robot_state.h"
#include "rtde_port.h"
#include "rtde_utility.h"

namespace rtde_client {

namespace details {
// Reads one output variable at the offset of a data-package payload, stores
// it in the record and advances the offset by its width.
using cb_fun = std::function<void(std::shared_ptr<RobotState>, const std::vector<uint8_t>&, uint32_t&)>;
using cb_map = std::unordered_map<std::string, cb_fun>;

template <typename Setter, typename Reader>
void setupCallback(cb_map& map, const std::string& name, Setter setter, Reader reader)
{
    map[name] = [setter, reader](std::shared_ptr<RobotState> state, const std::vector<uint8_t>& data,
                                 uint32_t& offset) { ((*state).*setter)(reader(data, offset)); };
}
}  // namespace details

// Client side of the robot controller's Real-Time Data Exchange over one
// blocking TCP socket. One thread at a time uses an instance; only
// interrupt() may be called from another thread.
//
// Connection loss (end of stream or a read error, between packages or inside
// one, or a package size below 3) throws std::runtime_error and leaves the
// client DISCONNECTED; no partial package is ever returned. Requests wait for
// the reply of their own type: text messages and data packages that come
// before it are dropped. A reply that has not come whole within the reply
// limit (REPLY_TIMEOUT_MS unless given) counts as a connection loss; data
// packages are waited for without limit.
class RTDE {
public:
    enum RTDECommand : uint32_t {
        RTDE_REQUEST_PROTOCOL_VERSION = 86,
        RTDE_GET_URCONTROL_VERSION = 118,
        RTDE_TEXT_MESSAGE = 77,
        RTDE_DATA_PACKAGE = 85,
        RTDE_CONTROL_PACKAGE_SETUP_OUTPUTS = 79,
        RTDE_CONTROL_PACKAGE_SETUP_INPUTS = 73,
        RTDE_CONTROL_PACKAGE_START = 83,
        RTDE_CONTROL_PACKAGE_PAUSE = 80,
    };

    enum ConnectionState : uint8_t { DISCONNECTED = 0, CONNECTED = 1, STARTED = 2, PAUSED = 3 };

    static constexpr int REPLY_TIMEOUT_MS = 10000;

    struct RobotCommand {
        enum Type : uint32_t {
            NO_CMD = 0,
            MOVEJ = 1,
            MOVEJ_IK = 2,
            MOVEL = 3,
            MOVEL_FK = 4,
            MOVEC = 5,
            FORCE_MODE = 6,
            FORCE_MODE_STOP = 7,
            ZERO_FT_SENSOR = 8,
            SPEEDJ = 9,
            SPEEDL = 10,
            SERVOJ = 11,
            SERVOC = 12,
            SET_STD_DIGITAL_OUT = 13,
            SET_TOOL_DIGITAL_OUT = 14,
            SPEED_STOP = 15,
            SERVO_STOP = 16,
            SET_PAYLOAD = 17,
            TEACH_MODE = 18,
            END_TEACH_MODE = 19,
            FORCE_MODE_SET_DAMPING = 20,
            FORCE_MODE_SET_GAIN_SCALING = 21,
            SET_SPEED_SLIDER = 22,
            SET_STD_ANALOG_OUT = 23,
            SERVOL = 24,
            TOOL_CONTACT = 25,
            GET_STEPTIME = 26,
            GET_ACTUAL_JOINT_POSITIONS_HISTORY = 27,
            GET_TARGET_WAYPOINT = 28,
            SET_TCP = 29,
            GET_INVERSE_KINEMATICS_ARGS = 30,
            PROTECTIVE_STOP = 31,
            MOVEP = 32,
            STOPL = 33,
            STOPJ = 34,
            SET_WATCHDOG = 35,
            IS_POSE_WITHIN_SAFETY_LIMITS = 36,
            IS_JOINTS_WITHIN_SAFETY_LIMITS = 37,
            GET_JOINT_TORQUES = 38,
            POSE_TRANS = 39,
            GET_TCP_OFFSET = 40,
            JOG_START = 41,
            JOG_STOP = 42,
            GET_FORWARD_KINEMATICS_DEFAULT = 43,
            GET_FORWARD_KINEMATICS_ARGS = 44,
            MOVE_PATH = 45,
            GET_INVERSE_KINEMATICS_DEFAULT = 46,
            IS_STEADY = 47,
            SET_CONF_DIGITAL_OUT = 48,
            SET_INPUT_INT_REGISTER = 49,
            SET_INPUT_DOUBLE_REGISTER = 50,
            MOVE_UNTIL_CONTACT = 51,
            WATCHDOG = 99,
            STOP_SCRIPT = 255,
        };

        Type type_ = NO_CMD;
        uint8_t recipe_id_ = 0;
        int32_t async_ = 0;
        int32_t reg_int_val_ = 0;
        double reg_double_val_ = 0.0;
        std::vector<double> val_;
        std::vector<int32_t> selection_vector_;
        int32_t movec_mode_ = 0;
        int32_t force_mode_type_ = 0;
        uint8_t std_digital_out_ = 0;
        uint8_t std_digital_out_mask_ = 0;
        uint8_t configurable_digital_out_ = 0;
        uint8_t configurable_digital_out_mask_ = 0;
        uint8_t std_tool_out_ = 0;
        uint8_t std_tool_out_mask_ = 0;
        uint8_t std_analog_output_mask_ = 0;
        uint8_t std_analog_output_type_ = 0;
        double std_analog_output_0_ = 0.0;
        double std_analog_output_1_ = 0.0;
        int32_t speed_slider_mask_ = 0;
        double speed_slider_fraction_ = 0.0;
        uint32_t steps_ = 0;
    };

    RTDE(const std::string& hostname, int port = RTDE_PORT, bool verbose = false,
         std::chrono::milliseconds reply_timeout = std::chrono::milliseconds(REPLY_TIMEOUT_MS));
    virtual ~RTDE();  // closes the socket
    RTDE(const RTDE&) = delete;
    RTDE& operator=(const RTDE&) = delete;

    // Opens the connection (a socket still open is closed first). Throws
    // "Error: Could not connect to: <host> at <port>, verify the IP".
    void connect();
    void disconnect();
    bool isConnected() const;
    bool isStarted() const;

    // Shuts the socket down in both directions so that a read blocked on
    // another thread returns; the descriptor stays until disconnect.
    void interrupt();

    // Asks for protocol version 2; returns the controller's accepted flag.
    bool negotiateProtocolVersion();
    // (major, minor, bugfix, build); zeros when the reply is too short.
    std::tuple<uint32_t, uint32_t, uint32_t, uint32_t> getControllerVersion();
    // Throws when a variable is held by another client ("IN_USE").
    bool sendInputSetup(const std::vector<std::string>& variables);
    // False when the controller does not know a variable ("NOT_FOUND") or
    // its reply does not name one value type per variable; the types of the
    // reply are kept in either case.
    bool sendOutputSetup(const std::vector<std::string>& variables, double frequency);
    void sendStart();
    void sendPause();
    void sendAll(uint8_t type, const std::string& payload);
    // Reads exactly one package and acts on it.
    void receive();
    // Payload of the next data package (recipe id, then the values).
    std::vector<uint8_t> receiveData();
    void send(const RobotCommand& command);

    const std::vector<std::string>& getOutputTypes() const { return output_types_; }
    const std::vector<std::string>& getOutputNames() const { return output_names_; }
    // Recipe id of the last output-setup reply (0 before one, or refused).
    uint8_t getOutputRecipeId() const { return output_recipe_id_; }
    // Output-variable name -> parser into a RobotState.
    const details::cb_map& getCallbacks() const { return cb_map_; }

private:
    struct Package {
        uint8_t type;
        std::vector<uint8_t> payload;
    };

    void setupCallbacks();
    using Deadline = std::chrono::steady_clock::time_point;

    // Without a deadline the reads block until data or end of stream.
    Package readPackage(const Deadline* deadline = nullptr);
    void readExact(uint8_t* buffer, std::size_t count, bool inside_package, const Deadline* deadline);
    [[noreturn]] void lost(const std::string& what);
    void handle(const Package& package);
    // Reads until the reply of the given type, handles and returns it.
    Package awaitReply(uint8_t type);
    void closeSocket();

    details::cb_map cb_map_;
    std::string hostname_;
    int port_;
    bool verbose_;
    std::chrono::milliseconds reply_timeout_;
    ConnectionState conn_state_ = DISCONNECTED;
    std::vector<std::string> output_types_;
    std::vector<std::string> output_names_;
    int sock_fd_ = -1;
    uint8_t output_recipe_id_ = 0;
};

}  // namespace rtde_client
