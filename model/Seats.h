#pragma once
// The players of a live room, beside the battle record rather than in it:
// how many seats there are, whose events come now, and each seat's kills
// and wins. Seat K plays the tank in slot K. A battle with no seats of its
// own has one, seat 0, the game's own player, and then changes nothing.

#include <array>
#include <cstdint>

namespace kestrel {

inline constexpr int MAX_SEATS = 6;

struct SeatScore {
    std::uint64_t kills = 0;
    std::uint64_t wins = 0;
    friend bool operator==(const SeatScore&, const SeatScore&) = default;
};
using SeatScores = std::array<SeatScore, MAX_SEATS>;

struct Seats {
    int count = 1;
    int current = 0;
    SeatScores scores{};
    friend bool operator==(const Seats&, const Seats&) = default;
};

// Seats below both the old and the new count keep their scores; a seat
// added starts at 0 and 0. A current seat past the new count falls back to 0.
void SetSeatCount(Seats& seats, int count);
// A new player in seat K: its kills and wins start again.
void ClearSeatScore(Seats& seats, int seat);
inline bool IsSeat(const Seats& seats, int slot) { return slot >= 0 && slot < seats.count; }

// A burst of `shooter`'s shell took `victim`'s last hit point: a kill for
// the shooter's seat, never for a tank of its own.
void CountKill(Seats& seats, int shooter, int victim);
// The battle ended with `survivor` alone on the field: a win for its seat.
void CountWin(Seats& seats, int survivor);

}  // namespace kestrel
