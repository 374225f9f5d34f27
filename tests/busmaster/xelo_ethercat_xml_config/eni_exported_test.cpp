// Whole ENI files in the shapes engineering tools export: value texts split
// into text, CDATA and comment nodes, and mailbox protocol sections without
// their command lists; an element inside a value and a doubled list are
// still refused.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "eni_test_support.h"

namespace {

std::string replaced(std::string text, const std::string& from, const std::string& to)
{
    const std::size_t at = text.find(from);
    if (at == std::string::npos)
        throw std::runtime_error("no " + from + " in the document");
    return text.replace(at, from.size(), to);
}

// A slave register command whose Comment, Transition and Data texts are given.
std::string slave_with_command(const std::string& comment, const std::string& transition = "PS",
                               const std::string& data = "0100")
{
    return eni_slave("<InitCmds><InitCmd><Transition>" + transition + "</Transition><Comment>" + comment +
                     "</Comment><Cmd>5</Cmd><Adp>1001</Adp><Ado>#x120</Ado><Data>" + data +
                     "</Data></InitCmd></InitCmds>");
}

std::string bytes_text(const std::vector<unsigned char>& bytes)
{
    std::string text;
    for (unsigned char byte : bytes)
        text += (text.empty() ? "" : " ") + std::to_string(byte);
    return text;
}

const ECatCmdType& slave_command(const EtherCATConfig_Config& eni)
{
    return eni.slaves_el.front().init_cmds_o_el.init_cmd_o_el.front();
}

std::string cyclic_with_state(const std::string& state)
{
    return "<Frame><Cmd><State>" + state +
           "</State><Cmd>7</Cmd><Adp>0</Adp><Ado>#x130</Ado><DataLength>2</DataLength><InputOffs>16</InputOffs>"
           "<OutputOffs>16</OutputOffs></Cmd></Frame>";
}

struct Text_Case {
    const char* shape;
    std::string document;
    std::function<std::string(const EtherCATConfig_Config&)> read;
    std::string value;
};

void PrintTo(const Text_Case& c, std::ostream* os)
{
    *os << c.shape;
}

class Eni_Split_Text_Test : public ::testing::TestWithParam<Text_Case> {};

TEST_P(Eni_Split_Text_Test, ReadsAsTheJoinedText)
{
    Eni_Temp_Dir dir;
    const EtherCATConfig_Config eni(dir.write("eni.xml", GetParam().document));
    EXPECT_EQ(GetParam().read(eni), GetParam().value);
}

const std::string PLAIN = eni_document(eni_slave(""));

INSTANTIATE_TEST_SUITE_P(
    Shapes, Eni_Split_Text_Test,
    ::testing::Values(
        Text_Case{"blank then CDATA in a comment",
                  eni_document(slave_with_command(" <![CDATA[EoE init command, ip]]>")),
                  [](const EtherCATConfig_Config& eni) { return slave_command(eni).comment_o_el; },
                  " EoE init command, ip"},
        Text_Case{"text and CDATA in a name", replaced(PLAIN, "<Name>m</Name>", "<Name>m<![CDATA[<1>]]></Name>"),
                  [](const EtherCATConfig_Config& eni) { return eni.master_el.info_m_el.name_m_el; }, "m<1>"},
        Text_Case{"CDATA number between blanks", eni_document(eni_slave("", " <![CDATA[#x82]]> ")),
                  [](const EtherCATConfig_Config& eni) {
                      return std::to_string(eni.slaves_el.front().info_m_el.vendor_id_m_el);
                  },
                  "130"},
        Text_Case{"comment inside a number",
                  replaced(PLAIN, "<PhysAddr>1001</PhysAddr>", "<PhysAddr>10<!-- station -->02</PhysAddr>"),
                  [](const EtherCATConfig_Config& eni) {
                      return std::to_string(eni.slaves_el.front().info_m_el.phys_addr_m_el);
                  },
                  "1002"},
        Text_Case{"byte string in two pieces", eni_document(slave_with_command("c", "PS", "0102<![CDATA[0a04]]>")),
                  [](const EtherCATConfig_Config& eni) { return bytes_text(slave_command(eni).data_oxor_el); },
                  "1 2 10 4"},
        Text_Case{"transition in CDATA", eni_document(slave_with_command("c", " <![CDATA[SP]]>")),
                  [](const EtherCATConfig_Config& eni) {
                      return trans2str(slave_command(eni).transition_o_el.front());
                  },
                  "SP"},
        Text_Case{"cyclic state in CDATA", eni_document(eni_slave(""), "", cyclic_with_state("<![CDATA[OP]]>")),
                  [](const EtherCATConfig_Config& eni) {
                      return std::to_string(eni.cyclic_el.frame_m_el.front().cmd_m_el.front().state_m_el.front());
                  },
                  std::to_string(OP_STATE)},
        Text_Case{"variable name in pieces",
                  eni_document(eni_slave(""), "", "",
                               "<Inputs><ByteSize>2</ByteSize><Variable><Name>Slave_1001"
                               "<![CDATA[.In]]></Name><BitSize>1</BitSize>"
                               "<BitOffs>0</BitOffs></Variable></Inputs>"),
                  [](const EtherCATConfig_Config& eni) {
                      return eni.processimage_el.inputs_o_el.variable_o_el.front().name_m_el;
                  },
                  "Slave_1001.In"},
        // As before: a comment alone is the value.
        Text_Case{"a comment alone", eni_document(slave_with_command("<!--c-->")),
                  [](const EtherCATConfig_Config& eni) { return slave_command(eni).comment_o_el; }, "c"}));

TEST(Eni_Split_Text, AnElementInsideAValueIsRefusedNamingTheValue)
{
    const struct {
        std::string document;
        std::string error;
    } cases[] = {
        {replaced(PLAIN, "<Name>s</Name>", "<Name>s<b/>t</Name>"), "Name => holds the element 'b'!"},
        {replaced(PLAIN, "<PhysAddr>1001</PhysAddr>", "<PhysAddr><n>1001</n></PhysAddr>"),
         "PhysAddr => holds the element 'n'!"},
        {eni_document(slave_with_command("c", "<t/>PS")), "Transition => holds the element 't'!"},
        {eni_document(eni_slave(""), "<MailboxStates><StartAddr>1<x/></StartAddr><Count>1</Count></MailboxStates>"),
         "StartAddr => holds the element 'x'!"},
    };
    Eni_Temp_Dir dir;
    for (const auto& c : cases) {
        const std::string path = dir.write("eni.xml", c.document);
        EXPECT_EQ(thrown_text([&] { EtherCATConfig_Config eni(path); }),
                  "[XML_IO][get_element_text_ex] Error extraction value : " + c.error)
            << c.error;
    }
}

// ---- mailbox protocol sections -----------------------------------------------------

const std::string AREAS =
    "<Send><Start>4096</Start><Length>128</Length></Send>"
    "<Recv><Start>4224</Start><Length>128</Length></Recv>";
const std::string MAILBOX_CMD = "<InitCmd><Transition>PS</Transition><Timeout>100</Timeout><Data>0102</Data></InitCmd>";

std::string mailbox_slave(const std::string& section)
{
    return eni_slave("<Mailbox>" + AREAS + section + "</Mailbox>");
}

using Mailbox = EtherCATConfig_Config_Slave_Mailbox;

struct Section_Case {
    std::string section;
    std::size_t commands;  // in the one section present
};

// The number of commands of the section the mailbox has; -1 without one.
long section_commands(const Mailbox& mailbox)
{
    if (mailbox.has_aoe_o_el)
        return static_cast<long>(mailbox.aoe_o_el.init_cmd_m_el.init_cmd_o_el.size());
    if (mailbox.has_eoe_o_el)
        return static_cast<long>(mailbox.eoe_o_el.init_cmd_m_el.init_cmd_o_el.size());
    if (mailbox.has_foe_o_el)
        return static_cast<long>(mailbox.foe_o_el.init_cmd_m_el.init_cmd_o_el.size());
    if (mailbox.has_voe_o_el)
        return static_cast<long>(mailbox.voe_o_el.init_cmd_m_el.init_cmd_o_el.size());
    return -1;
}

TEST(Eni_Mailbox_Sections, CommandListsAreOptionalButNotRepeated)
{
    const Section_Case cases[] = {
        {"<AoE><NetId>192.168.1.2.1.1</NetId></AoE>", 0},
        {"<AoE><InitCmds>" + MAILBOX_CMD + "</InitCmds><NetId>1.2.3.4.1.1</NetId></AoE>", 1},
        {"<EoE/>", 0},
        {"<EoE><InitCmds>" + MAILBOX_CMD + MAILBOX_CMD + "</InitCmds></EoE>", 2},
        {"<FoE/>", 0},
        {"<FoE><InitCmd>" + MAILBOX_CMD + "</InitCmd></FoE>", 1},
        {"<VoE/>", 0},
        {"<VoE><InitCmd>" + MAILBOX_CMD + "</InitCmd></VoE>", 1},
    };
    Eni_Temp_Dir dir;
    for (const auto& c : cases) {
        const EtherCATConfig_Config eni(dir.write("eni.xml", eni_document(mailbox_slave(c.section))));
        EXPECT_EQ(section_commands(eni.slaves_el.front().mailbox_o_el), static_cast<long>(c.commands)) << c.section;
    }

    const auto aoe =
        Eni_Snippet("<AoE><NetId>1.2.3.4.1.1</NetId></AoE>").build<EtherCATConfig_Config_Slave_Mailbox_AoE>();
    EXPECT_FALSE(aoe.init_cmd_m_el.has_init_cmd_o_el);
    EXPECT_EQ(dump_of(aoe), "<InitCmds></InitCmds>\n<NetId>1.2.3.4.1.1</NetId>\n");

    const struct {
        std::string section;
        std::string list;
    } doubled[] = {
        {"<AoE><InitCmds/><InitCmds/></AoE>", "InitCmds"},
        {"<EoE><InitCmds>" + MAILBOX_CMD + "</InitCmds><InitCmds/></EoE>", "InitCmds"},
        {"<FoE><InitCmd/><InitCmd/></FoE>", "InitCmd"},
        {"<VoE><InitCmd/><InitCmd/></VoE>", "InitCmd"},
    };
    for (const auto& c : doubled) {
        const std::string path = dir.write("eni.xml", eni_document(mailbox_slave(c.section)));
        EXPECT_EQ(thrown_text([&] { EtherCATConfig_Config eni(path); }), not_unique(c.list)) << c.section;
    }
}

}  // namespace
