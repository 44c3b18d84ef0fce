#include "model/Seats.h"

namespace kestrel {

void SetSeatCount(Seats& seats, int count) {
    for (int k = seats.count; k < count; ++k) seats.scores[k] = {};
    seats.count = count;
    if (seats.current >= count) seats.current = 0;
}

void ClearSeatScore(Seats& seats, int seat) { seats.scores[seat] = {}; }

void CountKill(Seats& seats, int shooter, int victim) {
    if (IsSeat(seats, shooter) && victim != shooter) ++seats.scores[shooter].kills;
}

void CountWin(Seats& seats, int survivor) {
    if (IsSeat(seats, survivor)) ++seats.scores[survivor].wins;
}

}  // namespace kestrel
