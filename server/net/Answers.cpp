#include "server/net/Answers.h"

#include "game/LiveWire.h"
#include "game/RoomLink.h"
#include "server/net/Json.h"
#include "server/directory/RoomChoice.h"
#include "server/base/Limits.h"

namespace kestrel {
namespace {

JsonObject Protocol() {
    return JsonObject()
        .Add("ticks_per_second", std::uint64_t(LIVE_TICKS_PER_SECOND))
        .Add("hash_every_ticks", HASH_EVERY_TICKS)
        .Add("max_client_frame_bytes", MAX_CLIENT_FRAME_BYTES)
        .Add("max_client_lines_per_second", std::uint64_t(MAX_CLIENT_LINES_PER_SECOND))
        .Add("screen_idle_seconds", std::uint64_t(SCREEN_IDLE_LIMIT.count()))
        .Add("retry_after_seconds", std::uint64_t(RETRY_AFTER.count()))
        .Add("refusals_per_address", std::uint64_t(REFUSALS_PER_ADDRESS));
}

}  // namespace

std::string StatusJson(const StatusCounts& counts, std::string_view name) {
    return JsonObject()
               .Add("name", name)
               .Add("rooms", counts.rooms)
               .Add("resuming", counts.resuming)
               .Add("connections", counts.connections)
               .Add("seats", counts.seats)
               .Add("mismatches", counts.mismatches)
               .Add("hashes_checked", counts.hashesChecked)
               .Add("ticks", counts.ticks)
               .Add("late_ticks", counts.lateTicks)
               .Add("ticking_microseconds",
                    std::uint64_t(std::chrono::duration_cast<std::chrono::microseconds>(counts.ticking).count()))
               .Add("dropped", counts.dropped)
               .Add("refused", counts.refused)
               .Add("unwritable", counts.unwritable)
               .Add("checkpoints", counts.checkpoints)
               .Add("checkpoints_failed", counts.checkpointsFailed)
               .Add("protocol", Protocol())
               .Text() +
           "\n";
}

std::string RoomJson(const LiveRoom& room) {
    const Seats& seats = room.SeatRecord();
    const std::vector<SeatPresence> roster = room.Roster();
    std::vector<JsonObject> listed;
    for (int k = 0; k < seats.count; ++k) {
        const SeatPresence presence = roster[k];  // one a seat
        listed.push_back(JsonObject()
                             .Add("seat", std::uint64_t(k))
                             .Add("colour", std::string_view(SEAT_COLOUR_NAMES[k]))
                             .AddFlag("taken", presence != SeatPresence::Gone)
                             .AddFlag("present", presence == SeatPresence::Here)
                             .Add("kills", seats.scores[k].kills)
                             .Add("wins", seats.scores[k].wins));
    }
    return JsonObject()
               .Add("room", room.Id())
               .AddFlag("listed", room.Listed())
               .Add("tick", room.Ticks())
               .Add("screens", std::uint64_t(room.Screens()))
               .Add("seats_taken", std::uint64_t(room.SeatsTaken()))
               .Add("seats", listed)
               .Text() +
           "\n";
}

std::string PublicRoomsJson(std::string_view page, const DirectoryList& rooms) {
    std::vector<JsonObject> listed;
    for (const RoomListing& room : FullestFirst(rooms.rooms, MAX_ROOMS_LISTED))
        listed.push_back(JsonObject()
                             .Add("room", room.room)
                             .Add("watch", WatchLink(page, room.room))
                             .Add("seats_taken", std::uint64_t(room.seatsTaken))
                             .Add("seats_free", std::uint64_t(MAX_SEATS - room.seatsTaken))
                             .Add("watchers", room.watchers)
                             .Add("leader", JsonObject().Add("kills", room.leaderKills).Add("wins", room.leaderWins))
                             .Add("seconds", room.seconds));
    return JsonObject().AddFlag("whole", rooms.whole).Add("rooms", listed).Text() + "\n";
}

std::string SeatElsewhereJson(std::string_view page, std::string_view id) {
    return JsonObject()
               .Add("room", id)
               .Add("watch", WatchLink(page, id))
               .Add("seat", "/rooms/" + std::string(id) + "/seat")
               .Text() +
           "\n";
}

std::string RoomLinksJson(std::string_view page, std::string_view id, std::string_view key) {
    return JsonObject()
               .Add("room", id)
               .Add("play", PlayLink(page, id, key))
               .Add("watch", WatchLink(page, id))
               .Text() +
           "\n";
}

}  // namespace kestrel
