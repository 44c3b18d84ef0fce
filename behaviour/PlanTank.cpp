#include "behaviour/PlanTank.h"

#include <cmath>

#include "model/MathFunctions.h"
#include "model/Numeric.h"

namespace kestrel {
namespace {

constexpr double SPEED_STEP = 0.02;
constexpr float MIN_SPEED = 1;
constexpr float CRUISE_SPEED = 2;
constexpr double CLOSE_RANGE = 100;
constexpr double TARGET_DRAW = 51;

// Heading h for which (sin h, cos h) points along (dx, dy), in -3pi/2..pi/2.
// Straight across (dy = 0) always counts as pi/2, even for a target on the
// left or at the very same place.
double Bearing(double dx, double dy) {
    double bearing = HALF_PI;
    if (dy != 0) bearing = Atan(dx / dy);
    if (dy < 0) bearing -= PI;
    return bearing;
}

float Faster(float speed) { return ToSingle(double(speed) + SPEED_STEP); }
float Slower(float speed) { return ToSingle(double(speed) - SPEED_STEP); }

// With a target: slow down near it, speed up while slow or while the turret
// is on it. Without one: coast down to rest at exactly 0.
float PlannedSpeed(const Battlefield& bf, int c) {
    float speed = bf.tankSpeed[c];
    if (HasValidTarget(bf, c)) {
        const bool onAim = SameAsSingle(bf.aimAngle, bf.turretAngle[c]);
        if (bf.targetRange < CLOSE_RANGE && speed > MIN_SPEED)
            speed = Slower(speed);
        else if ((onAim && speed < CRUISE_SPEED) || speed < MIN_SPEED)
            speed = Faster(speed);
    } else {
        if (speed > 0) speed = Slower(speed);
        if (speed < 0) speed = 0;
    }
    // Above cruising speed (after an edge bounce) every tank sheds speed.
    if (speed > CRUISE_SPEED) speed = Slower(speed);
    return speed;
}

}  // namespace

double WrapOnce(double difference) {
    if (difference < -PI) difference += TWO_PI;
    if (difference > PI) difference -= TWO_PI;
    return difference;
}

void PlanTank(Battlefield& bf, Random& random) {
    const int c = bf.currentTank;
    // One draw and no retry: a draw of itself or a dead slot is tried again
    // next tick.
    if (!HasValidTarget(bf, c))
        bf.tankTarget[c] = Slot(Int(double(random.Rnd()) * TARGET_DRAW));

    const int t = bf.tankTarget[c];
    const double dx = bf.tankX[t] - bf.tankX[c];
    const double dy = bf.tankY[t] - bf.tankY[c];
    bf.targetRange = std::sqrt(dx * dx + dy * dy);
    bf.aimAngle = Bearing(dx, dy);
    bf.turretError = WrapOnce(double(bf.turretAngle[c]) - bf.aimAngle);
    bf.hullError = WrapOnce(double(bf.tankHeading[c]) - bf.aimAngle);
    bf.tankSpeed[c] = PlannedSpeed(bf, c);
}

}  // namespace kestrel
