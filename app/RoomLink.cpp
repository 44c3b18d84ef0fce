#include "app/RoomLink.h"

#include <algorithm>

namespace kestrel {
namespace {

// Ids and keys are lower-case hexadecimal, 128 bits at least.
constexpr std::size_t MIN_ID_DIGITS = 32;
constexpr std::size_t MAX_ID_DIGITS = 128;
constexpr std::string_view PLAY = "#live=";
constexpr std::string_view WATCH = "#watch=";

bool IsId(std::string_view id) {
    return id.size() >= MIN_ID_DIGITS && id.size() <= MAX_ID_DIGITS &&
           std::all_of(id.begin(), id.end(), [](char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); });
}

// A host name or address and an optional port: letters, digits, dots,
// dashes, and the brackets and colons of an IPv6 address.
bool IsHost(std::string_view host) {
    return !host.empty() && std::all_of(host.begin(), host.end(), [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
               c == '-' || c == ':' || c == '[' || c == ']';
    });
}

}  // namespace

ReadLink ReadRoomLink(std::string_view text) {
    const auto refuse = [](std::string reason) { return ReadLink{std::nullopt, std::move(reason)}; };
    RoomLink link;
    link.text = text;
    if (text.starts_with("https://")) link.secure = true, text.remove_prefix(8);
    else if (text.starts_with("http://")) text.remove_prefix(7);
    else return refuse("not a room link (it starts with neither http:// nor https://)");
    const std::size_t fragment = text.find('#');
    if (fragment == std::string_view::npos) return refuse("not a room link (it has no #live= or #watch=)");
    std::string_view address = text.substr(0, fragment);
    std::string_view room = text.substr(fragment);
    // The page's path and query (a server may serve it below /) are not needed.
    address = address.substr(0, std::min(address.find('/'), address.find('?')));
    if (!IsHost(address)) return refuse("not a room link (no host in it)");
    link.host = address;
    if (room.starts_with(PLAY)) {
        room.remove_prefix(PLAY.size());
        const std::size_t dot = room.find('.');
        if (dot == std::string_view::npos) return refuse("not a play link (#live= needs ROOM.KEY)");
        link.room = room.substr(0, dot);
        link.key = room.substr(dot + 1);
        if (!IsId(link.key)) return refuse("not a play link (its key is not a room key)");
    } else if (room.starts_with(WATCH)) {
        link.room = room.substr(WATCH.size());
    } else {
        return refuse("not a room link (it has no #live= or #watch=)");
    }
    if (!IsId(link.room)) return refuse("not a room link (its room is not a room id)");
    return {std::move(link), {}};
}

std::string SocketAddress(const RoomLink& link) {
    std::string address = (link.secure ? "wss://" : "ws://") + link.host + "/rooms/" + link.room + "/socket";
    if (link.Plays()) address += "?key=" + link.key;
    return address;
}

}  // namespace kestrel
