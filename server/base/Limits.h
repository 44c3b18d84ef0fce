#pragma once
// Every bound the server keeps to, each with its reason: what one client,
// one room or one disk may take of it. The ones an operator sets are in
// ServerLimits (the command line's --max-... options, raised for
// benchmarks); /status publishes those a screen keeps to ("protocol").

#include <chrono>
#include <cstddef>
#include <cstdint>

#include "game/Room.h"

namespace kestrel {

// The limits the command line sets, with their defaults.
struct ServerLimits {
    int rooms = 64;
    int connectionsPerRoom = 32;
    int connectionsPerAddress = 48;  // a page loads its files over several at once
    int roomCreationsPerMinute = 10;  // per address
    // Asks for the public rooms (their list, "Play with anyone", a seat in
    // one) per address a minute: a page with the list open asks every few
    // seconds, a flood is answered 429.
    int queriesPerMinute = 120;
    // A room's ticks between two checkpoints (shorter for tests).
    int checkpointTicks = int(CHECKPOINT_EVERY_TICKS);
};
// The highest any of them may be set to.
inline constexpr int MAX_LIMIT = 1'000'000;

// --- A screen's connection ---

// Frames waiting for a screen's socket: about six seconds of ticks. A screen
// that falls further behind is dropped and may join again.
inline constexpr std::size_t MAX_QUEUED_FRAMES = 256;
// A screen that answers nothing this long, not even the ping sent half-way
// through, is dropped: its socket is not being read.
inline constexpr std::chrono::seconds SCREEN_IDLE_LIMIT{6};
// A screen whose frame has not gone into its socket this long reads
// nothing, even if it sends: it is dropped. Without it the kernel's buffer
// would hide such a screen for hours; a screen that keeps up hands each
// frame to its socket at once.
inline constexpr std::chrono::seconds SCREEN_WRITE_LIMIT{5};
// What a screen's socket may hold for the kernel to send once its join text
// is out (the kernel doubles it), so that one that reads nothing fills it
// within seconds rather than the hours of ticks a buffer the kernel grows
// itself would take. A room's stream is a few hundred bytes a second, its
// busiest bursts some kilobytes: this holds seconds of them, and carries
// them over a round trip of half a second.
inline constexpr int SCREEN_SEND_BUFFER_BYTES = 4 * 1024;

// --- HTTP ---

// How long an HTTP connection may take over a request or an answer.
inline constexpr std::chrono::seconds HTTP_TIMEOUT{30};
// How long a trusted proxy may take over its PROXY line, which it sends as
// soon as it connects.
inline constexpr std::chrono::seconds PROXY_LINE_TIMEOUT{5};
inline constexpr std::uint32_t MAX_HEADER_BYTES = 8 * 1024;
// The longest body POST /rooms reads: a start recording (a battle's
// record as set lines takes some tens of kilobytes).
inline constexpr std::size_t MAX_ROOM_REQUEST_BYTES = 256u << 10;
// A connection over its address's limit is answered 503, and that many of
// them at most are being answered at once for one address: past them a
// connection is closed as it comes. Its request must come within the
// shorter time, and its body is not read.
inline constexpr int REFUSALS_PER_ADDRESS = 2;
inline constexpr std::chrono::seconds REFUSAL_TIMEOUT{5};
// What a refusal over a capacity (rooms, a room's screens, an address's
// connections, the disk) asks a client to wait.
inline constexpr std::chrono::seconds RETRY_AFTER{5};
// Out of descriptors, the listener waits this long before accepting again.
inline constexpr std::chrono::milliseconds ACCEPT_BACKOFF{100};

// --- Rooms ---

// The stretch over which an address's room creations are counted.
inline constexpr auto CREATION_WINDOW = std::chrono::minutes(1);
// An empty room is closed after this long.
inline constexpr auto ROOM_IDLE_LIMIT = std::chrono::minutes(10);
// The most public rooms one answer lists, the fullest first.
inline constexpr std::size_t MAX_ROOMS_LISTED = 100;
// How often this server's public rooms go to the directory, at most.
inline constexpr std::chrono::seconds PUBLISH_EVERY{1};

// --- The disk ---

// What a recording file holds back in memory while its disk refuses it:
// as much as a room keeps for late joins, so a room on a full disk holds at
// most twice what it holds on a sound one (64 MiB for a full server). That
// is a day of a quiet room, and a quarter of an hour of one whose players
// send events at every tick: time for whoever the log warns to make room.
// Past it the room plays on, and its recording stops where it was whole.
inline constexpr std::size_t MAX_HELD_BACK_BYTES = 1u << 20;
// At most this many checkpoints wait for the writer; past them one for a
// further room is dropped (the room keeps another a period later).
inline constexpr std::size_t MAX_QUEUED_CHECKPOINTS = 64;

}  // namespace kestrel
