#pragma once
// Model of an EtherCAT network information file (ETG.2100 "EtherCATConfig"):
// one plain value class per element, filled once from the parsed document
// and then only read.
//
// Member names tell how a member is read: `_m_el` a mandatory element,
// `_o_el` an optional element with its `has_` flag, `_oxor_el`/`_mxor_el`
// the branches of a choice, `_o_att` an optional attribute with its `has_`
// flag. An optional element counts as present only when it occurs exactly
// once; a list when its element occurs at least once. A member whose flag is
// false keeps its default.
//
// Numbers are decimal text; "0x..." and "#x..." are read as hexadecimal in
// every number field, and text that is no number, or a number that does not
// fit its field, is an error naming the element. Truth values are 0/1 (any
// other number is true) or true/false. Every failure leaves the constructor
// of EtherCATConfig_Config as one std::runtime_error; no partial model.
//
// Every class has `operator<<`, a tag-per-member text dump used for
// diagnostics and tests.

#include <libxml++/libxml++.h>

#include <cstdint>
#include <list>
#include <ostream>
#include <string>
#include <vector>

#include "ethercat_codes.h"
#include "xelo_xml_parser.h"

using ENI_Bytes = std::vector<unsigned char>;

// ---- transitions --------------------------------------------------------

enum TransitionType : int32_t {
    IP = 0,
    PS = 1,
    PI = 2,
    SP = 3,
    SO = 4,
    SI = 5,
    OS = 6,
    OP = 7,
    OI = 8,
    IB = 9,
    BI = 10,
    II = 11,
    PP = 12,
    SS = 13,
};

// The two-letter text of a transition ("PS"). Throws std::runtime_error
// naming the text when it is not one of the fourteen.
TransitionType str2trans(std::string text);
// The two-letter text; empty for a value outside the table.
std::string trans2str(TransitionType transition);

// ---- init commands ------------------------------------------------------

class ECatCmdType_Validate {
public:
    ECatCmdType_Validate() = default;
    ECatCmdType_Validate(const XELO_XML::XML_IO& xml, const xmlpp::Node* node);
    void setup(const XELO_XML::XML_IO& xml, const xmlpp::Node* node);

    ENI_Bytes data_m_el;
    bool has_data_mask_o_olement = false;
    ENI_Bytes data_mask_o_olement;
    int32_t timeout_m_el = 0;
};

// One register init command (also the hot-connect identify command).
class ECatCmdType {
public:
    enum Requires_Enum : int32_t { REQUIRES_NULL = 0, FRAME = 1, CYCLE = 2 };
    using Cmd_Enum = ec_cmdtype;

    ECatCmdType() = default;
    ECatCmdType(const XELO_XML::XML_IO& xml, const xmlpp::Node* node);

    bool has_transition_o_el = false;
    std::list<TransitionType> transition_o_el;
    bool has_before_slaves_o_el = false;
    bool before_slaves_o_el = false;
    bool has_comment_o_el = false;
    std::string comment_o_el;
    bool has_requires_o_el = false;
    Requires_Enum requires_o_el = REQUIRES_NULL;
    Cmd_Enum cmd_m_el = EC_CMD_NOP;
    bool has_adp_oxor_el = false;
    uint16_t adp_oxor_el = 0xFFFF;
    // Required unless the command carries Addr; 0 then when absent.
    uint16_t ado_mxor_el = 0;
    bool has_addr_oxor_el = false;
    uint32_t addr_oxor_el = 0xFFFFFFFF;
    bool has_data_oxor_el = false;
    ENI_Bytes data_oxor_el;
    bool has_data_length_oxor_el = false;
    uint16_t data_length_oxor_el = 0;
    bool has_cnt_o_el = false;
    int32_t cnt_o_el = 0;
    bool has_retries_o_el = false;
    int32_t retries_o_el = 0;
    bool has_validate_o_el = false;
    ECatCmdType_Validate validate_o_el;
};

class InitCmds {
public:
    InitCmds() = default;
    InitCmds(const XELO_XML::XML_IO& xml, const xmlpp::Node* node);
    void setup(const XELO_XML::XML_IO& xml, const xmlpp::Node* node);

    bool has_init_cmd_o_el = false;
    std::list<ECatCmdType> init_cmd_o_el;
};

// ---- shared element types -------------------------------------------------

class CopyInfosType_CopyInfo {
public:
    CopyInfosType_CopyInfo() = default;
    CopyInfosType_CopyInfo(const XELO_XML::XML_IO& xml, const xmlpp::Node* node);

    uint64_t src_bit_offs_m_el = 0;
    uint64_t dst_bit_offs_m_el = 0;
    uint64_t bit_size_m_el = 0;
};

