// Slave: identity, ports, hot connect, distributed clocks and process data,
// with the element types shared with the cyclic and mailbox sections.

#include <climits>

#include "eni_dump.h"
#include "eni_text.h"
#include "xelo_ethercat_cfg.h"

using XELO_XML::XML_IO;

// ---- identity, port, hot connect, clocks ----------------------------------

EtherCATConfig_Config_Slave_Info::EtherCATConfig_Config_Slave_Info(const XML_IO& xml, const xmlpp::Node* node)
{
    setup(xml, node);
}

void EtherCATConfig_Config_Slave_Info::setup(const XML_IO& xml, const xmlpp::Node* node)
{
    name_m_el = ENI_Text::text_ex(xml, "Name", node);
    phys_addr_m_el = ENI_Text::int32_ex(xml, "PhysAddr", node);
    auto_inc_addr_m_el = ENI_Text::int32_ex(xml, "AutoIncAddr", node);
    physics_m_el = ENI_Text::text_ex(xml, "Physics", node);
    vendor_id_m_el = ENI_Text::int32_ex(xml, "VendorId", node);
    product_code_m_el = ENI_Text::int32_ex(xml, "ProductCode", node);
    revision_no_m_el = ENI_Text::int32_ex(xml, "RevisionNo", node);
    serial_no_m_el = ENI_Text::int32_ex(xml, "SerialNo", node);
    has_product_revision_o_el = ENI_Text::optional_ex(xml, "ProductRevision", node, product_revision_o_el);
}

EtherCATConfig_Config_Slave_DC::EtherCATConfig_Config_Slave_DC(const XML_IO& xml, const xmlpp::Node* node)
{
    setup(xml, node);
}

void EtherCATConfig_Config_Slave_DC::setup(const XML_IO& xml, const xmlpp::Node* node)
{
    // Absent or repeated elements give the defaults.
    reference_clock_m_el = true;
    cycle_time_0_m_el = -1;
    cycle_time_1_m_el = -1;
    shift_time_m_el = -1;
    ENI_Text::optional_ex(xml, "ReferenceClock", node, reference_clock_m_el);
    ENI_Text::optional_ex(xml, "CycleTime0", node, cycle_time_0_m_el);
    ENI_Text::optional_ex(xml, "CycleTime1", node, cycle_time_1_m_el);
    ENI_Text::optional_ex(xml, "ShiftTime", node, shift_time_m_el);
}

EtherCATConfig_Config_Slave_PreviusPort::EtherCATConfig_Config_Slave_PreviusPort(const XML_IO& xml,
                                                                                 const xmlpp::Node* node)
{
    setup(xml, node);
}

void EtherCATConfig_Config_Slave_PreviusPort::setup(const XML_IO& xml, const xmlpp::Node* node)
{
    has_device_id_o_el = ENI_Text::optional_ex(xml, "DeviceId", node, device_id_o_el);
    const std::string port = ENI_Text::text_ex(xml, "Port", node);
    if (port == "A")
        port_m_el = A;
    else if (port == "B")
        port_m_el = B;
    else if (port == "C")
        port_m_el = C;
    else if (port == "D")
        port_m_el = D;
    else
        ENI_Text::choice_ex("Port", port, {"A", "B", "C", "D"});
    has_phys_addr_o_el = ENI_Text::optional_ex(xml, "PhysAddr", node, phys_addr_o_el);
    has_selected_o_att = xml.has_property("Selected", node);
    if (has_selected_o_att)
        selected_o_att = ENI_Text::truth_attribute_ex(xml, "Selected", node);
}

EtherCATConfig_Config_Slave_HotConnect::EtherCATConfig_Config_Slave_HotConnect(const XML_IO& xml,
                                                                               const xmlpp::Node* node)
{
    setup(xml, node);
}

void EtherCATConfig_Config_Slave_HotConnect::setup(const XML_IO& xml, const xmlpp::Node* node)
{
    group_member_cnt_m_el = ENI_Text::int32_ex(xml, "GroupMemberCnt", node);
    for (const xmlpp::Node* command : xml.get_nodes_ex("Identify", node))
        identify_cmd.emplace_back(xml, command);
}

