#pragma once
// Reading a real number as the replay scripts write them, the same on every
// platform (a WebAssembly build's C++ library has no floating-point
// from_chars to do it).

#include <optional>
#include <string_view>

namespace kestrel {

// A decimal real: an optional minus sign, digits with an optional point (a
// digit on at least one side of it), an optional exponent `e` or `E` with an
// optional sign and at least one digit; nothing before or after, not even a
// plus sign or a space. The value is the nearest double. None for anything
// else, and for a value too large for a double or too small to be told from
// zero (though not written as zero).
std::optional<double> ReadReal(std::string_view token);

}  // namespace kestrel
