#pragma once
// The one random stream every rule draws from: singles uniform in [0, 1).

#include <cstdint>
#include <deque>

namespace kestrel {

class Random {
public:
    virtual ~Random() = default;
    // The next draw, a single in [0, 1); never 1.
    virtual float Rnd() = 0;
    // Called at every battle start.
    virtual void Reseed() = 0;
};

// splitmix64, whose top 24 bits give an exact single in [0, 1).
struct SplitMix64 {
    std::uint64_t state = 0;
    std::uint64_t Next();
    float NextSingle() { return static_cast<float>(Next() >> 40) / 16777216.0f; }
};

// The game's stream: reseeded from the clock so battles differ between runs.
class ClockRandom final : public Random {
public:
    ClockRandom();
    float Rnd() override { return engine_.NextSingle(); }
    void Reseed() override;

private:
    SplitMix64 engine_;
};

// A reproducible stream for replays and tests: reseeding leaves the state
// alone, and queued values are handed out first, in order.
class ReplayRandom final : public Random {
public:
    explicit ReplayRandom(std::uint64_t state = 0) { engine_.state = state; }
    float Rnd() override;
    void Reseed() override {}
    void SetState(std::uint64_t state) { engine_.state = state; }
    // The caller guarantees 0 <= value < 1.
    void Queue(float value) { queued_.push_back(value); }
    std::size_t QueuedCount() const { return queued_.size(); }

private:
    SplitMix64 engine_;
    std::deque<float> queued_;
};

}  // namespace kestrel
