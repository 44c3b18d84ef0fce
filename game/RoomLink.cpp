#include "game/RoomLink.h"

#include <algorithm>
#include <charconv>

#include "game/RoomId.h"

namespace kestrel {
namespace {

constexpr std::string_view HTTP = "http://";
constexpr std::string_view HTTPS = "https://";
constexpr std::string_view PLAY = "#live=";
constexpr std::string_view WATCH = "#watch=";
constexpr char KEY_SEPARATOR = '.';
constexpr std::size_t MAX_HOST_NAME = 253;

bool IsNameCharacter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' || c == '-';
}
bool IsIpv6Character(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F') || c == ':' || c == '.';
}

// Empty, or ":" and a port from 1 to 65535.
bool IsPortPart(std::string_view text) {
    if (text.empty()) return true;
    if (text.front() != ':' || text.size() < 2 || text.size() > 6) return false;
    int port = 0;
    const auto [end, ec] = std::from_chars(text.data() + 1, text.data() + text.size(), port);
    return ec == std::errc() && end == text.data() + text.size() && port >= 1 && port <= MAX_PORT;
}

ReadLink Refuse(std::string reason) { return Failure{std::move(reason)}; }
// A fragment of another kind names no room: the link is no room's.
const ReadLink NO_ROOM = std::optional<RoomLink>();

// The room of the fragment, into `link`; or why it names none.
std::optional<ReadLink> ReadFragment(std::string_view fragment, RoomLink& link) {
    if (fragment.starts_with(PLAY)) {
        fragment.remove_prefix(PLAY.size());
        const std::size_t dot = fragment.find(KEY_SEPARATOR);
        if (dot == std::string_view::npos) return Refuse("not a play link (#live= needs ROOM.KEY)");
        link.room = fragment.substr(0, dot);
        link.key = fragment.substr(dot + 1);
        if (!IsRoomKey(link.key)) return Refuse("not a play link (its key is not a room key)");
    } else if (fragment.starts_with(WATCH)) {
        link.room = fragment.substr(WATCH.size());
    } else {
        return NO_ROOM;
    }
    if (!IsRoomId(link.room)) return Refuse("not a room link (its room is not a room id)");
    return std::nullopt;
}

}  // namespace

bool IsLinkHost(std::string_view host) {
    if (host.starts_with('[')) {
        const std::size_t close = host.find(']');
        if (close == std::string_view::npos || close == 1) return false;
        const std::string_view address = host.substr(1, close - 1);
        return std::all_of(address.begin(), address.end(), IsIpv6Character) && IsPortPart(host.substr(close + 1));
    }
    const std::string_view name = host.substr(0, host.find(':'));
    return !name.empty() && name.size() <= MAX_HOST_NAME && name.front() != '.' && name.front() != '-' &&
           std::all_of(name.begin(), name.end(), IsNameCharacter) && IsPortPart(host.substr(name.size()));
}

ReadLink ReadRoomLink(std::string_view text) {
    RoomLink link;
    link.text = text;
    const std::size_t hash = text.find('#');
    if (const std::optional<ReadLink> refused =
            ReadFragment(hash == std::string_view::npos ? std::string_view() : text.substr(hash), link))
        return *refused;
    std::string_view page = text.substr(0, std::min(text.find('?'), hash));
    link.page = page;
    if (page.starts_with(HTTPS)) link.secure = true, page.remove_prefix(HTTPS.size());
    else if (page.starts_with(HTTP)) page.remove_prefix(HTTP.size());
    else return Refuse("not a room link (it starts with neither http:// nor https://)");
    // The page's path (a server may serve it below /) is not needed.
    link.host = page.substr(0, page.find('/'));
    if (link.host.empty()) return Refuse("not a room link (no host in it)");
    if (!IsLinkHost(link.host)) return Refuse("not a room link (its host is not a host name or address)");
    return std::optional<RoomLink>(std::move(link));
}

std::string PlayLink(std::string_view page, std::string_view id, std::string_view key) {
    return std::string(page.empty() ? "/" : page) + std::string(PLAY) + std::string(id) + KEY_SEPARATOR +
           std::string(key);
}

std::string WatchLink(std::string_view page, std::string_view id) {
    return std::string(page.empty() ? "/" : page) + std::string(WATCH) + std::string(id);
}

std::string SocketPath(std::string_view id, std::string_view key, std::string_view seatToken) {
    std::string path = "/rooms/" + std::string(id) + "/socket";
    if (!key.empty()) path += "?key=" + std::string(key);
    if (!key.empty() && !seatToken.empty()) path += "&seat=" + std::string(seatToken);
    return path;
}

std::string SocketAddress(const RoomLink& link, std::string_view seatToken) {
    return (link.secure ? "wss://" : "ws://") + link.host + SocketPath(link.room, link.key, seatToken);
}

std::string SocketCheckAddress(const RoomLink& link, std::string_view seatToken) {
    return (link.secure ? "https://" : "http://") + link.host + SocketPath(link.room, link.key, seatToken);
}

}  // namespace kestrel
