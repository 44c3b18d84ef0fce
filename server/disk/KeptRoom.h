#pragma once
// A kept room read back to be resumed: its record, and its recording from
// its checkpoint when that is good (the join text, then only the
// recording's lines after it, read from there), else the whole recording.
// Read off the server's thread, and only read: a room that cannot come back
// keeps its files exactly as they are.

#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "game/Room.h"
#include "game/Result.h"
#include "server/disk/RoomFiles.h"

namespace kestrel {

struct RoomToResume {
    std::string key;
    bool listed = false;
    RoomStart start;
    // Why the room's checkpoint was not used, for the log; empty when it
    // was, or when there was none.
    std::string damagedCheckpoint = {};
};

// The room as kept, or why it cannot be resumed (it ended, or its files
// are damaged).
Result<RoomToResume> ReadKeptRoom(const std::filesystem::path& folder, std::string_view id);

// The file a kept room read by ReadKeptRoom goes on in. A checkpoint it
// passed over is removed first: once the room appends past the bytes it
// names, they are this battle's next lines, not those it was taken after.
// None when that checkpoint cannot be removed.
std::unique_ptr<RoomRecordingSink> KeptRecording(const std::filesystem::path& folder, std::string_view id,
                                                 const RoomToResume& kept, CheckpointWriter* checkpoints);

// The ids of the rooms the folder keeps that had not ended, in order: those
// with a record that does not say so, and recordings without a record,
// rooms that cannot come back and are named. A folder keeps every room ever
// made; the ended ones are not waited for.
std::vector<std::string> RoomsToResume(const std::filesystem::path& folder);

}  // namespace kestrel
