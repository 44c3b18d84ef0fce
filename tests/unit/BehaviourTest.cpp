// Planning and driving over many ticks: coming to rest, turning away from a
// bearing that holds still, and a tank without a valid target.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "UnitSupport.h"
#include "behaviour/DriveTank.h"
#include "behaviour/PlanTank.h"
#include "core/FrameTick.h"
#include "core/Numeric.h"

namespace kestrel {
namespace {

using test::CountingRandom;
using test::PlaceTank;

constexpr double STEP = 0.02;
constexpr double SINGLE_SLACK = 1e-5;  // the rounding of a few single stores

TEST(LoneTank, ComesToRestAtExactlyZeroAndTheBattleRestartsThatTick) {
    Battlefield bf;
    RecordingCanvas canvas;
    ReplayRandom replay;
    CountingRandom random(replay);
    PlaceTank(bf, 0, 348, 274, 2, 1.0f, 0, 1.5f);

    float before = bf.tankSpeed[0];
    int ticks = 0;
    while (random.reseeds == 0 && ticks < 200) {
        FrameTick(bf, canvas, random);
        ++ticks;
        if (random.reseeds != 0) break;
        ASSERT_GT(bf.tankSpeed[0], 0.0f) << "at rest without a new battle, tick " << ticks;
        EXPECT_NEAR(bf.tankSpeed[0], before - STEP, SINGLE_SLACK);
        before = bf.tankSpeed[0];
    }
    EXPECT_EQ(random.reseeds, 1u);
    EXPECT_EQ(bf.liveCount, 1);
    EXPECT_EQ(bf.lastLiveSpeed, 0.0f);
    EXPECT_GE(ticks, 75);
    EXPECT_LE(ticks, 76);
}

TEST(Bounce, SpeedShedsBackToCruisingAfterAnEdge) {
    Battlefield bf;
    RecordingCanvas canvas;
    ReplayRandom random;
    // Slot 0 backs into the left edge with its turret on slot 1, far to its right.
    PlaceTank(bf, 0, 0.5, 200, 2, ToSingle(THREE_HALF_PI), ToSingle(HALF_PI), 1.0f);
    PlaceTank(bf, 1, 650, 200);
    bf.tankTarget[0] = 1;
    FrameTick(bf, canvas, random);
    ASSERT_EQ(bf.tankSpeed[0], 3.0f);
    ASSERT_EQ(bf.tankHeading[0], ToSingle(HALF_PI));

    for (int tick = 1; tick <= 80; ++tick) {
        const float before = bf.tankSpeed[0];
        FrameTick(bf, canvas, random);
        SCOPED_TRACE(tick);
        if (before > 2.0f) {
            EXPECT_NEAR(bf.tankSpeed[0], before - STEP, SINGLE_SLACK);
        } else {
            EXPECT_NEAR(bf.tankSpeed[0], 2.0, STEP);
        }
    }
}

// Slot 0 keeps its place and its turret 1 radian off the bearing at every
// step, so the bearing to slot 1 holds and the turret is never on aim.
struct HeldBearing : ::testing::Test {
    Battlefield bf;
    RecordingCanvas canvas;
    ReplayRandom random;

    void SetUp() override {
        PlaceTank(bf, 1, 300, 300);  // 200 straight down the field: bearing 0
        bf.tankTarget[0] = 1;
        bf.tankTarget[1] = 0;
    }
    void Step() {
        PlaceTank(bf, 0, 300, 100, 2, bf.tankHeading[0], 1.0f, bf.tankSpeed[0]);
        bf.currentTank = 0;
        PlanTank(bf, random);
        DriveTank(bf, canvas);
    }
};

TEST_F(HeldBearing, HullTurnsAwayThenWobblesAboutTheFarSide) {
    bf.tankHeading[0] = 0.5f;
    std::vector<double> headings{bf.tankHeading[0]};
    for (int i = 0; i < 400; ++i) {
        Step();
        headings.push_back(bf.tankHeading[0]);
    }
    // Straight away from the target, 0.02 a tick, up to the far side.
    std::size_t i = 1;
    for (; headings[i - 1] < PI; ++i)
        EXPECT_NEAR(headings[i] - headings[i - 1], STEP, SINGLE_SLACK);
    EXPECT_NEAR(double(i), (PI - 0.5) / STEP + 1, 1.0);
    // There the sign of the hull error flips every tick.
    for (; i < headings.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_NEAR(std::abs(headings[i] - headings[i - 1]), STEP, SINGLE_SLACK);
        if (i >= 2) {
            EXPECT_LT((headings[i] - headings[i - 1]) * (headings[i - 1] - headings[i - 2]), 0);
        }
        EXPECT_GT(headings[i], 3.13);
        EXPECT_LT(headings[i], 3.17);
    }
    EXPECT_EQ(random.QueuedCount(), 0u);
}

TEST_F(HeldBearing, HeadingBeyondTwoPiOfTheBearingCirclesWithoutEnd) {
    bf.tankHeading[0] = 7.0f;
    Step();
    EXPECT_DOUBLE_EQ(bf.hullError, 0.716814692820412);
    double lastHeading = bf.tankHeading[0];
    double lastError = bf.hullError;
    for (int i = 0; i < 1000; ++i) {
        Step();
        ASSERT_NEAR(bf.tankHeading[0] - lastHeading, STEP, SINGLE_SLACK) << "step " << i;
        ASSERT_NEAR(bf.hullError - lastError, STEP, SINGLE_SLACK) << "step " << i;
        lastHeading = bf.tankHeading[0];
        lastError = bf.hullError;
    }
}

struct NoValidTarget : ::testing::Test {
    Battlefield bf;
    RecordingCanvas canvas;
    ReplayRandom replay;
    CountingRandom random{replay};

    // The tank targets itself and draws dead slot 5.
    void PlanAndDrive() {
        bf.tankTarget[0] = 0;
        replay.Queue(5.5f / 51);
        bf.currentTank = 0;
        PlanTank(bf, random);
        ASSERT_EQ(bf.tankTarget[0], 5);
        DriveTank(bf, canvas);
        EXPECT_EQ(random.draws, 1u);
    }
};

TEST_F(NoValidTarget, KeepsItsAnglesAndMovesAtTheLoweredSpeed) {
    PlaceTank(bf, 0, 300, 200, 2, 1.0f, 2.5f, 2.0f);
    PlanAndDrive();
    EXPECT_EQ(bf.tankHeading[0], 1.0f);
    EXPECT_EQ(bf.turretAngle[0], 2.5f);
    EXPECT_NEAR(bf.tankSpeed[0], 1.98, SINGLE_SLACK);
    EXPECT_DOUBLE_EQ(bf.tankX[0], 300 + double(bf.tankSpeed[0]) * std::sin(1.0));
    EXPECT_DOUBLE_EQ(bf.tankY[0], 200 + double(bf.tankSpeed[0]) * std::cos(1.0));
}

TEST_F(NoValidTarget, StillBouncesOffAnEdge) {
    PlaceTank(bf, 0, 1, 200, 2, ToSingle(THREE_HALF_PI), 2.5f, 2.0f);
    PlanAndDrive();
    EXPECT_EQ(bf.tankX[0], 0);
    EXPECT_EQ(bf.tankHeading[0], ToSingle(HALF_PI));
    EXPECT_EQ(bf.tankSpeed[0], 3.0f);
    EXPECT_EQ(bf.turretAngle[0], 2.5f);
}

}  // namespace
}  // namespace kestrel
