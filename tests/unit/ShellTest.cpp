// A shell's life in the battle, and what one burst does to the tanks around it.

#include <gtest/gtest.h>

#include "UnitSupport.h"
#include "gunnery/UpdateShell.h"

namespace kestrel {
namespace {

using test::GLYPH_CALLS;
using test::GlyphAt;
using test::GlyphOf;
using test::PlaceTank;
using test::Rig;

constexpr std::size_t BURST_RAYS = 11;
constexpr std::size_t HIT_CALLS = 2 * GLYPH_CALLS + 21;  // erase, grey glyph, damage rays
constexpr std::size_t BURST_DRAWS = BURST_RAYS * 4;
constexpr std::size_t HIT_DRAWS = 2 + 21 * 3;

// Slot 0 at (100, 100) has its turret on slot 1, 150 straight down the field,
// and fires in the first tick; slot 1's turret is far off slot 0.
TEST(ShellLife, BurstsOnTheTargetAsManyTicksAfterFiringAsItsTimerThenFiresAgain) {
    Rig rig;
    Battlefield& bf = rig.bf;
    PlaceTank(bf, 0, 100, 100);
    PlaceTank(bf, 1, 100, 250);
    bf.tankTarget[0] = 1;
    rig.replay.Queue(0.5f);  // flight timer Int(0.5 * 15) + 10 = 17
    rig.Tick();
    ASSERT_EQ(bf.shellTimer[0], 17);
    const double firedY = bf.shellY[0];

    for (int tick = 1; tick < 17; ++tick) {
        rig.Tick();
        ASSERT_EQ(bf.shellTimer[0], 17 - tick);
    }
    EXPECT_EQ(bf.shellX[0], 100);
    EXPECT_DOUBLE_EQ(bf.shellY[0], firedY + 152);  // 17 + 16 + ... + 2 down the turret line
    rig.Tick();
    EXPECT_EQ(bf.shellTimer[0], 0) << "the burst step does not fire too";
    EXPECT_EQ(bf.tankHits[1], 1);
    rig.Tick();
    EXPECT_GE(bf.shellTimer[0], 10);
}

TEST(ShellBurst, HitsEveryLiveTankInsideTheOpenSquareOnceInSlotOrder) {
    Rig rig;
    Battlefield& bf = rig.bf;
    // Shooter 2's own tank stands in the zone; slot 5 is a dead wreck in it,
    // slots 8 and 10 lie exactly 20 off, and slot 11 well outside.
    PlaceTank(bf, 2, 300, 310, 2, 0.5f, 0.5f, 1.5f);
    PlaceTank(bf, 3, 290, 295, 2, 1.0f, 1.0f, 1.0f);
    PlaceTank(bf, 5, 300, 300, 0, 2.0f, 2.0f);
    PlaceTank(bf, 7, 315, 285, 2, 3.0f, 3.0f, 2.0f);
    PlaceTank(bf, 8, 320, 300, 2, 4.0f, 4.0f, 1.0f);
    PlaceTank(bf, 9, 305, 319.9, 1, 5.0f, 5.0f, 1.0f);
    PlaceTank(bf, 10, 300, 280, 2, 6.0f, 6.0f, 1.0f);
    PlaceTank(bf, 11, 330, 300, 2);
    bf.shellTimer[2] = 1;
    bf.shellX[2] = 300;
    bf.shellY[2] = 300;
    const Battlefield before = bf;
    bf.currentTank = 2;
    UpdateShell(bf, rig.seats, rig.canvas, rig);

    const int hit[] = {2, 3, 7, 9};
    ASSERT_EQ(rig.Calls().size(), BURST_RAYS + std::size(hit) * HIT_CALLS);
    EXPECT_EQ(rig.draws, BURST_DRAWS + std::size(hit) * HIT_DRAWS);
    for (std::size_t k = 0; k < std::size(hit); ++k) {
        const int s = hit[k];
        SCOPED_TRACE(s);
        const std::size_t at = BURST_RAYS + k * HIT_CALLS;
        EXPECT_EQ(GlyphAt(rig.Calls(), at), GlyphOf(before, s, WHITE));
        EXPECT_EQ(GlyphAt(rig.Calls(), at + GLYPH_CALLS), GlyphOf(bf, s, HIT_TANK_COLOUR));
        EXPECT_EQ(bf.tankHits[s], before.tankHits[s] - 1);
        EXPECT_EQ(bf.tankSpeed[s], 0.0f);
    }
    for (int s : {5, 8, 10, 11}) {
        EXPECT_EQ(bf.tankHits[s], before.tankHits[s]) << "slot " << s;
        EXPECT_EQ(bf.tankHeading[s], before.tankHeading[s]) << "slot " << s;
    }
}

}  // namespace
}  // namespace kestrel
