#pragma once
// A kept room read back to be resumed: its record, and its recording from
// its checkpoint when that is good (the join text, then only the
// recording's lines after it, read from there), else the whole recording.
// Read off the server's thread, and only read: a room that cannot come back
// keeps its files exactly as they are.

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

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

// The ids of the rooms the folder keeps a record or a recording of, in order:
// a recording without its record is a room that cannot come back, and is named.
std::vector<std::string> KeptRoomIds(const std::filesystem::path& folder);

}  // namespace kestrel
