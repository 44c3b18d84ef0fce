// The referee of a live room: one hand on the field, a drag released for a
// player who leaves, late joins from the last clean canvas that play to the
// room's own record, hashes compared, a join history that stays bounded,
// and a room resumed from what its sink kept after a kill, or from its
// checkpoint and what followed it.

#include <gtest/gtest.h>

#include <algorithm>
#include <limits>
#include <memory>
#include <string>

#include "game/LiveClient.h"
#include "game/LiveWire.h"
#include "game/Room.h"
#include "tests/Sanitizers.h"

namespace kestrel {
namespace {

using Kind = RecordedStep::Kind;

constexpr std::int16_t LEFT = 1;
constexpr std::uint64_t SEED = 0x5eed;
constexpr std::uint16_t KEY_A = 'a';

std::string Down(std::int16_t button, float x, float y) {
    return WriteStep({.kind = Kind::Down, .button = button, .x = x, .y = y});
}
std::string Move(float x, float y) { return WriteStep({.kind = Kind::Move, .x = x, .y = y}); }
std::string Up(std::int16_t button, float x, float y) {
    return WriteStep({.kind = Kind::Up, .button = button, .x = x, .y = y});
}
std::string Key(std::uint16_t code) { return WriteStep({.kind = Kind::Key, .number = code}); }

// A sink whose text the test reads as the server reads its file.
class SharedSink : public RecordingSink {
public:
    explicit SharedSink(std::shared_ptr<std::string> text) : text_(std::move(text)) {}
    SinkState Append(std::string_view text) override {
        *text_ += text;
        return SinkState::Whole;
    }
    std::optional<std::string> Written(std::size_t maxBytes) const override {
        if (text_->size() > maxBytes) return std::nullopt;
        return *text_;
    }

private:
    std::shared_ptr<std::string> text_;
};

class RoomTest : public testing::Test {
protected:
    // A sink of its own; its text in `kept`.
    std::unique_ptr<RecordingSink> Sink() { return std::make_unique<SharedSink>(kept); }
    static bool Has(const std::string& frame, const std::string& line) { return frame.find(line) != std::string::npos; }
    std::shared_ptr<std::string> kept = std::make_shared<std::string>();
};

// A screen that follows the room from its join text, as a page does, and
// sends its hashes back.
struct Screen {
    explicit Screen(Room& room) : room(room), id(room.Join(false).client), joinedAt(room.JoinTick()) {
        Receive(room.JoinedNotice());
        Receive(room.PeopleNotice());
        Receive(room.JoinText());
    }
    void Receive(const std::string& frame) {
        ASSERT_EQ(client.Receive(frame), std::nullopt);
        while (game.TicksAhead() > 0) game.Tick();
        const FrameReceipt answer = room.Receive(id, client.TakeOutgoing());
        ASSERT_EQ(answer.refusal, std::nullopt);
        mismatches += answer.mismatchAt.has_value();
    }
    bool SameAsRoom() const {
        return game.StateHash() == room.Referee().StateHash() && game.FollowedTick() == room.Ticks();
    }
    Room& room;
    ClientId id;
    std::uint64_t joinedAt;
    Game game{GameRandom(1)};
    LiveClient client{game};
    int mismatches = 0;
};

// A player's scripted drag, a key that wipes the field now and then.
void Play(Room& room, ClientId player, int t) {
    const int phase = t % 300;
    if (phase == 100) room.Receive(player, Key(KEY_A));
    if (phase == 150) room.Receive(player, Down(LEFT, 250, 200));
    if (phase > 150 && phase < 180) room.Receive(player, Move(float(250 + phase - 150), 200));
    if (phase == 180) room.Receive(player, Up(LEFT, 280, 210));
}

TEST_F(RoomTest, OneHandOnTheFieldAndADragReleasedWhenItsPlayerLeaves) {
    Room room(GameRandom(SEED), {.width = 400, .height = 300}, Sink());
    const ClientId a = room.Join(true).client, b = room.Join(true).client, watcher = room.Join(false).client;
    EXPECT_EQ(room.People(), 3u);

    EXPECT_EQ(room.Receive(a, Down(LEFT, 100, 100)).refusal, std::nullopt);
    EXPECT_EQ(room.Receive(b, Down(LEFT, 200, 200) + Move(210, 210) + Up(LEFT, 220, 220)).refusal, std::nullopt);
    EXPECT_EQ(room.Receive(a, Move(120, 110) + Up(2, 120, 110)).refusal, std::nullopt);  // not the button it holds
    std::string frame = room.Tick();
    EXPECT_TRUE(Has(frame, Down(LEFT, 100, 100)) && Has(frame, Move(120, 110)));
    EXPECT_FALSE(Has(frame, Down(LEFT, 200, 200)) || Has(frame, Move(210, 210)) || Has(frame, Up(LEFT, 220, 220)) ||
                 Has(frame, Up(2, 120, 110)));

    // The holder releases; then the other player may take the pointer.
    room.Receive(a, Up(LEFT, 130, 115));
    room.Receive(b, Down(LEFT, 200, 200) + Move(240, 230));
    frame = room.Tick();
    EXPECT_TRUE(Has(frame, Up(LEFT, 130, 115)) && Has(frame, Down(LEFT, 200, 200)) && Has(frame, Move(240, 230)));

    // It leaves mid-drag: released where its pointer last was.
    room.Leave(b);
    EXPECT_TRUE(Has(room.Tick(), Up(LEFT, 240, 230)));
    EXPECT_EQ(room.People(), 2u);
    // A screen joining between an event and its tick gets it once, in the next frame.
    room.Receive(a, Down(LEFT, 50, 60));
    EXPECT_FALSE(Has(room.JoinText(), Down(LEFT, 50, 60)));
    EXPECT_TRUE(Has(room.Tick(), Down(LEFT, 50, 60)));
    EXPECT_TRUE(Has(room.JoinText(), Down(LEFT, 50, 60)));

    // A watcher may only hash; Esc leaves, never applied; too many lines are refused.
    EXPECT_NE(room.Receive(watcher, Key(KEY_A)).refusal, std::nullopt);
    EXPECT_NE(room.Receive(a, "fire 1 2\n").refusal, std::nullopt);
    const FrameReceipt esc = room.Receive(a, Key(ESC_CODE));
    EXPECT_TRUE(esc.leaves);
    EXPECT_FALSE(Has(room.Tick(), Key(ESC_CODE)));
    std::string lines;
    for (int i = 0; i < MAX_CLIENT_LINES_PER_SECOND / 4; ++i) lines += HashLine(0, 0);
    for (int i = 0; i < 4; ++i) EXPECT_EQ(room.Receive(watcher, lines).refusal, std::nullopt);
    EXPECT_NE(room.Receive(watcher, HashLine(0, 0)).refusal, std::nullopt);
}

// Screens that join late, from the clean canvas a key leaves or a battle
// start, keep the room's record tick for tick and hash it alike; the
// recording file replays to the same record.
TEST_F(RoomTest, LateJoinsPlayToTheRoomsRecord) {
    const int ticks = test::Cases(3'000, 1'200);
    Room room(GameRandom(SEED), {.width = 500, .height = 400}, Sink());
    const ClientId player = room.Join(true).client;
    std::vector<std::unique_ptr<Screen>> screens;
    std::uint64_t joinPoints = 0, lastJoinTick = room.JoinTick();
    for (int t = 1; t <= ticks; ++t) {
        Play(room, player, t);
        // Mid-drag, between a move and its tick: the move comes once, in the next frame.
        if (t % 600 == 170) screens.push_back(std::make_unique<Screen>(room));
        const std::string frame = room.Tick();
        for (auto& screen : screens) {
            screen->Receive(frame);
            ASSERT_TRUE(screen->SameAsRoom()) << "tick " << t << ", screen joined at " << screen->game.FollowedTick();
        }
        if (room.JoinTick() != lastJoinTick) ++joinPoints, lastJoinTick = room.JoinTick();
    }
    EXPECT_GE(joinPoints, std::uint64_t(ticks / 300));  // a key at least every 300 ticks
    // Past a clean canvas that all of them followed, they show one picture.
    ASSERT_GT(room.JoinTick(), screens.back()->joinedAt);
    for (const auto& screen : screens) {
        EXPECT_EQ(screen->mismatches, 0);
        const PixelCanvas& first = *screens.front()->game.Picture();
        const PixelCanvas& picture = *screen->game.Picture();
        EXPECT_TRUE(std::equal(first.Bytes(), first.Bytes() + first.BytesPerLine() * std::size_t(first.DeviceHeight()),
                               picture.Bytes()))
            << "the screen joined at tick " << screen->joinedAt;
    }
    EXPECT_EQ(room.Mismatches(), 0u);

    // Two screens, so every hash line after the first join was compared.
    ASSERT_GE(screens.size(), 2u);
    Game replay(GameRandom(1), GameOutput::Nothing);
    room.Flush();
    ASSERT_EQ(replay.PlayBack(*kept), std::nullopt);
    for (int t = 0; t < ticks; ++t) replay.Tick();
    EXPECT_EQ(replay.StateHash(), room.Referee().StateHash());
}

// A wrong hash is counted and answered with its tick; a right one, or one
// for a tick the room no longer keeps, is not.
TEST_F(RoomTest, HashMismatchesAreFound) {
    Room room(GameRandom(SEED), {.width = 400, .height = 300}, Sink());
    const ClientId watcher = room.Join(false).client;
    const std::uint64_t lastKept = HASH_EVERY_TICKS * (HASH_RING_SIZE + 2);
    for (std::uint64_t t = 0; t < lastKept; ++t) room.Tick();
    const std::uint64_t ours = *room.HashAt(lastKept);

    EXPECT_EQ(room.Receive(watcher, HashLine(lastKept, ours)).mismatchAt, std::nullopt);
    EXPECT_EQ(room.Receive(watcher, HashLine(lastKept, ours ^ 1)).mismatchAt, lastKept);
    EXPECT_EQ(room.Mismatches(), 1u);
    // Too old, between checkpoints, not yet played: not known, not counted.
    EXPECT_EQ(room.HashAt(HASH_EVERY_TICKS), std::nullopt);
    EXPECT_EQ(room.Receive(watcher, HashLine(HASH_EVERY_TICKS, 0) + HashLine(lastKept - 1, 0) +
                                        HashLine(lastKept + HASH_EVERY_TICKS, 0))
                  .mismatchAt,
              std::nullopt);
    EXPECT_EQ(room.Mismatches(), 1u);
}

// A room started from a battle's record under way plays on from it, at
// its size, and screens follow it; a bad start is refused beforehand.
TEST_F(RoomTest, ARoomStartsFromARecording) {
    Game before(GameRandom(SEED), GameOutput::Nothing);
    before.Resize(320, 240);
    for (int t = 0; t < 200; ++t) before.Tick();
    Recorder head;
    head.Start(before.RandomStream().State(), before.Width(), before.Height(), &before.Field());
    ASSERT_EQ(CheckStartRecording(head.Text()), std::nullopt);
    EXPECT_NE(CheckStartRecording("version 1\ntick x\n"), std::nullopt);

    Room room(GameRandom(SEED), {.recording = head.Text()}, Sink());
    EXPECT_EQ(room.Referee().Width(), 320);
    EXPECT_EQ(room.Referee().StateHash(), before.StateHash());
    Screen screen(room);
    for (int t = 0; t < 100; ++t) {
        screen.Receive(room.Tick());
        before.Tick();
    }
    EXPECT_TRUE(screen.SameAsRoom());
    EXPECT_EQ(room.Referee().StateHash(), before.StateHash());  // as the battle it was taken from

    // A kept battle's ticks are played at once: a screen joins at its end,
    // and a restart need not play them again past its first room second.
    auto memory = std::make_unique<MemoryRecordingSink>();
    const MemoryRecordingSink& sink = *memory;
    Room kept(GameRandom(SEED), {.recording = "version 1\nseed 46\nsize 400 300\ntick 500\n",
                                 .checkpointTicks = 100'000}, std::move(memory));
    EXPECT_EQ(kept.Ticks(), 500u);
    Screen late(kept);
    late.Receive(kept.Tick());
    EXPECT_TRUE(late.SameAsRoom());
    while (kept.Ticks() % LIVE_TICKS_PER_SECOND != 0) kept.Tick();
    ASSERT_TRUE(sink.LastCheckpoint().has_value());
    EXPECT_EQ(sink.LastCheckpoint()->tick, kept.Ticks());
    EXPECT_NE(CheckStartRecording("seed 1\ntick " + std::to_string(MAX_START_TICKS + 1) + "\n"), std::nullopt);
}

// However long nobody wipes the field, the join text stays within its
// bound, and a screen joining from it still keeps the room's record.
TEST_F(RoomTest, JoinHistoryStaysBounded) {
    constexpr std::size_t BOUND = 4096;
    Room room(GameRandom(SEED), {.width = 400, .height = 300}, Sink(), BOUND);
    const ClientId player = room.Join(true).client;
    room.Receive(player, Down(LEFT, 10, 10));
    std::size_t longest = 0, longestHead = 0;  // the head: the record a join starts from
    const int ticks = test::Cases(4'000, 2'000);
    for (int t = 0; t < ticks; ++t) {
        room.Receive(player, Move(float(10 + t % 300), float(10 + t % 200)));
        room.Tick();
        const std::size_t size = room.JoinText().size();
        longest = std::max(longest, size);
        if (room.JoinTick() == room.Ticks()) longestHead = std::max(longestHead, size);
    }
    constexpr std::size_t ONE_FRAME = 64;
    EXPECT_LE(longest, longestHead + BOUND + ONE_FRAME);
    EXPECT_GT(room.JoinTick(), 0u);

    Screen late(room);
    for (int t = 0; t < 100; ++t) late.Receive(room.Tick());
    EXPECT_TRUE(late.SameAsRoom());
}

// A battle whose tanks never fall has no clean canvas for good: its join
// text still starts no more than MAX_JOIN_HISTORY_TICKS back.
TEST_F(RoomTest, JoinHistorySpansABoundedTime) {
    Battlefield endless;
    for (int s = 0; s < 2; ++s) {
        endless.tankX[s] = 100 + 200 * s, endless.tankY[s] = 150;
        endless.tankHits[s] = std::numeric_limits<std::int16_t>::max();
        endless.tankSpeed[s] = 1.5f;
        endless.tankTarget[s] = Slot(1 - s);
    }
    Recorder head;
    head.Start(SEED, 400, 300, &endless);
    Room room(GameRandom(SEED), {.recording = head.Text()}, Sink());
    while (room.Ticks() < MAX_JOIN_HISTORY_TICKS + 2 * LIVE_TICKS_PER_SECOND) {
        room.Tick();
        ASSERT_LE(room.Ticks() - room.JoinTick(), MAX_JOIN_HISTORY_TICKS);
    }
    EXPECT_GT(room.JoinTick(), 0u);
    Screen late(room);
    for (int t = 0; t < 100; ++t) late.Receive(room.Tick());
    EXPECT_TRUE(late.SameAsRoom());
}

// A room killed mid-drag and resumed from what its sink kept is the room
// it was when the sink was last brought up to date: its tick, record, join
// text and hashes. Going on alike, the two send the same frames and keep
// the same recording: no tick lost or played twice where the sink was
// taken up again. (Cutting a line a kill left short is the file's: see the
// server's tests.)
TEST_F(RoomTest, ARoomIsResumedFromItsSink) {
    constexpr int KILLED_AT = 2 * 300 + 160;  // mid-drag, and a whole room second
    static_assert(KILLED_AT % LIVE_TICKS_PER_SECOND == 0);
    Room room(GameRandom(SEED), {.width = 500, .height = 400}, Sink());
    const std::string token(SEAT_TOKEN_DIGITS, 'a');
    const ClientId player = room.Join(true, {}, token).client;
    for (int t = 1; t <= KILLED_AT; ++t) {
        Play(room, player, t);
        // Right after a hash's tick, a wipe and a press between two ticks,
        // which a playback applies at the end of the tick before.
        if (t == KILLED_AT - LIVE_TICKS_PER_SECOND + 1) room.Receive(player, Key(KEY_A) + Down(LEFT, 100, 100));
        room.Tick();
    }
    const std::string whole = *kept;
    auto resumedText = std::make_shared<std::string>(whole);
    Room resumed(GameRandom(1), {.recording = whole, .resumed = true}, std::make_unique<SharedSink>(resumedText));
    EXPECT_EQ(*resumedText, whole) << "what the sink holds is not written again";
    EXPECT_EQ(resumed.Ticks(), room.Ticks());
    EXPECT_EQ(resumed.Referee().StateHash(), room.Referee().StateHash());
    EXPECT_EQ(resumed.JoinTick(), room.JoinTick());
    EXPECT_EQ(resumed.JoinText(), room.JoinText());
    for (std::uint64_t t = HASH_EVERY_TICKS; t <= room.Ticks(); t += HASH_EVERY_TICKS)
        EXPECT_EQ(resumed.HashAt(t), room.HashAt(t)) << "tick " << t;

    // The kill took the player's hand: the drag is let go where it was. The
    // player comes back to its seat, the first in the resumed room.
    room.Leave(player);
    const ClientId again = room.Join(true, token).client, resumedAgain = resumed.Join(true).client;
    for (int t = KILLED_AT + 1; t <= KILLED_AT + 600; ++t) {
        Play(room, again, t);
        Play(resumed, resumedAgain, t);
        ASSERT_EQ(resumed.Tick(), room.Tick()) << "tick " << t;
    }
    room.Flush();
    resumed.Flush();
    EXPECT_EQ(*resumedText, *kept);
}

// A room resumed from its last checkpoint and the rest of its recording is
// the room resumed from its whole recording: its tick, record, join text
// and later hashes, and the frames it sends on. The checkpoints come at the
// first room second past each period. The last one is taken while a player
// holds a drag begun before its join text starts (a key ended the battle
// mid-drag, and the next one started on a clean canvas): the resumed room
// holds the pointer as the recording does, and lets it go alike.
TEST_F(RoomTest, ARoomIsResumedFromItsCheckpoint) {
    constexpr std::uint64_t EVERY = 190, KILLED_AT = 840, HELD_FROM = 790, WIPED_AT = 795;
    auto memory = std::make_unique<MemoryRecordingSink>();
    const MemoryRecordingSink& sink = *memory;
    Room room(GameRandom(SEED), {.width = 500, .height = 400, .checkpointTicks = EVERY}, std::move(memory));
    const ClientId player = room.Join(true).client;
    std::vector<std::uint64_t> taken;
    std::size_t bytesAtCheckpoint = 0;
    for (std::uint64_t t = 1; t <= KILLED_AT; ++t) {
        Play(room, player, int(t));
        if (t == HELD_FROM) room.Receive(player, Down(LEFT, 60, 70));
        if (t == WIPED_AT) room.Receive(player, Move(64, 71) + Key(KEY_A));
        if (t == WIPED_AT + 1) room.Receive(player, Move(65, 72));
        if (t == KILLED_AT - 20) room.Receive(player, Move(90, 95));
        room.Tick();
        if (sink.LastCheckpoint() && (taken.empty() || taken.back() != sink.LastCheckpoint()->tick)) {
            taken.push_back(sink.LastCheckpoint()->tick);
            bytesAtCheckpoint = sink.Written(MAX_RECORDING_BYTES)->size();
        }
    }
    EXPECT_EQ(taken, (std::vector<std::uint64_t>{200, 400, 600, 800}));
    const RoomCheckpoint checkpoint = *sink.LastCheckpoint();
    EXPECT_EQ(checkpoint.recordingBytes, bytesAtCheckpoint);
    EXPECT_GT(checkpoint.joinTick, HELD_FROM);
    // Its join text starts with an event, which a playback applies before its first tick.
    EXPECT_LT(checkpoint.joinText.find("\nmove "), checkpoint.joinText.find("\ntick "));
    EXPECT_EQ(checkpoint.held, (HeldPointer{LEFT, 65, 72}));
    EXPECT_EQ(CheckCheckpoint(checkpoint), std::nullopt);

    const std::string whole = *sink.Written(MAX_RECORDING_BYTES);
    auto wholeText = std::make_shared<std::string>(whole), restText = std::make_shared<std::string>(whole);
    Room fromWhole(GameRandom(1), {.recording = whole, .resumed = true}, std::make_unique<SharedSink>(wholeText));
    Room fromCheckpoint(GameRandom(1),
                        {.recording = whole.substr(checkpoint.recordingBytes), .resumed = true, .checkpoint = checkpoint},
                        std::make_unique<SharedSink>(restText));
    EXPECT_EQ(fromCheckpoint.Ticks(), KILLED_AT);
    EXPECT_EQ(fromCheckpoint.Ticks(), fromWhole.Ticks());
    EXPECT_EQ(fromCheckpoint.JoinTick(), fromWhole.JoinTick());
    EXPECT_EQ(fromCheckpoint.JoinText(), fromWhole.JoinText());
    EXPECT_EQ(fromCheckpoint.Referee().StateHash(), fromWhole.Referee().StateHash());
    EXPECT_EQ(*restText, *wholeText) << "the drag let go alike, and nothing written twice";
    for (std::uint64_t t = checkpoint.joinTick; t <= KILLED_AT; ++t)
        EXPECT_EQ(fromCheckpoint.HashAt(t), fromWhole.HashAt(t)) << "tick " << t;

    const ClientId a = fromWhole.Join(true).client, b = fromCheckpoint.Join(true).client;
    for (int t = int(KILLED_AT) + 1; t <= int(KILLED_AT) + 600; ++t) {
        Play(fromWhole, a, t);
        Play(fromCheckpoint, b, t);
        ASSERT_EQ(fromCheckpoint.Tick(), fromWhole.Tick()) << "tick " << t;
    }
    EXPECT_EQ(*restText, *wholeText);

    // A checkpoint that does not play to its own hash or tick is refused.
    RoomCheckpoint wrong = checkpoint;
    wrong.stateHash ^= 1;
    EXPECT_NE(CheckCheckpoint(wrong), std::nullopt);
    wrong = checkpoint;
    wrong.tick += 1;
    EXPECT_NE(CheckCheckpoint(wrong), std::nullopt);
}

// A disk that fills for a while: the room tries again at every room second
// and knows up to which tick its sink is whole; once the sink has lost
// text, nothing is appended after it, so that what it holds is the
// recording up to its last whole write, with no gap after it.
TEST_F(RoomTest, AHeldBackSinkIsTriedAgainAndALostOneWrittenNoMore) {
    class Scripted : public SharedSink {
    public:
        using SharedSink::SharedSink;
        SinkState Append(std::string_view text) override {
            ++appends;
            if (next == SinkState::Whole) SharedSink::Append(text);
            return next;
        }
        SinkState next = SinkState::Whole;
        int appends = 0;
    };
    auto sink = std::make_unique<Scripted>(kept);
    Scripted& disk = *sink;
    Room room(GameRandom(SEED), {.width = 500, .height = 400}, std::move(sink));
    const auto second = [&room] {
        for (int t = 0; t < LIVE_TICKS_PER_SECOND; ++t) room.Tick();
    };
    second();
    EXPECT_EQ(room.KeptTicks(), LIVE_TICKS_PER_SECOND);
    disk.next = SinkState::HeldBack;
    second();
    second();
    EXPECT_EQ(room.RecordingState(), SinkState::HeldBack);
    EXPECT_EQ(room.KeptTicks(), LIVE_TICKS_PER_SECOND);
    EXPECT_EQ(disk.appends, 4) << "the head, then one a room second";
    disk.next = SinkState::Whole;
    second();
    EXPECT_EQ(room.RecordingState(), SinkState::Whole);
    EXPECT_EQ(room.KeptTicks(), 4 * LIVE_TICKS_PER_SECOND);

    disk.next = SinkState::Lost;
    second();
    const std::string before = *kept;
    disk.next = SinkState::Whole;
    second();
    second();
    EXPECT_EQ(room.RecordingState(), SinkState::Lost);
    EXPECT_EQ(disk.appends, 6) << "nothing is appended after the lost write";
    EXPECT_EQ(room.KeptTicks(), 4 * LIVE_TICKS_PER_SECOND);
    EXPECT_EQ(*kept, before);
}

}  // namespace
}  // namespace kestrel
