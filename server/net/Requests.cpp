#include "server/net/Requests.h"

#include <cctype>

namespace kestrel {
namespace {

constexpr std::string_view ROOMS_PREFIX = "/rooms/";
constexpr std::string_view HTTP = "http", HTTPS = "https";

}  // namespace

Target SplitTarget(std::string_view target) {
    const std::size_t question = target.find('?');
    if (question == std::string_view::npos) return {target, {}};
    return {target.substr(0, question), target.substr(question + 1)};
}

std::optional<std::string_view> QueryValue(std::string_view query, std::string_view name) {
    while (!query.empty()) {
        const std::size_t amp = query.find('&');
        const std::string_view pair = query.substr(0, amp);
        if (pair.size() > name.size() && pair.starts_with(name) && pair[name.size()] == '=')
            return pair.substr(name.size() + 1);
        if (amp == std::string_view::npos) break;
        query.remove_prefix(amp + 1);
    }
    return std::nullopt;
}

std::optional<RoomPath> ReadRoomPath(std::string_view path) {
    if (!path.starts_with(ROOMS_PREFIX)) return std::nullopt;
    path.remove_prefix(ROOMS_PREFIX.size());
    const std::size_t slash = path.find('/');
    if (slash == 0 || path.empty()) return std::nullopt;
    if (slash == std::string_view::npos) return RoomPath{path, {}};  // the room itself
    const RoomPath room{path.substr(0, slash), path.substr(slash + 1)};
    if (room.what.find('/') != std::string_view::npos) return std::nullopt;
    return room;
}

std::string_view BrowserScheme(std::optional<std::string_view> forwardedProto) {
    return forwardedProto == HTTPS ? HTTPS : HTTP;
}

bool SameOrigin(std::optional<std::string_view> origin, std::string_view scheme, std::string_view host) {
    if (!origin) return true;  // not a browser: nothing to check
    if (host.empty()) return false;
    return *origin == std::string(scheme) + "://" + std::string(host);
}

}  // namespace kestrel
