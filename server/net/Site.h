#pragma once
// The static site the server hands out: the built page. A request's path is
// read as a file under the site's folder and nowhere else.

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace kestrel {

// The file a request path names under `root` (a folder given as its
// canonical path), with a folder's index.html; none for a path that is
// malformed, leaves the site (`..`, a link pointing out) or names nothing.
std::optional<std::filesystem::path> SiteFile(const std::filesystem::path& root, std::string_view requestPath);

// The Content-Type a file is served with, by its extension.
std::string_view MimeType(const std::filesystem::path& file);

// %XX escapes undone; none for a bad escape or an escaped NUL or slash.
std::optional<std::string> PercentDecoded(std::string_view text);

}  // namespace kestrel
