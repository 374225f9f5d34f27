// Slave mailbox: areas, protocols, the CoE section and the SoE, AoE, EoE,
// FoE and VoE sections.

#include <climits>

#include "eni_dump.h"
#include "eni_text.h"
#include "xelo_ethercat_cfg.h"

using XELO_XML::XML_IO;

namespace {

const char* const PROTOCOL_TEXTS[] = {"AoE", "EoE", "CoE", "SoE", "FoE", "VoE"};

// A mailbox command's Transition: a number of the table or its text.
TransitionType mailbox_transition_ex(const std::string& text)
{
    const bool number =
        !text.empty() && (text[0] == '-' || text[0] == '+' || text[0] == '#' || (text[0] >= '0' && text[0] <= '9'));
    if (number) {
        const long long value = ENI_Text::number_ex(text, "Transition", false, LLONG_MIN, LLONG_MAX);
        if (value < IP || value > SS)
            ENI_Text::choice_ex("Transition", text, {"0", "...", "13"});
        return static_cast<TransitionType>(value);
    }
    return str2trans(text);
}

// A section's command list: false when it is absent; two are refused by the
// fetch, not skipped.
template <typename List>
bool read_command_list_ex(const XML_IO& xml, const char* container, const xmlpp::Node* section, List& list)
{
    if (!xml.has_element(container, section))
        return false;
    list.setup(xml, xml.get_node_ex(container, section));
    return true;
}

}  // namespace

// ---- areas ------------------------------------------------------------------

MailboxSendInfoType::MailboxSendInfoType(const XML_IO& xml, const xmlpp::Node* node)
{
    setup(xml, node);
}

void MailboxSendInfoType::setup(const XML_IO& xml, const xmlpp::Node* node)
{
    start_m_el = ENI_Text::int32_ex(xml, "Start", node);
    length_m_el = ENI_Text::int32_ex(xml, "Length", node);
    has_short_send_o_el = ENI_Text::optional_ex(xml, "ShortSend", node, short_send_o_el);
}

MailboxRecvInfoType::MailboxRecvInfoType(const XML_IO& xml, const xmlpp::Node* node)
{
    setup(xml, node);
}

void MailboxRecvInfoType::setup(const XML_IO& xml, const xmlpp::Node* node)
{
    start_m_el = ENI_Text::int32_ex(xml, "Start", node);
    length_m_el = ENI_Text::int32_ex(xml, "Length", node);
    has_poll_time_o_el = ENI_Text::optional_ex(xml, "PollTime", node, poll_time_o_el);
    has_status_bit_addr_o_el = ENI_Text::optional_ex(xml, "StatusBitAddr", node, status_bit_addr_o_el);
}

EtherCATConfig_Config_Slave_Mailbox_Bootstrap::EtherCATConfig_Config_Slave_Mailbox_Bootstrap(const XML_IO& xml,
                                                                                             const xmlpp::Node* node)
{
    setup(xml, node);
}

void EtherCATConfig_Config_Slave_Mailbox_Bootstrap::setup(const XML_IO& xml, const xmlpp::Node* node)
{
    send_m_el.setup(xml, xml.get_node_ex("Send", node));
    recv_m_el.setup(xml, xml.get_node_ex("Recv", node));
}

std::ostream& operator<<(std::ostream& os, const MailboxSendInfoType& v)
{
    eni_dump::fixed2(os);
    eni_dump::value(os, "Start", v.start_m_el);
    eni_dump::value(os, "Length", v.length_m_el);
    if (v.has_short_send_o_el)
        eni_dump::truth(os, "ShortSend", v.short_send_o_el);
    return os;
}

std::ostream& operator<<(std::ostream& os, const MailboxRecvInfoType& v)
{
    eni_dump::fixed2(os);
    eni_dump::value(os, "Start", v.start_m_el);
    eni_dump::value(os, "Length", v.length_m_el);
    if (v.has_poll_time_o_el)
        eni_dump::value(os, "PollTime", v.poll_time_o_el);
    if (v.has_status_bit_addr_o_el)
        eni_dump::value(os, "StatusBitAddr", v.status_bit_addr_o_el);
    return os;
}

std::ostream& operator<<(std::ostream& os, const EtherCATConfig_Config_Slave_Mailbox_Bootstrap& v)
{
    eni_dump::block(os, "Send", v.send_m_el);
    eni_dump::block(os, "Recv", v.recv_m_el);
    return os;
}

// ---- CoE ----------------------------------------------------------------------

