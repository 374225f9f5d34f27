// Process data through FMMUs and sync managers: digital I/O both ways, bit
// mapping, a PDO layout changed by SDO, and the CiA 402 drive powered up
// through its process data.

#include <thread>

#include "eventually.h"
#include "sdo_client.h"

namespace {

class Process_Data : public Segment_Test {
protected:
    // Outputs at logical 0x10000.., inputs at 0x20000.. for a slave without
    // mailbox (process data in SM0 and SM1).
    void io_to_safe_op(uint16_t station, uint32_t out_logical, uint32_t in_logical)
    {
        master().set_sm(station, 0, 0x1000, 1, 0x64, true);
        master().set_sm(station, 1, 0x1080, 1, 0x20, true);
        master().set_fmmu(station, 0, out_logical, 1, 0, 7, 0x1000, 0, 0x02);
        master().set_fmmu(station, 1, in_logical, 1, 0, 7, 0x1080, 0, 0x01);
        ASSERT_EQ(master().request_state(station, 0x0002), 0x0002);
        ASSERT_EQ(master().request_state(station, 0x0004), 0x0004);
    }
    Datagram logical(uint8_t command, uint32_t address, std::vector<uint8_t> data)
    {
        return master().exchange(Datagram::logical(command, address, std::move(data)));
    }
};

}  // namespace

TEST_F(Process_Data, digital_io_both_ways)
{
    start("slave io1 device=dio\nslave io2 device=dio\n");
    master().assign_stations(2);
    io_to_safe_op(0x1001, 0x10000, 0x20000);
    io_to_safe_op(0x1002, 0x10001, 0x20001);

    EXPECT_EQ(logical(11, 0x10000, {0xA5, 0x0F}).wkc, 2) << "LWR: one per slave";
    EXPECT_EQ(control("get 0 0x7000 1"), "OK 0") << "outputs stay off in SAFE-OP";
    ASSERT_EQ(master().request_state(0x1001, 0x0008), 0x0008);
    ASSERT_EQ(master().request_state(0x1002, 0x0008), 0x0008);
    EXPECT_EQ(logical(11, 0x10000, {0xA5, 0x0F}).wkc, 2);
    EXPECT_EQ(control("get 0 0x7000 1"), "OK 1");
    EXPECT_EQ(control("get 0 0x7000 2"), "OK 0");
    EXPECT_EQ(control("get 1 0x7000 4"), "OK 1");
    EXPECT_EQ(control("get 1 0x7000 5"), "OK 0");

    EXPECT_EQ(control("set 0 0x6000 3 1"), "OK");
    EXPECT_EQ(control("set 1 0x6000 8 1"), "OK");
    logical(12, 0x20000, {0, 0});  // the inputs are taken after this frame
    const Datagram inputs = logical(10, 0x20000, {0, 0});
    EXPECT_EQ(inputs.wkc, 2) << "LRD: one per slave";
    EXPECT_EQ(inputs.data, (std::vector<uint8_t>{0x04, 0x80}));

    // LRW over outputs and inputs of both slaves: +1 read and +2 write each.
    std::vector<Datagram> frame = {Datagram::logical(12, 0x10000, {0x01, 0x02}),
                                   Datagram::logical(12, 0x20000, {0, 0})};
    master().exchange(frame);
    EXPECT_EQ(frame[0].wkc, 4) << "write FMMUs only";
    EXPECT_EQ(frame[1].wkc, 2) << "read FMMUs only";
    // One range covering outputs and inputs: map the inputs next to the outputs.
    master().set_fmmu(0x1001, 1, 0x10002, 1, 0, 7, 0x1080, 0, 0x01);
    EXPECT_EQ(logical(12, 0x10000, {0x01, 0x02, 0x00}).wkc, 5) << "slave 1 reads and writes, slave 2 writes";
    EXPECT_EQ(logical(10, 0x30000, {0}).wkc, 0) << "nothing mapped there";
    EXPECT_EQ(control("outputs 0").rfind("OK 7000:01=1", 0), 0u) << control("outputs 0");
}

