#pragma once
// The server's JSON answers: its status, with the protocol's numbers that
// screens and tests read from it, and a new room's links.

#include <string>
#include <string_view>

#include "server/base/Counts.h"

#include "server/rooms/LiveRoom.h"

namespace kestrel {

// /status: the server's name ("" without one), the counts, the rooms
// that cannot write ("unwritable": their ids), and
// "protocol": the numbers a screen keeps to.
std::string StatusJson(const StatusCounts& counts, std::string_view name);

// POST /rooms' answer: the room's id, its play and watch links on the page
// at `page` ("https://HOST/", or empty for links relative to the page).
std::string RoomLinksJson(std::string_view page, std::string_view id, std::string_view key);

// What anyone may know of a room: its tick, its screens, and each seat,
// taken or free, its player here or away, and its scores. No key and no
// seat token.
std::string RoomJson(const LiveRoom& room);

}  // namespace kestrel
