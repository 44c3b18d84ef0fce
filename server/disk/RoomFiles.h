#pragma once
// What the server keeps of a room on disk, so that the room outlives the
// process: its recording, which the room appends to as it grows, and its
// record, a few lines written when it opens (its play key and size) and
// one more when it ends. Both files are only ever appended to, so a kill
// can at worst cut their last line short, and a cut line is read as if it
// were not there. Each room is two files named by its id in the data
// folder: ID.room and ID.recording.

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "game/RecordingSink.h"
#include "game/Result.h"
#include "server/base/Limits.h"

namespace kestrel {

class CheckpointWriter;

// Writes all of `text` at the end of the file open as `fd`, or answers
// false. The server's is write(2); a test's fails as a full disk does.
using FileWriter = std::function<bool(int fd, std::string_view text)>;
bool WriteAll(int fd, std::string_view text);

// A room's recording file, the sink its referee writes to: appended to and
// flushed at each write. A write cut short (a full disk) is cut off the
// file again at once, so that the file ends at a whole write whenever the
// server's thread reads it; its text is held back and goes first at the
// next append, up to MAX_HELD_BACK_BYTES.
class RoomRecordingSink : public RecordingSink {
public:
    // Opens `file` to append to it (made when it is not there). A resumed
    // room's file is first cut to its whole lines: a line a kill cut short
    // is dropped, since the room goes on from the line before. The room's
    // checkpoints go to `checkpoints`, to be written beside the file; none:
    // they are not kept.
    RoomRecordingSink(std::filesystem::path file, bool resumed, CheckpointWriter* checkpoints = nullptr,
                      FileWriter write = WriteAll);
    // A room still being made: its file is `unmade` until Settle names it `file`.
    RoomRecordingSink(std::filesystem::path unmade, std::filesystem::path file, CheckpointWriter* checkpoints);
    ~RoomRecordingSink() override;
    RoomRecordingSink(const RoomRecordingSink&) = delete;
    RoomRecordingSink& operator=(const RoomRecordingSink&) = delete;
    SinkState Append(std::string_view text) override;
    std::optional<std::string> Written(std::size_t maxBytes) const override;
    void KeepCheckpoint(const RoomCheckpoint& checkpoint) override;
    // The file takes the name it was told (its room is made); false when it cannot.
    bool Settle() override;

private:
    bool WriteWhole(std::string_view text);
    void Stop();

    std::filesystem::path path_;
    std::filesystem::path settled_;  // the room's name while the file has another; empty once it has it
    FileWriter write_;
    int fd_ = -1;
    CheckpointWriter* checkpoints_;
    off_t whole_ = 0;   // the file's size at its last whole write
    bool cut_ = false;  // a failed write's part may follow it
    std::string held_;
};

struct RoomRecord {
    std::string key;  // the play key: the record is readable by the server's own user only
    int width = 0, height = 0;
    bool listed = false;  // open to anyone: in the directory of public rooms
    bool ended = false;
};

// A room's files are ID.room, ID.recording and ID.checkpoint; a file is
// written whole as NAME.new first where a kill must not leave half of it.
inline constexpr std::string_view RECORD_EXTENSION = ".room";
inline constexpr std::string_view RECORDING_EXTENSION = ".recording";
inline constexpr std::string_view CHECKPOINT_EXTENSION = ".checkpoint";
inline constexpr std::string_view HALF_WRITTEN_EXTENSION = ".new";

std::filesystem::path RoomRecordFile(const std::filesystem::path& folder, std::string_view id);
std::filesystem::path RoomRecordingFile(const std::filesystem::path& folder, std::string_view id);
// The recording of a room still being made from a start recording: it
// takes its room's name once the room's record is written, so that a kill
// meanwhile leaves no recording of a room nobody was told of.
std::filesystem::path UnmadeRecordingFile(const std::filesystem::path& folder, std::string_view id);
// Removes what a kill left of rooms never made; answers their ids.
std::vector<std::string> RemoveUnmadeRooms(const std::filesystem::path& folder);
// Removes the files ID`extension`.new that a kill left half-written in the
// folder (a file is written under that name, then takes its own); answers
// their rooms' ids, in order.
std::vector<std::string> RemoveHalfWritten(const std::filesystem::path& folder, std::string_view extension);

// Written once, when the room opens (a record already there is never
// overwritten); false when it cannot be.
bool WriteRoomRecord(const std::filesystem::path& folder, std::string_view id, const RoomRecord& room);
// The room has ended: it is not resumed again, and its recording stays.
bool MarkRoomEnded(const std::filesystem::path& folder, std::string_view id);
// The room is open to anyone from now on, and after a restart.
bool MarkRoomListed(const std::filesystem::path& folder, std::string_view id);

// The record of room `id`, or why it cannot be read.
Result<RoomRecord> ReadRoomRecord(const std::filesystem::path& folder, std::string_view id);

// The ids of the rooms with a record in the folder, in order.
std::vector<std::string> RoomsInFolder(const std::filesystem::path& folder);

// The data folder, held by one server for its life (a lock on a file in
// it), so that no two servers resume its rooms and append to their files.
class FolderLock {
public:
    explicit FolderLock(const std::filesystem::path& folder);
    ~FolderLock();
    FolderLock(const FolderLock&) = delete;
    FolderLock& operator=(const FolderLock&) = delete;
    // Why it is not held (another server holds it, say); empty when it is.
    const std::string& Error() const { return error_; }

private:
    int fd_ = -1;
    std::string error_;
};

// A file's text up to its last whole line: a line a kill cut short is left
// out. None when it cannot be read or is longer than `maxBytes`.
std::optional<std::string> ReadWholeLines(const std::filesystem::path& file, std::size_t maxBytes);
// The length of a file's whole lines, found from its end; none when it
// cannot be read.
std::optional<std::uint64_t> WholeLinesSize(const std::filesystem::path& file);
// The bytes of a file from `from` up to `to`, read from there; none when
// they cannot be read.
std::optional<std::string> ReadPart(const std::filesystem::path& file, std::uint64_t from, std::uint64_t to);

}  // namespace kestrel
