#pragma once
// Room ids and play keys: 128 bits from the kernel's secure random source,
// as 32 lowercase hex digits. A key is drawn on its own, so an id tells
// nothing of it.

#include <string>
#include <string_view>

namespace kestrel {

inline constexpr int RANDOM_ID_BYTES = 16;

std::string RandomHexId();
// Whether `text` is such an id: so a room's name on disk, never a path.
bool IsRandomHexId(std::string_view text);

}  // namespace kestrel
