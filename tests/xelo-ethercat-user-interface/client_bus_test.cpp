// The client API against busmaster on the simulated demo cell (a veth pair
// in the test's namespace): the start up to PRE-OP with the slave counts and
// places taken from the master's memories, slave queries over the bus, the
// restart and the stop; in OP the ticks with and without time-out and the
// process data of a slave whose bits start at bit 3 of a byte.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <fstream>
#include <memory>
#include <string>
#include <thread>

#include "child_process.h"
#include "eventually.h"
#include "read_only_segment.h"
#include "segment_config.h"
#include "simulated_segment.h"
#include "veth_harness.h"
#include "xelo_client_socket_udp.h"
#include "xelo_ethercat_user_interface.h"

namespace {
using namespace std::chrono_literals;

const std::string CONFIG = "/tmp/ecm_system_cfg.xml";
const std::string ENI = "/tmp/demo_cell_eni.xml";
const char* const DEMO_CELL = "slave dio device=dio\nslave drive device=cia402 profile=infranor\n";

class Client_On_The_Demo_Cell : public ::testing::Test {
protected:
    Client_On_The_Demo_Cell() : m_segment(ecat_sim::parse_segment_config(DEMO_CELL), simulated_segment_options())
    {
        std::ofstream(CONFIG)
            << "<EcmSystem><SystemConfig><Cfg><EtherCATNetInterface>" << m_segment.master_interface()
            << "</EtherCATNetInterface><EtheCATUserSocketIpAddr>127.0.0.1</EtheCATUserSocketIpAddr>"
               "<EtheCATUserSocketPort>500</EtheCATUserSocketPort></Cfg></SystemConfig></EcmSystem>\n";
        write_file(ENI, read_file(DEMO_ENI));
    }
    void SetUp() override
    {
        m_master = std::make_unique<Child_Process>(BUSMASTER_BINARY, m_arguments, "/tmp/busmaster.log");
        m_master->wait_ready_ex(probe::udp_port(ecm_protocol::PORT), 10s);
        ASSERT_EQ(preliminary_hook(1081), ecm_protocol::SYSTEM_VERSION) << m_master->log();
    }
    void TearDown() override { EXPECT_EQ(m_master->stop(), 128 + SIGTERM) << m_master->log(); }

