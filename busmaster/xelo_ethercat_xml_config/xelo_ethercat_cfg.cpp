// Document root, master section, register init commands, cyclic frames and
// process image.

#include <libxml/tree.h>

#include "eni_dump.h"
#include "eni_text.h"
#include "xelo_ethercat_cfg.h"

using XELO_XML::XML_IO;

namespace {

const char* const TRANSITION_TEXTS[] = {"IP", "PS", "PI", "SP", "SO", "SI", "OS",
                                        "OP", "OI", "IB", "BI", "II", "PP", "SS"};
constexpr int TRANSITION_COUNT = sizeof(TRANSITION_TEXTS) / sizeof(TRANSITION_TEXTS[0]);

// Elements of a namespace (a default xmlns on the root, or a prefix) are
// read by their local names, as elements without one.
void drop_element_namespaces(xmlNode* node)
{
    for (; node != nullptr; node = node->next) {
        if (node->type == XML_ELEMENT_NODE) {
            node->ns = nullptr;
            drop_element_namespaces(node->children);
        }
    }
}

State_Enum state_of(const std::string& text)
{
    if (text == "INIT")
        return INIT_STATE;
    if (text == "PREOP")
        return PREOP_STATE;
    if (text == "SAFEOP")
        return SAFEOP_STATE;
    if (text == "OP")
        return OP_STATE;
    return NO_STATE;
}

const char* state_text(State_Enum state)
{
    switch (state) {
    case INIT_STATE: return "INIT";
    case PREOP_STATE: return "PREOP";
    case SAFEOP_STATE: return "SAFEOP";
    case OP_STATE: return "OP";
    default: return "";
    }
}

}  // namespace

// ---- transitions --------------------------------------------------------

TransitionType str2trans(std::string text)
{
    for (int i = 0; i < TRANSITION_COUNT; ++i) {
        if (text == TRANSITION_TEXTS[i])
            return static_cast<TransitionType>(i);
    }
    ENI_Text::choice_ex("Transition", text,
                        {"IP", "PS", "PI", "SP", "SO", "SI", "OS", "OP", "OI", "IB", "BI", "II", "PP", "SS"});
}

std::string trans2str(TransitionType transition)
{
    const int value = static_cast<int>(transition);
    return value >= 0 && value < TRANSITION_COUNT ? TRANSITION_TEXTS[value] : "";
}

// ---- register init commands ---------------------------------------------

ECatCmdType_Validate::ECatCmdType_Validate(const XML_IO& xml, const xmlpp::Node* node)
{
    setup(xml, node);
}

void ECatCmdType_Validate::setup(const XML_IO& xml, const xmlpp::Node* node)
{
    data_m_el = ENI_Text::bytes_ex(xml, "Data", node);
    has_data_mask_o_olement = ENI_Text::optional_ex(xml, "DataMask", node, data_mask_o_olement);
    timeout_m_el = ENI_Text::count_ex(xml, "Timeout", node);
}

ECatCmdType::ECatCmdType(const XML_IO& xml, const xmlpp::Node* node)
{
    for (const std::string& text : ENI_Text::words(xml, "Transition", node))
        transition_o_el.push_back(str2trans(text));
    has_transition_o_el = !transition_o_el.empty();
    has_before_slaves_o_el = ENI_Text::optional_ex(xml, "BeforeSlave", node, before_slaves_o_el);
    has_comment_o_el = ENI_Text::optional_ex(xml, "Comment", node, comment_o_el);
    std::string requires_text;
    has_requires_o_el = ENI_Text::optional_ex(xml, "Requires", node, requires_text);
    if (has_requires_o_el)
        requires_o_el = requires_text == "frame" ? FRAME : requires_text == "cycle" ? CYCLE : REQUIRES_NULL;
    cmd_m_el = static_cast<Cmd_Enum>(ENI_Text::uint32_ex(xml, "Cmd", node));
    has_adp_oxor_el = ENI_Text::optional_ex(xml, "Adp", node, adp_oxor_el);
    has_addr_oxor_el = xml.has_unique_element("Addr", node);
    // A logically addressed command needs no Ado.
    if (!has_addr_oxor_el || xml.has_element("Ado", node))
        ado_mxor_el = ENI_Text::low16_ex(xml, "Ado", node);
    if (has_addr_oxor_el)
        addr_oxor_el = ENI_Text::uint32_ex(xml, "Addr", node);
    has_data_oxor_el = ENI_Text::optional_ex(xml, "Data", node, data_oxor_el);
    has_data_length_oxor_el = ENI_Text::optional_ex(xml, "DataLength", node, data_length_oxor_el);
    has_cnt_o_el = ENI_Text::optional_ex(xml, "Cnt", node, cnt_o_el);
    has_retries_o_el = ENI_Text::optional_count_ex(xml, "Retries", node, retries_o_el);
    has_validate_o_el = ENI_Text::optional_ex(xml, "Validate", node, validate_o_el);
}

