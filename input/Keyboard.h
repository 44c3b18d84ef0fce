#pragma once

#include <cstdint>

#include "model/Battlefield.h"
#include "render/Canvas.h"

namespace kestrel {

inline constexpr std::uint16_t ESC_CODE = 27;

enum class KeyAction { Continue, Quit };

// A key that yields a character: Esc asks the program to end at once; any
// other key wipes the canvas and ends the battle, so the next tick starts a
// new one. Shells in flight and a drag in progress carry on.
[[nodiscard]] KeyAction KeyPressed(Battlefield& bf, Canvas& canvas, std::uint16_t code);

}  // namespace kestrel
