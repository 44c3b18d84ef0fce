#include "model/Random.h"

#include <chrono>

namespace kestrel {
namespace {

std::uint64_t ClockState() {
    const auto now = std::chrono::system_clock::now().time_since_epoch();
    return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::nanoseconds>(now).count());
}

}  // namespace

std::uint64_t SplitMix64::Next() {
    state += 0x9E3779B97F4A7C15ULL;
    std::uint64_t z = state;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    return z ^ (z >> 31);
}

GameRandom::GameRandom(std::uint64_t state, Reseeding reseeding) : reseeding_(reseeding) {
    engine_.state = state;
}

GameRandom GameRandom::FromClock() { return GameRandom(ClockState(), Reseeding::FromClock); }

float GameRandom::Rnd() {
    if (queued_.empty()) return engine_.NextSingle();
    const float value = queued_.front();
    queued_.pop_front();
    return value;
}

void GameRandom::Reseed() {
    if (!queuedReseeds_.empty()) {
        engine_.state = queuedReseeds_.front();
        queuedReseeds_.pop_front();
    } else if (reseeding_ == Reseeding::FromClock) {
        engine_.state = ClockState();
    }
    ++reseeds_;
    lastReseedState_ = engine_.state;
}

}  // namespace kestrel
