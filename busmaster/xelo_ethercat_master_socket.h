#pragma once

#include <sys/types.h>

#include <map>
#include <memory>
#include <sstream>
#include <string>

#include "xelo_ethercat_master_class.h"
#include "xelo_ethercat_system_types.h"
#include "xelo_server_socket_udp.h"
#include "xelo_xml_parser.h"

// The front end of busmaster: reads the system configuration, creates the
// three shared memories, binds the UDP command server and serves one request
// at a time: "<id>#<command word> <arguments>" answered by "<id>#<reply>".
// A failing set-up step is not thrown: it is logged and read back as
// SYSTEM_SETUP_FAILED from view_system_state.
class ECM_Master_Socket : public ECM_Master {
public:
    ECM_Master_Socket(const std::string& xml_base_cfg_file, bool soft_reatime_on,
                      uint32_t soft_realtime_max_cycle_jitter, uint32_t max_consecutive_frame_faults);
    ~ECM_Master_Socket();

    void set_gap_minimo_ns(uint32_t gap_min_ns);
    int view_system_state() const { return m_ecm_system_state; }

    void open_socket_real_udp();
    bool is_system_real_udp_socket_active() const { return m_is_ecm_real_udp_socket_active; }
    // Blocks until one request datagram has been read.
    void wait_request_real_udp();
    // Frames, dispatches and answers the request read last.
    void execute_request_and_reply_real_udp();
    void close_connection_with_client_real_udp();

    // The reply text of the request executed last, before framing.
    const std::string& last_reply() const { return m_reply_real_udp; }
    // The interface name and command-server endpoint read from the configuration.
    const std::string& net_interface_name() const { return m_ecm_net_interface_name; }
    const std::string& command_server_address() const { return m_ecm_user_socket_real_udp_ip_addr; }
    int command_server_port() const { return m_ecm_user_socket_real_udp_port; }

    void get_master_last_error(ECM_Error_Struct* error) const;
    // Whether the command table has this word.
    static bool has_command(const std::string& word);

private:
    using Handler = std::string (ECM_Master_Socket::*)(std::istream& args);

    void load_xml_info(const std::string& xml_cfg_file);
    // Runs the handler of word; an unknown word is answered "reply_error".
    void dispatch_request_ex(const std::string& word, std::istream& args);
    void create_and_map_pdo_shared_memory();
    void create_and_map_info_slave_shared_memory();
    void create_and_map_tick_shared_memory();
    static const std::map<std::string, Handler>& command_table();

    // Query handlers.
    std::string get_system_version(std::istream& args);
    std::string get_system_state(std::istream& args);
    std::string get_last_system_error(std::istream& args);
    std::string get_frame_resend_info_exec(std::istream& args);
    std::string get_master_ethercat_state_exec(std::istream& args);
    std::string get_op_cycle_time_exec(std::istream& args);
    std::string request_timer_info_reset_exec(std::istream& args);
    std::string close_connection_exec(std::istream& args);
    // Timing queries: answered only in OP, else "reply_error".
    std::string get_master_slot_time_info_exec(std::istream& args);
    std::string get_master_jitter_time_info_exec(std::istream& args);
    std::string get_frame_gap_time_info_exec(std::istream& args);
    std::string get_master_time_info_first_frame_exec(std::istream& args);
    std::string get_master_time_info_exec(std::istream& args);
    // Lifecycle and state.
    std::string start_ec_master(std::istream& args);
    std::string restart_master_comunication_with_slave(std::istream& args);
    std::string stop_ec_master(std::istream& args);
    std::string go_to_next_state_exec(std::istream& args);
    // Slave queries.
    std::string get_slaves_number_exec(std::istream& args);
    std::string get_slave_state_info_exec(std::istream& args);
    std::string get_slave_address_exec(std::istream& args);
    std::string get_slave_errors_counters_exec(std::istream& args);
    std::string get_slave_eeprom_info(std::istream& args);
    std::string get_slave_input_index_exec(std::istream& args);
    std::string get_slave_input_subindex_exec(std::istream& args);
    std::string get_slave_input_bitlength_exec(std::istream& args);
    std::string get_slave_output_index_exec(std::istream& args);
    std::string get_slave_output_subindex_exec(std::istream& args);
    std::string get_slave_output_bitlength_exec(std::istream& args);
    // SDO handlers: blocking transfers and the two ends of the queue; each
    // answers "reply_error" on any failure or malformed argument.
    std::string get_data_via_sdo_exec(std::istream& args);
    std::string set_data_via_sdo_exec(std::istream& args);
    std::string push_sdo_exec(std::istream& args);
    std::string pop_sdo_exec(std::istream& args);
    // EEPROM alias, identity by ring position and link walk.
    std::string write_config_alias_into_eeprom_slave_exec(std::istream& args);
    std::string auto_incr_slave_info_exec(std::istream& args);
    std::string check_slaves_link_exec(std::istream& args);
    // Cycle settings, refused while the cyclic thread runs.
    std::string set_op_cycle_time_exec(std::istream& args);
    std::string set_watchdog_on_exec(std::istream& args);
    std::string set_watchdog_off_exec(std::istream& args);
    // The reply of a failed start or restart.
    std::string start_failure_reply();
    // A network still running (cyclic thread, slaves above INIT) goes to
    // INIT first, so that nothing reopens the interface under the cycle.
    void take_running_network_to_init(const char* handler);
    // Marks the request not critical and refuses unless the master is in OP.
    void require_operational_ex(const char* refusal);

    std::string m_ecm_net_interface_name;
    Ec_System_State m_ecm_system_state = SYSTEM_OFF;
    int m_ecm_user_socket_real_udp_port = -1;
    std::string m_ecm_user_socket_real_udp_ip_addr;
    std::string m_ecm_socket_request_read_real_udp;
    std::unique_ptr<ServerSocket_Udp_ex> m_ecm_socket_real_udp_server;
    int m_ecm_system_version = 0;
    bool m_is_ecm_real_udp_socket_active = false;

    int m_shmem_pdo_fd = -1;
    int m_shmem_pdo_status = -1;
    Shared_Pdo_Mem_Region* m_shmem_pdo_ptr = nullptr;
    int m_shmem_info_slave_fd = -1;
    int m_shmem_info_slave_status = -1;
    Shared_Slave_Info_Mem_Region* m_shmem_info_slave_ptr = nullptr;
    int m_shmem_tick_fd = -1;
    int m_shmem_tick_status = -1;
    Shared_Tick_Mem_Region* m_shmem_tick_ptr = nullptr;

    XELO_XML::XML_IO m_xml_ecm_system;
    std::string m_reply_real_udp;
    bool m_is_critical_request_real_udp = true;
    // The request read last was longer than a request datagram may be.
    bool m_request_too_long = false;
    // The request read last ended in the line end.
    bool m_request_terminated = true;
};
