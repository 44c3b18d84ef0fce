#pragma once
// Which public room a player who asks to play with anyone is sent to, and
// the order rooms are listed in: the fullest first, so that rooms fill
// rather than scatter.

#include <cstddef>
#include <optional>
#include <vector>

#include "server/directory/Directory.h"

namespace kestrel {

// The fullest room with a free seat (of rooms as full, the one that has
// run longest); none when every listed room's seats are taken.
std::optional<RoomListing> RoomForAnyone(const std::vector<RoomListing>& rooms);

// The rooms fullest first (then longest running), at most `most` of them.
std::vector<RoomListing> FullestFirst(std::vector<RoomListing> rooms, std::size_t most);

}  // namespace kestrel
