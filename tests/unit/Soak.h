#pragma once
// A long run of the battle on a replay stream, with random mouse, keyboard
// and window-size meddling between ticks, that checks the record's ranges
// after every tick. Shared by the unit suite (short runs) and kestrel-soak.

#include <cstdint>
#include <string>

#include "UnitSupport.h"
#include "core/Battlefield.h"
#include "core/Random.h"
#include "render/RecordingCanvas.h"

namespace kestrel::soak {

struct SoakSettings {
    std::uint64_t gameSeed = 0;   // state of the replay stream the battle draws from
    std::uint64_t eventSeed = 1;  // a separate stream for the meddling
    bool events = true;
};

class Soak {
public:
    explicit Soak(SoakSettings settings);

    // Runs `ticks` more ticks, or up to the first broken rule. Returns an
    // empty string when every check held, else what broke and at which tick.
    std::string Run(std::uint64_t ticks);

    std::uint64_t Ticks() const { return ticks_; }
    std::uint64_t Battles() const { return random_.reseeds; }
    std::uint64_t Drags() const { return drags_; }  // tanks picked up by the pointer
    // The most ticks between two battle starts, the running battle included.
    std::uint64_t LongestBattle() const;

private:
    void Meddle();
    void PointerEvent(int kind);
    float PointerX();
    float PointerY();
    std::string Check() const;
    double Uniform();  // [0, 1) from the meddling stream
    int Below(int n);   // 0..n-1 from the meddling stream

    SoakSettings settings_;
    Battlefield bf_;
    RecordingCanvas canvas_;
    ReplayRandom replay_;
    test::CountingRandom random_{replay_};
    SplitMix64 events_;
    std::uint64_t ticks_ = 0;
    std::uint64_t battleStartTick_ = 0;
    std::uint64_t longestBattle_ = 0;
    std::uint64_t drags_ = 0;
    int aimedSlot_ = 0;  // the tank the pointer aims at for its next event
};

}  // namespace kestrel::soak
