// The browser's side of the game: functions the page's JavaScript calls,
// each one a thin step onto the same Game the desktop window drives. The
// picture stays in the module's memory, where the page reads the pixels of
// the rectangles that changed.

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "game/Game.h"
#include "input/Controls.h"

// Plain C names, in the lower case JavaScript reads them by.
#define KESTREL_EXPORT(name) extern "C" __attribute__((export_name(#name), used))

namespace kestrel {
namespace {

std::optional<Game> game;
std::vector<PixelRect> changes;

// A pointer event's `button`: 0 left, 1 middle, 2 right, 3 back, 4 forward.
MouseButton ButtonOfIndex(int index) {
    switch (index) {
        case 0: return MouseButton::Left;
        case 1: return MouseButton::Middle;
        case 2: return MouseButton::Right;
        case 3: return MouseButton::Back;
        case 4: return MouseButton::Forward;
        default: return MouseButton::Other;
    }
}

// The keys the page names (in this order) rather than by their text.
constexpr NamedKey NAMED_KEYS[] = {NamedKey::Escape, NamedKey::Enter, NamedKey::Tab, NamedKey::Backspace};

// What the page's probes may read of the record.
enum class Probe { TankX, TankY, TankHits, TankTarget, Dragging, DragSlot, CanvasWidth, CanvasHeight };

}  // namespace
}  // namespace kestrel

using namespace kestrel;

KESTREL_EXPORT(kestrel_start) void kestrel_start() {
    game.emplace(GameRandom::FromClock(), GameOutput::Picture, PixelFormat::RgbaBytes);
}

// width x height canvas units (CSS pixels), at `ratio` device pixels each;
// the device size as the browser measured it.
KESTREL_EXPORT(kestrel_resize) void kestrel_resize(int width, int height, double ratio, int deviceWidth,
                                                   int deviceHeight) {
    game->Resize(width, height, ratio, deviceWidth, deviceHeight);
}

// The period of the page's timer, in milliseconds.
KESTREL_EXPORT(kestrel_tick_ms) int kestrel_tick_ms() { return TICK_MS; }

KESTREL_EXPORT(kestrel_tick) void kestrel_tick() { game->Tick(); }

KESTREL_EXPORT(kestrel_pointer_down) void kestrel_pointer_down(int buttonIndex, float x, float y) {
    game->PointerDown(ButtonCode(ButtonOfIndex(buttonIndex)), x, y);
}

KESTREL_EXPORT(kestrel_pointer_move) void kestrel_pointer_move(float x, float y) { game->PointerMove(x, y); }

KESTREL_EXPORT(kestrel_pointer_up) void kestrel_pointer_up(int buttonIndex, float x, float y) {
    game->PointerUp(ButtonCode(ButtonOfIndex(buttonIndex)), x, y);
}

// A key the page names by its index in NAMED_KEYS, or (named -1) one that
// types the UTF-16 unit `unit`. Returns 1 when the game has ended (Esc).
KESTREL_EXPORT(kestrel_key) int kestrel_key(int named, int unit) {
    const bool isNamed = named >= 0 && named < int(std::size(NAMED_KEYS));
    const char16_t text[1] = {char16_t(unit)};
    const auto code = CharacterCode(isNamed ? NAMED_KEYS[named] : NamedKey::Other,
                                    std::u16string_view(text, isNamed || unit < 0 ? 0 : 1));
    if (code) (void)game->Key(*code);
    return game->Ended() ? 1 : 0;
}

// The picture: RGBA bytes, row after row, DeviceWidth x DeviceHeight.
KESTREL_EXPORT(kestrel_pixels) const std::uint8_t* kestrel_pixels() { return game->Picture()->Bytes(); }
KESTREL_EXPORT(kestrel_device_width) int kestrel_device_width() { return game->Picture()->DeviceWidth(); }
KESTREL_EXPORT(kestrel_device_height) int kestrel_device_height() { return game->Picture()->DeviceHeight(); }

// Takes the changed rectangles: their count; kestrel_changes then points at
// left, top, right, bottom of each, in device pixels.
KESTREL_EXPORT(kestrel_take_changes) int kestrel_take_changes() {
    changes = game->TakeChanges();
    return int(changes.size());
}
KESTREL_EXPORT(kestrel_changes) const PixelRect* kestrel_changes() { return changes.data(); }

// For tests and probes: one value of the record or the canvas.
KESTREL_EXPORT(kestrel_probe) double kestrel_probe(int what, int slot) {
    const Battlefield& bf = game->Field();
    const int s = slot >= 0 && slot < SLOT_COUNT ? slot : 0;
    switch (Probe(what)) {
        case Probe::TankX: return bf.tankX[s];
        case Probe::TankY: return bf.tankY[s];
        case Probe::TankHits: return bf.tankHits[s];
        case Probe::TankTarget: return bf.tankTarget[s];
        case Probe::Dragging: return bf.dragging ? 1 : 0;
        case Probe::DragSlot: return bf.dragSlot;
        case Probe::CanvasWidth: return game->DrawingCanvas().CanvasWidth();
        case Probe::CanvasHeight: return game->DrawingCanvas().CanvasHeight();
    }
    return 0;
}
