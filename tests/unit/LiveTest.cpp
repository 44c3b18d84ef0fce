// Following a battle that a referee plays: screens fed the referee's lines,
// from its start or from a clean canvas it passed, keep its record, its
// random state and one another's picture; what a screen sends back is read
// as the referee reads it.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>

#include "game/Game.h"
#include "game/LiveClient.h"
#include "game/LiveWire.h"
#include "game/Room.h"
#include "input/Keyboard.h"
#include "model/RecordHash.h"
#include "script/RecordLines.h"
#include "tests/Sanitizers.h"

namespace kestrel {
namespace {

using Kind = RecordedStep::Kind;

constexpr std::int16_t LEFT = 1;

// The referee as a room keeps it, with one player whose events the test plays.
struct Referee {
    Referee() : room(GameRandom(0x5eed), {}, std::make_unique<MemoryRecordingSink>()), player(room.Join(true).client) {}
    void Send(const RecordedStep& step) { ASSERT_EQ(room.Receive(player, WriteStep(step)).refusal, std::nullopt); }
    std::string Tick() { return room.Tick(); }
    const Game& game() const { return room.Referee(); }

    Room room;
    ClientId player;
};

struct Screen {
    explicit Screen(bool mayPlay = true) : client(game, mayPlay) {}
    void Join(const Referee& referee) {
        client.Reconnected();
        ASSERT_EQ(client.Receive(referee.room.JoinedNotice()), std::nullopt);
        ASSERT_EQ(client.Receive(WriteNotice({NoticeKind::People, 2})), std::nullopt);
        ASSERT_EQ(client.Receive(referee.room.JoinText()), std::nullopt);
    }
    Game game{GameRandom::FromClock()};
    LiveClient client;
};

bool SamePicture(const PixelCanvas& a, const PixelCanvas& b) {
    return a.DeviceWidth() == b.DeviceWidth() && a.DeviceHeight() == b.DeviceHeight() &&
           std::equal(a.Bytes(), a.Bytes() + a.BytesPerLine() * std::size_t(a.DeviceHeight()), b.Bytes());
}

// Two screens, one there from the start and one that joins late from the
// referee's last clean canvas, through drags, an order, a wipe and the
// battle starts the referee notes.
TEST(Live, ScreensKeepTheRefereesBattleAndOneAnothersPicture) {
    const std::uint64_t ticks = test::Cases(6'000, 3'000), joinAt = ticks / 2;
    Referee referee;
    Screen early, late;
    early.Join(referee);
    std::uint64_t hashesChecked = 0, lateFrom = 0;
    for (std::uint64_t t = 1; t <= ticks; ++t) {
        const Battlefield& bf = referee.game().Field();
        if (t % 500 == 100)
            referee.Send({.kind = Kind::Down, .button = LEFT, .x = float(bf.tankX[3]), .y = float(bf.tankY[3])});
        if (t % 500 > 100 && t % 500 < 160) referee.Send({.kind = Kind::Move, .x = float(t % 500), .y = float(t % 300)});
        if (t % 500 == 160) referee.Send({.kind = Kind::Up, .button = LEFT, .x = 200, .y = 200});
        if (t == ticks / 4) referee.Send({.kind = Kind::Key, .number = 'w'});
        const std::string frame = referee.Tick();
        for (Screen* screen : {&early, &late}) {
            if (screen == &late && t < joinAt) continue;
            if (screen == &late && t == joinAt) screen->Join(referee), lateFrom = referee.room.JoinTick();
            else ASSERT_EQ(screen->client.Receive(frame), std::nullopt) << "tick " << t;
            do screen->client.Tick();
            while (screen->game.TicksAhead() > 0);
            ASSERT_EQ(screen->game.StateHash(), referee.game().StateHash()) << "tick " << t;
            const Result<ClientMessage> sent = ReadClientMessage(screen->client.TakeOutgoing(), false);
            ASSERT_TRUE(sent.Ok()) << sent.Why();
            for (const ClientLine& line : sent->lines) {
                EXPECT_EQ(line.tick, t);
                EXPECT_EQ(line.hash, referee.game().StateHash());
                ++hashesChecked;
            }
        }
    }
    EXPECT_EQ(early.game.Field(), referee.game().Field());
    EXPECT_GT(lateFrom, 0u) << "the late screen joined from the wipe or a later clean canvas";
    EXPECT_TRUE(SamePicture(*early.game.Picture(), *late.game.Picture()));
    EXPECT_GE(hashesChecked, 2 * (ticks - joinAt) / HASH_EVERY_TICKS);
    EXPECT_EQ(late.client.People(), 2u);
}

// A screen's own pointer and keys go to the referee, not into its battle;
// a screen that lags plays all but one of the ticks that came at once.
TEST(Live, AScreenSendsItsEventsAndCatchesUp) {
    Referee referee;
    Screen screen, watcher(false);
    screen.Join(referee), watcher.Join(referee);
    std::string frames;
    for (int t = 0; t < 500; ++t) frames += referee.Tick();
    for (Screen* s : {&screen, &watcher}) {
        ASSERT_EQ(s->client.Receive(frames), std::nullopt);
        s->client.Tick();
    }
    EXPECT_EQ(screen.game.TicksAhead(), 1u);
    EXPECT_EQ(screen.game.FollowedTick(), 499u);

    const Battlefield before = screen.game.Field();
    screen.game.PointerDown(LEFT, 10, 20);
    screen.game.PointerMove(11, 21);
    screen.game.PointerMove(12, 22);
    screen.game.PointerUp(LEFT, 13, 23);
    screen.game.PointerMove(14, 24);
    EXPECT_EQ(screen.game.Key('a'), KeyAction::Continue);
    EXPECT_EQ(screen.game.Field(), before);
    EXPECT_EQ(screen.client.TakeOutgoing(), "down 1 10 20\nmove 12 22\nup 1 13 23\nmove 14 24\nkey 97\n");
    // Moves between ticks: the hashes the ticks add stay whole among them.
    screen.game.PointerDown(LEFT, 1, 2);
    for (int t = 0; t < 80; ++t) {
        const std::string frame = referee.Tick();
        for (Screen* s : {&screen, &watcher}) {
            (void)s->client.Receive(frame);
            s->client.Tick();
            s->game.PointerMove(float(t), 2);
        }
    }
    const Result<ClientMessage> played = ReadClientMessage(screen.client.TakeOutgoing(), true);
    ASSERT_TRUE(played.Ok()) << played.Why();
    EXPECT_EQ(std::count_if(played->lines.begin(), played->lines.end(), [](const ClientLine& l) { return l.isHash; }),
              2);
    const Result<ClientMessage> sent = ReadClientMessage(watcher.client.TakeOutgoing(), false);
    ASSERT_TRUE(sent.Ok()) << "a watcher sends its hashes alone: " << sent.Why();
    EXPECT_EQ(sent->lines.size(), 2u);
    EXPECT_EQ(screen.game.Key(ESC_CODE), KeyAction::Quit) << "Esc takes the screen out of the room";
    EXPECT_EQ(screen.client.TakeOutgoing(), "");
}

TEST(Live, TheRefereeReadsPlayersEventsAndEveryonesHashes) {
    const Result<ClientMessage> good =
        ReadClientMessage("down 1 5 6\nmove 7 8\n# aside\nhash 40 00000000000000ff\n", true);
    ASSERT_TRUE(good.Ok()) << good.Why();
    ASSERT_EQ(good->lines.size(), 3u);
    EXPECT_EQ(good->lines[1].step, (RecordedStep{.kind = Kind::Move, .x = 7, .y = 8}));
    EXPECT_TRUE(good->lines[2].isHash);
    EXPECT_EQ(good->lines[2].hash, 0xffu);
    EXPECT_EQ(HashLine(40, 0xff), "hash 40 00000000000000ff\n");

    for (const auto& [frame, mayPlay, reason] : {
             std::tuple{"key 97\n", false, "line 1: a watcher sends only hashes"},
             {"tick 5\n", true, "line 1: 'tick' is not sent to a room"},
             {"set tankX 0 5\n", true, "line 1: 'set' is not sent to a room"},
             {"move 1\n", true, "line 1: 'move' takes 2 arguments"},
             {"hash 40 ff\n", false, "line 1: hash 'ff' is not 16 hexadecimal digits"},
         }) {
        const Result<ClientMessage> bad = ReadClientMessage(frame, mayPlay);
        ASSERT_FALSE(bad.Ok()) << frame;
        EXPECT_TRUE(bad.Why().starts_with(reason)) << frame << ": " << bad.Why();
    }
    EXPECT_FALSE(ReadClientMessage(std::string(MAX_CLIENT_FRAME_BYTES + 1, ' '), true).Ok());
}

// The record written as lines sets a zeroed record to the same bits,
// signs of zeros and flags included.
TEST(Live, TheRecordAsLinesReadsBackBitForBit) {
    Battlefield bf;
    bf.tankX[7] = -0.0;
    bf.tankY[50] = 0.1 + 0.2;
    bf.tankHeading[0] = 3.1415927f;
    bf.tankTarget[2] = 50;
    bf.shellTimer[9] = -3;
    bf.dragging = true;
    bf.hullError = 1e-300;
    Battlefield read;
    ForEachCommand(WriteSetLines(bf), [&](long long, const Tokens& tokens) {
        ReadSetLine(read, tokens);
        return true;
    });
    EXPECT_EQ(read, bf);
    EXPECT_TRUE(std::signbit(read.tankX[7]));
    EXPECT_EQ(HashRecord(read, 0), HashRecord(bf, 0));
    EXPECT_EQ(WriteSetLines(Battlefield{}), "");
}

}  // namespace
}  // namespace kestrel
