#pragma once
// A room the data folder keeps, read back to be resumed: its record and
// the recording its referee plays through again. Read off the server's
// thread, and only read: a room that cannot come back keeps its files
// exactly as they are.

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "game/Room.h"
#include "server/RoomFiles.h"

namespace kestrel {

struct KeptRoom {
    RoomRecord record;
    RoomStart start;
};

// Room `id` as its files keep it. None when it ended (it is not resumed)
// or cannot come back, and then `error` says why.
struct ReadKept {
    std::optional<KeptRoom> room;
    std::string error;
};
ReadKept ReadKeptRoom(const std::filesystem::path& folder, std::string_view id);

// The ids of the rooms the folder keeps a record or a recording of, in order:
// a recording without its record is a room that cannot come back, and is named.
std::vector<std::string> KeptRoomIds(const std::filesystem::path& folder);

}  // namespace kestrel
