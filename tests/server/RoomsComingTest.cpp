// The rooms on their way: kept rooms come back one at a time, in order, and
// count against the server's rooms with the rooms being made; screens that
// wait for a room are answered when it comes, in the order they came.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "server/rooms/RoomsComing.h"

namespace kestrel {
namespace {

TEST(RoomsComingTest, KeptRoomsComeBackOneAtATimeAndCountAsRooms) {
    RoomsComing coming;
    coming.Expect({"a", "b"});
    coming.OrderTaken();
    EXPECT_EQ(coming.Resuming(), 2u);
    EXPECT_EQ(coming.Count(), 3u);
    EXPECT_EQ(coming.Next(), "a");
    EXPECT_EQ(coming.Next(), std::nullopt);  // "a" is still being built
    EXPECT_EQ(coming.Resuming(), 2u);        // and still on its way
    EXPECT_TRUE(coming.Expects("a") && coming.Expects("b") && !coming.Expects("c"));
    coming.Arrived("a");
    coming.OrderDone();
    EXPECT_FALSE(coming.Expects("a"));
    EXPECT_EQ(coming.Count(), 1u);
    EXPECT_EQ(coming.Next(), "b");
    coming.Arrived("b");
    EXPECT_EQ(coming.Next(), std::nullopt);
    EXPECT_EQ(coming.Count(), 0u);
}

TEST(RoomsComingTest, ScreensWaitingForARoomAreAnsweredInTurnWhenItComes) {
    RoomsComing coming;
    coming.Expect({"a", "b"});
    std::vector<std::string> told;
    const auto waiter = [&](std::string who) {
        return [&told, who](RoomsComing::Found found) {
            told.push_back(who + (std::holds_alternative<Refusal>(found) ? " refused" : " served"));
        };
    };
    coming.Wait("b", waiter("first"));
    coming.Wait("a", waiter("other"));
    coming.Wait("b", waiter("second"));
    // A room may be known not to come before its turn: its screens are answered then.
    for (auto& answer : coming.Arrived("b")) answer(Refusal{Refused::NoSuchRoom, "its recording is empty"});
    EXPECT_EQ(told, (std::vector<std::string>{"first refused", "second refused"}));
    EXPECT_TRUE(coming.Arrived("b").empty());
    EXPECT_EQ(coming.Resuming(), 1u);
    for (auto& answer : coming.Arrived("a")) answer(std::shared_ptr<LiveRoom>());
    EXPECT_EQ(told.back(), "other served");
}

}  // namespace
}  // namespace kestrel
