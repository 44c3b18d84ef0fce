#pragma once
// The whole memory of the game: 51 tank slots, one shell slot per tank, the
// working values the per-tank steps hand to one another within a tick, and
// the pointer-drag state. Created zeroed with the window; nothing else keeps
// state. Every member is listed again, with its kind, in
// model/BattlefieldFields.h.

#include <array>
#include <cstdint>

namespace kestrel {

inline constexpr int SLOT_COUNT = 51;
inline constexpr int LAST_SLOT = SLOT_COUNT - 1;
inline constexpr int PLAYER_SLOT = 0;

using Slot = std::int16_t;
template <typename T>
using PerSlot = std::array<T, SLOT_COUNT>;

struct Battlefield {
    // Tanks.
    PerSlot<double> tankX{};
    PerSlot<double> tankY{};
    PerSlot<float> tankHeading{};
    PerSlot<float> turretAngle{};
    PerSlot<std::int16_t> tankHits{};
    PerSlot<float> tankSpeed{};
    PerSlot<Slot> tankTarget{};

    // Shells: shellTimer 0 is a free gun, 1 bursts at the next shell step,
    // 2 and more is in flight and also the distance of the next step.
    PerSlot<double> shellX{};
    PerSlot<double> shellY{};
    PerSlot<float> shellHeading{};
    PerSlot<std::int16_t> shellTimer{};

    // Working values of the tick.
    Slot currentTank = 0;
    std::int16_t liveCount = 0;
    float lastLiveSpeed = 0;
    double aimAngle = 0;
    double targetRange = 0;
    double turretError = 0;
    double hullError = 0;

    // Pointer drag.
    bool dragging = false;
    Slot dragSlot = 0;
    std::int16_t pointerDepth = 0;

    // Member by member. Reals compare as numbers, so a record holding a NaN
    // is unequal even to itself.
    friend bool operator==(const Battlefield&, const Battlefield&) = default;
};

inline bool IsLive(const Battlefield& bf, int slot) { return bf.tankHits[slot] > 0; }

// A target is valid when it is another slot and that slot's tank is live.
inline bool HasValidTarget(const Battlefield& bf, int slot) {
    const int target = bf.tankTarget[slot];
    return target != slot && IsLive(bf, target);
}

}  // namespace kestrel
