#include "gunnery/UpdateShell.h"

#include "model/MathFunctions.h"
#include "model/Numeric.h"
#include "render/Projection.h"
#include "render/TankGlyph.h"

namespace kestrel {
namespace {

constexpr double FIRE_MIN_RANGE = 50;
constexpr double FIRE_MAX_RANGE = 300;
constexpr int FLIGHT_TIMER_BASE = 10;
constexpr double FLIGHT_TIMER_SPREAD = 15;
constexpr int BURST_RAY_COUNT = 11;
constexpr double BURST_RAY_LENGTH = 10;
constexpr double BLAST_HALF_WIDTH = 20;
constexpr int DAMAGE_RAY_COUNT = 21;
constexpr double DAMAGE_RAY_LENGTH = 20;
constexpr double SHELL_DROP = 10;  // the ground level that shells fly over and burst at
constexpr double DAMAGE_RAY_END_DROP = 5;
constexpr double ARC_FACTOR = 2;
constexpr double ARC_EXPONENT = 0.6;
constexpr float SHELL_RADIUS = 1;
// Ray colour components are Int(Rnd * 155 + 100), so 100..254.
constexpr double RAY_COLOUR_SPREAD = 155;
constexpr double RAY_COLOUR_BASE = 100;

constexpr std::int16_t GUN_FREE = 0;
constexpr std::int16_t LANDED = 1;

// A shell with timer T is drawn 2 T^0.6 above the level it bursts at, so
// its dot sinks as the timer runs down.
double ShellDrop(int timer) { return SHELL_DROP - ARC_FACTOR * Pow(double(timer), ARC_EXPONENT); }

std::uint8_t RayComponent(Random& random) {
    return std::uint8_t(Int(double(random.Rnd()) * RAY_COLOUR_SPREAD + RAY_COLOUR_BASE));
}

// The shooter's own hit points are not looked at: a dead slot's step fires
// too, when its still turret happens to lie exactly on a live target.
bool ReadyToFire(const Battlefield& bf, int c) {
    return bf.targetRange < FIRE_MAX_RANGE && bf.targetRange > FIRE_MIN_RANGE &&
           SameAsSingle(bf.aimAngle, bf.turretAngle[c]) && IsLive(bf, bf.tankTarget[c]);
}

// The flight length is drawn now and has nothing to do with the range.
void Fire(Battlefield& bf, Random& random, int c) {
    bf.shellX[c] = bf.tankX[c];
    bf.shellY[c] = bf.tankY[c];
    bf.shellHeading[c] = bf.turretAngle[c];
    bf.shellTimer[c] = std::int16_t(Int(double(random.Rnd()) * FLIGHT_TIMER_SPREAD) + FLIGHT_TIMER_BASE);
}

void DrawShellDot(Canvas& canvas, double x, double y, int timer, Colour colour) {
    if (!canvas.TakesStrokes()) return;
    const CanvasPoint dot = ProjectPoint(canvas, x, y, ShellDrop(timer));
    canvas.DrawCircle(float(dot.x), float(dot.y), SHELL_RADIUS, colour);
}

// Overdraw the last dot in pale pink, which leaves a trail, move by T along
// the heading and draw the dot lower.
void Fly(Battlefield& bf, Canvas& canvas, int c) {
    const int timer = bf.shellTimer[c];
    DrawShellDot(canvas, bf.shellX[c], bf.shellY[c], timer, TRAIL_COLOUR);
    const SineCosine heading = SinCos(bf.shellHeading[c]);
    bf.shellX[c] += timer * heading.sine;
    bf.shellY[c] += timer * heading.cosine;
    bf.shellTimer[c] = std::int16_t(timer - 1);
    DrawShellDot(canvas, bf.shellX[c], bf.shellY[c], timer - 1, SHELL_COLOUR);
}

// A ray from the burst point, Rnd * length long in a random direction.
struct Ray {
    double angle;
    double length;
};

Ray DrawRay(Random& random, double length) {
    const double angle = RandomAngle(random.Rnd());
    return {angle, double(random.Rnd()) * length};
}

CanvasPoint RayEnd(const Canvas& canvas, double px, double py, Ray ray, double drop) {
    const SineCosine direction = SinCos(ray.angle);
    return ProjectPoint(canvas, px + ray.length * direction.sine, py + ray.length * direction.cosine,
                        drop);
}

// A ray's draws are made whether or not it is drawn, so that a battle run
// without a picture takes the same random stream; only the geometry is
// spared.
void DrawBurstRays(Canvas& canvas, Random& random, double px, double py) {
    const CanvasPoint centre = ProjectPoint(canvas, px, py, SHELL_DROP);
    for (int i = 0; i < BURST_RAY_COUNT; ++i) {
        const Ray ray = DrawRay(random, BURST_RAY_LENGTH);
        const std::uint8_t red = RayComponent(random);
        const std::uint8_t green = RayComponent(random);
        if (canvas.TakesStrokes())
            DrawLine(canvas, centre, RayEnd(canvas, px, py, ray, SHELL_DROP), Colour{red, green, 0});
    }
}

void DrawDamageRays(Canvas& canvas, Random& random, double px, double py) {
    const CanvasPoint centre = ProjectPoint(canvas, px, py, SHELL_DROP);
    for (int i = 0; i < DAMAGE_RAY_COUNT; ++i) {
        const Ray ray = DrawRay(random, DAMAGE_RAY_LENGTH);
        const std::uint8_t red = RayComponent(random);
        if (canvas.TakesStrokes())
            DrawLine(canvas, centre, RayEnd(canvas, px, py, ray, DAMAGE_RAY_END_DROP), Colour{red, 0, 0});
    }
}

// The blast zone is an open square, not a circle.
bool InBlast(const Battlefield& bf, int i, double px, double py) {
    return px - BLAST_HALF_WIDTH < bf.tankX[i] && bf.tankX[i] < px + BLAST_HALF_WIDTH &&
           py - BLAST_HALF_WIDTH < bf.tankY[i] && bf.tankY[i] < py + BLAST_HALF_WIDTH &&
           IsLive(bf, i);
}

// A hit takes a hit point, spins hull and turret to random directions,
// stops the tank and shows it grey until its slot is drawn again.
void Damage(Battlefield& bf, Canvas& canvas, Random& random, int i, double px, double py) {
    --bf.tankHits[i];
    DrawTank(canvas, bf.tankX[i], bf.tankY[i], bf.tankHeading[i], bf.turretAngle[i], WHITE);
    bf.tankHeading[i] = ToSingle(RandomAngle(random.Rnd()));
    bf.turretAngle[i] = ToSingle(RandomAngle(random.Rnd()));
    bf.tankSpeed[i] = 0;
    DrawTank(canvas, bf.tankX[i], bf.tankY[i], bf.tankHeading[i], bf.turretAngle[i],
             HIT_TANK_COLOUR);
    DrawDamageRays(canvas, random, px, py);
}

// Every live tank in the zone is hit, the shooter's own included.
void Burst(Battlefield& bf, Seats& seats, Canvas& canvas, Random& random, int c) {
    const double px = bf.shellX[c];
    const double py = bf.shellY[c];
    bf.shellTimer[c] = GUN_FREE;
    DrawBurstRays(canvas, random, px, py);
    for (int i = 0; i < SLOT_COUNT; ++i)
        if (InBlast(bf, i, px, py)) {
            Damage(bf, canvas, random, i, px, py);
            if (!IsLive(bf, i)) CountKill(seats, c, i);
        }
}

}  // namespace

void UpdateShell(Battlefield& bf, Seats& seats, Canvas& canvas, Random& random) {
    const int c = bf.currentTank;
    const int timer = bf.shellTimer[c];
    if (timer == LANDED) {
        Burst(bf, seats, canvas, random, c);
    } else if (timer <= GUN_FREE) {
        if (ReadyToFire(bf, c)) Fire(bf, random, c);
    } else {
        Fly(bf, canvas, c);
    }
}

}  // namespace kestrel
