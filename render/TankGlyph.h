#pragma once

#include "render/Canvas.h"

namespace kestrel {

// Draws one tank: the turret circle, the two barrel lines, and the top and
// base outlines of the hull, eleven canvas calls in a fixed order. Drawing it
// again with the same values in white erases it.
void DrawTank(Canvas& canvas, double x, double y, float heading, float turret, Colour colour);

}  // namespace kestrel
