#pragma once

// The XML-RPC server of the cell application: one method object per method
// of the robot program, registered with an XmlRpc++ server, which parses the
// requests and makes the answers. The connections are held by Xmlrpc_Gate,
// which hands it whole requests within its limits.

#include <XmlRpc.h>

#include <chrono>
#include <string>

#include "xmlrpc_gate.h"

class Axes_Manager_Interface;
class Program_Command_Manager;
class Ethercat_Info;

constexpr int PORT_XMLRPC = 44044;

// Base of the method objects: the name registers the method with the server.
class XmlRpcWrapper : public XmlRpc::XmlRpcServerMethod {
public:
    XmlRpcWrapper(const std::string& name, Axes_Manager_Interface* am_iface, XmlRpc::XmlRpcServer* server,
                  Program_Command_Manager* cmd_manager, Ethercat_Info* eth_info);
    ~XmlRpcWrapper() override = default;
    void execute(XmlRpc::XmlRpcValue& params, XmlRpc::XmlRpcValue& result) override = 0;

protected:
    // The application runs and the axes interface is there.
    bool guard_op() const;
    // The bus identification has started and its record is there.
    bool guard_bus() const;

    Axes_Manager_Interface* m_am_iface;
    Program_Command_Manager* cmd_manager;
    Ethercat_Info* eth_info;
};

#define CELL_XMLRPC_METHOD(Class, method_name)                                                                  \
    class Class : public XmlRpcWrapper {                                                                        \
    public:                                                                                                     \
        Class(Axes_Manager_Interface* am_iface, XmlRpc::XmlRpcServer* server, Program_Command_Manager* manager, \
              Ethercat_Info* info)                                                                              \
            : XmlRpcWrapper(method_name, am_iface, server, manager, info)                                       \
        {                                                                                                       \
        }                                                                                                       \
        void execute(XmlRpc::XmlRpcValue& params, XmlRpc::XmlRpcValue& result) override;                        \
    }

// The 48 method classes, in registration order.
CELL_XMLRPC_METHOD(GetVersionNumber, "get_version_number");
CELL_XMLRPC_METHOD(GetEthercatOnlineSlavesNumber, "get_ethercat_online_slaves_number");
CELL_XMLRPC_METHOD(GetAxesManagerStatus, "get_axes_manager_status");
CELL_XMLRPC_METHOD(GetOndaraId, "get_ondara_id");
CELL_XMLRPC_METHOD(GetEthercatXmlIndex, "get_ethercat_xml_idx");
CELL_XMLRPC_METHOD(GetEthercatSlaveType, "get_ethercat_slave_type");
CELL_XMLRPC_METHOD(GetEthercatSlaveVendorId, "get_ethercat_slave_vendor_id");
CELL_XMLRPC_METHOD(GetEthercatSlaveProductCode, "get_ethercat_slave_product_code");
CELL_XMLRPC_METHOD(ResetAxes, "reset_axes");
CELL_XMLRPC_METHOD(DetorqueAxes, "detorque_axes");
CELL_XMLRPC_METHOD(SendQuickStopRequest, "send_quick_stop_request");
CELL_XMLRPC_METHOD(DoHoming, "do_homing");
CELL_XMLRPC_METHOD(MoveToTargetVel, "move_to_target_vel");
CELL_XMLRPC_METHOD(MoveToTargetPos, "move_to_target_pos");
CELL_XMLRPC_METHOD(MoveToPosLimitSwitch, "move_to_pos_limit_switch");
CELL_XMLRPC_METHOD(MoveToNegLimitSwitch, "move_to_neg_limit_switch");
CELL_XMLRPC_METHOD(GetActualPos, "get_actual_pos");
CELL_XMLRPC_METHOD(GetActualVel, "get_actual_vel");
CELL_XMLRPC_METHOD(GetAxStatus, "get_ax_status");
CELL_XMLRPC_METHOD(GetOndaraProgramStatus, "get_ondara_program_status");
CELL_XMLRPC_METHOD(StopOndara, "stop_ondara");
CELL_XMLRPC_METHOD(ReadLastError, "read_last_error");
CELL_XMLRPC_METHOD(ReadLastWarning, "read_last_warning");
CELL_XMLRPC_METHOD(SendHaltRequest, "send_halt_request");
CELL_XMLRPC_METHOD(GetCommissioningVel, "get_commissioning_vel");
CELL_XMLRPC_METHOD(GetCommissioningAcc, "get_commissioning_acc");
CELL_XMLRPC_METHOD(GetCommissioningHomingMethod, "get_commissioning_homing_method");
CELL_XMLRPC_METHOD(GetCommissioningHomingVel, "get_commissioning_homing_vel");
CELL_XMLRPC_METHOD(GetCommissioningHomingAcc, "get_commissioning_homing_acc");
CELL_XMLRPC_METHOD(GetCommissioningHomingSwitchVel, "get_commissioning_homing_switch_vel");
CELL_XMLRPC_METHOD(GetCommissioningScalingParam, "get_commissioning_scaling_param");
CELL_XMLRPC_METHOD(GetPosScalingNum, "get_pos_scaling_num");
CELL_XMLRPC_METHOD(GetVelScalingDenom, "get_vel_scaling_denom");
CELL_XMLRPC_METHOD(GetVelScalingNum, "get_vel_scaling_num");
CELL_XMLRPC_METHOD(GetAccScalingDenom, "get_acc_scaling_denom");
CELL_XMLRPC_METHOD(GetAccScalingNum, "get_acc_scaling_num");
CELL_XMLRPC_METHOD(GetIsTargetReached, "get_is_target_reached");
CELL_XMLRPC_METHOD(GetIsQuickStopActive, "get_is_quick_stop_active");
CELL_XMLRPC_METHOD(GetIsSafetyActive, "get_is_safety_active");
CELL_XMLRPC_METHOD(ActivateDebugMode, "activate_debug_mode");
CELL_XMLRPC_METHOD(GetLimitSwitchDetected, "get_limit_switch_detected");
CELL_XMLRPC_METHOD(GetPositiveLimitSwitchDetected, "get_positive_limit_switch_detected");
CELL_XMLRPC_METHOD(GetNegativeLimitSwitchDetected, "get_negative_limit_switch_detected");
CELL_XMLRPC_METHOD(GetDigitalInputsOutputs, "get_digital_inputs_outputs");
CELL_XMLRPC_METHOD(ProgramMoveToTargetPosition, "program_move_to_target_position");
CELL_XMLRPC_METHOD(ProgramMoveToTargetVelocity, "program_move_to_target_velocity");
CELL_XMLRPC_METHOD(ProgramDoHoming, "program_do_homing");
CELL_XMLRPC_METHOD(ProgramGetState, "program_get_state");

