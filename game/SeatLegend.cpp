#include "game/SeatLegend.h"

namespace kestrel {
namespace {

std::string Counted(std::uint64_t count, const char* one, const char* many) {
    return std::to_string(count) + " " + (count == 1 ? one : many);
}

}  // namespace

std::string SeatsTakenText() {
    return "All " + std::to_string(MAX_SEATS) + " seats are taken: you are watching.";
}

std::string YourTankText(std::optional<int> ownSeat, bool seatsWereFull) {
    if (ownSeat && *ownSeat >= 0 && *ownSeat < MAX_SEATS)
        return std::string("You are the ") + SEAT_COLOUR_NAMES[*ownSeat] + " tank.";
    return seatsWereFull ? SeatsTakenText() : "You are watching.";
}

std::vector<SeatEntry> SeatLegend(const Seats& seats, const std::vector<SeatPresence>& roster,
                                  std::optional<int> ownSeat) {
    std::vector<SeatEntry> legend;
    for (int k = 0; k < seats.count; ++k)
        legend.push_back({.seat = k,
                          .label = std::to_string(k + 1),
                          .colour = SEAT_COLOURS[k],
                          .colourName = SEAT_COLOUR_NAMES[k],
                          .kills = seats.scores[k].kills,
                          .wins = seats.scores[k].wins,
                          .presence = std::size_t(k) < roster.size() ? roster[k] : SeatPresence::Gone,
                          .yours = ownSeat == k});
    return legend;
}

std::string PresenceWord(SeatPresence presence) {
    switch (presence) {
        case SeatPresence::Here: return "here";
        case SeatPresence::Away: return "away";
        case SeatPresence::Gone: break;
    }
    return "gone";
}

std::string SeatEntryText(const SeatEntry& entry) {
    return entry.label + " " + entry.colourName + (entry.yours ? " (you)" : "") + ": " +
           Counted(entry.kills, "kill", "kills") + ", " + Counted(entry.wins, "win", "wins") + ", " +
           PresenceWord(entry.presence);
}

}  // namespace kestrel