class CopyInfosType {
public:
    CopyInfosType() = default;
    CopyInfosType(const XELO_XML::XML_IO& xml, const xmlpp::Node* node);
    void setup(const XELO_XML::XML_IO& xml, const xmlpp::Node* node);

    bool has_copy_info_o_el = false;
    std::list<CopyInfosType_CopyInfo> copy_info_o_el;
};

// Marks a VendorSpecific element; its content is not read.
class VendorSpecificType {
public:
    VendorSpecificType() = default;
    VendorSpecificType(const XELO_XML::XML_IO& xml, const xmlpp::Node* node);
    void setup(const XELO_XML::XML_IO& xml, const xmlpp::Node* node);

    int32_t any = 0;
};

class ProfileType_ChannelInfo {
public:
    ProfileType_ChannelInfo() = default;
    ProfileType_ChannelInfo(const XELO_XML::XML_IO& xml, const xmlpp::Node* node);

    int32_t profile_no_m_el = 0;
    bool has_add_info_o_el = false;
    int32_t add_info_o_el = 0;
    bool has_display_name_o_el = false;
    std::string display_name_o_el;
    bool has_overwritten_by_module_o_att = false;
    bool overwritten_by_module_o_att = false;
};

class ProfileType {
public:
    ProfileType() = default;
    ProfileType(const XELO_XML::XML_IO& xml, const xmlpp::Node* node);
    void setup(const XELO_XML::XML_IO& xml, const xmlpp::Node* node);

    std::list<ProfileType_ChannelInfo> channel_info_m_el;
    bool has_vendor_specific_o_el = false;
    VendorSpecificType vendor_specific_o_el;
};

// ---- slave process data ---------------------------------------------------

// A bit window of the process image.
class EtherCATConfig_Config_Slave_Process_Data_SR {
public:
    EtherCATConfig_Config_Slave_Process_Data_SR() = default;
    EtherCATConfig_Config_Slave_Process_Data_SR(const XELO_XML::XML_IO& xml, const xmlpp::Node* node);
    void setup(const XELO_XML::XML_IO& xml, const xmlpp::Node* node);

    int32_t bit_start_m_el = 0;
    int32_t bit_length_m_el = 0;
};
using EtherCATConfig_Config_Slave_Process_Data_Send = EtherCATConfig_Config_Slave_Process_Data_SR;
using EtherCATConfig_Config_Slave_Process_Data_Receve = EtherCATConfig_Config_Slave_Process_Data_SR;

class SyncManagerSettingsType {
public:
    // Stored as read; the words "Outputs" and "Inputs" are accepted too.
    enum Type_SM_Enum : int32_t { OUTPUTS = 0, INPUTS = 1 };

    SyncManagerSettingsType() = default;
    SyncManagerSettingsType(const XELO_XML::XML_IO& xml, const xmlpp::Node* node);
    void setup(const XELO_XML::XML_IO& xml, const xmlpp::Node* node);

    Type_SM_Enum type_m_el = OUTPUTS;
    bool has_min_size_o_el = false;
    int32_t min_size_o_el = 0;
    bool has_max_size_o_el = false;
    int32_t max_size_o_el = 0;
    bool has_default_size_o_el = false;
    int32_t default_size_o_el = 0;
    int32_t start_address_m_el = 0;
    int32_t control_byte_m_el = 0;
    bool enable_m_el = false;
    bool has_virtual_o_el = false;
    bool virtual_o_el = false;
    bool has_watchdog_o_el = false;
    int32_t watchdog_o_el = 0;
    bool has_pdo_o_el = false;
    std::list<int32_t> pdo_o_el;
};

class EntryType {
public:
    EntryType() = default;
    EntryType(const XELO_XML::XML_IO& xml, const xmlpp::Node* node);

    uint32_t index_m_el = 0;  // read as hexadecimal
    bool has_subindex_o_el = false;
    uint32_t subindex_o_el = 0;
    int32_t bit_len_m_el = 0;
    bool has_name_o_el = false;
    std::string name_o_el;
    bool has_comment_o_el = false;
    std::string comment_o_el;
    bool has_data_type_o_el = false;
    std::string data_type_o_el;
    bool has_dscale_o_att = false;  // the DScale child element
    std::string dscale_o_att;
};

class PdoType {
public:
    PdoType() = default;
    PdoType(const XELO_XML::XML_IO& xml, const xmlpp::Node* node);