InitCmds::InitCmds(const XML_IO& xml, const xmlpp::Node* node)
{
    setup(xml, node);
}

void InitCmds::setup(const XML_IO& xml, const xmlpp::Node* node)
{
    for (const xmlpp::Node* command : xml.get_nodes_ex("InitCmd", node))
        init_cmd_o_el.emplace_back(xml, command);
    has_init_cmd_o_el = !init_cmd_o_el.empty();
}

std::ostream& operator<<(std::ostream& os, const ECatCmdType_Validate& v)
{
    eni_dump::fixed2(os);
    eni_dump::bytes(os, "Data", v.data_m_el);
    if (v.has_data_mask_o_olement)
        eni_dump::bytes(os, "DataMask", v.data_mask_o_olement);
    eni_dump::value(os, "Timeout", v.timeout_m_el);
    return os;
}

std::ostream& operator<<(std::ostream& os, const ECatCmdType& v)
{
    eni_dump::fixed2(os);
    if (v.has_transition_o_el) {
        for (TransitionType transition : v.transition_o_el)
            eni_dump::value(os, "Transition", trans2str(transition));
    }
    if (v.has_before_slaves_o_el)
        eni_dump::truth(os, "BeforeSlave", v.before_slaves_o_el);
    if (v.has_comment_o_el)
        eni_dump::value(os, "Comment", v.comment_o_el);
    if (v.has_requires_o_el) {
        eni_dump::value(os, "Requires",
                        v.requires_o_el == ECatCmdType::FRAME   ? "frame"
                        : v.requires_o_el == ECatCmdType::CYCLE ? "cycle"
                                                                : "");
    }
    eni_dump::value(os, "Cmd", static_cast<uint32_t>(v.cmd_m_el));
    if (v.has_adp_oxor_el)
        eni_dump::value(os, "Adp", v.adp_oxor_el);
    eni_dump::value(os, "Ado", v.ado_mxor_el);
    if (v.has_addr_oxor_el)
        eni_dump::value(os, "Addr", v.addr_oxor_el);
    if (v.has_data_oxor_el)
        eni_dump::bytes(os, "Data", v.data_oxor_el);
    if (v.has_data_length_oxor_el)
        eni_dump::value(os, "DataLength", v.data_length_oxor_el);
    if (v.has_cnt_o_el)
        eni_dump::value(os, "Cnt", v.cnt_o_el);
    if (v.has_retries_o_el)
        eni_dump::value(os, "Retries", v.retries_o_el);
    if (v.has_validate_o_el)
        eni_dump::block(os, "Validate", v.validate_o_el);
    return os;
}

std::ostream& operator<<(std::ostream& os, const InitCmds& v)
{
    eni_dump::fixed2(os);
    for (const ECatCmdType& command : v.init_cmd_o_el)
        eni_dump::block(os, "InitCmd", command);
    return os;
}

// ---- master section -----------------------------------------------------

EtherCATConfig_Config_Master_Info::EtherCATConfig_Config_Master_Info(const XML_IO& xml, const xmlpp::Node* node)
{
    setup(xml, node);
}

void EtherCATConfig_Config_Master_Info::setup(const XML_IO& xml, const xmlpp::Node* node)
{
    name_m_el = ENI_Text::text_ex(xml, "Name", node);
    destination_m_el = ENI_Text::bytes_ex(xml, "Destination", node);
    source_m_el = ENI_Text::bytes_ex(xml, "Source", node);
    has_ether_type_o_el = ENI_Text::optional_ex(xml, "EtherType", node, ether_type_o_el);
}

EtherCATConfig_Config_Master_MailboxState::EtherCATConfig_Config_Master_MailboxState(const XML_IO& xml,
                                                                                     const xmlpp::Node* node)
{
    setup(xml, node);
}

