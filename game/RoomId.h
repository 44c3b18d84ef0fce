#pragma once
// What names a room and opens it: a room's id, and its play key. Both are
// 128 random bits written as 32 lower-case hexadecimal digits, drawn by the
// server; a screen and a link take no other text for them. As an id is a
// file's name on the server's disk, it can never be a path.

#include <cstddef>
#include <string_view>

namespace kestrel {

inline constexpr std::size_t ROOM_ID_BITS = 128;
inline constexpr std::size_t ROOM_ID_HEX_DIGITS = ROOM_ID_BITS / 4;

// Whether `text` is a room's id.
bool IsRoomId(std::string_view text);
// Whether `text` is a room's play key: the same form as an id.
bool IsRoomKey(std::string_view text);

}  // namespace kestrel
