#include "server/directory/Directory.h"

#include <exception>
#include <nlohmann/json.hpp>

#include "game/RoomId.h"
#include "model/Seats.h"

namespace kestrel {
namespace {

using Json = nlohmann::json;

// A listing's members, short: the text of ten thousand rooms is written
// every second and read by every other server.
constexpr const char* ROOM = "r";
constexpr const char* SERVER = "s";
constexpr const char* SEATS_TAKEN = "t";
constexpr const char* WATCHERS = "w";
constexpr const char* LEADER_KILLS = "k";
constexpr const char* LEADER_WINS = "v";
constexpr const char* SECONDS = "d";
constexpr std::size_t LISTING_MEMBERS = 7;

// The largest count a listing holds: the largest whole number every JSON
// reader keeps exactly (a browser's among them). With the ids' own bounds
// this keeps each listing's text well under MAX_LISTING_BYTES.
constexpr std::uint64_t MAX_LISTED_COUNT = (std::uint64_t{1} << 53) - 1;
constexpr std::size_t MAX_LISTINGS_TEXT = MAX_LISTED_ROOMS * MAX_LISTING_BYTES;

Json ListingJson(const RoomListing& room) {
    return Json{{ROOM, room.room},
                {SERVER, room.server},
                {SEATS_TAKEN, room.seatsTaken},
                {WATCHERS, room.watchers},
                {LEADER_KILLS, room.leaderKills},
                {LEADER_WINS, room.leaderWins},
                {SECONDS, room.seconds}};
}

const Json* Member(const Json& object, const char* name) {
    const auto found = object.find(name);
    return found == object.end() ? nullptr : &*found;
}

std::optional<std::uint64_t> Count(const Json& object, const char* name, std::uint64_t most) {
    const Json* value = Member(object, name);
    if (!value || !value->is_number_unsigned()) return std::nullopt;
    const std::uint64_t count = value->get<std::uint64_t>();
    if (count > most) return std::nullopt;
    return count;
}

std::optional<std::string> Text(const Json& object, const char* name) {
    const Json* value = Member(object, name);
    if (!value || !value->is_string()) return std::nullopt;
    return value->get<std::string>();
}

// A room's listing names the server its id names: a server lists its own
// rooms, and no other's.
bool ServerOfRoom(std::string_view server, std::string_view room) {
    return IsRoomId(room) && RoomServer(room) == server;
}

std::optional<RoomListing> ReadListing(const Json& object) {
    if (!object.is_object() || object.size() != LISTING_MEMBERS) return std::nullopt;
    const std::optional<std::string> room = Text(object, ROOM), server = Text(object, SERVER);
    const std::optional<std::uint64_t> seatsTaken = Count(object, SEATS_TAKEN, MAX_SEATS),
                                       watchers = Count(object, WATCHERS, MAX_LISTED_COUNT),
                                       leaderKills = Count(object, LEADER_KILLS, MAX_LISTED_COUNT),
                                       leaderWins = Count(object, LEADER_WINS, MAX_LISTED_COUNT),
                                       seconds = Count(object, SECONDS, MAX_LISTED_COUNT);
    if (!room || !server || !seatsTaken || !watchers || !leaderKills || !leaderWins || !seconds) return std::nullopt;
    if (!ServerOfRoom(*server, *room)) return std::nullopt;
    return RoomListing{*room, *server, int(*seatsTaken), *watchers, *leaderKills, *leaderWins, *seconds};
}

}  // namespace

std::string ListingsText(const std::vector<RoomListing>& rooms) {
    Json list = Json::array();
    for (const RoomListing& room : rooms) list.push_back(ListingJson(room));
    // Ids are hexadecimal digits and names letters and digits: nothing to
    // replace, but no text can make the writer throw.
    return list.dump(-1, ' ', false, Json::error_handler_t::replace);
}

std::string LoadText(const ServerLoad& load) {
    return Json{{"rooms", load.rooms}, {"screens", load.screens}, {"seats", load.seats}}.dump();
}

std::optional<std::vector<RoomListing>> ReadListings(std::string_view text) try {
    // Measured before it is parsed: a text too long is never read.
    if (text.size() > MAX_LISTINGS_TEXT) return std::nullopt;
    const Json list = Json::parse(text.begin(), text.end(), nullptr, false);
    if (!list.is_array() || list.size() > MAX_LISTED_ROOMS) return std::nullopt;
    std::vector<RoomListing> rooms;
    rooms.reserve(list.size());
    for (const Json& object : list) {
        std::optional<RoomListing> room = ReadListing(object);
        if (!room) return std::nullopt;
        rooms.push_back(std::move(*room));
    }
    return rooms;
} catch (const std::exception&) {
    // Out of memory, or a text nlohmann reads and then will not give back.
    return std::nullopt;
}

}  // namespace kestrel
