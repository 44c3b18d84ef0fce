// Players in a room's seats: each one's own tank, a seat kept through a
// drop for the grace and given to the next player after it, the seats
// written into the recording so that the replay tool reaches the same
// record and scores, and what a screen may not do.

#include <gtest/gtest.h>

#include <memory>
#include <sstream>
#include <string>

#include "game/Room.h"
#include "input/Pointer.h"
#include "trace/TraceFormat.h"
#include "trace/TraceScript.h"

namespace kestrel {
namespace {

using Kind = RecordedStep::Kind;

constexpr std::uint64_t SEED = 0x5eed;

std::string Token(char digit) { return std::string(SEAT_TOKEN_DIGITS, digit); }

std::string Press(std::int16_t button, float x, float y) {
    return WriteStep({.kind = Kind::Down, .button = button, .x = x, .y = y}) +
           WriteStep({.kind = Kind::Up, .button = button, .x = x, .y = y});
}

// The room's sink, read back as the file it stands for.
class KeptSink : public MemoryRecordingSink {
public:
    explicit KeptSink(std::string*& text) { text = &text_; }
    SinkState Append(std::string_view text) override {
        text_ += text;
        return SinkState::Whole;
    }

private:
    std::string text_;
};

struct Rooms : ::testing::Test {
    std::string* kept = nullptr;
    Room room{GameRandom(SEED), {}, std::make_unique<KeptSink>(kept)};

