// The slave objects and the master's tables built from an ENI in this
// process: station address, init commands per transition, process-data
// geometry in the shared image, PDO entry tables, mailbox, identity, the
// slave-information memory and the byte-string checks of the validation.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>

#include "thrown_text.h"
#include "xelo_ethercat_master_class.h"

namespace {
const std::string ENI = "/tmp/slave_object_eni.xml";

std::string eni_document(const std::string& slaves, const std::string& master_cmds = "", const std::string& cyclic = "")
{
    return "<?xml version=\"1.0\"?>\n<EtherCATConfig><Config><Master><Info><Name>m</Name>"
           "<Destination>ffffffffffff</Destination><Source>000000000000</Source></Info>" +
           master_cmds + "</Master>" + slaves + "<Cyclic>" + cyclic +
           "</Cyclic><ProcessImage/></Config></EtherCATConfig>\n";
}

std::string slave(const std::string& name, const std::string& children)
{
    return "<Slave><Info><Name>" + name +
           "</Name><PhysAddr>1001</PhysAddr><AutoIncAddr>0</AutoIncAddr><Physics>YY</Physics><VendorId>2</VendorId>"
           "<ProductCode>1</ProductCode><RevisionNo>0</RevisionNo><SerialNo>0</SerialNo></Info>" +
           children + "</Slave>";
}

std::string init_cmd(const std::string& transitions, int cmd, int adp, const std::string& extra = "")
{
    return "<InitCmd>" + transitions + "<Cmd>" + std::to_string(cmd) + "</Cmd><Adp>" + std::to_string(adp) +
           "</Adp><Ado>#x0120</Ado><Data>0200</Data>" + extra + "</InitCmd>";
}

std::string process_data(int recv_start, int recv_bits, const std::string& pdos = "")
{
    return "<ProcessData><Recv><BitStart>" + std::to_string(recv_start) + "</BitStart><BitLength>" +
           std::to_string(recv_bits) + "</BitLength></Recv>" + pdos + "</ProcessData>";
}

// The master with its memories in this process, its tables built from an
// ENI file without a network.
class Test_Master : public ECM_Master {
public:
    Test_Master()
    {
        init_pthread_mutex_ex(&m_pdo->shm_mutex, true, true, true);
        init_pthread_mutex_ex(&m_info->shm_mutex, true, true, true);
        init_pthread_mutex_ex(&m_tick->shm_mutex, true, true, true);
        init_ex("none", m_pdo.get(), m_info.get(), m_tick.get());
    }
    void take_in(const std::string& text)
    {
        std::ofstream(ENI) << text;
        m_xml_system_cfg = std::make_unique<EtherCATConfig_Config>(ENI);
        m_is_cleaned = false;
        fill_initCmd_structs();
        fill_slave_list_ex();
        fill_cycle_frame();
        fill_info_slave_shmem();
    }
    std::size_t master_cmds(TransitionType t) const
    {
        const std::list<ECatCmdType>* lists[9] = {&m_initCmd_IP_transition, &m_initCmd_PS_transition,
                                                  &m_initCmd_PI_transition, &m_initCmd_SP_transition,
                                                  &m_initCmd_SO_transition, &m_initCmd_SI_transition,
                                                  &m_initCmd_OS_transition, &m_initCmd_OP_transition,
                                                  &m_initCmd_OI_transition};
        return lists[t]->size();
    }
    ECM_Slave& at(std::size_t i) { return m_slave.at(i); }
    std::unique_ptr<Shared_Pdo_Mem_Region> m_pdo = std::make_unique<Shared_Pdo_Mem_Region>();
    std::unique_ptr<Shared_Slave_Info_Mem_Region> m_info = std::make_unique<Shared_Slave_Info_Mem_Region>();
    std::unique_ptr<Shared_Tick_Mem_Region> m_tick = std::make_unique<Shared_Tick_Mem_Region>();
};
}  // namespace

