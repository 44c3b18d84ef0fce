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

// The game's stream, splitmix64 over a state that can be read and set, so
// that a battle can be written down and played again. A battle start takes
// the state queued for it (a recording played back); else the live game
// takes a fresh state from the clock, so battles differ between runs, while
// replays and tests keep the state, so a script always plays the same way.
class GameRandom final : public Random {
public:
    enum class Reseeding { KeepState, FromClock };

    explicit GameRandom(std::uint64_t state = 0, Reseeding reseeding = Reseeding::KeepState);
    // Starts from the clock, and reseeds from it.
    static GameRandom FromClock();

    // Queued draws first, in order; then the generator.
    float Rnd() override;
    void Reseed() override;

    std::uint64_t State() const { return engine_.state; }
    void SetState(std::uint64_t state) { engine_.state = state; }
    Reseeding HowReseeded() const { return reseeding_; }
    void SetReseeding(Reseeding reseeding) { reseeding_ = reseeding; }

    // The caller guarantees 0 <= value < 1.
    void Queue(float value) { queued_.push_back(value); }
    std::size_t QueuedCount() const { return queued_.size(); }
    // The state the next battle start takes, whatever the reseeding.
    void QueueReseed(std::uint64_t state) { queuedReseeds_.push_back(state); }
    void DropQueuedReseeds() { queuedReseeds_.clear(); }

    // Battle starts so far, and the state the last one took.
    std::uint64_t Reseeds() const { return reseeds_; }
    std::uint64_t LastReseedState() const { return lastReseedState_; }

private:
    SplitMix64 engine_;
    Reseeding reseeding_;
    std::deque<float> queued_;
    std::deque<std::uint64_t> queuedReseeds_;
    std::uint64_t reseeds_ = 0;
    std::uint64_t lastReseedState_ = 0;
};

}  // namespace kestrel
