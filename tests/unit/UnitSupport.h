#pragma once
// Small helpers shared by the unit tests and the soak driver.

#include <cstddef>
#include <cstdint>
#include <tuple>
#include <vector>

#include "core/Battlefield.h"
#include "core/Random.h"
#include "render/RecordingCanvas.h"

namespace kestrel::test {

inline constexpr std::size_t GLYPH_CALLS = 11;

// Passes every draw and reseed on to a replay stream and counts them. Only a
// battle start reseeds, so `reseeds` counts battle starts.
class CountingRandom final : public Random {
public:
    explicit CountingRandom(ReplayRandom& inner) : inner_(inner) {}
    float Rnd() override {
        ++draws;
        return inner_.Rnd();
    }
    void Reseed() override {
        ++reseeds;
        inner_.Reseed();
    }

    std::uint64_t draws = 0;
    std::uint64_t reseeds = 0;

private:
    ReplayRandom& inner_;
};

inline void PlaceTank(Battlefield& bf, int s, double x, double y, int hits = 2, float heading = 0,
                      float turret = 0, float speed = 0) {
    bf.tankX[s] = x;
    bf.tankY[s] = y;
    bf.tankHits[s] = std::int16_t(hits);
    bf.tankHeading[s] = heading;
    bf.turretAngle[s] = turret;
    bf.tankSpeed[s] = speed;
}

// Every field, for whole-record comparisons.
inline auto Fields(const Battlefield& b) {
    return std::tie(b.tankX, b.tankY, b.tankHeading, b.turretAngle, b.tankHits, b.tankSpeed,
                    b.tankTarget, b.shellX, b.shellY, b.shellHeading, b.shellTimer,
                    b.currentTank, b.liveCount, b.lastLiveSpeed, b.aimAngle, b.targetRange,
                    b.turretError, b.hullError, b.dragging, b.dragSlot, b.pointerDepth);
}

// A tank glyph as recorded: its colour and the centre of its turret circle.
struct GlyphSeen {
    bool whole = false;  // eleven calls, a circle first, all in one colour
    Colour colour;
    float cx = 0;
    float cy = 0;
};

inline GlyphSeen GlyphAt(const std::vector<CanvasCall>& calls, std::size_t first) {
    GlyphSeen glyph;
    if (first + GLYPH_CALLS > calls.size()) return glyph;
    const CanvasCall& circle = calls[first];
    glyph.colour = circle.colour;
    glyph.cx = circle.v[0];
    glyph.cy = circle.v[1];
    glyph.whole = circle.kind == CanvasCall::Kind::Circle;
    for (std::size_t i = first; i < first + GLYPH_CALLS; ++i)
        glyph.whole = glyph.whole && calls[i].colour == circle.colour;
    return glyph;
}

// Where a tank's turret circle lands on a canvas of height h.
inline float TurretCentreY(double groundY, double h) { return float(0.5 * groundY + 0.25 * h); }

}  // namespace kestrel::test
