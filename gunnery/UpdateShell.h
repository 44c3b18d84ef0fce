#pragma once

#include "model/Battlefield.h"
#include "model/Random.h"
#include "model/Seats.h"
#include "render/Canvas.h"

namespace kestrel {

// The shell step of slot currentTank: fire from a free gun, fly a shell in
// flight one step, or burst a landed shell and take hit points, a kill for
// the shooter's seat at every tank whose last one it takes.
void UpdateShell(Battlefield& bf, Seats& seats, Canvas& canvas, Random& random);

}  // namespace kestrel