TEST_F(Process_Data, bit_mapped_inputs_share_a_byte)
{
    start("slave low device=dio inputs=4 outputs=0\nslave high device=dio inputs=4 outputs=0\n");
    master().assign_stations(2);
    for (uint16_t station : {0x1001, 0x1002}) {
        master().set_sm(station, 1, 0x1080, 1, 0x20, true);
        // Four input bits of each slave into one logical byte: low nibble, high nibble.
        const uint8_t start_bit = station == 0x1001 ? 0 : 4;
        master().set_fmmu(station, 0, 0x40000, 1, start_bit, static_cast<uint8_t>(start_bit + 3), 0x1080, 0, 0x01);
        ASSERT_EQ(master().request_state(station, 0x0002), 0x0002);
        ASSERT_EQ(master().request_state(station, 0x0004), 0x0004);
    }
    EXPECT_EQ(control("set 0 0x6000 1 1"), "OK");
    EXPECT_EQ(control("set 0 0x6000 4 1"), "OK");
    EXPECT_EQ(control("set 1 0x6000 2 1"), "OK");
    logical(10, 0x40000, {0});
    const Datagram read = logical(10, 0x40000, {0});
    EXPECT_EQ(read.wkc, 2);
    EXPECT_EQ(read.data[0], 0x29) << "bits 0, 3 from the first slave, bit 5 from the second";
    // Frame bits outside the mapped ranges pass unchanged.
    master().set_fmmu(0x1002, 0, 0x40000, 1, 4, 5, 0x1080, 0, 0x01);
    const Datagram partial = logical(10, 0x40000, {0xC0});
    EXPECT_EQ(partial.data[0], 0xE9);
}

TEST_F(Process_Data, layout_follows_the_mapping_written_by_sdo)
{
    start("slave io device=dio outputs=8 inputs=8 mailbox=0x1000:128,0x1080:128\n");
    master().assign_stations(1);
    ASSERT_EQ(master().to_preop(0x1001), 0x0002);
    Sdo_Client sdo(master(), 0x1001);
    // Outputs reversed (frame bit 0 drives channel 8); no inputs at all.
    ASSERT_EQ(sdo.download(0x1C13, 0, {0}).abort, 0u);
    ASSERT_EQ(sdo.download(0x1600, 0, {0}).abort, 0u);
    for (uint8_t i = 0; i < 8; ++i) {
        ASSERT_EQ(sdo.download(0x1600, static_cast<uint8_t>(i + 1), le32(0x70000001u | ((8u - i) << 8))).abort, 0u);
    }
    ASSERT_EQ(sdo.download(0x1600, 0, {8}).abort, 0u);
    master().set_sm(0x1001, 2, 0x1100, 1, 0x64, true);
    master().set_sm(0x1001, 3, 0x1180, 1, 0x20, true);
    EXPECT_EQ(master().request_state(0x1001, 0x0004), 0x0012) << "an input SM for no inputs";
    EXPECT_EQ(master().fprd16(0x1001, 0x0134), 0x001E);
    master().set_sm(0x1001, 3, 0x1180, 1, 0x20, false);
    ASSERT_EQ(master().request_state(0x1001, 0x0014), 0x0004);
    master().set_fmmu(0x1001, 0, 0x0, 1, 0, 7, 0x1100, 0, 0x02);
    logical(11, 0, {0x01});
    ASSERT_EQ(master().request_state(0x1001, 0x0008), 0x0008);
    logical(11, 0, {0x01});
    EXPECT_EQ(control("get 0 0x7000 8"), "OK 1");
    EXPECT_EQ(control("get 0 0x7000 1"), "OK 0");
}

