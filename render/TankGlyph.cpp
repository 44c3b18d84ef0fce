#include "render/TankGlyph.h"

#include <cmath>

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

struct Glyph {
    Canvas& canvas;
    double x;
    double y;
    Colour colour;

    // A point rho units from the tank in direction theta, lowered by drop.
    void Q(double theta, double rho, double drop, float& px, float& py) const {
        px = float(x + rho * std::sin(theta));
        py = float(0.5 * rho * std::cos(theta) + 0.5 * y + drop +
                   0.25 * double(canvas.CanvasHeight()));
    }

    void Line(double theta1, double theta2, double rho, double drop) {
        float x1, y1, x2, y2;
        Q(theta1, rho, drop, x1, y1);
        Q(theta2, rho, drop, x2, y2);
        canvas.DrawLine(x1, y1, x2, y2, colour);
    }

    void Barrel(double theta, double drop) {
        float x1, y1, x2, y2;
        Q(theta, BARREL_START, drop, x1, y1);
        Q(theta, BARREL_END, drop, x2, y2);
        canvas.DrawLine(x1, y1, x2, y2, colour);
    }

    void LineTo(double theta, double rho, double drop) {
        float px, py;
        Q(theta, rho, drop, px, py);
        canvas.DrawLineTo(px, py, colour);
    }

    // Front edge, one side, rear edge, other side, back to the first corner.
    void HullOutline(double h, double rho, double drop) {
        Line(h + FRONT_CORNER, h - FRONT_CORNER, rho, drop);
        LineTo(h + OTHER_REAR, rho, drop);
        LineTo(h + REAR_CORNER, rho, drop);
        LineTo(h + FRONT_CORNER, rho, drop);
    }
};

}  // namespace

void DrawTank(Canvas& canvas, double x, double y, float heading, float turret, Colour colour) {
    Glyph glyph{canvas, x, y, colour};
    const double t = turret;
    const double h = heading;
    canvas.DrawCircle(float(x), float(0.5 * y + 0.25 * double(canvas.CanvasHeight())),
                      TURRET_RADIUS, colour);
    glyph.Barrel(t, 0);
    glyph.Barrel(t, BARREL_LOWER_DROP);
    glyph.HullOutline(h, TOP_REACH, TOP_DROP);
    glyph.HullOutline(h, BASE_REACH, BASE_DROP);
}

}  // namespace kestrel
