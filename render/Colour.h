#pragma once

#include <cstdint>

namespace kestrel {

struct Colour {
    std::uint8_t r = 0;
    std::uint8_t g = 0;
    std::uint8_t b = 0;
    friend constexpr bool operator==(Colour, Colour) = default;
};

// The background: drawing anything again in white erases it.
inline constexpr Colour WHITE{255, 255, 255};
inline constexpr Colour BLACK{0, 0, 0};
// The player's tank is drawn over its black image once more in dark blue.
inline constexpr Colour PLAYER_BLUE{0, 0, 150};
inline constexpr Colour HIT_TANK_COLOUR{200, 200, 200};
inline constexpr Colour DRAGGED_TANK_COLOUR{150, 150, 150};
inline constexpr Colour SHELL_COLOUR{200, 0, 0};
inline constexpr Colour TRAIL_COLOUR{255, 225, 225};

}  // namespace kestrel