#undef CELL_XMLRPC_METHOD

class XmlRpcInterface {
public:
    XmlRpcInterface(Axes_Manager_Interface* am_iface, Program_Command_Manager* cmd_manager, Ethercat_Info* eth_info);
    XmlRpcInterface(const XmlRpcInterface&) = delete;
    XmlRpcInterface& operator=(const XmlRpcInterface&) = delete;

    // Sets the verbosity, binds and listens (backlog 5) and switches
    // introspection; false when the port cannot be bound.
    [[nodiscard]] bool create_server(int port, bool introspection, int verbosity);
    // How long a connection may take for its next request (default 30 s).
    void set_idle_limit(std::chrono::milliseconds limit) { m_gate.set_idle_limit(limit); }
    // Serves calls for that many seconds, for ever when negative.
    void start_server(double seconds);
    // Ends a work loop from another thread.
    void stop_server() { m_gate.stop(); }
    // The bound port (of interest after binding port 0).
    int port() const { return m_gate.port(); }

private:
    // The library's server, its fault answers made public to the gate.
    class Server : public XmlRpc::XmlRpcServer {
    public:
        using XmlRpc::XmlRpcServer::generateFaultResponse;
    };

    Axes_Manager_Interface* _am_iface;
    Server _server;
    GetVersionNumber get_version_number;
    GetEthercatOnlineSlavesNumber get_ethercat_online_slaves_number;
    GetAxesManagerStatus get_axes_manager_status;
    GetOndaraId get_ondara_id;
    GetEthercatXmlIndex get_ethercat_xml_idx;
    GetEthercatSlaveType get_ethercat_slave_type;
    GetEthercatSlaveVendorId get_ethercat_slave_vendor_id;
    GetEthercatSlaveProductCode get_ethercat_slave_product_code;
    ResetAxes reset_axes;
    DetorqueAxes detorque_axes;
    SendQuickStopRequest send_quick_stop_request;
    DoHoming do_homing;
    MoveToTargetVel move_to_target_vel;
    MoveToTargetPos move_to_target_pos;
    MoveToPosLimitSwitch move_to_pos_limit_switch;
    MoveToNegLimitSwitch move_to_neg_limit_switch;
    GetActualPos get_actual_pos;
    GetActualVel get_actual_vel;
    GetAxStatus get_ax_status;
    GetOndaraProgramStatus get_ondara_program_status;
    StopOndara stop_ondara;
    ReadLastError read_last_error;
    ReadLastWarning read_last_warning;
    SendHaltRequest send_halt_request;
    GetCommissioningVel get_commissioning_vel;
    GetCommissioningAcc get_commissioning_acc;
    GetCommissioningHomingMethod get_commissioning_homing_method;
    GetCommissioningHomingVel get_commissioning_homing_vel;
    GetCommissioningHomingAcc get_commissioning_homing_acc;
    GetCommissioningHomingSwitchVel get_commissioning_homing_switch_vel;
    GetCommissioningScalingParam get_commissioning_scaling_param;
    GetPosScalingNum get_pos_scaling_num;
    GetVelScalingDenom get_vel_scaling_denom;
    GetVelScalingNum get_vel_scaling_num;
    GetAccScalingDenom get_acc_scaling_denom;
    GetAccScalingNum get_acc_scaling_num;
    GetIsTargetReached get_is_target_reached;
    GetIsQuickStopActive get_is_quick_stop_active;
    GetIsSafetyActive get_is_safety_active;
    ActivateDebugMode activate_debug_mode;
    GetLimitSwitchDetected get_limit_switch_detected;
    GetPositiveLimitSwitchDetected get_positive_limit_switch_detected;
    GetNegativeLimitSwitchDetected get_negative_limit_switch_detected;
    GetDigitalInputsOutputs get_digital_inputs_outputs;
    ProgramMoveToTargetPosition program_move_to_target_position;
    ProgramMoveToTargetVelocity program_move_to_target_velocity;
    ProgramDoHoming program_do_homing;
    ProgramGetState program_get_state;
    Xmlrpc_Gate m_gate;
};