EtherCATConfig_Config_Slave_Mailbox_CoE_InitCmds_InitCmd::EtherCATConfig_Config_Slave_Mailbox_CoE_InitCmds_InitCmd(
    const XML_IO& xml, const xmlpp::Node* node)
{
    for (const std::string& text : ENI_Text::words(xml, "Transition", node))
        transition_m_el.push_back(str2trans(text));
    has_comment_o_el = ENI_Text::optional_ex(xml, "Comment", node, comment_o_el);
    timeout_m_el = ENI_Text::int32_ex(xml, "Timeout", node);
    ccs_m_el = static_cast<Ccs_Enum>(ENI_Text::int32_ex(xml, "Ccs", node));
    index_m_el = ENI_Text::int32_ex(xml, "Index", node);
    sub_index_m_el = ENI_Text::int32_ex(xml, "SubIndex", node);
    has_data_o_el = ENI_Text::optional_ex(xml, "Data", node, data_o_el);
    has_disabled_o_el = ENI_Text::optional_ex(xml, "Disabled", node, disabled_o_el);
    has_fixed_o_att = xml.has_property("Fixed", node);
    if (has_fixed_o_att)
        fixed_o_att = ENI_Text::truth_attribute_ex(xml, "Fixed", node);
    has_complete_access_o_att = xml.has_property("CompleteAccess", node);
    if (has_complete_access_o_att)
        complete_access_o_att = ENI_Text::truth_attribute_ex(xml, "CompleteAccess", node);
}

EtherCATConfig_Config_Slave_Mailbox_CoE_InitCmds::EtherCATConfig_Config_Slave_Mailbox_CoE_InitCmds(
    const XML_IO& xml, const xmlpp::Node* node)
{
    setup(xml, node);
}

void EtherCATConfig_Config_Slave_Mailbox_CoE_InitCmds::setup(const XML_IO& xml, const xmlpp::Node* node)
{
    for (const xmlpp::Node* command : xml.get_nodes_ex("InitCmd", node))
        init_cmd_o_el.emplace_back(xml, command);
    has_init_cmd_o_el = !init_cmd_o_el.empty();
}

EtherCATConfig_Config_Slave_Mailbox_CoE::EtherCATConfig_Config_Slave_Mailbox_CoE(const XML_IO& xml,
                                                                                 const xmlpp::Node* node)
{
    setup(xml, node);
}

void EtherCATConfig_Config_Slave_Mailbox_CoE::setup(const XML_IO& xml, const xmlpp::Node* node)
{
    has_init_cmds_o_el = read_command_list_ex(xml, "InitCmds", node, init_cmds_o_el);
    has_profile_o_el = ENI_Text::optional_ex(xml, "Profile", node, profile_o_el);
}

std::ostream& operator<<(std::ostream& os, const EtherCATConfig_Config_Slave_Mailbox_CoE_InitCmds_InitCmd& v)
{
    if (v.has_fixed_o_att)
        eni_dump::attribute(os, "Fixed", v.fixed_o_att);
    if (v.has_complete_access_o_att)
        eni_dump::attribute(os, "CompleteAccess", v.complete_access_o_att);
    for (TransitionType transition : v.transition_m_el)
        eni_dump::value(os, "Transition", trans2str(transition));
    if (v.has_comment_o_el)
        eni_dump::value(os, "Comment", v.comment_o_el);
    eni_dump::value(os, "Timeout", v.timeout_m_el);
    eni_dump::value(os, "Ccs", static_cast<int32_t>(v.ccs_m_el));
    eni_dump::value(os, "Index", v.index_m_el);
    eni_dump::value(os, "SubIndex", v.sub_index_m_el);
    if (v.has_data_o_el)
        eni_dump::bytes(os, "Data", v.data_o_el);
    if (v.has_disabled_o_el)
        eni_dump::truth(os, "Disabled", v.disabled_o_el);
    return os;
}

std::ostream& operator<<(std::ostream& os, const EtherCATConfig_Config_Slave_Mailbox_CoE_InitCmds& v)
{
    for (const EtherCATConfig_Config_Slave_Mailbox_CoE_InitCmds_InitCmd& command : v.init_cmd_o_el)
        eni_dump::block(os, "InitCmd", command);
    return os;
}

std::ostream& operator<<(std::ostream& os, const EtherCATConfig_Config_Slave_Mailbox_CoE& v)
{
    if (v.has_init_cmds_o_el)
        eni_dump::block(os, "InitCmds", v.init_cmds_o_el);
    if (v.has_profile_o_el)
        eni_dump::block(os, "Profile", v.profile_o_el);
    return os;
}

