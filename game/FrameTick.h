#pragma once

#include "model/Battlefield.h"
#include "model/Random.h"
#include "render/Canvas.h"

namespace kestrel {

// One step of the whole battle: plan every slot, erase, drive and redraw the
// live tanks, run every shell; then start the next battle if this one is over.
void FrameTick(Battlefield& bf, Canvas& canvas, Random& random);

// Respawns slots 0..n for a random n and sometimes clears the canvas.
void StartBattle(Battlefield& bf, Canvas& canvas, Random& random);

}  // namespace kestrel
