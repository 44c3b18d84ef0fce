#pragma once
// The oblique view: ground depth is halved and the ground band is pushed
// down by a quarter of the canvas height; a drop lowers a point on the screen
// without moving it on the ground.

#include "render/Canvas.h"

namespace kestrel {

struct CanvasPoint {
    double x;
    double y;
};

inline CanvasPoint ProjectPoint(const Canvas& canvas, double gx, double gy, double drop) {
    return {gx, 0.5 * gy + 0.25 * double(canvas.CanvasHeight()) + drop};
}

// The ground depth whose projection at drop 0 lies at canvas height y.
inline double GroundDepthAt(const Canvas& canvas, float y) {
    return double(y) / 0.5 - 0.5 * double(canvas.CanvasHeight());
}

inline void DrawLine(Canvas& canvas, CanvasPoint from, CanvasPoint to, Colour colour) {
    canvas.DrawLine(float(from.x), float(from.y), float(to.x), float(to.y), colour);
}

}  // namespace kestrel