TEST(SlaveObject, StationAddressComesFromTheFirstConfiguredWrite)
{
    Test_Master master;
    master.take_in(
        eni_document(slave("a", "<InitCmds>" + init_cmd("<Transition>IP</Transition>", 2, 0) +
                                    init_cmd("<Transition>IP</Transition>", 5, 0x1001) +
                                    init_cmd("<Transition>IP</Transition>", 5, 0x2000) + "</InitCmds>") +
                     slave("b", "<InitCmds>" + init_cmd("<Transition>IP</Transition>", 2, 0xFFFF) + "</InitCmds>")));
    EXPECT_EQ(master.at(0).get_config_address(), 0x1001);
    EXPECT_EQ(master.at(1).get_config_address(), 0xFFFF);
    EXPECT_EQ(master.at(0).get_num_order(), 0);
    EXPECT_EQ(master.at(1).get_num_order(), 0xFFFF);
}

TEST(SlaveObject, InitCommandsAreSortedIntoEveryTransitionTheyName)
{
    Test_Master master;
    const std::string cmds = init_cmd("<Transition>PS</Transition><Transition>SO</Transition>", 5, 1001) +
                             init_cmd("<Transition>IB</Transition>", 5, 1001) + init_cmd("", 5, 1001);
    master.take_in(eni_document(slave("a", "<InitCmds>" + cmds + "</InitCmds>"), "<InitCmds>" + cmds + "</InitCmds>"));
    for (TransitionType t : {IP, PS, PI, SP, SO, SI, OS, OP, OI}) {
        const std::size_t expected = (t == PS || t == SO) ? 1u : 0u;
        EXPECT_EQ(master.at(0).get_initCmd_list(t)->size(), expected) << t;
        EXPECT_EQ(master.master_cmds(t), expected) << t;
    }
    EXPECT_EQ(master.at(0).get_initCmd_list(IB), nullptr);
    EXPECT_EQ(thrown_text([&] { master.at(0).get_CoE_cmd(IB); }), "Attention: CoE IB command not implemented");
    EXPECT_EQ(thrown_text([&] { master.at(0).get_CoE_cmd(SS); }), "Attention: CoE SS command not implemented");
}

TEST(SlaveObject, ProcessDataLiesInTheSharedImageFromByteSixteenOfTheEnisImage)
{
    const struct {
        int start;
        int bits;
        int byte;
        int offset;
        int bytes;
    } cases[] = {
        {128, 16, 0, 0, 2}, {131, 4, 0, 3, 1}, {336, 8, 26, 0, 1}, {344, 104, 27, 0, 13}, {200, 0, 9, 0, 0},
    };
    for (const auto& c : cases) {
        Test_Master master;
        std::memset(master.m_pdo->shm_buf_in, 0xFF, sizeof(master.m_pdo->shm_buf_in));
        master.take_in(eni_document(slave("a", process_data(c.start, c.bits))));
        const ECM_Slave& s = master.at(0);
        EXPECT_EQ(s.get_input_shm_start_byte(), c.byte) << c.start;
        EXPECT_EQ(s.get_input_shm_start_offs_bit(), c.offset) << c.start;
        EXPECT_EQ(s.get_input_byte_dim(), c.bytes) << c.start;
        EXPECT_EQ(s.has_input(), c.bytes != 0) << c.start;
        EXPECT_FALSE(s.has_output());
        for (int i = 0; i < c.bytes; ++i)
            EXPECT_EQ(master.m_pdo->shm_buf_in[c.byte + i], 0) << c.start << " byte " << i;
        EXPECT_EQ(master.m_pdo->shm_buf_in[c.byte + c.bytes], 0xFF) << c.start;
        EXPECT_EQ((*master.m_info).has_input[0], c.bytes != 0 ? 1 : 0);
        EXPECT_EQ((*master.m_info).in_bytes[0], c.bytes);
    }
}

