#pragma once
// What travels between a room's referee and the screens that follow its
// battle. The referee sends its recording as it grows, as text frames: the
// recording from its last clean canvas to a screen that joins, then each
// tick's events and the tick itself; and notices, comment lines that a
// recording reader skips. A screen sends its pointer events and keys as
// recording lines, and the hash of its state now and then.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "game/Result.h"
#include "game/Game.h"
#include "game/Recording.h"

namespace kestrel {

// The referee's pace.
inline constexpr int LIVE_TICKS_PER_SECOND = 1000 / TICK_MS;
// A screen hashes its state at every referee tick that is a multiple of this.
inline constexpr std::uint64_t HASH_EVERY_TICKS = LIVE_TICKS_PER_SECOND;
// Ticks a screen may hold back against jitter; past it, it catches up.
inline constexpr std::uint64_t LIVE_BUFFER_TICKS = 2;
// What a screen may send: frames this long at most, this many lines a second.
inline constexpr std::size_t MAX_CLIENT_FRAME_BYTES = 1024;
inline constexpr int MAX_CLIENT_LINES_PER_SECOND = 100;

// How many ticks a screen plays at one tick of its own timer, `ahead`
// having come: one while it keeps up; all but one when it lags.
std::uint64_t LiveTicksToRun(std::uint64_t ahead);

// `hash TICK HASH`, the hash in 16 lower-case hexadecimal digits.
std::string HashLine(std::uint64_t tick, std::uint64_t hash);

// Lines to send, cut at line ends into frames no longer than a referee
// takes (a line longer than that is dropped: no screen writes one).
std::vector<std::string> ClientFrames(std::string_view lines);

// One line a screen sent: a pointer event or key (a step), or a hash.
struct ClientLine {
    bool isHash = false;
    RecordedStep step;             // Down, Move, Up or Key
    std::uint64_t tick = 0, hash = 0;  // a hash
};

// A frame a screen sent, read: its lines in order, or why it is refused
// ("line N: REASON"). A player may send events and hashes; a watcher
// only hashes.
struct ClientMessage {
    std::vector<ClientLine> lines;
};
Result<ClientMessage> ReadClientMessage(std::string_view frame, bool mayPlay);

// A seat's player: in the room, gone but expected back within the grace
// (their seat kept for them), or gone for good (the seat is free).
enum class SeatPresence { Here, Away, Gone };
inline constexpr std::size_t SEAT_TOKEN_DIGITS = 32;
// Whether `token` has a seat token's form: SEAT_TOKEN_DIGITS lower-case hex
// digits.
bool IsSeatToken(std::string_view token);

// The referee's notices, one a frame.
enum class NoticeKind {
    Joined,    // the join text that follows starts at referee tick `value`
    People,    // `value` screens are in the room
    Mismatch,  // this screen's hash at referee tick `value` differed
    Seat,      // this screen plays seat `value`; `token` brings it back after a drop
    Watching,  // all `value` seats are taken: this screen with the play link watches
    Scores,    // `values`: each seat's kills and wins in turn, where the join text starts
    Roster,    // `values`: each seat's SeatPresence
};
struct Notice {
    NoticeKind kind;
    std::uint64_t value = 0;
    std::string token = {};
    std::vector<std::uint64_t> values = {};
};
std::string WriteNotice(const Notice& notice);
// A frame that is a notice; none for any other (a notice of a kind this
// program does not know is none too, so that newer referees can add some).
std::optional<Notice> ReadNotice(std::string_view frame);
bool IsNotice(std::string_view frame);

}  // namespace kestrel
