#include "game/Recording.h"

#include <cstdint>
#include <limits>

#include "script/RecordLines.h"

namespace kestrel {
namespace {

using Kind = RecordedStep::Kind;

RecordedStep PointerStep(const Tokens& t, Kind kind) {
    const bool hasButton = kind != Kind::Move;
    const std::size_t args = hasButton ? 3 : 2;
    ExpectArgs(t, args, args);
    RecordedStep step{.kind = kind};
    if (hasButton) step.button = ParseInt16(t[1], "button");
    step.x = ParseSingle(t[args - 1], "x");
    step.y = ParseSingle(t[args], "y");
    return step;
}

RecordedStep StateStep(const Tokens& t, Kind kind, std::string_view what) {
    ExpectArgs(t, 1, 1);
    return {.kind = kind, .number = ParseWhole<std::uint64_t>(t[1], 0, UINT64_MAX, what)};
}

RecordedStep VersionStep(const Tokens& t) {
    ExpectArgs(t, 1, 1);
    const int version = ParseWhole<int>(t[1], 1, std::numeric_limits<int>::max(), "version");
    if (version > RECORDING_VERSION)
        Fail("format version " + std::to_string(version) + " is newer than this program reads (" +
             std::to_string(RECORDING_VERSION) + ")");
    return {.kind = Kind::Version, .number = std::uint64_t(version)};
}

RecordedStep SizeStep(const Tokens& t) {
    ExpectArgs(t, 2, 2);
    return {.kind = Kind::Size,
            .width = ParseWhole<int>(t[1], 1, MAX_CANVAS_SIDE, "width"),
            .height = ParseWhole<int>(t[2], 1, MAX_CANVAS_SIDE, "height")};
}

RecordedStep TicksStep(const Tokens& t) {
    ExpectArgs(t, 0, 1);
    const long long count =
        t.size() == 2 ? ParseWhole<long long>(t[1], 1, std::numeric_limits<long long>::max(), "count") : 1;
    return {.kind = Kind::Ticks, .number = std::uint64_t(count)};
}

RecordedStep SeatsStep(const Tokens& t) {
    ExpectArgs(t, 1, 1);
    return {.kind = Kind::Seats, .number = ParseWhole<std::uint64_t>(t[1], 1, MAX_SEATS, "seat count")};
}

RecordedStep SeatStep(const Tokens& t, Kind kind, int seatCount) {
    ExpectArgs(t, 1, 1);
    return {.kind = kind, .number = ParseWhole<std::uint64_t>(t[1], 0, std::uint64_t(seatCount - 1), "seat")};
}

RecordedStep KeyStep(const Tokens& t) {
    ExpectArgs(t, 1, 1);
    return {.kind = Kind::Key, .number = ParseWhole<std::uint16_t>(t[1], 0, UINT16_MAX, "character code")};
}

// A `set` line: part of the record a battle picked up under way starts
// from, so it comes before the first tick and the first event.
void ReadStartRecord(ReadRecording& read, const Tokens& tokens) {
    for (const RecordedStep& step : read.steps) {
        if (step.kind != Kind::Version && step.kind != Kind::Seed && step.kind != Kind::Size)
            Fail("'set' belongs before the first tick and event");
    }
    if (!read.start) read.start.emplace();
    ReadSetLine(*read.start, tokens);
}

}  // namespace

std::optional<RecordedStep> ReadStep(const Tokens& t, int seatCount) {
    const std::string_view command = t.at(0);
    if (command == "seats") return SeatsStep(t);
    if (command == "as") return SeatStep(t, Kind::As, seatCount);
    if (command == "join") return SeatStep(t, Kind::Join, seatCount);
    if (command == "tick") return TicksStep(t);
    if (command == "move") return PointerStep(t, Kind::Move);
    if (command == "down") return PointerStep(t, Kind::Down);
    if (command == "up") return PointerStep(t, Kind::Up);
    if (command == "key") return KeyStep(t);
    if (command == "size") return SizeStep(t);
    if (command == "seed") return StateStep(t, Kind::Seed, "seed");
    if (command == "reseed") return StateStep(t, Kind::Reseed, "state");
    if (command == "version") return VersionStep(t);
    return std::nullopt;
}

std::string WriteStep(const RecordedStep& step) {
    std::string line;
    switch (step.kind) {
        case Kind::Version: line = "version", AppendUnsigned(line, step.number); break;
        case Kind::Seed: line = "seed", AppendUnsigned(line, step.number); break;
        case Kind::Reseed: line = "reseed", AppendUnsigned(line, step.number); break;
        case Kind::Size: line = "size", AppendInt(line, step.width), AppendInt(line, step.height); break;
        case Kind::Ticks: line = "tick", AppendUnsigned(line, step.number); break;
        case Kind::Key: line = "key", AppendUnsigned(line, step.number); break;
        case Kind::Down: line = "down", AppendInt(line, step.button); break;
        case Kind::Up: line = "up", AppendInt(line, step.button); break;
        case Kind::Move: line = "move"; break;
        case Kind::Seats: line = "seats", AppendUnsigned(line, step.number); break;
        case Kind::As: line = "as", AppendUnsigned(line, step.number); break;
        case Kind::Join: line = "join", AppendUnsigned(line, step.number); break;
    }
    if (step.kind == Kind::Down || step.kind == Kind::Up || step.kind == Kind::Move) {
        AppendSingle(line, step.x);
        AppendSingle(line, step.y);
    }
    return line + '\n';
}

bool IsSeatStep(const RecordedStep& step) {
    return step.kind == Kind::Seats || step.kind == Kind::As || step.kind == Kind::Join;
}

Result<ReadRecording> ReadRecordingText(std::string_view text, int seatCount) {
    if (text.size() > MAX_RECORDING_BYTES)
        return Failure{"the recording is too long (" + std::to_string(text.size()) + " bytes; at most " +
                       std::to_string(MAX_RECORDING_BYTES) + ")"};
    ReadRecording read;
    read.seatCount = seatCount;
    std::string bad;
    ForEachCommand(text, [&read, &bad](long long lineNo, const Tokens& tokens) {
        try {
            if (tokens[0] == "set") {
                ReadStartRecord(read, tokens);
                return true;
            }
            const std::optional<RecordedStep> step = ReadStep(tokens, read.seatCount);
            if (!step) Fail(Quoted(tokens[0]) + " has no place in a recording");
            if (step->kind == Kind::Seats) read.seatCount = int(step->number);
            read.steps.push_back(*step);
            return true;
        } catch (const ScriptError& error) {
            bad = "line " + std::to_string(lineNo) + ": " + error.what();
            return false;
        }
    });
    if (!bad.empty()) return Failure{std::move(bad)};
    return read;
}

void Recorder::Start(std::uint64_t state, int width, int height, const Battlefield* record,
                     const Seats* seats) {
    written_.clear();
    pendingTicks_ = 0;
    const bool seated = seats && (seats->count != 1 || seats->current != 0);
    version_ = seated ? RECORDING_VERSION_WITH_SEATS
               : record ? RECORDING_VERSION_FROM_RECORD
                        : RECORDING_VERSION_FROM_START;
    written_ += WriteStep({.kind = Kind::Version, .number = std::uint64_t(version_)});
    written_ += WriteStep({.kind = Kind::Seed, .number = state});
    written_ += WriteStep({.kind = Kind::Size, .width = width, .height = height});
    if (record) written_ += WriteSetLines(*record);
    if (!seated) return;
    if (seats->count != 1) written_ += WriteStep({.kind = Kind::Seats, .number = std::uint64_t(seats->count)});
    if (seats->current != 0) written_ += WriteStep({.kind = Kind::As, .number = std::uint64_t(seats->current)});
}

void Recorder::DeclareSeats() {
    if (version_ >= RECORDING_VERSION_WITH_SEATS) return;
    version_ = RECORDING_VERSION_WITH_SEATS;
    written_ += WriteStep({.kind = Kind::Version, .number = std::uint64_t(version_)});
}

void Recorder::WritePendingTicks() {
    if (pendingTicks_ == 0) return;
    written_ += WriteStep({.kind = RecordedStep::Kind::Ticks, .number = pendingTicks_});
    pendingTicks_ = 0;
}

void Recorder::Step(const RecordedStep& step) {
    WritePendingTicks();
    if (IsSeatStep(step)) DeclareSeats();
    written_ += WriteStep(step);
}

std::string Recorder::Text() const {
    if (pendingTicks_ == 0) return written_;
    return written_ + WriteStep({.kind = RecordedStep::Kind::Ticks, .number = pendingTicks_});
}

}  // namespace kestrel
