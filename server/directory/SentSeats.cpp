#include "server/directory/SentSeats.h"

#include <algorithm>

#include "model/Seats.h"

namespace kestrel {

void SentSeats::Sent(const RoomListing& room, Clock::time_point now) {
    ++sent_.try_emplace(room.room, Seats{room.seatsTaken, 0, now}).first->second.sent;
}

std::vector<RoomListing> SentSeats::Counted(std::vector<RoomListing> rooms, Clock::time_point now) {
    std::erase_if(sent_, [&](const auto& entry) { return now - entry.second.first >= SENT_SEAT_HOLD; });
    for (RoomListing& room : rooms) {
        const auto found = sent_.find(room.room);
        if (found == sent_.end()) continue;
        const int taken = found->second.listed + found->second.sent;
        if (room.seatsTaken >= taken) sent_.erase(found);
        else room.seatsTaken = std::min(taken, MAX_SEATS);
    }
    return rooms;
}

}  // namespace kestrel