EtherCATConfig_Config_Slave::EtherCATConfig_Config_Slave(const XML_IO& xml, const xmlpp::Node* node)
{
    info_m_el.setup(xml, xml.get_node_ex("Info", node));
    has_process_data_o_el = ENI_Text::optional_ex(xml, "ProcessData", node, process_data_o_el);
    has_mailbox_o_el = ENI_Text::optional_ex(xml, "Mailbox", node, mailbox_o_el);
    has_init_cmds_o_el = ENI_Text::optional_ex(xml, "InitCmds", node, init_cmds_o_el);
    has_previus_port_c_el = ENI_Text::optional_ex(xml, "PreviousPort", node, previus_port_c_el);
    has_hot_connect_o_el = ENI_Text::optional_ex(xml, "HotConnect", node, hot_connect_o_el);
    has_dc_o_el = ENI_Text::optional_ex(xml, "DC", node, dc_o_el);
    // A DC element without either cycle time configures no clock.
    if (has_dc_o_el && dc_o_el.cycle_time_0_m_el == -1 && dc_o_el.cycle_time_1_m_el == -1)
        has_dc_o_el = false;
}

std::ostream& operator<<(std::ostream& os, const EtherCATConfig_Config_Slave_Info& v)
{
    eni_dump::value(os, "Name", v.name_m_el);
    eni_dump::value(os, "PhysAddr", v.phys_addr_m_el);
    eni_dump::value(os, "AutoIncAddr", v.auto_inc_addr_m_el);
    eni_dump::value(os, "Physics", v.physics_m_el);
    eni_dump::value(os, "VendorId", v.vendor_id_m_el);
    eni_dump::value(os, "ProductCode", v.product_code_m_el);
    eni_dump::value(os, "RevisionNo", v.revision_no_m_el);
    eni_dump::value(os, "SerialNo", v.serial_no_m_el);
    eni_dump::value(os, "ProductRevision", v.product_revision_o_el);
    return os;
}

std::ostream& operator<<(std::ostream& os, const EtherCATConfig_Config_Slave_DC& v)
{
    eni_dump::truth(os, "ReferenceClock", v.reference_clock_m_el);
    eni_dump::value(os, "CycleTime0", v.cycle_time_0_m_el);
    eni_dump::value(os, "CycleTime1", v.cycle_time_1_m_el);
    eni_dump::value(os, "ShiftTime", v.shift_time_m_el);
    return os;
}

std::ostream& operator<<(std::ostream& os, const EtherCATConfig_Config_Slave_PreviusPort& v)
{
    static const char* const PORTS[] = {"A", "B", "C", "D"};
    if (v.has_selected_o_att)
        os << "ATT:Selected=" << (v.selected_o_att ? 1 : 0);
    os << '\n';
    if (v.has_device_id_o_el)
        eni_dump::value(os, "DeviceId", v.device_id_o_el);
    const int port = static_cast<int>(v.port_m_el);
    eni_dump::value(os, "Port", port >= 0 && port < 4 ? PORTS[port] : "");
    if (v.has_phys_addr_o_el)
        eni_dump::value(os, "PhysAddr", v.phys_addr_o_el);
    return os;
}

std::ostream& operator<<(std::ostream& os, const EtherCATConfig_Config_Slave_HotConnect& v)
{
    eni_dump::value(os, "GroupMemberCnt", v.group_member_cnt_m_el);
    for (const ECatCmdType& command : v.identify_cmd)
        eni_dump::inline_block(os, "Identify", command);
    return os;
}

