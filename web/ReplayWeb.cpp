// The replay page's side: runs a script in the kestrel-trace format (a
// recording saved from the window or the page is one) with the very code the
// tool runs, and keeps the picture it ends with for the page to show. Each
// `snap` line's picture is kept as the PNG file the tool would write, for
// the page to offer as a download.

#include <emscripten/emscripten.h>

#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

#include "render/PixelCanvas.h"
#include "trace/PngFile.h"
#include "trace/TraceScript.h"

namespace {

struct Snap {
    std::string name;
    std::vector<std::uint8_t> png;
};

kestrel::PixelCanvas picture(1, 1);
std::string errors;
std::vector<Snap> snaps;

bool KeepSnap(const kestrel::PixelCanvas& shown, const std::string& path) {
    std::vector<std::uint8_t> png = kestrel::EncodePng(shown);
    if (png.empty()) return false;
    snaps.push_back({path, std::move(png)});
    return true;
}

}  // namespace

// Runs the script: 0 when it ran to its end (or an Esc), 2 on a bad line,
// whose reason kestrel_replay_errors then gives. The snaps before a bad
// line are kept.
extern "C" EMSCRIPTEN_KEEPALIVE int kestrel_replay(const char* script) {
    std::ostringstream out, err;
    snaps.clear();
    const int status = kestrel::RunTraceScript(script, out, err, {}, &picture, KeepSnap);
    errors = err.str();
    return status;
}

extern "C" EMSCRIPTEN_KEEPALIVE const char* kestrel_replay_errors() { return errors.c_str(); }

// The picture: RGBA bytes, row after row.
extern "C" EMSCRIPTEN_KEEPALIVE const std::uint8_t* kestrel_replay_pixels() { return picture.Bytes(); }
extern "C" EMSCRIPTEN_KEEPALIVE int kestrel_replay_width() { return picture.DeviceWidth(); }
extern "C" EMSCRIPTEN_KEEPALIVE int kestrel_replay_height() { return picture.DeviceHeight(); }

// The last run's snaps, in order: each one's path as the script gave it,
// and its PNG bytes.
extern "C" EMSCRIPTEN_KEEPALIVE int kestrel_snap_count() { return int(snaps.size()); }
extern "C" EMSCRIPTEN_KEEPALIVE const char* kestrel_snap_name(int i) { return snaps.at(std::size_t(i)).name.c_str(); }
extern "C" EMSCRIPTEN_KEEPALIVE const std::uint8_t* kestrel_snap_bytes(int i) { return snaps.at(std::size_t(i)).png.data(); }
extern "C" EMSCRIPTEN_KEEPALIVE int kestrel_snap_length(int i) { return int(snaps.at(std::size_t(i)).png.size()); }