void EtherCATConfig_Config_Master_MailboxState::setup(const XML_IO& xml, const xmlpp::Node* node)
{
    start_addr_m_el = ENI_Text::int32_ex(xml, "StartAddr", node);
    count_m_el = ENI_Text::int32_ex(xml, "Count", node);
}

EtherCATConfig_Config_Master_EoE::EtherCATConfig_Config_Master_EoE(const XML_IO& xml, const xmlpp::Node* node)
{
    setup(xml, node);
}

void EtherCATConfig_Config_Master_EoE::setup(const XML_IO& xml, const xmlpp::Node* node)
{
    max_ports_m_el = ENI_Text::int32_ex(xml, "MaxPorts", node);
    max_frames_m_el = ENI_Text::int32_ex(xml, "MaxFrames", node);
    max_macs_m_el = ENI_Text::int32_ex(xml, "MaxMACs", node);
}

EtherCATConfig_Config_Master::EtherCATConfig_Config_Master(const XML_IO& xml, const xmlpp::Node* node)
{
    setup(xml, node);
}

void EtherCATConfig_Config_Master::setup(const XML_IO& xml, const xmlpp::Node* node)
{
    info_m_el.setup(xml, xml.get_node_ex("Info", node));
    has_mailbox_state_o_el = ENI_Text::optional_ex(xml, "MailboxStates", node, mailbox_state_o_el);
    has_eoe_o_el = ENI_Text::optional_ex(xml, "EoE", node, eoe_o_el);
    has_init_cmds_o_el = ENI_Text::optional_ex(xml, "InitCmds", node, init_cmds_o_el);
}

std::ostream& operator<<(std::ostream& os, const EtherCATConfig_Config_Master_Info& v)
{
    eni_dump::value(os, "Name", v.name_m_el);
    eni_dump::bytes(os, "Destination", v.destination_m_el);
    eni_dump::bytes(os, "Source", v.source_m_el);
    if (v.has_ether_type_o_el)
        eni_dump::bytes(os, "EtherType", v.ether_type_o_el);
    return os;
}

std::ostream& operator<<(std::ostream& os, const EtherCATConfig_Config_Master_MailboxState& v)
{
    eni_dump::value(os, "StartAddr", v.start_addr_m_el);
    eni_dump::value(os, "Count", v.count_m_el);
    return os;
}

std::ostream& operator<<(std::ostream& os, const EtherCATConfig_Config_Master_EoE& v)
{
    eni_dump::value(os, "MaxPorts", v.max_ports_m_el);
    eni_dump::value(os, "MaxFrames", v.max_frames_m_el);
    eni_dump::value(os, "MaxMACs", v.max_macs_m_el);
    return os;
}

std::ostream& operator<<(std::ostream& os, const EtherCATConfig_Config_Master& v)
{
    eni_dump::block(os, "Info", v.info_m_el);
    if (v.has_mailbox_state_o_el)
        eni_dump::block(os, "MailboxStates", v.mailbox_state_o_el);
    if (v.has_eoe_o_el)
        eni_dump::block(os, "EoE", v.eoe_o_el);
    if (v.has_init_cmds_o_el)
        eni_dump::block(os, "InitCmds", v.init_cmds_o_el);
    return os;
}

// ---- cyclic frames --------------------------------------------------------

EtherCATConfig_Config_Cyclic_Frame_Cmd::EtherCATConfig_Config_Cyclic_Frame_Cmd(const XML_IO& xml,
                                                                               const xmlpp::Node* node)
{
    for (const std::string& text : ENI_Text::words(xml, "State", node))
        state_m_el.push_back(state_of(text));
    has_comment_o_el = ENI_Text::optional_ex(xml, "Comment", node, comment_o_el);
    cmd_m_el = ENI_Text::int32_ex(xml, "Cmd", node);
    if (xml.has_unique_element("Ado", node)) {
        has_adp_oxor_el = ENI_Text::optional_ex(xml, "Adp", node, adp_oxor_el);
        ado_mxor_el = ENI_Text::int32_ex(xml, "Ado", node);
    } else if (xml.has_unique_element("Addr", node)) {
        has_addr_mxor_el = true;
        addr_mxor_el = ENI_Text::int32_ex(xml, "Addr", node);
    } else {
        throw std::runtime_error("Missing : Ado or Addr (exactly one) in a cyclic Cmd!");
    }
    has_data_mxor_el = xml.has_unique_element("Data", node);
    if (has_data_mxor_el) {
        data_mxor_el = ENI_Text::bytes_ex(xml, "Data", node);
    } else {
        has_data_length_mxor_el = ENI_Text::optional_ex(xml, "DataLength", node, data_length_mxor_el);
    }
    has_cnt_o_el = ENI_Text::optional_ex(xml, "Cnt", node, cnt_o_el);
    input_offs_m_el = ENI_Text::int32_ex(xml, "InputOffs", node);
    output_offs_m_el = ENI_Text::int32_ex(xml, "OutputOffs", node);
    has_copy_infos_o_el = ENI_Text::optional_ex(xml, "CopyInfos", node, copy_infos_o_el);
}

