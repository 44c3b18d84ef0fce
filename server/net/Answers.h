#pragma once
// The server's JSON answers: its status, with the protocol's numbers that
// screens and tests read from it, and a new room's links.

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kestrel {

struct StatusCounts {
    std::uint64_t rooms = 0, connections = 0;
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

// /status: the server's name ("" without one), the counts, the rooms
// that cannot write ("unwritable": their ids), and
// "protocol": the numbers a screen keeps to.
std::string StatusJson(const StatusCounts& counts, std::string_view name);

// POST /rooms' answer: the room's id, its play and watch links on the page
// at `page` ("https://HOST/", or empty for links relative to the page).
std::string RoomLinksJson(std::string_view page, std::string_view id, std::string_view key);

}  // namespace kestrel
