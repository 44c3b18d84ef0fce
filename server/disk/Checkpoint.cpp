#include "server/disk/Checkpoint.h"

#include <fcntl.h>
#include <unistd.h>

#include <boost/crc.hpp>
#include <charconv>
#include <cstdio>

#include "game/Recording.h"
#include "script/ScriptLine.h"
#include "server/disk/RoomFiles.h"

namespace kestrel {
namespace {

// The first line; a newer server may write another format.
constexpr std::string_view CHECKPOINT_HEADER = "kestrel-checkpoint 1";
constexpr std::string_view CHECKSUM_NAME = "crc32 ";
constexpr std::size_t CHECKSUM_DIGITS = 8;
// The join text is bounded (a room's join history); a file past this is no checkpoint.
constexpr std::size_t MAX_CHECKPOINT_BYTES = MAX_RECORDING_BYTES;
constexpr mode_t CHECKPOINT_MODE = 0600;

std::string Checksum(std::string_view text) {
    boost::crc_32_type crc;
    crc.process_bytes(text.data(), text.size());
    char digits[CHECKSUM_DIGITS + 1];
    std::snprintf(digits, sizeof digits, "%08x", unsigned(crc.checksum()));
    return digits;
}

// Reads the checkpoint's lines in order; each read fails the whole.
class Lines {
public:
    explicit Lines(std::string_view text) : rest_(text) {}
    std::optional<std::string_view> Next() {
        const std::size_t end = rest_.find('\n');
        if (end == std::string_view::npos) return std::nullopt;
        const std::string_view line = rest_.substr(0, end);
        rest_.remove_prefix(end + 1);
        return line;
    }
    // The line "NAME VALUE", its value a whole number.
    std::optional<std::uint64_t> Number(std::string_view name) {
        const std::optional<std::string_view> line = Next();
        if (!line || !line->starts_with(name) || line->size() <= name.size() || (*line)[name.size()] != ' ')
            return std::nullopt;
        const std::string_view digits = line->substr(name.size() + 1);
        std::uint64_t value = 0;
        const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
        if (ec != std::errc() || end != digits.data() + digits.size()) return std::nullopt;
        return value;
    }
    std::string_view& Rest() { return rest_; }

private:
    std::string_view rest_;
};

// The pointer held, as the recordings' own down line after "held ".
std::optional<HeldPointer> ReadHeld(std::string_view line) {
    try {
        const std::optional<RecordedStep> step = ReadStep(SplitLine(line), 1);
        if (!step || step->kind != RecordedStep::Kind::Down) return std::nullopt;
        return HeldPointer{step->button, step->x, step->y};
    } catch (const ScriptError&) {
        return std::nullopt;
    }
}

// The seats' kills and wins where the join text starts, seat by seat, when
// any is not 0.
constexpr std::string_view SCORES = "scores";

std::optional<SeatScores> ReadScores(std::string_view line) {
    const Tokens tokens = SplitLine(line);
    if (tokens.size() != 2 * MAX_SEATS) return std::nullopt;
    SeatScores scores{};
    try {
        for (int k = 0; k < MAX_SEATS; ++k) {
            scores[k].kills = ParseWhole<std::uint64_t>(tokens[2 * k], 0, UINT64_MAX, "kills");
            scores[k].wins = ParseWhole<std::uint64_t>(tokens[2 * k + 1], 0, UINT64_MAX, "wins");
        }
    } catch (const ScriptError&) {
        return std::nullopt;
    }
    return scores;
}

std::optional<RoomCheckpoint> ReadBody(std::string_view body) {
    Lines lines(body);
    if (lines.Next() != CHECKPOINT_HEADER) return std::nullopt;
    RoomCheckpoint checkpoint;
    const std::optional<std::uint64_t> tick = lines.Number("tick"), bytes = lines.Number("recording-bytes"),
                                       joinTick = lines.Number("join-tick"), hash = lines.Number("state-hash");
    if (!tick || !bytes || !joinTick || !hash) return std::nullopt;
    checkpoint.tick = *tick, checkpoint.recordingBytes = *bytes, checkpoint.joinTick = *joinTick;
    checkpoint.stateHash = *hash;
    constexpr std::string_view HELD = "held ";
    if (lines.Rest().starts_with(HELD)) {
        checkpoint.held = ReadHeld(lines.Next()->substr(HELD.size()));
        if (!checkpoint.held) return std::nullopt;
    }
    if (lines.Rest().starts_with(SCORES)) {
        const std::optional<SeatScores> scores = ReadScores(lines.Next()->substr(SCORES.size()));
        if (!scores) return std::nullopt;
        checkpoint.joinScores = *scores;
    }
    const std::optional<std::uint64_t> size = lines.Number("join-text");
    if (!size || *size != lines.Rest().size()) return std::nullopt;
    checkpoint.joinText = lines.Rest();
    return checkpoint;
}

bool SyncFolder(const std::filesystem::path& folder) {
    const int fd = open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return false;
    const bool synced = fsync(fd) == 0;
    return close(fd) == 0 && synced;
}

bool WriteSynced(const std::filesystem::path& file, std::string_view text) {
    const int fd = open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, CHECKPOINT_MODE);
    if (fd < 0) return false;
    FILE* out = fdopen(fd, "wb");
    if (!out) {
        close(fd);
        return false;
    }
    const bool written = std::fwrite(text.data(), 1, text.size(), out) == text.size() && std::fflush(out) == 0 &&
                         fsync(fd) == 0;
    return std::fclose(out) == 0 && written;
}

}  // namespace

