#pragma once
// The bounds the server keeps to for each connection: plain numbers, read by
// the network side and published in /status.

#include <chrono>
#include <cstddef>
#include <cstdint>

namespace kestrel {

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
// How long an HTTP connection may take over a request or an answer.
inline constexpr std::chrono::seconds HTTP_TIMEOUT{30};
// How long a trusted proxy may take over its PROXY line, which it sends as
// soon as it connects.
inline constexpr std::chrono::seconds PROXY_LINE_TIMEOUT{5};
// A connection over its address's limit is answered 503, and that many of
// them at most are being answered at once for one address: past them a
// connection is closed as it comes. Its request must come within the
// shorter time, and its body is not read.
inline constexpr int REFUSALS_PER_ADDRESS = 2;
inline constexpr std::chrono::seconds REFUSAL_TIMEOUT{5};
// What a refusal over a capacity (rooms, a room's screens, an address's
// connections) asks a client to wait.
inline constexpr std::chrono::seconds RETRY_AFTER{5};
// Out of descriptors, the listener waits this long before accepting again.
inline constexpr std::chrono::milliseconds ACCEPT_BACKOFF{100};
inline constexpr std::uint32_t MAX_HEADER_BYTES = 8 * 1024;

}  // namespace kestrel
