#include <algorithm>

#include "game/FrameTick.h"
#include "model/Numeric.h"
#include "render/TankGlyph.h"

namespace kestrel {
namespace {

constexpr double BATTLE_SIZE_SCALE = 50;  // n = Int(a * b * 50 + 1), 1..50
constexpr std::int16_t SPAWN_HITS = 2;
constexpr double TARGET_DRAW = 51;
constexpr float CLEAR_CHANCE = 0.3f;  // three battles in ten start on a clean canvas

// The last slot a new battle spawns. Two draws multiplied make small battles
// common and a full one rare.
int DrawLastSpawnedSlot(Random& random) {
    const float a = random.Rnd();
    const float b = random.Rnd();
    return Int(double(b) * double(a) * BATTLE_SIZE_SCALE + 1);
}

void Spawn(Battlefield& bf, Canvas& canvas, Random& random, int s) {
    // A survivor of the ending battle in this slot is taken off the field.
    if (IsLive(bf, s))
        DrawTank(canvas, bf.tankX[s], bf.tankY[s], bf.tankHeading[s], bf.turretAngle[s], WHITE);
    bf.tankX[s] = double(random.Rnd()) * double(canvas.CanvasWidth());
    bf.tankY[s] = double(random.Rnd()) * double(canvas.CanvasHeight());
    bf.tankHeading[s] = ToSingle(RandomAngle(random.Rnd()));
    bf.turretAngle[s] = ToSingle(RandomAngle(random.Rnd()));
    bf.tankHits[s] = SPAWN_HITS;
    bf.tankSpeed[s] = 0;
    bf.tankTarget[s] = Slot(Int(double(random.Rnd()) * TARGET_DRAW));
}

}  // namespace

void StartBattle(Battlefield& bf, Canvas& canvas, Random& random, int seatCount) {
    random.Reseed();
    // Every seated player has a tank in every battle.
    const int last = std::max(DrawLastSpawnedSlot(random), seatCount - 1);
    for (int s = 0; s <= last; ++s) Spawn(bf, canvas, random, s);
    if (random.Rnd() < CLEAR_CHANCE) canvas.ClearCanvas();
}

}  // namespace kestrel
