// The AL state machine of a slave with an application, its refusals and
// codes, the error acknowledge, device emulation and the SM watchdog.

#include <thread>

#include "test_master.h"

namespace {

const char* const IO_WITH_MAILBOX =
    "slave io device=dio mailbox=0x1000:128,0x1080:128\n"
    "slave coupler device=none\n";
constexpr uint16_t IO = 0x1001;
constexpr uint16_t COUPLER = 0x1002;

class Al_States : public Segment_Test {
protected:
    void SetUp() override
    {
        start(IO_WITH_MAILBOX);
        master().assign_stations(2);
    }
    uint16_t code() { return master().fprd16(IO, 0x0134); }
    void process_data_sms(uint16_t out_length = 1, uint16_t in_length = 1)
    {
        master().set_sm(IO, 2, 0x1100, out_length, 0x64, true);
        master().set_sm(IO, 3, 0x1180, in_length, 0x20, true);
    }
};

}  // namespace

TEST_F(Al_States, refusals_keep_the_state_and_set_their_codes)
{
    const struct {
        uint16_t control;
        uint16_t status;
        uint16_t code;
    } from_init[] = {
        {0x0002, 0x0011, 0x0016},  // mailbox sync managers not set up
        {0x0004, 0x0011, 0x0011},  // INIT -> SAFE-OP
        {0x0008, 0x0011, 0x0011},  // INIT -> OP
        {0x0005, 0x0011, 0x0012},  // no such state
        {0x0003, 0x0011, 0x0013},  // BOOT without a bootstrap mailbox
    };
    for (const auto& c : from_init) {
        EXPECT_EQ(master().request_state(IO, c.control), c.status) << "control " << c.control;
        EXPECT_EQ(code(), c.code) << "control " << c.control;
        master().request_state(IO, 0x0011);  // acknowledge, stay in INIT
        EXPECT_EQ(master().fprd16(IO, 0x0130), 0x0001);
    }
}

TEST_F(Al_States, an_error_holds_until_acknowledged_but_init_passes)
{
    EXPECT_EQ(master().request_state(IO, 0x0002), 0x0011);
    master().set_sm(IO, 0, 0x1000, 128, 0x26, true);
    master().set_sm(IO, 1, 0x1080, 128, 0x22, true);
    EXPECT_EQ(master().request_state(IO, 0x0002), 0x0011) << "a request without acknowledge is ignored";
    EXPECT_EQ(code(), 0x0016) << "the code stays while the error is set";
    EXPECT_EQ(master().request_state(IO, 0x0012), 0x0002) << "acknowledge and request together";
    EXPECT_EQ(code(), 0x0000) << "a clean transition clears the code";

    EXPECT_EQ(master().request_state(IO, 0x0008), 0x0012) << "PRE-OP -> OP";
    EXPECT_EQ(code(), 0x0011);
    EXPECT_EQ(master().request_state(IO, 0x0001), 0x0001) << "INIT is taken without acknowledge";
    EXPECT_EQ(code(), 0x0000);
}

TEST_F(Al_States, process_data_sync_managers_are_checked_on_the_way_to_safe_op)
{
    ASSERT_EQ(master().to_preop(IO), 0x0002);
    const struct {
        uint16_t out_length;
        uint16_t in_length;
        uint16_t code;
    } wrong[] = {{2, 1, 0x001D}, {1, 3, 0x001E}};
    for (const auto& c : wrong) {
        process_data_sms(c.out_length, c.in_length);
        EXPECT_EQ(master().request_state(IO, 0x0004), 0x0012);
        EXPECT_EQ(code(), c.code);
        master().request_state(IO, 0x0012);
    }
    // Outputs in the wrong direction.
    master().set_sm(IO, 2, 0x1100, 1, 0x20, true);
    master().set_sm(IO, 3, 0x1180, 1, 0x20, true);
    EXPECT_EQ(master().request_state(IO, 0x0004), 0x0012);
    EXPECT_EQ(code(), 0x001D);
    master().request_state(IO, 0x0012);

    process_data_sms();
    EXPECT_EQ(master().request_state(IO, 0x0004), 0x0004);
    EXPECT_EQ(master().request_state(IO, 0x0008), 0x0014) << "no outputs received yet";
    EXPECT_EQ(code(), 0x001B);
    master().fpwr(IO, 0x1100, {0x01});
    EXPECT_EQ(master().request_state(IO, 0x0018), 0x0008);
    EXPECT_EQ(master().request_state(IO, 0x0002), 0x0002) << "every step down is allowed";
}