    uint32_t index_m_el = 0;  // read as hexadecimal
    std::string name_m_el;
    bool has_exclude_o_el = false;
    std::list<uint32_t> exclude_o_el;
    bool has_entry_o_el = false;
    std::list<EntryType> entry_o_el;
    bool has_fixed_o_att = false;
    bool fixed_o_att = false;
    bool has_mandatory_o_att = false;
    bool mandatory_o_att = false;
    bool has_virtual_o_att = false;
    bool virtual_o_att = false;
    bool has_sm_o_att = false;
    int32_t sm_o_att = -1;
    bool has_su_o_att = false;
    int32_t su_o_att = -1;
    bool has_pdo_order_o_att = false;
    int32_t pdo_order_o_att = -1;
    bool has_os_fac_o_att = false;
    int32_t os_fac_o_att = -1;
    bool has_os_min_o_att = false;
    int32_t os_min_o_att = -1;
    bool has_os_max_o_att = false;
    int32_t os_max_o_att = -1;
    bool has_os_index_inc_o_att = false;
    int32_t os_index_inc_o_att = -1;
};

class EtherCATConfig_Config_Slave_ProcessData {
public:
    EtherCATConfig_Config_Slave_ProcessData() = default;
    EtherCATConfig_Config_Slave_ProcessData(const XELO_XML::XML_IO& xml, const xmlpp::Node* node);
    void setup(const XELO_XML::XML_IO& xml, const xmlpp::Node* node);

    bool has_send_o_el = false;
    EtherCATConfig_Config_Slave_Process_Data_Send send_o_el;
    bool has_recv_o_el = false;
    EtherCATConfig_Config_Slave_Process_Data_Receve recv_o_el;
    bool has_sm0_o_el = false;
    SyncManagerSettingsType sm0_o_el;
    bool has_sm1_o_el = false;
    SyncManagerSettingsType sm1_o_el;
    bool has_sm2_o_el = false;
    SyncManagerSettingsType sm2_o_el;
    bool has_sm3_o_el = false;
    SyncManagerSettingsType sm3_o_el;
    bool has_rxpdo_mxor_el = false;
    std::list<PdoType> rxpdo_mxor_el;
    bool has_txpdo_mxor_el = false;
    std::list<PdoType> txpdo_mxor_el;
};

// ---- slave mailbox --------------------------------------------------------

class MailboxSendInfoType {
public:
    MailboxSendInfoType() = default;
    MailboxSendInfoType(const XELO_XML::XML_IO& xml, const xmlpp::Node* node);
    void setup(const XELO_XML::XML_IO& xml, const xmlpp::Node* node);

    int32_t start_m_el = 0;
    int32_t length_m_el = 0;
    bool has_short_send_o_el = false;
    bool short_send_o_el = true;
};

class MailboxRecvInfoType {
public:
    MailboxRecvInfoType() = default;
    MailboxRecvInfoType(const XELO_XML::XML_IO& xml, const xmlpp::Node* node);
    void setup(const XELO_XML::XML_IO& xml, const xmlpp::Node* node);

    int32_t start_m_el = 0;
    int32_t length_m_el = 0;
    bool has_poll_time_o_el = false;
    int32_t poll_time_o_el = -1;
    bool has_status_bit_addr_o_el = false;
    int32_t status_bit_addr_o_el = -1;
};

class EtherCATConfig_Config_Slave_Mailbox_Bootstrap {
public:
    EtherCATConfig_Config_Slave_Mailbox_Bootstrap() = default;
    EtherCATConfig_Config_Slave_Mailbox_Bootstrap(const XELO_XML::XML_IO& xml, const xmlpp::Node* node);
    void setup(const XELO_XML::XML_IO& xml, const xmlpp::Node* node);

    MailboxSendInfoType send_m_el;
    MailboxRecvInfoType recv_m_el;
};

// One SDO access of the CoE section. The master downloads Data for Ccs 1
// and uploads (comparing with Data) for Ccs 2.
class EtherCATConfig_Config_Slave_Mailbox_CoE_InitCmds_InitCmd {
public:
    enum Ccs_Enum : int32_t { SDO_upload = 1, SDO_download = 2 };

    EtherCATConfig_Config_Slave_Mailbox_CoE_InitCmds_InitCmd() = default;
    EtherCATConfig_Config_Slave_Mailbox_CoE_InitCmds_InitCmd(const XELO_XML::XML_IO& xml, const xmlpp::Node* node);

    std::list<TransitionType> transition_m_el;
    bool has_comment_o_el = false;
    std::string comment_o_el;
    int32_t timeout_m_el = 0;
    Ccs_Enum ccs_m_el = SDO_upload;
    int32_t index_m_el = 0;
    int32_t sub_index_m_el = 0;
    bool has_data_o_el = false;
    ENI_Bytes data_o_el;
    bool has_disabled_o_el = false;
    bool disabled_o_el = false;
    bool has_fixed_o_att = false;
    bool fixed_o_att = false;
    bool has_complete_access_o_att = false;
    bool complete_access_o_att = false;
};

class EtherCATConfig_Config_Slave_Mailbox_CoE_InitCmds {
public:
    EtherCATConfig_Config_Slave_Mailbox_CoE_InitCmds() = default;
    EtherCATConfig_Config_Slave_Mailbox_CoE_InitCmds(const XELO_XML::XML_IO& xml, const xmlpp::Node* node);
    void setup(const XELO_XML::XML_IO& xml, const xmlpp::Node* node);

