// The mouse and the keyboard between ticks.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>

#include "UnitSupport.h"
#include "input/Keyboard.h"
#include "input/Pointer.h"

namespace kestrel {
namespace {

using test::GLYPH_CALLS;
using test::GlyphAt;
using test::GlyphOf;
using test::PlaceTank;
using test::Rig;

constexpr std::int16_t MIDDLE_BUTTON = 4;

// The canvas y at which a ground depth shows on the 548-high canvas.
float ScreenY(double depth) { return float(0.5 * depth + 548 / 4.0); }

// A move in the middle of a drag: the tank is erased where it was last (after
// a tick, where the tick drove it) and drawn grey under the pointer with its
// angles and speed; nothing else changes.
void ExpectDraggedTo(Rig& rig, double depth) {
    Battlefield& bf = rig.bf;
    const Battlefield was = bf;
    rig.canvas.ClearCalls();
    PointerMove(bf, rig.canvas, LEFT_BUTTON, 0, 250, ScreenY(depth));
    Battlefield expected = was;
    expected.tankX[4] = 250;
    expected.tankY[4] = depth;
    expected.pointerDepth = std::int16_t(depth);
    EXPECT_TRUE(bf == expected);
    ASSERT_EQ(rig.Calls().size(), 2 * GLYPH_CALLS);
    EXPECT_EQ(GlyphAt(rig.Calls(), 0), GlyphOf(was, 4, WHITE));
    EXPECT_EQ(GlyphAt(rig.Calls(), GLYPH_CALLS), GlyphOf(bf, 4, DRAGGED_TANK_COLOUR));
}

// A press picks the highest live tank under the pointer; every move drags it
// (ExpectDraggedTo). A release of any button ends the drag; left orders the
// player's tank, right every slot, others nobody.
TEST(Drag, FollowsThePointerThroughTicksUntilAnyRelease) {
    for (std::int16_t release : {LEFT_BUTTON, RIGHT_BUTTON, MIDDLE_BUTTON}) {
        SCOPED_TRACE(release);
        Rig rig;
        Battlefield& bf = rig.bf;
        PlaceTank(bf, 0, 500, 100);
        PlaceTank(bf, 2, 201, 301);
        PlaceTank(bf, 4, 200, 300, 2, 0.3f, 1.2f, 1.5f);
        PointerDown(bf, rig.canvas, LEFT_BUTTON, 0, 205, ScreenY(300));
        ASSERT_TRUE(bf.dragging);
        EXPECT_EQ(bf.dragSlot, 4);
        EXPECT_TRUE(rig.Calls().empty());

        // Move, tick, move: each move erases the tank where it was last.
        for (const double depth : {326, 346}) {
            ExpectDraggedTo(rig, depth);
            rig.Tick();
            ASSERT_NE(bf.tankX[4], 250) << "the tick drove it on";
        }

        auto orders = bf.tankTarget;
        if (release == LEFT_BUTTON) orders[PLAYER_SLOT] = 4;
        if (release == RIGHT_BUTTON) orders.fill(4);
        PointerUp(bf, rig.canvas, release, 0, 250, ScreenY(346));
        EXPECT_FALSE(bf.dragging);
        EXPECT_EQ(bf.tankTarget, orders);
        rig.canvas.ClearCalls();
        const double x = bf.tankX[4];
        PointerMove(bf, rig.canvas, LEFT_BUTTON, 0, 400, ScreenY(100));
        EXPECT_TRUE(rig.Calls().empty());
        EXPECT_EQ(bf.tankX[4], x);
    }
}

// Esc asks to quit and touches nothing, in the middle of a drag too; any
// other code clears the canvas and zeroes every hit point, and nothing else.
TEST(Keys, EscQuitsAndEveryOtherCodeWipesTheField) {
    Rig rig;
    PlaceTank(rig.bf, 0, 100, 100);
    PlaceTank(rig.bf, 1, 300, 200, 1);
    rig.bf.shellTimer[1] = 5;
    PointerDown(rig.bf, rig.canvas, LEFT_BUTTON, 0, 100, ScreenY(100));
    const Battlefield before = rig.bf;
    for (int code : {int(ESC_CODE), 0, 13, 26, 28, 32, int('q'), 0xFFFF}) {
        SCOPED_TRACE(code);
        const bool esc = code == ESC_CODE;
        rig.bf = before;
        rig.canvas.ClearCalls();
        EXPECT_EQ(KeyPressed(rig.bf, rig.canvas, std::uint16_t(code)),
                  esc ? KeyAction::Quit : KeyAction::Continue);
        Battlefield expected = before;
        if (!esc) expected.tankHits.fill(0);
        EXPECT_TRUE(rig.bf == expected);
        const CanvasCall clear{CanvasCall::Kind::Clear, {}, WHITE};
        EXPECT_EQ(rig.Calls(), esc ? std::vector<CanvasCall>{} : std::vector{clear});
    }
}

// The pointer's depth is 2 y - 274 rounded half to even, and sticks at the
// ends of its 16-bit range instead of wrapping round; a move changes nothing else.
TEST(PointerDepth, SticksAtTheEndsOfItsRange) {
    constexpr float inf = std::numeric_limits<float>::infinity();
    constexpr std::int16_t top = std::numeric_limits<std::int16_t>::max();
    constexpr std::int16_t bottom = std::numeric_limits<std::int16_t>::min();
    const struct {
        float y;
        std::int16_t depth;
    } cases[] = {
        {16520.75f, top},      // 32767.5 rounds to the even 32768, one past the end
        {16521.0f, top},       // would wrap to -32768
        {inf, top},
        {-16247.25f, bottom},  // -32768.5 rounds to the even -32768
        {-16247.5f, bottom},   // -32769
        {-inf, bottom},
        {std::nanf(""), 0},
    };
    Rig rig;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.y);
        Battlefield expected = rig.bf;
        expected.pointerDepth = c.depth;
        PointerMove(rig.bf, rig.canvas, 0, 0, 100, c.y);
        EXPECT_TRUE(rig.bf == expected) << "depth " << rig.bf.pointerDepth;
    }
}

}  // namespace
}  // namespace kestrel
