#include "server/directory/RoomChoice.h"

#include <algorithm>
#include <tuple>

#include "model/Seats.h"

namespace kestrel {
namespace {

// The order of the list; the id settles ties, so every server agrees.
bool Fuller(const RoomListing& a, const RoomListing& b) {
    return std::tie(b.seatsTaken, b.seconds, a.room) < std::tie(a.seatsTaken, a.seconds, b.room);
}

}  // namespace

std::optional<RoomListing> RoomForAnyone(const std::vector<RoomListing>& rooms) {
    std::optional<RoomListing> chosen;
    for (const RoomListing& room : rooms)
        if (room.seatsTaken < MAX_SEATS && (!chosen || Fuller(room, *chosen))) chosen = room;
    return chosen;
}

std::vector<RoomListing> FullestFirst(std::vector<RoomListing> rooms, std::size_t most) {
    std::sort(rooms.begin(), rooms.end(), Fuller);
    if (rooms.size() > most) rooms.resize(most);
    return rooms;
}

}  // namespace kestrel
