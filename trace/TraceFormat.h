#pragma once
// The replay tool's output lines: the canvas calls and the whole record,
// every number written to read back exactly.

#include <string>

#include "model/Battlefield.h"
#include "model/Seats.h"
#include "render/RecordingCanvas.h"
#include "script/ScriptLine.h"

namespace kestrel {

// "circle CX CY RADIUS R G B", "line X1 Y1 X2 Y2 R G B", "lineto X2 Y2 R G B", "clear".
std::string FormatCall(const CanvasCall& call);

// The 104 lines of the whole record, each ending in a newline.
std::string FormatState(const Battlefield& bf);

// "score K KILLS WINS", a line a seat.
std::string FormatScores(const Seats& seats);

}  // namespace kestrel
