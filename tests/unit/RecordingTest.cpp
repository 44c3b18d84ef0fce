// Keeping a battle: what the game writes down as it plays is a replay
// script that kestrel-trace and the game's own playback take back to the
// very same record and picture.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "game/Game.h"
#include "game/Recording.h"
#include "input/Pointer.h"
#include "trace/TraceFormat.h"
#include "trace/TraceScript.h"
#include "UnitSupport.h"
#include "tools/soak/Soak.h"

namespace kestrel {
namespace {

using Kind = RecordedStep::Kind;

bool SamePixels(const PixelCanvas& a, const PixelCanvas& b) {
    return a.DeviceWidth() == b.DeviceWidth() && a.DeviceHeight() == b.DeviceHeight() &&
           std::equal(a.Bytes(), a.Bytes() + a.BytesPerLine() * std::size_t(a.DeviceHeight()), b.Bytes());
}

// The live game's stream: seeded and reseeded from the clock.
Game LiveGame() { return Game(GameRandom::FromClock()); }

void PlayToTheEnd(Game& game) {
    while (game.PlayingBack()) game.Tick();
}

// The kinds of live input a recording holds none of, by name: each button
// pressed and released, a move, a key, a resize, a pointer far off.
std::string InputsMissing(const std::string& recording) {
    std::set<std::string> held;
    int sizes = 0;
    const Result<ReadRecording> read = ReadRecordingText(recording);
    for (const RecordedStep& step : read->steps) {
        const bool pointer = step.kind == Kind::Down || step.kind == Kind::Move || step.kind == Kind::Up;
        if (pointer && (std::abs(step.x) > 1e5f || std::abs(step.y) > 1e5f)) held.insert("far off");
        if (step.kind == Kind::Down) held.insert("down " + std::to_string(step.button));
        if (step.kind == Kind::Up) held.insert("up " + std::to_string(step.button));
        if (step.kind == Kind::Move) held.insert("move");
        if (step.kind == Kind::Key) held.insert("key");
        if (step.kind == Kind::Size && ++sizes > 1) held.insert("resize");  // the first is the start size
    }
    std::string missing;
    for (const char* kind : {"down 1", "down 2", "down 3", "up 1", "up 2", "up 3", "move", "key", "resize", "far off"})
        if (!held.contains(kind)) missing += std::string(missing.empty() ? "" : ", ") + kind;
    return missing;
}

// Random live-like input (drags, orders, stray buttons, keys, resizes down
// to 1 x 1, pointers far off) over thousands of ticks and many battles,
// with battle starts reseeded from the clock as in the live game. The clock
// makes each run's battles new, so one run is played, on until it holds
// every kind of input rather than for a fixed while; keys come a few times
// more often than in the long soak, so that it need not wait long for one.
TEST(Recording, ReplaysToTheLiveRecordAndPictureInTheToolAndInTheGame) {
    constexpr std::uint64_t MIN_TICKS = 4'000, MIN_BATTLES = 4, MAX_TICKS = 100'000;
    soak::Soak soak({.gameSeed = 2026, .eventSeed = 2026 * 7 + 1, .liveGame = true, .keyOdds = 1'000});
    for (std::string missing = "all";
         soak.Ticks() < MIN_TICKS || soak.Battles() < MIN_BATTLES || soak.Drags() == 0 || !missing.empty();
         missing = InputsMissing(soak.Played().Recording().Text())) {
        ASSERT_EQ(soak.Run(1'000), "");
        ASSERT_LT(soak.Ticks(), MAX_TICKS) << "battles never end, or no drag or no " << missing << " came";
    }
    const Game& live = soak.Played();
    const std::string recording = live.Recording().Text();

    PixelCanvas replayed(1, 1);
    std::ostringstream out, err;
    ASSERT_EQ(RunTraceScript(recording + "state\n", out, err, {}, &replayed), TRACE_OK) << err.str();
    EXPECT_TRUE(out.str().ends_with(FormatState(live.Field())));
    EXPECT_TRUE(SamePixels(replayed, *live.Picture()));

    Game again = LiveGame();
    ASSERT_EQ(again.PlayBack(recording), std::nullopt);
    PlayToTheEnd(again);
    EXPECT_EQ(again.Field(), live.Field());
    EXPECT_TRUE(SamePixels(*again.Picture(), *live.Picture()));
    EXPECT_EQ(again.Recording().Text(), recording) << "a replayed battle is recorded as it was";
}

// Each battle start is noted with the state it took, just before the run
// of ticks that holds it; the first tick always starts one.
TEST(Recording, NotesEachBattleStartBeforeItsTickAndCountsTicksInRuns) {
    Game game(GameRandom(5, GameRandom::Reseeding::FromClock));
    for (int i = 0; i < 30'000; ++i) game.Tick();
    const std::string text = game.Recording().Text();
    const std::string start = "version 1\nseed 5\nsize 696 548\nreseed ";
    ASSERT_TRUE(text.starts_with(start)) << text;
    std::istringstream lines(text);
    std::uint64_t ticks = 0, reseeds = 0;
    std::string command;
    for (std::string line; std::getline(lines, line);) {
        std::istringstream words(line);
        std::uint64_t number = 0;
        words >> command >> number;
        if (command == "tick") ticks += number;
        if (command == "reseed") ++reseeds;
    }
    EXPECT_EQ(ticks, 30'000u);
    EXPECT_EQ(reseeds, game.RandomStream().Reseeds());
    EXPECT_LE(text.size(), 48 * (reseeds + 1)) << "grows with battles, not with ticks";
}

TEST(Recording, WritesEveryEventInOrderWithNumbersThatReadBackExactly) {
    Game game(GameRandom(11));
    game.Tick();
    game.Tick();
    game.PointerDown(LEFT_BUTTON, 0.1f, -3e38f);
    game.PointerMove(1.0f / 3, 1e-40f);  // a subnormal single
    game.PointerUp(16, -0.0f, 123456.789f);
    game.Resize(1, 1, 2.5);
    game.Resize(1, 1, 1);  // the density alone: nothing for the battle
    game.Key(0xD83D);
    game.Tick();
    const std::string text = game.Recording().Text();
    const std::string events = text.substr(text.find("tick 2\n"));
    EXPECT_EQ(events,
              "tick 2\ndown 1 0.100000001 -3.00000001e+38\nmove 0.333333343 9.9999461e-41\n"
              "up 16 -0 123456.789\nsize 1 1\nkey 55357\nreseed 7081435542516167443\ntick 1\n");
    const Result<ReadRecording> read = ReadRecordingText(text);
    ASSERT_TRUE(read.Ok()) << read.Why();
    const RecordedStep move = read->steps[6];  // after version, seed, size, reseed, tick
    EXPECT_EQ(move.kind, Kind::Move);
    EXPECT_EQ(move.x, 1.0f / 3);
    EXPECT_EQ(move.y, 1e-40f);
}

std::string Trace(const std::string& script) {
    std::ostringstream out, err;
    EXPECT_EQ(RunTraceScript(script, out, err), TRACE_OK) << err.str();
    return out.str();
}

// `reseed S` gives the next battle start the state S, as if the stream had
// been set to S there; later battle starts keep the state as before.
TEST(Recording, TheToolsReseedGivesTheNextBattleStartThatState) {
    EXPECT_EQ(Trace("version 1\nseed 5\nreseed 293\nstart\nstart\nstate\n"),
              Trace("seed 293\nstart\nstart\nstate\n"));
    EXPECT_NE(Trace("seed 5\nreseed 293\nstart\nstate\n"), Trace("seed 5\nstart\nstate\n"));
    EXPECT_EQ(Trace("reseed 1\nreseed 2\nstart\nstart\nstate\n"),
              Trace("seed 1\nstart\nseed 2\nstart\nstate\n")) << "queued in order";
}

// A bad recording is refused whole, with the line and the reason, and the
// game goes on as it was.
TEST(Recording, RefusesBadRecordingsAndLeavesTheGameAsItWas) {
    const std::pair<std::string, std::string> BAD[] = {
        {"version 1\nseed 5\nti", "line 3: 'ti' has no place in a recording"},
        {"seed 5\ntick 3\nset tankX 0 1\n", "line 3: 'set' belongs before the first tick and event"},
        {"seed 5\nstart\n", "line 2: 'start' has no place in a recording"},
        {"seed 5\n\n# a comment\ndown 1 x 3\n", "line 4: x 'x' is not a finite number"},
        {"version 4\nseed 5\n", "line 1: format version 4 is newer than this program reads (3)"},
        {"size 0 5\n", "line 1: width '0' is out of range 1..16384"},
        {"seed 1\xff\n", "line 1: seed '1\xff' is not a whole number"},
    };
    Game game(GameRandom(8));
    for (int i = 0; i < 30; ++i) game.Tick();
    const Battlefield before = game.Field();
    const std::string recorded = game.Recording().Text();
    for (const auto& [text, reason] : BAD) {
        EXPECT_EQ(game.PlayBack(text), reason);
        EXPECT_FALSE(game.PlayingBack());
    }
    EXPECT_EQ(game.PlayBack(std::string(MAX_RECORDING_BYTES + 1, '\n')),
              "the recording is too long (67108865 bytes; at most 67108864)");
    EXPECT_EQ(game.Field(), before);
    EXPECT_EQ(game.Recording().Text(), recorded);
}

// The recording's own pace: one of its ticks for each of the front end's,
// its events between them; the battle is the user's again at its end.
TEST(Recording, PlaysBackAtTheGamesPaceThenHandsTheBattleOver) {
    Game game = LiveGame();
    game.Resize(800, 600, 2);
    ASSERT_EQ(game.PlayBack("seed 9\nsize 300 200\ntick 5\nreseed 77\nkey 97\ntick 2\n"), std::nullopt);
    EXPECT_EQ(game.Width(), 300) << "the recording's size while it plays";
    EXPECT_EQ(game.Picture()->PixelRatio(), 2) << "the screen's density at once";
    for (int i = 0; i < 6; ++i) {
        game.Tick();
        EXPECT_TRUE(game.PlayingBack()) << "tick " << i + 1;
    }
    EXPECT_EQ(game.RandomStream().LastReseedState(), 77u) << "the noted state, not the clock's";
    game.Tick();
    EXPECT_FALSE(game.PlayingBack());
    EXPECT_EQ(game.Width(), 800) << "the front end's size after the hand-over";
    EXPECT_EQ(game.RandomStream().HowReseeded(), GameRandom::Reseeding::FromClock);
}

TEST(Recording, APressOrKeyTakesOverWhileMovesAndReleasesAreIgnored) {
    const std::string recording = "seed 4\ntick 100\n";
    Game game = LiveGame();
    ASSERT_EQ(game.PlayBack(recording), std::nullopt);
    game.Tick();
    game.Tick();
    const Battlefield playing = game.Field();
    game.PointerMove(10, 10);
    game.PointerUp(LEFT_BUTTON, 10, 10);
    EXPECT_EQ(game.Field(), playing);
    EXPECT_TRUE(game.PlayingBack());
    game.PointerDown(RIGHT_BUTTON, 10, 10);
    EXPECT_FALSE(game.PlayingBack());
    EXPECT_NE(game.Field().pointerDepth, playing.pointerDepth) << "the press itself counts";

    ASSERT_EQ(game.PlayBack(recording), std::nullopt);
    EXPECT_EQ(game.Key('q'), KeyAction::Continue);
    EXPECT_FALSE(game.PlayingBack());
    EXPECT_EQ(game.Field().tankHits, PerSlot<std::int16_t>{}) << "and wipes the field";
}

// A recording made in a session that ended with Esc plays to the Esc and
// leaves the battle running.
TEST(Recording, AnEscInTheRecordingEndsItsPlaybackNotTheGame) {
    Game game = LiveGame();
    ASSERT_EQ(game.PlayBack("seed 4\ntick 3\nkey 27\ntick 50\n"), std::nullopt);
    for (int i = 0; i < 3; ++i) game.Tick();
    EXPECT_FALSE(game.PlayingBack());
    EXPECT_FALSE(game.Ended());
}

}  // namespace
}  // namespace kestrel
