#pragma once
// A link to a room on a kestrel-server, as the page hands it out:
// http://HOST[:PORT]/#live=ROOM.KEY to play, http://HOST[:PORT]/#watch=ROOM
// to watch (https too). Plain C++, so that it is tested without Qt.

#include <optional>
#include <string>
#include <string_view>

namespace kestrel {

struct RoomLink {
    std::string text;      // the link as given
    bool secure = false;   // https, so the socket is wss
    std::string host;      // with its port, as in the link
    std::string room;
    std::string key;       // empty for a watch link
    bool Plays() const { return !key.empty(); }
};

// The room a link names, or the reason it names none.
struct ReadLink {
    std::optional<RoomLink> link;
    std::string error;
};
ReadLink ReadRoomLink(std::string_view text);

// The address of the room's socket: ws[s]://HOST/rooms/ROOM/socket[?key=KEY].
std::string SocketAddress(const RoomLink& link);

}  // namespace kestrel