std::filesystem::path CheckpointBeside(const std::filesystem::path& recordingFile) {
    return std::filesystem::path(recordingFile).replace_extension(CHECKPOINT_EXTENSION);
}

std::vector<std::string> RemoveUnsavedCheckpoints(const std::filesystem::path& folder) {
    return RemoveHalfWritten(folder, CHECKPOINT_EXTENSION);
}

std::string WriteCheckpointText(const RoomCheckpoint& checkpoint) {
    std::string text = std::string(CHECKPOINT_HEADER) + "\ntick " + std::to_string(checkpoint.tick) +
                       "\nrecording-bytes " + std::to_string(checkpoint.recordingBytes) + "\njoin-tick " +
                       std::to_string(checkpoint.joinTick) + "\nstate-hash " + std::to_string(checkpoint.stateHash) +
                       "\n";
    if (const std::optional<HeldPointer>& held = checkpoint.held)
        text += "held " + WriteStep({.kind = RecordedStep::Kind::Down, .button = held->button, .x = held->x,
                                     .y = held->y});
    if (checkpoint.joinScores != SeatScores{}) {
        text += SCORES;
        for (const SeatScore& score : checkpoint.joinScores)
            text += " " + std::to_string(score.kills) + " " + std::to_string(score.wins);
        text += "\n";
    }
    text += "join-text " + std::to_string(checkpoint.joinText.size()) + "\n" + checkpoint.joinText;
    return text + std::string(CHECKSUM_NAME) + Checksum(text) + "\n";
}

Result<RoomCheckpoint> ReadCheckpointText(std::string_view text) {
    const std::size_t last = text.size() < 2 ? std::string_view::npos : text.rfind('\n', text.size() - 2) + 1;
    const std::string_view sum = last == std::string_view::npos ? "" : text.substr(last);
    if (!sum.starts_with(CHECKSUM_NAME) || sum.size() != CHECKSUM_NAME.size() + CHECKSUM_DIGITS + 1 ||
        sum.back() != '\n')
        return Failure{"it is cut short"};
    const std::string_view body = text.substr(0, last);
    if (sum.substr(CHECKSUM_NAME.size(), CHECKSUM_DIGITS) != Checksum(body)) return Failure{"it fails its checksum"};
    std::optional<RoomCheckpoint> checkpoint = ReadBody(body);
    if (!checkpoint) return Failure{"it is not a checkpoint this server reads"};
    return *std::move(checkpoint);
}

// Written beside, synced, then renamed over the old one and the rename
// synced: a crash leaves the old checkpoint or the new, and at worst a
// .new file that is never read.
bool SaveCheckpoint(const std::filesystem::path& file, const RoomCheckpoint& checkpoint) {
    std::filesystem::path fresh = file;
    fresh += HALF_WRITTEN_EXTENSION;
    if (!WriteSynced(fresh, WriteCheckpointText(checkpoint))) return false;
    std::error_code ec;
    std::filesystem::rename(fresh, file, ec);
    return !ec && SyncFolder(file.parent_path());
}

Result<std::optional<RoomCheckpoint>> LoadCheckpoint(const std::filesystem::path& file) {
    std::error_code ec;
    if (!std::filesystem::exists(file, ec)) return std::optional<RoomCheckpoint>();
    const std::optional<std::string> text = ReadWholeLines(file, MAX_CHECKPOINT_BYTES);
    if (!text) return Failure{"it cannot be read, or is too long"};
    Result<RoomCheckpoint> read = ReadCheckpointText(*text);
    if (!read) return Failure{read.Why()};
    return std::optional<RoomCheckpoint>(*std::move(read));
}

CheckpointWriter::CheckpointWriter() : thread_([this] { Run(); }) {}

CheckpointWriter::~CheckpointWriter() { Finish(); }

bool CheckpointWriter::Keep(const std::filesystem::path& file, RoomCheckpoint checkpoint) {
    {
        const std::lock_guard lock(mutex_);
        if (finishing_ || (!waiting_.contains(file) && waiting_.size() >= MAX_QUEUED_CHECKPOINTS)) return false;
        waiting_[file] = std::move(checkpoint);
    }
    wake_.notify_one();
    return true;
}

void CheckpointWriter::Finish() {
    {
        const std::lock_guard lock(mutex_);
        finishing_ = true;
    }
    wake_.notify_one();
    if (thread_.joinable()) thread_.join();
}

void CheckpointWriter::Run() {
    std::unique_lock lock(mutex_);
    for (;;) {
        wake_.wait(lock, [this] { return finishing_ || !waiting_.empty(); });
        if (waiting_.empty()) return;
        auto next = waiting_.extract(waiting_.begin());
        lock.unlock();
        ++(SaveCheckpoint(next.key(), next.mapped()) ? written_ : failed_);
        lock.lock();
    }
}

}  // namespace kestrel