EtherCATConfig_Config_Cyclic_Frame::EtherCATConfig_Config_Cyclic_Frame(const XML_IO& xml, const xmlpp::Node* node)
{
    has_comment_o_el = ENI_Text::optional_ex(xml, "Comment", node, comment_o_el);
    for (const xmlpp::Node* command : xml.get_nodes_ex("Cmd", node))
        cmd_m_el.emplace_back(xml, command);
}

EtherCATConfig_Config_Cyclic::EtherCATConfig_Config_Cyclic(const XML_IO& xml, const xmlpp::Node* node)
{
    setup(xml, node);
}

void EtherCATConfig_Config_Cyclic::setup(const XML_IO& xml, const xmlpp::Node* node)
{
    has_comment_o_el = ENI_Text::optional_ex(xml, "Comment", node, comment_o_el);
    has_cycle_time_o_el = ENI_Text::optional_ex(xml, "CycleTime", node, cycle_time_o_el);
    has_priority_o_el = ENI_Text::optional_ex(xml, "Priority", node, priority_o_el);
    has_task_id_o_el = ENI_Text::optional_ex(xml, "TaskId", node, task_id_o_el);
    for (const xmlpp::Node* frame : xml.get_nodes_ex("Frame", node))
        frame_m_el.emplace_back(xml, frame);
}

std::ostream& operator<<(std::ostream& os, const EtherCATConfig_Config_Cyclic_Frame_Cmd& v)
{
    for (State_Enum state : v.state_m_el)
        eni_dump::value(os, "State", state_text(state));
    if (v.has_comment_o_el)
        eni_dump::value(os, "Comment", v.comment_o_el);
    eni_dump::value(os, "Cmd", v.cmd_m_el);
    if (!v.has_addr_mxor_el) {
        if (v.has_adp_oxor_el)
            eni_dump::value(os, "Adp", v.adp_oxor_el);
        eni_dump::value(os, "Ado", v.ado_mxor_el);
    } else {
        eni_dump::value(os, "Addr", v.addr_mxor_el);
    }
    if (v.has_data_mxor_el)
        eni_dump::bytes(os, "Data", v.data_mxor_el);
    eni_dump::value(os, "DataLength", v.data_length_mxor_el);
    if (v.has_cnt_o_el)
        eni_dump::value(os, "Cnt", v.cnt_o_el);
    eni_dump::value(os, "InputOffs", v.input_offs_m_el);
    eni_dump::value(os, "OutputOffs", v.output_offs_m_el);
    if (v.has_copy_infos_o_el)
        eni_dump::block(os, "CopyInfos", v.copy_infos_o_el);
    return os;
}

std::ostream& operator<<(std::ostream& os, const EtherCATConfig_Config_Cyclic_Frame& v)
{
    if (v.has_comment_o_el)
        eni_dump::value(os, "Comment", v.comment_o_el);
    for (const EtherCATConfig_Config_Cyclic_Frame_Cmd& command : v.cmd_m_el)
        eni_dump::block(os, "Cmd", command);
    return os;
}

std::ostream& operator<<(std::ostream& os, const EtherCATConfig_Config_Cyclic& v)
{
    if (v.has_comment_o_el)
        eni_dump::value(os, "Comment", v.comment_o_el);
    if (v.has_cycle_time_o_el)
        eni_dump::value(os, "CycleTime", v.cycle_time_o_el);
    if (v.has_priority_o_el)
        eni_dump::value(os, "Priority", v.priority_o_el);
    if (v.has_task_id_o_el)
        eni_dump::value(os, "TaskId", v.task_id_o_el);
    for (const EtherCATConfig_Config_Cyclic_Frame& frame : v.frame_m_el)
        eni_dump::block(os, "Frame", frame);
    return os;
}

// ---- process image --------------------------------------------------------

