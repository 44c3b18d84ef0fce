#pragma once
// What names a room and opens it: a room's id, and its play key. Both are
// 128 random bits written as 32 lower-case hexadecimal digits, drawn by the
// server; a server with a name writes its name before an id's digits,
// NAME-DIGITS, so that a balancer in front of several servers sends every
// request for a room to the one that holds it. A screen and a link take no
// other text for them. As an id is a file's name on the server's disk, it
// can never be a path.

#include <cstddef>
#include <string_view>

namespace kestrel {

inline constexpr std::size_t ROOM_ID_BITS = 128;
inline constexpr std::size_t ROOM_ID_HEX_DIGITS = ROOM_ID_BITS / 4;
inline constexpr std::size_t MAX_SERVER_NAME = 16;
// Between a server's name and the digits of an id.
inline constexpr char SERVER_NAME_SEPARATOR = '-';

// Whether `text` is a server's name: 1 to MAX_SERVER_NAME letters and digits.
bool IsServerName(std::string_view text);
// Whether `text` is a room's id: NAME-DIGITS, or DIGITS alone (a room of a
// server without a name, or kept from before servers had names).
bool IsRoomId(std::string_view text);
// Whether `text` is a room's play key: the digits alone.
bool IsRoomKey(std::string_view text);
// Whether two secrets (a play key, a seat token) are the same, compared in
// full whatever the first difference, so that the time taken tells nothing.
bool SameSecret(std::string_view given, std::string_view secret);
// The server a room id names; empty for an id of digits alone.
std::string_view RoomServer(std::string_view id);

}  // namespace kestrel
