// Whole ENI files: the fixtures and the demo cell's file against their golden
// dumps, files as tools write them, and every mandatory element of a file
// that has every optional one, removed or doubled.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "eni_test_support.h"

namespace {

const std::string FIXTURES = ENI_FIXTURES_DIR;
const std::string EXAMPLES = CELL_EXAMPLES_DIR;

struct Golden_Case {
    std::string file;
    std::string golden;
};

void PrintTo(const Golden_Case& c, std::ostream* os)
{
    *os << c.file;
}

class Eni_Golden_Test : public ::testing::TestWithParam<Golden_Case> {};

TEST_P(Eni_Golden_Test, DumpMatchesGolden)
{
    const EtherCATConfig_Config eni(GetParam().file);
    EXPECT_EQ(dump_of(eni), read_file(GetParam().golden));
}

INSTANTIATE_TEST_SUITE_P(
    Files, Eni_Golden_Test,
    ::testing::Values(Golden_Case{FIXTURES + "/fixtures/minimal.xml", FIXTURES + "/golden/minimal.dump"},
                      Golden_Case{FIXTURES + "/fixtures/two_slave.xml", FIXTURES + "/golden/two_slave.dump"},
                      Golden_Case{FIXTURES + "/fixtures/every_optional.xml", FIXTURES + "/golden/every_optional.dump"},
                      Golden_Case{EXAMPLES + "/busmaster/demo_cell_eni.xml", FIXTURES + "/golden/demo_cell_eni.dump"}));

// What the master takes from the demo cell's file.
TEST(Eni_Demo_Cell, DriveAndIoModuleAsTheMasterReadsThem)
{
    const EtherCATConfig_Config eni(EXAMPLES + "/busmaster/demo_cell_eni.xml");
    ASSERT_EQ(eni.slaves_el.size(), 2u);
    const EtherCATConfig_Config_Slave& io = eni.slaves_el.front();
    const EtherCATConfig_Config_Slave& drive = eni.slaves_el.back();

    EXPECT_EQ(io.info_m_el.phys_addr_m_el, 1001);
    EXPECT_FALSE(io.has_mailbox_o_el);
    EXPECT_FALSE(io.has_dc_o_el);
    ASSERT_TRUE(io.has_process_data_o_el);
    EXPECT_EQ(io.process_data_o_el.send_o_el.bit_length_m_el, 8);
    EXPECT_EQ(io.process_data_o_el.recv_o_el.bit_length_m_el, 8);
    ASSERT_EQ(io.process_data_o_el.rxpdo_mxor_el.size(), 1u);
    for (const EntryType& entry : io.process_data_o_el.rxpdo_mxor_el.front().entry_o_el)
        EXPECT_EQ(entry.bit_len_m_el, 1);

    EXPECT_EQ(drive.info_m_el.vendor_id_m_el, 130);
    EXPECT_EQ(drive.info_m_el.product_code_m_el, 768);
    EXPECT_EQ(drive.info_m_el.phys_addr_m_el, 1002);
    ASSERT_TRUE(drive.has_dc_o_el);
    EXPECT_EQ(drive.dc_o_el.cycle_time_0_m_el, 1000000);
    EXPECT_EQ(drive.dc_o_el.cycle_time_1_m_el, 0);
    ASSERT_TRUE(drive.has_mailbox_o_el);
    EXPECT_EQ(drive.mailbox_o_el.send_m_el.start_m_el, 0x1000);
    EXPECT_EQ(drive.mailbox_o_el.recv_m_el.start_m_el, 0x1080);
    ASSERT_TRUE(drive.mailbox_o_el.has_coe_o_el);
    const auto& coe = drive.mailbox_o_el.coe_o_el.init_cmds_o_el.init_cmd_o_el;
    std::vector<int> indexes;
    for (const auto& command : coe) {
        EXPECT_THAT(command.transition_m_el, ::testing::ElementsAre(PS));
        indexes.push_back(command.index_m_el);
    }
    EXPECT_THAT(indexes, ::testing::ElementsAre(0x1018, 0x1C12, 0x1C13, 0x1600, 0x1A00, 0x1C12, 0x1C13));
    const auto mapping = std::next(coe.begin(), 3);
    EXPECT_TRUE(mapping->complete_access_o_att);
    EXPECT_EQ(mapping->data_o_el.size(), 2u + 4 * 4);

    // One frame: reference clock, process data, AL status; the process data
    // of both slaves lies inside the logical read-write command's data.
    ASSERT_EQ(eni.cyclic_el.frame_m_el.size(), 1u);
    const auto& commands = eni.cyclic_el.frame_m_el.front().cmd_m_el;
    ASSERT_EQ(commands.size(), 3u);
    const auto& lrw = *std::next(commands.begin());
    EXPECT_EQ(lrw.cmd_m_el, EC_CMD_LRW);
    EXPECT_EQ(lrw.addr_mxor_el, 0x01000000);
    const int data_bit = (lrw.input_offs_m_el + 10) * 8;
    const int end_bit = data_bit + lrw.data_length_mxor_el * 8;
    for (const EtherCATConfig_Config_Slave& slave : eni.slaves_el) {
        for (const auto* window : {&slave.process_data_o_el.send_o_el, &slave.process_data_o_el.recv_o_el}) {
            EXPECT_GE(window->bit_start_m_el, data_bit);
            EXPECT_LE(window->bit_start_m_el + window->bit_length_m_el, end_bit);
        }
    }
    const auto& status = commands.back();
    EXPECT_EQ(status.cmd_m_el, EC_CMD_BRD);
    EXPECT_EQ(status.ado_mxor_el, 0x130);
    EXPECT_EQ(status.data_length_mxor_el, 2);
}

// ---- files as tools write them ------------------------------------------------

TEST(Eni_Tool_Files, NamespacesCommentsCdataAndUnknownElementsAreHarmless)
{
    Eni_Temp_Dir dir;
    const std::string text =
        "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>\n<!-- exported -->\n"
        "<EtherCATConfig xmlns=\"http://www.ethercat.org/EtherCATConfig\" "
        "xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\" Version=\"1.3\">\n"
        "<Config><!-- master --><Master><Info><Name><![CDATA[A <b> & c]]></Name>"
        "<Destination>ffffffffffff</Destination><Source>000000000000</Source><Unknown/></Info></Master>"
        "<Slave><Info><Name>s</Name><PhysAddr>#x03e9</PhysAddr><AutoIncAddr>0</AutoIncAddr><Physics>YY</Physics>"
        "<VendorId>#x00000082</VendorId><ProductCode>#x300</ProductCode><RevisionNo>0</RevisionNo>"
        "<SerialNo>0</SerialNo></Info><Boot/><Vendor><Id>1</Id></Vendor></Slave>"
        "<Cyclic/><ProcessImage/><Extra>x</Extra></Config></EtherCATConfig>\n";
    const EtherCATConfig_Config eni(dir.write("tool.xml", text));
    EXPECT_EQ(eni.master_el.info_m_el.name_m_el, "A <b> & c");
    ASSERT_EQ(eni.slaves_el.size(), 1u);
    EXPECT_EQ(eni.slaves_el.front().info_m_el.phys_addr_m_el, 1001);
    EXPECT_EQ(eni.slaves_el.front().info_m_el.vendor_id_m_el, 130);
    EXPECT_EQ(eni.slaves_el.front().info_m_el.product_code_m_el, 768);
    EXPECT_FALSE(eni.has_version_o_att);  // on the root element, not on Config
}

TEST(Eni_Tool_Files, AnyRootElementWithOneConfigAndNoSlaves)
{
    Eni_Temp_Dir dir;
    std::string text = eni_document("");
    text.replace(text.find("<EtherCATConfig>"), 16, "<Whatever>");
    text.replace(text.find("</EtherCATConfig>"), 17, "</Whatever>");
    const EtherCATConfig_Config eni(dir.write("any_root.xml", text));
    EXPECT_TRUE(eni.slaves_el.empty());
    EXPECT_FALSE(eni.processimage_el.has_inputs_o_el);
}

// ---- failures of the whole file ---------------------------------------------------

TEST(Eni_File_Errors, UnparsableOrMissingFile)
{
    Eni_Temp_Dir dir;
    const std::string broken = dir.write("broken.xml", "<EtherCATConfig><Config></EtherCATConfig>");
    EXPECT_THAT(thrown_text([&] { EtherCATConfig_Config eni(broken); }),
                ::testing::StartsWith("Could not parse file : " + broken + " desc = "));
    const std::string missing = dir.path() + "/missing.xml";
    EXPECT_THAT(thrown_text([&] { EtherCATConfig_Config eni(missing); }),
                ::testing::StartsWith("Could not parse file : " + missing + " desc = "));
}

// ---- every mandatory element removed or doubled -------------------------------------

enum class Edit { REMOVE, DOUBLE };

struct Mandatory_Case {
    std::string xpath;  // the element to edit, in every_optional.xml
    Edit edit;
    std::string error;
};

void PrintTo(const Mandatory_Case& c, std::ostream* os)
{
    *os << (c.edit == Edit::REMOVE ? "remove " : "double ") << c.xpath;
}

class Eni_Mandatory_Test : public ::testing::TestWithParam<Mandatory_Case> {};

TEST_P(Eni_Mandatory_Test, EditedFileIsRefusedNamingTheElement)
{
    xmlpp::DomParser parser;
    parser.parse_file(FIXTURES + "/fixtures/every_optional.xml");
    xmlpp::Element* root = parser.get_document()->get_root_node();
    const xmlpp::NodeSet found = root->find(GetParam().xpath);
    ASSERT_FALSE(found.empty()) << GetParam().xpath;
    xmlpp::Node* node = found.front();
    if (GetParam().edit == Edit::REMOVE)
        node->get_parent()->remove_child(node);
    else
        node->get_parent()->import_node(node);
    Eni_Temp_Dir dir;
    const std::string path = dir.path() + "/edited.xml";
    parser.get_document()->write_to_file(path);
    EXPECT_EQ(thrown_text([&] { EtherCATConfig_Config eni(path); }), GetParam().error);
}

std::vector<Mandatory_Case> mandatory_cases()
{
    // Path of each mandatory element; the last step names it in the error.
    const std::vector<std::string> paths = {
        "/EtherCATConfig/Config",
        "//Config/Master",
        "//Config/Cyclic",
        "//Config/ProcessImage",
        "//Master/Info",
        "//Master/Info/Name",
        "//Master/Info/Destination",
        "//Master/Info/Source",
        "//MailboxStates/StartAddr",
        "//MailboxStates/Count",
        "//Master/EoE/MaxPorts",
        "//Master/EoE/MaxFrames",
        "//Master/EoE/MaxMACs",
        "//Master/InitCmds/InitCmd/Cmd",
        "//Master/InitCmds/InitCmd/Ado",
        "//Master/InitCmds/InitCmd/Validate/Data",
        "//Master/InitCmds/InitCmd/Validate/Timeout",
        "//Slave/Info",
        "//Slave/Info/Name",
        "//Slave/Info/PhysAddr",
        "//Slave/Info/AutoIncAddr",
        "//Slave/Info/Physics",
        "//Slave/Info/VendorId",
        "//Slave/Info/ProductCode",
        "//Slave/Info/RevisionNo",
        "//Slave/Info/SerialNo",
        "//ProcessData/Send/BitStart",
        "//ProcessData/Send/BitLength",
        "//ProcessData/Recv/BitStart",
        "//ProcessData/Recv/BitLength",
        "//ProcessData/Sm0/Type",
        "//ProcessData/Sm1/StartAddress",
        "//ProcessData/Sm2/ControlByte",
        "//ProcessData/Sm3/Enable",
        "//RxPdo/Index",
        "//RxPdo/Name",
        "//TxPdo/Entry/Index",
        "//RxPdo/Entry/BitLen",
        "//Mailbox/Send",
        "//Mailbox/Recv",
        "//Mailbox/Send/Start",
        "//Mailbox/Send/Length",
        "//Mailbox/Recv/Start",
        "//Mailbox/Recv/Length",
        "//BootStrap/Send",
        "//BootStrap/Recv",
        "//BootStrap/Recv/Length",
        "//CoE/InitCmds/InitCmd/Timeout",
        "//CoE/InitCmds/InitCmd/Ccs",
        "//CoE/InitCmds/InitCmd/Index",
        "//CoE/InitCmds/InitCmd/SubIndex",
        "//ChannelInfo/ProfileNo",
        "//SoE/InitCmd/InitCmd/Timeout",
        "//SoE/InitCmd/InitCmd/OpCode",
        "//SoE/InitCmd/InitCmd/DriveNo",
        "//SoE/InitCmd/InitCmd/IDN",
        "//SoE/InitCmd/InitCmd/Elements",
        "//SoE/InitCmd/InitCmd/Attribute",
        "//AoE/InitCmds/InitCmd/Timeout",
        "//AoE/InitCmds/InitCmd/Data",
        "//FoE/InitCmd/InitCmd/Data",
        "//VoE/InitCmd/InitCmd/Timeout",
        "//Slave/InitCmds/InitCmd/Cmd",
        "//Slave/InitCmds/InitCmd/Ado",
        "//PreviousPort/Port",
        "//HotConnect/GroupMemberCnt",
        "//HotConnect/Identify/Cmd",
        "//HotConnect/Identify/Ado",
        "//Cyclic/Frame/Cmd/Cmd",
        "//Cyclic/Frame/Cmd/InputOffs",
        "//Cyclic/Frame/Cmd/OutputOffs",
        "//CopyInfos/Entry/SrcBitOffs",
        "//CopyInfos/Entry/DstBitOffs",
        "//CopyInfos/Entry/BitSize",
        "//ProcessImage/Inputs/ByteSize",
        "//ProcessImage/Outputs/Variable/Name",
        "//ProcessImage/Inputs/Variable/BitSize",
        "//ProcessImage/Inputs/Variable/BitOffs",
    };
    std::vector<Mandatory_Case> cases;
    for (const std::string& path : paths) {
        const std::string name = path.substr(path.rfind('/') + 1);
        cases.push_back({path, Edit::REMOVE, not_unique(name)});
        cases.push_back({path, Edit::DOUBLE, not_unique(name)});
    }
    // Two command lists in a mailbox section are refused; none is no error.
    for (const std::string path :
         {"//CoE/InitCmds", "//AoE/InitCmds", "//EoE/InitCmds", "//FoE/InitCmd", "//VoE/InitCmd"})
        cases.push_back({path, Edit::DOUBLE, not_unique(path.substr(path.rfind('/') + 1))});
    // A cyclic command needs exactly one Ado or one Addr.
    const std::string missing = "Missing : Ado or Addr (exactly one) in a cyclic Cmd!";
    cases.push_back({"//Cyclic/Frame/Cmd/Ado", Edit::REMOVE, missing});
    cases.push_back({"//Cyclic/Frame/Cmd/Ado", Edit::DOUBLE, missing});
    cases.push_back({"//Cyclic/Frame/Cmd/Addr", Edit::REMOVE, missing});
    cases.push_back({"//Cyclic/Frame/Cmd/Addr", Edit::DOUBLE, missing});
    return cases;
}

INSTANTIATE_TEST_SUITE_P(EveryOptional, Eni_Mandatory_Test, ::testing::ValuesIn(mandatory_cases()));

}  // namespace
