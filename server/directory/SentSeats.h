#pragma once
// The seats this server has sent players to in other servers' rooms,
// counted taken until the directory shows them so. Another server's rooms
// are read only every half second: players who ask faster would all be
// sent to the one free seat its listing still shows, and all but one of
// them find the room full.

#include <chrono>
#include <map>
#include <string>
#include <vector>

#include "server/directory/Directory.h"

namespace kestrel {

// How long a seat sent counts when the directory never shows it taken:
// the player did not come, and the seat is free again.
inline constexpr std::chrono::seconds SENT_SEAT_HOLD{3};

class SentSeats {
public:
    using Clock = std::chrono::steady_clock;
    // A player was sent to `room`, listed as it was then (with the seats
    // sent before counted).
    void Sent(const RoomListing& room, Clock::time_point now);
    // The listings with the seats sent there counted taken; a room whose
    // listing has caught up with them is forgotten, as is every room once
    // the hold is over: what is kept is bounded by the sends of a hold.
    std::vector<RoomListing> Counted(std::vector<RoomListing> rooms, Clock::time_point now);

private:
    struct Seats {
        int listed = 0;  // taken as the listing said at the first send
        int sent = 0;
        Clock::time_point first;
    };
    std::map<std::string, Seats> sent_;
};

}  // namespace kestrel
