#pragma once
// The rooms on their way to playing: kept rooms still to come back, one at
// a time in the order given, and rooms being made from a recording; and
// the screens waiting for a kept room to come back. They count against the
// server's rooms as if they played. Plain bookkeeping on the server's
// thread; the building itself is the RoomBuilder's.

#include <cstddef>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "server/base/Refusal.h"

namespace kestrel {

class LiveRoom;

class RoomsComing {
public:
    // What a screen waiting for a room is told: the room, or why it will not come.
    using Found = Outcome<std::shared_ptr<LiveRoom>>;
    using Waiter = std::function<void(Found)>;

    // Kept rooms to come back, after those already expected.
    void Expect(const std::vector<std::string>& ids);
    // The next kept room to build, which is then being built; none when
    // one is being built already, or none is left.
    std::optional<std::string> Next();
    // Whether room `id` is still to come back (waiting, or being built).
    bool Expects(std::string_view id) const;
    // A screen waits for room `id`, which is expected.
    void Wait(std::string_view id, Waiter waiter);
    // Room `id` is back, or cannot come back: it is no longer expected,
    // and the screens that waited for it are answered, in the order they came.
    std::vector<Waiter> Arrived(std::string_view id);

    // A room being made from a recording, until it is made or refused.
    void OrderTaken() { ++ordered_; }
    void OrderDone() { --ordered_; }

    // Kept rooms still to come back.
    std::size_t Resuming() const { return queued_.size() + (building_ ? 1 : 0); }
    // Every room on its way, as it counts against the server's rooms.
    std::size_t Count() const { return Resuming() + ordered_; }
    // The server stops: nobody waits any more.
    void Forget();

private:
    std::deque<std::string> queued_;
    std::optional<std::string> building_;
    std::map<std::string, std::vector<Waiter>, std::less<>> waiters_;
    std::size_t ordered_ = 0;
};

}  // namespace kestrel
