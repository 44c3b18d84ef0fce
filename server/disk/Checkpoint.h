#pragma once
// A room's checkpoint on disk, ID.checkpoint beside ID.recording: a
// shortcut for a restart, never the record itself. It is written whole or
// not at all (to ID.checkpoint.new, synced, renamed over the old one, the
// folder synced), by one writer thread, so that a slow disk never holds up
// a tick; and read back only when it is whole and its checksum holds.

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <filesystem>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "game/RecordingSink.h"
#include "game/Result.h"
#include "server/base/Limits.h"

namespace kestrel {

// The checkpoint file beside a room's recording file.
std::filesystem::path CheckpointBeside(const std::filesystem::path& recordingFile);

// Removes the checkpoints a kill cut short while they were written (their
// .new files, never read); answers their rooms' ids.
std::vector<std::string> RemoveUnsavedCheckpoints(const std::filesystem::path& folder);

// A checkpoint as its file holds it: a header line with the format, its
// numbers, the join text and a checksum of all before it.
std::string WriteCheckpointText(const RoomCheckpoint& checkpoint);
// The checkpoint a file's text holds, or why it holds none.
Result<RoomCheckpoint> ReadCheckpointText(std::string_view text);

// Writes `file` whole or not at all; false when it could not.
bool SaveCheckpoint(const std::filesystem::path& file, const RoomCheckpoint& checkpoint);
// The checkpoint in `file`, or why it cannot be read; none, and no
// failure, when there is no file.
Result<std::optional<RoomCheckpoint>> LoadCheckpoint(const std::filesystem::path& file);

// The thread that writes the rooms' checkpoints. The newest checkpoint of
// a file replaces one not yet written.
class CheckpointWriter {
public:
    CheckpointWriter();
    ~CheckpointWriter();  // as Finish
    CheckpointWriter(const CheckpointWriter&) = delete;
    CheckpointWriter& operator=(const CheckpointWriter&) = delete;

    // False when it is dropped: the queue is full, or the writer finished.
    bool Keep(const std::filesystem::path& file, RoomCheckpoint checkpoint);
    // Writes what waits, then stops; later checkpoints are dropped.
    void Finish();
    std::uint64_t Written() const { return written_; }
    std::uint64_t Failed() const { return failed_; }

private:
    void Run();

    std::mutex mutex_;
    std::condition_variable wake_;
    std::map<std::filesystem::path, RoomCheckpoint> waiting_;
    bool finishing_ = false;
    std::atomic<std::uint64_t> written_{0}, failed_{0};
    std::thread thread_;  // last: it starts once the rest is made
};

}  // namespace kestrel
