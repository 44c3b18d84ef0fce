#include "model/Random.h"

#include <chrono>

namespace kestrel {

std::uint64_t SplitMix64::Next() {
    state += 0x9E3779B97F4A7C15ULL;
    std::uint64_t z = state;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    return z ^ (z >> 31);
}

ClockRandom::ClockRandom() { Reseed(); }

void ClockRandom::Reseed() {
    const auto now = std::chrono::system_clock::now().time_since_epoch();
    engine_.state = static_cast<std::uint64_t>(
        std::chrono::duration_cast<std::chrono::nanoseconds>(now).count());
}

float ReplayRandom::Rnd() {
    if (queued_.empty()) return engine_.NextSingle();
    const float value = queued_.front();
    queued_.pop_front();
    return value;
}

}  // namespace kestrel