// ---- generic mailbox commands (AoE, EoE, FoE, VoE) ------------------------------

MailBoxCmdType::MailBoxCmdType(const XML_IO& xml, const xmlpp::Node* node)
{
    for (const std::string& text : ENI_Text::words(xml, "Transition", node))
        transition_m_el.push_back(mailbox_transition_ex(text));
    has_comment_o_el = ENI_Text::optional_ex(xml, "Comment", node, comment_o_el);
    timeout_m_el = ENI_Text::int32_ex(xml, "Timeout", node);
    data_m_el = ENI_Text::bytes_ex(xml, "Data", node);
    has_disabled_o_el = ENI_Text::optional_ex(xml, "Disabled", node, disabled_o_el);
}

EtherCATConfig_Config_Slave_Mailbox_InitCmds::EtherCATConfig_Config_Slave_Mailbox_InitCmds(const XML_IO& xml,
                                                                                           const xmlpp::Node* node)
{
    setup(xml, node);
}

void EtherCATConfig_Config_Slave_Mailbox_InitCmds::setup(const XML_IO& xml, const xmlpp::Node* node)
{
    for (const xmlpp::Node* command : xml.get_nodes_ex("InitCmd", node))
        init_cmd_o_el.emplace_back(xml, command);
    has_init_cmd_o_el = !init_cmd_o_el.empty();
}

std::ostream& operator<<(std::ostream& os, const MailBoxCmdType& v)
{
    eni_dump::fixed2(os);
    os << "<Transition>\n";
    for (TransitionType transition : v.transition_m_el)
        os << static_cast<int32_t>(transition) << '\n';
    os << "</Transition>\n";
    if (v.has_comment_o_el)
        eni_dump::value(os, "Comment", v.comment_o_el);
    eni_dump::value(os, "Timeout", v.timeout_m_el);
    eni_dump::bytes(os, "Data", v.data_m_el);
    if (v.has_disabled_o_el)
        eni_dump::truth(os, "Disabled", v.disabled_o_el);
    return os;
}

std::ostream& operator<<(std::ostream& os, const EtherCATConfig_Config_Slave_Mailbox_InitCmds& v)
{
    for (const MailBoxCmdType& command : v.init_cmd_o_el)
        eni_dump::inline_block(os, "InitCmd", command);
    return os;
}

// ---- SoE ------------------------------------------------------------------------

EtherCATConfig_Config_Slave_Mailbox_SoE_InitCmds_InitCmd::EtherCATConfig_Config_Slave_Mailbox_SoE_InitCmds_InitCmd(
    const XML_IO& xml, const xmlpp::Node* node)
{
    for (const std::string& text : ENI_Text::words(xml, "Transition", node))
        transition_m_el.push_back(str2trans(text));
    has_comment_o_el = ENI_Text::optional_ex(xml, "Comment", node, comment_o_el);
    timeout_m_el = ENI_Text::int32_ex(xml, "Timeout", node);
    op_code_m_el = ENI_Text::int32_ex(xml, "OpCode", node);
    drive_no_m_el = ENI_Text::int32_ex(xml, "DriveNo", node);
    idn_m_el = ENI_Text::int32_ex(xml, "IDN", node);
    elements_m_el = ENI_Text::int32_ex(xml, "Elements", node);
    attribute_m_el = ENI_Text::int32_ex(xml, "Attribute", node);
    has_data_o_el = ENI_Text::optional_ex(xml, "Data", node, data_o_el);
    has_disabled_o_el = ENI_Text::optional_ex(xml, "Disabled", node, disabled_o_el);
    has_fixed_o_att = xml.has_property("Fixed", node);
    if (has_fixed_o_att)
        fixed_o_att = ENI_Text::truth_attribute_ex(xml, "Fixed", node);
}

EtherCATConfig_Config_Slave_Mailbox_SoE_InitCmds::EtherCATConfig_Config_Slave_Mailbox_SoE_InitCmds(
    const XML_IO& xml, const xmlpp::Node* node)
{
    setup(xml, node);
}

void EtherCATConfig_Config_Slave_Mailbox_SoE_InitCmds::setup(const XML_IO& xml, const xmlpp::Node* node)
{
    for (const xmlpp::Node* command : xml.get_nodes_ex("InitCmd", node))
        init_cmd_o_el.emplace_back(xml, command);
    has_init_cmd_o_el = !init_cmd_o_el.empty();
}

