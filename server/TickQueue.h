#pragma once
// Every room of a thread on one clock. Each room keeps its own schedule:
// its ticks fall due every TICK_MS from its own start, on the beat of the
// grid that the fewest rooms shared when it came, so that each wake ticks
// about as many rooms as the next. The queue is woken at the earliest time
// due and ticks every room due by then, earliest first, each once a wake:
// a room behind comes again at the next wake, after the thread's other
// work, so that nothing starves while rooms catch up. No network here: the
// time now is asked of the clock it is given, so a test drives it.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "server/TimeRules.h"

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
    // Ticks every room due by `now` once, earliest first. Each tick is timed
    // when it has been sent, so a room reached late in a long wake counts
    // as late.
    TickTally RunDue(ServerTime now);
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
