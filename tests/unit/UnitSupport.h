#pragma once
// Small helpers shared by the unit tests.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <ostream>
#include <vector>

#include "model/Battlefield.h"
#include "game/FrameTick.h"
#include "game/Game.h"
#include "model/Random.h"
#include "render/RecordingCanvas.h"
#include "render/TankGlyph.h"
#include "tests/Sanitizers.h"

namespace kestrel {

// Readable failures for recorded calls.
inline void PrintTo(const CanvasCall& c, std::ostream* out) {
    *out << "{kind " << int(c.kind) << ", " << c.v[0] << ' ' << c.v[1] << ' ' << c.v[2] << ' '
         << c.v[3] << ", rgb " << +c.colour.r << ' ' << +c.colour.g << ' ' << +c.colour.b << '}';
}

namespace test {

inline constexpr std::size_t GLYPH_CALLS = 11;

// A zeroed field on the start-size canvas, ticked on a replay stream whose
// draws and reseeds it counts. Only a battle start reseeds.
struct Rig final : Random {
    float Rnd() override { return ++draws, replay.Rnd(); }
    void Reseed() override { ++reseeds; }
    void Tick() { FrameTick(bf, seats, canvas, *this); }
    const std::vector<CanvasCall>& Calls() const { return canvas.Calls(); }

    Battlefield bf;
    Seats seats;
    RecordingCanvas canvas{START_WIDTH, START_HEIGHT};
    GameRandom replay;
    std::uint64_t draws = 0;
    std::uint64_t reseeds = 0;
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

// The calls that draw slot s's tank as `bf` has it, on the start-size canvas.
inline std::vector<CanvasCall> GlyphOf(const Battlefield& bf, int s, Colour colour) {
    RecordingCanvas canvas(START_WIDTH, START_HEIGHT);
    DrawTank(canvas, bf.tankX[s], bf.tankY[s], bf.tankHeading[s], bf.turretAngle[s], colour);
    return canvas.Calls();
}

// A glyph's worth of calls from `first` on (fewer at the end).
inline std::vector<CanvasCall> GlyphAt(const std::vector<CanvasCall>& calls, std::size_t first) {
    first = std::min(first, calls.size());
    const std::size_t end = std::min(calls.size(), first + GLYPH_CALLS);
    return {calls.begin() + std::ptrdiff_t(first), calls.begin() + std::ptrdiff_t(end)};
}

}  // namespace test
}  // namespace kestrel
