#pragma once
// Every room of a thread on one clock. Each room keeps its own schedule:
// its ticks fall due every TICK_MS from its own start, on the beat of the
// grid that the fewest rooms shared when it came, so that each wake ticks
// about as many rooms as the next. The queue is woken at the earliest time
// due and ticks the rooms of that one beat, each once: a wake's frames go
// out together when it ends, so a thread that fell behind (paused, or
// busy) goes through the beats it owes a wake each, sending each beat's
// frames as it goes and doing the thread's other work between them,
// rather than holding every frame until the last room due has ticked. No
// network here: the time now is asked of the clock it is given, so a test
// drives it.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "server/rooms/TimeRules.h"

namespace kestrel {

// What the queue ticks: a room.
class Ticking {
public:
    virtual ~Ticking() = default;
    // Ticks once and answers true; or answers false, not ticking, when
    // it ticks no more (it was stopped), and leaves the queue.
    virtual bool Tick() = 0;
};

// Ticks sent in one wake, and how many of them later than LATE_AFTER.
struct TickTally {
    std::uint64_t ticks = 0, late = 0;
};

class TickQueue {
public:
    using Clock = std::function<ServerTime()>;
    explicit TickQueue(Clock now) : now_(std::move(now)) {}

    // A room gone (its last owner let it go) simply leaves the queue.
    void Add(std::weak_ptr<Ticking> room, TickSchedule schedule);
    std::optional<ServerTime> NextDue() const;
    // Where a room's ticks should start: the first point of the grid from
    // `from` on the beat the fewest rooms share, so that each wake ticks
    // about as many rooms as the next, however the rooms came.
    ServerTime QuietestStart(ServerTime from, std::chrono::nanoseconds tick) const;
    // Ticks once every room of the earliest beat, if it is due by `now`, in
    // the order they came. Each tick is timed when its frame has been made,
    // so a room reached late in a slow wake counts as late.
    TickTally RunBeat(ServerTime now);
    std::size_t Size() const { return heap_.size(); }

private:
    struct Entry {
        ServerTime due;
        std::uint64_t order;  // among rooms due at once, the first queued first
        std::weak_ptr<Ticking> room;
        TickSchedule schedule;
    };
    static bool Later(const Entry& a, const Entry& b);
    void Push(Entry entry);
    Entry Pop();

    Clock now_;
    std::vector<Entry> heap_;
    std::vector<Entry> ticked_;  // in this wake; kept to spare an allocation a wake
    std::uint64_t queued_ = 0;
};

}  // namespace kestrel
