#pragma once
// The server's JSON answers: its status, with the protocol's numbers that
// screens and tests read from it, and a new room's links.

#include <string>
#include <string_view>

#include "server/base/Counts.h"

namespace kestrel {

// /status: the server's name ("" without one), the counts, the rooms
// that cannot write ("unwritable": their ids), and
// "protocol": the numbers a screen keeps to.
std::string StatusJson(const StatusCounts& counts, std::string_view name);

// POST /rooms' answer: the room's id, its play and watch links on the page
// at `page` ("https://HOST/", or empty for links relative to the page).
std::string RoomLinksJson(std::string_view page, std::string_view id, std::string_view key);

}  // namespace kestrel
