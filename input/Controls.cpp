#include "input/Controls.h"

#include "input/Keyboard.h"
#include "input/Pointer.h"

namespace kestrel {
namespace {

constexpr std::int16_t MIDDLE_BUTTON = 4;
constexpr std::int16_t BACK_BUTTON = 8;
constexpr std::int16_t FORWARD_BUTTON = 16;
constexpr std::int16_t OTHER_BUTTON = 0;

constexpr std::uint16_t ENTER_CODE = 13;
constexpr std::uint16_t TAB_CODE = 9;
constexpr std::uint16_t BACKSPACE_CODE = 8;

}  // namespace

std::int16_t ButtonCode(MouseButton button) {
    switch (button) {
        case MouseButton::Left: return LEFT_BUTTON;
        case MouseButton::Right: return RIGHT_BUTTON;
        case MouseButton::Middle: return MIDDLE_BUTTON;
        case MouseButton::Back: return BACK_BUTTON;
        case MouseButton::Forward: return FORWARD_BUTTON;
        case MouseButton::Other: break;
    }
    return OTHER_BUTTON;
}

std::optional<std::uint16_t> CharacterCode(NamedKey key, std::u16string_view text) {
    switch (key) {
        case NamedKey::Escape: return ESC_CODE;
        case NamedKey::Enter: return ENTER_CODE;
        case NamedKey::Tab: return TAB_CODE;
        case NamedKey::Backspace: return BACKSPACE_CODE;
        case NamedKey::Other: break;
    }
    if (text.empty()) return std::nullopt;
    return text.front();
}

}  // namespace kestrel
