#include "game/RoomId.h"

#include <algorithm>

namespace kestrel {
namespace {

bool IsLowerHexDigit(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); }
bool IsLetterOrDigit(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

bool IsRandomHex(std::string_view text) {
    return text.size() == ROOM_ID_HEX_DIGITS && std::all_of(text.begin(), text.end(), IsLowerHexDigit);
}

}  // namespace

bool IsServerName(std::string_view text) {
    return !text.empty() && text.size() <= MAX_SERVER_NAME && std::all_of(text.begin(), text.end(), IsLetterOrDigit);
}

bool IsRoomId(std::string_view text) {
    if (IsRandomHex(text)) return true;
    const std::size_t separator = text.find(SERVER_NAME_SEPARATOR);
    return separator != std::string_view::npos && IsServerName(text.substr(0, separator)) &&
           IsRandomHex(text.substr(separator + 1));
}

bool IsRoomKey(std::string_view text) { return IsRandomHex(text); }

bool SameSecret(std::string_view given, std::string_view secret) {
    if (given.size() != secret.size()) return false;
    unsigned char differ = 0;
    for (std::size_t i = 0; i < secret.size(); ++i) differ |= static_cast<unsigned char>(given[i] ^ secret[i]);
    return differ == 0;
}

std::string_view RoomServer(std::string_view id) {
    const std::size_t separator = id.find(SERVER_NAME_SEPARATOR);
    return separator == std::string_view::npos ? std::string_view() : id.substr(0, separator);
}

}  // namespace kestrel
