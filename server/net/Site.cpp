#include "server/net/Site.h"

#include <algorithm>
#include <array>
#include <system_error>
#include <utility>

namespace kestrel {
namespace {

constexpr std::string_view INDEX = "index.html";

constexpr std::array<std::pair<std::string_view, std::string_view>, 16> MIME_TYPES{{
    {".html", "text/html; charset=utf-8"},
    {".js", "text/javascript; charset=utf-8"},
    {".mjs", "text/javascript; charset=utf-8"},
    {".css", "text/css; charset=utf-8"},
    {".wasm", "application/wasm"},
    {".webmanifest", "application/manifest+json"},
    {".json", "application/json"},
    {".png", "image/png"},
    {".svg", "image/svg+xml"},
    {".ico", "image/x-icon"},
    {".txt", "text/plain; charset=utf-8"},
    {".trace", "text/plain; charset=utf-8"},
    {".map", "application/json"},
    {".woff2", "font/woff2"},
    {".jpg", "image/jpeg"},
    {".xml", "application/xml"},
}};
constexpr std::string_view UNKNOWN_TYPE = "application/octet-stream";

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool Inside(const std::filesystem::path& root, const std::filesystem::path& file) {
    const auto [rootEnd, fileAt] = std::mismatch(root.begin(), root.end(), file.begin(), file.end());
    return rootEnd == root.end();
}

}  // namespace

std::optional<std::string> PercentDecoded(std::string_view text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            out += text[i];
            continue;
        }
        if (i + 2 >= text.size()) return std::nullopt;
        const int high = HexValue(text[i + 1]), low = HexValue(text[i + 2]);
        if (high < 0 || low < 0) return std::nullopt;
        const char c = char(high * 16 + low);
        if (c == '\0' || c == '/') return std::nullopt;
        out += c;
        i += 2;
    }
    return out;
}

std::optional<std::filesystem::path> SiteFile(const std::filesystem::path& root, std::string_view requestPath) {
    if (!requestPath.starts_with('/')) return std::nullopt;
    const std::optional<std::string> decoded = PercentDecoded(requestPath.substr(1));
    if (!decoded || decoded->find('\0') != std::string::npos) return std::nullopt;
    std::filesystem::path relative(*decoded);
    if (relative.is_absolute()) return std::nullopt;  // "//etc" would replace the root
    for (const auto& part : relative)
        if (part == "..") return std::nullopt;
    std::filesystem::path file = root / relative;
    std::error_code ec;
    if (std::filesystem::is_directory(file, ec)) file /= INDEX;
    // Links are followed, and what they reach must still be in the site.
    const std::filesystem::path real = std::filesystem::canonical(file, ec);
    if (ec || !Inside(root, real) || !std::filesystem::is_regular_file(real, ec)) return std::nullopt;
    return real;
}

std::string_view MimeType(const std::filesystem::path& file) {
    const std::string extension = file.extension().string();
    for (const auto& [ending, type] : MIME_TYPES)
        if (extension == ending) return type;
    return UNKNOWN_TYPE;
}

}  // namespace kestrel
