#pragma once
// A long battle, with random pointer, key and window-size
// meddling between ticks, that checks every rule the record keeps after every
// tick, and what pointer acts may change. The unit suite runs it briefly,
// kestrel-soak at length.

#include <cstdint>
#include <memory>
#include <string>

#include "model/Battlefield.h"
#include "game/Game.h"
#include "model/Random.h"

namespace kestrel::soak {

struct SoakSettings {
    std::uint64_t gameSeed = 0;   // state of the replay stream the battle draws from
    std::uint64_t eventSeed = 1;  // a separate stream for the meddling
    bool events = true;
    // As the live game: battle starts reseed from the clock (the recording
    // notes each state), and the game keeps a picture.
    bool liveGame = false;
    // One key in so many ticks, as a rule. Every key but Esc ends the
    // battle, so a short soak that must meet keys has them more often.
    int keyOdds = 4000;
};

class Soak {
public:
    explicit Soak(SoakSettings settings);

    // Runs `ticks` more ticks, or up to the first broken rule. Returns "" when
    // every check held, else what broke and at which tick.
    std::string Run(std::uint64_t ticks);

    std::uint64_t Ticks() const { return ticks_; }
    // The game the soak plays, with its recording of everything so far.
    const Game& Played() const { return game_; }
    // Only a battle start reseeds, so the reseeds count the battles.
    std::uint64_t Battles() const { return game_.RandomStream().Reseeds(); }
    std::uint64_t Drags() const { return drags_; }  // tanks picked up by the pointer
    // The most ticks between two battle starts, the running battle included.
    std::uint64_t LongestBattle() const;

private:
    enum class PointerAct { Down, Move, Up };


    std::string Meddle();  // the first rule the meddling broke, or ""
    std::string UsePointer(PointerAct act);
    std::string Check() const;
    int Below(int n);                      // 0..n-1 from the meddling stream
    double Between(double lo, double hi);  // [lo, hi) from the meddling stream

    SoakSettings settings_;
    Game game_;
    Battlefield& bf_;
    const Canvas& canvas_;
    SplitMix64 events_;
    std::uint64_t ticks_ = 0;
    std::uint64_t battleStartTick_ = 0;
    std::uint64_t longestBattle_ = 0;
    std::uint64_t drags_ = 0;
    int aimedSlot_ = 0;  // the tank the pointer keeps to for a while
};

}  // namespace kestrel::soak
