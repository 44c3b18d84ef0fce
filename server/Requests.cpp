#include "server/Requests.h"

#include <charconv>

namespace kestrel {
namespace {

constexpr std::string_view ROOMS_PREFIX = "/rooms/";
constexpr std::string_view HTTP = "http", HTTPS = "https";

void SkipSpace(std::string_view& text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t' || text.front() == '\r' ||
                             text.front() == '\n'))
        text.remove_prefix(1);
}

bool Take(std::string_view& text, char c) {
    SkipSpace(text);
    if (text.empty() || text.front() != c) return false;
    text.remove_prefix(1);
    return true;
}

std::optional<std::string_view> TakeKey(std::string_view& text) {
    if (!Take(text, '"')) return std::nullopt;
    const std::size_t end = text.find('"');
    if (end == std::string_view::npos) return std::nullopt;
    const std::string_view key = text.substr(0, end);
    text.remove_prefix(end + 1);
    return key;
}

std::optional<long long> TakeInteger(std::string_view& text) {
    SkipSpace(text);
    long long value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc()) return std::nullopt;
    text.remove_prefix(std::size_t(end - text.data()));
    return value;
}

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
    if (slash == 0 || slash == std::string_view::npos) return std::nullopt;
    const RoomPath room{path.substr(0, slash), path.substr(slash + 1)};
    if (room.what.find('/') != std::string_view::npos) return std::nullopt;
    return room;
}

RoomRequest ReadRoomRequest(std::string_view body, int maxSide) {
    RoomRequest request;
    SkipSpace(body);
    if (body.empty()) return request;
    const auto bad = [&](std::string why) {
        request.error = std::move(why);
        return request;
    };
    const std::string expected = "the body should be {\"width\": W, \"height\": H}";
    if (!Take(body, '{')) return bad(expected);
    bool first = true;
    while (!Take(body, '}')) {
        if (!first && !Take(body, ',')) return bad(expected);
        first = false;
        const std::optional<std::string_view> key = TakeKey(body);
        if (!key || !Take(body, ':')) return bad(expected);
        int* side = *key == "width" ? &request.size.width : *key == "height" ? &request.size.height : nullptr;
        if (!side) return bad("unknown field \"" + std::string(*key) + "\": only width and height are read");
        const std::optional<long long> value = TakeInteger(body);
        if (!value || *value < 1 || *value > maxSide)
            return bad(std::string(*key) + " must be a whole number from 1 to " + std::to_string(maxSide));
        *side = int(*value);
    }
    SkipSpace(body);
    if (!body.empty()) return bad(expected);
    return request;
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
