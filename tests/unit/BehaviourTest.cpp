// Planning and driving over many ticks against a bearing that holds still:
// turning away, wobbling about the far side, and circling without end.

#include <gtest/gtest.h>

#include "UnitSupport.h"
#include "behaviour/DriveTank.h"
#include "behaviour/PlanTank.h"
#include "model/Numeric.h"

namespace kestrel {
namespace {

constexpr double STEP = 0.02;
constexpr double SINGLE_SLACK = 1e-5;  // the rounding of a few single stores

// Slot 0 is put back at (300, 100) before every step, 200 short of slot 1
// straight down the field, so the bearing stays 0 and the hull always turns
// away (the turret is never on aim).
struct HeldBearing : ::testing::Test {
    Battlefield bf;
    RecordingCanvas canvas{START_WIDTH, START_HEIGHT};
    GameRandom random;

    void SetUp() override {
        test::PlaceTank(bf, 1, 300, 300);
        bf.tankTarget[0] = 1;
    }
    // One plan and drive with the turret at `turret`; the change of heading.
    double Step(float turret) {
        const float heading = bf.tankHeading[0];
        test::PlaceTank(bf, 0, 300, 100, 2, heading, turret, bf.tankSpeed[0]);
        bf.currentTank = 0;
        PlanTank(bf, random);
        DriveTank(bf, canvas);
        return double(bf.tankHeading[0]) - heading;
    }
};

TEST_F(HeldBearing, HullTurnsAwayToTheFarSideAndWobblesThere) {
    bf.tankHeading[0] = 0.5f;
    int steps = 0;
    while (bf.tankHeading[0] < PI && steps < 1000) {
        ASSERT_NEAR(Step(1.0f), STEP, SINGLE_SLACK) << "step " << steps;
        ++steps;
    }
    EXPECT_NEAR(steps, (PI - 0.5) / STEP, 1.0);
    // There the hull error changes sign every step.
    double last = STEP;
    for (int i = 0; i < 300; ++i) {
        const double turn = Step(1.0f);
        ASSERT_NEAR(turn, -last, SINGLE_SLACK) << "step " << i;
        ASSERT_NEAR(bf.tankHeading[0], PI, 0.03);
        last = turn;
    }
}

// A heading (and a turret) more than 2 pi from the bearing is wrapped once
// only: the error never comes back within pi, so the hull turns on for ever.
TEST_F(HeldBearing, ErrorsBeyondThreePiAreWrappedOnceSoTheHullCirclesOn) {
    bf.tankHeading[0] = 7.0f;
    for (int i = 0; i < 1000; ++i) {
        const double heading = bf.tankHeading[0];
        ASSERT_NEAR(Step(bf.tankHeading[0]), STEP, SINGLE_SLACK) << "step " << i;
        ASSERT_EQ(bf.hullError, heading - TWO_PI);
        ASSERT_EQ(bf.turretError, heading - TWO_PI);
    }
    EXPECT_GT(bf.hullError, 3 * PI);
}

}  // namespace
}  // namespace kestrel
