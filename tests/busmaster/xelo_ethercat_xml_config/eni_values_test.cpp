// How element and attribute texts become model values: numbers in either
// base, the ranges of the fields, truth values, byte strings and the texts of
// transitions, ports, protocols, sync-manager types and states; the XML
// layer's texts for malformed values.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <climits>
#include <string>

#include "eni_test_support.h"

using ::testing::ElementsAre;

namespace {

std::string info_with_vendor(const std::string& text)
{
    return "<Info><Name>s</Name><PhysAddr>1</PhysAddr><AutoIncAddr>0</AutoIncAddr><Physics>Y</Physics>"
           "<VendorId>" +
           text + "</VendorId><ProductCode>1</ProductCode><RevisionNo>0</RevisionNo><SerialNo>0</SerialNo></Info>";
}

std::string number_error(const std::string& name, const std::string& text, const std::string& what)
{
    return "[ENI_Text][number_ex] Error value : " + name + " => '" + text + "' " + what;
}

// ---- 32-bit number fields -------------------------------------------------------

struct Number_Case {
    std::string text;
    int32_t value;
    std::string error;  // empty: read as value
};

void PrintTo(const Number_Case& c, std::ostream* os)
{
    *os << "'" << c.text << "'";
}

class Eni_Number_Test : public ::testing::TestWithParam<Number_Case> {};

TEST_P(Eni_Number_Test, VendorIdText)
{
    const Eni_Snippet snippet(info_with_vendor(GetParam().text));
    if (GetParam().error.empty()) {
        EXPECT_EQ(snippet.build<EtherCATConfig_Config_Slave_Info>().vendor_id_m_el, GetParam().value);
    } else {
        EXPECT_EQ(thrown_text([&] { snippet.build<EtherCATConfig_Config_Slave_Info>(); }), GetParam().error);
    }
}

const std::string NAN_TEXT = "is not a number!";
const std::string RANGE_TEXT = "is out of range!";

INSTANTIATE_TEST_SUITE_P(
    Texts, Eni_Number_Test,
    ::testing::Values(Number_Case{"2", 2, ""}, Number_Case{" 2\n", 2, ""}, Number_Case{"", 0, ""},
                      Number_Case{"-5", -5, ""}, Number_Case{"0x10", 16, ""}, Number_Case{"#x10", 16, ""},
                      Number_Case{"#X1a", 26, ""}, Number_Case{"2147483647", INT32_MAX, ""},
                      // above 2147483647: the unsigned 32-bit pattern
                      Number_Case{"2147483648", INT32_MIN, ""}, Number_Case{"4294967295", -1, ""},
                      Number_Case{"#xE0000002", static_cast<int32_t>(0xE0000002u), ""},
                      Number_Case{"-2147483648", INT32_MIN, ""},
                      Number_Case{"4294967296", 0, number_error("VendorId", "4294967296", RANGE_TEXT)},
                      Number_Case{"-2147483649", 0, number_error("VendorId", "-2147483649", RANGE_TEXT)},
                      Number_Case{"99999999999999999999", 0,
                                  number_error("VendorId", "99999999999999999999", RANGE_TEXT)},
                      Number_Case{"12ab", 0, number_error("VendorId", "12ab", NAN_TEXT)},
                      Number_Case{"1 2", 0, number_error("VendorId", "1 2", NAN_TEXT)},
                      Number_Case{"0x", 0, number_error("VendorId", "0x", NAN_TEXT)},
                      Number_Case{"1.5", 0, number_error("VendorId", "1.5", NAN_TEXT)},
                      Number_Case{"#x1g", 0, number_error("VendorId", "#x1g", NAN_TEXT)},
                      Number_Case{"vendor", 0, number_error("VendorId", "vendor", NAN_TEXT)}));

// ---- init command: 16-bit addresses, Ado/Addr, byte strings, truth values --------

std::string init_cmd(const std::string& children)
{
    return "<InitCmd><Cmd>2</Cmd>" + children + "</InitCmd>";
}

// Adp, Ado and DataLength keep the low 16 bits of any number: Adp -1 is the
// second slave's position address.
TEST(Eni_Init_Cmd, SixteenBitFieldsKeepTheLow16Bits)
{
    const struct {
        const char* text;
        uint16_t value;
    } cases[] = {{"0", 0}, {"65535", 0xFFFF}, {"-1", 0xFFFF}, {"65536", 0}, {"#xffff", 0xFFFF}, {"0x1001", 0x1001}};
    for (const auto& c : cases) {
        const ECatCmdType cmd =
            Eni_Snippet(init_cmd(std::string("<Adp>") + c.text + "</Adp><Ado>0</Ado>")).build<ECatCmdType>();
        EXPECT_TRUE(cmd.has_adp_oxor_el) << c.text;
        EXPECT_EQ(cmd.adp_oxor_el, c.value) << c.text;
    }
    const ECatCmdType wide = Eni_Snippet(init_cmd("<Ado>65537</Ado><DataLength>-2</DataLength>")).build<ECatCmdType>();
    EXPECT_EQ(wide.ado_mxor_el, 1);
    EXPECT_EQ(wide.data_length_oxor_el, 0xFFFE);
    const Eni_Snippet bad(init_cmd("<Adp>1x</Adp><Ado>0</Ado>"));
    EXPECT_EQ(thrown_text([&] { bad.build<ECatCmdType>(); }), number_error("Adp", "1x", NAN_TEXT));
}

TEST(Eni_Init_Cmd, WriteWithPositionAddressAndData)
{
    const ECatCmdType cmd = Eni_Snippet(init_cmd("<Adp>0</Adp><Ado>288</Ado><Data>0200</Data>")).build<ECatCmdType>();
    EXPECT_EQ(cmd.cmd_m_el, EC_CMD_APWR);
    EXPECT_EQ(cmd.ado_mxor_el, 288);
    EXPECT_THAT(cmd.data_oxor_el, ElementsAre(0x02, 0x00));
    EXPECT_FALSE(cmd.has_addr_oxor_el);
    EXPECT_EQ(cmd.addr_oxor_el, 0xFFFFFFFFu);
    EXPECT_FALSE(cmd.has_validate_o_el);
    EXPECT_EQ(dump_of(cmd), "<Cmd>2</Cmd>\n<Adp>0</Adp>\n<Ado>288</Ado>\n<Data>20</Data>\n");
}

TEST(Eni_Init_Cmd, AdoIsRequiredOnlyWithoutAddr)
{
    const ECatCmdType logical =
        Eni_Snippet(init_cmd("<Addr>#x01000000</Addr><DataLength>4</DataLength>")).build<ECatCmdType>();
    EXPECT_TRUE(logical.has_addr_oxor_el);
    EXPECT_EQ(logical.addr_oxor_el, 0x01000000u);
    EXPECT_EQ(logical.ado_mxor_el, 0);
    EXPECT_FALSE(logical.has_adp_oxor_el);
    EXPECT_EQ(logical.adp_oxor_el, 0xFFFF);

    const Eni_Snippet positional(init_cmd("<Adp>0</Adp><DataLength>4</DataLength>"));
    EXPECT_EQ(thrown_text([&] { positional.build<ECatCmdType>(); }), not_unique("Ado"));
}

// The master repeats a command Retries times and for 3 x Timeout ms: neither
// may be negative, also not as the 32-bit pattern of a negative number.
TEST(Eni_Init_Cmd, RetriesAndValidateTimeoutAreNotNegative)
{
    const struct {
        const char* retries;
        const char* timeout;
        int32_t retries_value, timeout_value;
        std::string error;  // empty: read
    } cases[] = {
        {"0", "0", 0, 0, ""},
        {"#x10", "5000", 16, 5000, ""},
        {"2147483647", "2147483647", INT32_MAX, INT32_MAX, ""},
        {"-1", "5000", 0, 0, number_error("Retries", "-1", RANGE_TEXT)},
        {"3", "-1", 0, 0, number_error("Timeout", "-1", RANGE_TEXT)},
        {"4294967295", "5000", 0, 0, number_error("Retries", "4294967295", RANGE_TEXT)},
        {"3", "2147483648", 0, 0, number_error("Timeout", "2147483648", RANGE_TEXT)},
    };
    for (const auto& c : cases) {
        const Eni_Snippet snippet(init_cmd(std::string("<Ado>0</Ado><Retries>") + c.retries +
                                           "</Retries><Validate><Data>02</Data><Timeout>" + c.timeout +
                                           "</Timeout></Validate>"));
        if (!c.error.empty()) {
            EXPECT_EQ(thrown_text([&] { snippet.build<ECatCmdType>(); }), c.error) << c.retries << " " << c.timeout;
            continue;
        }
        const ECatCmdType cmd = snippet.build<ECatCmdType>();
        EXPECT_EQ(cmd.retries_o_el, c.retries_value);
        EXPECT_EQ(cmd.validate_o_el.timeout_m_el, c.timeout_value);
    }
}

TEST(Eni_Init_Cmd, OptionalElementGivenTwiceCountsAsAbsent)
{
    const ECatCmdType cmd = Eni_Snippet(init_cmd("<Ado>0</Ado><Comment>a</Comment><Comment>b</Comment>"
                                                 "<Cnt>1</Cnt><Cnt>2</Cnt><Requires>other</Requires>"))
                                .build<ECatCmdType>();
    EXPECT_FALSE(cmd.has_comment_o_el);
    EXPECT_EQ(cmd.comment_o_el, "");
    EXPECT_FALSE(cmd.has_cnt_o_el);
    EXPECT_TRUE(cmd.has_requires_o_el);
    EXPECT_EQ(cmd.requires_o_el, ECatCmdType::REQUIRES_NULL);
    EXPECT_EQ(dump_of(cmd), "<Requires></Requires>\n<Cmd>2</Cmd>\n<Ado>0</Ado>\n");
}

TEST(Eni_Init_Cmd, ByteStrings)
{
    const struct {
        const char* text;
        std::vector<unsigned char> bytes;
        const char* dump;
    } cases[] = {{"0200", {0x02, 0x00}, "20"},
                 {"", {}, ""},
                 {"ffFF00", {0xff, 0xff, 0x00}, "ffff0"},
                 {"0a 0B\n05", {0x0a, 0x0b, 0x05}, "ab5"}};
    for (const auto& c : cases) {
        const ECatCmdType cmd =
            Eni_Snippet(init_cmd(std::string("<Ado>0</Ado><Data>") + c.text + "</Data>")).build<ECatCmdType>();
        EXPECT_EQ(cmd.data_oxor_el, c.bytes) << c.text;
        EXPECT_THAT(dump_of(cmd), ::testing::HasSubstr(std::string("<Data>") + c.dump + "</Data>\n")) << c.text;
    }
    const Eni_Snippet odd(init_cmd("<Ado>0</Ado><Data>020</Data>"));
    EXPECT_EQ(thrown_text([&] { odd.build<ECatCmdType>(); }),
              "[ENI_Text][bytes_ex] Error value : Data => '020' has an odd number of hexadecimal digits!");
    const Eni_Snippet wrong(init_cmd("<Ado>0</Ado><Data>0x02</Data>"));
    EXPECT_EQ(thrown_text([&] { wrong.build<ECatCmdType>(); }),
              "[ENI_Text][bytes_ex] Error value : Data => '0x02' is not a hexadecimal byte string!");
}

TEST(Eni_Init_Cmd, TruthValues)
{
    const struct {
        const char* text;
        bool value;
    } cases[] = {{"1", true}, {"0", false}, {"2", true}, {"true", true}, {"false", false}, {"", false}};
    for (const auto& c : cases) {
        const ECatCmdType cmd =
            Eni_Snippet(init_cmd(std::string("<Ado>0</Ado><BeforeSlave>") + c.text + "</BeforeSlave>"))
                .build<ECatCmdType>();
        EXPECT_TRUE(cmd.has_before_slaves_o_el) << c.text;
        EXPECT_EQ(cmd.before_slaves_o_el, c.value) << c.text;
    }
    const Eni_Snippet yes(init_cmd("<Ado>0</Ado><BeforeSlave>yes</BeforeSlave>"));
    EXPECT_EQ(thrown_text([&] { yes.build<ECatCmdType>(); }),
              "[ENI_Text][truth_ex] Error value : BeforeSlave => 'yes' is not a truth value!");
}

// ---- transitions -------------------------------------------------------------------

TEST(Eni_Transitions, TextsRoundTripAndUnknownTextsAreRefused)
{
    for (int value = IP; value <= SS; ++value) {
        const std::string text = trans2str(static_cast<TransitionType>(value));
        EXPECT_EQ(text.size(), 2u);
        EXPECT_EQ(str2trans(text), value) << text;
    }
    EXPECT_EQ(trans2str(static_cast<TransitionType>(14)), "");
    const std::string allowed = "IP, PS, PI, SP, SO, SI, OS, OP, OI, IB, BI, II, PP, SS!";
    for (const char* text : {"ps", "XY", ""}) {
        EXPECT_EQ(thrown_text([&] { str2trans(text); }),
                  std::string("[ENI_Text][choice_ex] Error value : Transition => '") + text + "' is not one of " +
                      allowed);
    }
}

TEST(Eni_Transitions, RegisterCommandKeepsOrderAndDuplicates)
{
    const ECatCmdType cmd = Eni_Snippet(init_cmd("<Transition>PS</Transition><Transition>SP</Transition>"
                                                 "<Transition>PS</Transition><Ado>0</Ado>"))
                                .build<ECatCmdType>();
    EXPECT_TRUE(cmd.has_transition_o_el);
    EXPECT_THAT(cmd.transition_o_el, ElementsAre(PS, SP, PS));
    const Eni_Snippet unknown(init_cmd("<Transition>XY</Transition><Ado>0</Ado>"));
    EXPECT_THAT(thrown_text([&] { unknown.build<ECatCmdType>(); }), ::testing::HasSubstr("Transition => 'XY'"));
}

TEST(Eni_Transitions, MailboxCommandTakesNumbersAndTexts)
{
    const MailBoxCmdType cmd =
        Eni_Snippet(
            "<InitCmd><Transition>1</Transition><Transition>PS</Transition><Transition>#xd</Transition>"
            "<Timeout>5</Timeout><Data>01</Data></InitCmd>")
            .build<MailBoxCmdType>();
    EXPECT_THAT(cmd.transition_m_el, ElementsAre(PS, PS, SS));
    EXPECT_EQ(dump_of(cmd), "<Transition>\n1\n1\n13\n</Transition>\n<Timeout>5</Timeout>\n<Data>1</Data>\n");
    for (const char* text : {"14", "-1", "ZZ"}) {
        const Eni_Snippet bad(std::string("<InitCmd><Transition>") + text +
                              "</Transition><Timeout>5</Timeout><Data>01</Data></InitCmd>");
        EXPECT_THAT(thrown_text([&] { bad.build<MailBoxCmdType>(); }),
                    ::testing::StartsWith(std::string("[ENI_Text][choice_ex] Error value : Transition => '") + text +
                                          "' is not one of "))
            << text;
    }
    const Eni_Snippet no_data("<InitCmd><Timeout>5</Timeout></InitCmd>");
    EXPECT_EQ(thrown_text([&] { no_data.build<MailBoxCmdType>(); }), not_unique("Data"));
}

// ---- process data ------------------------------------------------------------------

TEST(Eni_Process_Data, IndexesAreHexadecimalWithOrWithoutPrefix)
{
    const PdoType pdo = Eni_Snippet(
                            "<RxPdo><Index>0x16A</Index><Name>p</Name><Exclude>#x1601</Exclude>"
                            "<Exclude>5634</Exclude><Entry><Index>10</Index><SubIndex>#x1</SubIndex>"
                            "<BitLen>8</BitLen></Entry><Entry><Index>#x6040</Index><BitLen>16</BitLen>"
                            "</Entry></RxPdo>")
                            .build<PdoType>();
    EXPECT_EQ(pdo.index_m_el, 0x16Au);
    EXPECT_THAT(pdo.exclude_o_el, ElementsAre(0x1601u, 0x1602u));
    ASSERT_EQ(pdo.entry_o_el.size(), 2u);
    EXPECT_EQ(pdo.entry_o_el.front().index_m_el, 0x10u);
    EXPECT_EQ(pdo.entry_o_el.front().subindex_o_el, 1u);
    EXPECT_EQ(pdo.entry_o_el.back().index_m_el, 0x6040u);
    EXPECT_FALSE(pdo.entry_o_el.back().has_subindex_o_el);
    EXPECT_FALSE(pdo.has_sm_o_att);
    EXPECT_EQ(pdo.sm_o_att, -1);
    EXPECT_EQ(dump_of(pdo).substr(0, 26), "\n<Index>#x16a</Index>\n<Nam");

    const Eni_Snippet bad("<RxPdo><Index>16g</Index><Name>p</Name></RxPdo>");
    EXPECT_EQ(thrown_text([&] { bad.build<PdoType>(); }), number_error("Index", "16g", NAN_TEXT));
}

TEST(Eni_Process_Data, SyncManagerTypeAsNumberOrWord)
{
    const struct {
        const char* text;
        int32_t type;
    } cases[] = {{"0", 0},
                 {"1", 1},
                 {"Outputs", SyncManagerSettingsType::OUTPUTS},
                 {"Inputs", SyncManagerSettingsType::INPUTS},
                 {"3", 3}};
    for (const auto& c : cases) {
        const SyncManagerSettingsType sm =
            Eni_Snippet(std::string("<Sm2><Type>") + c.text +
                        "</Type><StartAddress>#x1100</StartAddress><ControlByte>#x64</ControlByte>"
                        "<Enable>1</Enable><Virtual>1</Virtual><DefaultSize>8</DefaultSize>"
                        "<Pdo>#x1600</Pdo><Pdo>5633</Pdo></Sm2>")
                .build<SyncManagerSettingsType>();
        EXPECT_EQ(sm.type_m_el, c.type) << c.text;
        EXPECT_EQ(sm.start_address_m_el, 0x1100);
        EXPECT_TRUE(sm.has_virtual_o_el && sm.virtual_o_el);
        EXPECT_EQ(sm.default_size_o_el, 8);
        EXPECT_THAT(sm.pdo_o_el, ElementsAre(0x1600, 0x1601));
    }
    const Eni_Snippet bad(
        "<Sm2><Type>outputs</Type><StartAddress>0</StartAddress><ControlByte>0</ControlByte>"
        "<Enable>1</Enable></Sm2>");
    EXPECT_EQ(thrown_text([&] { bad.build<SyncManagerSettingsType>(); }), number_error("Type", "outputs", NAN_TEXT));
}

// ---- slave records -------------------------------------------------------------------

TEST(Eni_Slave, ClockIsPresentOnlyWithACycleTime)
{
    const struct {
        const char* children;
        bool present;
        bool reference;
        int32_t cycle0, cycle1, shift;
    } cases[] = {
        {"<CycleTime0>1000000</CycleTime0>", true, true, 1000000, -1, -1},
        {"<ReferenceClock>0</ReferenceClock><CycleTime1>500</CycleTime1>", true, false, -1, 500, -1},
        {"<ShiftTime>100</ShiftTime>", false, true, -1, -1, 100},
        {"", false, true, -1, -1, -1},
        {"<CycleTime0>-1</CycleTime0><CycleTime1>-1</CycleTime1>", false, true, -1, -1, -1},
        // repeated elements take their defaults
        {"<CycleTime0>1</CycleTime0><CycleTime0>2</CycleTime0><CycleTime1>3</CycleTime1>", true, true, -1, 3, -1},
    };
    for (const auto& c : cases) {
        const auto slave =
            Eni_Snippet(eni_slave(std::string("<DC>") + c.children + "</DC>")).build<EtherCATConfig_Config_Slave>();
        EXPECT_EQ(slave.has_dc_o_el, c.present) << c.children;
        EXPECT_EQ(slave.dc_o_el.reference_clock_m_el, c.reference) << c.children;
        EXPECT_EQ(slave.dc_o_el.cycle_time_0_m_el, c.cycle0) << c.children;
        EXPECT_EQ(slave.dc_o_el.cycle_time_1_m_el, c.cycle1) << c.children;
        EXPECT_EQ(slave.dc_o_el.shift_time_m_el, c.shift) << c.children;
    }
}

TEST(Eni_Slave, InfoOnlyAndRepeatedSections)
{
    const auto bare = Eni_Snippet(eni_slave("")).build<EtherCATConfig_Config_Slave>();
    EXPECT_FALSE(bare.has_process_data_o_el || bare.has_mailbox_o_el || bare.has_init_cmds_o_el ||
                 bare.has_previus_port_c_el || bare.has_hot_connect_o_el || bare.has_dc_o_el);
    EXPECT_EQ(dump_of(bare),
              "<Info>\n<Name>s</Name>\n<PhysAddr>1001</PhysAddr>\n<AutoIncAddr>0</AutoIncAddr>\n"
              "<Physics>YY</Physics>\n<VendorId>2</VendorId>\n<ProductCode>1</ProductCode>\n"
              "<RevisionNo>0</RevisionNo>\n<SerialNo>0</SerialNo>\n<ProductRevision></ProductRevision>\n"
              "</Info>\n");
    const auto twice = Eni_Snippet(eni_slave("<ProcessData/><ProcessData/>")).build<EtherCATConfig_Config_Slave>();
    EXPECT_FALSE(twice.has_process_data_o_el);
}

TEST(Eni_Slave, PortLetters)
{
    const struct {
        const char* text;
        EtherCATConfig_Config_Slave_PreviusPort::Port_Enum port;
    } cases[] = {{"A", EtherCATConfig_Config_Slave_PreviusPort::A},
                 {"B", EtherCATConfig_Config_Slave_PreviusPort::B},
                 {"C", EtherCATConfig_Config_Slave_PreviusPort::C},
                 {"D", EtherCATConfig_Config_Slave_PreviusPort::D}};
    for (const auto& c : cases) {
        const auto port = Eni_Snippet(std::string("<PreviousPort><Port>") + c.text + "</Port></PreviousPort>")
                              .build<EtherCATConfig_Config_Slave_PreviusPort>();
        EXPECT_EQ(port.port_m_el, c.port) << c.text;
        EXPECT_EQ(dump_of(port), std::string("\n<Port>") + c.text + "</Port>\n");
    }
    for (const char* text : {"c", "", "E"}) {
        const Eni_Snippet bad(std::string("<PreviousPort Selected=\"1\"><Port>") + text + "</Port></PreviousPort>");
        EXPECT_EQ(thrown_text([&] { bad.build<EtherCATConfig_Config_Slave_PreviusPort>(); }),
                  std::string("[ENI_Text][choice_ex] Error value : Port => '") + text + "' is not one of A, B, C, D!");
    }
}

TEST(Eni_Slave, HotConnectWithoutIdentifyCommands)
{
    const auto hot = Eni_Snippet("<HotConnect><GroupMemberCnt>3</GroupMemberCnt><Other/></HotConnect>")
                         .build<EtherCATConfig_Config_Slave_HotConnect>();
    EXPECT_EQ(hot.group_member_cnt_m_el, 3);
    EXPECT_TRUE(hot.identify_cmd.empty());
    EXPECT_EQ(dump_of(hot), "<GroupMemberCnt>3</GroupMemberCnt>\n");
}

// ---- mailbox ----------------------------------------------------------------------------

const std::string AREAS =
    "<Send><Start>4096</Start><Length>128</Length></Send>"
    "<Recv><Start>4224</Start><Length>128</Length></Recv>";

TEST(Eni_Mailbox, SectionsAreReadWithoutAProtocolList)
{
    const auto mailbox = Eni_Snippet("<Mailbox>" + AREAS +
                                     "<CoE><InitCmds><InitCmd><Transition>PS</Transition><Timeout>0</Timeout>"
                                     "<Ccs>1</Ccs><Index>#x1c12</Index><SubIndex>0</SubIndex><Data>00</Data>"
                                     "</InitCmd></InitCmds></CoE></Mailbox>")
                             .build<EtherCATConfig_Config_Slave_Mailbox>();
    EXPECT_FALSE(mailbox.has_protocol_o_el);
    ASSERT_TRUE(mailbox.has_coe_o_el);
    ASSERT_EQ(mailbox.coe_o_el.init_cmds_o_el.init_cmd_o_el.size(), 1u);
    EXPECT_EQ(mailbox.coe_o_el.init_cmds_o_el.init_cmd_o_el.front().index_m_el, 0x1C12);
    EXPECT_FALSE(mailbox.has_data_link_layer_o_att);
    EXPECT_FALSE(mailbox.recv_m_el.has_poll_time_o_el);
    EXPECT_EQ(mailbox.recv_m_el.poll_time_o_el, -1);
    EXPECT_FALSE(mailbox.send_m_el.has_short_send_o_el);
    EXPECT_TRUE(mailbox.send_m_el.short_send_o_el);
}

TEST(Eni_Mailbox, ProtocolTexts)
{
    const auto read = Eni_Snippet("<Mailbox DataLinkLayer=\"false\">" + AREAS +
                                  "<Protocol>CoE</Protocol><Protocol>FoE</Protocol></Mailbox>")
                          .build<EtherCATConfig_Config_Slave_Mailbox>();
    EXPECT_THAT(read.protocol_o_el,
                ElementsAre(EtherCATConfig_Config_Slave_Mailbox::CoE, EtherCATConfig_Config_Slave_Mailbox::FoE));
    EXPECT_FALSE(read.has_coe_o_el);
    EXPECT_TRUE(read.has_data_link_layer_o_att);
    EXPECT_FALSE(read.data_link_layer_o_att);
    const Eni_Snippet bad("<Mailbox>" + AREAS + "<Protocol>coe</Protocol></Mailbox>");
    EXPECT_EQ(thrown_text([&] { bad.build<EtherCATConfig_Config_Slave_Mailbox>(); }),
              "[ENI_Text][choice_ex] Error value : Protocol => 'coe' is not one of AoE, EoE, CoE, SoE, FoE, VoE!");
}

TEST(Eni_Mailbox, ShortSend)
{
    const struct {
        const char* text;
        bool value;
    } cases[] = {{"0", false}, {"2", true}, {"true", true}};
    for (const auto& c : cases) {
        const auto send = Eni_Snippet(std::string("<Send><Start>1</Start><Length>2</Length><ShortSend>") + c.text +
                                      "</ShortSend></Send>")
                              .build<MailboxSendInfoType>();
        EXPECT_TRUE(send.has_short_send_o_el);
        EXPECT_EQ(send.short_send_o_el, c.value) << c.text;
    }
}

TEST(Eni_Mailbox, CoeCommandAttributesAndDump)
{
    const auto cmd = Eni_Snippet(
                         "<InitCmd Fixed=\"1\" CompleteAccess=\"0\"><Transition>PS</Transition>"
                         "<Timeout>0</Timeout><Ccs>1</Ccs><Index>4096</Index><SubIndex>0</SubIndex>"
                         "<Data>01000000</Data><Disabled>true</Disabled></InitCmd>")
                         .build<EtherCATConfig_Config_Slave_Mailbox_CoE_InitCmds_InitCmd>();
    EXPECT_TRUE(cmd.has_fixed_o_att && cmd.fixed_o_att);
    EXPECT_TRUE(cmd.has_complete_access_o_att);
    EXPECT_FALSE(cmd.complete_access_o_att);
    EXPECT_TRUE(cmd.has_disabled_o_el && cmd.disabled_o_el);
    EXPECT_THAT(cmd.data_o_el, ElementsAre(0x01, 0x00, 0x00, 0x00));
    EXPECT_EQ(dump_of(cmd),
              "ATT:Fixed=1\nATT:CompleteAccess=0\n<Transition>PS</Transition>\n<Timeout>0</Timeout>\n"
              "<Ccs>1</Ccs>\n<Index>4096</Index>\n<SubIndex>0</SubIndex>\n<Data>1000</Data>\n"
              "<Disabled>1</Disabled>\n");
}

TEST(Eni_Mailbox, SoeAndFoeContainers)
{
    const std::string soe_cmd =
        "<InitCmd><Transition>PS</Transition><Timeout>1</Timeout><OpCode>3</OpCode>"
        "<DriveNo>0</DriveNo><IDN>32</IDN><Elements>64</Elements><Attribute>0</Attribute>"
        "</InitCmd>";
    const auto three = Eni_Snippet("<SoE><InitCmd>" + soe_cmd + soe_cmd + soe_cmd + "</InitCmd></SoE>")
                           .build<EtherCATConfig_Config_Slave_Mailbox_SoE>();
    EXPECT_TRUE(three.has_init_cmd_o_el);
    EXPECT_EQ(three.init_cmd_o_el.init_cmd_o_el.size(), 3u);
    const auto direct =
        Eni_Snippet("<SoE>" + soe_cmd + soe_cmd + "</SoE>").build<EtherCATConfig_Config_Slave_Mailbox_SoE>();
    EXPECT_FALSE(direct.has_init_cmd_o_el);
    const auto plural =
        Eni_Snippet("<SoE><InitCmds>" + soe_cmd + "</InitCmds></SoE>").build<EtherCATConfig_Config_Slave_Mailbox_SoE>();
    EXPECT_FALSE(plural.has_init_cmd_o_el);
    // FoE's list is "InitCmd": commands in "InitCmds" are not FoE's, and a section without its list has none.
    const auto foe =
        Eni_Snippet("<FoE><InitCmds><InitCmd><Timeout>1</Timeout><Data>00</Data></InitCmd></InitCmds></FoE>")
            .build<EtherCATConfig_Config_Slave_Mailbox_FoE>();
    EXPECT_TRUE(foe.init_cmd_m_el.init_cmd_o_el.empty());
}

// ---- cyclic commands ------------------------------------------------------------------------

std::string cyclic_cmd(const std::string& children)
{
    return "<Cmd><Cmd>7</Cmd>" + children + "<InputOffs>16</InputOffs><OutputOffs>16</OutputOffs></Cmd>";
}

TEST(Eni_Cyclic, AddressAndDataChoices)
{
    const auto ado_only = Eni_Snippet(cyclic_cmd("<Ado>#x0130</Ado><DataLength>2</DataLength>"))
                              .build<EtherCATConfig_Config_Cyclic_Frame_Cmd>();
    EXPECT_FALSE(ado_only.has_adp_oxor_el);
    EXPECT_EQ(ado_only.ado_mxor_el, 0x130);
    EXPECT_EQ(dump_of(ado_only),
              "<Cmd>7</Cmd>\n<Ado>304</Ado>\n<DataLength>2</DataLength>\n"
              "<InputOffs>16</InputOffs>\n<OutputOffs>16</OutputOffs>\n");

    const auto both = Eni_Snippet(cyclic_cmd("<Adp>0</Adp><Ado>1</Ado><Addr>5</Addr><Data>0102</Data>"
                                             "<DataLength>9</DataLength>"))
                          .build<EtherCATConfig_Config_Cyclic_Frame_Cmd>();
    EXPECT_TRUE(both.has_adp_oxor_el);
    EXPECT_FALSE(both.has_addr_mxor_el);
    EXPECT_EQ(both.addr_mxor_el, 0);
    EXPECT_TRUE(both.has_data_mxor_el);
    EXPECT_FALSE(both.has_data_length_mxor_el);
    EXPECT_EQ(both.data_length_mxor_el, 0);

    const auto neither_data =
        Eni_Snippet(cyclic_cmd("<Addr>#x01000000</Addr>")).build<EtherCATConfig_Config_Cyclic_Frame_Cmd>();
    EXPECT_TRUE(neither_data.has_addr_mxor_el);
    EXPECT_FALSE(neither_data.has_data_mxor_el || neither_data.has_data_length_mxor_el);
}

TEST(Eni_Cyclic, StateTexts)
{
    const auto cmd = Eni_Snippet(cyclic_cmd("<State>OP</State><State> SAFEOP </State><State>Op</State><Ado>0</Ado>"))
                         .build<EtherCATConfig_Config_Cyclic_Frame_Cmd>();
    EXPECT_THAT(cmd.state_m_el, ElementsAre(OP_STATE, SAFEOP_STATE, NO_STATE));
    EXPECT_THAT(dump_of(cmd), ::testing::StartsWith("<State>OP</State>\n<State>SAFEOP</State>\n<State></State>\n"));
}

TEST(Eni_Cyclic, ProcessImageGivenTwiceCountsAsAbsent)
{
    const auto image = Eni_Snippet(
                           "<ProcessImage><Inputs><ByteSize>1</ByteSize></Inputs>"
                           "<Inputs><ByteSize>2</ByteSize></Inputs>"
                           "<Outputs><ByteSize></ByteSize><Variable><Name>v</Name><BitSize>1</BitSize>"
                           "<BitOffs/></Variable></Outputs></ProcessImage>")
                           .build<EtherCATConfig_Config_ProcessImage>();
    EXPECT_FALSE(image.has_inputs_o_el);
    ASSERT_TRUE(image.has_outputs_o_el);
    EXPECT_EQ(image.outputs_o_el.bit_size_m_el, 0);
    ASSERT_EQ(image.outputs_o_el.variable_o_el.size(), 1u);
    EXPECT_EQ(image.outputs_o_el.variable_o_el.front().bit_offs_m_el, 0);
}

// ---- malformed values: the XML layer's texts ------------------------------------------------

TEST(Eni_Malformed_Values, SplitOrNestedValueTexts)
{
    const auto split = Eni_Snippet(
                           "<Info><Name><!-- c -->x</Name><Destination>ff</Destination>"
                           "<Source>00</Source></Info>")
                           .build<EtherCATConfig_Config_Master_Info>();
    EXPECT_EQ(split.name_m_el, "x");
    const Eni_Snippet nested("<Info><Name><b/></Name></Info>");
    EXPECT_EQ(thrown_text([&] { nested.build<EtherCATConfig_Config_Master_Info>(); }),
              "[XML_IO][get_element_text_ex] Error extraction value : Name => holds the element 'b'!");
    const Eni_Snippet number("<MailboxStates><StartAddr>1<b/></StartAddr><Count>1</Count></MailboxStates>");
    EXPECT_EQ(thrown_text([&] { number.build<EtherCATConfig_Config_Master_MailboxState>(); }),
              "[XML_IO][get_element_text_ex] Error extraction value : StartAddr => holds the element 'b'!");
}

}  // namespace
