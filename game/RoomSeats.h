#pragma once
// Who sits where in a live room: up to MAX_SEATS players, each in the seat
// the room gave them, the lowest free one. A player whose connection drops
// keeps their seat for a grace, and its token brings them back to it; past
// the grace the seat is free for the next player. The room's clock is its
// ticks, so a stopped room keeps every seat as it was.

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "game/LiveWire.h"
#include "model/Seats.h"

namespace kestrel {

using ClientId = std::uint64_t;

inline constexpr std::uint64_t SEAT_GRACE_TICKS = 60 * LIVE_TICKS_PER_SECOND;

class RoomSeats {
public:
    struct Given {
        int seat = 0;
        bool returning = false;  // the seat kept for this player, scores and all
        bool hadPlayer = false;  // someone else held it before: its scores start again
    };
    // A player comes: with the token of a seat kept for it, that seat;
    // else the lowest free seat with `freshToken` as its token; none when
    // every seat is taken. A token that brings back no seat is named in
    // `refusedToken`, with why.
    std::optional<Given> Take(ClientId client, std::string_view token, std::string freshToken,
                              std::string& refusedToken);
    // Its seat is kept for it from `now`.
    void Leave(ClientId client, std::uint64_t now);
    // Seats kept past the grace are freed; whether any was.
    bool Expire(std::uint64_t now);
    // Seats at and above `count` are no one's any more: their scores went
    // with the seats' number.
    void Forget(int count);

    std::optional<int> SeatOf(ClientId client) const;
    const std::string& Token(int seat) const { return places_[seat].token; }
    // The highest seat not free, plus one; 1 with none.
    int Needed() const;
    std::size_t Taken() const;  // here or away
    std::vector<SeatPresence> Roster(int count) const;

private:
    struct Place {
        SeatPresence presence = SeatPresence::Gone;
        ClientId client = 0;
        std::string token;
        std::uint64_t awaySince = 0;
        bool hadPlayer = false;
    };
    std::optional<int> KeptFor(std::string_view token, std::string& refusedToken) const;

    std::array<Place, MAX_SEATS> places_{};
    int away_ = 0;
};

}  // namespace kestrel
