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
// In a live room each seat's tank is drawn once more in its seat's colour,
// seat 0's being the player's blue. Told apart by those who see colours
// differently too, and by each seat's number beside its colour wherever
// the seats are listed.
inline constexpr Colour SEAT_COLOURS[] = {
    PLAYER_BLUE,    // dark blue
    {213, 94, 0},   // vermilion
    {0, 158, 115},  // bluish green
    {204, 121, 167},  // reddish purple
    {230, 159, 0},  // orange
    {86, 180, 233},  // sky blue
};
// What the seats' colours are called, to tell a player which tank is theirs.
inline constexpr const char* SEAT_COLOUR_NAMES[] = {
    "dark blue", "vermilion", "bluish green", "reddish purple", "orange", "sky blue",
};
inline constexpr Colour HIT_TANK_COLOUR{200, 200, 200};
inline constexpr Colour DRAGGED_TANK_COLOUR{150, 150, 150};
inline constexpr Colour SHELL_COLOUR{200, 0, 0};
inline constexpr Colour TRAIL_COLOUR{255, 225, 225};

}  // namespace kestrel
