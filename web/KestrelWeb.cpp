// The browser's side of the game: functions the page's JavaScript calls,
// each one a thin step onto the same Game the desktop window drives. The
// picture stays in the module's memory, where the page reads the pixels of
// the rectangles that changed.
//
// The page's contract with the module lives here and nowhere else: the
// names of the keys the page hands over by name, the pointer buttons by
// their index in a pointer event, and what the probes read. The page and its
// tests read it from the module (kestrel_contract) as JSON.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "game/AnyoneSearch.h"
#include "game/Game.h"
#include "game/LiveClient.h"
#include "game/LiveWire.h"
#include "game/Reconnect.h"
#include "game/Recording.h"
#include "game/Refusals.h"
#include "game/RoomLink.h"
#include "game/SeatLegend.h"
#include "input/Controls.h"

// Plain C names, in the lower case JavaScript reads them by.
#define KESTREL_EXPORT(name) extern "C" __attribute__((export_name(#name), used))

namespace kestrel {
namespace {

std::optional<Game> game;
std::optional<LiveClient> live;  // while the page follows a room
RoomConnection connection;       // the page's connection to its room, if any
std::vector<std::string> outgoing;  // frames for the room's server, taken and not yet sent
std::vector<PixelRect> changes;
std::string text;  // the last text handed to the page (a recording, the contract, an error)
// The page's searches for a public room, by number: a page may search twice at once.
std::map<int, AnyoneSearch> searches;
int lastSearch = 0;

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

int StateIndex(ConnectionState state) {
    for (std::size_t i = 0; i < std::size(ROOM_STATES); ++i)
        if (ROOM_STATES[i] == state) return int(i);
    return 0;
}

// The room a link names, for the page: null when it names none, its reason
// when it is refused, else the room, its socket and its links on the page.
// A seat token the page kept for the room goes with its socket, so that a
// player coming back takes their seat again; what has no token's form
// (storage the page does not own alone) is left out.
std::optional<std::string> RoomLinkJson(std::string_view text, std::string_view seatToken) {
    const ReadLink read = ReadRoomLink(text);
    if (!read) return nlohmann::json{{"error", read.Why()}}.dump();
    if (!*read) return std::nullopt;
    const RoomLink& link = **read;
    if (!IsSeatToken(seatToken)) seatToken = {};
    nlohmann::json room = {{"id", link.room}, {"key", nullptr}, {"socket", SocketAddress(link, seatToken)},
                           {"check", SocketCheckAddress(link, seatToken)}, {"watch", WatchLink(link.page, link.room)}};
    if (link.Plays()) {
        room["key"] = link.key;
        room["play"] = PlayLink(link.page, link.room, link.key);
    }
    return room.dump();
}

std::string CssColour(Colour colour) {
    char hex[8];
    std::snprintf(hex, sizeof hex, "#%02x%02x%02x", colour.r, colour.g, colour.b);
    return hex;
}

// Which tank is this screen's and the room's seats, for the page's legend.
std::string SeatsJson(const LiveClient& client, const Seats& seats) {
    nlohmann::json legend = {{"yours", YourTankText(client.OwnSeat(), client.SeatsWereFull())},
                             {"seats", nlohmann::json::array()}};
    if (client.OwnSeat()) {
        legend["colour"] = CssColour(SEAT_COLOURS[*client.OwnSeat()]);
        legend["colourName"] = SEAT_COLOUR_NAMES[*client.OwnSeat()];
    }
    for (const SeatEntry& entry : SeatLegend(seats, client.Roster(), client.OwnSeat()))
        legend["seats"].push_back({{"label", entry.label},
                                   {"colour", CssColour(entry.colour)},
                                   {"kills", entry.kills},
                                   {"wins", entry.wins},
                                   {"presence", PresenceWord(entry.presence)},
                                   {"yours", entry.yours},
                                   {"text", SeatEntryText(entry)}});
    return legend.dump();
}

// Text the page may show, whatever bytes a server's answer brought.
std::string Dumped(const nlohmann::json& json) { return json.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace); }

// What search `number` asks for now, for the page: {"request": {"method",
// "path", "body"}}, or its end: {"links": {"room", "play", "watch"}} or
// {"error": WORDS}.
std::string SearchStepJson(int number) {
    const auto found = searches.find(number);
    if (found == searches.end()) return Dumped({{"error", "the page began no such search"}});
    const AnyoneSearch& search = found->second;
    if (const std::optional<AnyoneRequest>& next = search.Next())
        return Dumped({{"request", {{"method", ANYONE_METHOD}, {"path", next->path}, {"body", next->body}}}});
    const Result<AnyoneLinks>& outcome = *search.Outcome();
    if (!outcome) return Dumped({{"error", outcome.Why()}});
    return Dumped({{"links", {{"room", outcome->room}, {"play", outcome->play}, {"watch", outcome->watch}}}});
}

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

// Text for the page: null for none, else kestrel_text_length bytes at it.
const char* Handed(std::optional<std::string> handed) {
    if (!handed) return nullptr;
    text = std::move(*handed);
    return text.c_str();
}

}  // namespace
}  // namespace kestrel

