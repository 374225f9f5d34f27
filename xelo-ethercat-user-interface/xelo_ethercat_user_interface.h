#pragma once

// Client side of busmaster: text requests over UDP to the master's command
// socket on the loopback address, and the master's three shared memories.
// Every function returns 0 (or a value) on success and -1 on failure; the
// tick wait with time-out also returns -2. Complaints go to standard output.
// Nothing throws.
//
// preliminary_hook must be the first call of the process and is made once,
// by one thread; afterwards any thread may call. Requests of several threads
// are serialised by one library lock.

#include <cstdint>

#include "xelo_ethercat_system_types.h"

// One process-data entry of a slave.
struct Info_Pdo_Struct {
    uint32_t index;
    uint32_t subindex;
    int bitlength;
};

// ---- connection ------------------------------------------------------------
// Maps the three memories, creates the socket and checks the master's
// version; 32 on success. system_port is not used: the master is reached at
// the protocol's address and port.
int preliminary_hook(int system_port);
// Starts the master on an ENI file: 0 when the bus runs.
int open_connection_with_master(const char* xml_twincat_file);
// Joins a bus that another client started and that runs (SAFE-OP or OP)
// without changing it: 0, or -1 when the master runs no such bus. Only
// requests that read should follow; the bus is left to its owner.
int join_running_master();
// Restarts communication with the slaves on the loaded ENI file.
int reopen_connection();
// Stops the master.
int close_connection_with_master();
// Ends the library's use: clears the hooked state.
int last_unhook();
// Ends every wait for a reply at once; every request fails until the next
// preliminary_hook. Async-signal-safe: a stop request of the process.
void cancel_master_requests();

// ---- requests ----------------------------------------------------------------
int check_slaves_link();
int get_last_system_error(ECM_Error_Struct* error_struct);
int get_frame_resend_info(int* num_frame_resend, int* max_consecutive_resend);
int get_slave_state_info(int address_slave, int* request_state, int* actual_state, int* error_code);
int get_slave_frame_errors_counters(int address_slave, int* port_in_rx_error, int* port_out_rx_error,
                                    int* port_in_fw_error, int* port_out_fw_error);
Ec_System_State get_system_state();
int get_master_time_info(int* master_slot_cycle_time_ns, int* master_max_slot_cycle_time_ns,
                         int* master_max_resend_slot_cycle_time_ns, int* master_jitter_time_ns,
                         int* master_max_jitter_time_ns);
int get_master_time_info_first_dc_frame(int* slave_ref_clock_ns, int* next_sync_time_ns, int* frame_send_time_ns,
                                        int* resto_ns);
int get_master_slot_time_info(int* actual_time_ns, int* min_time_ns, int* max_time_ns);
int get_master_jitter_time_info(int* actual_time_ns, int* min_time_ns, int* max_time_ns);
int get_frame_gap_time_info(int* actual_time_ns, int* min_time_ns, int* max_time_ns);
int get_slave_eeprom_information(int address_slave, uint32_t* vendor_id, uint32_t* product_code,
                                 uint32_t* serial_number, uint16_t* config_alias);
// Position counted from 1.
int get_slave_information_incr_read(int incr_slave_position, uint32_t* vendor_id, uint32_t* product_code,
                                    uint32_t* serial_number, uint16_t* config_alias);
int get_slave_address(char* slave_name);
State_Enum get_master_state();
int get_slaves_number();
// Waits until the master has changed state (bounded like a bus start).
int go_into_new_state(State_Enum desired_state);
int reset_all_timer_info();
int set_operational_cycle_time_ns(int ns_time_cycle);
int set_watchdog_on(int num_cycle);
int set_watchdog_off();
int write_config_alias_into_slave(int address_slave, uint16_t config_alias);
// The caller's array holds num_input (num_output) entries.
int get_slave_inputs_address(int address_slave, int num_input, Info_Pdo_Struct* input_struct);
int get_slave_outputs_address(int address_slave, int num_output, Info_Pdo_Struct* output_struct);
int get_data_via_sdo_from_slave(uint16_t address_slave, int index_el, int sub_index_el, int dim_data_el,
                                uint8_t* data_el);
int set_data_via_sdo_to_slave(uint16_t address_slave, int index_el, int sub_index_el, int dim_data_el,
                              uint8_t* data_el);
int push_sdo_into_queue(uint16_t address_slave, int index_el, int sub_index_el, uint8_t sdo_code, int dim_data_el,
                        uint8_t* data_el);
// The number of results that were waiting (this one included), 0 when none.
// data_el must hold ECM_SDO_REPLY_MAX_BYTES bytes: a longer result is refused.
constexpr int ECM_SDO_REPLY_MAX_BYTES = 256;
int pop_sdo_from_queue(uint16_t* address_slave, int* index_el, int* sub_index_el, uint8_t* sdo_code, int* dim_data_el,
                       uint8_t* data_el);
// Not offered by the master: always -1.
int get_operational_cycle_time_ns();
// Type 0 bounds the address by the configured slave count, type 1 by the
// active one.
int check_address_slave_type(int address_slave, int slave_type);
int check_address_slave(int address_slave);

// ---- memories, process data and tick ---------------------------------------------
int connect_pdo_shm_mem();
int connect_info_shm_mem();
int connect_tick_shm_mem();
int disconnect_pdo_shm_mem();
int disconnect_info_shm_mem();
int disconnect_tick_shm_mem();

int get_slave_input_byte_dim(int address_slave);
int get_slave_input_num(int address_slave);
int get_slave_output_byte_dim(int address_slave);
int get_slave_output_num(int address_slave);

// num_byte must be the slave's byte count. Each call holds the master's
// mutexes for its copy.
int get_slave_inputs_values(int address_slave, int num_byte, uint8_t* inputs);
int set_slave_outputs_values(int address_slave, int num_byte, uint8_t* outputs);
// The same without any lock and silent: the caller holds both memory mutexes
// (lock_ecm_master_mutex_warning_use) around a batch of slaves.
int get_slave_inputs_values_warning_use(int address_slave, int num_byte, uint8_t* inputs);
int set_slave_outputs_value_warning_use(int address_slave, int num_byte, uint8_t* outputs);
int lock_ecm_master_mutex_warning_use();
int unlock_ecm_master_mutex_warning_use();

// Ticks counted since the last read (1 when none was missed), -1 when the
// master stopped its cycle or is not in OP (after 10 ms).
int wait_master_tick();
int wait_master_tick_and_alerts(Master_Alerts* master_alerts);
// As wait_master_tick, or -2 when no tick came within timeout_ms.
int wait_master_tick_with_timeout(unsigned int timeout_ms);
