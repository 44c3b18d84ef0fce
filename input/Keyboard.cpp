#include "input/Keyboard.h"

namespace kestrel {

KeyAction KeyPressed(Battlefield& bf, Canvas& canvas, std::uint16_t code) {
    if (code == ESC_CODE) return KeyAction::Quit;
    canvas.ClearCanvas();
    bf.tankHits.fill(0);
    return KeyAction::Continue;
}

}  // namespace kestrel