using namespace kestrel;

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
    return Handed(game->PlayBack(std::string_view(recording, std::size_t(length > 0 ? length : 0))));
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

// Following a live room: the page hands over every frame of the room's
// socket, and after each tick sends what the game has for the server.
// Before kestrel_live_join the page follows no room, and the rest answer
// as for an empty one.
// A watcher (mayPlay 0) sends only its hashes.
KESTREL_EXPORT(kestrel_live_join) void kestrel_live_join(int mayPlay) { live.emplace(*game, mayPlay != 0); }

// Takes the `length` bytes at `frame`: null, or why the frame cannot be
// taken (as text).
KESTREL_EXPORT(kestrel_live_receive) const char* kestrel_live_receive(const char* frame, int length) {
    if (!live) return Handed("the page follows no room");
    return Handed(live->Receive(std::string_view(frame, std::size_t(length > 0 ? length : 0))));
}

// A new connection to the room: the server sends its join text again.
KESTREL_EXPORT(kestrel_live_reconnected) void kestrel_live_reconnected() {
    if (live) live->Reconnected();
}
KESTREL_EXPORT(kestrel_live_joined) int kestrel_live_joined() { return live && live->Joined() ? 1 : 0; }
KESTREL_EXPORT(kestrel_live_people) int kestrel_live_people() { return live ? int(live->People()) : 0; }
KESTREL_EXPORT(kestrel_live_mismatches) int kestrel_live_mismatches() {
    return live ? int(live->Mismatches()) : 0;
}
// The token that takes this screen's seat back after a drop: null while it
// has none.
KESTREL_EXPORT(kestrel_live_seat_token) const char* kestrel_live_seat_token() {
    if (!live || live->SeatToken().empty()) return nullptr;
    return Handed(live->SeatToken());
}
// The seats, as JSON text: {"yours": the words for this screen's tank,
// "colour" and "colourName" of it (a player's only), "seats": [{"label",
// "colour", "kills", "wins", "presence", "yours", "text"}]}; null outside a
// room.
KESTREL_EXPORT(kestrel_live_seats) const char* kestrel_live_seats() {
    if (!live) return nullptr;
    return Handed(SeatsJson(*live, game->SeatRecord()));
}
KESTREL_EXPORT(kestrel_following) int kestrel_following() { return game->Following() ? 1 : 0; }
KESTREL_EXPORT(kestrel_ticks_ahead) double kestrel_ticks_ahead() { return double(game->TicksAhead()); }
KESTREL_EXPORT(kestrel_outgoing_urgent) int kestrel_outgoing_urgent() {
    return live && live->OutgoingIsUrgent() ? 1 : 0;
}
KESTREL_EXPORT(kestrel_followed_tick) double kestrel_followed_tick() { return double(game->FollowedTick()); }

// Takes the lines for the server since the last call, in frames the server
// takes: their count; kestrel_outgoing_frame then gives each as text.
KESTREL_EXPORT(kestrel_take_outgoing) int kestrel_take_outgoing() {
    outgoing = live ? ClientFrames(live->TakeOutgoing()) : std::vector<std::string>{};
    return int(outgoing.size());
}
KESTREL_EXPORT(kestrel_outgoing_frame) const char* kestrel_outgoing_frame(int index) {
    return Handed(index >= 0 && index < int(outgoing.size()) ? outgoing[std::size_t(index)] : std::string());
}

