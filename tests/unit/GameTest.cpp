// The game object every front end drives, and the mapping of buttons and
// keys that the front ends share.

#include <gtest/gtest.h>

#include <memory>

#include "UnitSupport.h"
#include "game/Game.h"
#include "input/Controls.h"
#include "input/Pointer.h"

namespace kestrel {
namespace {

GameRandom Seeded(std::uint64_t seed) { return GameRandom(seed); }

// The picture and the call log see the same calls, at the same size.
TEST(Game, DrawsIntoThePictureTheCallLogOrBoth) {
    Game both(Seeded(5), GameOutput::CallsAndPicture);
    Game pictureOnly(Seeded(5), GameOutput::Picture);
    Game callsOnly(Seeded(5), GameOutput::Calls);
    EXPECT_EQ(callsOnly.Picture(), nullptr);
    for (Game* game : {&both, &pictureOnly, &callsOnly}) {
        EXPECT_EQ(game->DrawingCanvas().CanvasWidth(), float(START_WIDTH));
        EXPECT_EQ(game->DrawingCanvas().CanvasHeight(), float(START_HEIGHT));
        game->Resize(300, 200, 2);
        for (int i = 0; i < 40; ++i) game->Tick();
    }
    EXPECT_EQ(both.Field(), pictureOnly.Field());
    EXPECT_EQ(both.Field(), callsOnly.Field());
    EXPECT_EQ(both.Calls(), callsOnly.Calls());
    EXPECT_FALSE(both.Calls().empty());
    EXPECT_TRUE(pictureOnly.Calls().empty());
    const PixelCanvas& a = *both.Picture();
    const PixelCanvas& b = *pictureOnly.Picture();
    ASSERT_EQ(a.DeviceWidth(), 600);
    ASSERT_EQ(a.DeviceHeight(), 400);
    EXPECT_TRUE(std::equal(a.Bytes(), a.Bytes() + a.BytesPerLine() * 400, b.Bytes()));
}

TEST(Game, HandsOutOnlyWhatChanged) {
    Game game(Seeded(5));
    EXPECT_EQ(game.TakeChanges(), (std::vector<PixelRect>{{0, 0, START_WIDTH, START_HEIGHT}}))
        << "a new picture is shown whole";
    EXPECT_TRUE(game.TakeChanges().empty());
    game.PointerMove(10, 10);  // nothing dragged: nothing drawn
    EXPECT_TRUE(game.TakeChanges().empty());
    game.Tick();
    game.Tick();  // the second tick draws the first battle
    EXPECT_FALSE(game.TakeChanges().empty());
    game.Resize(0, -3);
    EXPECT_EQ(game.DrawingCanvas().CanvasWidth(), 1.0f);
    EXPECT_EQ(game.DrawingCanvas().CanvasHeight(), 1.0f);
    EXPECT_EQ(game.TakeChanges(), (std::vector<PixelRect>{{0, 0, 1, 1}}));
}

// After Esc nothing moves or draws any more, whatever the front end sends.
TEST(Game, EndsOnEscAndThenIgnoresEverything) {
    Game game(Seeded(9), GameOutput::Calls);
    game.Tick();
    game.Tick();
    EXPECT_EQ(game.Key('a'), KeyAction::Continue);
    EXPECT_FALSE(game.Ended());
    EXPECT_EQ(game.Key(ESC_CODE), KeyAction::Quit);
    EXPECT_TRUE(game.Ended());
    game.ClearCalls();
    const Battlefield ended = game.Field();
    game.Tick();
    game.PointerDown(LEFT_BUTTON, 100, 200);
    game.PointerMove(120, 220);
    game.PointerUp(RIGHT_BUTTON, 120, 220);
    EXPECT_EQ(game.Key('b'), KeyAction::Quit);
    EXPECT_EQ(game.Field(), ended);
    EXPECT_TRUE(game.Calls().empty());
}

// The left and right buttons are the ones the handlers test; keys named
// by the platform give their control codes, others their text's first unit.
TEST(Controls, ButtonsAndKeysBecomeTheHandlersCodes) {
    EXPECT_EQ(ButtonCode(MouseButton::Left), LEFT_BUTTON);
    EXPECT_EQ(ButtonCode(MouseButton::Right), RIGHT_BUTTON);
    EXPECT_EQ(CharacterCode(NamedKey::Escape, u""), ESC_CODE);
    EXPECT_EQ(CharacterCode(NamedKey::Enter, u""), 13);
    EXPECT_EQ(CharacterCode(NamedKey::Other, u"\U0001F600"), 0xd83d) << "the first UTF-16 unit";
    EXPECT_EQ(CharacterCode(NamedKey::Other, u""), std::nullopt) << "Shift, arrows";
}

}  // namespace
}  // namespace kestrel