std::ostream& operator<<(std::ostream& os, const EtherCATConfig_Config_Slave& v)
{
    eni_dump::block(os, "Info", v.info_m_el);
    if (v.has_process_data_o_el)
        eni_dump::block(os, "ProcessData", v.process_data_o_el);
    if (v.has_mailbox_o_el)
        eni_dump::inline_block(os, "Mailbox", v.mailbox_o_el);
    if (v.has_init_cmds_o_el)
        eni_dump::block(os, "InitCmds", v.init_cmds_o_el);
    if (v.has_previus_port_c_el)
        eni_dump::inline_block(os, "PreviousPort", v.previus_port_c_el);
    if (v.has_hot_connect_o_el)
        eni_dump::inline_block(os, "HotConnect", v.hot_connect_o_el);
    if (v.has_dc_o_el)
        eni_dump::inline_block(os, "DC", v.dc_o_el);
    return os;
}

// ---- process data -----------------------------------------------------------

EtherCATConfig_Config_Slave_Process_Data_SR::EtherCATConfig_Config_Slave_Process_Data_SR(const XML_IO& xml,
                                                                                         const xmlpp::Node* node)
{
    setup(xml, node);
}

void EtherCATConfig_Config_Slave_Process_Data_SR::setup(const XML_IO& xml, const xmlpp::Node* node)
{
    bit_start_m_el = ENI_Text::int32_ex(xml, "BitStart", node);
    bit_length_m_el = ENI_Text::int32_ex(xml, "BitLength", node);
}

SyncManagerSettingsType::SyncManagerSettingsType(const XML_IO& xml, const xmlpp::Node* node)
{
    setup(xml, node);
}

void SyncManagerSettingsType::setup(const XML_IO& xml, const xmlpp::Node* node)
{
    const std::string type = ENI_Text::text_ex(xml, "Type", node);
    if (type == "Outputs")
        type_m_el = OUTPUTS;
    else if (type == "Inputs")
        type_m_el = INPUTS;
    else
        type_m_el = static_cast<Type_SM_Enum>(ENI_Text::bits32_ex(type, "Type"));
    has_min_size_o_el = ENI_Text::optional_ex(xml, "MinSize", node, min_size_o_el);
    has_max_size_o_el = ENI_Text::optional_ex(xml, "MaxSize", node, max_size_o_el);
    has_default_size_o_el = ENI_Text::optional_ex(xml, "DefaultSize", node, default_size_o_el);
    start_address_m_el = ENI_Text::int32_ex(xml, "StartAddress", node);
    control_byte_m_el = ENI_Text::int32_ex(xml, "ControlByte", node);
    enable_m_el = ENI_Text::truth_ex(xml, "Enable", node);
    has_virtual_o_el = ENI_Text::optional_ex(xml, "Virtual", node, virtual_o_el);
    has_watchdog_o_el = ENI_Text::optional_ex(xml, "WatchDog", node, watchdog_o_el);
    pdo_o_el = ENI_Text::int32_list_ex(xml, "Pdo", node);
    has_pdo_o_el = !pdo_o_el.empty();
}

EntryType::EntryType(const XML_IO& xml, const xmlpp::Node* node)
{
    index_m_el = ENI_Text::hex_uint32_ex(xml, "Index", node);
    has_subindex_o_el = ENI_Text::optional_ex(xml, "SubIndex", node, subindex_o_el);
    bit_len_m_el = ENI_Text::int32_ex(xml, "BitLen", node);
    has_name_o_el = ENI_Text::optional_ex(xml, "Name", node, name_o_el);
    has_comment_o_el = ENI_Text::optional_ex(xml, "Comment", node, comment_o_el);
    has_data_type_o_el = ENI_Text::optional_ex(xml, "DataType", node, data_type_o_el);
    has_dscale_o_att = ENI_Text::optional_ex(xml, "DScale", node, dscale_o_att);
}