TEST(SlaveObject, ProcessDataOutsideTheSharedImageIsRefused)
{
    for (int start : {0, 120, 8 * (16 + 4095)}) {
        Test_Master master;
        EXPECT_EQ(thrown_text([&] {
                      master.take_in(eni_document(slave("a", process_data(start, 16))));
                  }).rfind("Attention: slave input process data outside the shared image", 0),
                  0u)
            << start;
    }
}

TEST(SlaveObject, EntryTablesListTheMappedEntriesOfAssignedPdos)
{
    const std::string pdos =
        "<TxPdo Sm=\"3\"><Index>#x1a00</Index><Name>in</Name>"
        "<Entry><Index>#x6041</Index><SubIndex>0</SubIndex><BitLen>16</BitLen></Entry>"
        "<Entry><Index>#x6064</Index><BitLen>32</BitLen></Entry></TxPdo>"
        "<TxPdo><Index>#x1a01</Index><Name>unassigned</Name>"
        "<Entry><Index>#x6077</Index><SubIndex>0</SubIndex><BitLen>16</BitLen></Entry></TxPdo>";
    Test_Master master;
    master.take_in(eni_document(slave("a", process_data(128, 48, pdos))));
    const ECM_Slave& s = master.at(0);
    EXPECT_EQ(s.get_num_input(), 2);
    EXPECT_EQ(s.get_input_index(0), 0x6041u);
    EXPECT_EQ(s.get_input_bitlength(0), 16);
    EXPECT_EQ(s.get_input_index(1), 0x6064u);
    EXPECT_EQ(s.get_input_subindex(1), 0u);
    EXPECT_EQ(s.get_input_index(2), 0xFFFFFFFFu);
    EXPECT_EQ(s.get_input_bitlength(2), -1);
    EXPECT_EQ(s.get_input_index(-1), 0xFFFFFFFFu);
    EXPECT_EQ(s.get_num_output(), 0);
}

TEST(SlaveObject, MailboxesOfDifferentSizesStopTheSlave)
{
    const auto mailbox = [](int send, int recv) {
        return "<Mailbox><Send><Start>#x1000</Start><Length>" + std::to_string(send) +
               "</Length></Send><Recv><Start>#x1080</Start><Length>" + std::to_string(recv) +
               "</Length></Recv></Mailbox>";
    };
    Test_Master refused;
    EXPECT_EQ(thrown_text([&] { refused.take_in(eni_document(slave("a", mailbox(128, 256)))); }),
              "Attention: send and recv mailbox dimension not agree ");
    Test_Master master;
    master.take_in(eni_document(slave("a", mailbox(128, 128))));
    EXPECT_TRUE(master.at(0).has_mailbox());
    EXPECT_FALSE(master.at(0).has_CoE());
    EXPECT_EQ(master.at(0).get_mailbox_length(), 128);
    EXPECT_EQ(master.at(0).get_mailbox_writeoffset(), 0x1000);
    EXPECT_EQ(master.at(0).get_mailbox_readoffset(), 0x1080);
    EXPECT_EQ(master.at(0).get_mailbox_counter(), 1);
}

TEST(SlaveObject, IdentityIsUnreadUntilTheEepromIsRead)
{
    Test_Master master;
    master.take_in(
        eni_document(slave("a", "<InitCmds>" + init_cmd("<Transition>IP</Transition>", 5, 1003) + "</InitCmds>")));
    ECM_Slave& s = master.at(0);
    EXPECT_EQ(thrown_text([&] { s.get_vendor_id(); }), "get_vendor_id: eeprom data is not valid on slave: 1003");
    EXPECT_EQ(thrown_text([&] { s.get_product_code(); }), "get_product_code: data is not valid ");
    EXPECT_EQ(thrown_text([&] { s.get_serial_number(); }), "get_serial_number: data is not valid ");
    EXPECT_EQ(s.get_config_alias(), 0xFFFF);
    s.set_vendor_id(130);
    EXPECT_EQ(master.get_slave_vendor_id(1003), 130u);
    EXPECT_EQ(thrown_text([&] { master.get_slave_vendor_id(1004); }),
              "get_slave_vendor_id eeprom data -> slave not found in xml: 1004");
    EXPECT_EQ(thrown_text([&] { master.get_slave_configured_alias(1004); }),
              "ECM_Master::get_slave_configured_alias -> slave not found:1004");
}

