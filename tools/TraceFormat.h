#pragma once
// The replay tool's number and line formats: doubles with 17 significant
// digits, singles widened and printed with 9, so both read back exactly.

#include <string>

#include "model/Battlefield.h"
#include "render/RecordingCanvas.h"

namespace kestrel {

void AppendDouble(std::string& line, double value);
void AppendSingle(std::string& line, float value);
void AppendInt(std::string& line, long long value);

// "circle CX CY RADIUS R G B", "line X1 Y1 X2 Y2 R G B", "lineto X2 Y2 R G B", "clear".
std::string FormatCall(const CanvasCall& call);

// The 104 lines of the whole record, each ending in a newline.
std::string FormatState(const Battlefield& bf);

}  // namespace kestrel
