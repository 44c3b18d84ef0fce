#pragma once
// Links to a room, as the server hands them out and the window and the page
// read them: PAGE#live=ID.KEY to play, PAGE#watch=ID to watch, where PAGE is
// the address of the page on the room's server, http[s]://HOST[:PORT]/...
// (or the server's own root, "/", in a link relative to it). A screen
// reaches the room through its socket on that host, ws beside http and wss
// beside https.

#include <optional>
#include <string>
#include <string_view>

#include "game/Result.h"

namespace kestrel {

// The highest TCP port: links, the server's options and a proxy's line
// name ports up to it.
inline constexpr int MAX_PORT = 65535;

struct RoomLink {
    std::string text;      // the link as given
    std::string page;      // the page's address: up to its query or fragment
    bool secure = false;   // https, so the socket is wss
    std::string host;      // with its port, as in the link
    std::string room;
    std::string key;       // empty for a watch link
    bool Plays() const { return !key.empty(); }
};

// The room a link names: none when its fragment names no room (it is
// neither #live= nor #watch=), or why a room link is refused.
using ReadLink = Result<std::optional<RoomLink>>;
ReadLink ReadRoomLink(std::string_view text);

// Whether `host` may stand in a link: a host name or an IPv4 address, or an
// IPv6 address in brackets, with an optional port.
bool IsLinkHost(std::string_view host);

// The links to room `id`, on the page at `page` ("/" when empty).
std::string PlayLink(std::string_view page, std::string_view id, std::string_view key);
std::string WatchLink(std::string_view page, std::string_view id);

// The path of a room's socket on its server: /rooms/ID/socket, and
// ?key=KEY for a player, with &seat=TOKEN for one coming back to the seat
// the room gave it.
std::string SocketPath(std::string_view id, std::string_view key, std::string_view seatToken = {});
// Its whole address: ws[s]://HOST/rooms/ID/socket[?key=KEY[&seat=TOKEN]].
std::string SocketAddress(const RoomLink& link, std::string_view seatToken = {});
// The same path over plain HTTP, http[s]://HOST/rooms/ID/socket[?key=KEY]:
// a GET there is answered as an upgrade would be, so that a screen whose
// upgrade was refused (a browser is not told how) can learn why.
std::string SocketCheckAddress(const RoomLink& link, std::string_view seatToken = {});

}  // namespace kestrel
