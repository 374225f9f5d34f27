#include <ostream>
#include <vector>

#include "drive_fixture.h"

using namespace sim;

namespace {

Drive_Options of(Drive_Vendor vendor)
{
    Drive_Options o;
    o.vendor = vendor;
    return o;
}

struct Vendor_Case {
    Drive_Vendor vendor;
    uint32_t vendor_id, product;
    uint16_t error_object;
    uint8_t error_bits;
    uint32_t tx_bytes, rx_bytes;
    bool halts_on_quick_stop;
};

const Vendor_Case vendor_cases[] = {
    {Drive_Vendor::GENERIC, 0x00000000, 0x00000402, 0x603F, 16, 15, 13, false},
    {Drive_Vendor::SCHNEIDER, 0x0800005A, 91200, 0x603F, 16, 15, 13, false},
    {Drive_Vendor::OMRON, 0x00000083, 1, 0x603F, 16, 15, 13, true},
    {Drive_Vendor::INFRANOR, 130, 768, 0x603F, 16, 15, 13, false},
    {Drive_Vendor::YASKAWA, 1337, 35652609, 0x603F, 16, 15, 13, true},
    {Drive_Vendor::FESTO, 29, 8067733, 0x2FF1, 32, 19, 17, false},
    {Drive_Vendor::INGENIA, 0x0000029C, 1, 0x2E00, 32, 23, 17, false},
};

void PrintTo(const Vendor_Case& c, std::ostream* os)
{
    *os << vendor_name(c.vendor);
}

class Vendor_Test : public ::testing::TestWithParam<Vendor_Case> {};

TEST_P(Vendor_Test, IdentityErrorWidthAndDefaultProcessData)
{
    const Vendor_Case& c = GetParam();
    Cia402_Drive drive(of(c.vendor));
    const Object_Dictionary& od = drive.dictionary();
    EXPECT_EQ(od.get<uint32_t>(0x1018, 1), c.vendor_id);
    EXPECT_EQ(od.get<uint32_t>(0x1018, 2), c.product);
    EXPECT_EQ(od.get<uint32_t>(0x1000) & 0xFFFF, 0x0192u);
    EXPECT_EQ(drive.error_object(), c.error_object);
    EXPECT_EQ(od.find(c.error_object, 0)->bit_size, c.error_bits);
    EXPECT_EQ(Object_Dictionary::image_bytes(od.pdo_layout(0x1C13)), c.tx_bytes);
    EXPECT_EQ(Object_Dictionary::image_bytes(od.pdo_layout(0x1C12)), c.rx_bytes);
    EXPECT_EQ(od.pdo_layout(0x1C12)[0].index, 0x6040);
    EXPECT_EQ(od.pdo_layout(0x1C13)[0].index, 0x6041);
    for (uint16_t sync : {0x1C32, 0x1C33})
        EXPECT_EQ(od.get<uint8_t>(sync, 0), 6);
    EXPECT_EQ(vendor_from_name(vendor_name(c.vendor)), c.vendor);
}

TEST_P(Vendor_Test, FaultCodeInTheVendorsErrorObject)
{
    const Vendor_Case& c = GetParam();
    Cia402_Drive drive(of(c.vendor));
    drive.inject_fault(0x7500);
    drive.step(0.001);
    std::vector<uint8_t> out;
    ASSERT_EQ(drive.sdo_read(c.error_object, 0, out), 0u);
    EXPECT_EQ(out.size(), c.error_bits / 8u);
    EXPECT_EQ(out[0], 0x00);
    EXPECT_EQ(out[1], 0x75);
    EXPECT_EQ(drive.error_code(), 0x7500u);
}

TEST_P(Vendor_Test, QuickStopBitEitherQuickStopsOrHalts)
{
    const Vendor_Case& c = GetParam();
    Cia402_Drive drive(of(c.vendor));
    for (uint16_t cw : {0x00, 0x06, 0x07, 0x0F}) {
        drive.set_control_word(cw);
        drive.step(0.001);
    }
    ASSERT_EQ(drive.sdo_write(0x6060, 0, {3}), 0u);
    ASSERT_EQ(drive.sdo_write(0x60FF, 0, to_bytes<int32_t>(10000)), 0u);
    for (int i = 0; i < 100; ++i)
        drive.step(0.001);
    ASSERT_EQ(drive.velocity(), 10000);
    drive.set_control_word(0x0B);
    for (int i = 0; i < 100; ++i)
        drive.step(0.001);
    EXPECT_EQ(drive.velocity(), 0);
    EXPECT_EQ(drive.power_state(),
              c.halts_on_quick_stop ? Power_State::OPERATION_ENABLED : Power_State::QUICK_STOP_ACTIVE);
}

INSTANTIATE_TEST_SUITE_P(Families, Vendor_Test, ::testing::ValuesIn(vendor_cases),
                         [](const ::testing::TestParamInfo<Vendor_Case>& param_info) {
                             return std::string(vendor_name(param_info.param.vendor));
                         });

struct Yaskawa_Test : Drive_Fixture {
    Yaskawa_Test() : Drive_Fixture(of(Drive_Vendor::YASKAWA)) {}
};

TEST_F(Yaskawa_Test, SafetyInputShowsBitFifteenAndTakesThePowerStage)
{
    power_up();
    drive.set_safety_active(true);
    cycle(0x0F);
    EXPECT_TRUE(drive.status_word() & 0x8000);
    EXPECT_EQ(drive.power_state(), Power_State::SWITCH_ON_DISABLED);
    cycle(0x06);
    EXPECT_EQ(drive.power_state(), Power_State::SWITCH_ON_DISABLED);
    drive.set_safety_active(false);
    power_up();
    EXPECT_FALSE(drive.status_word() & 0x8000);
    EXPECT_EQ(drive.power_state(), Power_State::OPERATION_ENABLED);
}

struct Festo_Test : Drive_Fixture {
    Festo_Test() : Drive_Fixture(of(Drive_Vendor::FESTO)) {}
};

TEST_F(Festo_Test, LimitInputsWarnAndBlockMotionTowardsThem)
{
    power_up();
    set_mode(3);
    sdo_set<int32_t>(0x60FF, 0, 10000);
    cycle(0x0F, 10);
    drive.set_limit_inputs(true, false);
    const int32_t at = drive.position();
    cycle(0x0F, 10);
    EXPECT_EQ(drive.position(), at);
    EXPECT_EQ(drive.status_word() & 0x880, 0x880);
    EXPECT_EQ(drive.dictionary().get<uint32_t>(0x60FD) & 0x3, 0x2u);
    EXPECT_EQ(drive.dictionary().get<uint8_t>(0x2FF2, 1), 1);
    EXPECT_EQ(drive.dictionary().get<uint8_t>(0x2FF2, 2), 0);
    sdo_set<int32_t>(0x60FF, 0, -10000);
    cycle(0x0F, 30);
    EXPECT_LT(drive.position(), at) << "away from the positive limit is free";
    drive.set_limit_inputs(false, false);
    cycle(0x0F);
    EXPECT_EQ(drive.status_word() & 0x880, 0);
}

using Warning_Test = Drive_Fixture;

TEST_F(Warning_Test, WarningWithLimitHoldsTheAxisWhileActive)
{
    power_up();
    set_mode(3);
    sdo_set<int32_t>(0x60FF, 0, -10000);
    drive.set_warning_limit(true);
    cycle(0x0F, 20);
    EXPECT_EQ(drive.position(), 0);
    EXPECT_EQ(drive.status_word() & 0x880, 0x880);
    EXPECT_EQ(drive.power_state(), Power_State::OPERATION_ENABLED);
    drive.set_warning_limit(false);
    cycle(0x0F, 20);
    EXPECT_LT(drive.position(), 0);
    EXPECT_EQ(drive.status_word() & 0x880, 0);
}

TEST_F(Warning_Test, WarningAloneSetsBit7AndLeavesStateAndMotion)
{
    // Disabled, then enabled and moving in profile velocity: the warning
    // shows in bit 7 only, and the drive works on as before.
    drive.set_warning(true);
    cycle(0x00, 3);
    EXPECT_EQ(drive.status_word() & 0x08C0, 0x00C0) << "switch on disabled, warning, no internal limit";
    EXPECT_EQ(drive.power_state(), Power_State::SWITCH_ON_DISABLED);
    power_up();
    EXPECT_EQ(state_bits(), 0x27) << "the power sequence runs under a warning";
    set_mode(3);
    sdo_set<int32_t>(0x60FF, 0, 20000);
    cycle(0x0F, 200);
    EXPECT_GT(drive.position(), 0);
    EXPECT_GT(drive.velocity(), 0);
    const int32_t moving_at = drive.position();
    cycle(0x0F, 20);
    EXPECT_GT(drive.position(), moving_at) << "the axis is not held";
    EXPECT_EQ(drive.status_word() & 0x08EF, 0x00A7) << "operation enabled with warning, no internal limit";
    drive.set_warning(false);
    cycle(0x0F);
    EXPECT_EQ(drive.status_word() & 0x08EF, 0x0027);
    EXPECT_EQ(drive.power_state(), Power_State::OPERATION_ENABLED);
    // A fault under a warning: both bits, and the warning outlives the reset.
    drive.set_warning(true);
    drive.inject_fault(0x2310);
    cycle(0x0F, 3);
    EXPECT_EQ(drive.status_word() & 0x4F, 0x08);
    EXPECT_NE(drive.status_word() & 0x80, 0);
    drive.clear_fault_cause();
    cycle(0x00);
    cycle(0x80);
    EXPECT_EQ(drive.status_word() & 0xCF, 0xC0) << "switch on disabled, warning still on";
}

TEST_F(Warning_Test, SdoErrorSwitchRefusesEveryTransfer)
{
    std::vector<uint8_t> out;
    drive.set_sdo_behaviour(std::chrono::milliseconds(0), 0x08000020, false);
    EXPECT_EQ(drive.sdo_read(0x6041, 0, out), 0x08000020u);
    EXPECT_EQ(drive.sdo_write(0x6060, 0, {1}), 0x08000020u);
    EXPECT_EQ(drive.dictionary().get<int8_t>(0x6060), 0);
    drive.set_sdo_behaviour(std::chrono::milliseconds(5), 0, true);
    EXPECT_EQ(drive.sdo_write(0x6060, 0, {1}), 0u);
    EXPECT_TRUE(drive.sdo_silent());
    EXPECT_EQ(drive.sdo_delay(), std::chrono::milliseconds(5));
}

}  // namespace