    bool has_init_cmd_o_el = false;
    std::list<EtherCATConfig_Config_Slave_Mailbox_CoE_InitCmds_InitCmd> init_cmd_o_el;
};

class EtherCATConfig_Config_Slave_Mailbox_CoE {
public:
    EtherCATConfig_Config_Slave_Mailbox_CoE() = default;
    EtherCATConfig_Config_Slave_Mailbox_CoE(const XELO_XML::XML_IO& xml, const xmlpp::Node* node);
    void setup(const XELO_XML::XML_IO& xml, const xmlpp::Node* node);

    bool has_init_cmds_o_el = false;
    EtherCATConfig_Config_Slave_Mailbox_CoE_InitCmds init_cmds_o_el;
    bool has_profile_o_el = false;
    ProfileType profile_o_el;
};

// One command of the AoE, EoE, FoE or VoE section. A Transition is a
// number (0..13) or a two-letter text.
class MailBoxCmdType {
public:
    MailBoxCmdType() = default;
    MailBoxCmdType(const XELO_XML::XML_IO& xml, const xmlpp::Node* node);

    std::list<TransitionType> transition_m_el;
    bool has_comment_o_el = false;
    std::string comment_o_el;
    int32_t timeout_m_el = 0;
    ENI_Bytes data_m_el;
    bool has_disabled_o_el = false;
    bool disabled_o_el = false;
};

class EtherCATConfig_Config_Slave_Mailbox_InitCmds {
public:
    EtherCATConfig_Config_Slave_Mailbox_InitCmds() = default;
    EtherCATConfig_Config_Slave_Mailbox_InitCmds(const XELO_XML::XML_IO& xml, const xmlpp::Node* node);
    void setup(const XELO_XML::XML_IO& xml, const xmlpp::Node* node);

    bool has_init_cmd_o_el = false;
    std::list<MailBoxCmdType> init_cmd_o_el;
};

class EtherCATConfig_Config_Slave_Mailbox_SoE_InitCmds_InitCmd {
public:
    EtherCATConfig_Config_Slave_Mailbox_SoE_InitCmds_InitCmd() = default;
    EtherCATConfig_Config_Slave_Mailbox_SoE_InitCmds_InitCmd(const XELO_XML::XML_IO& xml, const xmlpp::Node* node);

    std::list<TransitionType> transition_m_el;
    bool has_comment_o_el = false;
    std::string comment_o_el;
    int32_t timeout_m_el = 0;
    int32_t op_code_m_el = 0;
    int32_t drive_no_m_el = 0;
    int32_t idn_m_el = 0;
    int32_t elements_m_el = 0;
    int32_t attribute_m_el = 0;
    bool has_data_o_el = false;
    ENI_Bytes data_o_el;
    bool has_disabled_o_el = false;
    bool disabled_o_el = false;
    bool has_fixed_o_att = false;
    bool fixed_o_att = false;
};

class EtherCATConfig_Config_Slave_Mailbox_SoE_InitCmds {
public:
    EtherCATConfig_Config_Slave_Mailbox_SoE_InitCmds() = default;
    EtherCATConfig_Config_Slave_Mailbox_SoE_InitCmds(const XELO_XML::XML_IO& xml, const xmlpp::Node* node);
    void setup(const XELO_XML::XML_IO& xml, const xmlpp::Node* node);

    bool has_init_cmd_o_el = false;
    std::list<EtherCATConfig_Config_Slave_Mailbox_SoE_InitCmds_InitCmd> init_cmd_o_el;
};

// The commands sit in an "InitCmd" container, not "InitCmds".
class EtherCATConfig_Config_Slave_Mailbox_SoE {
public:
    EtherCATConfig_Config_Slave_Mailbox_SoE() = default;
    EtherCATConfig_Config_Slave_Mailbox_SoE(const XELO_XML::XML_IO& xml, const xmlpp::Node* node);
    void setup(const XELO_XML::XML_IO& xml, const xmlpp::Node* node);

    bool has_init_cmd_o_el = false;
    EtherCATConfig_Config_Slave_Mailbox_SoE_InitCmds init_cmd_o_el;
};

class EtherCATConfig_Config_Slave_Mailbox_AoE {
public:
    EtherCATConfig_Config_Slave_Mailbox_AoE() = default;
    EtherCATConfig_Config_Slave_Mailbox_AoE(const XELO_XML::XML_IO& xml, const xmlpp::Node* node);
    void setup(const XELO_XML::XML_IO& xml, const xmlpp::Node* node);

