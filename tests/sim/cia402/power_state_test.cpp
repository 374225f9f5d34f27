#include <vector>

#include "drive_fixture.h"

using namespace sim;

namespace {

using Power_State_Test = Drive_Fixture;

TEST_F(Power_State_Test, PowerUpSequenceReachesOperationEnabled)
{
    EXPECT_EQ(drive.power_state(), Power_State::NOT_READY_TO_SWITCH_ON);
    const struct {
        uint16_t cw;
        uint16_t mask, value;
        Power_State state;
    } steps[] = {
        {0x00, 0x4F, 0x40, Power_State::SWITCH_ON_DISABLED}, {0x80, 0x4F, 0x40, Power_State::SWITCH_ON_DISABLED},
        {0x06, 0x6F, 0x21, Power_State::READY_TO_SWITCH_ON}, {0x07, 0x6F, 0x23, Power_State::SWITCHED_ON},
        {0x0F, 0x6F, 0x27, Power_State::OPERATION_ENABLED},
    };
    for (const auto& s : steps) {
        cycle(s.cw);
        EXPECT_EQ(drive.status_word() & s.mask, s.value) << "cw " << s.cw;
        EXPECT_EQ(drive.power_state(), s.state) << "cw " << s.cw;
        EXPECT_TRUE(drive.status_word() & 0x10) << "voltage enabled";
    }
    EXPECT_EQ(drive.control_word_history(), (std::vector<uint16_t>{0x00, 0x80, 0x06, 0x07, 0x0F}));
}

TEST_F(Power_State_Test, ControlwordCommandsFromOperationEnabled)
{
    const struct {
        uint16_t cw;
        Power_State state;
    } cases[] = {
        {0x07, Power_State::SWITCHED_ON},        {0x06, Power_State::READY_TO_SWITCH_ON},
        {0x00, Power_State::SWITCH_ON_DISABLED}, {0x0D, Power_State::SWITCH_ON_DISABLED},
        {0x0B, Power_State::QUICK_STOP_ACTIVE},  {0x02, Power_State::QUICK_STOP_ACTIVE},
        {0x0F, Power_State::OPERATION_ENABLED},  {0x8F, Power_State::OPERATION_ENABLED},
    };
    for (const auto& c : cases) {
        Cia402_Drive fresh;
        fresh.set_control_word(0);
        for (uint16_t cw : {0x00, 0x06, 0x07, 0x0F, static_cast<int>(c.cw)}) {
            fresh.set_control_word(static_cast<uint16_t>(cw));
            fresh.step(DT);
        }
        EXPECT_EQ(fresh.power_state(), c.state) << "cw 0x" << std::hex << c.cw;
    }
}

TEST_F(Power_State_Test, SwitchOnAndEnableAtOnceFromReady)
{
    cycle(0x06, 2);
    cycle(0x0F);
    EXPECT_EQ(state_bits(), 0x27);
}

TEST_F(Power_State_Test, QuickStopStopsTheAxisAndStaysUntilEnabledAgain)
{
    power_up();
    set_mode(3);
    sdo_set<int32_t>(0x60FF, 0, 20000);
    cycle(0x0F, 200);
    ASSERT_EQ(drive.velocity(), 20000);
    cycle(0x0B);
    EXPECT_EQ(state_bits(), 0x07);
    EXPECT_EQ(drive.status_word() & 0x20, 0) << "quick stop bit is active low";
    cycle(0x0B, 50);
    EXPECT_EQ(drive.velocity(), 0);
    const int32_t stopped = drive.position();
    cycle(0x8B, 10);  // a reset edge in quick stop changes nothing
    EXPECT_EQ(drive.power_state(), Power_State::QUICK_STOP_ACTIVE);
    EXPECT_EQ(drive.position(), stopped);
    cycle(0x0F);
    EXPECT_EQ(state_bits(), 0x27);
}

TEST_F(Power_State_Test, QuickStopOptionTwoEndsInSwitchOnDisabled)
{
    power_up();
    sdo_set<int16_t>(0x605A, 0, 2);
    set_mode(3);
    sdo_set<int32_t>(0x60FF, 0, 20000);
    cycle(0x0F, 100);
    cycle(0x0B);
    EXPECT_EQ(drive.power_state(), Power_State::QUICK_STOP_ACTIVE);
    cycle(0x0B, 50);
    EXPECT_EQ(drive.power_state(), Power_State::SWITCH_ON_DISABLED);
    cycle(0x0F);
    EXPECT_EQ(drive.power_state(), Power_State::SWITCH_ON_DISABLED) << "needs shutdown first";
}

TEST_F(Power_State_Test, InjectedFaultShowsReactionThenFaultAndNeedsCauseGoneAndEdge)
{
    power_up();
    drive.take_emergencies();
    drive.inject_fault(0x7121);
    cycle(0x0F);
    EXPECT_EQ(drive.status_word() & 0x4F, 0x0F) << "fault reaction active";
    cycle(0x0F);
    EXPECT_EQ(drive.status_word() & 0x4F, 0x08) << "fault";
    EXPECT_EQ(drive.error_code(), 0x7121u);
    EXPECT_EQ(drive.dictionary().get<uint8_t>(0x1001), 1);
    auto emergencies = drive.take_emergencies();
    ASSERT_EQ(emergencies.size(), 1u);
    EXPECT_EQ(emergencies[0].code, 0x7121);

    cycle(0x00);
    cycle(0x80);
    EXPECT_EQ(drive.power_state(), Power_State::FAULT) << "cause still present";
    drive.clear_fault_cause();
    cycle(0x80, 5);
    EXPECT_EQ(drive.power_state(), Power_State::FAULT) << "reset needs a rising edge";
    cycle(0x00);
    cycle(0x80);
    EXPECT_EQ(drive.status_word() & 0x4F, 0x40);
    EXPECT_EQ(drive.error_code(), 0u);
    emergencies = drive.take_emergencies();
    ASSERT_EQ(emergencies.size(), 1u);
    EXPECT_EQ(emergencies[0].code, 0);
    cycle(0x06);
    cycle(0x07);
    cycle(0x0F);
    EXPECT_EQ(state_bits(), 0x27);
}

TEST_F(Power_State_Test, FaultTakesTheTorqueAway)
{
    power_up();
    set_mode(3);
    sdo_set<int32_t>(0x60FF, 0, 5000);
    cycle(0x0F, 100);
    drive.inject_fault(0x2310);
    cycle(0x0F, 2);
    EXPECT_EQ(drive.velocity(), 0);
    const int32_t position = drive.position();
    cycle(0x0F, 10);
    EXPECT_EQ(drive.position(), position);
}

class Power_Up_Fault_Test : public Drive_Fixture {
protected:
    static Drive_Options options()
    {
        Drive_Options o;
        o.fault_at_power_up = 0x5530;
        return o;
    }
    Power_Up_Fault_Test() : Drive_Fixture(options()) {}
};

TEST_F(Power_Up_Fault_Test, DriveStartsFaultedWithItsCode)
{
    cycle(0x00, 2);
    EXPECT_EQ(drive.power_state(), Power_State::FAULT);
    EXPECT_EQ(drive.error_code(), 0x5530u);
    cycle(0x80);
    EXPECT_EQ(drive.power_state(), Power_State::FAULT);
    drive.clear_fault_cause();
    power_up();
    EXPECT_EQ(drive.power_state(), Power_State::OPERATION_ENABLED);
}

class Ignoring_Drive_Test : public Drive_Fixture {
protected:
    static Drive_Options options()
    {
        Drive_Options o;
        o.ignore_control_word = true;
        return o;
    }
    Ignoring_Drive_Test() : Drive_Fixture(options()) {}
};

TEST_F(Ignoring_Drive_Test, StaysSwitchOnDisabledWhateverItIsSent)
{
    power_up();
    cycle(0x0F, 10);
    EXPECT_EQ(drive.status_word() & 0x4F, 0x40);
    EXPECT_EQ(drive.control_word_history(), (std::vector<uint16_t>{0x00, 0x80, 0x06, 0x07, 0x0F}));
}

TEST_F(Power_State_Test, LeavingOpWhileEnabledFaults)
{
    drive.set_device_state(STATE_OP);
    power_up();
    drive.set_device_state(STATE_SAFE_OP);
    cycle(0x0F, 2);
    EXPECT_EQ(drive.power_state(), Power_State::FAULT);
    EXPECT_EQ(drive.error_code(), 0xA000u);
    EXPECT_EQ(drive.dictionary().write(0x1C12, 0, {0}), abort_code::DEVICE_STATE);
}

}  // namespace
