#pragma once
// The referee of one live room: the battle every screen in the room
// follows. It applies the players' events between ticks in the order they
// come, one hand on the field at a time; it writes each tick's frame for
// every screen, keeps what a screen that joins late needs (the last clean
// canvas and the steps since), checks the screens' hashes against its own,
// and appends the whole recording to a sink (the server's: a file), so that
// a room that runs for days holds no more in memory than it did after a
// minute, and a room whose server was killed is resumed from it. No network
// and no files here: the server hands it frames and sends what it answers.

#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "game/Game.h"
#include "game/LiveWire.h"
#include "game/RecordingSink.h"
#include "game/RoomSeats.h"

namespace kestrel {

// Hashes kept for comparison, one at every HASH_EVERY_TICKS ticks.
inline constexpr std::size_t HASH_RING_SIZE = 64;
// The steps since the last clean canvas a room keeps for late joins. Past
// it the room starts its join text afresh from the record as it is: a late
// screen then misses what was drawn before, never the battle itself.
inline constexpr std::size_t MAX_JOIN_HISTORY_BYTES = 1u << 20;

// The longest recording a room starts from: it is played through at once,
// before the room's first tick.
inline constexpr std::uint64_t MAX_START_TICKS = 100'000;

// How often a room keeps a checkpoint: a restart plays what follows the
// last one (and its join text), well under a second even for the busiest
// battles, rather than the room's whole recording.
inline constexpr std::uint64_t CHECKPOINT_EVERY_TICKS = 2 * 60 * LIVE_TICKS_PER_SECOND;
// Nor does the join history span more than ten minutes of ticks: a late
// screen, and a checkpoint's replay, play it whole, and a battle whose
// tanks never fall has no clean canvas for good. Ordinary rooms meet a
// clean canvas well within it, so their late screens miss nothing.
inline constexpr std::uint64_t MAX_JOIN_HISTORY_TICKS = 10 * 60 * LIVE_TICKS_PER_SECOND;

// How a room begins: a fresh battle of a size, or a recording it plays
// through and goes on from (a battle picked up from its record, say), whose
// size it takes.
struct RoomStart {
    int width = START_WIDTH, height = START_HEIGHT;
    std::string recording = {};  // none: a fresh battle
    // The recording is what the room's own sink holds, read back after a
    // restart: the room goes on where it ends and appends only what follows.
    bool resumed = false;
    // A resumed room's checkpoint, which CheckCheckpoint found good: the
    // room plays its join text, then `recording`, the rest of its sink's
    // recording after the checkpoint's bytes.
    std::optional<RoomCheckpoint> checkpoint = {};
    std::uint64_t checkpointTicks = CHECKPOINT_EVERY_TICKS;
};
// Why a recording cannot start a room, as playing it back would refuse it;
// none when it can.
std::optional<std::string> CheckStartRecording(std::string_view recording);
// Why a checkpoint cannot resume a room (its join text does not read, does
// not reach its tick, or plays to another hash); none when it can.
std::optional<std::string> CheckCheckpoint(const RoomCheckpoint& checkpoint);

// A screen let into the room: a player has a seat, unless every seat was
// taken; a token that brought back no seat is named, with why, for the log.
struct Admission {
    ClientId client = 0;
    std::optional<int> seat;
    bool seatsFull = false;
    std::optional<std::string> refusedToken;
};

// What the room makes of a screen's frame: the receipt its session acts on.
struct FrameReceipt {
    std::optional<std::string> refusal;           // why the screen must go; none if it stays
    bool leaves = false;                          // it pressed Esc: it goes of its own accord
    std::optional<std::uint64_t> mismatchAt;      // its hash at this tick differed from the room's
};

class Room {
public:
    // The room's recording goes to `sink`, brought up to date once a room
    // second, and a checkpoint every start.checkpointTicks. A start recording has passed CheckStartRecording; a resumed
    // one reads as a recording and is what the sink holds already.
    Room(GameRandom random, const RoomStart& start, std::unique_ptr<RecordingSink> sink,
         std::size_t maxJoinHistory = MAX_JOIN_HISTORY_BYTES);
    Room(const Room&) = delete;
    Room& operator=(const Room&) = delete;

    // A screen comes: a player may send events, a watcher only hashes. A
    // player takes the seat its token keeps for it, or the lowest free one
    // with `freshToken` as its token (the server draws it). It is sent
    // JoinedNotice, ScoresNotice, SeatNotice, the people and roster notices
    // and JoinText, then each tick's frame.
    Admission Join(bool mayPlay, std::string_view seatToken = {}, std::string freshToken = {});
    // A screen goes; a drag it holds is released where its pointer last was,
    // and its seat is kept for it for SEAT_GRACE_TICKS.
    void Leave(ClientId client);
    FrameReceipt Receive(ClientId client, std::string_view frame);

    // One tick of the battle; answers the frame every screen is sent.
    const std::string& Tick();

