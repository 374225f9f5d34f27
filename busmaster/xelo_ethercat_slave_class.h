#pragma once

#include <cstdint>
#include <list>
#include <string>
#include <vector>

#include "xelo_ethercat_cfg.h"
#include "xelo_ethercat_system_types.h"

// One mapped process-data entry of a slave.
struct Info_Pdo_Struct {
    uint32_t index;
    uint32_t subindex;
    int bitlength;
};

using CoE_InitCmd = EtherCATConfig_Config_Slave_Mailbox_CoE_InitCmds_InitCmd;

// The CoE init commands of one slave, one list per transition.
struct CoE_InitCmds_Struct {
    std::list<CoE_InitCmd> m_CoE_initCmd_IP_transition;
    std::list<CoE_InitCmd> m_CoE_initCmd_PS_transition;
    std::list<CoE_InitCmd> m_CoE_initCmd_SO_transition;
    std::list<CoE_InitCmd> m_CoE_initCmd_OS_transition;
    std::list<CoE_InitCmd> m_CoE_initCmd_OP_transition;
    std::list<CoE_InitCmd> m_CoE_initCmd_OI_transition;
    std::list<CoE_InitCmd> m_CoE_initCmd_SP_transition;
    std::list<CoE_InitCmd> m_CoE_initCmd_SI_transition;
    std::list<CoE_InitCmd> m_CoE_initCmd_PI_transition;
};

// The master's picture of one slave, built once from its ENI element: init
// commands per transition, mailbox geometry, distributed-clock settings, the
// place of its process data in the process-data memory and the PDO entry
// tables; topology, delays and the EEPROM identity are filled in later.
// Slave i of the ENI has the position address 0 - i (mod 65536).
class ECM_Slave {
public:
    // Throws std::runtime_error on a mailbox whose send and receive sizes
    // differ, or when the process-data memory's mutex cannot be taken.
    ECM_Slave(EtherCATConfig_Config_Slave slave, Shared_Pdo_Mem_Region* pdo, uint16_t num);

    // The init commands of transition (IP..OI); null for any other.
    std::list<ECatCmdType>* get_initCmd_list(TransitionType transition);
    // The CoE init commands of transition (IP..OI); IB, BI, II, PP and SS
    // throw, anything else is null.
    std::list<CoE_InitCmd>* get_CoE_cmd(TransitionType transition);
    // Empties the CoE lists and the PDO entry tables.
    void clear_mem();

    // Identity read from the EEPROM; the getters throw while not read.
    void set_vendor_id(uint32_t value);
    void set_product_code(uint32_t value);
    void set_serial_number(uint32_t value);
    void set_config_alias(uint16_t value);
    uint32_t get_vendor_id() const;
    uint32_t get_product_code() const;
    uint32_t get_serial_number() const;
    uint16_t get_config_alias() const { return config_alias; }
    void set_first_seven_eeprom_word(const uint16_t* words);
    void get_first_seven_eeprom_word(uint16_t* words) const;
    uint16_t get_num_order() const { return m_num_order; }

    // Entry n of the inputs (TxPDO) or outputs (RxPDO); -1 (all ones for the
    // unsigned ones) when n is not an entry.
    uint32_t get_input_index(int n) const;
    uint32_t get_input_subindex(int n) const;
    int get_input_bitlength(int n) const;
    uint32_t get_output_index(int n) const;
    uint32_t get_output_subindex(int n) const;
    int get_output_bitlength(int n) const;

