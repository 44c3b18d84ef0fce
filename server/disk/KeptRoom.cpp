#include "server/disk/KeptRoom.h"

#include <algorithm>

#include "game/RoomId.h"
#include "server/disk/Checkpoint.h"
#include "server/disk/RoomFiles.h"

namespace kestrel {
namespace {

// Why a whole recording cannot be played on from; none when it can.
std::optional<std::string> RecordingFault(const std::optional<std::string>& recording) {
    if (!recording) return "its recording cannot be read, or is longer than a replay reads";
    // Every room writes its recording's head when it opens: an empty one lost the battle.
    if (recording->empty()) return "its recording is empty";
    if (const Result<ReadRecording> read = ReadRecordingText(*recording); !read)
        return "its recording is damaged: " + read.Why();
    return std::nullopt;
}

// The recording after the checkpoint's bytes, up to its last whole line;
// the checkpoint's bytes end a line. Or why they cannot be had.
Result<std::string> RecordingAfter(const std::filesystem::path& file, std::uint64_t bytes) {
    const std::optional<std::uint64_t> whole = WholeLinesSize(file);
    if (!whole) return Failure{"its recording cannot be read"};
    if (bytes > *whole) return Failure{"it names more of the recording than its file holds"};
    if (*whole - bytes > MAX_RECORDING_BYTES)
        return Failure{"the recording after it is longer than a replay reads"};
    const std::uint64_t from = bytes == 0 ? 0 : bytes - 1;  // and the newline before, when there is one
    std::optional<std::string> rest = ReadPart(file, from, *whole);
    if (!rest) return Failure{"its recording cannot be read"};
    if (bytes > 0 && rest->front() != '\n')
        return Failure{"its recording's bytes do not end a line"};
    if (bytes > 0) rest->erase(0, 1);
    return *std::move(rest);
}

// Puts the checkpoint beside `file` and the recording after it in `start`;
// answers why it cannot, or nothing when there is no checkpoint.
std::string FromCheckpoint(const std::filesystem::path& file, RoomStart& start) {
    Result<std::optional<RoomCheckpoint>> read = LoadCheckpoint(CheckpointBeside(file));
    if (!read) return read.Why();
    if (!*read) return {};
    RoomCheckpoint& checkpoint = **read;
    Result<std::string> rest = RecordingAfter(file, checkpoint.recordingBytes);
    if (!rest) return rest.Why();
    if (const Result<ReadRecording> whole = ReadRecordingText(checkpoint.joinText + *rest); !whole)
        return "the recording after it does not read: " + whole.Why();
    if (std::optional<std::string> wrong = CheckCheckpoint(checkpoint)) return *wrong;
    start.checkpoint = std::move(checkpoint);
    start.recording = *std::move(rest);
    return {};
}

}  // namespace

Result<RoomToResume> ReadKeptRoom(const std::filesystem::path& folder, std::string_view id) {
    std::error_code ec;
    if (!std::filesystem::exists(RoomRecordFile(folder, id), ec))
        return Failure{"it has a recording but no record (" + std::string(id) + ".room)"};
    const Result<RoomRecord> record = ReadRoomRecord(folder, id);
    if (!record) return Failure{record.Why()};
    if (record->ended) return Failure{"the room has ended"};
    RoomToResume kept{.key = record->key, .listed = record->listed, .start = {.width = record->width, .height = record->height, .resumed = true}};
    const std::filesystem::path file = RoomRecordingFile(folder, id);
    const std::string damaged = FromCheckpoint(file, kept.start);
    if (kept.start.checkpoint) return kept;
    if (!damaged.empty()) kept.damagedCheckpoint = "its checkpoint is damaged (" + damaged + "); played from its recording";
    std::optional<std::string> recording = ReadWholeLines(file, MAX_RECORDING_BYTES);
    if (std::optional<std::string> fault = RecordingFault(recording)) return Failure{*fault};
    kept.start.recording = std::move(*recording);
    return kept;
}

std::unique_ptr<RoomRecordingSink> KeptRecording(const std::filesystem::path& folder, std::string_view id,
                                                 const RoomToResume& kept, CheckpointWriter* checkpoints) {
    const std::filesystem::path file = RoomRecordingFile(folder, id);
    std::error_code ec;
    if (!kept.start.checkpoint && std::filesystem::exists(CheckpointBeside(file), ec) &&
        !std::filesystem::remove(CheckpointBeside(file), ec))
        return nullptr;
    return std::make_unique<RoomRecordingSink>(file, true, checkpoints);
}

std::vector<std::string> RoomsToResume(const std::filesystem::path& folder) {
    std::vector<std::string> ids = RoomsInFolder(folder);
    std::erase_if(ids, [&folder](const std::string& id) {
        const Result<RoomRecord> kept = ReadRoomRecord(folder, id);
        return kept && kept->ended;
    });
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
