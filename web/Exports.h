#pragma once
// What the module's exports share: the page's game, the room it follows,
// and the last text handed to the page. Each export is a thin step onto
// the same Game the desktop window drives.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

#include "game/Game.h"
#include "game/LiveClient.h"
#include "game/Reconnect.h"

// Plain C names, in the lower case JavaScript reads them by.
#define KESTREL_EXPORT(name) extern "C" __attribute__((export_name(#name), used))

namespace kestrel::page {

inline std::optional<Game> game;
inline std::optional<LiveClient> live;  // while the page follows a room
inline std::string text;  // the last text handed to the page (a recording, the contract, an error)

// Text for the page: null for none, else kestrel_text_length bytes at it.
const char* Handed(std::optional<std::string> handed);
// Text the page may show, whatever bytes a server's answer brought.
std::string Dumped(const nlohmann::json& json);
// The `length` bytes the page wrote at `at`; none for a length below one.
inline std::string_view Bytes(const char* at, int length) { return {at, std::size_t(length > 0 ? length : 0)}; }
// A room connection's state, as its index in the contract's roomStates.
int StateIndex(ConnectionState state);

}  // namespace kestrel::page
