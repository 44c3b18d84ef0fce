#include "server/KeptRoom.h"

#include "server/Checkpoint.h"
#include "server/RoomFiles.h"

namespace kestrel {
namespace {

// The recording after the checkpoint's bytes, up to its last whole line;
// the checkpoint's bytes end a line. Or why they cannot be had.
Outcome<std::string> RecordingAfter(const std::filesystem::path& file, std::uint64_t bytes) {
    const std::optional<std::uint64_t> whole = WholeLinesSize(file);
    if (!whole) return Refusal{RefusalKind::Broken, "its recording cannot be read"};
    if (bytes > *whole) return Refusal{RefusalKind::Broken, "it names more of the recording than its file holds"};
    if (*whole - bytes > MAX_RECORDING_BYTES)
        return Refusal{RefusalKind::Broken, "the recording after it is longer than a replay reads"};
    const std::uint64_t from = bytes == 0 ? 0 : bytes - 1;  // and the newline before, when there is one
    std::optional<std::string> rest = ReadPart(file, from, *whole);
    if (!rest) return Refusal{RefusalKind::Broken, "its recording cannot be read"};
    if (bytes > 0 && rest->front() != '\n')
        return Refusal{RefusalKind::Broken, "its recording's bytes do not end a line"};
    if (bytes > 0) rest->erase(0, 1);
    return *std::move(rest);
}

// Puts the checkpoint beside `file` and the recording after it in `start`;
// answers why it cannot, or nothing when there is no checkpoint.
std::string FromCheckpoint(const std::filesystem::path& file, RoomStart& start) {
    ReadCheckpoint read = LoadCheckpoint(CheckpointBeside(file));
    if (!read.checkpoint) return read.error;
    Outcome<std::string> rest = RecordingAfter(file, read.checkpoint->recordingBytes);
    if (const Refusal* refused = std::get_if<Refusal>(&rest)) return refused->reason;
    const std::string refused = ReadRecordingText(read.checkpoint->joinText + std::get<std::string>(rest)).error;
    if (!refused.empty()) return "the recording after it does not read: " + refused;
    if (std::optional<std::string> wrong = CheckCheckpoint(*read.checkpoint)) return *wrong;
    start.checkpoint = std::move(read.checkpoint);
    start.recording = std::get<std::string>(std::move(rest));
    return {};
}

}  // namespace

Outcome<RoomToResume> ReadKeptRoom(const std::filesystem::path& folder, std::string_view id) {
    const ReadRoom read = ReadRoomRecord(folder, id);
    if (!read.room) return Refusal{RefusalKind::Broken, read.error};
    if (read.room->ended) return Refusal{RefusalKind::Gone, "the room has ended"};
    RoomToResume kept{.key = read.room->key, .start = {.width = read.room->width, .height = read.room->height, .resumed = true}};
    const std::filesystem::path file = RoomRecordingFile(folder, id);
    const std::string damaged = FromCheckpoint(file, kept.start);
    if (kept.start.checkpoint) return kept;
    if (!damaged.empty()) kept.damagedCheckpoint = "its checkpoint is damaged (" + damaged + "); played from its recording";
    std::optional<std::string> recording = ReadWholeLines(file, MAX_RECORDING_BYTES);
    if (!recording)
        return Refusal{RefusalKind::Broken, "its recording cannot be read, or is longer than a replay reads"};
    if (std::string refused = ReadRecordingText(*recording).error; !refused.empty())
        return Refusal{RefusalKind::Broken, std::move(refused)};
    kept.start.recording = std::move(*recording);
    return kept;
}

}  // namespace kestrel
