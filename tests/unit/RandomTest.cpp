// The random streams: the replay's is splitmix64 from a set state, the
// game's is reseeded from the clock at every battle start.

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <thread>
#include <utility>

#include "model/Random.h"

namespace kestrel {
namespace {

// The first outputs of splitmix64 from state 0, as published with it.
constexpr std::uint64_t PUBLISHED_FROM_ZERO[] = {0xE220A8397B1DCDAFULL, 0x6E789E6AA1B965F4ULL,
                                                 0x06C45D188009454FULL, 0xF88BB8A8724C81ECULL};

// A draw is the top 24 bits of an output over 2^24: exact, and never 1.
float TopBits(std::uint64_t output) { return float(output >> 40) / 16777216.0f; }

TEST(Random, ReplayHandsOutQueuedDrawsFirstThenSplitMix64AndNeverReseeds) {
    SplitMix64 engine;
    for (std::uint64_t expected : PUBLISHED_FROM_ZERO) EXPECT_EQ(engine.Next(), expected);

    GameRandom random;
    random.Queue(0.25f);
    random.Queue(0.0f);
    EXPECT_EQ(random.Rnd(), 0.25f);
    EXPECT_EQ(random.Rnd(), 0.0f);
    EXPECT_EQ(random.Rnd(), TopBits(PUBLISHED_FROM_ZERO[0]));
    random.Reseed();
    EXPECT_EQ(random.Rnd(), TopBits(PUBLISHED_FROM_ZERO[1]));
    random.Queue(0.5f);  // mid-stream: it comes next, and the stream resumes
    EXPECT_EQ(random.Rnd(), 0.5f);
    EXPECT_EQ(random.Rnd(), TopBits(PUBLISHED_FROM_ZERO[2]));
    EXPECT_EQ(random.Rnd(), TopBits(PUBLISHED_FROM_ZERO[3]));
    EXPECT_EQ(random.QueuedCount(), 0u);
}

TEST(Random, ClockReseedsGiveDifferentStreams) {
    GameRandom random = GameRandom::FromClock();
    const auto firstTwo = [&random] {
        random.Reseed();
        return std::pair{random.Rnd(), random.Rnd()};
    };
    const auto a = firstTwo();
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
    EXPECT_NE(a, firstTwo());
}

}  // namespace
}  // namespace kestrel
