#include "xmlrpc_interface.h"

XmlRpcInterface::XmlRpcInterface(Axes_Manager_Interface* am_iface, Program_Command_Manager* cmd_manager,
                                 Ethercat_Info* eth_info)
    : _am_iface(am_iface), get_version_number(am_iface, &_server, cmd_manager, eth_info),
      get_ethercat_online_slaves_number(am_iface, &_server, cmd_manager, eth_info),
      get_axes_manager_status(am_iface, &_server, cmd_manager, eth_info),
      get_ondara_id(am_iface, &_server, cmd_manager, eth_info),
      get_ethercat_xml_idx(am_iface, &_server, cmd_manager, eth_info),
      get_ethercat_slave_type(am_iface, &_server, cmd_manager, eth_info),
      get_ethercat_slave_vendor_id(am_iface, &_server, cmd_manager, eth_info),
      get_ethercat_slave_product_code(am_iface, &_server, cmd_manager, eth_info),
      reset_axes(am_iface, &_server, cmd_manager, eth_info), detorque_axes(am_iface, &_server, cmd_manager, eth_info),
      send_quick_stop_request(am_iface, &_server, cmd_manager, eth_info),
      do_homing(am_iface, &_server, cmd_manager, eth_info),
      move_to_target_vel(am_iface, &_server, cmd_manager, eth_info),
      move_to_target_pos(am_iface, &_server, cmd_manager, eth_info),
      move_to_pos_limit_switch(am_iface, &_server, cmd_manager, eth_info),
      move_to_neg_limit_switch(am_iface, &_server, cmd_manager, eth_info),
      get_actual_pos(am_iface, &_server, cmd_manager, eth_info),
      get_actual_vel(am_iface, &_server, cmd_manager, eth_info),
      get_ax_status(am_iface, &_server, cmd_manager, eth_info),
      get_ondara_program_status(am_iface, &_server, cmd_manager, eth_info),
      stop_ondara(am_iface, &_server, cmd_manager, eth_info),
      read_last_error(am_iface, &_server, cmd_manager, eth_info),
      read_last_warning(am_iface, &_server, cmd_manager, eth_info),
      send_halt_request(am_iface, &_server, cmd_manager, eth_info),
      get_commissioning_vel(am_iface, &_server, cmd_manager, eth_info),
      get_commissioning_acc(am_iface, &_server, cmd_manager, eth_info),
      get_commissioning_homing_method(am_iface, &_server, cmd_manager, eth_info),
      get_commissioning_homing_vel(am_iface, &_server, cmd_manager, eth_info),
      get_commissioning_homing_acc(am_iface, &_server, cmd_manager, eth_info),
      get_commissioning_homing_switch_vel(am_iface, &_server, cmd_manager, eth_info),
      get_commissioning_scaling_param(am_iface, &_server, cmd_manager, eth_info),
      get_pos_scaling_num(am_iface, &_server, cmd_manager, eth_info),
      get_vel_scaling_denom(am_iface, &_server, cmd_manager, eth_info),
      get_vel_scaling_num(am_iface, &_server, cmd_manager, eth_info),
      get_acc_scaling_denom(am_iface, &_server, cmd_manager, eth_info),
      get_acc_scaling_num(am_iface, &_server, cmd_manager, eth_info),
      get_is_target_reached(am_iface, &_server, cmd_manager, eth_info),
      get_is_quick_stop_active(am_iface, &_server, cmd_manager, eth_info),
      get_is_safety_active(am_iface, &_server, cmd_manager, eth_info),
      activate_debug_mode(am_iface, &_server, cmd_manager, eth_info),
      get_limit_switch_detected(am_iface, &_server, cmd_manager, eth_info),
      get_positive_limit_switch_detected(am_iface, &_server, cmd_manager, eth_info),
      get_negative_limit_switch_detected(am_iface, &_server, cmd_manager, eth_info),
      get_digital_inputs_outputs(am_iface, &_server, cmd_manager, eth_info),
      program_move_to_target_position(am_iface, &_server, cmd_manager, eth_info),
      program_move_to_target_velocity(am_iface, &_server, cmd_manager, eth_info),
      program_do_homing(am_iface, &_server, cmd_manager, eth_info),
      program_get_state(am_iface, &_server, cmd_manager, eth_info),
      m_gate([this](const std::string& body) { return _server.executeRequest(body); },
             [this](const std::string& text) { return _server.generateFaultResponse(text); })
{
}

bool XmlRpcInterface::create_server(int port, bool introspection, int verbosity)
{
    XmlRpc::setVerbosity(verbosity);
    const bool bound = m_gate.listen(port, 5);
    _server.enableIntrospection(introspection);
    return bound;
}

void XmlRpcInterface::start_server(double seconds)
{
    m_gate.serve(seconds);
}
