#include "game/RoomId.h"

#include <algorithm>

namespace kestrel {
namespace {

bool IsLowerHexDigit(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); }

bool IsRandomHex(std::string_view text) {
    return text.size() == ROOM_ID_HEX_DIGITS && std::all_of(text.begin(), text.end(), IsLowerHexDigit);
}

}  // namespace

bool IsRoomId(std::string_view text) { return IsRandomHex(text); }

bool IsRoomKey(std::string_view text) { return IsRandomHex(text); }

}  // namespace kestrel
