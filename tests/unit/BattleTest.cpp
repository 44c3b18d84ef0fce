// Whole ticks: the order of drawing in the walk, when a battle ends, and what
// a new battle does to the tanks left from the old one.

#include <gtest/gtest.h>

#include "UnitSupport.h"

namespace kestrel {
namespace {

using test::GLYPH_CALLS;
using test::GlyphAt;
using test::GlyphOf;
using test::PlaceTank;
using test::Rig;

// A draw that gives target slot s.
float DrawFor(int s) { return (float(s) + 0.5f) / SLOT_COUNT; }

// Draws for a battle start of slots 0 and 1 that keeps the canvas.
void QueueTwoTankBattle(GameRandom& random) {
    random.Queue(0.1f);  // a
    random.Queue(0.1f);  // b: Int(0.01 * 50 + 1) = 1
    for (int i = 0; i < 10; ++i) random.Queue(0.5f);
    random.Queue(0.9f);  // no clear
}

// Each live tank is erased where it stood, driven and drawn again before the
// next slot moves; the player's tank once more in blue.
TEST(Walk, ErasesDrivesAndRedrawsEachLiveTankInTurn) {
    Rig rig;
    PlaceTank(rig.bf, 0, 100, 100, 2, 0.5f, 1.0f, 1.0f);
    PlaceTank(rig.bf, 1, 400, 200, 2, 2.0f, 0.0f, 1.0f);
    PlaceTank(rig.bf, 3, 250, 450, 1, 4.0f, 3.0f, 1.0f);
    rig.bf.tankTarget[0] = 1, rig.bf.tankTarget[1] = 3, rig.bf.tankTarget[3] = 0;
    const Battlefield before = rig.bf;
    rig.Tick();

    const struct {
        int slot;
        Colour colour;
        const Battlefield& state;
    } expected[] = {{0, WHITE, before}, {0, BLACK, rig.bf}, {0, PLAYER_BLUE, rig.bf},
                    {1, WHITE, before}, {1, BLACK, rig.bf},
                    {3, WHITE, before}, {3, BLACK, rig.bf}};
    ASSERT_EQ(rig.Calls().size(), std::size(expected) * GLYPH_CALLS);
    for (std::size_t k = 0; k < std::size(expected); ++k) {
        const auto& [s, colour, state] = expected[k];
        EXPECT_EQ(GlyphAt(rig.Calls(), k * GLYPH_CALLS), GlyphOf(state, s, colour))
            << "glyph " << k << " of slot " << s;
    }
    for (int s : {0, 1, 3}) EXPECT_NE(rig.bf.tankY[s], before.tankY[s]) << "slot " << s << " moved";
}

// Slot 0 at (x, 300) and, unless killed before the tick, slot 1 at (400, 300).
// The walk counts the tanks it meets alive; fewer than two with the last
// planned speed exactly 0 end the battle.
TEST(BattleEnd, RestartsOnceFewerThanTwoAreMetAndTheLastPlannedToStop) {
    const struct Case {
        const char* what;
        int shooter;  // whose shell lands on the other tank (at one hit point)
        float speed;  // of slot 0, which has no valid target
        double x;
        int restartTick;  // 0: none in two ticks
    } cases[] = {
        {"slot 0's shell kills slot 1 before the walk meets it", 0, 0, 300, 1},
        {"the same, but slot 0 still moves", 0, 0.5f, 300, 0},
        {"slot 1's shell kills slot 0 after it was counted", 1, 0, 300, 2},
        {"alone, planned to stop, then bounced off the left edge", -1, 0.01f, -1, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Rig rig;
        Battlefield& bf = rig.bf;
        PlaceTank(bf, 0, c.x, 300, 2, 0, 0, c.speed);  // every slot aims at slot 0
        if (c.shooter >= 0) {
            const int victim = 1 - c.shooter;
            PlaceTank(bf, 1, 400, 300);
            bf.tankHits[victim] = 1;
            bf.shellTimer[c.shooter] = 1;
            bf.shellX[c.shooter] = bf.tankX[victim];
            bf.shellY[c.shooter] = bf.tankY[victim];
        }
        rig.replay.Queue(DrawFor(0));  // slot 0 draws itself again
        for (int tick = 1; tick <= 2; ++tick) {
            rig.Tick();
            const bool restarted = c.restartTick != 0 && tick >= c.restartTick;
            EXPECT_EQ(rig.reseeds, restarted ? 1u : 0u) << "tick " << tick;
        }
    }
}

// A lone tank at rest ends the battle in that very tick, however many ticks
// it took to coast down to exactly 0.
TEST(BattleEnd, LoneTankCoastsDownToExactlyZeroAndRestartsThatTick) {
    Rig rig;
    PlaceTank(rig.bf, 0, 348, 274, 2, 1.0f, 0, 1.5f);
    int ticks = 0;
    for (float speed = 1.5f; rig.reseeds == 0 && ticks < 200; speed = rig.bf.tankSpeed[0]) {
        rig.Tick();
        ++ticks;
        if (rig.reseeds == 0) {
            ASSERT_NEAR(rig.bf.tankSpeed[0], speed - 0.02, 1e-5) << "tick " << ticks;
        }
    }
    EXPECT_EQ(rig.bf.lastLiveSpeed, 0.0f);
    EXPECT_NEAR(ticks, 75.5, 0.5);  // 1.5 in steps of 0.02
}

// The lone survivor of a battle: a new battle that spawns its slot erases it
// where it stood first; above the new battle's slots it keeps all it has.
TEST(BattleEnd, SurvivorIsRespawnedWithinTheNewBattleAndKeptAboveIt) {
    for (int s : {0, 1, 2, LAST_SLOT}) {
        SCOPED_TRACE(s);
        Rig rig;
        PlaceTank(rig.bf, s, 600, 500, 1, 0.7f, 0.2f);
        rig.bf.tankTarget.fill(Slot(s));
        rig.replay.Queue(DrawFor(s));  // draws itself again: at rest, so the battle ends
        QueueTwoTankBattle(rig.replay);
        const Battlefield before = rig.bf;
        rig.Tick();
        ASSERT_EQ(rig.reseeds, 1u);

        const std::size_t walk = (s == PLAYER_SLOT ? 3 : 2) * GLYPH_CALLS;
        if (s > 1) {
            EXPECT_EQ(rig.Calls().size(), walk);
            EXPECT_EQ(GlyphOf(rig.bf, s, BLACK), GlyphOf(before, s, BLACK));
            EXPECT_EQ(rig.bf.tankHits[s], 1);
            continue;
        }
        EXPECT_EQ(rig.bf.tankHits[s], 2);
        ASSERT_EQ(rig.Calls().size(), walk + GLYPH_CALLS);
        EXPECT_EQ(GlyphAt(rig.Calls(), walk), GlyphOf(before, s, WHITE));
    }
}

}  // namespace
}  // namespace kestrel