// A room link (the page's address with its fragment), `length` bytes at
// `text`, and the seat token kept for it (`tokenLength` bytes at `token`;
// none is empty): null when its fragment names no room, else JSON text, either
// {"error": REASON} or {"id", "key" (null to watch), "socket" (its address),
// "check" (where to ask why the socket was refused), "play" (a player's
// link only), "watch"}, the links on the same page.
KESTREL_EXPORT(kestrel_room_link) const char* kestrel_room_link(const char* link, int length, const char* token,
                                                                 int tokenLength) {
    return Handed(RoomLinkJson(std::string_view(link, std::size_t(length > 0 ? length : 0)),
                               std::string_view(token, std::size_t(tokenLength > 0 ? tokenLength : 0))));
}

// The connection to the page's room (game/Reconnect.h): the page drives
// it, and takes the waits between its tries from it. kestrel_room_start
// makes it afresh; the state is an index into the contract's roomStates.
KESTREL_EXPORT(kestrel_room_start) void kestrel_room_start() { connection = RoomConnection(); }
KESTREL_EXPORT(kestrel_room_connecting) void kestrel_room_connecting() { connection.Connecting(); }
KESTREL_EXPORT(kestrel_room_joined) void kestrel_room_joined() { connection.Joined(); }
// The wait before the next try, in milliseconds; -1 once closed.
KESTREL_EXPORT(kestrel_room_lost) int kestrel_room_lost() { return connection.Lost("").value_or(-1); }
KESTREL_EXPORT(kestrel_room_close) void kestrel_room_close() { connection.Close(); }
// The server refused the connection with refusal `index` (of the
// contract's refusals): the wait before the next try, or -1 once closed.
KESTREL_EXPORT(kestrel_room_refused) int kestrel_room_refused(int index) {
    if (index < 0 || index >= int(AllRefusals().size())) return connection.Lost("").value_or(-1);
    return connection.RefusedAs(AllRefusals()[std::size_t(index)].kind).value_or(-1);
}

// What an answer refuses: its status and its Kestrel-Refusal header
// (`length` bytes at `token`; none is empty), as an index into the
// contract's refusals; -1 when it refuses nothing the table knows.
KESTREL_EXPORT(kestrel_refusal) int kestrel_refusal(int status, const char* token, int length) {
    const std::optional<Refused> kind =
        RefusalOfAnswer(status, std::string_view(token, std::size_t(length > 0 ? length : 0)));
    return kind ? int(*kind) : -1;
}
KESTREL_EXPORT(kestrel_room_state) int kestrel_room_state() { return StateIndex(connection.State()); }

// "Play with anyone" (game/AnyoneSearch.h): the page makes each request the
// search names and hands back its answer, until the search ends. Begins a
// search for a room of width x height canvas units: its number.
KESTREL_EXPORT(kestrel_anyone_start) int kestrel_anyone_start(int width, int height) {
    searches.insert_or_assign(++lastSearch, AnyoneSearch(width, height));
    return lastSearch;
}
// What search `number` asks for now, as JSON text: {"request": {"method",
// "path", "body"}}, or its end, {"links": {"room", "play", "watch"}} or
// {"error": WORDS}.
KESTREL_EXPORT(kestrel_anyone_next) const char* kestrel_anyone_next(int number) {
    return Handed(SearchStepJson(number));
}
// The answer to its request: the HTTP status, the Kestrel-Refusal header
// (`tokenLength` bytes at `token`; none is empty), the body (`bodyLength`
// bytes at `body`) and the seconds Retry-After asks to wait (-1 for none).
KESTREL_EXPORT(kestrel_anyone_answer) void kestrel_anyone_answer(int number, int status, const char* token,
                                                                 int tokenLength, const char* body,
                                                                 int bodyLength, int waitSeconds) {
    const auto found = searches.find(number);
    if (found == searches.end()) return;
    found->second.Answer(status, std::string_view(token, std::size_t(tokenLength > 0 ? tokenLength : 0)),
                         std::string_view(body, std::size_t(bodyLength > 0 ? bodyLength : 0)),
                         waitSeconds >= 0 ? std::optional<int>(waitSeconds) : std::nullopt);
}
// The page is done with search `number`.
KESTREL_EXPORT(kestrel_anyone_end) void kestrel_anyone_end(int number) { searches.erase(number); }