TEST(MasterTables, SlavesAreFoundByNameAndClearedWithTheConfiguration)
{
    Test_Master master;
    const auto named = [](const std::string& name, int address) {
        return slave(name, "<InitCmds>" + init_cmd("<Transition>IP</Transition>", 5, address) + "</InitCmds>");
    };
    master.take_in(eni_document(named("io", 1001) + named("drive", 1002) + named("io", 1003)));
    EXPECT_EQ(master.slaves().size(), 3u);
    EXPECT_EQ(master.get_slave_address("io"), 1001);
    EXPECT_EQ(master.get_slave_address("drive"), 1002);
    EXPECT_EQ(master.get_slave_address("nobody"), -1);
    EXPECT_EQ((*master.m_info).num_of_xml_slaves, 3);
    EXPECT_EQ((*master.m_info).configaddress[2], 1003);
    master.clear_system();
    EXPECT_TRUE(master.slaves().empty());
    EXPECT_EQ(master.get_slave_address("io"), -1);
    EXPECT_EQ(master.master_cmds(IP), 0u);
    EXPECT_FALSE(master.get_xml_data_status_flag());
}

TEST(MasterTables, CyclicCommandsPointIntoTheSharedImageAndTheStatusReadIsFound)
{
    const std::string cyclic =
        "<Frame><Cmd><State>SAFEOP</State><State>OP</State><Cmd>12</Cmd><Addr>#x00012000</Addr>"
        "<DataLength>4</DataLength><Cnt>3</Cnt><InputOffs>26</InputOffs><OutputOffs>26</OutputOffs></Cmd>"
        "<Cmd><State>SAFEOP</State><State>OP</State><Cmd>7</Cmd><Adp>0</Adp><Ado>#x130</Ado>"
        "<DataLength>2</DataLength><Cnt>2</Cnt><InputOffs>42</InputOffs><OutputOffs>42</OutputOffs></Cmd></Frame>";
    Test_Master master;
    master.take_in(eni_document("", "", cyclic));
    const auto& cmds = master.cycle_commands();
    ASSERT_EQ(cmds.size(), 2u);
    EXPECT_EQ(cmds[0].com, 12);
    EXPECT_EQ(cmds[0].ADP, 0x2000);
    EXPECT_EQ(cmds[0].ADO, 0x0001);
    EXPECT_EQ(cmds[0].ptr_data_use, 1);
    EXPECT_EQ(cmds[0].data, &master.m_pdo->shm_buf_out[20]);
    EXPECT_EQ(cmds[0].wrk_expected, 3);
    EXPECT_EQ(cmds[1].ADO, 0x0130);
    EXPECT_EQ(cmds[1].data, &master.m_pdo->shm_buf_out[36]);
}

TEST(MasterTables, ValidationComparesByteStringsOfOneLength)
{
    const std::vector<uint8_t> read = {0x12, 0x00};
    EXPECT_EQ(bytes_and_ex(read, {0x0F, 0x00}), (std::vector<uint8_t>{0x02, 0x00}));
    EXPECT_FALSE(bytes_differ_ex(bytes_and_ex(read, {0x0F, 0x00}), {0x02, 0x00}));
    EXPECT_TRUE(bytes_differ_ex(read, {0x02, 0x00}));
    EXPECT_FALSE(bytes_differ_ex({}, {}));
    EXPECT_EQ(thrown_text([&] { bytes_and_ex(read, {0x0F}); }), "Attention: Data have different size");
    EXPECT_EQ(thrown_text([&] { bytes_differ_ex(read, {0x02}); }), "Attention: Data have different data");
}
