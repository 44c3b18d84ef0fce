#include "behaviour/DriveTank.h"

#include "model/MathFunctions.h"
#include "model/Numeric.h"

namespace kestrel {
namespace {

constexpr double TURRET_STEP = 0.08;  // also the window in which it snaps on aim
constexpr double HULL_STEP = 0.02;    // also the hull's snap window
constexpr double CLOSE_RANGE = 100;   // at this range or nearer the hull turns away
constexpr float BOUNCE_SPEED = 3;

// Headings that point straight back into the field from each edge.
constexpr float FROM_LEFT_EDGE = ToSingle(HALF_PI);
constexpr float FROM_RIGHT_EDGE = ToSingle(THREE_HALF_PI);
constexpr float FROM_FAR_EDGE = 0;
constexpr float FROM_NEAR_EDGE = ToSingle(PI);

// Turn by one step toward the bearing, or land on it when within a step.
// An error of exactly 0 leaves the angle as it is.
float StepOrSnap(float angle, double error, double step, float onBearing) {
    if (error < -step) return ToSingle(double(angle) + step);
    if (error > step) return ToSingle(double(angle) - step);
    if (error == 0) return angle;
    return onBearing;
}

// Turn by one step away from the bearing.
float TurnAway(float angle, double error) {
    if (error < 0) return ToSingle(double(angle) - HULL_STEP);
    if (error > 0) return ToSingle(double(angle) + HULL_STEP);
    return angle;
}

void SlewTurret(Battlefield& bf, int c) {
    bf.turretAngle[c] =
        StepOrSnap(bf.turretAngle[c], bf.turretError, TURRET_STEP, ToSingle(bf.aimAngle));
}

// Close in on a far target once the turret is on it; otherwise turn away.
void SteerHull(Battlefield& bf, int c) {
    const bool closingIn =
        bf.targetRange > CLOSE_RANGE && SameAsSingle(bf.aimAngle, bf.turretAngle[c]);
    bf.tankHeading[c] = closingIn
        ? StepOrSnap(bf.tankHeading[c], bf.hullError, HULL_STEP, bf.turretAngle[c])
        : TurnAway(bf.tankHeading[c], bf.hullError);
}

void Move(Battlefield& bf, int c) {
    const double speed = bf.tankSpeed[c];
    const SineCosine heading = SinCos(bf.tankHeading[c]);
    bf.tankX[c] += speed * heading.sine;
    bf.tankY[c] += speed * heading.cosine;
}

void Bounce(Battlefield& bf, int c, float heading) {
    bf.tankHeading[c] = heading;
    bf.tankSpeed[c] = BOUNCE_SPEED;
}

// Each test sees what the tests before it left, so at a corner the depth
// edge's heading stands. The far sides compare singles, strictly.
void BounceOffEdges(Battlefield& bf, const Canvas& canvas, int c) {
    if (bf.tankX[c] < 0) {
        bf.tankX[c] = 0;
        Bounce(bf, c, FROM_LEFT_EDGE);
    }
    if (ToSingle(bf.tankX[c]) > canvas.CanvasWidth()) {
        bf.tankX[c] = canvas.CanvasWidth();
        Bounce(bf, c, FROM_RIGHT_EDGE);
    }
    if (bf.tankY[c] < 0) {
        bf.tankY[c] = 0;
        Bounce(bf, c, FROM_FAR_EDGE);
    }
    if (ToSingle(bf.tankY[c]) > canvas.CanvasHeight()) {
        bf.tankY[c] = canvas.CanvasHeight();
        Bounce(bf, c, FROM_NEAR_EDGE);
    }
}

}  // namespace

void DriveTank(Battlefield& bf, const Canvas& canvas) {
    const int c = bf.currentTank;
    if (HasValidTarget(bf, c)) {
        SlewTurret(bf, c);
        SteerHull(bf, c);
    }
    Move(bf, c);
    BounceOffEdges(bf, canvas, c);
}

}  // namespace kestrel