EtherCATConfig_Config_Slave_Mailbox_SoE::EtherCATConfig_Config_Slave_Mailbox_SoE(const XML_IO& xml,
                                                                                 const xmlpp::Node* node)
{
    setup(xml, node);
}

void EtherCATConfig_Config_Slave_Mailbox_SoE::setup(const XML_IO& xml, const xmlpp::Node* node)
{
    has_init_cmd_o_el = ENI_Text::optional_ex(xml, "InitCmd", node, init_cmd_o_el);
}

std::ostream& operator<<(std::ostream& os, const EtherCATConfig_Config_Slave_Mailbox_SoE_InitCmds_InitCmd& v)
{
    if (v.has_fixed_o_att)
        eni_dump::attribute(os, "Fixed", v.fixed_o_att);
    for (TransitionType transition : v.transition_m_el)
        eni_dump::value(os, "Transition", static_cast<int32_t>(transition));
    if (v.has_comment_o_el)
        eni_dump::value(os, "Comment", v.comment_o_el);
    eni_dump::value(os, "Timeout", v.timeout_m_el);
    eni_dump::value(os, "OpCode", v.op_code_m_el);
    eni_dump::value(os, "DriveNo", v.drive_no_m_el);
    eni_dump::value(os, "IDN", v.idn_m_el);
    eni_dump::value(os, "Elements", v.elements_m_el);
    eni_dump::value(os, "Attribute", v.attribute_m_el);
    if (v.has_data_o_el)
        eni_dump::bytes(os, "Data", v.data_o_el);
    if (v.has_disabled_o_el)
        eni_dump::truth(os, "Disabled", v.disabled_o_el);
    return os;
}

std::ostream& operator<<(std::ostream& os, const EtherCATConfig_Config_Slave_Mailbox_SoE_InitCmds& v)
{
    for (const EtherCATConfig_Config_Slave_Mailbox_SoE_InitCmds_InitCmd& command : v.init_cmd_o_el)
        eni_dump::inline_block(os, "InitCmd", command);
    return os;
}

std::ostream& operator<<(std::ostream& os, const EtherCATConfig_Config_Slave_Mailbox_SoE& v)
{
    if (v.has_init_cmd_o_el)
        eni_dump::inline_block(os, "InitCmd", v.init_cmd_o_el);
    return os;
}

// ---- AoE, EoE, FoE, VoE -----------------------------------------------------------

EtherCATConfig_Config_Slave_Mailbox_AoE::EtherCATConfig_Config_Slave_Mailbox_AoE(const XML_IO& xml,
                                                                                 const xmlpp::Node* node)
{
    setup(xml, node);
}

void EtherCATConfig_Config_Slave_Mailbox_AoE::setup(const XML_IO& xml, const xmlpp::Node* node)
{
    read_command_list_ex(xml, "InitCmds", node, init_cmd_m_el);
    has_net_id_o_el = ENI_Text::optional_ex(xml, "NetId", node, net_id_o_el);
}

EtherCATConfig_Config_Slave_Mailbox_EoE::EtherCATConfig_Config_Slave_Mailbox_EoE(const XML_IO& xml,
                                                                                 const xmlpp::Node* node)
{
    setup(xml, node);
}

void EtherCATConfig_Config_Slave_Mailbox_EoE::setup(const XML_IO& xml, const xmlpp::Node* node)
{
    read_command_list_ex(xml, "InitCmds", node, init_cmd_m_el);
}

EtherCATConfig_Config_Slave_Mailbox_FoE::EtherCATConfig_Config_Slave_Mailbox_FoE(const XML_IO& xml,
                                                                                 const xmlpp::Node* node)
{
    setup(xml, node);
}

void EtherCATConfig_Config_Slave_Mailbox_FoE::setup(const XML_IO& xml, const xmlpp::Node* node)
{
    read_command_list_ex(xml, "InitCmd", node, init_cmd_m_el);
}

EtherCATConfig_Config_Slave_Mailbox_VoE::EtherCATConfig_Config_Slave_Mailbox_VoE(const XML_IO& xml,
                                                                                 const xmlpp::Node* node)
{
    setup(xml, node);
}

void EtherCATConfig_Config_Slave_Mailbox_VoE::setup(const XML_IO& xml, const xmlpp::Node* node)
{
    read_command_list_ex(xml, "InitCmd", node, init_cmd_m_el);
}

