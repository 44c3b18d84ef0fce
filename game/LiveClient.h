#pragma once
// A screen's side of a room: the frames its referee sends, handed to the
// game that follows the room's battle, and what the room's notices say.
// The window and the page each keep only the connection.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "game/Game.h"

namespace kestrel {

class LiveClient {
public:
    // A watcher (mayPlay false) sends only its hashes.
    explicit LiveClient(Game& game, bool mayPlay = true) : game_(game), mayPlay_(mayPlay) {}

    // One frame from the referee. A frame that cannot be followed is
    // refused with the reason; the connection should then be dropped and
    // made again.
    std::optional<std::string> Receive(std::string_view frame);
    // A new connection: the referee starts again with a join.
    void Reconnected() { joinedAt_.reset(), joined_ = false; }
    // The lines to send the referee now: the game's outgoing lines, of
    // which a watcher keeps only the hashes.
    std::string TakeOutgoing();

    // Whether the battle is being followed, how many are in the room, and
    // how often this screen was told it had drifted (and at which tick last).
    bool Joined() const { return joined_; }
    std::uint64_t People() const { return people_; }
    std::uint64_t Mismatches() const { return mismatches_; }
    std::uint64_t LastMismatchTick() const { return lastMismatchTick_; }

private:
    Game& game_;
    bool mayPlay_;
    std::optional<std::uint64_t> joinedAt_;  // the tick of the join text to come
    bool joined_ = false;
    std::uint64_t people_ = 0;
    std::uint64_t mismatches_ = 0;
    std::uint64_t lastMismatchTick_ = 0;
};

}  // namespace kestrel
