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