PdoType::PdoType(const XML_IO& xml, const xmlpp::Node* node)
{
    index_m_el = ENI_Text::hex_uint32_ex(xml, "Index", node);
    name_m_el = ENI_Text::text_ex(xml, "Name", node);
    exclude_o_el = ENI_Text::uint32_list_ex(xml, "Exclude", node);
    has_exclude_o_el = !exclude_o_el.empty();
    for (const xmlpp::Node* entry : xml.get_nodes_ex("Entry", node))
        entry_o_el.emplace_back(xml, entry);
    has_entry_o_el = !entry_o_el.empty();

    const auto truth = [&](const char* name, bool& has, bool& value) {
        has = xml.has_property(name, node);
        if (has)
            value = ENI_Text::truth_attribute_ex(xml, name, node);
    };
    const auto number = [&](const char* name, bool& has, int32_t& value) {
        has = xml.has_property(name, node);
        if (has)
            value = ENI_Text::int32_attribute_ex(xml, name, node);
    };
    truth("Fixed", has_fixed_o_att, fixed_o_att);
    truth("Mandatory", has_mandatory_o_att, mandatory_o_att);
    truth("Virtual", has_virtual_o_att, virtual_o_att);
    number("Sm", has_sm_o_att, sm_o_att);
    number("Su", has_su_o_att, su_o_att);
    number("PdoOrder", has_pdo_order_o_att, pdo_order_o_att);
    number("OSFac", has_os_fac_o_att, os_fac_o_att);
    number("OSMin", has_os_min_o_att, os_min_o_att);
    number("OSMax", has_os_max_o_att, os_max_o_att);
    number("OSIndexInc", has_os_index_inc_o_att, os_index_inc_o_att);
}

EtherCATConfig_Config_Slave_ProcessData::EtherCATConfig_Config_Slave_ProcessData(const XML_IO& xml,
                                                                                 const xmlpp::Node* node)
{
    setup(xml, node);
}

void EtherCATConfig_Config_Slave_ProcessData::setup(const XML_IO& xml, const xmlpp::Node* node)
{
    has_send_o_el = ENI_Text::optional_ex(xml, "Send", node, send_o_el);
    has_recv_o_el = ENI_Text::optional_ex(xml, "Recv", node, recv_o_el);
    const struct {
        const char* name;
        bool& has;
        SyncManagerSettingsType& sm;
    } sms[] = {{"Sm0", has_sm0_o_el, sm0_o_el},
               {"Sm1", has_sm1_o_el, sm1_o_el},
               {"Sm2", has_sm2_o_el, sm2_o_el},
               {"Sm3", has_sm3_o_el, sm3_o_el}};
    for (const auto& sm : sms)
        sm.has = ENI_Text::optional_ex(xml, sm.name, node, sm.sm);
    for (const xmlpp::Node* pdo : xml.get_nodes_ex("RxPdo", node))
        rxpdo_mxor_el.emplace_back(xml, pdo);
    has_rxpdo_mxor_el = !rxpdo_mxor_el.empty();
    for (const xmlpp::Node* pdo : xml.get_nodes_ex("TxPdo", node))
        txpdo_mxor_el.emplace_back(xml, pdo);
    has_txpdo_mxor_el = !txpdo_mxor_el.empty();
}

std::ostream& operator<<(std::ostream& os, const EtherCATConfig_Config_Slave_Process_Data_SR& v)
{
    eni_dump::value(os, "BitStart", v.bit_start_m_el);
    eni_dump::value(os, "BitLength", v.bit_length_m_el);
    return os;
}

std::ostream& operator<<(std::ostream& os, const SyncManagerSettingsType& v)
{
    eni_dump::fixed2(os);
    eni_dump::value(os, "Type", static_cast<int32_t>(v.type_m_el));
    if (v.has_min_size_o_el)
        eni_dump::value(os, "MinSize", v.min_size_o_el);
    if (v.has_max_size_o_el)
        eni_dump::value(os, "MaxSize", v.max_size_o_el);
    if (v.has_default_size_o_el)
        eni_dump::value(os, "DefaultSize", v.default_size_o_el);
    eni_dump::value(os, "StartAddress", v.start_address_m_el);
    eni_dump::value(os, "ControlByte", v.control_byte_m_el);
    eni_dump::truth(os, "Enable", v.enable_m_el);
    if (v.has_virtual_o_el)
        eni_dump::truth(os, "Virtual", v.virtual_o_el);
    if (v.has_watchdog_o_el)
        eni_dump::value(os, "WatchDog", v.watchdog_o_el);
    for (int32_t pdo : v.pdo_o_el)
        eni_dump::value(os, "Pdo", pdo);
    return os;
}