    uint16_t get_config_address() const { return m_configadr; }
    std::string get_slave_name() const { return m_slave_info.name_m_el; }
    bool has_input() const { return m_Ibytes != 0; }
    bool has_output() const { return m_Obytes != 0; }
    bool has_mailbox() const { return m_has_mailbox; }
    bool has_CoE() const { return m_has_CoE; }
    bool has_dc() const { return m_has_DC; }
    static int get_pdo_size(const EtherCATConfig_Config_Slave_Process_Data_SR* sr) { return sr->bit_length_m_el; }
    static int get_pdo_startbit(const EtherCATConfig_Config_Slave_Process_Data_SR* sr) { return sr->bit_start_m_el; }
    int get_num_output() const { return m_outputs_number; }
    int get_num_input() const { return m_inputs_number; }
    int get_output_byte_dim() const { return m_Obytes; }
    int get_output_bit_dim() const { return m_Obits; }
    int get_output_shm_start_byte() const { return m_outputs_shm_start_byte; }
    int get_output_shm_start_offs_bit() const { return m_outputs_shm_start_offs_bit; }
    int get_input_byte_dim() const { return m_Ibytes; }
    int get_input_bit_dim() const { return m_Ibits; }
    int get_input_shm_start_byte() const { return m_inputs_shm_start_byte; }
    int get_input_shm_start_offs_bit() const { return m_inputs_shm_start_offs_bit; }
    uint8_t* get_outputs() const { return m_outputs; }
    uint8_t* get_inputs() const { return m_inputs; }
    uint16_t get_mailbox_length() const { return m_mbx_l; }
    uint16_t get_mailbox_writeoffset() const { return m_mbx_wo; }
    uint16_t get_mailbox_readoffset() const { return m_mbx_ro; }
    uint8_t get_mailbox_counter() const { return m_mbx_cnt; }
    void set_mailbox_counter(uint8_t value) { m_mbx_cnt = value; }
    uint8_t get_ptype() const { return m_ptype; }
    void set_ptype(uint8_t value) { m_ptype = value; }
    uint8_t get_topology() const { return m_topology; }
    void set_topology(uint8_t value) { m_topology = value; }
    uint8_t get_activeports() const { return m_activeports; }
    void set_activeports(uint8_t value) { m_activeports = value; }
    uint8_t get_consumedports() const { return m_consumedports; }
    void set_consumedports(uint8_t value) { m_consumedports = value; }
    uint16_t get_parent() const { return m_parent; }
    void set_parent(uint16_t value) { m_parent = value; }
    uint8_t get_parentport() const { return m_parentport; }
    void set_parentport(uint8_t value) { m_parentport = value; }
    uint8_t get_entryport() const { return m_entryport; }
    void set_entryport(uint8_t value) { m_entryport = value; }
    uint16_t get_DCprevious() const { return m_DCprevious; }
    void set_DCprevious(uint16_t value) { m_DCprevious = value; }
    uint16_t get_DCnext() const { return m_DCnext; }
    void set_DCnext(uint16_t value) { m_DCnext = value; }
    int32_t get_DCrtA() const { return m_DCrtA; }
    int32_t get_DCrtB() const { return m_DCrtB; }
    int32_t get_DCrtC() const { return m_DCrtC; }
    int32_t get_DCrtD() const { return m_DCrtD; }
    void set_DCrtA(int32_t value) { m_DCrtA = value; }
    void set_DCrtB(int32_t value) { m_DCrtB = value; }
    void set_DCrtC(int32_t value) { m_DCrtC = value; }
    void set_DCrtD(int32_t value) { m_DCrtD = value; }
    int32_t get_pdelay() const { return m_pdelay; }
    void set_pdelay(int32_t value) { m_pdelay = value; }
    bool get_dc_reference_clock() const { return m_dc_reference_clock; }
    int get_dc_cycle_time_sync0() const { return m_dc_cycle_time_sync0; }
    int get_dc_cycle_time_sync1() const { return m_dc_cycle_time_sync1; }
    int get_dc_shift_time() const { return m_dc_shift_time_m_el; }
    uint32_t get_min_dc_cycle_time() const { return m_min_dc_cycle_time; }
    void set_min_dc_cycle_time(uint32_t value) { m_min_dc_cycle_time = value; }
    uint32_t get_dc_in_shift_cycle_time() const { return m_dc_in_shift_cycle_time; }
    void set_dc_in_shift_cycle_time(uint32_t value) { m_dc_in_shift_cycle_time = value; }
    uint32_t get_dc_in_calc_copy_time() const { return m_dc_in_calc_copy_time; }
    void set_dc_in_calc_copy_time(uint32_t value) { m_dc_in_calc_copy_time = value; }