    ecat_sim::Veth_Segment m_segment;
    std::unique_ptr<Child_Process> m_master;
    std::vector<std::string> m_arguments{"-c", CONFIG};
};

// The demo cell's ENI with the I/O module moved behind the drive in the
// logical process data, its 8 bits from bit 3 of a byte: the LRW grows by two
// bytes, the module's FMMUs map 2 logical bytes from bit 3 to bit 2, and its
// bits start at image byte 40, bit 3.
const std::string SHIFTED_ENI = "/tmp/shifted_eni.xml";
constexpr int SHIFTED_BYTE = 40;

std::string shifted_eni()
{
    std::string text = read_file(DEMO_ENI);
    const auto replace = [&text](const std::string& from, const std::string& to, int count) {
        for (int i = 0; i < count; ++i) {
            const std::size_t at = text.find(from);
            if (at == std::string::npos)
                throw std::runtime_error("not in the ENI: " + from);
            text.replace(at, from.size(), to);
        }
    };
    replace("<BitStart>336</BitStart>", "<BitStart>451</BitStart>", 2);  // (16 + 40) * 8 + 3
    replace("<DataLength>14</DataLength>", "<DataLength>16</DataLength>", 1);
    replace("<InputOffs>58</InputOffs>", "<InputOffs>60</InputOffs>", 1);
    replace("<OutputOffs>58</OutputOffs>", "<OutputOffs>60</OutputOffs>", 1);
    // Logical 0x0100000E, 2 bytes, bits 3 to 2; physical 0x0F00 / 0x1000.
    replace("0000000101000007000f000201000000", "0e00000102000302000f000201000000", 1);
    replace("00000001010000070010000101000000", "0e000001020003020010000101000000", 1);
    return text;
}

// busmaster in soft real-time mode (this machine is no real-time board).
class Client_In_Op : public Client_On_The_Demo_Cell {
protected:
    Client_In_Op()
    {
        m_arguments.push_back("-s");
        m_arguments.push_back("5");
        write_file(SHIFTED_ENI, shifted_eni());
    }
    // A request of another client of the master.
    static std::string ask(const std::string& command)
    {
        ClientSocket_Udp_ex client(ecm_protocol::CLIENT_ADDRESS, ecm_protocol::PORT, true, 30, 0);
        client << "5#" + command;
        std::string reply;
        client >> reply;
        return reply.substr(reply.find('#') + 1);
    }
    std::string sim(const std::string& command) { return m_segment.simulator().execute(command); }
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

TEST_F(Client_In_Op, TicksAndBitShiftedProcessDataOfAnAttachedClient)
{
    ASSERT_EQ(open_connection_with_master(SHIFTED_ENI.c_str()), 0) << m_master->log();
    ASSERT_EQ(get_slave_output_byte_dim(1001), 1);
    ASSERT_EQ(get_slave_input_byte_dim(1001), 1);
    ASSERT_EQ(set_watchdog_off(), 0);
    ASSERT_EQ(go_into_new_state(SAFEOP_STATE), 0) << m_master->log();
    ASSERT_EQ(go_into_new_state(OP_STATE), 0) << m_master->log();
    EXPECT_EQ(get_master_state(), OP_STATE);

    // One tick per cycle; a client that sleeps is told how many it missed.
    for (int k = 0; k < 20; ++k)
        ASSERT_GE(wait_master_tick(), 1) << k;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_GE(wait_master_tick(), 2);
    Master_Alerts alert = SHM_OUT_NOT_USED;
    EXPECT_GE(wait_master_tick_and_alerts(&alert), 1);
    EXPECT_EQ(alert, NULL_ALERT);
    EXPECT_GE(wait_master_tick_with_timeout(1000), 1);

    // The module's outputs from bit 3: its bits in the image, the bits
    // around them untouched, and the byte on the slave.
    // The master's process-data memory as a second view of the image.
    const Read_Only_Segment<Shared_Pdo_Mem_Region> image(ecm_shm::PDO_NAME);
    uint8_t outputs = 0xA5;
    ASSERT_EQ(set_slave_outputs_values(1001, 1, &outputs), 0);
    EXPECT_EQ(image->shm_buf_out[SHIFTED_BYTE], 0x28);      // 0xA5 << 3, low byte
    EXPECT_EQ(image->shm_buf_out[SHIFTED_BYTE + 1], 0x05);  // 0xA5 >> 5
    EXPECT_TRUE(eventually(
        [&] {
            (void)wait_master_tick_with_timeout(100);  // only paces the polling
            return sim("read 0 0x0f00 1") == "OK A5";
        },
        std::chrono::seconds(10), std::chrono::milliseconds(0)))
        << sim("read 0 0x0f00 1");
    // And its inputs back, shifted down again.
    for (int sub : {1, 3, 6, 8})
        ASSERT_EQ(sim("set 0 0x6000 " + std::to_string(sub) + " 1").substr(0, 2), "OK");
    uint8_t inputs = 0;
    EXPECT_TRUE(eventually(
        [&] {
            (void)wait_master_tick_with_timeout(100);
            return get_slave_inputs_values(1001, 1, &inputs) == 0 && inputs == 0xA5;
        },
        std::chrono::seconds(10), std::chrono::milliseconds(0)))
        << static_cast<int>(inputs);
    EXPECT_EQ(image->shm_buf_in[SHIFTED_BYTE] & 0xF8, 0x28);
    EXPECT_EQ(image->shm_buf_in[SHIFTED_BYTE + 1] & 0x07, 0x05);

    // Another client takes the master back to SAFE-OP: no more ticks, and
    // the wait with a time-out says so.
    ASSERT_EQ(ask("go_into_next_state 4"), "reply_ok") << m_master->log();
    ASSERT_TRUE(eventually([&] { return wait_master_tick_with_timeout(100) == -2; }, std::chrono::seconds(10),
                           std::chrono::milliseconds(0)));
    EXPECT_EQ(wait_master_tick_with_timeout(100), -2);
    ASSERT_EQ(ask("go_into_next_state 8"), "reply_ok") << m_master->log();
    EXPECT_TRUE(eventually([&] { return wait_master_tick_with_timeout(100) >= 1; }, std::chrono::seconds(10),
                           std::chrono::milliseconds(0)));

    // Lost frames stop the cycle: the waits end with -1.
    ASSERT_EQ(sim("drop 100000").substr(0, 2), "OK");
    EXPECT_TRUE(eventually([&] { return wait_master_tick_with_timeout(100) == -1; }, std::chrono::seconds(20),
                           std::chrono::milliseconds(0)))
        << m_master->log();
    EXPECT_EQ(wait_master_tick(), -1);
    ASSERT_EQ(sim("drop 0").substr(0, 2), "OK");
    EXPECT_EQ(close_connection_with_master(), 0) << m_master->log();
}