std::ostream& operator<<(std::ostream& os, const EntryType& v)
{
    eni_dump::fixed2(os);
    os << "<Index>" << std::hex << v.index_m_el << std::dec << "</Index>\n";
    if (v.has_subindex_o_el)
        eni_dump::value(os, "SubIndex", v.subindex_o_el);
    eni_dump::value(os, "BitLen", v.bit_len_m_el);
    if (v.has_name_o_el)
        eni_dump::value(os, "Name", v.name_o_el);
    if (v.has_comment_o_el)
        eni_dump::value(os, "Comment", v.comment_o_el);
    if (v.has_data_type_o_el)
        eni_dump::value(os, "DataType", v.data_type_o_el);
    if (v.has_dscale_o_att)
        os << "ATT:DScale=" << v.dscale_o_att << '\n';
    return os;
}

std::ostream& operator<<(std::ostream& os, const PdoType& v)
{
    eni_dump::fixed2(os);
    const auto truth = [&](const char* name, bool has, bool value) {
        if (has)
            os << "ATT:" << name << '=' << (value ? 1 : 0) << ' ';
    };
    truth("Fixed", v.has_fixed_o_att, v.fixed_o_att);
    truth("Mandatory", v.has_mandatory_o_att, v.mandatory_o_att);
    truth("Virtual", v.has_virtual_o_att, v.virtual_o_att);
    if (v.has_sm_o_att)
        os << "ATT:Sm=" << v.sm_o_att << ' ';
    if (v.has_su_o_att)
        os << "ATT:Su=" << v.su_o_att << '\n';
    const auto number = [&](const char* name, bool has, int32_t value) {
        if (has)
            os << "ATT:" << name << '=' << value << ' ';
    };
    number("PdoOrder", v.has_pdo_order_o_att, v.pdo_order_o_att);
    number("OSFac", v.has_os_fac_o_att, v.os_fac_o_att);
    number("OSMin", v.has_os_min_o_att, v.os_min_o_att);
    number("OSMax", v.has_os_max_o_att, v.os_max_o_att);
    number("OSIndexInc", v.has_os_index_inc_o_att, v.os_index_inc_o_att);
    os << '\n';
    os << "<Index>#x" << std::hex << v.index_m_el << std::dec << "</Index>\n";
    eni_dump::value(os, "Name", v.name_m_el);
    for (uint32_t exclude : v.exclude_o_el)
        os << "<Exclude>#x" << std::hex << exclude << std::dec << "</Exclude>\n";
    for (const EntryType& entry : v.entry_o_el)
        eni_dump::block(os, "Entry", entry);
    return os;
}

std::ostream& operator<<(std::ostream& os, const EtherCATConfig_Config_Slave_ProcessData& v)
{
    if (v.has_send_o_el)
        eni_dump::block(os, "Send", v.send_o_el);
    if (v.has_recv_o_el)
        eni_dump::block(os, "Recv", v.recv_o_el);
    if (v.has_sm0_o_el)
        eni_dump::block(os, "Sm0", v.sm0_o_el);
    if (v.has_sm1_o_el)
        eni_dump::block(os, "Sm1", v.sm1_o_el);
    if (v.has_sm2_o_el)
        eni_dump::block(os, "Sm2", v.sm2_o_el);
    if (v.has_sm3_o_el)
        eni_dump::block(os, "Sm3", v.sm3_o_el);
    for (const PdoType& pdo : v.rxpdo_mxor_el)
        eni_dump::inline_block(os, "RxPdo", pdo);
    for (const PdoType& pdo : v.txpdo_mxor_el)
        eni_dump::inline_block(os, "TxPdo", pdo);
    return os;
}

// ---- copy instructions and device profile -----------------------------------

CopyInfosType_CopyInfo::CopyInfosType_CopyInfo(const XML_IO& xml, const xmlpp::Node* node)
{
    src_bit_offs_m_el = ENI_Text::uint64_ex(xml, "SrcBitOffs", node);
    dst_bit_offs_m_el = ENI_Text::uint64_ex(xml, "DstBitOffs", node);
    bit_size_m_el = ENI_Text::uint64_ex(xml, "BitSize", node);
}

