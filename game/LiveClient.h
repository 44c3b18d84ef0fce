#pragma once
// A screen's side of a room: the frames its referee sends, handed to the
// game that follows the room's battle, what the room's notices say, and
// what goes back: the screen's own pointer events and keys, which the game
// hands here instead of applying them, and the hash of the battle every so
// many of the referee's ticks. The window and the page each keep only the
// connection.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "game/Game.h"
#include "game/LiveWire.h"
#include "game/Recording.h"

namespace kestrel {

// Whether a screen's event goes to the referee at once: a press, a release
// or a key, which the player waits to see answered. A move waits for the
// screen's next tick, so that the room gets one a tick at most.
bool GoesOutAtOnce(const RecordedStep& step);

class LiveClient {
public:
    // A watcher (mayPlay false) sends only its hashes.
    explicit LiveClient(Game& game, bool mayPlay = true) : game_(game), mayPlay_(mayPlay) {}
    // The game goes on with its own input and no hashes.
    ~LiveClient();
    LiveClient(const LiveClient&) = delete;
    LiveClient& operator=(const LiveClient&) = delete;

    // One frame from the referee. A frame that cannot be followed is
    // refused with the reason; the connection should then be dropped and
    // made again.
    std::optional<std::string> Receive(std::string_view frame);
    // A new connection: the referee starts again with a join.
    void Reconnected() { joinedAt_.reset(), joined_ = false, joinScores_ = {}; }
    // One tick of the screen's timer: of the ticks that have come, one while
    // the screen keeps up, all but one when it lags (LiveTicksToRun). Before
    // the first join the game runs its own battle.
    void Tick();

    // The lines to send the referee now, and forgets them: the screen's
    // events in order (a move replaces the move not yet taken before it)
    // and its hashes; a watcher's are its hashes alone.
    std::string TakeOutgoing();
    // Whether those lines hold an event that goes out at once
    // (GoesOutAtOnce); moves and hashes may wait for the next tick.
    bool OutgoingIsUrgent() const { return urgent_; }

    // Whether the battle is being followed, how many are in the room, and
    // how often this screen was told it had drifted (and at which tick last).
    bool Joined() const { return joined_; }
    std::uint64_t People() const { return people_; }
    std::uint64_t Mismatches() const { return mismatches_; }
    std::uint64_t LastMismatchTick() const { return lastMismatchTick_; }

    // The seat the room gave this screen (none for a watcher), and the
    // token that takes it back on a new connection within the grace; kept
    // through Reconnected. Whether the room said all its seats were taken,
    // so that this screen with the play link watches. Each seat's player,
    // as the room last said; the scores are the followed game's
    // (Game::SeatRecord), the same on every screen at the same tick.
    std::optional<int> OwnSeat() const { return ownSeat_; }
    const std::string& SeatToken() const { return seatToken_; }
    bool SeatsWereFull() const { return seatsWereFull_; }
    const std::vector<SeatPresence>& Roster() const { return roster_; }

private:
    void TakeTheGamesInput();
    void TakeScores(const std::vector<std::uint64_t>& values);
    void Send(const RecordedStep& step);
    void AfterFollowedTick(std::uint64_t tick);

    Game& game_;
    bool mayPlay_;
    std::optional<std::uint64_t> joinedAt_;  // the tick of the join text to come
    bool joined_ = false;
    std::uint64_t people_ = 0;
    std::uint64_t mismatches_ = 0;
    std::uint64_t lastMismatchTick_ = 0;
    std::optional<int> ownSeat_;
    std::string seatToken_;
    bool seatsWereFull_ = false;
    std::vector<SeatPresence> roster_;
    SeatScores joinScores_{};  // where the join text to come starts
    std::string outgoing_;
    bool urgent_ = false;
    std::size_t lastMoveAt_ = std::string::npos;  // where a move that may still be replaced starts
};

}  // namespace kestrel
