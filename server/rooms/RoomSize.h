#pragma once
// The size a POST /rooms body (other than a start recording) asks for:
// empty, or the JSON object {"width": W, "height": H}, either left out
// for the game's own, each 1..maxSide.

#include <string_view>

#include "game/Game.h"
#include "game/Result.h"

namespace kestrel {

struct RoomSize {
    int width = START_WIDTH;
    int height = START_HEIGHT;
};

Result<RoomSize> ReadRoomSize(std::string_view body, int maxSide);

}  // namespace kestrel