    std::string JoinedNotice() const;
    std::string PeopleNotice() const;
    // The seats' scores where the join text starts.
    std::string ScoresNotice() const;
    // The screen's seat and its token, or that every seat is taken; empty
    // for a watcher that came with a watch link.
    std::string SeatNotice(ClientId client) const;
    // Each seat's player: here, away, or gone.
    std::string RosterNotice() const;
    // Whether a seat changed hands or presence since the last call: the
    // roster notice is then sent to every screen.
    bool TakeRosterChange() { return std::exchange(rosterChanged_, false); }
    // Seats held by players here or away, and the seats' number.
    std::size_t SeatsTaken() const { return seats_.Taken(); }
    std::vector<SeatPresence> Roster() const { return seats_.Roster(game_.SeatRecord().count); }
    const Seats& SeatRecord() const { return game_.SeatRecord(); }
    // The recording from the last clean canvas up to the last tick.
    std::string JoinText() const;
    std::uint64_t JoinTick() const { return anchorTick_; }

    std::uint64_t Ticks() const { return ticks_; }
    std::size_t People() const { return clients_.size(); }
    std::uint64_t Mismatches() const { return mismatches_; }
    std::uint64_t HashesChecked() const { return hashesChecked_; }
    // The room's hash at `tick`, while it is kept.
    std::optional<std::uint64_t> HashAt(std::uint64_t tick) const;

    // Brings the sink up to date to the last tick (as every room second),
    // for a room that ends or a server that stops.
    void Flush();
    // What the sink held after the last flush, and the room's tick up to
    // which it holds the recording whole.
    SinkState RecordingState() const { return sinkState_; }
    // The room is made, and its sink takes the room's name (RecordingSink::Settle).
    bool SettleRecording() { return sink_->Settle(); }
    std::uint64_t KeptTicks() const { return keptTicks_; }
    const Game& Referee() const { return game_; }

private:
    struct Client {
        bool mayPlay = false;
        bool seatsFull = false;  // a player with no seat left, who watches
        std::uint64_t window = 0;  // the room second its lines are counted in
        int lines = 0;
    };
    // The pointer, held by one player from a down to the up of its button.
    struct Claim {
        ClientId holder;
        std::optional<int> seat;  // the holder's
        std::int16_t button;
        float x, y;  // where the holder's pointer last was
    };
    // A clean canvas met in the course of a frame: after its step `step`.
    struct CleanCanvas {
        Battlefield record;
        Seats seats;
        std::uint64_t state;
        int width, height;
        std::size_t step;
        std::uint64_t tick;
    };
    struct CheckedHash {
        std::uint64_t tick = 0, hash = 0;
        bool kept = false;
    };

    void GoOnFrom(const RoomCheckpoint& checkpoint, const std::string& rest);
    void TakeUpHand();
    void KeepCheckpoint();
    void Observed(const RecordedStep& step);
    void EndFrame();
    void Apply(ClientId client, const RecordedStep& step);
    void FollowReplayedHand(const RecordedStep& step);
    void ReleaseClaim();
    bool CountLines(Client& client, std::size_t lines);
    void Anchor();
    void StartHistory(std::uint64_t state, int width, int height, const Battlefield& record, const Seats& seats,
                      std::uint64_t tick);
    void NoteClear();
    void KeepHash();
    void ActFor(std::optional<int> seat);
    void Seat(const RoomSeats::Given& taken);
    void ExpireSeats();

    Game game_;
    std::unique_ptr<RecordingSink> sink_;
    SinkState sinkState_ = SinkState::Whole;
    std::uint64_t keptTicks_ = 0;
    std::size_t maxJoinHistory_;
    std::map<ClientId, Client> clients_;
    RoomSeats seats_;
    bool rosterChanged_ = false;
    SeatScores anchorScores_{};  // where the join text starts
    ClientId nextClient_ = 1;
    std::optional<Claim> claim_;
    bool replaying_ = false;  // the recording the room starts from
    // A room resumed from a checkpoint holds the pointer as its checkpoint
    // did, from its tick on: the join text may not show the press.
    struct HandAt {
        std::uint64_t tick;
        std::optional<HeldPointer> held;
    };
    std::optional<HandAt> resumedHand_;
    std::uint64_t recordedBytes_ = 0;  // all the sink was given, a resumed one's first
    std::uint64_t checkpointEvery_, nextCheckpoint_ = 0;
    std::uint64_t ticks_ = 0;
    std::string frame_;              // this tick's frame, as it grows
    std::vector<RecordedStep> frameSteps_;  // its steps, for the join history
    std::string sent_;               // the last frame to end, at its tick
    Recorder sinceClean_;            // the recording from the last clean canvas
    std::size_t anchorBytes_ = 0;    // of it, the head that sets the record
    std::uint64_t anchorTick_ = 0;
    std::uint64_t clearsSeen_ = 0;
    std::optional<CleanCanvas> cleanInFrame_;
    std::array<CheckedHash, HASH_RING_SIZE> hashes_{};
    std::uint64_t mismatches_ = 0;
    std::uint64_t hashesChecked_ = 0;
};

}  // namespace kestrel