std::ostream& operator<<(std::ostream& os, const EtherCATConfig_Config_Slave_Mailbox_AoE& v)
{
    eni_dump::inline_block(os, "InitCmds", v.init_cmd_m_el);
    if (v.has_net_id_o_el)
        eni_dump::value(os, "NetId", v.net_id_o_el);
    return os;
}

std::ostream& operator<<(std::ostream& os, const EtherCATConfig_Config_Slave_Mailbox_EoE& v)
{
    eni_dump::inline_block(os, "InitCmd", v.init_cmd_m_el);
    return os;
}

std::ostream& operator<<(std::ostream& os, const EtherCATConfig_Config_Slave_Mailbox_FoE& v)
{
    eni_dump::inline_block(os, "InitCmd", v.init_cmd_m_el);
    return os;
}

std::ostream& operator<<(std::ostream& os, const EtherCATConfig_Config_Slave_Mailbox_VoE& v)
{
    eni_dump::inline_block(os, "InitCmd", v.init_cmd_m_el);
    return os;
}

// ---- the mailbox ------------------------------------------------------------------

EtherCATConfig_Config_Slave_Mailbox::EtherCATConfig_Config_Slave_Mailbox(const XML_IO& xml, const xmlpp::Node* node)
{
    setup(xml, node);
}

void EtherCATConfig_Config_Slave_Mailbox::setup(const XML_IO& xml, const xmlpp::Node* node)
{
    send_m_el.setup(xml, xml.get_node_ex("Send", node));
    recv_m_el.setup(xml, xml.get_node_ex("Recv", node));
    has_bootstrap_o_el = ENI_Text::optional_ex(xml, "BootStrap", node, bootstrap_o_el);
    for (const std::string& text : ENI_Text::words(xml, "Protocol", node)) {
        int found = -1;
        for (int i = 0; i < 6 && found < 0; ++i) {
            if (text == PROTOCOL_TEXTS[i])
                found = i;
        }
        if (found < 0)
            ENI_Text::choice_ex("Protocol", text, {"AoE", "EoE", "CoE", "SoE", "FoE", "VoE"});
        protocol_o_el.push_back(static_cast<Protocol_Enum>(found));
    }
    has_protocol_o_el = !protocol_o_el.empty();
    has_coe_o_el = ENI_Text::optional_ex(xml, "CoE", node, coe_o_el);
    has_soe_o_el = ENI_Text::optional_ex(xml, "SoE", node, soe_o_el);
    has_aoe_o_el = ENI_Text::optional_ex(xml, "AoE", node, aoe_o_el);
    has_eoe_o_el = ENI_Text::optional_ex(xml, "EoE", node, eoe_o_el);
    has_foe_o_el = ENI_Text::optional_ex(xml, "FoE", node, foe_o_el);
    has_voe_o_el = ENI_Text::optional_ex(xml, "VoE", node, voe_o_el);
    has_data_link_layer_o_att = xml.has_property("DataLinkLayer", node);
    if (has_data_link_layer_o_att)
        data_link_layer_o_att = ENI_Text::truth_attribute_ex(xml, "DataLinkLayer", node);
}

std::ostream& operator<<(std::ostream& os, const EtherCATConfig_Config_Slave_Mailbox& v)
{
    eni_dump::attribute(os, "DataLinkLayer", v.data_link_layer_o_att);
    eni_dump::block(os, "Send", v.send_m_el);
    eni_dump::block(os, "Recv", v.recv_m_el);
    if (v.has_bootstrap_o_el)
        eni_dump::block(os, "BootStrap", v.bootstrap_o_el);
    if (v.has_protocol_o_el) {
        for (EtherCATConfig_Config_Slave_Mailbox::Protocol_Enum protocol : v.protocol_o_el) {
            const int value = static_cast<int>(protocol);
            eni_dump::value(os, "Protocol", value >= 0 && value < 6 ? PROTOCOL_TEXTS[value] : "");
        }
    }
    if (v.has_coe_o_el)
        eni_dump::block(os, "CoE", v.coe_o_el);
    if (v.has_soe_o_el)
        eni_dump::block(os, "SoE", v.soe_o_el);
    if (v.has_aoe_o_el)
        eni_dump::block(os, "AoE", v.aoe_o_el);
    if (v.has_eoe_o_el)
        eni_dump::block(os, "EoE", v.eoe_o_el);
    if (v.has_foe_o_el)
        eni_dump::block(os, "FoE", v.foe_o_el);
    if (v.has_voe_o_el)
        eni_dump::block(os, "VoE", v.voe_o_el);
    return os;
}
