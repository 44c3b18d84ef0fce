// The rooms' one clock, driven by the test: rooms due at different times
// are ticked in the order they fall due, none before its time, each on its
// own phase, one beat a wake, a late one counted, and a stopped or gone
// room left out.

#include <gtest/gtest.h>

#include <string>

#include "server/rooms/TickQueue.h"

namespace kestrel {
namespace {

using std::chrono::milliseconds;

const ServerTime T0{};
constexpr milliseconds TICK(25);

// A room that notes its name at each tick, and may cost time.
struct NotedRoom : Ticking {
    NotedRoom(std::string name, std::string& ticked, ServerTime& now) : name(std::move(name)), ticked(ticked), now(now) {}
    bool Tick() override {
        if (stopped) return false;
        ticked += name;
        now += cost;
        return true;
    }
    std::string name;
    std::string& ticked;
    ServerTime& now;
    milliseconds cost{0};
    bool stopped = false;
};

struct TickQueueTest : testing::Test {
    std::shared_ptr<NotedRoom> Room(const std::string& name, ServerTime start) {
        auto room = std::make_shared<NotedRoom>(name, ticked, now);
        queue.Add(room, TickSchedule(TICK, start));
        return room;
    }
    // The queue woken at `at`, as the server's timer wakes it.
    TickTally WakeAt(ServerTime at) {
        now = at;
        return queue.RunBeat(at);
    }

    std::string ticked;
    ServerTime now = T0;
    TickQueue queue{[this] { return now; }};
};

TEST_F(TickQueueTest, RoomsAreTickedInTheOrderTheyFallDueAndNoneEarly) {
    const auto c = Room("c", T0 + milliseconds(20)), a = Room("a", T0), b = Room("b", T0 + milliseconds(10));
    EXPECT_EQ(queue.NextDue(), T0 + TICK);
    EXPECT_EQ(WakeAt(T0 + TICK - milliseconds(1)).ticks, 0u);
    EXPECT_EQ(WakeAt(T0 + TICK).ticks, 1u);
    EXPECT_EQ(ticked, "a");
    EXPECT_EQ(queue.NextDue(), T0 + milliseconds(35)) << "each room keeps its own phase";
    WakeAt(T0 + milliseconds(46));
    EXPECT_EQ(ticked, "ab") << "two beats due by the wake: only the earliest, so its frames go at once";
    EXPECT_EQ(queue.NextDue(), T0 + milliseconds(45)) << "and the other, still due, wakes it again";
    WakeAt(T0 + milliseconds(46));
    EXPECT_EQ(ticked, "abc");
    for (int wake = 0; wake < 3; ++wake) WakeAt(T0 + milliseconds(90));
    EXPECT_EQ(ticked, "abcabc") << "behind: a beat a wake, each room once";
    WakeAt(T0 + milliseconds(90));
    EXPECT_EQ(ticked, "abcabca") << "a's next came due in the meantime";
    EXPECT_EQ(queue.NextDue(), T0 + milliseconds(85));
}

TEST_F(TickQueueTest, ATickSentLateIsCountedByTheTimeItWasSent) {
    const auto a = Room("a", T0), b = Room("b", T0);
    a->cost = LATE_AFTER;
    TickTally tally = WakeAt(T0 + TICK);
    EXPECT_EQ(ticked, "ab") << "rooms due at once in the order they came";
    EXPECT_EQ(tally.ticks, 2u);
    EXPECT_EQ(tally.late, 0u) << "both sent just at the margin";
    a->cost = LATE_AFTER + milliseconds(1);
    EXPECT_EQ(WakeAt(T0 + 2 * TICK).late, 2u) << "woken on time, but a's slow tick made both late";
    a->cost = milliseconds(0);
    EXPECT_EQ(WakeAt(T0 + 3 * TICK + LATE_AFTER).late, 0u);
    EXPECT_EQ(WakeAt(T0 + 4 * TICK + LATE_AFTER + milliseconds(1)).late, 2u) << "the wake itself came late";
}

TEST_F(TickQueueTest, AStoppedOrGoneRoomLeavesTheQueueUncounted) {
    auto a = Room("a", T0);
    const auto b = Room("b", T0 + milliseconds(1));
    b->stopped = true;
    a.reset();
    EXPECT_EQ(WakeAt(T0 + 2 * TICK).ticks, 0u) << "a's beat";
    EXPECT_EQ(WakeAt(T0 + 2 * TICK).ticks, 0u) << "b's";
    EXPECT_EQ(ticked, "");
    EXPECT_EQ(queue.Size(), 0u);
    EXPECT_EQ(queue.NextDue(), std::nullopt);
}

// Rooms that all come at once are spread over the beats of a tick, so no
// wake ticks more than its share of them.
TEST_F(TickQueueTest, RoomsComingAtOnceAreSpreadOverTheBeats) {
    const ServerTime came = T0 + milliseconds(3) + std::chrono::microseconds(1);
    std::vector<std::shared_ptr<NotedRoom>> rooms;
    for (int n = 0; n < 2 * int(TICK / TICK_GRID); ++n) rooms.push_back(Room("r", queue.QuietestStart(came, TICK)));
    for (ServerTime beat = came; beat < came + TICK + TICK_GRID; beat += TICK_GRID) {
        ticked.clear();
        WakeAt(beat + TICK);
        EXPECT_LE(ticked.size(), 2u) << "a wake with more than its share";
    }
    EXPECT_EQ(queue.NextDue(), T0 + milliseconds(4) + 2 * TICK) << "none due before the grid's first point after it came";
}

}  // namespace
}  // namespace kestrel