    EtherCATConfig_Config_Slave_Mailbox_InitCmds init_cmd_m_el;  // container "InitCmds"; empty when absent
    bool has_net_id_o_el = false;
    std::string net_id_o_el;
};

class EtherCATConfig_Config_Slave_Mailbox_EoE {
public:
    EtherCATConfig_Config_Slave_Mailbox_EoE() = default;
    EtherCATConfig_Config_Slave_Mailbox_EoE(const XELO_XML::XML_IO& xml, const xmlpp::Node* node);
    void setup(const XELO_XML::XML_IO& xml, const xmlpp::Node* node);

    EtherCATConfig_Config_Slave_Mailbox_InitCmds init_cmd_m_el;  // container "InitCmds"; empty when absent
};

class EtherCATConfig_Config_Slave_Mailbox_FoE {
public:
    EtherCATConfig_Config_Slave_Mailbox_FoE() = default;
    EtherCATConfig_Config_Slave_Mailbox_FoE(const XELO_XML::XML_IO& xml, const xmlpp::Node* node);
    void setup(const XELO_XML::XML_IO& xml, const xmlpp::Node* node);

    EtherCATConfig_Config_Slave_Mailbox_InitCmds init_cmd_m_el;  // container "InitCmd"; empty when absent
};

class EtherCATConfig_Config_Slave_Mailbox_VoE {
public:
    EtherCATConfig_Config_Slave_Mailbox_VoE() = default;
    EtherCATConfig_Config_Slave_Mailbox_VoE(const XELO_XML::XML_IO& xml, const xmlpp::Node* node);
    void setup(const XELO_XML::XML_IO& xml, const xmlpp::Node* node);

    EtherCATConfig_Config_Slave_Mailbox_InitCmds init_cmd_m_el;  // container "InitCmd"; empty when absent
};

class EtherCATConfig_Config_Slave_Mailbox {
public:
    enum Protocol_Enum : int32_t { AoE = 0, EoE = 1, CoE = 2, SoE = 3, FoE = 4, VoE = 5 };

    EtherCATConfig_Config_Slave_Mailbox() = default;
    EtherCATConfig_Config_Slave_Mailbox(const XELO_XML::XML_IO& xml, const xmlpp::Node* node);
    void setup(const XELO_XML::XML_IO& xml, const xmlpp::Node* node);

    MailboxSendInfoType send_m_el;
    MailboxRecvInfoType recv_m_el;
    bool has_bootstrap_o_el = false;
    EtherCATConfig_Config_Slave_Mailbox_Bootstrap bootstrap_o_el;
    bool has_protocol_o_el = false;
    std::list<Protocol_Enum> protocol_o_el;
    // The sections are read whenever their element is there once, whatever
    // the Protocol list says.
    bool has_coe_o_el = false;
    EtherCATConfig_Config_Slave_Mailbox_CoE coe_o_el;
    bool has_soe_o_el = false;
    EtherCATConfig_Config_Slave_Mailbox_SoE soe_o_el;
    bool has_aoe_o_el = false;
    EtherCATConfig_Config_Slave_Mailbox_AoE aoe_o_el;
    bool has_eoe_o_el = false;
    EtherCATConfig_Config_Slave_Mailbox_EoE eoe_o_el;
    bool has_foe_o_el = false;
    EtherCATConfig_Config_Slave_Mailbox_FoE foe_o_el;
    bool has_voe_o_el = false;
    EtherCATConfig_Config_Slave_Mailbox_VoE voe_o_el;
    bool has_data_link_layer_o_att = false;
    bool data_link_layer_o_att = false;
};

// ---- slave ------------------------------------------------------------------

class EtherCATConfig_Config_Slave_Info {
public:
    EtherCATConfig_Config_Slave_Info() = default;
    EtherCATConfig_Config_Slave_Info(const XELO_XML::XML_IO& xml, const xmlpp::Node* node);
    void setup(const XELO_XML::XML_IO& xml, const xmlpp::Node* node);

    std::string name_m_el;
    int32_t phys_addr_m_el = 0;
    int32_t auto_inc_addr_m_el = 0;
    std::string physics_m_el;
    // Identity numbers above 2147483647 are kept as their 32-bit pattern.
    int32_t vendor_id_m_el = 0;
    int32_t product_code_m_el = 0;
    int32_t revision_no_m_el = 0;
    int32_t serial_no_m_el = 0;
    bool has_product_revision_o_el = false;
    std::string product_revision_o_el;
};

// Each member has a default for an absent (or repeated) element.
class EtherCATConfig_Config_Slave_DC {
public:
    EtherCATConfig_Config_Slave_DC() = default;
    EtherCATConfig_Config_Slave_DC(const XELO_XML::XML_IO& xml, const xmlpp::Node* node);
    void setup(const XELO_XML::XML_IO& xml, const xmlpp::Node* node);

