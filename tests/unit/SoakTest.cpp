// Short soaks: long enough for many battles, short enough for the suite.

#include <gtest/gtest.h>

#include "tools/soak/Soak.h"

namespace kestrel::soak {
namespace {

// The replay stream alone gives 143 battles in 100,000 ticks, the longest
// 1,341 ticks: battles keep ending.
TEST(Soak, ReplayStreamAloneKeepsEndingAndStartingBattles) {
    Soak soak({.gameSeed = 0, .events = false});
    ASSERT_EQ(soak.Run(100'000), "");
    EXPECT_GE(soak.Battles(), 100u);
    EXPECT_LE(soak.LongestBattle(), 5'000u);
}

TEST(Soak, MeddlingPointerKeysAndResizesBreakNoRule) {
    Soak soak({.gameSeed = 0, .eventSeed = 1, .events = true});
    ASSERT_EQ(soak.Run(50'000), "");
    EXPECT_GE(soak.Battles(), 20u);
    EXPECT_GT(soak.Drags(), 0u);
}

}  // namespace
}  // namespace kestrel::soak
