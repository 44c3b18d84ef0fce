#pragma once
// What every screen of a live room says of its seats, in the same words on
// the page and in the window: which tank is this screen's, and a legend of
// the seats, each with its colour, a number that does not rest on colour,
// its kills and wins, and whether its player is here.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "game/LiveWire.h"
#include "model/Seats.h"
#include "render/Colour.h"

namespace kestrel {

// "All 6 seats are taken: you are watching."
std::string SeatsTakenText();

// "You are the orange tank.", or for a watcher "You are watching.", or,
// when the room had no seat left for a player, SeatsTakenText().
std::string YourTankText(std::optional<int> ownSeat, bool seatsWereFull);

struct SeatEntry {
    int seat = 0;
    std::string label;       // "1" for seat 0, and so on
    Colour colour;
    std::string colourName;  // "vermilion"
    std::uint64_t kills = 0, wins = 0;
    SeatPresence presence = SeatPresence::Gone;
    bool yours = false;
};
// One entry a seat, in order; a seat the roster does not name is gone.
std::vector<SeatEntry> SeatLegend(const Seats& seats, const std::vector<SeatPresence>& roster,
                                  std::optional<int> ownSeat);
// "here", "away" (expected back) or "gone".
std::string PresenceWord(SeatPresence presence);
// "2 vermilion: 3 kills, 1 win, away"; "(you)" after the colour for yours.
std::string SeatEntryText(const SeatEntry& entry);

}  // namespace kestrel
