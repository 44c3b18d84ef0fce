// Whole ticks: the first battle, the order of drawing in the walk, when a
// battle ends, and what a new battle leaves alone.

#include <gtest/gtest.h>

#include "UnitSupport.h"
#include "core/FrameTick.h"
#include "core/Numeric.h"
#include "input/Keyboard.h"
#include "input/Pointer.h"

namespace kestrel {
namespace {

using test::CountingRandom;
using test::GLYPH_CALLS;
using test::GlyphAt;
using test::PlaceTank;
using test::TurretCentreY;

constexpr float W = 696;
constexpr float H = 548;

// Draws for a battle start whose highest spawned slot is 1; the five draws
// of each spawned slot are 0.5 and the canvas is kept.
void QueueTwoTankBattle(ReplayRandom& random) {
    random.Queue(0.1f);  // a
    random.Queue(0.1f);  // b: Int(0.01 * 50 + 1) = 1
    for (int i = 0; i < 10; ++i) random.Queue(0.5f);
    random.Queue(0.9f);  // no clear
}

// A draw that gives target slot s.
float DrawFor(int s) { return (float(s) + 0.5f) / 51; }

struct BattleFixture : ::testing::Test {
    Battlefield bf;
    RecordingCanvas canvas{W, H};
    ReplayRandom replay;
    CountingRandom random{replay};