    int32_t DCcycle = 0;
    int32_t DCshift = 0;
    uint8_t DCactive = 0;

private:
    void get_initcmds(const InitCmds* init_cmds);
    void get_mailbox_info(const EtherCATConfig_Config_Slave_Mailbox* mailbox);
    void manage_CoE_mailbox_protocol(const EtherCATConfig_Config_Slave_Mailbox_CoE* coe);
    void manage_DC_config_info(const EtherCATConfig_Config_Slave_DC* dc);
    void get_process_data(const EtherCATConfig_Config_Slave_ProcessData* process_data, Shared_Pdo_Mem_Region* pdo);
    void manage_processdata_info(const EtherCATConfig_Config_Slave_ProcessData* process_data);

    std::list<ECatCmdType> m_initCmd_IP_transition;
    std::list<ECatCmdType> m_initCmd_PS_transition;
    std::list<ECatCmdType> m_initCmd_SO_transition;
    std::list<ECatCmdType> m_initCmd_OS_transition;
    std::list<ECatCmdType> m_initCmd_OP_transition;
    std::list<ECatCmdType> m_initCmd_OI_transition;
    std::list<ECatCmdType> m_initCmd_SP_transition;
    std::list<ECatCmdType> m_initCmd_SI_transition;
    std::list<ECatCmdType> m_initCmd_PI_transition;

    bool m_has_rxpdo = false;
    std::vector<Info_Pdo_Struct> m_rx_pdo_info;
    bool m_has_txpdo = false;
    std::vector<Info_Pdo_Struct> m_tx_pdo_info;

    bool m_has_mailbox = false;
    bool m_has_CoE = false;
    CoE_InitCmds_Struct m_CoE_initCmds;

    EtherCATConfig_Config_Slave_Info m_slave_info;

    bool m_has_DC = false;
    bool m_dc_reference_clock = false;
    int m_dc_cycle_time_sync0 = 0;
    int m_dc_cycle_time_sync1 = 0;
    int m_dc_shift_time_m_el = 0;
    uint32_t m_min_dc_cycle_time = 0;
    uint32_t m_dc_in_shift_cycle_time = 0;
    uint32_t m_dc_in_calc_copy_time = 0;

    uint8_t m_ptype = 0;
    uint8_t m_topology = 0;
    uint8_t m_activeports = 0;
    uint8_t m_consumedports = 0;
    uint16_t m_parent = 0;
    uint8_t m_parentport = 0;
    uint8_t m_entryport = 0;
    int32_t m_DCrtA = 0;
    int32_t m_DCrtB = 0;
    int32_t m_DCrtC = 0;
    int32_t m_DCrtD = 0;
    int32_t m_pdelay = 0;
    uint16_t m_DCnext = 0;
    uint16_t m_DCprevious = 0;

    Shared_Pdo_Mem_Region* m_pdo_map = nullptr;
    uint16_t m_configadr = 0xFFFF;
    int m_Obits = 0;
    int m_Obytes = 0;
    uint8_t* m_outputs = nullptr;
    int m_outputs_number = 0;
    int m_Ostartbit = 0;
    int m_outputs_shm_start_byte = 0;
    int m_outputs_shm_start_offs_bit = 0;
    int m_Ibits = 0;
    int m_Ibytes = 0;
    uint8_t* m_inputs = nullptr;
    int m_inputs_number = 0;
    int m_Istartbit = 0;
    int m_inputs_shm_start_byte = 0;
    int m_inputs_shm_start_offs_bit = 0;

    uint16_t m_mbx_l = 0;
    uint16_t m_mbx_wo = 0;
    uint16_t m_mbx_ro = 0;
    uint8_t m_mbx_cnt = 1;

    uint16_t m_num_order = 0;
    uint32_t vendor_id = 0xFFFFFFFF;
    uint32_t product_code = 0xFFFFFFFF;
    uint32_t serial_number = 0xFFFFFFFF;
    uint16_t config_alias = 0xFFFF;
    uint16_t m_eeprom_data[7] = {};
};
