#pragma once
// Room ids and play keys as the server draws them: 128 bits from the
// kernel's secure random source, as 32 lowercase hex digits, after the
// server's name in an id when it has one (the rule is game/RoomId's). A key
// is drawn on its own, so an id tells nothing of it. A source that cannot
// be read answers none, for the caller to refuse the room, not end the server.

#include <sys/random.h>
#include <sys/types.h>

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace kestrel {

inline constexpr int RANDOM_ID_BYTES = 16;

// Where the bytes come from, as getrandom(2) gives them; a test's may fail.
using RandomSource = ssize_t (*)(void* bytes, std::size_t length, unsigned flags);

std::optional<std::string> RandomHexId(RandomSource source = getrandom);
// A new room's id on the server named `server`: NAME-DIGITS, or the digits
// alone when the server has no name.
std::optional<std::string> DrawRoomId(std::string_view server, RandomSource source = getrandom);
// The server other than `server` that room id `id` names; none when the
// room may be on this one (its id names it, or no server at all).
std::optional<std::string_view> OtherServer(std::string_view id, std::string_view server);

}  // namespace kestrel
