#pragma once
// A kept room read back to be resumed: its record, and its recording from
// its checkpoint when that is good (the join text, then only the
// recording's lines after it, read from there), else the whole recording.

#include <filesystem>
#include <string>
#include <string_view>

#include "game/Room.h"
#include "server/Refusal.h"

namespace kestrel {

struct RoomToResume {
    std::string key;
    RoomStart start;
    // Why the room's checkpoint was not used, for the log; empty when it
    // was, or when there was none.
    std::string damagedCheckpoint = {};
};

// Gone when the room has ended; Broken, with the reason, when it cannot be
// resumed.
Outcome<RoomToResume> ReadKeptRoom(const std::filesystem::path& folder, std::string_view id);

}  // namespace kestrel
