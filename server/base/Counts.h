#pragma once
// What /status counts: a plain snapshot (StatusCounts) made when asked,
// from the server's running counts (ServerCounts, each moved by a named
// increment where the event happens) and the rooms' own (the registry adds
// them).

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace kestrel {

struct StatusCounts {
    std::uint64_t rooms = 0, connections = 0;
    std::uint64_t seats = 0;      // taken by players here or away, in every room
    std::uint64_t resuming = 0;   // kept rooms still to come back
    std::uint64_t mismatches = 0, hashesChecked = 0;
    std::uint64_t ticks = 0;      // of every room
    std::uint64_t lateTicks = 0;  // sent more than LATE_AFTER after their time
    // Spent ticking rooms (their rules and frames, not the sends), so that
    // a tick's cost on this machine can be read over any stretch.
    std::chrono::nanoseconds ticking{};
    std::uint64_t dropped = 0;    // screens that fell behind or stopped answering
    std::uint64_t refused = 0;    // screens closed for what they sent
    std::vector<std::string> unwritable;  // the rooms whose recordings cannot be written now
    // Checkpoints written, and those the disk refused (the room keeps its
    // recording whole, and plays it all at the next start if need be).
    std::uint64_t checkpoints = 0, checkpointsFailed = 0;
};

class ServerCounts {
public:
    // A wake of the rooms' clock sent `ticks`, `late` of them late, in `took`.
    void Ticked(std::uint64_t ticks, std::uint64_t late, std::chrono::nanoseconds took) {
        counts_.ticks += ticks;
        counts_.lateTicks += late;
        counts_.ticking += took;
    }
    void ScreenDropped() { ++counts_.dropped; }
    void ScreenRefused() { ++counts_.refused; }
    // The counts so far; the rooms' own are not among them.
    StatusCounts Snapshot() const { return counts_; }

private:
    StatusCounts counts_;
};

}  // namespace kestrel
