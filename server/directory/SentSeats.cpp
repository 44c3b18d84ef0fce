#include "server/directory/SentSeats.h"

#include <algorithm>
#include <set>

#include "model/Seats.h"

namespace kestrel {

void SentSeats::Sent(const RoomListing& room, Clock::time_point now) {
    ++sent_.try_emplace(room.room, Seats{room.seatsTaken, 0, now}).first->second.sent;
}

std::vector<RoomListing> SentSeats::Counted(std::vector<RoomListing> rooms, Clock::time_point now) {
    std::set<std::string> listed;
    for (RoomListing& room : rooms) {
        listed.insert(room.room);
        const auto found = sent_.find(room.room);
        if (found == sent_.end()) continue;
        const Seats& seats = found->second;
        const int taken = seats.listed + seats.sent;
        if (room.seatsTaken >= taken || now - seats.first >= SENT_SEAT_HOLD) {
            sent_.erase(found);
            continue;
        }
        room.seatsTaken = std::min(taken, MAX_SEATS);
    }
    std::erase_if(sent_, [&](const auto& entry) { return !listed.contains(entry.first); });
    return rooms;
}

}  // namespace kestrel
