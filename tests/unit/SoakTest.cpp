// Short soaks: long enough for many battles, short enough for the suite.

#include <gtest/gtest.h>

#include "Soak.h"

namespace kestrel::soak {
namespace {

// This stream gives 143 battles in 100,000 ticks, the longest 1,341 ticks.
constexpr std::uint64_t MIN_BATTLES = 100;
constexpr std::uint64_t MAX_BATTLE_TICKS = 5'000;

TEST(Soak, ReplayStreamAloneKeepsEndingAndStartingBattles) {
    Soak soak({.gameSeed = 0, .events = false});
    ASSERT_EQ(soak.Run(100'000), "");
    RecordProperty("battles", int(soak.Battles()));
    EXPECT_GE(soak.Battles(), MIN_BATTLES);
    EXPECT_LE(soak.LongestBattle(), MAX_BATTLE_TICKS);
}

TEST(Soak, MeddlingPointerKeysAndResizesBreakNoRange) {
    Soak soak({.gameSeed = 0, .eventSeed = 1, .events = true});
    ASSERT_EQ(soak.Run(50'000), "");
    RecordProperty("battles", int(soak.Battles()));
    EXPECT_GE(soak.Battles(), 20u);
    EXPECT_GT(soak.Drags(), 0u);
}

}  // namespace
}  // namespace kestrel::soak