CopyInfosType::CopyInfosType(const XML_IO& xml, const xmlpp::Node* node)
{
    setup(xml, node);
}

void CopyInfosType::setup(const XML_IO& xml, const xmlpp::Node* node)
{
    for (const xmlpp::Node* entry : xml.get_nodes_ex("Entry", node))
        copy_info_o_el.emplace_back(xml, entry);
    has_copy_info_o_el = !copy_info_o_el.empty();
}

VendorSpecificType::VendorSpecificType(const XML_IO& xml, const xmlpp::Node* node)
{
    setup(xml, node);
}

void VendorSpecificType::setup(const XML_IO&, const xmlpp::Node*) {}

ProfileType_ChannelInfo::ProfileType_ChannelInfo(const XML_IO& xml, const xmlpp::Node* node)
{
    profile_no_m_el = ENI_Text::int32_ex(xml, "ProfileNo", node);
    has_add_info_o_el = ENI_Text::optional_ex(xml, "AddInfo", node, add_info_o_el);
    has_display_name_o_el = ENI_Text::optional_ex(xml, "DisplayName", node, display_name_o_el);
    has_overwritten_by_module_o_att = xml.has_property("OverwrittenByModule", node);
    if (has_overwritten_by_module_o_att)
        overwritten_by_module_o_att = ENI_Text::truth_attribute_ex(xml, "OverwrittenByModule", node);
}

ProfileType::ProfileType(const XML_IO& xml, const xmlpp::Node* node)
{
    setup(xml, node);
}

void ProfileType::setup(const XML_IO& xml, const xmlpp::Node* node)
{
    for (const xmlpp::Node* channel : xml.get_nodes_ex("ChannelInfo", node))
        channel_info_m_el.emplace_back(xml, channel);
    has_vendor_specific_o_el = ENI_Text::optional_ex(xml, "VendorSpecific", node, vendor_specific_o_el);
}

std::ostream& operator<<(std::ostream& os, const CopyInfosType_CopyInfo& v)
{
    eni_dump::fixed2(os);
    eni_dump::value(os, "SrcBitOffs", v.src_bit_offs_m_el);
    eni_dump::value(os, "DstBitOffs", v.dst_bit_offs_m_el);
    eni_dump::value(os, "BitSize", v.bit_size_m_el);
    return os;
}

std::ostream& operator<<(std::ostream& os, const CopyInfosType& v)
{
    eni_dump::fixed2(os);
    os << "<CopyInfo>\n";
    for (const CopyInfosType_CopyInfo& info : v.copy_info_o_el)
        os << info << '\n';
    os << "</CopyInfo>\n";
    return os;
}

std::ostream& operator<<(std::ostream& os, const VendorSpecificType& v)
{
    eni_dump::fixed2(os);
    eni_dump::value(os, "Any", v.any);
    return os;
}

std::ostream& operator<<(std::ostream& os, const ProfileType_ChannelInfo& v)
{
    eni_dump::fixed2(os);
    eni_dump::value(os, "ProfileNo", v.profile_no_m_el);
    if (v.has_add_info_o_el)
        eni_dump::value(os, "AddInfo", v.add_info_o_el);
    if (v.has_display_name_o_el)
        eni_dump::value(os, "DisplayName", v.display_name_o_el);
    if (v.has_overwritten_by_module_o_att)
        eni_dump::attribute(os, "OverwrittenByModule", v.overwritten_by_module_o_att);
    return os;
}

std::ostream& operator<<(std::ostream& os, const ProfileType& v)
{
    eni_dump::fixed2(os);
    for (const ProfileType_ChannelInfo& channel : v.channel_info_m_el)
        eni_dump::block(os, "ChannelInfo", channel);
    if (v.has_vendor_specific_o_el)
        eni_dump::inline_block(os, "VendorSpecific", v.vendor_specific_o_el);
    return os;
}
