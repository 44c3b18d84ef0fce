// Replayed battles drawn to the last byte: a hash of the raw pixels of each
// picture is fixed here, so any change to what the game draws, or to how a
// shape becomes pixels, shows up on every machine alike (no Qt involved).
// After a deliberate change, look at the new pictures (kestrel-trace's snap)
// before taking their hashes.

#include <gtest/gtest.h>

#include <cstdint>
#include <sstream>
#include <string>

#include "render/PixelCanvas.h"
#include "trace/TraceScript.h"

namespace kestrel {
namespace {

// FNV-1a over the picture's size and pixel bytes.
std::uint64_t PictureHash(const PixelCanvas& picture) {
    std::uint64_t hash = 14695981039346656037ULL;
    const auto add = [&hash](std::uint8_t byte) { hash = (hash ^ byte) * 1099511628211ULL; };
    for (int side : {picture.DeviceWidth(), picture.DeviceHeight()})
        for (int shift = 0; shift < 32; shift += 8) add(std::uint8_t(side >> shift));
    const std::size_t size = picture.BytesPerLine() * std::size_t(picture.DeviceHeight());
    for (std::size_t i = 0; i < size; ++i) add(picture.Bytes()[i]);
    return hash;
}

std::uint64_t ReplayedPictureHash(const std::string& script) {
    std::ostringstream out, err;
    PixelCanvas picture(1, 1);
    EXPECT_EQ(RunTraceScript(script, out, err, {}, &picture), TRACE_OK) << err.str();
    return PictureHash(picture);
}

TEST(PictureGolden, ReplayedBattlesDrawTheSamePixels) {
    const struct {
        const char* what;
        const char* script;
        std::uint64_t hash;
    } pictures[] = {
        {"the README picture", "seed 293\ntick 160\n", 17661059799835883759ULL},
        {"a drag and an order", "seed 293\ntick 159\ndown 1 279 237\nmove 330 250\nup 1 330 250\ntick\n", 9281927626591375469ULL},
        {"a long battle on a resized field", "seed 2026\nsize 500 700\ntick 450\n", 8749066085031996536ULL},
        {"glyphs cut by every edge", "drawtank 0 0 1 2 0 0 0\ndrawtank 696 548 3 1 0 0 150\n"
                                     "drawtank 300 -270 0.5 0.5 200 0 0\ndrawtank 400 815 2 6 150 150 150\n", 16226768831986554466ULL},
    };
    for (const auto& p : pictures)
        EXPECT_EQ(ReplayedPictureHash(p.script), p.hash) << p.what;
}

}  // namespace
}  // namespace kestrel
