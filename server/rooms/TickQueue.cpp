#include "server/rooms/TickQueue.h"

#include <algorithm>

namespace kestrel {

bool TickQueue::Later(const Entry& a, const Entry& b) {
    return a.due != b.due ? a.due > b.due : a.order > b.order;
}

void TickQueue::Push(Entry entry) {
    entry.due = entry.schedule.Due();
    entry.order = queued_++;
    heap_.push_back(std::move(entry));
    std::push_heap(heap_.begin(), heap_.end(), Later);
}

TickQueue::Entry TickQueue::Pop() {
    std::pop_heap(heap_.begin(), heap_.end(), Later);
    Entry entry = std::move(heap_.back());
    heap_.pop_back();
    return entry;
}

void TickQueue::Add(std::weak_ptr<Ticking> room, TickSchedule schedule) {
    Push({.due = {}, .order = 0, .room = std::move(room), .schedule = schedule});
}

std::optional<ServerTime> TickQueue::NextDue() const {
    if (heap_.empty()) return std::nullopt;
    return heap_.front().due;
}

ServerTime TickQueue::QuietestStart(ServerTime from, std::chrono::nanoseconds tick) const {
    std::vector<std::size_t> rooms(std::size_t(tick / TICK_GRID) + 1);  // + 1: a tick need not be whole steps
    for (const Entry& entry : heap_) ++rooms[TickSchedule::Beat(entry.due, tick)];
    const ServerTime first = TickSchedule::OnGrid(from);
    ServerTime quietest = first;
    for (ServerTime start = first; start < first + tick; start += TICK_GRID)
        if (rooms[TickSchedule::Beat(start, tick)] < rooms[TickSchedule::Beat(quietest, tick)]) quietest = start;
    return quietest;
}

TickTally TickQueue::RunBeat(ServerTime now) {
    TickTally tally;
    if (heap_.empty() || heap_.front().due > now) return tally;
    const ServerTime beat = heap_.front().due;
    while (!heap_.empty() && heap_.front().due == beat) {
        Entry entry = Pop();
        const std::shared_ptr<Ticking> room = entry.room.lock();
        if (!room || !room->Tick()) continue;
        ++tally.ticks;
        tally.late += entry.schedule.Sent(now_());
        ticked_.push_back(std::move(entry));
    }
    for (Entry& entry : ticked_) Push(std::move(entry));
    ticked_.clear();
    return tally;
}

}  // namespace kestrel
