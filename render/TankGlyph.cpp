#include "render/TankGlyph.h"

#include "model/MathFunctions.h"

namespace kestrel {
namespace {

// Corners of the hull outlines lie at these angles either side of the heading.
constexpr double FRONT_CORNER = 0.5235987755982989;  // 30 degrees
constexpr double REAR_CORNER = 2.617993877991495;    // 150 degrees
constexpr double OTHER_REAR = 3.6651914291880927;    // 210 degrees

constexpr float TURRET_RADIUS = 5;
constexpr double BARREL_START = 5;
constexpr double BARREL_END = 17;
constexpr double BARREL_LOWER_DROP = 2;
constexpr double TOP_REACH = 15;
constexpr double TOP_DROP = 5;
constexpr double BASE_REACH = 17;
constexpr double BASE_DROP = 10;

// A direction on the ground; its sine and cosine are taken once per glyph
// and serve every point along it.
struct Direction : SineCosine {
    explicit Direction(double theta) : SineCosine(SinCos(theta)) {}
};

// The four corners of a hull outline, in drawing order after the first.
struct HullCorners {
    Direction front;  // heading + 30 degrees
    Direction otherFront;  // heading - 30 degrees
    Direction otherRear;  // heading + 210 degrees
    Direction rear;  // heading + 150 degrees
    explicit HullCorners(double h)
        : front(h + FRONT_CORNER), otherFront(h - FRONT_CORNER), otherRear(h + OTHER_REAR),
          rear(h + REAR_CORNER) {}
};

struct Glyph {
    Canvas& canvas;
    double x;
    double y;
    Colour colour;

    // The point rho units from the tank along a direction, lowered by drop.
    // Summed in the glyph's own order, not ProjectPoint's: the two can differ
    // in the last bit, and these are the glyph's exact numbers.
    float PointX(Direction d, double rho) const { return float(x + rho * d.sine); }
    float PointY(Direction d, double rho, double drop) const {
        return float(0.5 * rho * d.cosine + 0.5 * y + drop + 0.25 * double(canvas.CanvasHeight()));
    }

    void Line(Direction from, Direction to, double rhoFrom, double rhoTo, double drop) {
        canvas.DrawLine(PointX(from, rhoFrom), PointY(from, rhoFrom, drop), PointX(to, rhoTo),
                        PointY(to, rhoTo, drop), colour);
    }

    void LineTo(Direction to, double rho, double drop) {
        canvas.DrawLineTo(PointX(to, rho), PointY(to, rho, drop), colour);
    }

    // Front edge, one side, rear edge, other side, back to the first corner.
    void HullOutline(const HullCorners& corners, double rho, double drop) {
        Line(corners.front, corners.otherFront, rho, rho, drop);
        LineTo(corners.otherRear, rho, drop);
        LineTo(corners.rear, rho, drop);
        LineTo(corners.front, rho, drop);
    }
};

}  // namespace

void DrawTank(Canvas& canvas, double x, double y, float heading, float turret, Colour colour) {
    if (!canvas.TakesStrokes()) return;
    Glyph glyph{canvas, x, y, colour};
    const Direction barrel(turret);
    const HullCorners hull(heading);
    canvas.DrawCircle(float(x), float(0.5 * y + 0.25 * double(canvas.CanvasHeight())),
                      TURRET_RADIUS, colour);
    glyph.Line(barrel, barrel, BARREL_START, BARREL_END, 0);
    glyph.Line(barrel, barrel, BARREL_START, BARREL_END, BARREL_LOWER_DROP);
    glyph.HullOutline(hull, TOP_REACH, TOP_DROP);
    glyph.HullOutline(hull, BASE_REACH, BASE_DROP);
}

}  // namespace kestrel
