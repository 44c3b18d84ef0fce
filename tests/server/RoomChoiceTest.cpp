// Which public room a player asking to play with anyone is sent to: the
// fullest with a free seat, where seats this server has sent players to in
// another server's room count taken until that room's listing shows them,
// or until the players had time enough to come.

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "server/directory/RoomChoice.h"
#include "server/directory/SentSeats.h"

namespace kestrel {
namespace {

using namespace std::chrono_literals;

RoomListing Listed(const std::string& room, int seatsTaken, std::uint64_t seconds = 60) {
    return {"b-" + room + std::string(32 - room.size(), '0'), "b", seatsTaken, 0, 0, 0, seconds};
}

TEST(RoomChoiceTest, SeatsSentToAnotherServersRoomCountUntilItsListingShowsThem) {
    SentSeats sent;
    const SentSeats::Clock::time_point start{};
    const auto choose = [&](const std::vector<RoomListing>& rooms, SentSeats::Clock::time_point at) {
        const std::optional<RoomListing> chosen = RoomForAnyone(sent.Counted(rooms, at));
        if (chosen) sent.Sent(*chosen, at);
        return chosen ? chosen->room : std::string("none");
    };
    const std::string a = Listed("a", 0).room, c = Listed("c", 0).room;
    // The directory still says 4 of 6 for a while: two players go there, the third to the next fullest.
    const std::vector<RoomListing> stale{Listed("a", 4), Listed("c", 3)};
    EXPECT_EQ(choose(stale, start), a);
    EXPECT_EQ(choose(stale, start + 100ms), a);
    EXPECT_EQ(choose(stale, start + 200ms), c);
    // The listings catch up: what they say counts, and no seat twice.
    EXPECT_EQ(choose({Listed("a", 6), Listed("c", 3)}, start + 600ms), c);
    EXPECT_EQ(choose({Listed("a", 6), Listed("c", 5)}, start + 700ms), c);
    // A player sent who never came frees the seat once the hold is over.
    EXPECT_EQ(choose({Listed("c", 5)}, start + 800ms), "none");
    EXPECT_EQ(choose({Listed("c", 5)}, start + 700ms + SENT_SEAT_HOLD), c);
    // Of rooms as full, the one that has run longest, then the lowest id.
    EXPECT_EQ(RoomForAnyone({Listed("a", 4), Listed("d", 4, 600)})->room, Listed("d", 0).room);
    EXPECT_EQ(RoomForAnyone({Listed("c", 4), Listed("a", 4)})->room, a);
}

}  // namespace
}  // namespace kestrel
