#pragma once
// "Play with anyone" from the window: the search the page makes too
// (game/AnyoneSearch.h), its requests made over Qt's HTTP, one at a time,
// before the window shows.

#include <string>

#include "app/LiveConnection.h"
#include "game/Result.h"
#include "game/RoomLink.h"

namespace kestrel {

// A room open to anyone on the server at `address` (http[s]://HOST[:PORT],
// no slash after) for a screen of width x height canvas units: the play
// link of a seat found or a room opened, or why there is none (the
// server's refusal in words, a malformed answer, the server cannot be
// reached or did not answer within `timeoutMs`, or its certificate is not
// trusted).
Result<RoomLink> FindAnyoneRoom(const std::string& address, int width, int height,
                                int timeoutMs = JOIN_TIMEOUT_MS);

}  // namespace kestrel