    bool reference_clock_m_el = true;
    int32_t cycle_time_0_m_el = -1;
    int32_t cycle_time_1_m_el = -1;
    int32_t shift_time_m_el = -1;
};

// The port of the previous slave this slave hangs on (element "PreviousPort").
class EtherCATConfig_Config_Slave_PreviusPort {
public:
    enum Port_Enum : int32_t { A = 0, B = 1, C = 2, D = 3 };

    EtherCATConfig_Config_Slave_PreviusPort() = default;
    EtherCATConfig_Config_Slave_PreviusPort(const XELO_XML::XML_IO& xml, const xmlpp::Node* node);
    void setup(const XELO_XML::XML_IO& xml, const xmlpp::Node* node);

    bool has_device_id_o_el = false;
    int32_t device_id_o_el = 0;
    Port_Enum port_m_el = A;
    bool has_phys_addr_o_el = false;
    int32_t phys_addr_o_el = 0;
    bool has_selected_o_att = false;
    bool selected_o_att = false;
};

class EtherCATConfig_Config_Slave_HotConnect {
public:
    EtherCATConfig_Config_Slave_HotConnect() = default;
    EtherCATConfig_Config_Slave_HotConnect(const XELO_XML::XML_IO& xml, const xmlpp::Node* node);
    void setup(const XELO_XML::XML_IO& xml, const xmlpp::Node* node);

    int32_t group_member_cnt_m_el = 0;
    std::list<ECatCmdType> identify_cmd;
};

class EtherCATConfig_Config_Slave {
public:
    EtherCATConfig_Config_Slave() = default;
    EtherCATConfig_Config_Slave(const XELO_XML::XML_IO& xml, const xmlpp::Node* node);

    EtherCATConfig_Config_Slave_Info info_m_el;
    bool has_process_data_o_el = false;
    EtherCATConfig_Config_Slave_ProcessData process_data_o_el;
    bool has_mailbox_o_el = false;
    EtherCATConfig_Config_Slave_Mailbox mailbox_o_el;
    bool has_init_cmds_o_el = false;
    InitCmds init_cmds_o_el;
    bool has_previus_port_c_el = false;
    EtherCATConfig_Config_Slave_PreviusPort previus_port_c_el;
    bool has_hot_connect_o_el = false;
    EtherCATConfig_Config_Slave_HotConnect hot_connect_o_el;
    // False as well when DC gives neither CycleTime0 nor CycleTime1.
    bool has_dc_o_el = false;
    EtherCATConfig_Config_Slave_DC dc_o_el;
};

// ---- master -------------------------------------------------------------------

class EtherCATConfig_Config_Master_Info {
public:
    EtherCATConfig_Config_Master_Info() = default;
    EtherCATConfig_Config_Master_Info(const XELO_XML::XML_IO& xml, const xmlpp::Node* node);
    void setup(const XELO_XML::XML_IO& xml, const xmlpp::Node* node);

    std::string name_m_el;
    ENI_Bytes destination_m_el;
    ENI_Bytes source_m_el;
    bool has_ether_type_o_el = false;
    ENI_Bytes ether_type_o_el;
};

class EtherCATConfig_Config_Master_MailboxState {
public:
    EtherCATConfig_Config_Master_MailboxState() = default;
    EtherCATConfig_Config_Master_MailboxState(const XELO_XML::XML_IO& xml, const xmlpp::Node* node);
    void setup(const XELO_XML::XML_IO& xml, const xmlpp::Node* node);

    int32_t start_addr_m_el = 0;
    int32_t count_m_el = 0;
};

class EtherCATConfig_Config_Master_EoE {
public:
    EtherCATConfig_Config_Master_EoE() = default;
    EtherCATConfig_Config_Master_EoE(const XELO_XML::XML_IO& xml, const xmlpp::Node* node);
    void setup(const XELO_XML::XML_IO& xml, const xmlpp::Node* node);

    int32_t max_ports_m_el = 0;
    int32_t max_frames_m_el = 0;
    int32_t max_macs_m_el = 0;
};

class EtherCATConfig_Config_Master {
public:
    EtherCATConfig_Config_Master() = default;
    EtherCATConfig_Config_Master(const XELO_XML::XML_IO& xml, const xmlpp::Node* node);
    void setup(const XELO_XML::XML_IO& xml, const xmlpp::Node* node);

    EtherCATConfig_Config_Master_Info info_m_el;
    bool has_mailbox_state_o_el = false;  // element "MailboxStates"
    EtherCATConfig_Config_Master_MailboxState mailbox_state_o_el;
    bool has_eoe_o_el = false;
    EtherCATConfig_Config_Master_EoE eoe_o_el;
    bool has_init_cmds_o_el = false;
    InitCmds init_cmds_o_el;
};

// ---- cyclic frames and process image ------------------------------------------

