#pragma once

#include "model/Battlefield.h"
#include "model/Random.h"

namespace kestrel {

// For slot currentTank: keep a target (one draw when it is invalid), measure
// range and bearing, work out how far turret and hull point off the bearing,
// and adjust the speed.
void PlanTank(Battlefield& bf, Random& random);

// The angle difference shifted once by a full turn toward -pi..pi. Stored
// angles are never normalised, so a large difference stays large.
double WrapOnce(double difference);

}  // namespace kestrel
