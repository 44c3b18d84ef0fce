#pragma once

#include "model/Battlefield.h"
#include "model/Random.h"
#include "model/Seats.h"
#include "render/Canvas.h"

namespace kestrel {

// One step of the whole battle: plan every slot, erase, drive and redraw the
// live tanks, run every shell; then start the next battle if this one is
// over, a win for the seat of a lone survivor.
void FrameTick(Battlefield& bf, Seats& seats, Canvas& canvas, Random& random);

// Respawns slots 0..n for a random n, at least every seat's tank, and
// sometimes clears the canvas.
void StartBattle(Battlefield& bf, Canvas& canvas, Random& random, int seatCount);

}  // namespace kestrel
