// The server's limits, on a clock the test drives: rooms created a minute
// per address, an empty room's end, ticks due and late; connections per
// address and seats per room held by tickets; the JSON it answers.

#include <gtest/gtest.h>

#include <string>

#include "server/net/Answers.h"
#include "server/net/Json.h"
#include "server/rooms/Tickets.h"
#include "server/rooms/TimeRules.h"

namespace kestrel {
namespace {

using std::chrono::microseconds;
using std::chrono::milliseconds;
using std::chrono::minutes;
using std::chrono::seconds;

const ServerTime T0{};

TEST(Limits, RoomsMadeAMinuteFromOneAddress) {
    CreationQuota quota(2);
    EXPECT_EQ(quota.Wait("a", T0), std::nullopt);
    EXPECT_EQ(quota.Wait("a", T0), std::nullopt) << "asking costs nothing: only a room made counts";
    quota.Count("a", T0);
    quota.Count("a", T0 + seconds(20));
    EXPECT_EQ(quota.Wait("a", T0 + seconds(30)), seconds(30)) << "until the first is a minute old";
    EXPECT_EQ(quota.Wait("b", T0 + seconds(30)), std::nullopt) << "another address has its own";
    EXPECT_EQ(quota.Wait("a", T0 + minutes(1) - milliseconds(1)), seconds(1));
    EXPECT_EQ(quota.Wait("a", T0 + minutes(1)), std::nullopt);
    EXPECT_EQ(quota.Wait("a", T0 + minutes(2)), std::nullopt);
    EXPECT_EQ(quota.Addresses(), 0u) << "addresses with nothing recent are forgotten";
    EXPECT_EQ(quota.Wait("a", T0, 1), std::nullopt);
    EXPECT_EQ(quota.Wait("a", T0, 2), seconds(60)) << "rooms on their way count as made";
    quota.Count("a", T0);
    EXPECT_EQ(quota.Wait("a", T0 + seconds(10), 1), seconds(50));
}

// Ten minutes empty on end, not ten minutes in all: a room emptied for a
// moment late in its life starts its count again.
TEST(Limits, AnEmptyRoomEndsAfterTenMinutesOnEnd) {
    IdleRule idle;
    EXPECT_FALSE(idle.Ends(0, T0));
    EXPECT_FALSE(idle.Ends(0, T0 + minutes(10)));
    EXPECT_FALSE(idle.Ends(1, T0 + minutes(10) + seconds(1)));
    EXPECT_FALSE(idle.Ends(0, T0 + minutes(30))) << "emptied just now";
    EXPECT_FALSE(idle.Ends(0, T0 + minutes(40)));
    EXPECT_TRUE(idle.Ends(0, T0 + minutes(40) + milliseconds(1)));
}

TEST(Limits, TicksFallDueFromTheStartAndLateOnesAreCounted) {
    const milliseconds tick(25);
    TickSchedule schedule(tick, T0);
    EXPECT_EQ(schedule.Due(), T0 + tick);
    EXPECT_FALSE(schedule.Sent(T0 + tick + LATE_AFTER)) << "within the margin";
    EXPECT_EQ(schedule.Due(), T0 + 2 * tick) << "deadlines from the start, not from when a tick was sent";
    EXPECT_TRUE(schedule.Sent(T0 + 2 * tick + LATE_AFTER + milliseconds(1)));
    EXPECT_EQ(schedule.Due(), T0 + 3 * tick);
    // Stopped for a while: it skips what it missed rather than racing, and
    // keeps its beat.
    const ServerTime woke = T0 + 3 * tick + MAX_CATCH_UP + milliseconds(1);
    EXPECT_TRUE(schedule.Sent(woke));
    EXPECT_EQ(schedule.Due(), woke - milliseconds(1) + tick);
}

// Rooms started within a step of the grid share its beat, so one wake
// ticks them all; none of them is ever due before the time it started.
TEST(Limits, TicksFallOnTheGrid) {
    const milliseconds tick(25);
    TickSchedule started(tick, T0 + TICK_GRID + microseconds(1)), onIt(tick, T0 + 2 * TICK_GRID);
    EXPECT_EQ(started.Due(), T0 + 2 * TICK_GRID + tick);
    EXPECT_EQ(onIt.Due(), started.Due());
}

TEST(Limits, TicketsCountWhileTheyAreHeld) {
    AddressCounts addresses(2);
    std::optional<Ticket> first = addresses.Take("a");
    std::optional<Ticket> second = addresses.Take("a");
    ASSERT_TRUE(first && second);
    EXPECT_EQ(addresses.Take("a"), std::nullopt);
    EXPECT_TRUE(addresses.Take("b")) << "another address has its own";
    // A ticket moved on (a connection upgraded to a socket) still counts.
    std::optional<Ticket> moved(std::move(*first));
    first.reset();
    EXPECT_EQ(addresses.Count("a"), 2);
    moved.reset();
    EXPECT_EQ(addresses.Count("a"), 1);
    EXPECT_TRUE(addresses.Take("a"));

    ScreenPlaces seats(2);
    std::optional<Ticket> a = seats.Take(), b = seats.Take();
    EXPECT_EQ(seats.Take(), std::nullopt);
    EXPECT_EQ(seats.Taken(), 2u);
    b.reset();
    EXPECT_TRUE(seats.Take());
    EXPECT_EQ(seats.Taken(), 1u);
}

TEST(Answers, JsonIsEscapedAndTheStatusPublishesTheProtocol) {
    EXPECT_EQ(JsonObject().Add("n", 3).Add("s", "a\"b\\c\n\x01").Add("o", JsonObject().Add("k", 1)).Text(),
              "{\"n\":3,\"s\":\"a\\\"b\\\\c\\n\\u0001\",\"o\":{\"k\":1}}");
    StatusCounts counts;
    counts.rooms = 2, counts.lateTicks = 5, counts.ticking = std::chrono::nanoseconds(2999);
    const std::string status = StatusJson(counts, "8001");
    EXPECT_TRUE(status.starts_with("{\"name\":\"8001\",\"rooms\":2,")) << status;
    EXPECT_NE(StatusJson(counts, "").find("\"name\":\"\""), std::string::npos);
    EXPECT_NE(status.find("\"late_ticks\":5,\"ticking_microseconds\":2,"), std::string::npos);
    EXPECT_NE(status.find("\"protocol\":{\"ticks_per_second\":40,\"hash_every_ticks\":40,"
                          "\"max_client_frame_bytes\":1024,\"max_client_lines_per_second\":100"),
              std::string::npos)
        << status;
    EXPECT_EQ(RoomLinksJson("http://h:1/", "ID", "KEY"),
              "{\"room\":\"ID\",\"play\":\"http://h:1/#live=ID.KEY\",\"watch\":\"http://h:1/#watch=ID\"}\n");
    EXPECT_EQ(RoomLinksJson("https://kestrel.test:8443/", "8001-ID", "KEY"),
              "{\"room\":\"8001-ID\",\"play\":\"https://kestrel.test:8443/#live=8001-ID.KEY\","
              "\"watch\":\"https://kestrel.test:8443/#watch=8001-ID\"}\n");
    EXPECT_EQ(RoomLinksJson("", "ID", "KEY"),
              "{\"room\":\"ID\",\"play\":\"/#live=ID.KEY\",\"watch\":\"/#watch=ID\"}\n")
        << "relative to the page";
}

}  // namespace
}  // namespace kestrel