    void Tick() { FrameTick(bf, canvas, random); }
};

using FirstBattle = BattleFixture;

TEST_F(FirstBattle, FirstTickSpawnsWithoutDrawingAndSecondDrawsEachTankInTurn) {
    constexpr int PLAN_DRAWS = SLOT_COUNT;  // a zeroed slot targets slot 0, which is dead
    for (int i = 0; i < PLAN_DRAWS; ++i) replay.Queue(0.5f);
    replay.Queue(0.5f);  // a
    replay.Queue(0.1f);  // b: Int(0.05 * 50 + 1) = 3, so slots 0..3 spawn
    constexpr int LAST = 3;
    for (int s = 0; s <= LAST; ++s) {
        replay.Queue(0.125f * float(s + 1));  // x
        replay.Queue(0.25f + 0.125f * float(s));  // y
        replay.Queue(0.1f * float(s + 1));  // heading
        replay.Queue(0.2f * float(s + 1));  // turret
        replay.Queue(DrawFor((s + 1) % (LAST + 1)));  // target
    }
    replay.Queue(0.9f);  // keep the canvas

    Tick();
    EXPECT_TRUE(canvas.Calls().empty());
    EXPECT_EQ(random.reseeds, 1u);
    EXPECT_EQ(random.draws, PLAN_DRAWS + 2u + 5u * (LAST + 1) + 1u);
    EXPECT_EQ(replay.QueuedCount(), 0u);
    PerSlot<double> spawnX{}, spawnY{};
    for (int s = 0; s < SLOT_COUNT; ++s) {
        SCOPED_TRACE(s);
        if (s > LAST) {
            EXPECT_EQ(bf.tankHits[s], 0);
            continue;
        }
        EXPECT_EQ(bf.tankHits[s], 2);
        EXPECT_EQ(bf.tankSpeed[s], 0.0f);
        EXPECT_EQ(bf.tankX[s], double(0.125f * float(s + 1)) * W);
        EXPECT_EQ(bf.tankTarget[s], (s + 1) % (LAST + 1));
        spawnX[s] = bf.tankX[s];
        spawnY[s] = bf.tankY[s];
    }

    canvas.ClearCalls();
    Tick();
    EXPECT_EQ(random.reseeds, 1u);
    const auto& calls = canvas.Calls();
    ASSERT_EQ(calls.size(), GLYPH_CALLS * (2 * (LAST + 1) + 1));
    std::size_t at = 0;
    for (int s = 0; s <= LAST; ++s) {
        SCOPED_TRACE(s);
        const auto erased = GlyphAt(calls, at);
        const auto drawn = GlyphAt(calls, at + GLYPH_CALLS);
        at += 2 * GLYPH_CALLS;
        ASSERT_TRUE(erased.whole && drawn.whole);
        EXPECT_EQ(erased.colour, WHITE);
        EXPECT_EQ(erased.cx, float(spawnX[s]));
        EXPECT_EQ(erased.cy, TurretCentreY(spawnY[s], H));
        EXPECT_EQ(drawn.colour, BLACK);
        EXPECT_EQ(drawn.cx, float(bf.tankX[s]));
        EXPECT_EQ(drawn.cy, TurretCentreY(bf.tankY[s], H));
        if (s == PLAYER_SLOT) {
            const auto blue = GlyphAt(calls, at);
            at += GLYPH_CALLS;
            EXPECT_TRUE(blue.whole);
            EXPECT_EQ(blue.colour, PLAYER_BLUE);
            EXPECT_EQ(blue.cx, drawn.cx);
        }
    }
}

// Slot 0 at rest with no valid target (it draws itself) and slot 1 some way
// off; every dead slot aims at slot 0 and lies out of range of it.
struct TwoTanks : BattleFixture {
    void SetUp() override {
        PlaceTank(bf, 0, 300, 300, 2);
        PlaceTank(bf, 1, 400, 300, 2);
        bf.tankTarget.fill(0);
    }
    void LandShell(int shooter, int victim) {
        bf.shellTimer[shooter] = 1;
        bf.shellX[shooter] = bf.tankX[victim];
        bf.shellY[shooter] = bf.tankY[victim];
        bf.tankHits[victim] = 1;
    }
};

TEST_F(TwoTanks, LowerShellKillingHigherTankBeforeItIsCountedEndsTheBattleAtOnce) {
    LandShell(0, 1);
    replay.Queue(DrawFor(0));  // slot 0 draws itself: still no valid target, speed stays 0
    Tick();
    EXPECT_EQ(bf.liveCount, 1);
    EXPECT_EQ(random.reseeds, 1u);
    EXPECT_EQ(bf.tankHits[1], 2);  // respawned in the same tick
}

TEST_F(TwoTanks, LoneSurvivorStillMovingKeepsTheBattleGoing) {
    LandShell(0, 1);
    bf.tankSpeed[0] = 0.5f;
    replay.Queue(DrawFor(0));
    Tick();
    EXPECT_EQ(bf.liveCount, 1);
    EXPECT_EQ(random.reseeds, 0u);
    EXPECT_EQ(bf.tankHits[1], 0);
}

TEST_F(TwoTanks, HigherShellKillingCountedLowerTankEndsTheBattleOneTickLater) {
    LandShell(1, 0);
    bf.tankTarget[1] = 1;
    replay.Queue(DrawFor(0));  // slot 0 draws itself
    replay.Queue(DrawFor(1));  // slot 1 draws itself
    Tick();
    EXPECT_EQ(bf.tankHits[0], 0);
    EXPECT_EQ(bf.liveCount, 2);
    EXPECT_EQ(random.reseeds, 0u);

    Tick();  // slot 1 is alone, so no target it draws is valid, and it stays at rest
    EXPECT_EQ(bf.liveCount, 1);
    EXPECT_EQ(random.reseeds, 1u);
}

TEST_F(BattleFixture, SpeedIsNotedAfterPlanningAndBeforeDriving) {
    // Planning brings the lone tank to rest; driving then bounces it off the
    // left edge at speed 3. Neither the speed before planning nor the one
    // after driving counts.
    PlaceTank(bf, 0, -1, 300, 2, 0, 0, 0.01f);
    Tick();
    EXPECT_EQ(bf.liveCount, 1);
    EXPECT_EQ(bf.lastLiveSpeed, 0.0f);
    EXPECT_EQ(random.reseeds, 1u);
}

// A lone resting survivor in slot s when a battle of slots 0..1 begins.
class Survivor : public BattleFixture, public ::testing::WithParamInterface<int> {
protected:
    void SetUp() override {
        survivor = GetParam();
        PlaceTank(bf, survivor, 600, 500, 1, 0.7f, 0.2f);
        bf.tankTarget.fill(Slot(survivor));
        replay.Queue(DrawFor(survivor));  // draws itself again
        QueueTwoTankBattle(replay);
        Tick();
        ASSERT_EQ(random.reseeds, 1u);
    }
    int survivor = 0;
};

// A survivor above the new battle's slots keeps its state and its image; one
// within them is erased where it stands and respawned.
TEST_P(Survivor, IsKeptAboveTheNewBattleAndRespawnedWithinIt) {
    const auto& calls = canvas.Calls();
    const std::size_t tickCalls = (survivor == PLAYER_SLOT ? 3 : 2) * GLYPH_CALLS;
    if (survivor > 1) {
        EXPECT_EQ(bf.tankHits[survivor], 1);
        EXPECT_EQ(bf.tankX[survivor], 600);
        EXPECT_EQ(bf.tankY[survivor], 500);
        EXPECT_EQ(bf.tankHeading[survivor], 0.7f);
        EXPECT_EQ(calls.size(), tickCalls);
        return;
    }
    EXPECT_EQ(bf.tankHits[survivor], 2);
    EXPECT_EQ(bf.tankSpeed[survivor], 0.0f);
    ASSERT_EQ(calls.size(), tickCalls + GLYPH_CALLS);
    const auto erased = GlyphAt(calls, tickCalls);
    EXPECT_TRUE(erased.whole);
    EXPECT_EQ(erased.colour, WHITE);
    EXPECT_EQ(erased.cx, 600.0f);
    EXPECT_EQ(erased.cy, TurretCentreY(500, H));
}

INSTANTIATE_TEST_SUITE_P(Slots, Survivor, ::testing::Values(0, 1, 2, 50));

TEST_F(BattleFixture, DragCarriesOnThroughAKeyWipeAndANewBattle) {
    PlaceTank(bf, 0, 100, 100);
    PlaceTank(bf, 2, 200, 200);
    const float screenY = float(0.25 * H + 0.5 * 200);
    PointerDown(bf, canvas, LEFT_BUTTON, 0, 200, screenY);
    ASSERT_TRUE(bf.dragging);
    ASSERT_EQ(KeyPressed(bf, canvas, 'k'), KeyAction::Continue);
    Tick();
    ASSERT_EQ(random.reseeds, 1u);
    EXPECT_TRUE(bf.dragging);
    EXPECT_EQ(bf.dragSlot, 2);

    canvas.ClearCalls();
    PointerMove(bf, canvas, LEFT_BUTTON, 0, 50, screenY);
    EXPECT_EQ(bf.tankX[2], 50);
    EXPECT_EQ(bf.tankY[2], 200);
    EXPECT_EQ(GlyphAt(canvas.Calls(), GLYPH_CALLS).colour, DRAGGED_TANK_COLOUR);
}

TEST_F(BattleFixture, StartBattleLeavesShellsWorkingValuesPointerAndHigherSlotsAlone) {
    for (int s = 0; s < SLOT_COUNT; ++s) {
        const float f = float(s);
        PlaceTank(bf, s, 3.5 * s, 7.25 * s, s % 3, 0.1f * f, 0.2f * f, 0.01f * f);
        bf.tankTarget[s] = Slot(LAST_SLOT - s);
        bf.shellX[s] = 2.5 * s;
        bf.shellY[s] = -1.5 * s;
        bf.shellHeading[s] = 0.3f * float(s);
        bf.shellTimer[s] = std::int16_t(s % 25);
    }
    bf.currentTank = 17;
    bf.liveCount = 5;
    bf.lastLiveSpeed = 1.5f;
    bf.aimAngle = 1.25;
    bf.targetRange = 77;
    bf.turretError = -0.5;
    bf.hullError = 2.5;
    bf.dragging = true;
    bf.dragSlot = 9;
    bf.pointerDepth = -123;
    const Battlefield before = bf;

    QueueTwoTankBattle(replay);
    StartBattle(bf, canvas, random);

    Battlefield expected = before;
    for (int s = 0; s <= 1; ++s) {
        expected.tankX[s] = bf.tankX[s];
        expected.tankY[s] = bf.tankY[s];
        expected.tankHeading[s] = bf.tankHeading[s];
        expected.turretAngle[s] = bf.turretAngle[s];
        expected.tankHits[s] = 2;
        expected.tankSpeed[s] = 0;
        expected.tankTarget[s] = bf.tankTarget[s];
    }
    EXPECT_TRUE(test::Fields(bf) == test::Fields(expected));
}

TEST(StartBattle, SpawnsInsideTheCanvasAndDrawsTwoPlusFivePerSlotPlusOne) {
    for (std::uint64_t seed = 0; seed < 300; ++seed) {
        SCOPED_TRACE(seed);
        const float w = float(1 + seed * 37 % 3000);
        const float h = float(1 + seed * 53 % 2000);
        Battlefield bf;
        RecordingCanvas canvas(w, h);
        ReplayRandom replay(seed);
        CountingRandom random(replay);
        StartBattle(bf, canvas, random);

        int last = 0;
        while (last + 1 < SLOT_COUNT && bf.tankHits[last + 1] == 2) ++last;
        ASSERT_GE(last, 1);
        EXPECT_EQ(random.draws, 2u + 5u * (last + 1) + 1u);
        for (int s = 0; s < SLOT_COUNT; ++s) {
            if (s > last) {
                EXPECT_EQ(bf.tankHits[s], 0);
                continue;
            }
            EXPECT_GE(bf.tankX[s], 0);
            EXPECT_LT(bf.tankX[s], w);
            EXPECT_GE(bf.tankY[s], 0);
            EXPECT_LT(bf.tankY[s], h);
            EXPECT_GE(bf.tankHeading[s], 0);
            EXPECT_LT(bf.tankHeading[s], TWO_PI);
            EXPECT_GE(bf.turretAngle[s], 0);
            EXPECT_LT(bf.turretAngle[s], TWO_PI);
            EXPECT_GE(bf.tankTarget[s], 0);
            EXPECT_LE(bf.tankTarget[s], LAST_SLOT);
        }
        // Nothing is drawn; at most one clear.
        EXPECT_LE(canvas.Calls().size(), 1u);
    }
}

}  // namespace
}  // namespace kestrel
