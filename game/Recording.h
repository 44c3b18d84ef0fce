#pragma once
// A battle written down as it is played: the generator's state at the start
// and at every battle start, the start size, then runs of ticks and every
// pointer, key and size event in the order it reached the game. It is a
// kestrel-trace script, so the tool replays it to the same record and the
// same picture; the window and the page play it back at the game's pace.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "game/Result.h"
#include "model/Battlefield.h"
#include "model/Seats.h"
#include "script/ScriptLine.h"

namespace kestrel {

// The formats this program writes: a battle from its start, one picked up
// under way from a clean canvas, whose record follows the size as `set`
// lines, and one that holds a live room's seats. A recording declares the
// third just before its first seat line (or in its head, when it starts
// with seats), so that a battle without seats is written as it always was
// and a program from before seats says the recording is newer than it
// reads. The third is the newest this program reads.
inline constexpr int RECORDING_VERSION_FROM_START = 1;
inline constexpr int RECORDING_VERSION_FROM_RECORD = 2;
inline constexpr int RECORDING_VERSION_WITH_SEATS = 3;
inline constexpr int RECORDING_VERSION = RECORDING_VERSION_WITH_SEATS;
// Longer recordings are refused rather than read into memory.
inline constexpr std::size_t MAX_RECORDING_BYTES = 64u << 20;
// The largest canvas side a script or a recording may ask for.
inline constexpr int MAX_CANVAS_SIDE = 16384;

// One step of a recording, and of a script: the commands both share.
struct RecordedStep {
    enum class Kind { Version, Seed, Reseed, Size, Ticks, Down, Move, Up, Key, Seats, As, Join };
    Kind kind{};
    std::uint64_t number = 0;  // version, state, tick count, character code, seat count or seat
    std::int16_t button = 0;   // Down, Up
    float x = 0, y = 0;        // Down, Move, Up
    int width = 0, height = 0; // Size

    bool operator==(const RecordedStep&) const = default;
};

// The step a line's tokens give, or none when its command is not one a
// recording holds. Throws ScriptError for a bad step. A seat must be below
// `seatCount`, the seats at that point.
std::optional<RecordedStep> ReadStep(const Tokens& tokens, int seatCount);
bool IsSeatStep(const RecordedStep& step);

// A step as a line of text, newline included; it reads back to itself.
std::string WriteStep(const RecordedStep& step);

// A whole recording read ahead of playing: its steps and the record it
// starts from, if it sets one; or the first bad line as "line N: REASON"
// (a command a recording does not hold is one). Lines that go on from an
// earlier part say how many seats there were where it ended.
struct ReadRecording {
    std::vector<RecordedStep> steps;
    std::optional<Battlefield> start;
    int seatCount = 1;  // where it ends
};
Result<ReadRecording> ReadRecordingText(std::string_view text, int seatCount = 1);

// Writes a recording as the game plays. Ticks are counted, not written one
// by one, so the text grows with events and battles, not with time: the
// run of ticks since the last event is written when the next event comes.
class Recorder {
public:
    // Starts the text anew: the format, the generator's state, the size and,
    // for a battle picked up under way, its record and its seats.
    void Start(std::uint64_t state, int width, int height, const Battlefield* record = nullptr,
               const Seats* seats = nullptr);
    void Step(const RecordedStep& step);
    void Tick() { ++pendingTicks_; }

    // Whole lines written so far, and the ticks run since the last of them.
    const std::string& Written() const { return written_; }
    std::uint64_t PendingTicks() const { return pendingTicks_; }
    // The recording so far: the written lines and the pending ticks.
    std::string Text() const;
    // Hands out the lines written so far and forgets them, for a recording
    // kept in a file rather than in memory; Text() goes on from there.
    std::string TakeWritten() { return std::exchange(written_, {}); }
    // The same with the pending ticks written out as a line of their own,
    // for a file that must hold every tick so far: the next run of ticks
    // counts from none.
    std::string TakeText() {
        WritePendingTicks();
        return TakeWritten();
    }

private:
    void WritePendingTicks();
    void DeclareSeats();

    std::string written_;
    int version_ = 0;  // the format the text declares
    std::uint64_t pendingTicks_ = 0;
};

}  // namespace kestrel