class EtherCATConfig_Config_Cyclic_Frame_Cmd {
public:
    EtherCATConfig_Config_Cyclic_Frame_Cmd() = default;
    EtherCATConfig_Config_Cyclic_Frame_Cmd(const XELO_XML::XML_IO& xml, const xmlpp::Node* node);

    std::list<State_Enum> state_m_el;
    bool has_comment_o_el = false;
    std::string comment_o_el;
    int32_t cmd_m_el = 0;
    // Address choice: Ado (with an optional Adp) or the logical Addr.
    bool has_adp_oxor_el = false;
    int32_t adp_oxor_el = 0;
    int32_t ado_mxor_el = 0;
    bool has_addr_mxor_el = false;  // the Addr branch was taken
    int32_t addr_mxor_el = 0;
    // Data choice: Data, else an optional DataLength.
    bool has_data_mxor_el = false;
    ENI_Bytes data_mxor_el;
    bool has_data_length_mxor_el = false;
    int32_t data_length_mxor_el = 0;
    bool has_cnt_o_el = false;
    int32_t cnt_o_el = 0;
    int32_t input_offs_m_el = 0;
    int32_t output_offs_m_el = 0;
    bool has_copy_infos_o_el = false;
    CopyInfosType copy_infos_o_el;
};

class EtherCATConfig_Config_Cyclic_Frame {
public:
    EtherCATConfig_Config_Cyclic_Frame() = default;
    EtherCATConfig_Config_Cyclic_Frame(const XELO_XML::XML_IO& xml, const xmlpp::Node* node);

    bool has_comment_o_el = false;
    std::string comment_o_el;
    std::list<EtherCATConfig_Config_Cyclic_Frame_Cmd> cmd_m_el;
};

class EtherCATConfig_Config_Cyclic {
public:
    EtherCATConfig_Config_Cyclic() = default;
    EtherCATConfig_Config_Cyclic(const XELO_XML::XML_IO& xml, const xmlpp::Node* node);
    void setup(const XELO_XML::XML_IO& xml, const xmlpp::Node* node);

    bool has_comment_o_el = false;
    std::string comment_o_el;
    bool has_cycle_time_o_el = false;
    int32_t cycle_time_o_el = 0;
    bool has_priority_o_el = false;
    int32_t priority_o_el = 0;
    bool has_task_id_o_el = false;
    std::string task_id_o_el;
    std::list<EtherCATConfig_Config_Cyclic_Frame> frame_m_el;
};

class VariableType {
public:
    VariableType() = default;
    VariableType(const XELO_XML::XML_IO& xml, const xmlpp::Node* node);

    std::string name_m_el;
    bool has_comment_o_el = false;
    std::string comment_o_el;
    bool has_data_type_o_el = false;
    std::string data_type_o_el;
    int32_t bit_size_m_el = 0;
    int32_t bit_offs_m_el = 0;
};

class EtherCATConfig_Config_ProcessImage_IO {
public:
    EtherCATConfig_Config_ProcessImage_IO() = default;
    EtherCATConfig_Config_ProcessImage_IO(const XELO_XML::XML_IO& xml, const xmlpp::Node* node);
    void setup(const XELO_XML::XML_IO& xml, const xmlpp::Node* node);

    int32_t bit_size_m_el = 0;  // element "ByteSize": the image's size in bytes
    std::list<VariableType> variable_o_el;
};

class EtherCATConfig_Config_ProcessImage {
public:
    EtherCATConfig_Config_ProcessImage() = default;
    EtherCATConfig_Config_ProcessImage(const XELO_XML::XML_IO& xml, const xmlpp::Node* node);
    void setup(const XELO_XML::XML_IO& xml, const xmlpp::Node* node);

    bool has_inputs_o_el = false;
    EtherCATConfig_Config_ProcessImage_IO inputs_o_el;
    bool has_outputs_o_el = false;
    EtherCATConfig_Config_ProcessImage_IO outputs_o_el;
};

// ---- document root ------------------------------------------------------------

// Loads the ENI file and reads the "Config" element below its root element
// (whatever that is called). Elements in a namespace are read by their
// local names.
class EtherCATConfig_Config {
public:
    explicit EtherCATConfig_Config(std::string file_name);
    EtherCATConfig_Config(const EtherCATConfig_Config&) = delete;
    EtherCATConfig_Config& operator=(const EtherCATConfig_Config&) = delete;

    EtherCATConfig_Config_Master master_el;
    std::list<EtherCATConfig_Config_Slave> slaves_el;
    EtherCATConfig_Config_Cyclic cyclic_el;
    EtherCATConfig_Config_ProcessImage processimage_el;
    bool has_version_o_att = false;
    std::string version_o_att;
    XELO_XML::XML_IO m_xml_configuration_reader;
};

