#pragma once
// Number rules shared by every rule of the game: the fixed constants, the two
// ways a real becomes an integer, and the rounding to single precision that
// every stored angle and speed goes through.

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>

namespace kestrel {

// The game's own values of pi; these are the digits the rules were tuned
// with, so they are spelled out rather than taken from the math library.
inline constexpr double PI = 3.141592653589794;
inline constexpr double HALF_PI = 1.570796326794897;
inline constexpr double TWO_PI = 6.283185307179588;
inline constexpr double THREE_HALF_PI = 4.712388980384691;
inline constexpr double DEG_TO_RAD = 0.0174532925199433;

// Angles, speeds and shell headings are kept as singles: arithmetic is done
// in double and rounded once, here, when the result is stored.
constexpr float ToSingle(double v) { return static_cast<float>(v); }

// A real's bits, as std::bit_cast gives them (which the browser build's
// library lacks).
inline std::uint64_t BitsOf(double v) {
    std::uint64_t bits;
    std::memcpy(&bits, &v, sizeof bits);
    return bits;
}
inline std::uint32_t BitsOf(float v) {
    std::uint32_t bits;
    std::memcpy(&bits, &v, sizeof bits);
    return bits;
}

// Int: the greatest integer not above v.
inline int Int(double v) { return static_cast<int>(std::floor(v)); }

// CInt: v rounded to the nearest integer, ties to the even neighbour.
inline double CInt(double v) { return std::nearbyint(v); }

// CInt into a 16-bit field. Values beyond the field's range (a pointer far
// outside the window on a large desktop) stick at the nearest end instead of
// wrapping round.
inline std::int16_t CIntSaturated16(double v) {
    constexpr double lo = std::numeric_limits<std::int16_t>::min();
    constexpr double hi = std::numeric_limits<std::int16_t>::max();
    if (std::isnan(v)) return 0;
    const double rounded = CInt(v);
    if (rounded < lo) return std::numeric_limits<std::int16_t>::min();
    if (rounded > hi) return std::numeric_limits<std::int16_t>::max();
    return static_cast<std::int16_t>(rounded);
}

// A rounded double equal to a stored single: the on-aim test.
constexpr bool SameAsSingle(double v, float stored) { return ToSingle(v) == stored; }

// A random angle: a draw times a full turn of 360 degrees, in radians.
inline double RandomAngle(float draw) { return double(draw) * 360 * DEG_TO_RAD; }

}  // namespace kestrel
