#pragma once

#include "model/Battlefield.h"
#include "model/Random.h"
#include "render/Canvas.h"

namespace kestrel {

// The shell step of slot currentTank: fire from a free gun, fly a shell in
// flight one step, or burst a landed shell and take hit points.
void UpdateShell(Battlefield& bf, Canvas& canvas, Random& random);

}  // namespace kestrel
