#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <thread>
#include <utility>

#include "core/Random.h"

namespace kestrel {
namespace {

// The first outputs of splitmix64 started from state 0, as published with
// the generator.
constexpr std::uint64_t PUBLISHED_FROM_ZERO[] = {0xE220A8397B1DCDAFULL, 0x6E789E6AA1B965F4ULL,
                                                 0x06C45D188009454FULL, 0xF88BB8A8724C81ECULL};

float TopBitsAsSingle(std::uint64_t output) { return float(output >> 40) / 16777216.0f; }

// Undoing the output mix finds the state that yields a chosen output.
std::uint64_t UndoXorShift(std::uint64_t y, int shift) {
    std::uint64_t x = y;
    for (int i = 0; i < 64 / shift + 1; ++i) x = y ^ (x >> shift);
    return x;
}

std::uint64_t InverseOfOdd(std::uint64_t c) {
    std::uint64_t inverse = c;  // right to 3 bits; each step doubles that
    for (int i = 0; i < 5; ++i) inverse *= 2 - c * inverse;
    return inverse;
}

std::uint64_t StateBefore(std::uint64_t output) {
    std::uint64_t z = UndoXorShift(output, 31);
    z *= InverseOfOdd(0x94D049BB133111EBULL);
    z = UndoXorShift(z, 27);
    z *= InverseOfOdd(0xBF58476D1CE4E5B9ULL);
    z = UndoXorShift(z, 30);
    return z - 0x9E3779B97F4A7C15ULL;
}

TEST(Random, StreamFromStateZeroIsTheStandardSplitMix64) {
    SplitMix64 engine;
    for (std::uint64_t expected : PUBLISHED_FROM_ZERO) EXPECT_EQ(engine.Next(), expected);
}

TEST(Random, ReplayHandsOutQueuedDrawsFirstAndNeverReseeds) {
    ReplayRandom random;
    random.Queue(0.25f);
    random.Queue(0.0f);
    EXPECT_EQ(random.Rnd(), 0.25f);
    EXPECT_EQ(random.Rnd(), 0.0f);
    EXPECT_EQ(random.Rnd(), TopBitsAsSingle(PUBLISHED_FROM_ZERO[0]));
    random.Reseed();
    EXPECT_EQ(random.Rnd(), TopBitsAsSingle(PUBLISHED_FROM_ZERO[1]));
    // A draw queued mid-stream comes next, and the stream resumes where it was.
    random.Queue(0.5f);
    EXPECT_EQ(random.Rnd(), 0.5f);
    EXPECT_EQ(random.Rnd(), TopBitsAsSingle(PUBLISHED_FROM_ZERO[2]));
    EXPECT_EQ(random.QueuedCount(), 0u);
}

TEST(Random, LargestOutputStillDrawsBelowOne) {
    const std::uint64_t allOnes = ~std::uint64_t{0};
    SplitMix64 engine{StateBefore(allOnes)};
    EXPECT_EQ(engine.Next(), allOnes);

    ReplayRandom random(StateBefore(allOnes));
    const float draw = random.Rnd();
    EXPECT_LT(draw, 1.0f);
    EXPECT_EQ(draw, 0x1.fffffep-1f);  // the largest single below 1
}

TEST(Random, ClockReseedsGiveDifferentStreams) {
    ClockRandom random;
    const auto firstTwo = [&random] { return std::pair{random.Rnd(), random.Rnd()}; };
    random.Reseed();
    const auto a = firstTwo();
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
    random.Reseed();
    const auto b = firstTwo();
    EXPECT_NE(a, b);
}

}  // namespace
}  // namespace kestrel
