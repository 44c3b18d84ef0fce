#pragma once
// The server's JSON answers: its status, with the protocol's numbers that
// screens and tests read from it, and a new room's links.

#include <string>
#include <string_view>

#include "server/base/Counts.h"
#include "server/directory/Directory.h"

#include "server/rooms/LiveRoom.h"

namespace kestrel {

// /status: the server's name ("" without one), the counts, the rooms
// that cannot write ("unwritable": their ids), and
// "protocol": the numbers a screen keeps to.
std::string StatusJson(const StatusCounts& counts, std::string_view name);

// POST /rooms' answer: the room's id, its play and watch links on the page
// at `page` ("https://HOST/", or empty for links relative to the page).
std::string RoomLinksJson(std::string_view page, std::string_view id, std::string_view key);

// GET /rooms: the public rooms playing now, on every server, the fullest
// first, each with its watch link on the page at `page`, its seats taken
// and free, its watchers, its leading score and how long it has run; and
// "whole", false when only this server's rooms could be listed. No key.
std::string PublicRoomsJson(std::string_view page, const DirectoryList& rooms);

// "Play with anyone" answered with a public room on another server: its
// id, its watch link, and where to ask it for a seat (POST).
std::string SeatElsewhereJson(std::string_view page, std::string_view id);

// What anyone may know of a room: its tick, its screens, and each seat,
// taken or free, its player here or away, and its scores. No key and no
// seat token.
std::string RoomJson(const LiveRoom& room);

}  // namespace kestrel
