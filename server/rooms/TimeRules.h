#pragma once
// The server's rules in time, each given the time now, so that a test
// drives their clock: how many rooms an address may create a minute, when
// an empty room ends, and when a room's ticks are due and late.

#include <chrono>
#include <cstdint>
#include <deque>
#include <map>
#include <optional>
#include <string>

#include "server/base/Limits.h"

namespace kestrel {

using ServerClock = std::chrono::steady_clock;
using ServerTime = ServerClock::time_point;

// A tick sent later than this after its deadline counts as late.
inline constexpr auto LATE_AFTER = std::chrono::milliseconds(5);
// A room's clock further behind than this (the process was stopped, the
// machine slept) skips the ticks it missed rather than racing through them.
inline constexpr auto MAX_CATCH_UP = std::chrono::seconds(1);
// Rooms start their clocks on this grid, so that every room whose tick falls
// due within one step of it is ticked in the same wake of the thread's clock:
// a thread wakes at most a thousand times a second, however many rooms it
// holds, and each room's ticks still come a steady TICK_MS apart.
inline constexpr auto TICK_GRID = std::chrono::milliseconds(1);

// The rooms each address made in the last minute. Only a room made counts:
// a request that is refused costs nothing.
class CreationQuota {
public:
    explicit CreationQuota(int perMinute) : perMinute_(perMinute) {}
    // None when `address` may make a room now, with `onTheWay` of its rooms
    // still being made; else how long until it may.
    std::optional<std::chrono::seconds> Wait(const std::string& address, ServerTime now, std::size_t onTheWay = 0);
    void Count(const std::string& address, ServerTime now);
    std::size_t Addresses() const { return made_.size(); }

private:
    void Forget(ServerTime now);

    int perMinute_;
    std::map<std::string, std::deque<ServerTime>> made_;
};

// A room ends once it has been empty for ROOM_IDLE_LIMIT on end.
class IdleRule {
public:
    // Whether the room, with `people` in it now, has been empty long enough to end.
    bool Ends(std::size_t people, ServerTime now);

private:
    std::optional<ServerTime> emptySince_;
};

// A room's ticks fall due every `tick` from its start, the first point of
// TICK_GRID at or after the time it was given; one sent more than
// LATE_AFTER after its deadline is late.
class TickSchedule {
public:
    TickSchedule(std::chrono::nanoseconds tick, ServerTime start) : tick_(tick), start_(OnGrid(start)) {}
    ServerTime Due() const { return start_ + tick_ * (ticksSinceStart_ + 1); }
    // The tick due was sent at `now`: answers whether it was late. A
    // schedule far behind skips the ticks it missed rather than racing
    // through them, and keeps its beat.
    bool Sent(ServerTime now);

    static ServerTime OnGrid(ServerTime time);
    // Which step of the grid within a tick `time` falls on.
    static std::size_t Beat(ServerTime time, std::chrono::nanoseconds tick);

private:
    std::chrono::nanoseconds tick_;
    ServerTime start_;
    std::uint64_t ticksSinceStart_ = 0;
};

}  // namespace kestrel