    const std::string& Recorded() {
        room.Flush();
        return *kept;
    }
    void Ticks(std::uint64_t count) {
        for (std::uint64_t i = 0; i < count; ++i) room.Tick();
    }
    ClientId Player(char token) { return room.Join(true, {}, Token(token)).client; }
    // The highest live tank other than `notSlot`.
    int LiveTankBut(int notSlot) const {
        const Battlefield& bf = room.Referee().Field();
        for (int s = SLOT_COUNT - 1; s >= 0; --s)
            if (s != notSlot && IsLive(bf, s)) return s;
        return -1;
    }
    // A press and release right on a tank: the pointer's depth is the tank's.
    std::string PressOn(int slot, std::int16_t button = LEFT_BUTTON) const {
        const Battlefield& bf = room.Referee().Field();
        const double y = 0.5 * bf.tankY[slot] + 0.25 * room.Referee().Height();
        return Press(button, float(bf.tankX[slot]), float(y));
    }
    static bool Has(const std::string& text, const std::string& line) { return text.find(line) != std::string::npos; }
};

// Three players and a watcher: each left release orders the releasing
// player's tank and no other; right releases and keys act for all, from
// any seat. The room's recording replays to its record and its scores.
TEST_F(Rooms, EachPlayersReleaseOrdersTheirOwnTankAndTheRecordingReplaysToTheScores) {
    const ClientId a = Player('a'), b = Player('b'), c = Player('c');
    const ClientId watcher = room.Join(false).client;
    EXPECT_EQ(room.SeatNotice(b), "# seat 1 " + Token('b') + "\n");
    EXPECT_EQ(room.SeatNotice(watcher), "");
    EXPECT_EQ(room.RosterNotice(), "# roster here here here\n");
    EXPECT_EQ(room.SeatRecord().count, 3);
    for (int round = 0; round < 40; ++round) {
        Ticks(97);
        const ClientId player = round % 3 == 0 ? a : round % 3 == 1 ? b : c;
        const int seat = int(round % 3);
        const int target = LiveTankBut(seat);
        if (target < 0) continue;
        const PerSlot<Slot> before = room.Referee().Field().tankTarget;
        ASSERT_EQ(room.Receive(player, PressOn(target)).refusal, std::nullopt);
        PerSlot<Slot> expected = before;
        expected[seat] = Slot(target);
        EXPECT_EQ(room.Referee().Field().tankTarget, expected) << "round " << round;
        if (round % 10 == 9) room.Receive(player, PressOn(target, RIGHT_BUTTON));
    }
    Ticks(3000);
    const Seats& seats = room.SeatRecord();
    std::uint64_t kills = 0;
    for (int k = 0; k < seats.count; ++k) kills += seats.scores[k].kills;
    EXPECT_GT(kills, 0u) << "the battles took some tanks";

    const std::string& recording = Recorded();
    EXPECT_TRUE(Has(recording, "version 3\nseats 2\n") && Has(recording, "seats 3\n") && Has(recording, "as 2\n"));
    std::ostringstream out, err;
    ASSERT_EQ(RunTraceScript(recording + "state\nscore\n", out, err), TRACE_OK) << err.str();
    EXPECT_TRUE(out.str().ends_with(FormatState(room.Referee().Field()) + FormatScores(seats)));
}

// A player who drops has the grace to come back to the seat with its
// token, scores and all; past it the seat is the next player's, from 0.
TEST_F(Rooms, ADroppedPlayerComesBackWithinTheGraceAndTheSeatIsFreeAfterIt) {
    Player('a');
    const ClientId b = Player('b'), c = Player('c');
    Ticks(10);
    room.Leave(b);
    EXPECT_EQ(room.RosterNotice(), "# roster here away here\n");
    Ticks(SEAT_GRACE_TICKS - 1);
    const Admission back = room.Join(true, Token('b'), Token('x'));
    EXPECT_EQ(back.seat, 1);
    EXPECT_EQ(room.SeatNotice(back.client), "# seat 1 " + Token('b') + "\n");
    EXPECT_FALSE(Has(Recorded(), "join"));

    // Away for the whole grace: the middle seat is free, its number stays.
    room.Leave(back.client);
    Ticks(SEAT_GRACE_TICKS + 1);
    EXPECT_EQ(room.RosterNotice(), "# roster here gone here\n");
    const Admission late = room.Join(true, Token('b'), Token('d'));
    EXPECT_EQ(late.seat, 1);
    EXPECT_TRUE(late.refusedToken.has_value()) << "a token too old brings back nothing";
    Ticks(1);
    EXPECT_TRUE(Has(Recorded(), "join 1\n"));
    EXPECT_EQ(room.SeatRecord().scores[1], SeatScore{});

    // The highest seat freed: the seats' number falls, and a seat added
    // back starts again.
    room.Leave(c);
    Ticks(SEAT_GRACE_TICKS + 1);
    EXPECT_EQ(room.SeatRecord().count, 2);
    EXPECT_EQ(room.Join(true, {}, Token('e')).seat, 2);
    EXPECT_EQ(room.SeatRecord().count, 3);
    EXPECT_EQ(room.SeatRecord().scores[2], SeatScore{});

    // Tokens of nothing here: another room's, or forged.
    const Admission forged = room.Join(true, Token('f'), Token('g'));
    EXPECT_TRUE(forged.refusedToken.has_value());
    EXPECT_EQ(forged.seat, 3);
}

// Past six players a screen with the play link watches, and is told why;
// a burst of joins never gives one seat twice. No screen writes the seats.
TEST_F(Rooms, SeatsNeverGoPastSixAndScreensSendNoSeatLines) {
    for (char t = 'a'; t < 'f'; ++t) Player(t);
    int seated = 0;
    ClientId full = 0;
    for (int i = 0; i < 40; ++i) {
        const Admission joined = room.Join(true, {}, Token('0'));
        seated += joined.seat.has_value();
        if (joined.seatsFull) full = joined.client;
    }
    EXPECT_EQ(seated, 1);
    EXPECT_EQ(room.SeatsTaken(), 6u);
    EXPECT_EQ(room.SeatRecord().count, MAX_SEATS);
    EXPECT_EQ(room.SeatNotice(full), "# watching 6\n");
    // A player with no seat watches: its events are let go, and it stays.
    EXPECT_EQ(room.Receive(full, Press(RIGHT_BUTTON, 100, 200)).refusal, std::nullopt);
    EXPECT_FALSE(Has(room.Tick(), "up 2"));
    for (const std::string line : {"as 1\n", "seats 2\n", "join 0\n"}) {
        EXPECT_NE(room.Receive(1, line).refusal, std::nullopt) << line;
        EXPECT_NE(room.Receive(room.Join(false).client, line).refusal, std::nullopt) << line;
    }
}

// One player alone writes no seat line: the recording is what it was
// before rooms had seats.
TEST_F(Rooms, AOnePlayerRoomWritesNoSeatLines) {
    const ClientId player = Player('a');
    for (int round = 0; round < 5; ++round) {
        Ticks(200);
        const int target = LiveTankBut(0);
        if (target >= 0) room.Receive(player, PressOn(target));
    }
    room.Leave(player);
    Ticks(SEAT_GRACE_TICKS + 10);
    const std::string& recording = Recorded();
    EXPECT_TRUE(recording.starts_with("version 1\n"));
    for (const std::string seatLine : {"version 3", "seats", "as ", "join"})
        EXPECT_FALSE(Has(recording, seatLine)) << seatLine;
}

// The same events from one player, and the room writes, byte for byte, the
// recording it wrote before rooms had seats (kept below as that build
// wrote it): nothing of the seats shows in a room of one.
TEST_F(Rooms, AOnePlayerRoomWritesByteForByteWhatItWroteBeforeSeats) {
    constexpr const char* BEFORE_SEATS =
    "version 1\n"
    "seed 24301\n"
    "size 696 548\n"
    "reseed 9587389500487046940\n"
    "tick 40\n"
    "tick 40\n"
    "tick 40\n"
    "tick 30\n"
    "down 1 200 150\n"
    "move 260 180\n"
    "up 1 260 180\n"
    "tick 10\n"
    "tick 40\n"
    "tick 40\n"
    "tick 40\n"
    "tick 20\n"
    "down 2 400 200\n"
    "up 2 400 200\n"
    "tick 20\n"
    "tick 40\n"
    "tick 40\n"
    "tick 40\n"
    "tick 10\n"
    "key 119\n"
    "reseed 15214728313285717089\n"
    "tick 30\n"
    "tick 40\n"
    "tick 40\n"
    "tick 40\n"
    "down 1 300 100\n"
    "up 1 300 100\n"
    "tick 40\n"
    "tick 40\n"
    "tick 40\n"
    "tick 30\n"
    "key 13\n"
    "reseed 6458400021443585503\n"
    "tick 10\n"
    "tick 40\n"
    "tick 40\n"
    "tick 40\n"
    "tick 40\n"
    "tick 40\n"
    "tick 40\n"
    "tick 40\n"
    "tick 40\n"
    "tick 40\n"
    "tick 30\n";
    const ClientId player = Player('a');
    for (const char* frame : {"down 1 200 150\nmove 260 180\nup 1 260 180\n", "down 2 400 200\nup 2 400 200\n",
                              "key 119\n", "down 1 300 100\nup 1 300 100\n", "key 13\n"}) {
        Ticks(150);
        room.Receive(player, frame);
    }
    Ticks(300);
    room.Leave(player);
    Ticks(100);
    EXPECT_EQ(Recorded(), BEFORE_SEATS);
}

}  // namespace
}  // namespace kestrel
