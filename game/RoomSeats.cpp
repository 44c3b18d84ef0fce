#include "game/RoomSeats.h"

#include <algorithm>

#include "game/RoomId.h"

namespace kestrel {

// Every seat's token is compared, in full, so the time taken tells nothing
// of which seat or how much of a token matched.
std::optional<int> RoomSeats::KeptFor(std::string_view token, std::string& refusedToken) const {
    std::optional<int> found;
    for (int k = 0; k < MAX_SEATS; ++k)
        if (SameSecret(token, places_[k].token) && places_[k].presence != SeatPresence::Gone) found = k;
    if (!found) refusedToken = "a seat token that brings back no seat of this room (another room's, one too old, or forged)";
    return found;
}

std::optional<RoomSeats::Given> RoomSeats::Take(ClientId client, std::string_view token, std::string freshToken,
                                                std::string& refusedToken) {
    if (!token.empty()) {
        if (const std::optional<int> kept = KeptFor(token, refusedToken)) {
            Place& place = places_[*kept];
            // A screen back before its old connection was seen to drop
            // takes the seat over from it.
            away_ -= place.presence == SeatPresence::Away;
            place.presence = SeatPresence::Here, place.client = client;
            return Given{.seat = *kept, .returning = true};
        }
    }
    const auto free = std::find_if(places_.begin(), places_.end(),
                                   [](const Place& p) { return p.presence == SeatPresence::Gone; });
    if (free == places_.end()) return std::nullopt;
    const Given taken{.seat = int(free - places_.begin()), .hadPlayer = free->hadPlayer};
    *free = {.presence = SeatPresence::Here, .client = client, .token = std::move(freshToken), .hadPlayer = true};
    return taken;
}

void RoomSeats::Leave(ClientId client, std::uint64_t now) {
    for (Place& place : places_)
        if (place.presence == SeatPresence::Here && place.client == client)
            place.presence = SeatPresence::Away, place.awaySince = now, ++away_;
}

bool RoomSeats::Expire(std::uint64_t now) {
    if (away_ == 0) return false;
    bool freed = false;
    for (Place& place : places_) {
        if (place.presence != SeatPresence::Away || now - place.awaySince < SEAT_GRACE_TICKS) continue;
        place.presence = SeatPresence::Gone, place.token.clear(), --away_;
        freed = true;
    }
    return freed;
}

void RoomSeats::Forget(int count) {
    for (int k = count; k < MAX_SEATS; ++k)
        if (places_[k].presence == SeatPresence::Gone) places_[k].hadPlayer = false;
}

std::optional<int> RoomSeats::SeatOf(ClientId client) const {
    for (int k = 0; k < MAX_SEATS; ++k)
        if (places_[k].presence == SeatPresence::Here && places_[k].client == client) return k;
    return std::nullopt;
}

int RoomSeats::Needed() const {
    for (int k = MAX_SEATS - 1; k > 0; --k)
        if (places_[k].presence != SeatPresence::Gone) return k + 1;
    return 1;
}

std::size_t RoomSeats::Taken() const {
    return std::size_t(std::count_if(places_.begin(), places_.end(),
                                     [](const Place& p) { return p.presence != SeatPresence::Gone; }));
}

std::vector<SeatPresence> RoomSeats::Roster(int count) const {
    std::vector<SeatPresence> roster;
    for (int k = 0; k < count; ++k) roster.push_back(places_[k].presence);
    return roster;
}

}  // namespace kestrel
