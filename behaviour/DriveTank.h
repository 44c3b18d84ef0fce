#pragma once

#include "model/Battlefield.h"
#include "render/Canvas.h"

namespace kestrel {

// For the live tank in currentTank, right after its PlanTank: slew the
// turret, steer the hull, move one tick along the heading, and bounce off
// any edge of the canvas it crossed.
void DriveTank(Battlefield& bf, const Canvas& canvas);

}  // namespace kestrel
