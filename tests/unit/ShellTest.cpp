// A shell's whole life, and what one burst does to the tanks around it.

#include <gtest/gtest.h>

#include <optional>
#include <vector>

#include "UnitSupport.h"
#include "behaviour/PlanTank.h"
#include "core/FrameTick.h"
#include "gunnery/UpdateShell.h"

namespace kestrel {
namespace {

using test::CountingRandom;
using test::GLYPH_CALLS;
using test::GlyphAt;
using test::PlaceTank;
using test::TurretCentreY;
using Kind = CanvasCall::Kind;

constexpr float H = 548;
constexpr std::size_t BURST_RAYS = 11;
constexpr std::size_t DAMAGE_RAYS = 21;
constexpr std::size_t BURST_DRAWS = BURST_RAYS * 4;
constexpr std::size_t HIT_DRAWS = 2 + DAMAGE_RAYS * 3;
constexpr std::size_t HIT_CALLS = 2 * GLYPH_CALLS + DAMAGE_RAYS;
constexpr float TIMER_17 = 0.5f;  // Int(0.5 * 15) + 10

struct ShellFixture : ::testing::Test {
    Battlefield bf;
    RecordingCanvas canvas{696, H};
    ReplayRandom replay;
    CountingRandom random{replay};

    void Shell(int s) {
        bf.currentTank = Slot(s);
        UpdateShell(bf, canvas, random);
    }
    void PlanAndShell(int s) {
        bf.currentTank = Slot(s);
        PlanTank(bf, random);
        UpdateShell(bf, canvas, random);
    }
    // Slot 0 at (100, 100) aims straight down the field at slot 1, 150 away.
    void SetUpDuel() {
        PlaceTank(bf, 0, 100, 100);
        PlaceTank(bf, 1, 100, 250);
        bf.tankTarget[0] = 1;
        bf.tankTarget[1] = 0;
    }
};

TEST_F(ShellFixture, FliesFromFireToBurstAlongTheTurretLineAndFiresAgainOnlyAfter) {
    SetUpDuel();
    replay.Queue(TIMER_17);
    PlanAndShell(0);
    ASSERT_EQ(bf.shellTimer[0], 17);
    EXPECT_EQ(bf.shellX[0], 100);
    EXPECT_EQ(bf.shellY[0], 100);
    EXPECT_TRUE(canvas.Calls().empty());

    // Sixteen steps of 17, 16, ..., 2 units; each overdraws the last dot in
    // the trail colour and draws the new one lower above the ground point.
    std::optional<CanvasCall> lastDot;
    double lastDrop = -1e9;
    for (int timer = 17; timer >= 2; --timer) {
        SCOPED_TRACE(timer);
        canvas.ClearCalls();
        Shell(0);
        const auto& calls = canvas.Calls();
        ASSERT_EQ(calls.size(), 2u);
        EXPECT_EQ(calls[0].colour, TRAIL_COLOUR);
        EXPECT_EQ(calls[1].colour, SHELL_COLOUR);
        if (lastDot) {
            EXPECT_EQ(calls[0].v[0], lastDot->v[0]);
            EXPECT_EQ(calls[0].v[1], lastDot->v[1]);
        }
        const double drop = calls[1].v[1] - TurretCentreY(bf.shellY[0], H);
        EXPECT_GT(drop, lastDrop);
        lastDrop = drop;
        lastDot = calls[1];
        EXPECT_EQ(bf.shellTimer[0], timer - 1);
    }
    EXPECT_NEAR(lastDrop, 8, 1e-4);  // 2 above the burst level at drop 10
    EXPECT_EQ(bf.shellX[0], 100);
    EXPECT_EQ(bf.shellY[0], 100 + 152);

    canvas.ClearCalls();
    const auto drawsBefore = random.draws;
    PlanAndShell(0);  // bursts 2 units past slot 1: a hit; no shot in the same call
    EXPECT_EQ(bf.shellTimer[0], 0);
    EXPECT_EQ(bf.tankHits[1], 1);
    EXPECT_EQ(canvas.Calls().size(), BURST_RAYS + HIT_CALLS);
    EXPECT_EQ(random.draws - drawsBefore, BURST_DRAWS + HIT_DRAWS);

    replay.Queue(TIMER_17);
    PlanAndShell(0);
    EXPECT_EQ(bf.shellTimer[0], 17);
}

TEST_F(ShellFixture, InTheBattleAShellBurstsAsManyTicksAfterFiringAsItsTimer) {
    SetUpDuel();
    bf.tankHits[1] = 1;  // the first hit ends the battle
    bf.tankSpeed[0] = 1.5f;
    replay.Queue(TIMER_17);
    FrameTick(bf, canvas, random);
    ASSERT_EQ(bf.shellTimer[0], 17);
    const double firedY = bf.shellY[0];
    int ticks = 0;
    while (bf.shellTimer[0] != 0 && ticks < 100) {
        FrameTick(bf, canvas, random);
        ++ticks;
        if (bf.shellTimer[0] == 1) {
            EXPECT_DOUBLE_EQ(bf.shellY[0], firedY + 152);
        }
    }
    EXPECT_EQ(ticks, 17);
}

TEST_F(ShellFixture, BurstHitsEachLiveTankInTheZoneOnceInSlotOrder) {
    // Shooter slot 2's own tank sits in the zone too; slot 5 is a dead wreck
    // in it and slot 8 lies outside it.
    PlaceTank(bf, 2, 300, 310, 2, 0.5f, 0.5f, 1.5f);
    PlaceTank(bf, 3, 290, 295, 2, 1.0f, 1.0f, 1.0f);
    PlaceTank(bf, 5, 300, 300, 0, 2.0f, 2.0f);
    PlaceTank(bf, 7, 315, 285, 2, 3.0f, 3.0f, 2.0f);
    PlaceTank(bf, 8, 330, 300, 2, 4.0f, 4.0f, 1.0f);
    PlaceTank(bf, 9, 305, 305, 1, 5.0f, 5.0f, 1.0f);
    bf.shellTimer[2] = 1;
    bf.shellX[2] = 300;
    bf.shellY[2] = 300;
    const Battlefield before = bf;
    Shell(2);

    const std::vector<int> hit{2, 3, 7, 9};
    const auto& calls = canvas.Calls();
    ASSERT_EQ(calls.size(), BURST_RAYS + hit.size() * HIT_CALLS);
    EXPECT_EQ(random.draws, BURST_DRAWS + hit.size() * HIT_DRAWS);
    const float burstY = TurretCentreY(300, H) + 10;
    for (std::size_t k = 0; k < hit.size(); ++k) {
        const int s = hit[k];
        SCOPED_TRACE(s);
        const std::size_t at = BURST_RAYS + k * HIT_CALLS;
        const auto erased = GlyphAt(calls, at);
        const auto grey = GlyphAt(calls, at + GLYPH_CALLS);
        EXPECT_EQ(erased.colour, WHITE);
        EXPECT_EQ(erased.cx, float(before.tankX[s]));
        EXPECT_EQ(erased.cy, TurretCentreY(before.tankY[s], H));
        EXPECT_EQ(grey.colour, HIT_TANK_COLOUR);
        EXPECT_EQ(grey.cx, erased.cx);
        for (std::size_t r = at + 2 * GLYPH_CALLS; r < at + HIT_CALLS; ++r) {
            EXPECT_EQ(calls[r].kind, Kind::Line);
            EXPECT_EQ(calls[r].v[0], 300.0f);  // from the burst point, not the tank
            EXPECT_EQ(calls[r].v[1], burstY);
        }
        EXPECT_EQ(bf.tankHits[s], before.tankHits[s] - 1);
        EXPECT_EQ(bf.tankSpeed[s], 0.0f);
    }
    for (int s : {5, 8}) {
        EXPECT_EQ(bf.tankHits[s], before.tankHits[s]);
        EXPECT_EQ(bf.tankHeading[s], before.tankHeading[s]);
        EXPECT_EQ(bf.tankSpeed[s], before.tankSpeed[s]);
    }
}

TEST_F(ShellFixture, SecondBurstOnADeadTankLeavesItAtZero) {
    PlaceTank(bf, 6, 200, 200, 1);
    for (int shooter : {3, 4}) {
        bf.shellTimer[shooter] = 1;
        bf.shellX[shooter] = 200;
        bf.shellY[shooter] = 200;
    }
    Shell(3);
    EXPECT_EQ(bf.tankHits[6], 0);
    canvas.ClearCalls();
    const float heading = bf.tankHeading[6];
    Shell(4);
    EXPECT_EQ(bf.tankHits[6], 0);
    EXPECT_EQ(bf.tankHeading[6], heading);
    EXPECT_EQ(canvas.Calls().size(), BURST_RAYS);
}

}  // namespace
}  // namespace kestrel
