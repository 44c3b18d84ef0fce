#pragma once
// What the server reads from a request before it answers: the parts of its
// target and the origin a page comes from. Plain text in, plain values out, so each is checked without a
// network.

#include <optional>
#include <string>
#include <string_view>

namespace kestrel {

// A request target split at its '?'.
struct Target {
    std::string_view path;
    std::string_view query;
};
Target SplitTarget(std::string_view target);

// The value of `name=VALUE` in a query, percent escapes left as they are.
std::optional<std::string_view> QueryValue(std::string_view query, std::string_view name);

// For /rooms/ID/WHAT, the ID and WHAT; none for any other path.
struct RoomPath {
    std::string_view room;
    std::string_view what;
};
std::optional<RoomPath> ReadRoomPath(std::string_view path);

// The scheme the browser used, "http" or "https": a trusted proxy's
// X-Forwarded-Proto (none from any other peer); http when it names none
// (the server itself speaks plain HTTP).
std::string_view BrowserScheme(std::optional<std::string_view> forwardedProto);

// Whether a request's Origin (when it sends one) is the page's own,
// SCHEME://HOST, as the browser saw it: the scheme it used and the Host it
// asked for.
bool SameOrigin(std::optional<std::string_view> origin, std::string_view scheme, std::string_view host);

}  // namespace kestrel
