#pragma once
// Where a live room's recording goes as it grows: appended to, and read
// back whole. The server keeps it in a file beside the room's record; the
// tests keep it in memory.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "model/Seats.h"

namespace kestrel {

// The pointer a player holds, where it last was.
struct HeldPointer {
    std::int16_t button = 0;
    float x = 0, y = 0;
    bool operator==(const HeldPointer&) const = default;
};

// Where a room stood at one of its ticks, so that a restart plays only
// what followed: the recording's length then (every byte its sink had been
// given), what a late joiner is sent (the last clean canvas and the steps
// since, from the room's tick joinTick), the pointer a player held, and the
// room's hash.
struct RoomCheckpoint {
    std::uint64_t tick = 0;
    std::uint64_t recordingBytes = 0;
    std::uint64_t joinTick = 0;
    std::string joinText;
    std::optional<HeldPointer> held;
    std::uint64_t stateHash = 0;
    SeatScores joinScores{};  // the seats' where the join text starts
    bool operator==(const RoomCheckpoint&) const = default;
};

// What a sink holds after an append.
enum class SinkState {
    Whole,     // everything appended so far
    HeldBack,  // what it could not write yet is kept, and goes with the next append
    Lost,      // it stopped at its last whole write, and takes nothing more
};

class RecordingSink {
public:
    virtual ~RecordingSink() = default;
    // Appends `text` and makes it last (a file is flushed). Text held back
    // before goes first; empty text only tries again.
    virtual SinkState Append(std::string_view text) = 0;
    // Everything appended so far, in whole lines; none when it cannot be
    // read or is longer than `maxBytes`.
    virtual std::optional<std::string> Written(std::size_t maxBytes) const = 0;
    // Keeps the room's newest checkpoint, taken right after everything
    // before it was appended; a sink may do without.
    virtual void KeepCheckpoint(const RoomCheckpoint&) {}
    // The room is made: a sink kept under a name of its own until then
    // takes the room's. False when it cannot.
    virtual bool Settle() { return true; }
};

// A sink that keeps the recording, and its last checkpoint, in memory.
class MemoryRecordingSink : public RecordingSink {
public:
    SinkState Append(std::string_view text) override {
        text_ += text;
        return SinkState::Whole;
    }
    std::optional<std::string> Written(std::size_t maxBytes) const override {
        if (text_.size() > maxBytes) return std::nullopt;
        return text_;
    }
    void KeepCheckpoint(const RoomCheckpoint& checkpoint) override { checkpoint_ = checkpoint; }
    const std::optional<RoomCheckpoint>& LastCheckpoint() const { return checkpoint_; }

private:
    std::string text_;
    std::optional<RoomCheckpoint> checkpoint_;
};

}  // namespace kestrel