TEST_F(Al_States, scripted_refusal_and_forced_state)
{
    ASSERT_EQ(master().to_preop(IO), 0x0002);
    EXPECT_EQ(control("refuse 0 SAFEOP 0x0030"), "OK");
    process_data_sms();
    EXPECT_EQ(master().request_state(IO, 0x0004), 0x0012);
    EXPECT_EQ(code(), 0x0030);
    EXPECT_EQ(control("refuse 0 SAFEOP 0"), "OK");
    EXPECT_EQ(master().request_state(IO, 0x0014), 0x0004);

    EXPECT_EQ(control("state 0 PREOP 0x001A"), "OK");
    EXPECT_EQ(master().fprd16(IO, 0x0130), 0x0012);
    EXPECT_EQ(code(), 0x001A);
    EXPECT_EQ(control("state 7 OP 0").rfind("ERR", 0), 0u);
}

// With the AL status event enabled in the mask 0x0200, every datagram's IRQ
// field shows it until the AL status is read.
TEST_F(Al_States, al_status_event_in_the_irq_field)
{
    master().fpwr(IO, 0x0200, le16(0x0008));
    EXPECT_EQ(master().read(4, IO, 0x0010, 2).irq, 0);
    master().fpwr(IO, 0x0120, le16(0x0002));  // refused: an error status
    EXPECT_EQ(master().read(4, IO, 0x0010, 2).irq, 0x0008);
    EXPECT_EQ(master().read(7, 0, 0x0010, 2).irq, 0x0008) << "ORed by every slave";
    master().fprd16(IO, 0x0130);
    EXPECT_EQ(master().read(4, IO, 0x0010, 2).irq, 0);
    EXPECT_EQ(master().read(4, IO, 0x0210, 2).data, le16(0));
}

TEST_F(Al_States, an_esc_without_application_copies_the_control_register)
{
    EXPECT_EQ(master().request_state(COUPLER, 0x0008), 0x0008);
    EXPECT_EQ(master().request_state(COUPLER, 0x0002), 0x0002);
    EXPECT_EQ(master().fprd16(COUPLER, 0x0134), 0x0000);
}

TEST_F(Al_States, the_sync_manager_watchdog_drops_op_when_outputs_stop)
{
    // 1 s: long beside the 2 ms refresh below, so a busy machine that holds
    // this thread off for a while does not expire it early.
    constexpr uint16_t WATCHDOG_TICKS = 10000;  // of 100 us
    ASSERT_EQ(master().to_preop(IO), 0x0002);
    process_data_sms();
    master().fpwr(IO, 0x0420, le16(WATCHDOG_TICKS));
    ASSERT_EQ(master().request_state(IO, 0x0004), 0x0004);
    master().fpwr(IO, 0x1100, {0x01});
    ASSERT_EQ(master().request_state(IO, 0x0008), 0x0008);
    EXPECT_EQ(master().fprd16(IO, 0x0440) & 1, 1) << "running";
    // Outputs every 2 ms keep it in OP.
    for (int i = 0; i < 50; ++i) {
        master().fpwr(IO, 0x1100, {0x01});
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    EXPECT_EQ(master().fprd16(IO, 0x0130), 0x0008);
    EXPECT_EQ(master().read(4, IO, 0x0442, 1).data[0], 0) << "no expiry while outputs came";
    // Without outputs it expires once and drops to SAFE-OP with an error.
    const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    uint16_t status = master().fprd16(IO, 0x0130);
    while (status == 0x0008 && std::chrono::steady_clock::now() < give_up) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        status = master().fprd16(IO, 0x0130);
    }
    EXPECT_EQ(status, 0x0014);
    EXPECT_EQ(master().fprd16(IO, 0x0134), 0x001B);
    EXPECT_EQ(master().fprd16(IO, 0x0440) & 1, 0) << "expired";
    EXPECT_EQ(master().read(4, IO, 0x0442, 1).data[0], 1) << "expiry counter";
}