VariableType::VariableType(const XML_IO& xml, const xmlpp::Node* node)
{
    name_m_el = ENI_Text::text_ex(xml, "Name", node);
    has_comment_o_el = ENI_Text::optional_ex(xml, "Comment", node, comment_o_el);
    has_data_type_o_el = ENI_Text::optional_ex(xml, "DataType", node, data_type_o_el);
    bit_size_m_el = ENI_Text::int32_ex(xml, "BitSize", node);
    bit_offs_m_el = ENI_Text::int32_ex(xml, "BitOffs", node);
}

EtherCATConfig_Config_ProcessImage_IO::EtherCATConfig_Config_ProcessImage_IO(const XML_IO& xml, const xmlpp::Node* node)
{
    setup(xml, node);
}

void EtherCATConfig_Config_ProcessImage_IO::setup(const XML_IO& xml, const xmlpp::Node* node)
{
    bit_size_m_el = ENI_Text::int32_ex(xml, "ByteSize", node);
    for (const xmlpp::Node* variable : xml.get_nodes_ex("Variable", node))
        variable_o_el.emplace_back(xml, variable);
}

EtherCATConfig_Config_ProcessImage::EtherCATConfig_Config_ProcessImage(const XML_IO& xml, const xmlpp::Node* node)
{
    setup(xml, node);
}

void EtherCATConfig_Config_ProcessImage::setup(const XML_IO& xml, const xmlpp::Node* node)
{
    has_inputs_o_el = ENI_Text::optional_ex(xml, "Inputs", node, inputs_o_el);
    has_outputs_o_el = ENI_Text::optional_ex(xml, "Outputs", node, outputs_o_el);
}

std::ostream& operator<<(std::ostream& os, const VariableType& v)
{
    eni_dump::fixed2(os);
    eni_dump::value(os, "Name", v.name_m_el);
    if (v.has_comment_o_el)
        eni_dump::value(os, "Comment", v.comment_o_el);
    if (v.has_data_type_o_el)
        eni_dump::value(os, "DataType", v.data_type_o_el);
    eni_dump::value(os, "BitSize", v.bit_size_m_el);
    eni_dump::value(os, "BitOffs", v.bit_offs_m_el);
    return os;
}

std::ostream& operator<<(std::ostream& os, const EtherCATConfig_Config_ProcessImage_IO& v)
{
    eni_dump::value(os, "ByteSize", v.bit_size_m_el);
    for (const VariableType& variable : v.variable_o_el)
        eni_dump::block(os, "Variable", variable);
    return os;
}

std::ostream& operator<<(std::ostream& os, const EtherCATConfig_Config_ProcessImage& v)
{
    if (v.has_inputs_o_el)
        eni_dump::block(os, "Inputs", v.inputs_o_el);
    if (v.has_outputs_o_el)
        eni_dump::block(os, "Outputs", v.outputs_o_el);
    return os;
}

// ---- document root ----------------------------------------------------------

EtherCATConfig_Config::EtherCATConfig_Config(std::string file_name)
{
    XML_IO& xml = m_xml_configuration_reader;
    xml.load_ex(file_name);
    drop_element_namespaces(xml.get_node_ex("/*")->cobj());
    const xmlpp::Node* config = xml.get_node_ex("Config");
    master_el.setup(xml, xml.get_node_ex("Master", config));
    for (const xmlpp::Node* slave : xml.get_nodes_ex("Slave", config))
        slaves_el.emplace_back(xml, slave);
    cyclic_el.setup(xml, xml.get_node_ex("Cyclic", config));
    processimage_el.setup(xml, xml.get_node_ex("ProcessImage", config));
    has_version_o_att = xml.has_property("Version", config);
    if (has_version_o_att)
        version_o_att = xml.get_element_property_ex<std::string>("Version", config);
}

std::ostream& operator<<(std::ostream& os, const EtherCATConfig_Config& v)
{
    os << "<Config>\n";
    if (v.has_version_o_att)
        os << "ATT:Version=" << v.version_o_att << '\n';
    eni_dump::block(os, "Master", v.master_el);
    for (const EtherCATConfig_Config_Slave& slave : v.slaves_el)
        eni_dump::block(os, "Slave", slave);
    eni_dump::block(os, "Cyclic", v.cyclic_el);
    eni_dump::block(os, "ProcessImage", v.processimage_el);
    os << "</Config>\n";
    return os;
}