namespace {

// The drive's default process data: RxPDO 0x6040, 0x607A, 0x60FF, 0x6071,
// 0x6060 (13 bytes); TxPDO 0x6041, 0x6064, 0x606C, 0x6077, 0x6061, 0x603F (15).
struct Drive_Image {
    uint16_t control = 0;
    int32_t target = 0;
    int32_t velocity = 0;
    int8_t mode = 0;
    std::vector<uint8_t> outputs() const
    {
        std::vector<uint8_t> image(13, 0);
        image[0] = static_cast<uint8_t>(control);
        image[1] = static_cast<uint8_t>(control >> 8);
        for (int i = 0; i < 4; ++i)
            image[2 + i] = static_cast<uint8_t>(static_cast<uint32_t>(target) >> (8 * i));
        for (int i = 0; i < 4; ++i)
            image[6 + i] = static_cast<uint8_t>(static_cast<uint32_t>(velocity) >> (8 * i));
        image[12] = static_cast<uint8_t>(mode);
        return image;
    }
};

class Drive_Process_Data : public Process_Data {
protected:
    void SetUp() override
    {
        start("slave axis device=cia402 vendor=0x00000099 serial=31\n");
        master().assign_stations(1);
        ASSERT_EQ(master().to_preop(0x1001), 0x0002);
        master().set_sm(0x1001, 2, 0x1100, 13, 0x64, true);
        master().set_sm(0x1001, 3, 0x1180, 15, 0x20, true);
        master().set_fmmu(0x1001, 0, 0x0, 13, 0, 7, 0x1100, 0, 0x02);
        master().set_fmmu(0x1001, 1, 0xD, 15, 0, 7, 0x1180, 0, 0x01);
        ASSERT_EQ(master().request_state(0x1001, 0x0004), 0x0004);
        cycle(10);
        ASSERT_EQ(master().request_state(0x1001, 0x0008), 0x0008);
    }
    // Sends the outputs for a number of cycles of 1 ms; the inputs of the last.
    std::vector<uint8_t> cycle(int cycles)
    {
        Datagram d;
        for (int i = 0; i < cycles; ++i) {
            d = logical(12, 0, [this] {
                std::vector<uint8_t> image = m_image.outputs();
                image.resize(28, 0);
                return image;
            }());
            EXPECT_EQ(d.wkc, 3);
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return std::vector<uint8_t>(d.data.begin() + 13, d.data.end());
    }
    uint16_t status(int cycles = 3) { return get_le16(cycle(cycles), 0); }
    // Shutdown, then enable operation; the status word after it.
    uint16_t enable()
    {
        m_image.control = 0x0006;
        status();
        m_image.control = 0x000F;
        return status();
    }
    Drive_Image m_image;
};

}  // namespace

TEST_F(Drive_Process_Data, power_up_sequence_ends_in_operation_enabled)
{
    const struct {
        uint16_t control;
        uint16_t mask;
        uint16_t state;
        const char* name;
    } steps[] = {
        {0x0000, 0x4F, 0x40, "switch on disabled"}, {0x0080, 0x4F, 0x40, "switch on disabled after a reset"},
        {0x0006, 0x6F, 0x21, "ready to switch on"}, {0x0007, 0x6F, 0x23, "switched on"},
        {0x000F, 0x6F, 0x27, "operation enabled"},
    };
    for (const auto& step : steps) {
        m_image.control = step.control;
        EXPECT_EQ(status() & step.mask, step.state) << step.name;
    }
    Sdo_Client sdo(master(), 0x1001);
    EXPECT_EQ(get_le16(sdo.upload(0x6041, 0).data, 0) & 0x6F, 0x27) << "the same status by SDO";
    EXPECT_EQ(sdo.upload(0x1018, 1).data, le32(0x00000099)) << "identity from the file";
    EXPECT_EQ(get_le32(master().eeprom_read(0x1001, 0x000E), 0), 31u) << "EEPROM agrees with 0x1018";

    // Cyclic synchronous position: the actual position follows the target.
    m_image.mode = 8;
    m_image.target = 1500;
    const std::vector<uint8_t> inputs = cycle(20);
    EXPECT_EQ(static_cast<int8_t>(inputs[12]), 8) << "mode display";
    EXPECT_EQ(static_cast<int32_t>(get_le32(inputs, 2)), 1500);
}

TEST_F(Drive_Process_Data, injected_fault_emergency_and_reset)
{
    ASSERT_EQ(enable() & 0x6F, 0x27);
    EXPECT_EQ(control("fault 0 0x2310"), "OK");
    const std::vector<uint8_t> inputs = cycle(3);
    EXPECT_EQ(get_le16(inputs, 0) & 0x4F, 0x08) << "fault";
    EXPECT_EQ(get_le16(inputs, 13), 0x2310) << "0x603F";
    const std::vector<uint8_t> emergency = master().mailbox_receive(0x1001);
    ASSERT_GE(emergency.size(), 16u);
    EXPECT_EQ(emergency[7] >> 4, 1);
    EXPECT_EQ(get_le16(emergency, 8), 0x2310);
    // The reset edge clears the fault only when the cause is gone.
    m_image.control = 0x0080;
    EXPECT_EQ(status() & 0x4F, 0x08);
    m_image.control = 0x0000;
    status();
    EXPECT_EQ(control("fault 0 0"), "OK");
    m_image.control = 0x0080;
    EXPECT_EQ(status() & 0x4F, 0x40);
}

TEST_F(Drive_Process_Data, warning_bit_set_and_cleared_by_the_control_socket)
{
    ASSERT_EQ(enable() & 0x6F, 0x27);
    EXPECT_EQ(control("warning 0 on"), "OK");
    EXPECT_EQ(status() & 0x08EF, 0x00A7) << "operation enabled, warning, no internal limit";
    Sdo_Client sdo(master(), 0x1001);
    EXPECT_EQ(get_le16(sdo.upload(0x6041, 0).data, 0) & 0x80, 0x80) << "the same word by SDO";
    EXPECT_EQ(get_le16(cycle(1), 13), 0) << "no error code";
    EXPECT_EQ(control("warning 0 off"), "OK");
    EXPECT_EQ(status() & 0x08EF, 0x0027);
    for (const char* refused : {"warning 0", "warning 0 1", "warning 0 maybe", "warning 1 on"}) {
        EXPECT_EQ(control(refused).rfind("ERR ", 0), 0u) << refused;
    }
    EXPECT_EQ(status() & 0x08EF, 0x0027) << "a refused command changes nothing";
}

TEST_F(Drive_Process_Data, leaving_op_while_enabled_faults_the_drive)
{
    ASSERT_EQ(enable() & 0x6F, 0x27);
    ASSERT_EQ(master().request_state(0x1001, 0x0004), 0x0004);
    EXPECT_EQ(status() & 0x4F, 0x08);
}

namespace {
// A master that stops sending: the SM watchdog takes the slave to SAFE-OP
// and the drive performs the reaction that 0x6007 names, with no frame to
// step it.
struct Loss_Reaction {
    int option;      // 0x6007
    uint16_t mask;   // of the statusword
    uint16_t state;  // the state the reaction ends in
    const char* name;
};

void PrintTo(const Loss_Reaction& reaction, std::ostream* out)
{
    *out << reaction.name;
}

class Drive_Losing_Its_Master : public Drive_Process_Data, public ::testing::WithParamInterface<Loss_Reaction> {};

uint16_t reply_number(const std::string& reply)
{
    return static_cast<uint16_t>(std::stol(reply.substr(reply.rfind(' ') + 1)));
}
}  // namespace

TEST_P(Drive_Losing_Its_Master, reacts_as_its_abort_connection_option_says)
{
    const Loss_Reaction& reaction = GetParam();
    ASSERT_EQ(control("set 0 0x6007 0 " + std::to_string(reaction.option)), "OK");
    m_image.mode = 3;  // profile velocity
    m_image.velocity = 100000;
    ASSERT_EQ(enable() & 0x6F, 0x27);
    ASSERT_NE(control("get 0 0x606C 0"), "OK 0") << "moving";
    // No frame from here on.
    EXPECT_TRUE(eventually([&] { return control("read 0 0x130 2") == "OK 14 00"; }, std::chrono::seconds(5)))
        << control("read 0 0x130 2");
    EXPECT_TRUE(eventually([&] { return (reply_number(control("get 0 0x6041 0")) & reaction.mask) == reaction.state; },
                           std::chrono::seconds(5)))
        << reaction.name << ": " << control("get 0 0x6041 0");
    if (reaction.option != 0) {
        EXPECT_EQ(control("get 0 0x606C 0"), "OK 0") << reaction.name << " stands";
    }
}

INSTANTIATE_TEST_SUITE_P(Options, Drive_Losing_Its_Master,
                         ::testing::Values(Loss_Reaction{1, 0x4F, 0x08, "fault_signal"},
                                           Loss_Reaction{2, 0x4F, 0x40, "disable_voltage"},
                                           Loss_Reaction{3, 0x4F, 0x40, "quick_stop"},
                                           Loss_Reaction{0, 0x6F, 0x27, "no_action"}),
                         [](const ::testing::TestParamInfo<Loss_Reaction>& param) { return param.param.name; });
