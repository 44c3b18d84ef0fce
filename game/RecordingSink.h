#pragma once
// Where a live room's recording goes as it grows: appended to, and read
// back whole. The server keeps it in a file beside the room's record; the
// tests keep it in memory.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace kestrel {

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
};

// A sink that keeps the recording in memory.
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

private:
    std::string text_;
};

}  // namespace kestrel
