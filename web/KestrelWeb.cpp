// The browser's side of the game: functions the page's JavaScript calls,
// each one a thin step onto the same Game the desktop window drives. The
// picture stays in the module's memory, where the page reads the pixels of
// the rectangles that changed. A live room's exports are in
// LiveExports.cpp, "Play with anyone"'s in AnyoneExports.cpp.
//
// The page's contract with the module lives here and nowhere else: the
// names of the keys the page hands over by name, the pointer buttons by
// their index in a pointer event, and what the probes read. The page and its
// tests read it from the module (kestrel_contract) as JSON.

#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "game/AnyoneSearch.h"
#include "game/LiveWire.h"
#include "game/Recording.h"
#include "game/Refusals.h"
#include "input/Controls.h"
#include "web/Exports.h"

namespace kestrel::page {
namespace {

std::vector<PixelRect> changes;

// A pointer event's buttons, by their `button` index: the name the page
// knows each by, and the bit each holds in the event's `buttons`.
struct PageButton {
    std::string_view name;
    int bit;
    MouseButton button;
};
constexpr PageButton PAGE_BUTTONS[] = {
    {"left", 1, MouseButton::Left},    {"middle", 4, MouseButton::Middle},
    {"right", 2, MouseButton::Right},  {"back", 8, MouseButton::Back},
    {"forward", 16, MouseButton::Forward},
};

MouseButton ButtonOfIndex(int index) {
    return index >= 0 && index < int(std::size(PAGE_BUTTONS)) ? PAGE_BUTTONS[index].button : MouseButton::Other;
}

// The keys the page hands over by their `key` name rather than their text.
struct PageKey {
    std::string_view name;
    NamedKey key;
};
constexpr PageKey PAGE_KEYS[] = {
    {"Escape", NamedKey::Escape}, {"Enter", NamedKey::Enter}, {"Tab", NamedKey::Tab},
    {"Backspace", NamedKey::Backspace},
};

// What the page's probes may read of the record, by name.
enum class Probe { TankX, TankY, TankHits, TankTarget, Dragging, DragSlot, CanvasWidth, CanvasHeight };
constexpr std::string_view PROBE_NAMES[] = {"tankX",    "tankY",    "tankHits",    "tankTarget",
                                            "dragging", "dragSlot", "canvasWidth", "canvasHeight"};
static_assert(std::size(PROBE_NAMES) == std::size_t(Probe::CanvasHeight) + 1, "a name for every probe");

constexpr ConnectionState ROOM_STATES[] = {ConnectionState::Connecting, ConnectionState::Live,
                                           ConnectionState::Lost, ConnectionState::Closed};

// The numbers and names the page shares with the module, as one object.
std::string ContractJson() {
    nlohmann::json contract = {{"tickMs", TICK_MS},
                               {"slotCount", SLOT_COUNT},
                               {"maxRecordingBytes", MAX_RECORDING_BYTES},
                               {"firstRetryMs", FIRST_RETRY_MS},
                               {"lastRetryMs", LAST_RETRY_MS},
                               {"liveTicksPerSecond", LIVE_TICKS_PER_SECOND},
                               {"hashEveryTicks", HASH_EVERY_TICKS},
                               {"maxAnyoneAnswerBytes", MAX_ANYONE_ANSWER_BYTES},
                               {"anyoneTries", ANYONE_TRIES}};
    for (const PageKey& key : PAGE_KEYS) contract["keys"].push_back(key.name);
    for (const PageButton& b : PAGE_BUTTONS) contract["buttons"].push_back({{"name", b.name}, {"bit", b.bit}});
    for (const ConnectionState state : ROOM_STATES) contract["roomStates"].push_back(StateName(state));
    for (std::size_t i = 0; i < std::size(PROBE_NAMES); ++i) contract["probes"][PROBE_NAMES[i]] = i;
    // The server's refusals, by the index kestrel_refusal answers.
    for (const RefusalTerms& terms : AllRefusals())
        contract["refusals"].push_back({{"token", terms.token}, {"mayPass", terms.mayPass}, {"words", terms.words}});
    contract["refusalHeader"] = REFUSAL_HEADER;
    return contract.dump();
}

}  // namespace

const char* Handed(std::optional<std::string> handed) {
    if (!handed) return nullptr;
    text = std::move(*handed);
    return text.c_str();
}

std::string Dumped(const nlohmann::json& json) {
    return json.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

int StateIndex(ConnectionState state) {
    for (std::size_t i = 0; i < std::size(ROOM_STATES); ++i)
        if (ROOM_STATES[i] == state) return int(i);
    return 0;
}

}  // namespace kestrel::page

using namespace kestrel;
using namespace kestrel::page;

// The contract, as JSON text (NUL-terminated, valid until the next call
// that returns text).
KESTREL_EXPORT(kestrel_contract) const char* kestrel_contract() {
    text = ContractJson();
    return text.c_str();
}

KESTREL_EXPORT(kestrel_start) void kestrel_start() {
    live.reset();  // it holds the game
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

// In a room, the room's ticks that have come, at the pace of LiveClient::Tick.
KESTREL_EXPORT(kestrel_tick) void kestrel_tick() {
    if (live) live->Tick();
    else game->Tick();
}

KESTREL_EXPORT(kestrel_pointer_down) void kestrel_pointer_down(int buttonIndex, float x, float y) {
    game->PointerDown(ButtonCode(ButtonOfIndex(buttonIndex)), x, y);
}

KESTREL_EXPORT(kestrel_pointer_move) void kestrel_pointer_move(float x, float y) { game->PointerMove(x, y); }

KESTREL_EXPORT(kestrel_pointer_up) void kestrel_pointer_up(int buttonIndex, float x, float y) {
    game->PointerUp(ButtonCode(ButtonOfIndex(buttonIndex)), x, y);
}

// A key the page names by its index in the contract's keys, or (named -1)
// one that types the UTF-16 unit `unit`. Returns 1 when the game has ended
// (Esc).
KESTREL_EXPORT(kestrel_key) int kestrel_key(int named, int unit) {
    const bool isNamed = named >= 0 && named < int(std::size(PAGE_KEYS));
    const char16_t typed[1] = {char16_t(unit)};
    const auto code = CharacterCode(isNamed ? PAGE_KEYS[named].key : NamedKey::Other,
                                    std::u16string_view(typed, isNamed || unit < 0 ? 0 : 1));
    if (code) (void)game->Key(*code);
    return game->Ended() ? 1 : 0;
}

// The picture: RGBA bytes, row after row, DeviceWidth x DeviceHeight.
KESTREL_EXPORT(kestrel_pixels) const std::uint8_t* kestrel_pixels() { return game->Picture()->Bytes(); }
KESTREL_EXPORT(kestrel_device_width) int kestrel_device_width() { return game->Picture()->DeviceWidth(); }
KESTREL_EXPORT(kestrel_device_height) int kestrel_device_height() { return game->Picture()->DeviceHeight(); }
// The game's size in canvas units: the page's, or a recording's while one
// plays back.
KESTREL_EXPORT(kestrel_width) int kestrel_width() { return game->Width(); }
KESTREL_EXPORT(kestrel_height) int kestrel_height() { return game->Height(); }

// Takes the changed rectangles: their count; kestrel_changes then points at
// left, top, right, bottom of each, in device pixels.
KESTREL_EXPORT(kestrel_take_changes) int kestrel_take_changes() {
    changes = game->TakeChanges();
    return int(changes.size());
}
KESTREL_EXPORT(kestrel_changes) const PixelRect* kestrel_changes() { return changes.data(); }

// The recording so far, as text: kestrel_recording points at it (valid
// until the next call that returns text), kestrel_text_length gives its
// length in bytes.
KESTREL_EXPORT(kestrel_recording) const char* kestrel_recording() {
    text = game->Recording().Text();
    return text.c_str();
}
KESTREL_EXPORT(kestrel_text_length) int kestrel_text_length() { return int(text.size()); }

// Room in the module's memory for the page to write text into.
KESTREL_EXPORT(kestrel_alloc) char* kestrel_alloc(int bytes) {
    return static_cast<char*>(std::malloc(std::size_t(bytes > 0 ? bytes : 1)));
}
KESTREL_EXPORT(kestrel_free) void kestrel_free(char* at) { std::free(at); }

// Plays back the recording of `length` bytes at `recording`: null when it
// plays, or the reason it is refused ("line N: REASON", as text).
KESTREL_EXPORT(kestrel_play_back) const char* kestrel_play_back(const char* recording, int length) {
    return Handed(game->PlayBack(Bytes(recording, length)));
}
KESTREL_EXPORT(kestrel_playing_back) int kestrel_playing_back() { return game->PlayingBack() ? 1 : 0; }

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
