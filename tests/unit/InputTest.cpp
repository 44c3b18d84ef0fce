// The mouse and the keyboard between ticks.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>

#include "UnitSupport.h"
#include "core/FrameTick.h"
#include "input/Keyboard.h"
#include "input/Pointer.h"

namespace kestrel {
namespace {

using test::Fields;
using test::GLYPH_CALLS;
using test::GlyphAt;
using test::PlaceTank;
using test::TurretCentreY;

constexpr float H = 548;
constexpr std::int16_t NO_BUTTON = 0;
constexpr std::int16_t MIDDLE_BUTTON = 4;

// The canvas y whose ground depth is `depth`.
float ScreenY(double depth) { return TurretCentreY(depth, H); }

struct InputFixture : ::testing::Test {
    Battlefield bf;
    RecordingCanvas canvas{696, H};
    ReplayRandom random;
};

TEST_F(InputFixture, DragFollowsThePointerAndAnyReleaseEndsIt) {
    PlaceTank(bf, 0, 500, 100);
    PlaceTank(bf, 2, 201, 301);
    PlaceTank(bf, 4, 200, 300, 2, 0.3f, 1.2f, 1.5f);

    PointerDown(bf, canvas, LEFT_BUTTON, 0, 205, ScreenY(300));
    ASSERT_TRUE(bf.dragging);
    EXPECT_EQ(bf.dragSlot, 4);  // the higher of the two under the pointer
    EXPECT_TRUE(canvas.Calls().empty());

    PointerMove(bf, canvas, LEFT_BUTTON, 0, 250, ScreenY(326));
    EXPECT_EQ(bf.tankX[4], 250);
    EXPECT_EQ(bf.tankY[4], 326);
    EXPECT_EQ(bf.tankHeading[4], 0.3f);
    EXPECT_EQ(bf.turretAngle[4], 1.2f);
    EXPECT_EQ(bf.tankSpeed[4], 1.5f);
    EXPECT_EQ(bf.tankX[2], 201);
    ASSERT_EQ(canvas.Calls().size(), 2 * GLYPH_CALLS);
    const auto erased = GlyphAt(canvas.Calls(), 0);
    const auto grey = GlyphAt(canvas.Calls(), GLYPH_CALLS);
    EXPECT_EQ(erased.colour, WHITE);
    EXPECT_EQ(erased.cx, 200.0f);
    EXPECT_EQ(erased.cy, ScreenY(300));
    EXPECT_EQ(grey.colour, DRAGGED_TANK_COLOUR);
    EXPECT_EQ(grey.cx, 250.0f);

    // The tick drives the dragged tank on; the next move erases it there.
    FrameTick(bf, canvas, random);
    const double drivenX = bf.tankX[4];
    EXPECT_NE(drivenX, 250);
    canvas.ClearCalls();
    PointerMove(bf, canvas, LEFT_BUTTON, 0, 260, ScreenY(346));
    EXPECT_EQ(GlyphAt(canvas.Calls(), 0).cx, float(drivenX));

    // A right release ends the drag and sends every slot after the tank.
    PointerUp(bf, canvas, RIGHT_BUTTON, 0, 260, ScreenY(346));
    EXPECT_FALSE(bf.dragging);
    EXPECT_EQ(bf.dragSlot, 4);
    for (int s = 0; s < SLOT_COUNT; ++s) EXPECT_EQ(bf.tankTarget[s], 4);

    canvas.ClearCalls();
    PointerMove(bf, canvas, LEFT_BUTTON, 0, 400, ScreenY(100));
    EXPECT_TRUE(canvas.Calls().empty());
    EXPECT_EQ(bf.tankX[4], 260);
}

TEST_F(InputFixture, LeftReleaseOrdersOnlyThePlayerAndOtherButtonsOnlyMoveTheDepth) {
    PlaceTank(bf, 3, 100, 100);
    bf.tankTarget.fill(7);
    const float y = ScreenY(100);

    Battlefield expected = bf;
    expected.pointerDepth = 100;
    for (std::int16_t button : {RIGHT_BUTTON, MIDDLE_BUTTON}) {
        PointerDown(bf, canvas, button, 0, 100, y);
        EXPECT_TRUE(Fields(bf) == Fields(expected)) << "press of button " << button;
    }
    PointerUp(bf, canvas, MIDDLE_BUTTON, 0, 100, y);
    EXPECT_TRUE(Fields(bf) == Fields(expected));

    PointerUp(bf, canvas, LEFT_BUTTON, 0, 100, y);
    EXPECT_EQ(bf.tankTarget[0], 3);
    for (int s = 1; s < SLOT_COUNT; ++s) EXPECT_EQ(bf.tankTarget[s], 7);
    EXPECT_TRUE(canvas.Calls().empty());
}

TEST_F(InputFixture, EscQuitsAndTouchesNothing) {
    PlaceTank(bf, 0, 100, 100);
    PlaceTank(bf, 1, 300, 200, 1);
    bf.shellTimer[1] = 5;
    PointerDown(bf, canvas, LEFT_BUTTON, 0, 100, ScreenY(100));
    const Battlefield before = bf;
    EXPECT_EQ(KeyPressed(bf, canvas, ESC_CODE), KeyAction::Quit);
    EXPECT_TRUE(Fields(bf) == Fields(before));
    EXPECT_TRUE(canvas.Calls().empty());
}

TEST_F(InputFixture, AnyOtherKeyClearsTheCanvasAndZeroesEveryHitPointOnly) {
    PlaceTank(bf, 0, 100, 100);
    PlaceTank(bf, 1, 300, 200, 1);
    bf.shellTimer[1] = 5;
    PointerDown(bf, canvas, LEFT_BUTTON, 0, 100, ScreenY(100));
    const Battlefield before = bf;
    Battlefield expected = before;
    expected.tankHits.fill(0);
    for (int code : {0, 13, 26, 28, 32, int('q'), 0xFFFF}) {
        SCOPED_TRACE(code);
        bf = before;
        canvas.ClearCalls();
        EXPECT_EQ(KeyPressed(bf, canvas, std::uint16_t(code)), KeyAction::Continue);
        EXPECT_TRUE(Fields(bf) == Fields(expected));
        ASSERT_EQ(canvas.Calls().size(), 1u);
        EXPECT_EQ(canvas.Calls()[0].kind, CanvasCall::Kind::Clear);
    }
}

TEST_F(InputFixture, PointerDepthSticksAtTheEndsOfItsRangeInsteadOfWrapping) {
    constexpr float inf = std::numeric_limits<float>::infinity();
    constexpr std::int16_t top = std::numeric_limits<std::int16_t>::max();
    constexpr std::int16_t bottom = std::numeric_limits<std::int16_t>::min();
    const struct {
        float y;
        std::int16_t depth;
    } cases[] = {
        {16520.5f, top},     // 2y - 274 is exactly 32767
        {16520.75f, top},    // 32767.5 rounds to the even 32768, one past the end
        {16521.0f, top},     // would wrap to -32768
        {1e30f, top},
        {inf, top},
        {-16247.0f, bottom},  // exactly -32768
        {-16247.25f, bottom},  // -32768.5 rounds to the even -32768
        {-16247.5f, bottom},  // -32769
        {-1e30f, bottom},
        {-inf, bottom},
        {std::nanf(""), 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.y);
        Battlefield expected = bf;
        PointerMove(bf, canvas, NO_BUTTON, 0, 100, c.y);
        expected.pointerDepth = c.depth;
        EXPECT_TRUE(Fields(bf) == Fields(expected)) << "depth " << bf.pointerDepth;
    }
}

TEST_F(InputFixture, TankDraggedFarOutsideCanBePickedUpAgain) {
    PlaceTank(bf, 3, 100, 100);
    PointerDown(bf, canvas, LEFT_BUTTON, 0, 100, ScreenY(100));
    PointerMove(bf, canvas, LEFT_BUTTON, 0, 1e6f, 1e6f);
    EXPECT_EQ(bf.tankX[3], 1e6);
    EXPECT_EQ(bf.tankY[3], std::numeric_limits<std::int16_t>::max());

    PointerUp(bf, canvas, LEFT_BUTTON, 0, 1e6f, 1e6f);
    EXPECT_EQ(bf.tankTarget[0], 3);
    PointerDown(bf, canvas, LEFT_BUTTON, 0, 1e6f, 1e6f);
    ASSERT_TRUE(bf.dragging);
    PointerMove(bf, canvas, LEFT_BUTTON, 0, 100, ScreenY(100));
    EXPECT_EQ(bf.tankX[3], 100);
    EXPECT_EQ(bf.tankY[3], 100);

    // A pointer position that is no number leaves the depth at 0, not garbage.
    PointerMove(bf, canvas, LEFT_BUTTON, 0, 100, std::nanf(""));
    EXPECT_EQ(bf.tankY[3], 0);
}

}  // namespace
}  // namespace kestrel
