#include "server/KeptRoom.h"

#include <algorithm>

#include "game/Recording.h"
#include "game/RoomId.h"

namespace kestrel {
namespace {

constexpr std::string_view RECORDING_EXTENSION = ".recording";

// Why the recording of a room that had not ended cannot be played on from; none when it can.
std::optional<std::string> RecordingFault(const std::optional<std::string>& recording) {
    if (!recording) return "its recording cannot be read, or is longer than a replay reads";
    // Every room writes its recording's head when it opens: an empty one lost the battle.
    if (recording->empty()) return "its recording is empty";
    const std::string error = ReadRecordingText(*recording).error;
    if (!error.empty()) return "its recording is damaged: " + error;
    return std::nullopt;
}

}  // namespace

ReadKept ReadKeptRoom(const std::filesystem::path& folder, std::string_view id) {
    std::error_code ec;
    if (!std::filesystem::exists(RoomRecordFile(folder, id), ec))
        return {.room = std::nullopt, .error = "it has a recording but no record (" + std::string(id) + ".room)"};
    ReadRoom read = ReadRoomRecord(folder, id);
    if (!read.room) return {.room = std::nullopt, .error = std::move(read.error)};
    if (read.room->ended) return {};
    std::optional<std::string> recording = ReadWholeLines(RoomRecordingFile(folder, id), MAX_RECORDING_BYTES);
    if (std::optional<std::string> fault = RecordingFault(recording))
        return {.room = std::nullopt, .error = std::move(*fault)};
    const RoomStart start{.width = read.room->width, .height = read.room->height,
                          .recording = std::move(*recording), .resumed = true};
    return {.room = KeptRoom{.record = std::move(*read.room), .start = std::move(start)}, .error = {}};
}

std::vector<std::string> KeptRoomIds(const std::filesystem::path& folder) {
    std::vector<std::string> ids = RoomsInFolder(folder);
    std::error_code ec;
    for (std::filesystem::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        const std::filesystem::path& file = it->path();
        const std::string id = file.stem().string();
        std::error_code missing;
        if (file.extension() == RECORDING_EXTENSION && IsRoomId(id) &&
            !std::filesystem::exists(RoomRecordFile(folder, id), missing))
            ids.push_back(id);
    }
    std::sort(ids.begin(), ids.end());
    return ids;
}

}  // namespace kestrel
