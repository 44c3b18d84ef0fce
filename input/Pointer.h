#pragma once
// The mouse: drag a live tank with the left button; release the left button
// over a tank to send the player's tank after it (in a live room, the tank
// of the seat whose release it is), the right button to send every tank
// after it.

#include <cstdint>

#include "model/Battlefield.h"
#include "render/Canvas.h"

namespace kestrel {

inline constexpr std::int16_t LEFT_BUTTON = 1;
inline constexpr std::int16_t RIGHT_BUTTON = 2;

// x and y are the pointer position in canvas units; shift is not used.
void PointerDown(Battlefield& bf, const Canvas& canvas, std::int16_t button, std::int16_t shift,
                 float x, float y);
void PointerMove(Battlefield& bf, Canvas& canvas, std::int16_t button, std::int16_t shift,
                 float x, float y);
// `player` is the slot of the tank a left release orders.
void PointerUp(Battlefield& bf, const Canvas& canvas, std::int16_t button, std::int16_t shift,
               float x, float y, int player = PLAYER_SLOT);

}  // namespace kestrel
