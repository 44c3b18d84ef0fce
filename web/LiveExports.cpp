// A live room on the page: the frames of the room's socket handed to the
// game, what the game has for the server taken back, the room's link read,
// its connection's tries, and its seats for the page's legend.

#include <cstdio>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "game/LiveWire.h"
#include "game/Refusals.h"
#include "game/RoomLink.h"
#include "game/SeatLegend.h"
#include "web/Exports.h"

namespace kestrel::page {
namespace {

RoomConnection connection;          // the page's connection to its room, if any
std::vector<std::string> outgoing;  // frames for the room's server, taken and not yet sent

// The room a link names, for the page: null when it names none, its reason
// when it is refused, else the room, its socket and its links on the page.
// A seat token the page kept for the room goes with its socket, so that a
// player coming back takes their seat again; what has no token's form
// (storage the page does not own alone) is left out.
std::optional<std::string> RoomLinkJson(std::string_view address, std::string_view seatToken) {
    const ReadLink read = ReadRoomLink(address);
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

}  // namespace
}  // namespace kestrel::page

using namespace kestrel;
using namespace kestrel::page;

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
    return Handed(live->Receive(Bytes(frame, length)));
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
    return Handed(RoomLinkJson(Bytes(link, length), Bytes(token, tokenLength)));
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
        RefusalOfAnswer(status, Bytes(token, length));
    return kind ? int(*kind) : -1;
}
KESTREL_EXPORT(kestrel_room_state) int kestrel_room_state() { return StateIndex(connection.State()); }
