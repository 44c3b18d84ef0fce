#pragma once
// How a platform's mouse buttons and keys become the codes the handlers
// take. The window and the browser page each say which of their buttons and
// keys is which; the numbers live here, once.

#include <cstdint>
#include <optional>
#include <string_view>

namespace kestrel {

enum class MouseButton { Left, Right, Middle, Back, Forward, Other };

// Left 1 and right 2, as the pointer handlers test them; the others their
// own bits (middle 4, back 8, forward 16), and 0 for any further button.
std::int16_t ButtonCode(MouseButton button);

// Keys known by name rather than by the text they type.
enum class NamedKey { Escape, Enter, Tab, Backspace, Other };

// The character code of a key press: Esc 27, Enter 13, Tab 9 and Backspace 8
// wherever a platform reports them; any other key its text's first UTF-16
// unit; none for a key that types nothing (Shift, arrows, function keys).
std::optional<std::uint16_t> CharacterCode(NamedKey key, std::u16string_view text);

}  // namespace kestrel
