// The client API against busmaster on the simulated demo cell (a veth pair
// in the test's namespace): the start up to PRE-OP with the slave counts and
// places taken from the master's memories, slave queries over the bus, the
// restart and the stop.
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <fstream>
#include <memory>
#include <string>

#include "child_process.h"
#include "segment_config.h"
#include "veth_harness.h"
#include "xelo_ethercat_user_interface.h"

namespace {
using namespace std::chrono_literals;

const std::string CONFIG = "/tmp/ecm_system_cfg.xml";
const std::string ENI = "/tmp/demo_cell_eni.xml";
const char* const DEMO_CELL = "slave dio device=dio\nslave drive device=cia402 profile=infranor\n";

ecat_sim::Sim_Options segment_options()
{
    ecat_sim::Sim_Options options = ecat_sim::Veth_Segment::default_options();
    options.priority = 60;
    return options;
}

class Client_On_The_Demo_Cell : public ::testing::Test {
protected:
    Client_On_The_Demo_Cell() : m_segment(ecat_sim::parse_segment_config(DEMO_CELL), segment_options())
    {
        std::ofstream(CONFIG)
            << "<EcmSystem><SystemConfig><Cfg><EtherCATNetInterface>" << m_segment.master_interface()
            << "</EtherCATNetInterface><EtheCATUserSocketIpAddr>127.0.0.1</EtheCATUserSocketIpAddr>"
               "<EtheCATUserSocketPort>500</EtheCATUserSocketPort></Cfg></SystemConfig></EcmSystem>\n";
        write_file(ENI, read_file(DEMO_ENI));
    }
    void SetUp() override
    {
        m_master = std::make_unique<Child_Process>(BUSMASTER_BINARY, std::vector<std::string>{"-c", CONFIG},
                                                   "/tmp/busmaster.log");
        m_master->wait_ready_ex(probe::udp_port(ecm_protocol::PORT), 10s);
        ASSERT_EQ(preliminary_hook(1081), ecm_protocol::SYSTEM_VERSION) << m_master->log();
    }
    void TearDown() override { EXPECT_EQ(m_master->stop(), 128 + SIGTERM) << m_master->log(); }

    ecat_sim::Veth_Segment m_segment;
    std::unique_ptr<Child_Process> m_master;
};
}  // namespace

TEST_F(Client_On_The_Demo_Cell, StartsQueriesRestartsAndStopsTheBus)
{
    ASSERT_EQ(open_connection_with_master(ENI.c_str()), 0) << m_master->log();
    EXPECT_EQ(get_system_state(), MASTER_ON);
    EXPECT_EQ(get_master_state(), PREOP_STATE);
    EXPECT_EQ(get_slaves_number(), 2);

    // Sizes and entry counts from the slave-info memory.
    EXPECT_EQ(get_slave_output_byte_dim(1001), 1);
    EXPECT_EQ(get_slave_input_num(1001), 8);
    EXPECT_EQ(get_slave_input_byte_dim(1002), 13);
    EXPECT_EQ(get_slave_output_byte_dim(1002), 11);
    EXPECT_EQ(get_slave_input_byte_dim(1003), -1);

    // The drive's identity and its input entries, asked over the socket.
    uint32_t vendor = 0, product = 0, serial = 0;
    uint16_t alias = 0;
    EXPECT_EQ(get_slave_eeprom_information(1002, &vendor, &product, &serial, &alias), 0);
    EXPECT_EQ(vendor, 130u);
    EXPECT_EQ(product, 768u);
    const int entries = get_slave_input_num(1002);
    ASSERT_EQ(entries, 5);
    Info_Pdo_Struct inputs[5] = {};
    EXPECT_EQ(get_slave_inputs_address(1002, entries, inputs), 0);
    int bits = 0;
    for (const Info_Pdo_Struct& entry : inputs)
        bits += entry.bitlength;
    EXPECT_EQ(bits, 104);
    int requested = -1, actual = -1, code = -1;
    EXPECT_EQ(get_slave_state_info(1001, &requested, &actual, &code), 0);
    EXPECT_EQ(actual, PREOP_STATE);

    // The inputs of the I/O module can be read at their place (PRE-OP: no
    // cyclic exchange yet, so whatever the image holds).
    uint8_t byte = 0;
    EXPECT_EQ(get_slave_inputs_values(1001, 1, &byte), 0);
    EXPECT_EQ(get_slave_inputs_values(1001, 2, &byte), -1);

    EXPECT_EQ(reopen_connection(), 0) << m_master->log();
    EXPECT_EQ(get_master_state(), PREOP_STATE);
    EXPECT_EQ(close_connection_with_master(), 0) << m_master->log();
    EXPECT_EQ(get_system_state(), SOCKET_OPENED);
    // Stopped: the restart has nothing to start from.
    EXPECT_EQ(reopen_connection(), -1);
}