// ---- dumps --------------------------------------------------------------------

std::ostream& operator<<(std::ostream& os, const ECatCmdType_Validate& v);
std::ostream& operator<<(std::ostream& os, const ECatCmdType& v);
std::ostream& operator<<(std::ostream& os, const InitCmds& v);
std::ostream& operator<<(std::ostream& os, const CopyInfosType_CopyInfo& v);
std::ostream& operator<<(std::ostream& os, const CopyInfosType& v);
std::ostream& operator<<(std::ostream& os, const VendorSpecificType& v);
std::ostream& operator<<(std::ostream& os, const ProfileType_ChannelInfo& v);
std::ostream& operator<<(std::ostream& os, const ProfileType& v);
std::ostream& operator<<(std::ostream& os, const EtherCATConfig_Config_Slave_Process_Data_SR& v);
std::ostream& operator<<(std::ostream& os, const SyncManagerSettingsType& v);
std::ostream& operator<<(std::ostream& os, const EntryType& v);
std::ostream& operator<<(std::ostream& os, const PdoType& v);
std::ostream& operator<<(std::ostream& os, const EtherCATConfig_Config_Slave_ProcessData& v);
std::ostream& operator<<(std::ostream& os, const MailboxSendInfoType& v);
std::ostream& operator<<(std::ostream& os, const MailboxRecvInfoType& v);
std::ostream& operator<<(std::ostream& os, const EtherCATConfig_Config_Slave_Mailbox_Bootstrap& v);
std::ostream& operator<<(std::ostream& os, const EtherCATConfig_Config_Slave_Mailbox_CoE_InitCmds_InitCmd& v);
std::ostream& operator<<(std::ostream& os, const EtherCATConfig_Config_Slave_Mailbox_CoE_InitCmds& v);
std::ostream& operator<<(std::ostream& os, const EtherCATConfig_Config_Slave_Mailbox_CoE& v);
std::ostream& operator<<(std::ostream& os, const MailBoxCmdType& v);
std::ostream& operator<<(std::ostream& os, const EtherCATConfig_Config_Slave_Mailbox_InitCmds& v);
std::ostream& operator<<(std::ostream& os, const EtherCATConfig_Config_Slave_Mailbox_SoE_InitCmds_InitCmd& v);
std::ostream& operator<<(std::ostream& os, const EtherCATConfig_Config_Slave_Mailbox_SoE_InitCmds& v);
std::ostream& operator<<(std::ostream& os, const EtherCATConfig_Config_Slave_Mailbox_SoE& v);
std::ostream& operator<<(std::ostream& os, const EtherCATConfig_Config_Slave_Mailbox_AoE& v);
std::ostream& operator<<(std::ostream& os, const EtherCATConfig_Config_Slave_Mailbox_EoE& v);
std::ostream& operator<<(std::ostream& os, const EtherCATConfig_Config_Slave_Mailbox_FoE& v);
std::ostream& operator<<(std::ostream& os, const EtherCATConfig_Config_Slave_Mailbox_VoE& v);
std::ostream& operator<<(std::ostream& os, const EtherCATConfig_Config_Slave_Mailbox& v);
std::ostream& operator<<(std::ostream& os, const EtherCATConfig_Config_Slave_Info& v);
std::ostream& operator<<(std::ostream& os, const EtherCATConfig_Config_Slave_DC& v);
std::ostream& operator<<(std::ostream& os, const EtherCATConfig_Config_Slave_PreviusPort& v);
std::ostream& operator<<(std::ostream& os, const EtherCATConfig_Config_Slave_HotConnect& v);
std::ostream& operator<<(std::ostream& os, const EtherCATConfig_Config_Slave& v);
std::ostream& operator<<(std::ostream& os, const EtherCATConfig_Config_Master_Info& v);
std::ostream& operator<<(std::ostream& os, const EtherCATConfig_Config_Master_MailboxState& v);
std::ostream& operator<<(std::ostream& os, const EtherCATConfig_Config_Master_EoE& v);
std::ostream& operator<<(std::ostream& os, const EtherCATConfig_Config_Master& v);
std::ostream& operator<<(std::ostream& os, const EtherCATConfig_Config_Cyclic_Frame_Cmd& v);
std::ostream& operator<<(std::ostream& os, const EtherCATConfig_Config_Cyclic_Frame& v);
std::ostream& operator<<(std::ostream& os, const EtherCATConfig_Config_Cyclic& v);
std::ostream& operator<<(std::ostream& os, const VariableType& v);
std::ostream& operator<<(std::ostream& os, const EtherCATConfig_Config_ProcessImage_IO& v);
std::ostream& operator<<(std::ostream& os, const EtherCATConfig_Config_ProcessImage& v);
std::ostream& operator<<(std::ostream& os, const EtherCATConfig_Config& v);
