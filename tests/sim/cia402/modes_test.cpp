#include <cstdlib>

#include "drive_fixture.h"

using namespace sim;

namespace {

class Mode_Test : public Drive_Fixture {
protected:
    void SetUp() override
    {
        power_up();
        sdo_set<uint32_t>(0x6081, 0, 100000);  // 100 increments per ms
        sdo_set<uint32_t>(0x6083, 0, 1000000);
        sdo_set<uint32_t>(0x6084, 0, 1000000);
    }
    // New set-point handshake: bit 4 up until acknowledged, then down.
    void set_point(int32_t target, uint16_t extra_bits = 0)
    {
        sdo_set<int32_t>(0x607A, 0, target);
        cycle(static_cast<uint16_t>(0x1F | extra_bits));
        ASSERT_TRUE(drive.status_word() & 0x1000) << "set-point acknowledge";
        cycle(static_cast<uint16_t>(0x0F | extra_bits));
        EXPECT_FALSE(drive.status_word() & 0x1000) << "acknowledge follows bit 4 down";
    }
};

TEST_F(Mode_Test, ModeDisplayFollowsAfterOneStepAndUnsupportedModesAreRefused)
{
    ASSERT_EQ(drive.sdo_write(0x6060, 0, to_bytes<int8_t>(1)), 0u);
    EXPECT_EQ(drive.mode_display(), 0);
    cycle(0x0F);
    EXPECT_EQ(drive.mode_display(), 1);
    for (int8_t bad : {2, 4, 9, 10, 11, -1})
        EXPECT_EQ(drive.sdo_write(0x6060, 0, to_bytes<int8_t>(bad)), abort_code::VALUE_RANGE) << int(bad);
    for (int8_t good : {0, 3, 6, 7, 8})
        EXPECT_EQ(drive.sdo_write(0x6060, 0, to_bytes<int8_t>(good)), 0u);
}

TEST_F(Mode_Test, ProfilePositionAbsoluteMoveReachesItsTarget)
{
    set_mode(1);
    EXPECT_TRUE(drive.status_word() & 0x400) << "standing axis is at its target";
    set_point(5000);
    EXPECT_FALSE(drive.status_word() & 0x400);
    EXPECT_GT(drive.position(), 0);
    EXPECT_LT(drive.position(), 5000);
    ASSERT_TRUE(step_until(0x400, 0x400));
    EXPECT_EQ(drive.position(), 5000);
    EXPECT_EQ(drive.velocity(), 0);
}

TEST_F(Mode_Test, ProfilePositionSpeedFollowsTheProfile)
{
    set_mode(1);
    set_point(1000000);
    cycle(0x0F, 200);  // accelerated for 0.2 s at 1e6/s^2 but capped at 1e5/s
    EXPECT_EQ(drive.velocity(), 100000);
    sdo_set<uint32_t>(0x6081, 0, 0);
    set_point(0, 0x20);  // change immediately with profile velocity 0: the axis stops where it is
    cycle(0x0F, 200);
    const int32_t stopped = drive.position();
    cycle(0x0F, 10);
    EXPECT_EQ(drive.position(), stopped);
    EXPECT_GT(stopped, 0);
    EXPECT_FALSE(drive.status_word() & 0x400);
}

TEST_F(Mode_Test, ProfilePositionRelativeMovesAddToThePreviousTarget)
{
    set_mode(1);
    set_point(1000);
    ASSERT_TRUE(step_until(0x400, 0x400));
    set_point(-300, 0x40);
    ASSERT_TRUE(step_until(0x400, 0x400));
    EXPECT_EQ(drive.position(), 700);
}

TEST_F(Mode_Test, SetPointDuringAMoveIsBufferedUnlessChangeImmediately)
{
    set_mode(1);
    set_point(20000);
    cycle(0x0F, 20);
    set_point(-1000);  // buffered: the first target is reached first
    int32_t furthest = 0;
    for (int i = 0; i < 5000 && !(drive.status_word() & 0x400); ++i) {
        drive.step(DT);
        furthest = std::max(furthest, drive.position());
    }
    EXPECT_EQ(furthest, 20000);
    EXPECT_EQ(drive.position(), -1000);

    set_point(20000);
    cycle(0x0F, 20);
    set_point(-1000, 0x20);  // immediately: turns before reaching 20000
    furthest = -1000;
    for (int i = 0; i < 5000 && !(drive.status_word() & 0x400); ++i) {
        drive.step(DT);
        furthest = std::max(furthest, drive.position());
    }
    EXPECT_LT(furthest, 20000);
    EXPECT_EQ(drive.position(), -1000);
}

TEST_F(Mode_Test, HaltStopsShortOfTheTargetAndReportsStandstill)
{
    set_mode(1);
    set_point(1000000);
    cycle(0x0F, 100);
    cycle(0x10F);
    EXPECT_FALSE(drive.status_word() & 0x400);
    ASSERT_TRUE(step_until(0x400, 0x400, 1000));
    EXPECT_EQ(drive.velocity(), 0);
    EXPECT_LT(drive.position(), 1000000);
    cycle(0x0F);  // halt released: the move goes on
    EXPECT_FALSE(drive.status_word() & 0x400);
}

TEST_F(Mode_Test, TargetReachedWaitsForTheWindowTime)
{
    sdo_set<uint16_t>(0x6068, 0, 5);
    set_mode(1);
    set_point(100);
    int steps_in_position = 0;
    for (int i = 0; i < 1000 && !(drive.status_word() & 0x400); ++i) {
        drive.step(DT);
        if (drive.position() == 100)
            ++steps_in_position;
    }
    EXPECT_EQ(steps_in_position, 5);
}

TEST_F(Mode_Test, TargetsOutsideTheSoftwareLimitsAreClipped)
{
    sdo_set<int32_t>(0x607D, 2, 3000);
    set_mode(1);
    set_point(5000);
    EXPECT_TRUE(drive.status_word() & 0x800) << "internal limit active";
    ASSERT_TRUE(step_until(0x400, 0x400));
    EXPECT_EQ(drive.position(), 3000);
    set_point(2000);
    EXPECT_FALSE(drive.status_word() & 0x800);
}

TEST_F(Mode_Test, ProfileVelocityRampsToTheTargetAndHaltsToZero)
{
    set_mode(3);
    EXPECT_TRUE(drive.status_word() & 0x1000) << "speed 0";
    sdo_set<int32_t>(0x60FF, 0, -50000);
    cycle(0x0F);
    EXPECT_FALSE(drive.status_word() & 0x400);
    EXPECT_FALSE(drive.status_word() & 0x1000);
    ASSERT_TRUE(step_until(0x400, 0x400, 1000));
    EXPECT_EQ(drive.velocity(), -50000);
    EXPECT_LT(drive.position(), -1000);
    cycle(0x10F);
    ASSERT_TRUE(step_until(0x1400, 0x1400, 1000));
    EXPECT_EQ(drive.velocity(), 0);
}

TEST_F(Mode_Test, HomingCurrentPositionSetsTheHomeOffsetAtOnce)
{
    set_mode(1);
    set_point(4321);
    ASSERT_TRUE(step_until(0x400, 0x400));
    sdo_set<int32_t>(0x607C, 0, 0);
    set_mode(6);
    EXPECT_EQ(drive.status_word() & 0x3400, 0x0400) << "not started";
    cycle(0x1F);
    EXPECT_EQ(drive.status_word() & 0x3400, 0x1400);
    EXPECT_EQ(drive.position(), 0);
}

TEST_F(Mode_Test, SearchHomingRunsToTheSwitchThenReportsAttained)
{
    sdo_set<int8_t>(0x6098, 0, 1);
    sdo_set<int32_t>(0x607C, 0, 250);
    set_mode(1);
    set_point(-3000);
    ASSERT_TRUE(step_until(0x400, 0x400));
    set_mode(6);
    cycle(0x1F);
    EXPECT_EQ(drive.status_word() & 0x3400, 0) << "in progress";
    ASSERT_TRUE(step_until(0x3400, 0x1400));
    EXPECT_EQ(drive.position(), 250);
}

TEST_F(Mode_Test, HomingInterruptedByBitFourFalling)
{
    sdo_set<int8_t>(0x6098, 0, 1);
    set_mode(1);
    set_point(-30000);
    ASSERT_TRUE(step_until(0x400, 0x400));
    set_mode(6);
    cycle(0x1F, 10);
    cycle(0x0F);
    ASSERT_TRUE(step_until(0x3400, 0x0400, 1000));
    EXPECT_NE(drive.position(), 0);
}

TEST_F(Mode_Test, CyclicSynchronousPositionFollowsWithinMaxVelocity)
{
    sdo_set<uint32_t>(0x607F, 0, 200000);  // 200 per step
    set_mode(8);
    sdo_set<int32_t>(0x607A, 0, 150);
    cycle(0x0F);
    EXPECT_EQ(drive.position(), 150);
    EXPECT_TRUE(drive.status_word() & 0x1000);
    sdo_set<int32_t>(0x607A, 0, 1150);
    cycle(0x0F);
    EXPECT_EQ(drive.position(), 350);
    EXPECT_EQ(drive.velocity(), 200000);
}

TEST_F(Mode_Test, InterpolatedFollowsOnlyWhileEnabled)
{
    set_mode(7);
    sdo_set<int32_t>(0x60C1, 1, 100);
    cycle(0x0F, 5);
    EXPECT_EQ(drive.position(), 0);
    EXPECT_FALSE(drive.status_word() & 0x1000);
    cycle(0x1F);
    EXPECT_EQ(drive.position(), 100);
    EXPECT_TRUE(drive.status_word() & 0x1000);
}

Drive_Options with(bool instant, bool error, bool disagree)
{
    Drive_Options o;
    o.instant_homing = instant;
    o.homing_error = error;
    o.disagreeing_mode_display = disagree;
    return o;
}

struct Instant_Homing : Drive_Fixture {
    Instant_Homing() : Drive_Fixture(with(true, false, false)) {}
};

TEST_F(Instant_Homing, AttainedFromPowerUpAndAfterEveryStart)
{
    power_up();
    set_mode(6);
    EXPECT_EQ(drive.status_word() & 0x3400, 0x1400);
    sdo_set<int8_t>(0x6098, 0, 1);  // even a search method ends at once
    cycle(0x1F);
    EXPECT_EQ(drive.status_word() & 0x3400, 0x1400);
    EXPECT_EQ(drive.position(), 0);
}

struct Homing_Error : Drive_Fixture {
    Homing_Error() : Drive_Fixture(with(false, true, false)) {}
};

TEST_F(Homing_Error, EndsInErrorAtStandstill)
{
    power_up();
    set_mode(6);
    cycle(0x1F);
    EXPECT_EQ(drive.status_word() & 0x3400, 0x2400);
}

struct Disagreeing_Display : Drive_Fixture {
    Disagreeing_Display() : Drive_Fixture(with(false, false, true)) {}
};

TEST_F(Disagreeing_Display, NeverShowsTheRequestedMode)
{
    power_up();
    for (int8_t mode : {1, 3, 6, 0}) {
        set_mode(mode);
        cycle(0x0F, 3);
        EXPECT_NE(drive.mode_display(), mode);
    }
}

}  // namespace
