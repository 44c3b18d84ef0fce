#pragma once
// The replay tool's engine: reads a script of commands, drives the game's own
// simulation through a recording canvas, and prints every canvas call and, on
// request, the whole battlefield.

#include <functional>
#include <iosfwd>
#include <string>
#include <string_view>

#include "render/PixelCanvas.h"

namespace kestrel {

struct TraceLimits {
    // Ticks the whole script may run before it is cut short; negative for no
    // limit. Lets a fuzzer run scripts that would tick for hours.
    long long maxTicks = -1;
};

// Where `snap` puts the picture when not into a PNG file at the path (the
// replay page keeps the PNGs in memory, to offer them as downloads). False
// when it cannot.
using SnapSaver = std::function<bool(const PixelCanvas& picture, const std::string& path)>;

inline constexpr int TRACE_OK = 0;
inline constexpr int TRACE_BAD_SCRIPT = 2;

// Runs the script; returns TRACE_OK, or TRACE_BAD_SCRIPT after printing
// "kestrel-trace: line N: REASON" to err. Given finalPicture, the run keeps
// its picture whatever the script, and leaves it there at the end.
int RunTraceScript(std::string_view script, std::ostream& out, std::ostream& err,
                   const TraceLimits& limits = {}, PixelCanvas* finalPicture = nullptr,
                   const SnapSaver& saveSnap = {});

}  // namespace kestrel
