#include "server/disk/RoomFiles.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <fstream>
#include <utility>

#include "game/Recording.h"
#include "game/RoomId.h"
#include "server/disk/Checkpoint.h"

namespace kestrel {

bool WriteAll(int fd, std::string_view text) {
    while (!text.empty()) {
        const ssize_t n = write(fd, text.data(), text.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        text.remove_prefix(std::size_t(n));
    }
    return true;
}

namespace {

// The record's first line; a newer server may write another.
constexpr std::string_view RECORD_HEADER = "kestrel-room 1";
constexpr std::string_view ENDED_LINE = "ended";
constexpr std::string_view LISTED_LINE = "listed";
// Held by the server that keeps its rooms in the folder.
constexpr std::string_view LOCK_FILE = "kestrel-server.lock";
// A record is a few lines; anything longer is not one.
constexpr std::size_t MAX_RECORD_BYTES = 4096;
// Only the server's own user reads a record: it holds the play key.
constexpr mode_t RECORD_MODE = 0600;

int OpenRecord(const std::filesystem::path& file, int flags) {
    return open(file.c_str(), O_WRONLY | O_CLOEXEC | flags, RECORD_MODE);
}

bool WriteAndClose(int fd, std::string_view text) {
    const bool written = WriteAll(fd, text);
    return close(fd) == 0 && written;
}

std::optional<int> ReadSide(std::string_view text) {
    int value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size() || value < 1 || value > MAX_CANVAS_SIDE)
        return std::nullopt;
    return value;
}

// One line of a record into it; false when it is not a record's line.
bool ReadRecordLine(std::string_view line, RoomRecord& room) {
    if (line == ENDED_LINE || line == LISTED_LINE) {
        (line == ENDED_LINE ? room.ended : room.listed) = true;
        return true;
    }
    const std::size_t space = line.find(' ');
    if (space == std::string_view::npos) return false;
    const std::string_view name = line.substr(0, space), value = line.substr(space + 1);
    if (name == "key" && IsRoomKey(value)) {
        room.key = value;
        return true;
    }
    if (name != "size") return false;
    const std::size_t gap = value.find(' ');
    const std::optional<int> width = ReadSide(value.substr(0, gap));
    const std::optional<int> height =
        gap == std::string_view::npos ? std::nullopt : ReadSide(value.substr(gap + 1));
    if (!width || !height) return false;
    room.width = *width, room.height = *height;
    return true;
}

}  // namespace

RoomRecordingSink::RoomRecordingSink(std::filesystem::path file, bool resumed, CheckpointWriter* checkpoints,
                                     FileWriter write)
    : path_(std::move(file)), write_(std::move(write)), checkpoints_(checkpoints) {
    if (resumed) {
        const std::optional<std::uint64_t> whole = WholeLinesSize(path_);
        std::error_code ignored;  // no file yet: nothing to cut
        if (whole) std::filesystem::resize_file(path_, *whole, ignored);
    }
    fd_ = open(path_.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, RECORD_MODE);
    if (fd_ >= 0) whole_ = lseek(fd_, 0, SEEK_END);
    if (whole_ < 0) Stop();
}

RoomRecordingSink::RoomRecordingSink(std::filesystem::path unmade, std::filesystem::path file,
                                     CheckpointWriter* checkpoints)
    : RoomRecordingSink(std::move(unmade), false, checkpoints) {
    settled_ = std::move(file);
}

RoomRecordingSink::~RoomRecordingSink() { Stop(); }

// Text held back goes first, with what follows it. Past the bound the file
// stays the recording up to its last whole write, with no gap in it.
SinkState RoomRecordingSink::Append(std::string_view text) {
    if (fd_ < 0) return SinkState::Lost;
    const bool written = held_.empty() ? WriteWhole(text) : WriteWhole(held_ += text);
    if (written) {
        std::string().swap(held_);  // its memory too
        return SinkState::Whole;
    }
    if (held_.empty()) held_ = text;
    if (held_.size() <= MAX_HELD_BACK_BYTES) return SinkState::HeldBack;
    Stop();
    return SinkState::Lost;
}

// A write cut short is cut off again, before anything else is written.
bool RoomRecordingSink::WriteWhole(std::string_view text) {
    if (cut_ && ftruncate(fd_, whole_) != 0) return false;
    cut_ = false;
    if (write_(fd_, text)) {
        whole_ += off_t(text.size());
        return true;
    }
    cut_ = ftruncate(fd_, whole_) != 0;
    return false;
}

void RoomRecordingSink::Stop() {
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
    std::string().swap(held_);
}

std::optional<std::string> RoomRecordingSink::Written(std::size_t maxBytes) const {
    return ReadWholeLines(path_, maxBytes);
}

// Written off the room's thread; a checkpoint dropped costs a restart some
// more of the recording to play, never a line of it.
void RoomRecordingSink::KeepCheckpoint(const RoomCheckpoint& checkpoint) {
    if (checkpoints_) (void)checkpoints_->Keep(CheckpointBeside(path_), checkpoint);
}

bool RoomRecordingSink::Settle() {
    if (settled_.empty()) return true;
    std::error_code ec;
    std::filesystem::rename(path_, settled_, ec);
    if (ec) return false;
    path_ = std::exchange(settled_, {});
    return true;
}

std::filesystem::path RoomRecordFile(const std::filesystem::path& folder, std::string_view id) {
    return folder / (std::string(id) + std::string(RECORD_EXTENSION));
}

std::filesystem::path RoomRecordingFile(const std::filesystem::path& folder, std::string_view id) {
    return folder / (std::string(id) + std::string(RECORDING_EXTENSION));
}

std::filesystem::path UnmadeRecordingFile(const std::filesystem::path& folder, std::string_view id) {
    return folder / (std::string(id) + std::string(RECORDING_EXTENSION) + std::string(HALF_WRITTEN_EXTENSION));
}

std::vector<std::string> RemoveUnmadeRooms(const std::filesystem::path& folder) {
    return RemoveHalfWritten(folder, RECORDING_EXTENSION);
}

std::vector<std::string> RemoveHalfWritten(const std::filesystem::path& folder, std::string_view extension) {
    std::vector<std::string> ids;
    std::error_code ec;
    for (std::filesystem::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        const std::filesystem::path& file = it->path();
        const std::filesystem::path named = file.stem();
        if (file.extension() != HALF_WRITTEN_EXTENSION || named.extension() != extension ||
            !IsRoomId(named.stem().string()))
            continue;
        std::error_code ignored;
        if (std::filesystem::remove(file, ignored)) ids.push_back(named.stem().string());
    }
    std::sort(ids.begin(), ids.end());
    return ids;
}

bool WriteRoomRecord(const std::filesystem::path& folder, std::string_view id, const RoomRecord& room) {
    std::string text = std::string(RECORD_HEADER) + "\nkey " + room.key + "\nsize " + std::to_string(room.width) +
                       " " + std::to_string(room.height) + "\n";
    if (room.listed) text += std::string(LISTED_LINE) + "\n";
    if (room.ended) text += std::string(ENDED_LINE) + "\n";
    // Made here, so a record that cannot be written whole is not left behind.
    const std::filesystem::path file = RoomRecordFile(folder, id);
    const int fd = OpenRecord(file, O_CREAT | O_EXCL);
    if (fd < 0) return false;
    if (WriteAndClose(fd, text)) return true;
    unlink(file.c_str());
    return false;
}

namespace {

bool AppendRecordLine(const std::filesystem::path& folder, std::string_view id, std::string_view line) {
    const int fd = OpenRecord(RoomRecordFile(folder, id), O_APPEND);
    return fd >= 0 && WriteAndClose(fd, std::string(line) + "\n");
}

}  // namespace

bool MarkRoomEnded(const std::filesystem::path& folder, std::string_view id) {
    return AppendRecordLine(folder, id, ENDED_LINE);
}

bool MarkRoomListed(const std::filesystem::path& folder, std::string_view id) {
    return AppendRecordLine(folder, id, LISTED_LINE);
}

Result<RoomRecord> ReadRoomRecord(const std::filesystem::path& folder, std::string_view id) {
    const std::optional<std::string> text = ReadWholeLines(RoomRecordFile(folder, id), MAX_RECORD_BYTES);
    if (!text) return Failure{"its record cannot be read"};
    RoomRecord room;
    std::string_view lines = *text;
    for (int lineNo = 1; !lines.empty(); ++lineNo) {
        const std::size_t end = lines.find('\n');
        const std::string_view line = lines.substr(0, end);
        lines.remove_prefix(end + 1);
        if (lineNo == 1 ? line != RECORD_HEADER : !ReadRecordLine(line, room))
            return Failure{"line " + std::to_string(lineNo) + " of its record is not one this server reads"};
    }
    if (room.key.empty() || room.width == 0) return Failure{"its record has no play key or size"};
    return room;
}

std::vector<std::string> RoomsInFolder(const std::filesystem::path& folder) {
    std::vector<std::string> ids;
    std::error_code ec;
    for (std::filesystem::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        const std::filesystem::path& file = it->path();
        if (file.extension() == RECORD_EXTENSION && IsRoomId(file.stem().string()))
            ids.push_back(file.stem().string());
    }
    std::sort(ids.begin(), ids.end());
    return ids;
}

FolderLock::FolderLock(const std::filesystem::path& folder) {
    const std::filesystem::path file = folder / LOCK_FILE;
    fd_ = open(file.c_str(), O_RDONLY | O_CREAT | O_CLOEXEC, RECORD_MODE);
    if (fd_ >= 0 && flock(fd_, LOCK_EX | LOCK_NB) == 0) return;
    error_ = errno == EWOULDBLOCK ? "the data folder " + folder.string() + " is in use by another server"
                                  : "cannot lock the data folder " + folder.string() + ": " + std::strerror(errno);
}

FolderLock::~FolderLock() {
    if (fd_ >= 0) close(fd_);  // and the lock with it
}

std::optional<std::string> ReadWholeLines(const std::filesystem::path& file, std::size_t maxBytes) {
    std::ifstream in(file, std::ios::binary);
    if (!in) return std::nullopt;
    std::string text;
    char chunk[1 << 16];
    while (in.read(chunk, sizeof chunk).gcount() > 0) {
        text.append(chunk, std::size_t(in.gcount()));
        if (text.size() > maxBytes) return std::nullopt;
    }
    if (in.bad()) return std::nullopt;
    text.resize(text.find_last_of('\n') + 1);  // npos + 1: no whole line at all
    return text;
}

// Read back from the end a chunk at a time, so that a long recording is
// not read whole to find where its last line ends.
std::optional<std::uint64_t> WholeLinesSize(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary | std::ios::ate);
    if (!in) return std::nullopt;
    constexpr std::uint64_t CHUNK = 1 << 12;
    char chunk[CHUNK];
    for (std::uint64_t end = std::uint64_t(in.tellg()); end > 0;) {
        const std::uint64_t from = end > CHUNK ? end - CHUNK : 0;
        if (!in.seekg(std::streamoff(from)) || !in.read(chunk, std::streamsize(end - from))) return std::nullopt;
        const std::string_view read(chunk, end - from);
        if (const std::size_t last = read.rfind('\n'); last != std::string_view::npos) return from + last + 1;
        end = from;
    }
    return 0;
}

std::optional<std::string> ReadPart(const std::filesystem::path& file, std::uint64_t from, std::uint64_t to) {
    std::ifstream in(file, std::ios::binary);
    std::string text(to - from, '\0');
    if (!in || !in.seekg(std::streamoff(from)) || !in.read(text.data(), std::streamsize(text.size())))
        return std::nullopt;
    return text;
}

}  // namespace kestrel
