// The replay page's side: runs a script in the kestrel-trace format with the
// very code the tool runs, and keeps the picture it ends with for the page
// to show.

#include <emscripten/emscripten.h>

#include <cstdint>
#include <sstream>
#include <string>

#include "render/PixelCanvas.h"
#include "tools/TraceScript.h"

namespace {

kestrel::PixelCanvas picture(1, 1);
std::string errors;

}  // namespace

// Runs the script: 0 when it ran to its end (or an Esc), 2 on a bad line,
// whose reason kestrel_replay_errors then gives.
extern "C" EMSCRIPTEN_KEEPALIVE int kestrel_replay(const char* script) {
    std::ostringstream out, err;
    const int status = kestrel::RunTraceScript(script, out, err, {}, &picture);
    errors = err.str();
    return status;
}

extern "C" EMSCRIPTEN_KEEPALIVE const char* kestrel_replay_errors() { return errors.c_str(); }

// The picture: RGBA bytes, row after row.
extern "C" EMSCRIPTEN_KEEPALIVE const std::uint8_t* kestrel_replay_pixels() { return picture.Bytes(); }
extern "C" EMSCRIPTEN_KEEPALIVE int kestrel_replay_width() { return picture.DeviceWidth(); }
extern "C" EMSCRIPTEN_KEEPALIVE int kestrel_replay_height() { return picture.DeviceHeight(); }
